// SHA-256 (the rollback journal's checksums) against the digests of FIPS 180-2, fed in
// pieces and cut short as the journal does. RC4 needs no vectors of its own: every
// fixture's header is decoded with it.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "jet/crypto/sha256.h"

namespace jet::crypto {
namespace {

TEST(Sha256, MatchesPublishedDigests) {
  auto digest = [](const std::vector<std::string>& pieces, std::size_t n = Sha256::kDigestSize) {
    Sha256 hash;
    for (const auto& p : pieces) hash.Update(p.data(), p.size());
    std::uint8_t out[Sha256::kDigestSize];
    hash.Final(out, n);
    std::string hex;
    for (std::size_t i = 0; i < n; ++i) hex += {"0123456789abcdef"[out[i] >> 4], "0123456789abcdef"[out[i] & 15]};
    return hex;
  };
  EXPECT_EQ(digest({"abc"}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest({"abcdbcdecdefdefgefghfghighij", "hijkijkljklmklmnlmnomnopnopq"}),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digest({""}, 8), "e3b0c44298fc1c14");
}

}  // namespace
}  // namespace jet::crypto
