#include "jet/crypto/fast_hash.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace jet::crypto {

#ifdef SCOUREX_HASH_AVX2
std::uint64_t LongHashAvx2(const void* data, std::size_t n, const void* secret, std::uint64_t seed);
#endif

namespace {

using LongHash = std::uint64_t (*)(const void* data, std::size_t n, const void* secret, std::uint64_t seed);

std::uint64_t LongHashSse2(const void* data, std::size_t n, const void* secret, std::uint64_t seed) {
  return XXH3_64bits_withSecretandSeed(data, n, secret, XXH3_SECRET_DEFAULT_SIZE, seed);
}

LongHash ChooseLongHash() {
#ifdef SCOUREX_HASH_AVX2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return &LongHashAvx2;
#endif
  return &LongHashSse2;
}

}  // namespace

std::uint64_t FastHash64(const void* data, std::size_t n, std::uint64_t seed) {
  return XXH3_64bits_withSeed(data, n, seed);
}

FastHasher::FastHasher(std::uint64_t seed) : seed_(seed) {
  static_assert(sizeof secret_ == XXH3_SECRET_DEFAULT_SIZE);
  XXH3_generateSecret_fromSeed(secret_, seed);
}

std::uint64_t FastHasher::operator()(const void* data, std::size_t n) const {
  // With a secret made from the seed, XXH3 gives what it gives with the seed alone.
  if (n <= XXH3_MIDSIZE_MAX) return XXH3_64bits_withSeed(data, n, seed_);
  static const LongHash long_hash = ChooseLongHash();
  return long_hash(data, n, secret_, seed_);
}

}  // namespace jet::crypto
