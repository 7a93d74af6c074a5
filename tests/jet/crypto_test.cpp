// The engine's ciphers against published vectors: RC4 (RFC 6229) and SHA-256 (FIPS 180-2).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "jet/crypto/rc4.h"
#include "jet/crypto/sha256.h"

namespace jet::crypto {
namespace {

std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

// The key stream at `offset`, 16 bytes, drawn in uneven pieces to cover the state carried
// between calls.
std::string KeyStream(const std::vector<std::uint8_t>& key, std::size_t offset) {
  Rc4 rc4(key.data(), key.size());
  std::vector<std::uint8_t> bytes(offset + 16, 0);
  std::size_t done = 0;
  for (std::size_t piece = 1; done < bytes.size(); piece = piece * 3 + 1) {
    std::size_t n = std::min(piece, bytes.size() - done);
    rc4.Crypt(bytes.data() + done, n);
    done += n;
  }
  return Hex(bytes.data() + offset, 16);
}

TEST(Rc4, MatchesRfc6229) {
  const std::vector<std::uint8_t> key40 = {1, 2, 3, 4, 5};
  EXPECT_EQ(KeyStream(key40, 0), "b2396305f03dc027ccc3524a0a1118a8");
  EXPECT_EQ(KeyStream(key40, 16), "6982944f18fc82d589c403a47a0d0919");
  const std::vector<std::uint8_t> key64 = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(KeyStream(key64, 0), "97ab8a1bf0afb96132f2f67258da15a8");

  // Decrypting is encrypting again.
  std::uint8_t data[5] = {'J', 'e', 't', '4', 0};
  Rc4Crypt(key40.data(), key40.size(), data, sizeof data);
  EXPECT_NE(std::string(reinterpret_cast<char*>(data), 4), "Jet4");
  Rc4Crypt(key40.data(), key40.size(), data, sizeof data);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "Jet4");
}

TEST(Sha256, MatchesPublishedDigests) {
  auto digest = [](const std::vector<std::string>& pieces, std::size_t n = Sha256::kDigestSize) {
    Sha256 hash;
    for (const auto& p : pieces) hash.Update(p.data(), p.size());
    std::uint8_t out[Sha256::kDigestSize];
    hash.Final(out, n);
    return Hex(out, n);
  };
  EXPECT_EQ(digest({"abc"}), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest({"abcdbcdecdefdefgefghfghighij", "hijkijkljklmklmnlmnomnopnopq"}),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digest({""}, 8), "e3b0c44298fc1c14");
}

}  // namespace
}  // namespace jet::crypto
