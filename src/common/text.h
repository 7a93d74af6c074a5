#pragma once
// Small text helpers the job's units share.

#include <string>
#include <string_view>

namespace scourex {

// Without leading and trailing spaces (only the space character, as the product's own
// Trim did).
std::string TrimSpaces(std::string_view s);

// ASCII letters in lower case; other bytes as they are.
std::string LowerAscii(std::string s);

}  // namespace scourex
