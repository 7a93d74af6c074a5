// Damaged files: truncated, or with bytes flipped in the header, table definitions,
// rows and index pages. Each ends in a jet::Error naming the file, or in readable data;
// never in a crash or another kind of exception (the sanitizer build checks the rest).

#include <gtest/gtest.h>

#include <random>

#include "jet/database.h"
#include "support.h"

namespace jet {
namespace {

using testing::FixturesDir;

// Opens the bytes and reads everything reachable: all tables (system ones too), all rows
// one by one again by id, all index walks, the relationships. True when all of it read.
bool ReadEverything(const std::string& name, const std::string& bytes) {
  try {
    auto db = Database::OpenBytes(name, bytes, {.password = "Morvek3"});
    for (const auto& table : db->TableNames(true)) {
      Table* t = db->GetTable(table);
      std::vector<RowId> ids;
      t->Scan({}, [&](RowId id, const Row&) {
        ids.push_back(id);
        return true;
      });
      for (RowId id : ids) t->ReadRow(id);
      for (const auto& index : t->Indexes()) t->IndexRowIds(index);
    }
    db->Relationships();
    return true;
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    EXPECT_TRUE(e.code() == ErrorCode::Corrupt || e.code() == ErrorCode::NotJet ||
                e.code() == ErrorCode::Unsupported || e.code() == ErrorCode::WrongPassword)
        << static_cast<int>(e.code()) << " " << e.what();
    return false;
  }
}

std::vector<std::size_t> PagesOfType(const std::string& bytes, std::size_t page_size, std::initializer_list<int> types) {
  std::vector<std::size_t> pages;
  for (std::size_t p = 1; (p + 1) * page_size <= bytes.size(); ++p)
    for (int t : types)
      if (static_cast<unsigned char>(bytes[p * page_size]) == t && bytes[p * page_size + 1] == 1) pages.push_back(p);
  return pages;
}

TEST(Damage, FlippedBytesAndTruncationsEndInErrorsNotCrashes) {
  JET_REQUIRE_FIXTURES();
  std::mt19937 rng(20240607);
  int mutations = 0, opened = 0;
  for (const char* file : {"access/testV1997.mdb", "access/indexTestV1997.mdb", "access/overflowTestV2000.mdb",
                           "access/compIndexTestV2000.mdb", "access/test2V2000.mdb", "site-ri/Orvanta.mdb"}) {
    SCOPED_TRACE(file);
    const std::string original = testing::ReadAll(FixturesDir() / file);
    const std::size_t page_size = original[0x14] == 0 ? 2048 : 4096;
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };

    // Truncated at various points, from inside the header to the last page.
    for (std::size_t cut : {std::size_t{10}, std::size_t{0x30}, page_size - 1, page_size, 3 * page_size,
                            original.size() / 2, original.size() - page_size, original.size() - 1}) {
      opened += ReadEverything(file, original.substr(0, cut));
      ++mutations;
    }

    const std::pair<const char*, std::vector<std::size_t>> targets[] = {
        {"header", {0}},
        {"table definition", PagesOfType(original, page_size, {2})},
        {"data", PagesOfType(original, page_size, {1})},
        {"index", PagesOfType(original, page_size, {3, 4})}};
    for (const auto& [what, pages] : targets) {
      for (int i = 0; i < 16 && !pages.empty(); ++i) {
        std::string bytes = original;
        std::size_t page = pages[pick(pages.size())];
        int flips = 1 + static_cast<int>(pick(3));
        for (int f = 0; f < flips; ++f) {
          // Header damage goes where the settings are; elsewhere anywhere in the page,
          // but mostly near the start where the bookkeeping is.
          std::size_t off = page == 0 ? pick(0x18 + 128) : (pick(4) == 0 ? pick(page_size) : pick(64));
          bytes[page * page_size + off] = static_cast<char>(bytes[page * page_size + off] ^ (1 + pick(255)));
        }
        SCOPED_TRACE(std::string(what) + " page " + std::to_string(page));
        opened += ReadEverything(file, bytes);
        ++mutations;
      }
    }
  }
  EXPECT_GT(mutations, 300);
  EXPECT_GT(mutations - opened, 50);
  EXPECT_GT(opened, 50);
}

}  // namespace
}  // namespace jet
