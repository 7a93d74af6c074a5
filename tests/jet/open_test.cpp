// Opening: files that are not there, not readable or not Jet; database passwords of both
// versions; encrypted pages.

#include <gtest/gtest.h>

#include <map>

#include "jet/crypto/rc4.h"
#include "jet/database.h"
#include "jet/format/header.h"
#include "jet/tsv.h"
#include "support.h"
#include "support/machine.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::FixturesDir;
using testing::TempDir;
using testing::ExpectJetError;

TEST(Open, FilesThatCannotBeOpened) {
  TempDir dir;
  std::string missing = (dir.path() / "missing.mdb").string();
  ExpectJetError(ErrorCode::FileNotFound, missing, [&] { Database::Open(missing); });
  ExpectJetError(ErrorCode::NotJet, dir.path().string(), [&] { Database::Open(dir.path().string()); });
  const std::string head("\x00\x01\x00\x00Standard Jet DB\x00\x01\x00\x00\x00", 24);
  const struct {
    const char* name;
    std::string bytes;
    ErrorCode code;
  } cases[] = {{"notes.mdb", std::string(8192, 'x'), ErrorCode::NotJet},
               {"empty.mdb", "", ErrorCode::NotJet},
               {"stub.mdb", head + std::string(100, '\0'), ErrorCode::Corrupt},  // only a header's worth
               {"ace.accdb", std::string(head).replace(4, 15, "Standard ACE DB") + std::string(8192, '\0'),
                ErrorCode::Unsupported}};
  for (const auto& c : cases) {
    fs::path p = dir.path() / c.name;
    testing::WriteAll(p, c.bytes);
    ExpectJetError(c.code, p.string(), [&] { Database::Open(p.string()); });
  }
}

// POSIX permission bits; Windows keeps rights in ACLs, which this cannot take away.
#ifndef _WIN32
TEST(Open, NoPermission) {
  SCOUREX_SKIP_AS_ROOT("root reads every file");
  TempDir dir;
  fs::path p = dir.path() / "locked.mdb";
  testing::WriteAll(p, "x");
  fs::permissions(p, fs::perms::none);
  ExpectJetError(ErrorCode::AccessDenied, p.string(), [&] { Database::Open(p.string()); });
}
#endif

TEST(Open, Jet4PasswordOfTheSiteFixture) {
  JET_REQUIRE_FIXTURES();
  std::string p = (FixturesDir() / "site-small/Orvanta.mdb").string();
  for (const char* wrong : {"", "morvek3", "Morvek", "Morvek33"})
    EXPECT_EQ(ExpectJetError(ErrorCode::WrongPassword, p, [&] { Database::Open(p, {.password = wrong}); }).find("Morvek"),
              std::string::npos)
        << "the description gives the password away";
  EXPECT_TRUE(Database::Open(p, {.password = "Morvek3"})->has_password());
  // Without a database password any password is accepted.
  EXPECT_FALSE(Database::Open((FixturesDir() / "site-small/Journal.mdb").string(), {.password = "x"})->has_password());
}

// The header page with its encoded region decoded by `edit` and encoded again.
std::string EditHeader(std::string bytes, const std::function<void(std::uint8_t*)>& edit) {
  auto* page = reinterpret_cast<std::uint8_t*>(bytes.data());
  JetVersion v = page[0x14] == 0 ? JetVersion::Jet3 : JetVersion::Jet4;
  ToggleHeaderEncoding(page, bytes.size(), v);
  edit(page);
  ToggleHeaderEncoding(page, bytes.size(), v);
  return bytes;
}

