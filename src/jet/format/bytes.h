#pragma once
// The byte codec of the file format: bounds-checked little-endian reads of page bytes
// (ByteView) and, beside them, the writes that put numbers into bytes in the same layout.
// Every structure in a Jet file is read through ByteView, so that a damaged length or
// offset ends in an error rather than a read past the buffer; every structure is written
// through the Put functions, whose caller has sized the buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "jet/error.h"

namespace jet {

// A damaged structure found below the level that knows the file's name; the database
// layer adds the file to the description.
class FormatError : public Error {
 public:
  explicit FormatError(const std::string& what) : Error(ErrorCode::Corrupt, what) {}
};

[[noreturn]] inline void ThrowCorrupt(const std::string& what) { throw FormatError(what); }

class ByteView {
 public:
  ByteView() = default;
  ByteView(const std::uint8_t* data, std::size_t size, const char* label = "record")
      : data_(data), size_(size), label_(label) {}
  explicit ByteView(std::string_view s, const char* label = "record")
      : data_(reinterpret_cast<const std::uint8_t*>(s.data())), size_(s.size()), label_(label) {}
  explicit ByteView(const std::vector<std::uint8_t>& v, const char* label = "page")
      : data_(v.data()), size_(v.size()), label_(label) {}

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const char* label() const { return label_; }

  void Need(std::size_t off, std::size_t n) const {
    if (off > size_ || n > size_ - off) [[unlikely]]
      Short(off, n);
  }
  std::uint8_t U8(std::size_t off) const { Need(off, 1); return data_[off]; }
  std::uint16_t U16(std::size_t off) const {
    Need(off, 2);
    return static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  std::uint32_t U32(std::size_t off) const {
    Need(off, 4);
    return static_cast<std::uint32_t>(data_[off]) | (static_cast<std::uint32_t>(data_[off + 1]) << 8) |
           (static_cast<std::uint32_t>(data_[off + 2]) << 16) | (static_cast<std::uint32_t>(data_[off + 3]) << 24);
  }
  std::uint64_t U64(std::size_t off) const {
    return static_cast<std::uint64_t>(U32(off)) | (static_cast<std::uint64_t>(U32(off + 4)) << 32);
  }
  // Index entries keep page pointers most significant byte first.
  std::uint32_t BigU32(std::size_t off) const {
    Need(off, 4);
    return (static_cast<std::uint32_t>(data_[off]) << 24) | (static_cast<std::uint32_t>(data_[off + 1]) << 16) |
           (static_cast<std::uint32_t>(data_[off + 2]) << 8) | data_[off + 3];
  }
  double F64(std::size_t off) const {
    std::uint64_t bits = U64(off);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  float F32(std::size_t off) const {
    std::uint32_t bits = U32(off);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  ByteView Sub(std::size_t off, std::size_t n) const {
    Need(off, n);
    return ByteView(data_ + off, n, label_);
  }
  ByteView From(std::size_t off) const {
    Need(off, 0);
    return ByteView(data_ + off, size_ - off, label_);
  }
  std::string Str() const { return std::string(reinterpret_cast<const char*>(data_), size_); }

 private:
  // Out of line, so that the checks themselves stay small enough to inline.
  [[noreturn, gnu::noinline, gnu::cold]] void Short(std::size_t off, std::size_t n) const {
    ThrowCorrupt(std::string("a ") + label_ + " is shorter than its contents claim (" + std::to_string(off + n) +
                 " bytes needed, " + std::to_string(size_) + " present)");
  }

  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  const char* label_ = "record";
};

inline void Put8(std::uint8_t* p, std::uint8_t v) { p[0] = v; }
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, static_cast<std::uint16_t>(v));
  Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
  Put32(p, static_cast<std::uint32_t>(v));
  Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void PutF32(std::uint8_t* p, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Put32(p, bits);
}
inline void PutF64(std::uint8_t* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Put64(p, bits);
}
// Index entries keep page pointers, and index keys their numbers, most significant byte
// first: the low `n` bytes of `v`.
inline void PutBig(std::uint8_t* p, std::uint64_t v, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - k)));
}
inline void PutBigU24(std::uint8_t* p, std::uint32_t v) { PutBig(p, v, 3); }
inline void PutBigU32(std::uint8_t* p, std::uint32_t v) { PutBig(p, v, 4); }

}  // namespace jet
