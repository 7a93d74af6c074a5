#pragma once
// Bounds-checked little-endian access to page bytes. Every structure in a Jet file is read
// through this, so that a damaged length or offset ends in an error rather than a read
// past the buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

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

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const char* label() const { return label_; }

  void Need(std::size_t off, std::size_t n) const {
    if (off > size_ || n > size_ - off)
      ThrowCorrupt(std::string("a ") + label_ + " is shorter than its contents claim (" + std::to_string(off + n) +
                   " bytes needed, " + std::to_string(size_) + " present)");
  }
  std::uint8_t U8(std::size_t off) const { Need(off, 1); return data_[off]; }
  std::uint16_t U16(std::size_t off) const {
    Need(off, 2);
    return static_cast<std::uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  std::uint32_t U24(std::size_t off) const {
    Need(off, 3);
    return static_cast<std::uint32_t>(data_[off]) | (static_cast<std::uint32_t>(data_[off + 1]) << 8) |
           (static_cast<std::uint32_t>(data_[off + 2]) << 16);
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
  std::uint32_t BigU24(std::size_t off) const {
    Need(off, 3);
    return (static_cast<std::uint32_t>(data_[off]) << 16) | (static_cast<std::uint32_t>(data_[off + 1]) << 8) |
           data_[off + 2];
  }
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
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  const char* label_ = "record";
};

}  // namespace jet
