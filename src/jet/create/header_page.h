#pragma once
// Page 0 of a Jet 4 file: the engine signature, and a region kept RC4-encoded with a fixed
// key that holds the code page, the database key, the (masked) database password, the
// sort order and the creation date.

#include <array>
#include <cstdint>
#include <string>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet::create {

struct HeaderFields {
  std::uint16_t code_page = kCodePage1252;
  std::uint16_t sort_order = kSortGeneral;
  double created = 0;    // Jet date; its whole days also mask the password
  std::u16string password;  // at most 20 characters; empty for none
};

inline constexpr std::uint32_t kHeaderRc4Key = 0x6b39dac7;
inline constexpr std::size_t kHeaderEncodedAt = 0x18;
inline constexpr std::size_t kHeaderEncodedSize = 128;
inline constexpr std::size_t kHeaderCodePageAt = 0x3c;
inline constexpr std::size_t kHeaderDatabaseKeyAt = 0x3e;
inline constexpr std::size_t kHeaderPasswordAt = 0x42;
inline constexpr std::size_t kHeaderPasswordSize = 40;
inline constexpr std::size_t kHeaderSortOrderAt = 0x6e;
inline constexpr std::size_t kHeaderCreatedAt = 0x72;

std::array<std::uint8_t, kJet4Format.page_size> BuildHeaderPage(const HeaderFields& fields);

// RC4 with the header key over the encoded region, in place (encoding and decoding are
// the same operation).
void ToggleHeaderEncoding(std::uint8_t* page);

// The four bytes that Jet 4 repeats over the password field: the whole days of the
// creation date as a little-endian 32-bit integer.
std::array<std::uint8_t, 4> PasswordMask(double created);

}  // namespace jet::create
