#pragma once
// A fast 64-bit hash that is not cryptographic (XXH3 from the xxHash library): for
// recognising versions of bytes and finding damage, where nobody forges the input. The
// library is used header-only, so that no build links it: fast_hash.cpp includes it, and
// on x86-64 fast_hash_avx2.cpp too, built for AVX2 and used where the processor has it
// (the results are the same either way).

#include <cstddef>
#include <cstdint>

namespace jet::crypto {

std::uint64_t FastHash64(const void* data, std::size_t n, std::uint64_t seed);

// FastHash64 with one seed for many inputs: what the seed adds to inputs longer than a
// few hundred bytes is worked out once, here.
class FastHasher {
 public:
  explicit FastHasher(std::uint64_t seed);
  std::uint64_t operator()(const void* data, std::size_t n) const;

 private:
  std::uint64_t seed_;
  unsigned char secret_[192];
};

}  // namespace jet::crypto
