// Adding entries to index trees: random orders that split leaves and nodes up through
// new levels, rising keys that should fill pages, equal keys ordered by row, and the
// unique check. (The fixtures' trees take new entries in the removal tests' fixture sweep,
// and a tree takes entries again after a purge in the release test.)

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "../support.h"
#include "index_test_support.h"
#include "jet/error.h"
#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"
#include "jet/table/table_reader.h"

namespace {

using index_test::Leaf;
using index_test::MemoryEditor;

using index_test::SortEntries;

std::string RandomKey(std::mt19937& gen, std::size_t length) {
  std::string k = "\x7f";
  for (std::size_t i = 0; i < length; ++i) k.push_back(static_cast<char>('0' + gen() % 40));
  return k;
}

std::string LongKey(std::uint32_t v) {
  std::string k = "\x7f";
  v ^= 0x80000000u;
  for (int s = 24; s >= 0; s -= 8) k.push_back(static_cast<char>(v >> s));
  return k;
}

void ExpectSound(MemoryEditor& ed, const index_test::IndexRef& idx, const std::vector<Leaf>& expected,
                 index_test::TreeReport* out = nullptr) {
  auto tree = index_test::CheckTree(ed, idx.table_page, idx.root_page);
  for (const auto& p : tree.problems) ADD_FAILURE() << p;
  for (const auto& m : ed.misuse()) ADD_FAILURE() << m;
  EXPECT_TRUE(tree.entries == expected) << tree.entries.size() << " entries, " << expected.size() << " expected";
  if (out != nullptr) *out = std::move(tree);
}

// Entries into empty trees of the big file in three orders: long random keys split leaves
// and nodes up through new levels; rising keys should leave every page full; equal keys
// arriving in random row order line up by row.
TEST(IndexInsert, EmptyTreesGrowFromRandomRisingAndEqualKeys) {
  const auto& big = index_test::BigTree();
  std::mt19937 gen(3);
  for (const std::string name : {"Path", "PrimaryKey", "Group"}) {
    SCOPED_TRACE(name);
    const auto idx = index_test::FindIndex(big.bytes, "Empty", name);
    const bool random = name == "Path", rising = name == "PrimaryKey", equal = name == "Group";
    MemoryEditor ed(big.bytes);
    std::vector<std::uint32_t> order(random ? 3000 : rising ? 8000 : 4000);
    for (std::uint32_t k = 0; k < order.size(); ++k) order[k] = k;
    if (equal) std::shuffle(order.begin(), order.end(), gen);
    std::vector<Leaf> expected;
    std::size_t added = 0;
    for (std::uint32_t k : order) {
      Leaf l = random ? Leaf{RandomKey(gen, 60 + gen() % 40), jet::MakeRowId(100 + k / 40, static_cast<std::uint8_t>(k % 40))}
               : rising ? Leaf{LongKey(k * 7), jet::MakeRowId(200 + k / 100, static_cast<std::uint8_t>(k % 100))}
                        : Leaf{LongKey(k % 5), jet::MakeRowId(300 + k / 200, static_cast<std::uint8_t>(k % 200))};
      auto r = jet::InsertIndexEntry(ed, idx.table_page, idx.root_page, l.key, l.row, {.unique = rising});
      ASSERT_EQ(r.root_page, idx.root_page);
      added += r.pages_added;
      expected.push_back(l);
    }
    SortEntries(&expected);
    index_test::TreeReport tree;
    ExpectSound(ed, idx, expected, &tree);
    EXPECT_GE(tree.levels, random ? 3 : 2);
    EXPECT_GE(tree.leaves.size(), 5u);
    EXPECT_EQ(added, ed.allocated());
    EXPECT_EQ(tree.pages.size(), ed.allocated() + 1) << "every page allocated is in the tree";
    EXPECT_TRUE(index_test::Walk(*ed.Reopen(), idx.table_page, idx.root_page) == expected);
    for (std::uint32_t p : tree.pages) {
      auto page = jet::ParseIndexPage(jet::ViewOf(ed.Read(p)), p, ed.format());
      // Header bytes of unknown meaning are zero on new pages, not what the page held.
      jet::PageRef bytes = ed.Read(p);
      if (p != idx.root_page) {
        EXPECT_EQ((*bytes)[8] | (*bytes)[9] | (*bytes)[10] | (*bytes)[11] | (*bytes)[26], 0) << p;
      }
      // Rising keys: every page but the last of its level is full, the first entry of the
      // next page would not have fitted on it (with the shared prefix it then had).
      if (!rising || page.next_page == 0) continue;
      auto next = jet::ParseIndexPage(jet::ViewOf(ed.Read(page.next_page)), page.next_page, ed.format());
      page.entries.push_back(next.entries.front());
      page.prefix_length = jet::CommonIndexPrefix(page.entries, ed.format());
      EXPECT_FALSE(jet::IndexPageFits(page, ed.format())) << "page " << p << " has room for " << page.entries.size();
    }
    if (equal) {
      // The same row again is refused.
      std::size_t writes = ed.writes();
      EXPECT_THROW(jet::InsertIndexEntry(ed, idx.table_page, idx.root_page, expected[10].key, expected[10].row),
                   jet::FormatError);
      EXPECT_EQ(ed.writes(), writes);
    }
  }
}

TEST(IndexInsert, UniqueIndexRefusesAKeyPresentAndChangesNothing) {
  const auto& big = index_test::BigTree();
  const auto idx = index_test::FindIndex(big.bytes, "Event", "PrimaryKey");
  MemoryEditor ed(big.bytes);
  auto tree = index_test::CheckTree(ed, idx.table_page, idx.root_page);
  ASSERT_GE(tree.leaves.size(), 3u);
  auto first = jet::ParseIndexPage(jet::ViewOf(ed.Read(tree.leaves[0])), tree.leaves[0], ed.format());
  const std::size_t boundary = first.entries.size();  // the first entry of the second leaf
  const jet::IndexInsertOptions unique{.unique = true, .index_name = "PrimaryKey", .table_name = "Event"};
  struct Attempt {
    std::string what;
    Leaf entry;
  };
  const Leaf& last_of_first = tree.entries[boundary - 1];
  const Leaf& first_of_second = tree.entries[boundary];
  std::vector<Attempt> attempts = {
      {"middle, higher row", {tree.entries[5].key, tree.entries[5].row + 1}},
      // Equal keys on the neighbouring leaf.
      {"after the last entry of a leaf", {last_of_first.key, jet::MakeRowId(0xFFFFFF, 255)}},
      {"before the first entry of a leaf", {first_of_second.key, jet::MakeRowId(1, 0)}},
      {"the very last", {tree.entries.back().key, jet::MakeRowId(0xFFFFFF, 255)}},
  };
  for (const auto& a : attempts) {
    SCOPED_TRACE(a.what);
    try {
      jet::InsertIndexEntry(ed, idx.table_page, idx.root_page, a.entry.key, a.entry.row, unique);
      ADD_FAILURE() << "a repeated key was accepted";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.code(), jet::ErrorCode::Integrity);
      EXPECT_NE(std::string(e.what()).find("PrimaryKey"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("Event"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ed.writes(), 0u);
  }
  // Keys between the present ones go in; the same keys are fine where uniqueness is not asked.
  std::vector<Leaf> expected = tree.entries;
  for (std::uint32_t v : {0u, 2u, 20000u, 40002u}) {
    Leaf l{LongKey(v), jet::MakeRowId(900, 1)};
    jet::InsertIndexEntry(ed, idx.table_page, idx.root_page, l.key, l.row, unique);
    expected.push_back(l);
  }
  Leaf again{first_of_second.key, jet::MakeRowId(1, 0)};
  jet::InsertIndexEntry(ed, idx.table_page, idx.root_page, again.key, again.row);
  expected.push_back(again);
  SortEntries(&expected);
  ExpectSound(ed, idx, expected);
}

}  // namespace
