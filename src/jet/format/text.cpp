#include "jet/format/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "jet/error.h"

namespace jet {
namespace {

const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);

void* OpenConversion(const std::string& from) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  return cd == kNoConversion ? nullptr : cd;
}

bool Surrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// Appends a UTF-16 unit that is no surrogate as UTF-8.
void AppendUtf8(std::string& out, unsigned unit) {
  if (unit < 0x80) {
    out.push_back(static_cast<char>(unit));
  } else if (unit < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
    out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
  }
}

}  // namespace

TextCodec::TextCodec(std::uint16_t code_page) : code_page_(code_page == 0 ? 1252 : code_page) {
  from_code_page_ = OpenConversion("CP" + std::to_string(code_page_));
  if (from_code_page_ == nullptr) {
    code_page_ = 1252;
    from_code_page_ = OpenConversion("CP1252");
  }
  from_utf16_ = OpenConversion("UTF-16LE");
  if (from_code_page_ == nullptr || from_utf16_ == nullptr)
    throw Error(ErrorCode::Io, "The text conversions of the C library (iconv) are not available");
}

TextCodec::~TextCodec() {
  iconv_close(static_cast<iconv_t>(from_code_page_));
  iconv_close(static_cast<iconv_t>(from_utf16_));
}

std::string TextCodec::Convert(void* handle, ByteView bytes, std::size_t unit) {
  auto cd = static_cast<iconv_t>(handle);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  out.resize(bytes.size() * 3 / unit + 16);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
  std::size_t in_left = bytes.size();
  std::size_t used = 0;
  while (in_left > 0) {
    char* dst = out.data() + used;
    std::size_t dst_left = out.size() - used;
    std::size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    used = out.size() - dst_left;
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2 + 16);
      continue;
    }
    // A byte sequence that is no character: mark it and go on with the rest.
    out.resize(std::max(out.size(), used + 3));
    out.replace(used, 3, "\xEF\xBF\xBD");
    used += 3;
    std::size_t skip = std::min(in_left, unit);
    in += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(used);
  return out;
}

std::string TextCodec::FromCodePage(ByteView bytes) { return Convert(from_code_page_, bytes, 1); }

// Text without surrogates (all but characters beyond the first 65 536) is converted here,
// byte for byte as the C library converts it; the rest goes to the C library.
std::string TextCodec::FromUtf16(ByteView bytes) {
  if (bytes.size() % 2 != 0) bytes = bytes.Sub(0, bytes.size() - 1);
  std::string out;
  out.reserve(bytes.size());
  const std::uint8_t* p = bytes.data();
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned unit = p[i] | (static_cast<unsigned>(p[i + 1]) << 8);
    if (Surrogate(unit)) return Convert(from_utf16_, bytes, 2);
    AppendUtf8(out, unit);
  }
  return out;
}

std::string TextCodec::Decompress(ByteView bytes) {
  std::string units;
  units.reserve(bytes.size() * 2);
  bool compressed = true;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::uint8_t b = bytes.data()[i];
    if (b == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      units.push_back(static_cast<char>(b));
      units.push_back('\0');
      ++i;
    } else {
      if (i + 1 >= bytes.size()) break;
      units.push_back(static_cast<char>(b));
      units.push_back(static_cast<char>(bytes.data()[i + 1]));
      i += 2;
    }
  }
  return units;
}

std::string TextCodec::FromJet4(ByteView bytes) {
  if (bytes.size() < 2 || bytes.data()[0] != 0xFF || bytes.data()[1] != 0xFE) return FromUtf16(bytes);
  // Compressed text, decompressed and converted in one pass (as Decompress reads it).
  const ByteView packed = bytes.From(2);
  const std::uint8_t* p = packed.data();
  std::string out;
  out.reserve(packed.size());
  bool compressed = true;
  std::size_t i = 0;
  while (i < packed.size()) {
    const std::uint8_t b = p[i];
    if (b == 0) {
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      AppendUtf8(out, b);
      ++i;
    } else {
      if (i + 1 >= packed.size()) break;
      const unsigned unit = b | (static_cast<unsigned>(p[i + 1]) << 8);
      if (Surrogate(unit)) {
        const std::string units = Decompress(packed);
        return FromUtf16(ByteView(units));
      }
      AppendUtf8(out, unit);
      i += 2;
    }
  }
  return out;
}

}  // namespace jet

// Writing: UTF-8 in, Jet 4 text out.

namespace jet {
namespace {

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// One converter per thread: opening iconv for every value would dominate bulk writes.
iconv_t Utf8ToUcs2Converter() {
  thread_local std::unique_ptr<void, IconvCloser> cd;
  if (!cd) {
    iconv_t opened = iconv_open("UCS-2LE", "UTF-8");
    if (opened == reinterpret_cast<iconv_t>(-1)) {
      throw Error(ErrorCode::Unsupported, "The system cannot convert UTF-8 text to UCS-2 (iconv)");
    }
    cd.reset(opened);
  }
  return static_cast<iconv_t>(cd.get());
}

}  // namespace

std::u16string ToUcs2(std::string_view utf8, const std::string& what) {
  std::u16string out;
  if (utf8.empty()) return out;
  bool ascii = true;
  for (char c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    out.reserve(utf8.size());
    for (char c : utf8) out.push_back(static_cast<char16_t>(c));
    return out;
  }
  iconv_t cd = Utf8ToUcs2Converter();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string bytes(utf8.size() * 2 + 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* outp = bytes.data();
  std::size_t out_left = bytes.size();
  if (iconv(cd, &in, &in_left, &outp, &out_left) == static_cast<std::size_t>(-1) || in_left != 0) {
    throw Error(ErrorCode::TypeMismatch,
                what + ": the text is not valid UTF-8 or holds a character Jet cannot store (outside UCS-2)");
  }
  std::size_t n = (bytes.size() - out_left) / 2;
  out.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::string Ucs2Bytes(const std::u16string& text) {
  std::string out(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<char>(text[i] & 0xff);
    out[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return out;
}

std::string StoreText(const std::u16string& text, bool compress) {
  if (compress && text.size() > 2) {
    bool narrow = true;
    for (char16_t c : text) {
      if (c == 0 || c > 0xff) {
        narrow = false;
        break;
      }
    }
    if (narrow) {
      std::string out;
      out.reserve(text.size() + 2);
      out.push_back(static_cast<char>(0xff));
      out.push_back(static_cast<char>(0xfe));
      for (char16_t c : text) out.push_back(static_cast<char>(c));
      return out;
    }
  }
  return Ucs2Bytes(text);
}

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = FoldAscii(c);
  return out;
}

int CompareFolded(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t k = 0; k < n; ++k) {
    auto x = static_cast<unsigned char>(FoldAscii(a[k]));
    auto y = static_cast<unsigned char>(FoldAscii(b[k]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string KeyText(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0 && s[end - 1] == ' ') --end;
  return FoldCase(s.substr(0, end));
}

}  // namespace jet
