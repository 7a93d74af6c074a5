#pragma once
// The job holds every text as UTF-8. Texts cross into it from options files written on
// Windows sites (UTF-8 or Windows-1252) and cross out of it to ODBC's wide interface
// (UTF-16 on unixODBC and on Windows alike).

#include <string>
#include <string_view>

namespace scourex {

bool IsValidUtf8(std::string_view bytes);

// Every byte as its Windows-1252 character; the five bytes that code page leaves
// unassigned become the C1 controls of the same value, as Windows itself maps them.
std::string Windows1252ToUtf8(std::string_view bytes);

// An options file's bytes as text: UTF-8 when the whole file is valid UTF-8 (a leading
// byte-order mark is dropped), else Windows-1252, the code page of the Windows sites
// these files come from.
std::string DecodeOptionsText(std::string_view bytes);

// Conversions for the wide interface. Malformed input (a stray byte, an unpaired
// surrogate) becomes U+FFFD rather than failing: these carry messages and commands.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace scourex
