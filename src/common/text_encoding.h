#pragma once
// The job holds every text as UTF-8. Texts cross into it from options files written on
// Windows sites (UTF-8 or Windows-1252) and cross out of it to ODBC's wide interface
// (UTF-16 on unixODBC and on Windows alike).

#include <optional>
#include <string>
#include <string_view>

namespace scourex {

bool IsValidUtf8(std::string_view bytes);

// Every byte as its Windows-1252 character; the five bytes that code page leaves
// unassigned become the C1 controls of the same value, as Windows itself maps them.
std::string Windows1252ToUtf8(std::string_view bytes);

// An options file's bytes as text, in every form Notepad and PowerShell save: after a
// UTF-16 byte-order mark (little- or big-endian) UTF-16; after a UTF-8 mark, which is
// dropped, and without a mark, UTF-8 when the rest is valid UTF-8, else the code page of
// the Windows site the file came from, which `legacy` turns into UTF-8. Nothing when the
// bytes cannot be text in any of these: NUL bytes without a mark.
using LegacyDecoder = std::string (*)(std::string_view bytes);
std::optional<std::string> DecodeOptionsText(std::string_view bytes, LegacyDecoder legacy = Windows1252ToUtf8);

// Conversions for the wide interface. Malformed input (a stray byte, an unpaired
// surrogate) becomes U+FFFD rather than failing: these carry messages and commands.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace scourex
