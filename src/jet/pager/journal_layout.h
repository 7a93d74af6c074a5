#pragma once
// The rollback journal's bytes, shared by its writer and its playback (journal.h tells the
// layout and why). Besides the layout written today, playback knows the one before it,
// so that a journal left by a run of the previous release is still undone.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "jet/crypto/fast_hash.h"
#include "jet/crypto/sha256.h"
#include "jet/format/bytes.h"
#include "jet/pager/journal.h"

namespace jet::journal {

constexpr std::uint8_t kMagic[8] = {'S', 'c', 'x', 'J', 'e', 't', 'J', 0x01};
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kHeaderSummed = 56;
constexpr std::size_t kChecksumSize = 8;
constexpr std::size_t kSector = 512;  // the smallest unit a disk writes whole
constexpr std::uint32_t kOriginal = 0;
constexpr std::uint32_t kWritten = 1;

inline std::uint64_t Load64(const std::uint8_t* p) { return ByteView(p, 8).U64(0); }
inline std::uint32_t Load32(const std::uint8_t* p) { return ByteView(p, 4).U32(0); }

// What differs between the layouts.
struct Layout {
  std::uint32_t version;
  std::size_t second_header;  // offset of the second header copy
  std::size_t records_start;
  std::size_t sector;  // a written version's record holds one checksum per sector; 0: the page
  std::uint64_t (*sum)(std::uint64_t nonce, const std::uint8_t* p, std::size_t n);

  std::size_t Sectors(std::uint32_t page_size) const { return sector == 0 ? 1 : page_size / sector; }
  std::size_t SectorBytes(std::uint32_t page_size) const { return sector == 0 ? page_size : sector; }
  std::size_t WrittenBody(std::uint32_t page_size) const { return Sectors(page_size) * kChecksumSize; }
};

inline std::uint64_t FastSum(std::uint64_t nonce, const std::uint8_t* p, std::size_t n) {
  return crypto::FastHash64(p, n, nonce);
}

// The previous layout's checksum: SHA-256 of the nonce and the bytes, its first 8 bytes.
inline std::uint64_t ShaSum(std::uint64_t nonce, const std::uint8_t* p, std::size_t n) {
  crypto::Sha256 hash;
  std::uint8_t prefix[8], out[kChecksumSize];
  Put64(prefix, nonce);
  hash.Update(prefix, sizeof prefix);
  hash.Update(p, n);
  hash.Final(out, sizeof out);
  return Load64(out);
}

// Today's layout: header copies in different 512- and 4096-byte sectors, a checksum per
// 512-byte sector of every version written.
constexpr Layout kCurrent{3, 4096, 8192, kSector, &FastSum};
// The previous one: both copies in the first sector, one SHA-256 checksum per version.
constexpr Layout kPrevious{2, 64, 512, 0, &ShaSum};
static_assert(JournalWriter::kCreatedSize == kCurrent.records_start);

struct HeaderCopy {
  const Layout* layout = nullptr;  // null: not a valid copy
  bool foreign = false;            // intact, but of a layout this program does not know
  std::uint32_t page_size = 0;
  std::uint64_t original_size = 0;
  std::uint64_t nonce = 0;
  std::uint64_t sequence = 0;
  std::uint64_t records = 0;
  std::uint64_t size_after = 0;
  bool valid() const { return layout != nullptr; }
};

// Fills in the 64 bytes of a header copy of today's layout.
inline void FormatHeader(std::uint8_t* h, const HeaderCopy& c) {
  std::memset(h, 0, kHeaderSize);
  std::memcpy(h, kMagic, sizeof kMagic);
  Put32(h + 8, kCurrent.version);
  Put32(h + 12, c.page_size);
  Put64(h + 16, c.original_size);
  Put64(h + 24, c.nonce);
  Put64(h + 32, c.sequence);
  Put64(h + 40, c.records);
  Put64(h + 48, c.size_after);
  Put64(h + kHeaderSummed, kCurrent.sum(0, h, kHeaderSummed));
}

// The header copy in the 64 bytes at `h`, read as of `layout`.
inline HeaderCopy ParseHeader(const std::uint8_t* h, const Layout& layout) {
  HeaderCopy c;
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) return c;
  if (layout.sum(0, h, kHeaderSummed) != Load64(h + kHeaderSummed)) {
    // The first layout summed 48 bytes with SHA-256; its journals must not be taken for
    // unfinished ones.
    c.foreign = layout.version == kPrevious.version && ShaSum(0, h, 48) == Load64(h + 48);
    return c;
  }
  if (Load32(h + 8) != layout.version) {
    c.foreign = Load32(h + 8) > kCurrent.version;
    return c;
  }
  c.page_size = Load32(h + 12);
  c.original_size = Load64(h + 16);
  c.nonce = Load64(h + 24);
  c.sequence = Load64(h + 32);
  c.records = Load64(h + 40);
  c.size_after = Load64(h + 48);
  if (c.sequence != 0 && (c.page_size == 2048 || c.page_size == 4096)) c.layout = &layout;
  return c;
}

}  // namespace jet::journal
