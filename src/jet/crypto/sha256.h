#pragma once
// SHA-256 from the system's cryptography: nettle on Linux, CNG (BCrypt) on Windows.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace jet::crypto {

class Sha256 {
 public:
  static constexpr std::size_t kDigestSize = 32;
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t n);
  // The first `n` (at most kDigestSize) bytes of the digest; the object is spent then.
  void Final(std::uint8_t* out, std::size_t n);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace jet::crypto
