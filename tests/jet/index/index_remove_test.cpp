// Removing rows from index trees (and, for the fixtures, page round trips and growth):
// every index of the fixtures and big trees written by the engine's own writer, with subsets of rows that empty nothing, single entries, whole
// leaves, whole subtrees and everything. After each removal the tree must hold exactly the
// remaining entries in the same order, keep its shape, and have freed exactly the pages it
// no longer uses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "../support.h"
#include "index_test_support.h"
#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"
#include "jet/table/table_reader.h"

namespace {

using index_test::Leaf;
using index_test::MemoryEditor;

struct Subset {
  std::string name;
  std::vector<jet::RowId> rows;
};

std::vector<jet::RowId> RowsOf(const std::vector<Leaf>& e, std::size_t begin, std::size_t end, std::size_t step = 1) {
  std::vector<jet::RowId> rows;
  for (std::size_t k = begin; k < end && k < e.size(); k += step) rows.push_back(e[k].row);
  return rows;
}

// The row sets tried on one index, chosen from its entries in tree order.
std::vector<Subset> Subsets(const index_test::TreeReport& tree, MemoryEditor& ed, std::uint32_t seed) {
  const auto& e = tree.entries;
  const std::size_t n = e.size();
  std::vector<Subset> out;
  out.push_back({"none", {}});
  out.push_back({"unknown rows", {jet::MakeRowId(0xFFFFF0, 1), jet::MakeRowId(3, 254)}});
  if (n == 0) return out;
  std::mt19937 gen(seed);
  out.push_back({"every other", RowsOf(e, 0, n, 2)});
  out.push_back({"all", RowsOf(e, 0, n)});
  out.push_back({"all but the first", RowsOf(e, 1, n)});
  std::vector<jet::RowId> half;
  for (const auto& l : e)
    if (gen() % 2) half.push_back(l.row);
  std::shuffle(half.begin(), half.end(), gen);  // the caller's order does not matter
  out.push_back({"random half, unsorted", half});
  if (tree.leaves.size() >= 3) {
    // Whole leaves from the second to the one before last: their pages go, their
    // neighbours link to each other.
    std::size_t first = 0, last = 0, k = 0;
    for (std::size_t i = 0; i < tree.leaves.size(); ++i) {
      auto page = jet::ParseIndexPage(jet::ViewOf(ed.Read(tree.leaves[i])), tree.leaves[i], ed.format());
      if (i == 1) first = k;
      k += page.entries.size();
      if (i + 2 == tree.leaves.size()) last = k;
    }
    out.push_back({"whole inner leaves", RowsOf(e, first, last)});
    out.push_back({"the tail leaf and a bit", RowsOf(e, first + (last - first) / 2, n)});
  } else {
    out.push_back({"a run", RowsOf(e, n / 4, n - n / 4)});
  }
  return out;
}

// Removes `rows` on a fresh copy and checks the outcome; returns the tree afterwards.
index_test::TreeReport RemoveAndCheck(const std::string& bytes, const std::string& password,
                                      const index_test::IndexRef& idx, const Subset& subset, bool reopen) {
  SCOPED_TRACE(idx.table + "." + idx.index + ", " + subset.name);
  MemoryEditor ed(bytes, password);
  auto before = index_test::CheckTree(ed, idx.table_page, idx.root_page);
  std::vector<jet::RowId> sorted = subset.rows;
  std::sort(sorted.begin(), sorted.end());
  std::vector<Leaf> expected;
  for (const auto& l : before.entries)
    if (!std::binary_search(sorted.begin(), sorted.end(), l.row)) expected.push_back(l);

  jet::IndexRemoval r = jet::RemoveIndexRows(ed, idx.table_page, idx.root_page, subset.rows);
  EXPECT_EQ(r.root_page, idx.root_page);
  EXPECT_EQ(r.entries_removed, before.entries.size() - expected.size());
  EXPECT_EQ(r.pages_freed, ed.freed().size());
  for (const auto& m : ed.misuse()) ADD_FAILURE() << m;
  if (r.entries_removed == 0) {
    EXPECT_EQ(ed.writes(), 0u) << "an untouched index was written";
  }

  auto after = index_test::CheckTree(ed, idx.table_page, idx.root_page);
  for (const auto& p : after.problems) ADD_FAILURE() << p;
  EXPECT_TRUE(after.entries == expected) << after.entries.size() << " entries left, " << expected.size() << " expected";
  // Every page the tree gave up was freed, and no page still in it.
  std::set<std::uint32_t> gone;
  for (std::uint32_t p : before.pages)
    if (after.pages.count(p) == 0) gone.insert(p);
  EXPECT_EQ(gone, ed.freed());
  for (std::uint32_t p : after.pages) EXPECT_TRUE(before.pages.count(p) != 0 || p >= ed.original_pages()) << p;
  if (expected.empty()) {
    EXPECT_EQ(after.pages.size(), 1u);
    EXPECT_EQ(ed.Read(idx.root_page)->at(0), 0x04) << "an emptied index is an empty root leaf";
  }
  if (reopen) {
    // The engine's reader sees the same through a file with the changed pages.
    auto pager = ed.Reopen();
    EXPECT_TRUE(index_test::Walk(*pager, idx.table_page, idx.root_page) == expected);
  }
  return after;
}

// Every page of every fixture index encoded again; every user index grown by entries and
// emptied of them again; every index with many subsets removed.
TEST(IndexFixtures, EveryPageRoundTripsAndEveryTreeGrowsAndShrinks) {
  JET_REQUIRE_FIXTURES();
  std::size_t indexes = 0, multi_level = 0, pages = 0, user = 0, grown = 0;
  std::size_t kinds[4] = {};     // Jet 3 leaves, Jet 3 nodes, Jet 4 leaves, Jet 4 nodes
  std::size_t prefixed[2] = {};  // pages with a shared prefix, Jet 3 and Jet 4
  for (const auto& fx : index_test::IndexFixtures()) {
    SCOPED_TRACE(fx.path);
    std::string bytes = jet::testing::ReadAll(fx.path);
    for (const auto& idx : index_test::IndexesOf(bytes, fx.password)) {
      SCOPED_TRACE(idx.table + "." + idx.index);
      MemoryEditor probe(bytes, fx.password);
      const jet::Format& f = probe.format();
      auto tree = index_test::CheckTree(probe, idx.table_page, idx.root_page);
      ASSERT_TRUE(tree.problems.empty()) << tree.problems.front();
      ++indexes;
      multi_level += tree.levels > 1;
      for (std::uint32_t n : tree.pages) {
        jet::PageRef original = probe.Read(n);
        jet::IndexPage page = jet::ParseIndexPage(jet::ViewOf(original), n, f);
        std::vector<std::uint8_t> out = *original;
        jet::EncodeIndexPage(page, f, out.data());
        // Up to the end of the last entry the bytes are the same; after it Jet leaves what
        // the page held before, the encoder zeros.
        std::size_t end = f.index_entries + jet::IndexEntryBytes(page);
        ASSERT_EQ(0, std::memcmp(out.data(), original->data(), end)) << "page " << n;
        for (std::size_t k = end; k < out.size(); ++k) ASSERT_EQ(out[k], 0) << "page " << n << " byte " << k;
        ++pages;
        const int kind = (f.page_size == 2048 ? 0 : 2) + (page.leaf ? 0 : 1);
        ++kinds[kind];
        prefixed[kind / 2] += page.prefix_length > 0;
      }
      if (idx.table.rfind("MSys", 0) != 0) {
        // Grown past its pages by new entries, and those removed again.
        ++user;
        MemoryEditor ed(bytes, fx.password);
        std::vector<Leaf> expected = tree.entries;
        std::vector<jet::RowId> added;
        std::mt19937 gen(static_cast<std::uint32_t>(indexes));
        for (std::uint32_t k = 0; k < 150; ++k) {
          std::string key = "\x7f";
          for (std::size_t i = 20 + gen() % 20; i > 0; --i) key.push_back(static_cast<char>('0' + gen() % 40));
          added.push_back(jet::MakeRowId(0x10000 + k, static_cast<std::uint8_t>(k)));
          jet::InsertIndexEntry(ed, idx.table_page, idx.root_page, key, added.back());
          expected.push_back({key, added.back()});
        }
        index_test::SortEntries(&expected);
        auto big = index_test::CheckTree(ed, idx.table_page, idx.root_page);
        for (const auto& p : big.problems) ADD_FAILURE() << p;
        EXPECT_TRUE(big.entries == expected);
        EXPECT_TRUE(index_test::Walk(*ed.Reopen(), idx.table_page, idx.root_page) == expected);
        grown += ed.allocated() > 0;
        EXPECT_EQ(jet::RemoveIndexRows(ed, idx.table_page, idx.root_page, added).entries_removed, added.size());
        auto back = index_test::CheckTree(ed, idx.table_page, idx.root_page);
        for (const auto& p : back.problems) ADD_FAILURE() << p;
        EXPECT_TRUE(back.entries == tree.entries);
        for (const auto& m : ed.misuse()) ADD_FAILURE() << m;
      }
      for (const Subset& s : Subsets(tree, probe, static_cast<std::uint32_t>(indexes)))
        RemoveAndCheck(bytes, fx.password, idx, s, true);
    }
  }
  // The fixtures hold leaves and nodes of both versions, with shared prefixes in both.
  EXPECT_GT(indexes, 60u);
  EXPECT_GE(multi_level, 4u);
  EXPECT_GT(pages, 80u);
  for (std::size_t k : kinds) EXPECT_GT(k, 0u);
  for (std::size_t k : prefixed) EXPECT_GT(k, 0u);
  EXPECT_GT(user, 40u);
  EXPECT_EQ(grown, user) << "every tree grew past its pages";
}

TEST(IndexRemove, BigTreesWrittenByTheEngine) {
  const auto& big = index_test::BigTree();
  std::size_t deep = 0;
  for (const auto& idx : index_test::IndexesOf(big.bytes, "")) {
    if (idx.table != "Event") continue;
    MemoryEditor probe(big.bytes);
    auto tree = index_test::CheckTree(probe, idx.table_page, idx.root_page);
    ASSERT_TRUE(tree.problems.empty()) << tree.problems.front();
    ASSERT_EQ(tree.entries.size(), big.rows);
    deep += tree.levels >= 3;
    const auto& e = tree.entries;
    const std::size_t n = e.size();
    std::mt19937 gen(11);
    std::vector<jet::RowId> random_half;
    for (const auto& l : e)
      if (gen() % 2) random_half.push_back(l.row);
    std::vector<Subset> subsets = {
        {"every other", RowsOf(e, 0, n, 2)},
        {"a run over whole subtrees", RowsOf(e, n / 10, n * 6 / 10)},
        {"all but the first three", RowsOf(e, 3, n)},
        {"random half", random_half},
    };
    for (const auto& s : subsets) {
      auto after = RemoveAndCheck(big.bytes, "", idx, s, s.name == "every other" || s.name == "all but the first three");
      if (s.name == "all but the first three") {
        EXPECT_EQ(after.levels, 1) << "a root with one child takes its place";
      }
    }
  }
  EXPECT_GE(deep, 1u) << "no index of three levels or more";
}

TEST(IndexRemove, OnlyTheLeavesThatLoseEntriesAreWritten) {
  const auto& big = index_test::BigTree();
  const auto idx = index_test::FindIndex(big.bytes, "Event", "PrimaryKey");
  {
    MemoryEditor ed(big.bytes);
    auto tree = index_test::CheckTree(ed, idx.table_page, idx.root_page);
    // The second entry of every leaf: each leaf is written once, no node changes.
    std::vector<jet::RowId> rows;
    std::size_t k = 0;
    for (std::uint32_t leaf : tree.leaves) {
      auto page = jet::ParseIndexPage(jet::ViewOf(ed.Read(leaf)), leaf, ed.format());
      rows.push_back(tree.entries[k + 1].row);
      k += page.entries.size();
    }
    auto r = jet::RemoveIndexRows(ed, idx.table_page, idx.root_page, rows);
    EXPECT_EQ(r.entries_removed, tree.leaves.size());
    EXPECT_EQ(r.pages_written, tree.leaves.size());
    EXPECT_EQ(ed.writes(), tree.leaves.size());
    EXPECT_EQ(r.pages_freed, 0u);
    auto after = index_test::CheckTree(ed, idx.table_page, idx.root_page);
    EXPECT_TRUE(after.problems.empty());
  }
}

// Leaves whose last entry is short and whose other entries are long: removing the short
// ones makes every entry above them long.
std::vector<std::vector<Leaf>> GrowingLeaves(std::size_t count, std::vector<jet::RowId>* shorts) {
  std::vector<std::vector<Leaf>> leaves;
  for (std::size_t i = 0; i < count; ++i) {
    std::string id = {'\x7f', static_cast<char>(i >> 8), static_cast<char>(i)};
    auto row = [&](int j) { return jet::MakeRowId(static_cast<std::uint32_t>(10 + i), static_cast<std::uint8_t>(j)); };
    leaves.push_back({{id + std::string(200, 'A') + "1", row(0)}, {id + std::string(200, 'A') + "2", row(1)}, {id + "B", row(2)}});
    shorts->push_back(row(2));
  }
  return leaves;
}

TEST(IndexRemove, NodeEntriesGrowingPastTheirPageSplitIt) {
  const auto& big = index_test::BigTree();
  const std::uint32_t table = 0x4321;
  struct Shape {
    std::size_t leaves, fanout;
  };
  // A root over 60 leaves that overflows; then three nodes under the root that do.
  for (Shape shape : {Shape{60, 60}, Shape{60, 20}}) {
    SCOPED_TRACE(shape.fanout);
    MemoryEditor ed(big.bytes);
    std::vector<jet::RowId> shorts;
    auto leaves = GrowingLeaves(shape.leaves, &shorts);
    std::uint32_t root = index_test::BuildTree(ed, table, leaves, shape.fanout);
    auto before = index_test::CheckTree(ed, table, root);
    ASSERT_TRUE(before.problems.empty()) << before.problems.front();
    std::vector<Leaf> expected;
    for (const auto& run : leaves) expected.insert(expected.end(), run.begin(), run.end() - 1);

    auto r = jet::RemoveIndexRows(ed, table, root, shorts);
    EXPECT_EQ(r.entries_removed, shape.leaves);
    EXPECT_EQ(r.root_page, root);
    EXPECT_FALSE(r.added.empty());
    EXPECT_TRUE(r.freed.empty());
    auto after = index_test::CheckTree(ed, table, root);
    for (const auto& p : after.problems) ADD_FAILURE() << p;
    EXPECT_TRUE(after.entries == expected);
    EXPECT_EQ(after.levels, before.levels + (shape.fanout == 60 ? 1 : 0));
    for (std::uint32_t p : r.added) EXPECT_EQ(after.pages.count(p), 1u);
    EXPECT_EQ(after.pages.size(), before.pages.size() + r.added.size());
  }
}

TEST(IndexRemove, DamagedTreesAreReportedNotFollowed) {
  const auto& big = index_test::BigTree();
  const auto idx = index_test::FindIndex(big.bytes, "Event", "PrimaryKey");
  {
    MemoryEditor probe(big.bytes);
    auto tree = index_test::CheckTree(probe, idx.table_page, idx.root_page);
    ASSERT_GE(tree.levels, 2);
    auto root = jet::ParseIndexPage(jet::ViewOf(probe.Read(idx.root_page)), idx.root_page, probe.format());
    std::vector<jet::RowId> all = RowsOf(tree.entries, 0, tree.entries.size());
    // A child pointer to the table definition, and one back at the root.
    for (std::uint32_t child : {idx.table_page, idx.root_page}) {
      MemoryEditor ed(big.bytes);
      root.entries[0].child_page = child;
      jet::EncodeIndexPage(root, ed.format(), ed.Write(idx.root_page).data());
      EXPECT_THROW(jet::RemoveIndexRows(ed, idx.table_page, idx.root_page, all), jet::FormatError);
    }
    {
      // The index of another table.
      MemoryEditor ed(big.bytes);
      EXPECT_THROW(jet::RemoveIndexRows(ed, idx.table_page + 1, idx.root_page, all), jet::FormatError);
    }
  }
}

}  // namespace
