// Character-set conversion on Windows for the engine's text codecs (see windows/iconv.h).
// One character at a time, so that a bad byte or a full output buffer stops exactly where
// POSIX iconv would and the caller's recovery works unchanged.

#include <windows.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "iconv.h"

namespace {

enum class From { CodePage, Utf16, Utf8 };
enum class To { Utf8, Ucs2 };

struct Converter {
  From from;
  To to;
  unsigned code_page = 0;
  bool single_byte = true;
  std::array<char32_t, 256> table{};  // single-byte code pages; 0xFFFFFFFF: no character
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (*text == 0 || (*text | 0x20) != (*prefix | 0x20)) return false;
  }
  return true;
}

bool EqualsNoCase(const char* a, const char* b) { return StartsWithNoCase(a, b) && std::strlen(a) == std::strlen(b); }

char32_t FromUtf16Units(const wchar_t* w, int n) {
  if (n == 1) return static_cast<char32_t>(w[0]);
  if (n == 2 && w[0] >= 0xD800 && w[0] < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000)
    return 0x10000 + ((static_cast<char32_t>(w[0]) - 0xD800) << 10) + (static_cast<char32_t>(w[1]) - 0xDC00);
  return kInvalid;
}

// Decodes one character; returns the bytes it took, 0 with errno set otherwise.
std::size_t Decode(const Converter& c, const unsigned char* in, std::size_t left, char32_t* out) {
  switch (c.from) {
    case From::CodePage: {
      if (c.single_byte) {
        *out = c.table[in[0]];
        if (*out == kInvalid) return errno = EILSEQ, 0;
        return 1;
      }
      std::size_t n = IsDBCSLeadByteEx(c.code_page, in[0]) ? 2 : 1;
      if (n > left) return errno = EINVAL, 0;
      wchar_t w[2];
      int got = MultiByteToWideChar(c.code_page, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(in),
                                    static_cast<int>(n), w, 2);
      *out = got > 0 ? FromUtf16Units(w, got) : kInvalid;
      if (*out == kInvalid) return errno = EILSEQ, 0;
      return n;
    }
    case From::Utf16: {
      if (left < 2) return errno = EINVAL, 0;
      char32_t u = in[0] | (in[1] << 8);
      if (u >= 0xDC00 && u < 0xE000) return errno = EILSEQ, 0;
      if (u < 0xD800 || u >= 0xE000) return *out = u, 2;
      if (left < 4) return errno = EINVAL, 0;
      char32_t lo = in[2] | (in[3] << 8);
      if (lo < 0xDC00 || lo >= 0xE000) return errno = EILSEQ, 0;
      *out = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      return 4;
    }
    case From::Utf8: {
      unsigned char b = in[0];
      std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
      if (n == 0) return errno = EILSEQ, 0;
      if (n > left) return errno = EINVAL, 0;
      char32_t u = n == 1 ? b : b & (0x7F >> n);
      for (std::size_t i = 1; i < n; ++i) {
        if ((in[i] & 0xC0) != 0x80) return errno = EILSEQ, 0;
        u = (u << 6) | (in[i] & 0x3F);
      }
      static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (u < kMin[n] || u > 0x10FFFF || (u >= 0xD800 && u < 0xE000)) return errno = EILSEQ, 0;
      *out = u;
      return n;
    }
  }
  return errno = EILSEQ, 0;
}

// Encodes one character; returns the bytes written, 0 with errno set otherwise.
std::size_t Encode(To to, char32_t u, unsigned char* out, std::size_t room) {
  if (to == To::Ucs2) {
    if (u > 0xFFFF) return errno = EILSEQ, 0;
    if (room < 2) return errno = E2BIG, 0;
    out[0] = static_cast<unsigned char>(u);
    out[1] = static_cast<unsigned char>(u >> 8);
    return 2;
  }
  std::size_t n = u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : 4;
  if (room < n) return errno = E2BIG, 0;
  if (n == 1) {
    out[0] = static_cast<unsigned char>(u);
    return 1;
  }
  for (std::size_t i = n - 1; i > 0; --i) {
    out[i] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    u >>= 6;
  }
  out[0] = static_cast<unsigned char>(((0xFF00 >> n) & 0xFF) | u);
  return n;
}

}  // namespace

iconv_t iconv_open(const char* to_code, const char* from_code) {
  auto c = std::make_unique<Converter>();
  if (EqualsNoCase(to_code, "UTF-8")) {
    c->to = To::Utf8;
  } else if (EqualsNoCase(to_code, "UCS-2LE") || EqualsNoCase(to_code, "UTF-16LE")) {
    c->to = To::Ucs2;
  } else {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  if (EqualsNoCase(from_code, "UTF-8")) {
    c->from = From::Utf8;
  } else if (EqualsNoCase(from_code, "UTF-16LE")) {
    c->from = From::Utf16;
  } else if (StartsWithNoCase(from_code, "CP") && from_code[2] != 0) {
    char* end = nullptr;
    unsigned long cp = std::strtoul(from_code + 2, &end, 10);
    CPINFO info{};
    if (*end != 0 || cp == 0 || cp > 65535 || !IsValidCodePage(cp) || !GetCPInfo(cp, &info)) {
      errno = EINVAL;
      return reinterpret_cast<iconv_t>(-1);
    }
    c->from = From::CodePage;
    c->code_page = static_cast<unsigned>(cp);
    c->single_byte = info.MaxCharSize == 1;
    if (c->single_byte) {
      for (int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b);
        wchar_t w[2];
        int got = MultiByteToWideChar(c->code_page, MB_ERR_INVALID_CHARS, &byte, 1, w, 2);
        c->table[b] = got > 0 ? FromUtf16Units(w, got) : kInvalid;
      }
    }
  } else {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  return c.release();
}

std::size_t iconv(iconv_t cd, char** inbuf, std::size_t* inbytesleft, char** outbuf, std::size_t* outbytesleft) {
  if (inbuf == nullptr || *inbuf == nullptr) return 0;  // no shift state to reset
  const auto& c = *static_cast<const Converter*>(cd);
  while (*inbytesleft > 0) {
    char32_t u = 0;
    std::size_t took = Decode(c, reinterpret_cast<const unsigned char*>(*inbuf), *inbytesleft, &u);
    if (took == 0) return static_cast<std::size_t>(-1);
    std::size_t put = Encode(c.to, u, reinterpret_cast<unsigned char*>(*outbuf), *outbytesleft);
    if (put == 0) return static_cast<std::size_t>(-1);
    *inbuf += took;
    *inbytesleft -= took;
    *outbuf += put;
    *outbytesleft -= put;
  }
  return 0;
}

int iconv_close(iconv_t cd) {
  if (cd != reinterpret_cast<iconv_t>(-1)) delete static_cast<Converter*>(cd);
  return 0;
}
