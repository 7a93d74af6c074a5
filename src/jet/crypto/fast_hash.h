#pragma once
// A fast 64-bit hash that is not cryptographic (XXH3 from the xxHash library): for
// recognising versions of bytes and finding damage, where nobody forges the input. This
// is the only place that includes the library, header-only, so that no build links it.

#include <cstddef>
#include <cstdint>

namespace jet::crypto {

std::uint64_t FastHash64(const void* data, std::size_t n, std::uint64_t seed);

}  // namespace jet::crypto
