#pragma once
// Fixed facts of the Jet 4 file layout that the writer's units share: page size, page
// types, where things sit in a page, and little helpers to put numbers into bytes.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jet::create {

inline constexpr std::size_t kPageSize = 4096;

namespace page_type {
inline constexpr std::uint8_t kHeader = 0x00;
inline constexpr std::uint8_t kData = 0x01;
inline constexpr std::uint8_t kTableDef = 0x02;
inline constexpr std::uint8_t kIndexNode = 0x03;
inline constexpr std::uint8_t kIndexLeaf = 0x04;
inline constexpr std::uint8_t kUsageBitmap = 0x05;
}  // namespace page_type

// Data pages (also used for long values and usage-map rows).
inline constexpr std::size_t kDataFreeSpaceAt = 2;
inline constexpr std::size_t kDataOwnerAt = 4;  // table definition page, or "LVAL"
inline constexpr std::size_t kDataRowCountAt = 12;
inline constexpr std::size_t kDataSlotsAt = 14;
inline constexpr std::size_t kMaxRowsPerPage = 255;  // an index row pointer has one byte for the slot
inline constexpr std::size_t kMaxRowSize = 4060;

// Usage maps: a row of a fixed size holding either the bitmap itself (inline) or
// pointers to bitmap pages (reference).
inline constexpr std::size_t kUsageMapRowSize = 69;
inline constexpr std::size_t kInlineMapBits = (kUsageMapRowSize - 5) * 8;  // 512 pages
inline constexpr std::size_t kBitmapPageBits = (kPageSize - 4) * 8;       // per bitmap page
inline constexpr std::size_t kReferenceMapPages = (kUsageMapRowSize - 1) / 4;

// Index pages.
inline constexpr std::size_t kIndexPrefixLengthAt = 24;
inline constexpr std::size_t kIndexMaskAt = 27;
inline constexpr std::size_t kIndexMaskSize = 453;
inline constexpr std::size_t kIndexEntriesAt = kIndexMaskAt + kIndexMaskSize;  // 0x1e0
inline constexpr std::size_t kIndexSpace = kPageSize - kIndexEntriesAt;

// Table definitions.
inline constexpr std::uint32_t kTableMagic = 1625;   // repeated in column and logical index entries
inline constexpr std::uint32_t kIndexMagic = 1923;   // at the start of each real index entry
inline constexpr std::size_t kTdefHeaderSize = 63;
inline constexpr std::size_t kTdefColumnSize = 25;
inline constexpr std::size_t kTdefRealIndexSize = 52;
inline constexpr std::size_t kTdefLogicalIndexSize = 28;
inline constexpr std::size_t kTdefContinuationHeader = 8;
inline constexpr std::size_t kMaxIndexColumns = 10;

inline constexpr std::uint16_t kSortGeneral = 0x0409;
inline constexpr std::uint16_t kCodePage1252 = 1252;

// A pointer to a row: slot in the low byte, page above it.
inline std::uint32_t RowPointer(std::uint32_t page, std::uint8_t slot) { return (page << 8) | slot; }

inline void Put8(std::uint8_t* p, std::uint8_t v) { p[0] = v; }
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, static_cast<std::uint16_t>(v));
  Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
  Put32(p, static_cast<std::uint32_t>(v));
  Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void PutDouble(std::uint8_t* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  Put64(p, bits);
}
inline std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t Get24(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16); }
inline std::uint32_t Get32(const std::uint8_t* p) { return Get16(p) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16); }
inline std::uint64_t Get64(const std::uint8_t* p) { return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32); }

inline std::uint32_t Get32BE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline std::uint32_t Get24BE(const std::uint8_t* p) { return (p[0] << 16) | (p[1] << 8) | p[2]; }

}  // namespace jet::create
