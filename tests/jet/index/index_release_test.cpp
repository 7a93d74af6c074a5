// Index pages a purge empties go back to the database: out of their index's page map and
// into the database's map of free pages, from which the index's later splits take them
// (cleared of what they held) before the file grows.

#include <gtest/gtest.h>

#include <set>

#include "../write/write_support.h"
#include "index_test_support.h"
#include "jet/page/usage_map.h"
#include "jet/session.h"

namespace {

struct Maps {
  std::set<std::uint32_t> index_pages;  // in the page maps of the table's indexes
  std::set<std::uint32_t> free_pages;   // marked free, within the file
  std::uint32_t file_pages = 0;
};

Maps MapsOf(const std::string& path) {
  auto db = jet::Database::Open(path);
  Maps m;
  jet::Pager& pager = jet::Internal(*db).pager();
  m.index_pages = index_test::ExpectMapsMatchTrees(*db, "Log");
  for (std::uint32_t p : jet::ReadUsageMap(pager, jet::kFreePageMap)) m.free_pages.insert(p);
  m.file_pages = pager.page_count();
  jet::testing::ExpectConsistent(*db);
  return m;
}

TEST(IndexRelease, PurgedIndexPagesAreFreedAndTakenAgainBySplits) {
  JET_REQUIRE_FIXTURES();
  jet::testing::TempDir dir;
  const std::string path = jet::testing::CopyInto(jet::testing::FixturesDir() / "site-small/Journal.mdb", dir);
  const Maps before = MapsOf(path);
  {
    auto session = jet::Session::Open(path, {.password = "", .read_write = true});
    EXPECT_GT(session->Execute("DELETE FROM Log WHERE [Date] < #09/01/2026 00:00#").affected, 0);
  }
  const Maps purged = MapsOf(path);
  std::set<std::uint32_t> released;
  for (std::uint32_t p : before.index_pages)
    if (purged.index_pages.count(p) == 0) released.insert(p);
  ASSERT_GE(released.size(), 2u) << "the purge emptied no index page";
  for (std::uint32_t p : released) EXPECT_EQ(purged.free_pages.count(p), 1u) << "page " << p << " was not freed";
  EXPECT_EQ(purged.file_pages, before.file_pages);

  // A day of new events, with rising dates: the indexes split at their right ends. The
  // released pages hold junk in the header bytes whose meaning is unknown.
  {
    auto db = jet::Database::Open(path, {.password = "", .read_write = true});
    jet::OpenDatabase& internal = jet::Internal(*db);
    internal.BeginStatement();
    for (std::uint32_t p : released)
      for (std::size_t at : {8, 9, 10, 11, 26}) internal.Editor().Write(p)[at] = 0xA5;
    internal.CommitStatement();
    jet::Table* log = db->GetTable("Log");
    db->BeginStatement();
    for (int k = 0; k < 600; ++k)
      log->InsertRow({jet::Value::Null(), jet::Value::DateValue(46300.0 + k / 600.0), jet::Value::Int(2),
                      jet::Value::Str("C" + std::to_string(k)), jet::Value::Str("Access granted at door " + std::to_string(k % 40))});
    db->CommitStatement();
  }
  const Maps refilled = MapsOf(path);
  std::size_t reused = 0, appended = 0;
  {
    auto db = jet::Database::Open(path);
    for (std::uint32_t p : refilled.index_pages) {
      if (purged.index_pages.count(p) != 0) continue;
      ++(released.count(p) != 0 ? reused : appended);
      jet::PageRef bytes = jet::Internal(*db).pager().Read(p);
      EXPECT_EQ((*bytes)[8] | (*bytes)[9] | (*bytes)[10] | (*bytes)[11] | (*bytes)[26], 0) << "page " << p;
    }
  }
  EXPECT_GT(reused, 0u);
  if (appended > 0) {
    EXPECT_EQ(reused, released.size()) << "the index grew the file while released pages were free";
  }
  jet::testing::ExpectOtherReadersCount(path, "Log", jet::testing::RowsOf(*jet::Database::Open(path), "Log").size());
}

}  // namespace
