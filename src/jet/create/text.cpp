#include "jet/create/text.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

#include "jet/error.h"

namespace jet::create {
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

}  // namespace jet::create
