#include "jet/crypto/fast_hash.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace jet::crypto {

std::uint64_t FastHash64(const void* data, std::size_t n, std::uint64_t seed) {
  return XXH3_64bits_withSeed(data, n, seed);
}

}  // namespace jet::crypto
