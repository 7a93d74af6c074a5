#pragma once
// The header page (page 0): engine name, version, and a region of settings hidden under
// RC4 with a fixed key: code page, sort order, the database key (non-zero when every
// other page is RC4-encrypted), the database password and, in Jet 4, the creation date
// whose whole-day part masks the password. Decoded for every opening and encoded for a
// new file, here in one unit.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

class TextCodec;

struct Header {
  JetVersion version = JetVersion::Jet4;
  std::uint16_t code_page = 0;
  std::uint32_t sort_order = 0;    // 0x0409 is "General"
  std::uint32_t database_key = 0;  // 0: pages are stored in the clear
  double creation_date = 0;        // Jet date; Jet 4 only
  std::string password_bytes;      // unmasked; Jet 3: code page bytes, Jet 4: UCS-2LE

  bool HasPassword() const;
};

// Offsets of the encoded region, within page 0.
constexpr std::size_t kHeaderVersionOffset = 0x14;
constexpr std::size_t kHeaderEncodedOffset = 0x18;
constexpr std::size_t kHeaderSortOrderJet3 = 0x3A;
constexpr std::size_t kHeaderCodePage = 0x3C;
constexpr std::size_t kHeaderDatabaseKey = 0x3E;
constexpr std::size_t kHeaderPassword = 0x42;
constexpr std::size_t kHeaderSortOrderJet4 = 0x6E;
constexpr std::size_t kHeaderCreationDate = 0x72;

// The version whose signature the first bytes of a header page carry. Throws
// jet::Error(NotJet / Unsupported) with `name` in the description when they carry none.
JetVersion CheckSignature(ByteView start, const std::string& name);

// RC4 over the encoded region of a header page, in place; the same call encodes and
// decodes. `page` must hold at least the region.
void ToggleHeaderEncoding(std::uint8_t* page, std::size_t size, JetVersion version);

// The settings of a header page whose encoded region ToggleHeaderEncoding has already
// decoded; the Jet 4 password comes back with its creation-date mask removed.
Header ParseHeader(ByteView decoded_page, JetVersion version);

// The header page of a new Jet 4 file, encoded as stored: `header`'s code page, sort order,
// creation date and password (UCS-2LE, at most 40 bytes); pages are not encrypted.
// Throws jet::Error(Unsupported) for a longer password.
std::vector<std::uint8_t> EncodeHeader(const Header& header);

// The password in the clear as UTF-8 (empty when there is none).
std::string HeaderPassword(const Header& header, TextCodec& text);

// The four bytes XOR-ed over a Jet 4 password: the whole days of the creation date.
std::uint32_t PasswordMask(double creation_date);

// RC4, in place.
void Rc4(const std::uint8_t* key, std::size_t key_size, std::uint8_t* data, std::size_t size);

// A page other than the header, encrypted or decrypted in place with the database key.
void CryptPage(std::uint32_t database_key, std::uint32_t page_number, std::uint8_t* data, std::size_t size);

}  // namespace jet
