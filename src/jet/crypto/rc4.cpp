#include "jet/crypto/rc4.h"

#include <utility>

namespace jet::crypto {

Rc4::Rc4(const std::uint8_t* key, std::size_t key_size) {
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<std::uint8_t>(k);
  std::uint8_t j = 0;
  for (std::size_t k = 0; k < 256; ++k) {
    j = static_cast<std::uint8_t>(j + s_[k] + (key_size ? key[k % key_size] : 0));
    std::swap(s_[k], s_[j]);
  }
}

void Rc4::Crypt(std::uint8_t* data, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    i_ = static_cast<std::uint8_t>(i_ + 1);
    j_ = static_cast<std::uint8_t>(j_ + s_[i_]);
    std::swap(s_[i_], s_[j_]);
    data[k] ^= s_[static_cast<std::uint8_t>(s_[i_] + s_[j_])];
  }
}

}  // namespace jet::crypto
