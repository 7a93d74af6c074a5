#include "jet/format/text.h"

#include <iconv.h>

#include <cerrno>

namespace jet {
namespace {

const iconv_t kNoConversion = reinterpret_cast<iconv_t>(-1);

void* OpenConversion(const std::string& from) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  return cd == kNoConversion ? nullptr : cd;
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

std::string TextCodec::FromUtf16(ByteView bytes) {
  if (bytes.size() % 2 != 0) bytes = bytes.Sub(0, bytes.size() - 1);
  return Convert(from_utf16_, bytes, 2);
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
  if (bytes.size() >= 2 && bytes.data()[0] == 0xFF && bytes.data()[1] == 0xFE) {
    std::string units = Decompress(bytes.From(2));
    return FromUtf16(ByteView(units));
  }
  return FromUtf16(bytes);
}

}  // namespace jet
