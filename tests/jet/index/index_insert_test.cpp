// Adding rows to indexed tables: trees that grow from empty through new levels, rising
// keys that should fill their pages, the unique check at the edges of leaves, and equal
// keys placed by row.

#include <gtest/gtest.h>

#include "../write/write_support.h"
#include "index_test_support.h"

namespace {

using index_test::Tree;

TEST(IndexInsert, EmptyTreesGrowFromRisingRandomAndEqualKeys) {
  jet::testing::TempDir dir;
  const std::string path = index_test::BigTreeCopy(dir);
  auto db = jet::Database::Open(path, index_test::kWritable);
  jet::Table* t = db->GetTable("Empty");
  // Rising IDs, random long paths, five groups of equal keys and rows the Group index
  // leaves out (whose deletion later must pass that index by).
  auto add = [&](int from, int to) {
    db->BeginStatement();
    for (int k = from; k < to; ++k) {
      jet::Row row = index_test::BigTreeRow(k * 7, 40000.0 + k, k % 5, static_cast<std::uint32_t>(k));
      if (k % 11 == 0) row[3] = jet::Value::Null();
      t->InsertRow(row);
    }
    db->CommitStatement();
  };
  add(0, 4000);
  jet::testing::ExpectConsistent(*db);
  EXPECT_GE(Tree(*db, "Empty", "Path").levels.size(), 3u);
  // Rising keys leave every page but the last of its level full: the first entry of the
  // next page would not have fitted (with the shared prefix the page would then have).
  const auto pk = Tree(*db, "Empty", "PrimaryKey");
  EXPECT_GE(pk.levels.back().size(), 5u);
  const jet::Format& format = jet::Internal(*db).pager().format();
  for (const auto& level : pk.levels)
    for (std::size_t k = 0; k + 1 < level.size(); ++k) {
      jet::IndexPage page = index_test::Page(*db, level[k]);
      page.entries.push_back(index_test::Page(*db, level[k + 1]).entries.front());
      page.prefix_length = jet::CommonIndexPrefix(page.entries, format);
      EXPECT_FALSE(jet::IndexPageFits(page, format)) << "page " << level[k] << " has room for another entry";
    }

  // The unique index refuses a key present, also where the equal key is the first or last
  // of a leaf, and leaves the file as it was; the keys just beside those go in.
  const std::string before = jet::testing::ReadAll(path);
  std::vector<std::int64_t> beside;
  for (std::uint32_t leaf : pk.levels.back()) {
    const jet::IndexPage page = index_test::Page(*db, leaf);
    for (const jet::IndexEntry* e : {&page.entries.front(), &page.entries.back()}) {
      const std::int64_t id = t->ReadRow(e->row)[0].i;
      SCOPED_TRACE(id);
      jet::testing::ExpectJetError(jet::ErrorCode::Integrity, "'PrimaryKey' of table 'Empty'",
                                   [&] { t->InsertRow(index_test::BigTreeRow(static_cast<int>(id), 1.0, 1, 1)); });
      beside.push_back(e == &page.entries.front() ? id - 1 : id + 1);
    }
  }
  EXPECT_EQ(jet::testing::ReadAll(path), before);
  for (std::int64_t id : beside) t->InsertRow(index_test::BigTreeRow(static_cast<int>(id), 1.0, 1, 1));

  // New rows take the slots of deleted ones: their equal keys go in among the present ones, by row.
  std::vector<jet::RowId> every_third;
  jet::RowId highest;
  t->Scan({}, [&](jet::RowId id, const jet::Row& row) {
    if (row[0].i % 3 == 0) every_third.push_back(id);
    highest = std::max(highest, id);
    return true;
  });
  t->DeleteRows(every_third);
  add(4000, 5000);
  std::size_t below = 0;
  t->Scan({}, [&](jet::RowId id, const jet::Row& row) {
    below += row[0].i >= 4000 * 7 && id < highest;
    return true;
  });
  EXPECT_GT(below, 100u) << "new rows did not take freed slots";
  jet::testing::ExpectConsistent(*db);
  index_test::ExpectMapsMatchTrees(*db, "Empty");
}

}  // namespace
