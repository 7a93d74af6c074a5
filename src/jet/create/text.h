#pragma once
// Text as Jet 4 stores it: UCS-2 little endian, optionally in the compressed form that
// starts with FF FE and keeps one byte per character while the high bytes are zero.

#include <string>
#include <string_view>

namespace jet::create {

// UTF-8 to UCS-2 code units. Throws jet::Error (TypeMismatch) naming `what` when the text
// is not valid UTF-8 or holds characters outside the basic multilingual plane.
std::u16string ToUcs2(std::string_view utf8, const std::string& what);

// The stored bytes: plain UCS-2 LE, or the compressed form when `compress` is set and it
// is shorter. Only text whose characters all lie below U+0100 (and are not NUL) takes the
// compressed form, so no mode switches are ever written.
std::string StoreText(const std::u16string& text, bool compress);

// Plain UCS-2 LE bytes (names in table definitions, the header password).
std::string Ucs2Bytes(const std::u16string& text);

}  // namespace jet::create
