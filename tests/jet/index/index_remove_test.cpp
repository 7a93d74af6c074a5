// Index trees of Access's files and the engine's writer lose entries, runs, subtrees and
// everything, and stay sound with given-up pages released; damaged trees are not followed.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

#include "../write/write_support.h"
#include "index_test_support.h"
#include "jet/index/index_edit.h"
#include "jet/index/index_walk.h"
#include "jet/session.h"

namespace {

using index_test::Tree;

// The rows a case deletes, chosen among `ids` (the table's rows in some order).
const char* const kSubsets[] = {"every other", "a run", "random half", "all but the first three", "all"};
enum { kAllButThree = 3, kAll = 4 };

std::vector<jet::RowId> Choose(const std::vector<jet::RowId>& ids, int subset) {
  std::vector<jet::RowId> chosen;
  std::mt19937 gen(7);
  for (std::size_t k = 0, n = ids.size(); k < n; ++k) {
    const bool take[] = {k % 2 == 0, k >= n / 10 && k < n * 6 / 10, gen() % 2 == 0, k >= 3, true};
    if (take[subset]) chosen.push_back(ids[k]);
  }
  return chosen;
}

std::vector<jet::RowId> ScanOrder(jet::Table& t) {
  std::vector<jet::RowId> ids;
  t.Scan(std::vector<bool>(t.Columns().size(), false), [&](jet::RowId id, const jet::Row&) {
    ids.push_back(id);
    return true;
  });
  return ids;
}

TEST(IndexRemove, FixtureTreesLoseRowsAndStaySound) {
  JET_REQUIRE_FIXTURES();
  std::size_t deleted = 0;
  for (const char* name : {"access/compIndexTestV2000.mdb", "access/compIndexTestV1997.mdb", "access/indexTestV1997.mdb",
                           "access/indexTestV2000.mdb", "access/indexTestV2003.mdb", "access/testV1997.mdb",
                           "access/test2V2000.mdb", "access/delTestV2003.mdb", "site-small/Journal.mdb",
                           "site-ri/Journal.mdb", "site-small/Orvanta.mdb", "site-ri/Orvanta.mdb"}) {
    const jet::OpenOptions options{.password = std::string(name).find("Orvanta") != std::string::npos ? "Morvek3" : "",
                                   .read_write = true};
    for (int subset = 0; subset <= kAll; ++subset) {
      SCOPED_TRACE(std::string(name) + ", " + kSubsets[subset]);
      jet::testing::TempDir dir;
      auto db = jet::Database::Open(jet::testing::CopyInto(jet::testing::FixturesDir() / name, dir), options);
      std::vector<std::string> tables = db->TableNames();
      // Rows that enforced relationships keep are refused; emptied, the tables referring to
      // them let their rows go on a later pass.
      for (int pass = 0; pass < 3 && !tables.empty(); ++pass) {
        std::vector<std::string> refused;
        for (const auto& table : tables) {
          jet::Table* t = db->GetTable(table);
          try {
            deleted += static_cast<std::size_t>(t->DeleteRows(Choose(ScanOrder(*t), subset)));
          } catch (const jet::Error& e) {
            if (e.code() != jet::ErrorCode::Integrity) ADD_FAILURE() << e.what();
            refused.push_back(table);
          }
        }
        tables = refused;
      }
      jet::testing::ExpectConsistent(*db);
      for (const auto& table : db->TableNames()) index_test::ExpectMapsMatchTrees(*db, table);
      if (subset == kAll) {
        EXPECT_TRUE(tables.empty()) << tables.front() << " kept its rows";
        for (const auto& table : db->TableNames())
          for (const jet::IndexInfo& index : db->GetTable(table)->Indexes())
            EXPECT_EQ(Tree(*db, table, index.name).levels.size(), 1u) << table << "." << index.name;
      }
    }
  }
  EXPECT_GT(deleted, 10000u);
}

// The engine's deep trees, rows chosen in the order of the three-level index: runs over
// whole subtrees, and the removal of all but its first few entries, which leaves its root
// a single leaf.
TEST(IndexRemove, DeepTreesLoseRunsSubtreesAndLevels) {
  for (int subset = 0; subset <= kAll; ++subset) {
    SCOPED_TRACE(kSubsets[subset]);
    jet::testing::TempDir dir;
    auto db = jet::Database::Open(index_test::BigTreeCopy(dir), index_test::kWritable);
    jet::Table* t = db->GetTable("Event");
    ASSERT_EQ(Tree(*db, "Event", "Path").levels.size(), 3u);
    const std::vector<jet::RowId> chosen = Choose(t->IndexRowIds(*t->FindIndex("Path")), subset);
    EXPECT_EQ(t->DeleteRows(chosen), static_cast<std::int64_t>(chosen.size()));
    jet::testing::ExpectConsistent(*db);
    if (subset == kAllButThree) {
      EXPECT_EQ(Tree(*db, "Event", "Path").levels.size(), 1u) << "a root left with one child takes its place";
    }
  }
}

// Removing the short last entry of every leaf makes every node entry long: a root over 60
// leaves overflows, then three nodes under the root do (trees built by hand, `fanout` wide).
TEST(IndexRemove, NodeEntriesGrowingPastTheirPageSplitIt) {
  const std::uint32_t table = 0x4321;
  for (std::size_t fanout : {60, 20}) {
    SCOPED_TRACE(fanout);
    jet::testing::TempDir dir;
    auto db = jet::Database::Open(index_test::BigTreeCopy(dir), index_test::kWritable);
    jet::OpenDatabase& internal = jet::Internal(*db);
    internal.BeginStatement();
    jet::PageEditor& txn = internal.Editor();
    std::vector<jet::RowId> shorts;
    std::vector<std::string> kept, walked;
    std::vector<jet::IndexPage> pages(60);
    std::vector<std::pair<std::uint32_t, jet::IndexEntry>> level;  // page, last entry
    for (std::uint32_t i = 0; i < pages.size(); ++i) {
      const std::string id = {'\x7f', static_cast<char>(i >> 8), static_cast<char>(i)};
      for (const std::string& key : {id + std::string(200, 'A') + "1", id + std::string(200, 'A') + "2", id + "B"})
        pages[i].entries.push_back({key, 10 + i, static_cast<std::uint8_t>(pages[i].entries.size()), 0});
      shorts.push_back(jet::RowId{10 + i, 2});
      for (int k = 0; k < 2; ++k) kept.push_back(jet::StoredIndexEntry(pages[i].entries[k], true));
      level.emplace_back(txn.Allocate(), pages[i].entries.back());
    }
    for (bool leaves = true;; leaves = false) {
      for (std::size_t k = 0; k < pages.size(); ++k) {
        pages[k].owner = table;
        pages[k].leaf = leaves;
        pages[k].prev_page = k > 0 ? level[k - 1].first : 0;
        pages[k].next_page = k + 1 < pages.size() ? level[k + 1].first : 0;
        pages[k].prefix_length = jet::CommonIndexPrefix(pages[k].entries, txn.format());
        jet::EncodeIndexPage(pages[k], txn.format(), txn.Write(level[k].first).data());
      }
      if (level.size() == 1) break;
      decltype(level) up;
      pages.clear();
      for (std::size_t begin = 0; begin < level.size(); begin += fanout) {
        const std::size_t end = std::min(level.size(), begin + fanout);
        jet::IndexPage& node = pages.emplace_back();
        for (std::size_t k = begin; k < end; ++k) {
          if (end == level.size() && k + 1 == end) {
            node.tail_page = level[k].first;
          } else {
            node.entries.push_back(level[k].second);
            node.entries.back().child_page = level[k].first;
          }
        }
        up.emplace_back(txn.Allocate(), level[end - 1].second);
      }
      level = std::move(up);
    }
    internal.CommitStatement();
    const std::uint32_t root = level.front().first;
    const std::size_t levels = jet::CheckIndexTree(internal.pager(), table, root).levels.size();

    internal.BeginStatement();
    const jet::IndexRemoval r = jet::RemoveIndexRows(internal.Editor(), table, root, jet::RowSet(shorts));
    internal.CommitStatement();
    EXPECT_EQ(r.entries_removed, shorts.size());
    EXPECT_TRUE(r.freed.empty());
    EXPECT_FALSE(r.added.empty());
    const auto after = jet::CheckIndexTree(internal.pager(), table, root);
    for (const auto& p : after.problems) ADD_FAILURE() << p;
    EXPECT_EQ(after.levels.size(), levels + (fanout == 60 ? 1 : 0));
    std::size_t count = 0;
    for (const auto& pages_of_level : after.levels) count += pages_of_level.size();
    EXPECT_EQ(count, 61 + (fanout == 60 ? 0 : 3) + r.added.size());
    jet::WalkIndex(internal.pager(), table, root, [&](const jet::IndexEntry& e) {
      walked.push_back(jet::StoredIndexEntry(e, true));
      return true;
    });
    EXPECT_TRUE(walked == kept);
  }
}

// Damage written into a copy of the deep trees: the check names the index, and a delete
// statement, which walks and rewrites the whole tree after reading every row, finds it
// too: the statement fails naming the table and the index, and the file stays as it was.
TEST(IndexRemove, DamagedTreesAreReportedNotFollowed) {
  struct Damage {
    const char* name;
    std::function<void(jet::IndexPage& root, jet::IndexPage& leaf, std::uint32_t table_page, std::uint32_t root_page)> apply;
    const char* reported;
  };
  const Damage damages[] = {
      {"child pointer to the table definition", [](auto& root, auto&, auto table, auto) { root.entries[0].child_page = table; },
       "cannot be read"},
      {"child pointer back at the root", [](auto& root, auto&, auto, auto page) { root.entries[0].child_page = page; },
       "is reached twice"},
      {"leaf of another table", [](auto&, auto& leaf, auto table, auto) { leaf.owner = table + 1; },
       "belongs to the table at page"},
      {"broken sibling link", [](auto&, auto& leaf, auto, auto) { leaf.next_page = 0; }, "links to"},
      {"node entry that does not bound its child", [](auto& root, auto&, auto, auto) { root.entries[1].row.row ^= 1; },
       "is not the last entry of its child"},
      {"leaf entries out of order", [](auto&, auto& leaf, auto, auto) { std::swap(leaf.entries[3], leaf.entries[4]); },
       "out of order"},
      {"entry for a row that does not exist", [](auto&, auto& leaf, auto, auto) { leaf.entries[2].row.row = 250; },
       "entries for rows that do not exist"},
      {"two entries for one row",
       [](auto&, auto& leaf, auto, auto) {
         leaf.entries[2].row = leaf.entries[1].row;
       },
       "a row has two entries"},
      {"row without an entry", [](auto&, auto& leaf, auto, auto) { leaf.entries.erase(leaf.entries.begin() + 2); },
       "entries for"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    jet::testing::TempDir dir;
    const std::string path = index_test::BigTreeCopy(dir);
    {
      auto db = jet::Database::Open(path, index_test::kWritable);
      jet::OpenDatabase& internal = jet::Internal(*db);
      const auto tree = Tree(*db, "Event", "PrimaryKey");
      ASSERT_EQ(tree.levels.size(), 2u);
      const std::uint32_t root_page = tree.levels[0][0], leaf_page = tree.levels[1][1];
      jet::IndexPage root = index_test::Page(*db, root_page), leaf = index_test::Page(*db, leaf_page);
      damage.apply(root, leaf, jet::Internal(*db->GetTable("Event")).definition().page, root_page);
      internal.BeginStatement();
      jet::EncodeIndexPage(root, internal.pager().format(), internal.Editor().Write(root_page).data());
      jet::EncodeIndexPage(leaf, internal.pager().format(), internal.Editor().Write(leaf_page).data());
      internal.CommitStatement();
    }
    const std::string before = jet::testing::ReadAll(path);
    auto session = jet::Session::Open(path, index_test::kWritable);
    bool reported = false;
    for (const auto& problem : jet::CheckIntegrity(session->database()))
      reported = reported || (problem.find("Index 'PrimaryKey' of table 'Event': ") == 0 &&
                              problem.find(damage.reported) != std::string::npos);
    EXPECT_TRUE(reported) << "no problem reports " << damage.reported;
    jet::testing::ExpectJetError(jet::ErrorCode::Corrupt, "index 'PrimaryKey' of table 'Event'",
                                 [&] { session->Execute("DELETE FROM [Event] WHERE [ID] > 100"); });
    EXPECT_EQ(jet::testing::ReadAll(path), before);
  }
}

}  // namespace
