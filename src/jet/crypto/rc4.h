#pragma once
// RC4, the stream cipher of Jet's header and page encryption. Kept here rather than taken
// from the system: Jet needs it on every platform and not every system library offers it.

#include <cstddef>
#include <cstdint>

namespace jet::crypto {

class Rc4 {
 public:
  Rc4(const std::uint8_t* key, std::size_t key_size);
  // XORs the next `n` bytes of the key stream into `data`.
  void Crypt(std::uint8_t* data, std::size_t n);

 private:
  std::uint8_t s_[256];
  std::uint8_t i_ = 0, j_ = 0;
};

// `data` encrypted (or decrypted) in place with a fresh key stream from `key`.
inline void Rc4Crypt(const std::uint8_t* key, std::size_t key_size, std::uint8_t* data, std::size_t n) {
  Rc4(key, key_size).Crypt(data, n);
}

}  // namespace jet::crypto
