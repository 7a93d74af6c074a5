// XXH3 over inputs longer than XXH3_MIDSIZE_MAX, built for AVX2 (see CMakeLists.txt);
// called only where the processor has it. Nothing else belongs in this file: all of it
// may use AVX2 instructions.

#include <cstddef>
#include <cstdint>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace jet::crypto {

std::uint64_t LongHashAvx2(const void* data, std::size_t n, const void* secret, std::uint64_t seed) {
  return XXH3_64bits_withSecretandSeed(data, n, secret, XXH3_SECRET_DEFAULT_SIZE, seed);
}

}  // namespace jet::crypto
