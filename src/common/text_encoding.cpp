#include "common/text_encoding.h"

#include <cstdint>

namespace scourex {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes the sequence at `pos` and moves past it; a malformed one yields nothing and
// moves one byte on.
bool NextUtf8(std::string_view s, size_t& pos, char32_t& out) {
  const auto byte = [&](size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t lead = byte(pos);
  size_t length;
  char32_t c;
  if (lead < 0x80) {
    out = lead;
    ++pos;
    return true;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07;
  } else {
    ++pos;
    return false;
  }
  if (pos + length > s.size()) {
    ++pos;
    return false;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) {
      ++pos;
      return false;
    }
    c = (c << 6) | (byte(pos + i) & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
  if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
    ++pos;
    return false;
  }
  pos += length;
  out = c;
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  size_t pos = 0;
  char32_t c;
  while (pos < bytes.size()) {
    if (!NextUtf8(bytes, pos, c)) return false;
  }
  return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char b : bytes) {
    const auto value = static_cast<std::uint8_t>(b);
    AppendUtf8(out, value >= 0x80 && value < 0xA0 ? kHighControls[value - 0x80] : value);
  }
  return out;
}

std::optional<std::string> DecodeOptionsText(std::string_view bytes, LegacyDecoder legacy) {
  const bool little = bytes.substr(0, 2) == "\xFF\xFE";
  if (little || bytes.substr(0, 2) == "\xFE\xFF") {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto first = static_cast<std::uint8_t>(bytes[i]);
      const auto second = static_cast<std::uint8_t>(bytes[i + 1]);
      units += static_cast<char16_t>(little ? first | (second << 8) : (first << 8) | second);
    }
    if (bytes.size() % 2 != 0) units += static_cast<char16_t>(kReplacement);  // half a character at the end
    return Utf16ToUtf8(units);
  }
  const bool marked = bytes.substr(0, 3) == "\xEF\xBB\xBF";
  if (marked) {
    bytes.remove_prefix(3);
  } else if (bytes.find('\0') != std::string_view::npos) {
    return std::nullopt;  // UTF-16 or a binary file, without a mark to tell which
  }
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return legacy(bytes);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t c;
    if (!NextUtf8(text, pos, c)) c = kReplacement;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 | (c >> 10));
      out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace scourex