TEST(Open, PasswordsSetInTheHeaderOfBothVersions) {
  JET_REQUIRE_FIXTURES();
  // Jet 3: the password in the code page, as is.
  std::string jet3 = EditHeader(testing::ReadAll(FixturesDir() / "access/testV1997.mdb"), [](std::uint8_t* p) {
    std::memcpy(p + kHeaderPassword, "S\xE9same", 6);  // "Sésame" in code page 1252
  });
  EXPECT_NO_THROW(Database::OpenBytes("jet3.mdb", jet3, {.password = "S\xC3\xA9same"}));
  ExpectJetError(ErrorCode::WrongPassword, "jet3.mdb", [&] { Database::OpenBytes("jet3.mdb", jet3, {.password = "Sesame"}); });
  ExpectJetError(ErrorCode::WrongPassword, "jet3.mdb", [&] { Database::OpenBytes("jet3.mdb", jet3); });

  // Jet 4: UCS-2, each byte XOR-ed with the whole days of the creation date.
  std::string jet4 = EditHeader(testing::ReadAll(FixturesDir() / "site-small/Journal.mdb"), [](std::uint8_t* p) {
    double created;
    std::memcpy(&created, p + kHeaderCreationDate, 8);
    auto days = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
    const char16_t pw[] = u"K\u00F8de";
    for (int i = 0; i < 40; ++i) {
      std::uint8_t b = i < 8 ? static_cast<std::uint8_t>(pw[i / 2] >> (8 * (i % 2))) : 0;
      p[kHeaderPassword + i] = static_cast<std::uint8_t>(b ^ (days >> (8 * (i % 4))));
    }
  });
  EXPECT_NO_THROW(Database::OpenBytes("jet4.mdb", jet4, {.password = "K\xC3\xB8" "de"}));
  ExpectJetError(ErrorCode::WrongPassword, "jet4.mdb", [&] { Database::OpenBytes("jet4.mdb", jet4, {.password = "Kode"}); });
}

// A copy with a database key in the header and every later page RC4-encrypted with the
// key XOR the page number (four bytes, least significant first).
std::string Encrypt(std::string bytes, std::uint32_t key) {
  std::size_t page_size = bytes[0x14] == 0 ? 2048 : 4096;
  bytes = EditHeader(std::move(bytes), [&](std::uint8_t* p) {
    for (int i = 0; i < 4; ++i) p[kHeaderDatabaseKey + i] = static_cast<std::uint8_t>(key >> (8 * i));
  });
  for (std::size_t n = 1; n * page_size < bytes.size(); ++n) {
    std::uint8_t page_key[4];
    for (int i = 0; i < 4; ++i) page_key[i] = static_cast<std::uint8_t>((key ^ n) >> (8 * i));
    jet::crypto::Rc4Crypt(page_key, 4, reinterpret_cast<std::uint8_t*>(bytes.data() + n * page_size), page_size);
  }
  return bytes;
}

// Every row of every user table and every index walk, as text.
std::map<std::string, std::vector<std::string>> Contents(Database& db) {
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& name : db.TableNames()) {
    Table* t = db.GetTable(name);
    t->Scan({}, [&](RowId id, const Row& row) {
      out[name].push_back(std::to_string(id.Raw()) + " " + FormatTsvRow(row));
      return true;
    });
    for (const auto& index : t->Indexes())
      for (RowId id : t->IndexRowIds(index)) out[name + "/" + index.name].push_back(std::to_string(id.Raw()));
  }
  return out;
}

TEST(Open, EncryptedPagesReadTheSameAsPlainOnes) {
  JET_REQUIRE_FIXTURES();
  for (const char* file : {"access/indexTestV1997.mdb", "access/test2V2000.mdb", "site-small/Orvanta.mdb"}) {
    SCOPED_TRACE(file);
    std::string plain = testing::ReadAll(FixturesDir() / file);
    auto contents = Contents(*Database::OpenBytes("plain", plain, {.password = "Morvek3"}));
    EXPECT_FALSE(contents.empty());
    EXPECT_EQ(contents, Contents(*Database::OpenBytes("encrypted", Encrypt(plain, 0x5A3C9E17), {.password = "Morvek3"})));
  }
}

}  // namespace
}  // namespace jet
