#include "jet/create/header_page.h"

#include <nettle/arcfour.h>

#include <cmath>
#include <cstring>

#include "jet/error.h"

namespace jet::create {

std::array<std::uint8_t, 4> PasswordMask(double created) {
  auto days = static_cast<std::int32_t>(std::trunc(created));
  std::array<std::uint8_t, 4> mask;
  Put32(mask.data(), static_cast<std::uint32_t>(days));
  return mask;
}

void ToggleHeaderEncoding(std::uint8_t* page) {
  std::uint8_t key[4];
  Put32(key, kHeaderRc4Key);
  arcfour_ctx ctx;
  arcfour_set_key(&ctx, sizeof key, key);
  arcfour_crypt(&ctx, kHeaderEncodedSize, page + kHeaderEncodedAt, page + kHeaderEncodedAt);
}

std::array<std::uint8_t, kJet4Format.page_size> BuildHeaderPage(const HeaderFields& fields) {
  if (fields.password.size() * 2 > kHeaderPasswordSize) {
    throw Error(ErrorCode::Unsupported, "The database password is longer than the 20 characters Jet 4 allows");
  }
  std::array<std::uint8_t, kJet4Format.page_size> page{};
  std::uint8_t* p = page.data();
  p[0] = static_cast<std::uint8_t>(PageType::Header);
  p[1] = 0x01;
  std::memcpy(p + 4, "Standard Jet DB", 15);
  Put32(p + 0x14, 1);  // Jet 4

  // The start of the encoded region holds a short run of small counters in every file
  // Jet itself creates; they are kept as found.
  static constexpr std::uint8_t kRegionStart[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                                  0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                                  0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
  std::memcpy(p + kHeaderEncodedAt, kRegionStart, sizeof kRegionStart);
  Put16(p + kHeaderCodePageAt, fields.code_page);
  Put32(p + kHeaderDatabaseKeyAt, 0);  // pages are not encoded
  auto mask = PasswordMask(fields.created);
  for (std::size_t i = 0; i < kHeaderPasswordSize; ++i) {
    std::uint8_t b = 0;
    std::size_t ch = i / 2;
    if (ch < fields.password.size()) {
      b = static_cast<std::uint8_t>(i % 2 == 0 ? fields.password[ch] & 0xff : fields.password[ch] >> 8);
    }
    p[kHeaderPasswordAt + i] = b ^ mask[i % 4];
  }
  Put16(p + kHeaderSortOrderAt, fields.sort_order);
  PutF64(p + kHeaderCreatedAt, fields.created);
  ToggleHeaderEncoding(p);

  // After the encoded region Jet keeps a version marker, and the last part of the page is
  // a fixed lock pattern.
  Put32(p + 0x98, 0x0654);
  std::memcpy(p + 0x9c, "4.0", 3);
  p[0xe00] = 0x01;
  for (std::size_t i = 0xe01; i < kJet4Format.page_size; i += 2) p[i] = 0x01;
  return page;
}

}  // namespace jet::create
