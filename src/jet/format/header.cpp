#include "jet/format/header.h"

#include <cmath>
#include <cstring>

#include "jet/crypto/rc4.h"
#include "jet/format/text.h"

namespace jet {
namespace {

constexpr std::uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr char kJetSignature[] = "Standard Jet DB";
constexpr char kAceSignature[] = "Standard ACE DB";

}  // namespace

bool Header::HasPassword() const {
  for (char c : password_bytes)
    if (c != 0) return true;
  return false;
}

JetVersion CheckSignature(ByteView start, const std::string& name) {
  const std::string not_jet = "'" + name + "' is not a Jet database";
  if (start.size() < 0x18) throw Error(ErrorCode::NotJet, not_jet + " (too short for a header)");
  const std::uint8_t* p = start.data();
  bool magic = p[0] == 0x00 && p[1] == 0x01 && p[2] == 0x00 && p[3] == 0x00;
  if (magic && std::memcmp(p + 4, kAceSignature, sizeof kAceSignature - 1) == 0)
    throw Error(ErrorCode::Unsupported,
                "'" + name + "' is an Access 2007 or later (ACE) database; only Jet 3 and Jet 4 files can be read");
  if (!magic || std::memcmp(p + 4, kJetSignature, sizeof kJetSignature - 1) != 0)
    throw Error(ErrorCode::NotJet, not_jet);
  std::uint32_t version = start.U32(kHeaderVersionOffset);
  if (version == 0) return JetVersion::Jet3;
  if (version == 1) return JetVersion::Jet4;
  throw Error(ErrorCode::Unsupported,
              "'" + name + "' has Jet file version " + std::to_string(version) + "; only Jet 3 and Jet 4 can be read");
}

void Rc4(const std::uint8_t* key, std::size_t key_size, std::uint8_t* data, std::size_t size) {
  crypto::Rc4Crypt(key, key_size, data, size);
}

void ToggleHeaderEncoding(std::uint8_t* page, std::size_t size, JetVersion version) {
  std::size_t n = FormatFor(version).header_encoded_length;
  if (size < kHeaderEncodedOffset + n) ThrowCorrupt("the header page is truncated");
  Rc4(kHeaderKey, sizeof kHeaderKey, page + kHeaderEncodedOffset, n);
}

void CryptPage(std::uint32_t database_key, std::uint32_t page_number, std::uint8_t* data, std::size_t size) {
  std::uint8_t key[4];
  Put32(key, database_key ^ page_number);
  Rc4(key, sizeof key, data, size);
}

std::uint32_t PasswordMask(double creation_date) {
  if (!std::isfinite(creation_date) || creation_date < -2147483648.0 || creation_date >= 2147483648.0) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(creation_date));
}

Header ParseHeader(ByteView page, JetVersion version) {
  const Format& f = FormatFor(version);
  Header h;
  h.version = version;
  h.code_page = page.U16(kHeaderCodePage);
  h.database_key = page.U32(kHeaderDatabaseKey);
  std::string pw = page.Sub(kHeaderPassword, f.header_password_length).Str();
  if (version == JetVersion::Jet3) {
    h.sort_order = page.U16(kHeaderSortOrderJet3);
  } else {
    h.sort_order = page.U32(kHeaderSortOrderJet4);
    h.creation_date = page.F64(kHeaderCreationDate);
    std::uint32_t mask = PasswordMask(h.creation_date);
    for (std::size_t i = 0; i < pw.size(); ++i) pw[i] = static_cast<char>(pw[i] ^ ((mask >> (8 * (i % 4))) & 0xFF));
  }
  h.password_bytes = std::move(pw);
  return h;
}

std::vector<std::uint8_t> EncodeHeader(const Header& header) {
  const Format& f = kJet4Format;
  if (header.password_bytes.size() > f.header_password_length)
    throw Error(ErrorCode::Unsupported, "The database password is longer than the 20 characters Jet 4 allows");
  std::vector<std::uint8_t> page(f.page_size, 0);
  std::uint8_t* p = page.data();
  p[0] = static_cast<std::uint8_t>(PageType::Header);
  p[1] = 0x01;
  std::memcpy(p + 4, "Standard Jet DB", 15);
  Put32(p + kHeaderVersionOffset, 1);  // Jet 4

  // The start of the encoded region holds a short run of small counters in every file
  // Jet itself creates; they are kept as found.
  static constexpr std::uint8_t kRegionStart[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                                  0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                                  0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(p + kHeaderEncodedOffset, kRegionStart, sizeof kRegionStart);
  Put16(p + kHeaderCodePage, header.code_page);
  Put32(p + kHeaderDatabaseKey, 0);
  const std::uint32_t mask = PasswordMask(header.creation_date);
  for (std::size_t i = 0; i < f.header_password_length; ++i) {
    const auto b = static_cast<std::uint8_t>(i < header.password_bytes.size() ? header.password_bytes[i] : 0);
    p[kHeaderPassword + i] = static_cast<std::uint8_t>(b ^ ((mask >> (8 * (i % 4))) & 0xFF));
  }
  Put32(p + kHeaderSortOrderJet4, header.sort_order);
  PutF64(p + kHeaderCreationDate, header.creation_date);
  ToggleHeaderEncoding(p, page.size(), JetVersion::Jet4);

  // After the encoded region Jet keeps a version marker, and the last part of the page is
  // a fixed lock pattern.
  Put32(p + 0x98, 0x0654);
  std::memcpy(p + 0x9c, "4.0", 3);
  p[0xe00] = 0x01;
  for (std::size_t i = 0xe01; i < f.page_size; i += 2) p[i] = 0x01;
  return page;
}

std::string HeaderPassword(const Header& header, TextCodec& text) {
  const std::string& pw = header.password_bytes;
  std::size_t end = 0;
  if (header.version == JetVersion::Jet3) {
    while (end < pw.size() && pw[end] != 0) ++end;
    return text.FromCodePage(ByteView(std::string_view(pw).substr(0, end)));
  }
  while (end + 1 < pw.size() && (pw[end] != 0 || pw[end + 1] != 0)) end += 2;
  return text.FromUtf16(ByteView(std::string_view(pw).substr(0, end)));
}

}  // namespace jet
