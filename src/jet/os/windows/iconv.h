#pragma once
// The C library's character-set conversion as the engine uses it, for Windows, where the
// C runtime has none: Windows code pages ("CP<n>") and UTF-16LE to UTF-8, and UTF-8 to
// UCS-2LE. Same calling convention and errno values as POSIX iconv.

#include <cstddef>

using iconv_t = void*;

iconv_t iconv_open(const char* to_code, const char* from_code);
std::size_t iconv(iconv_t cd, char** inbuf, std::size_t* inbytesleft, char** outbuf, std::size_t* outbytesleft);
int iconv_close(iconv_t cd);
