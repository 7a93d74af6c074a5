// Index pages written back by EncodeIndexPage: every index page of the fixtures, Jet 3 and
// Jet 4, parsed and encoded again, and pages built from chosen entries.

#include <gtest/gtest.h>

#include <cstring>

#include "../support.h"
#include "index_test_support.h"
#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"

namespace {

using index_test::MemoryEditor;

TEST(IndexEncode, EveryFixtureIndexPageRoundTrips) {
  JET_REQUIRE_FIXTURES();
  std::size_t pages = 0, identical = 0, nodes = 0, jet3 = 0, prefixed = 0;
  for (const auto& fx : index_test::IndexFixtures()) {
    SCOPED_TRACE(fx.path);
    std::string bytes = jet::testing::ReadAll(fx.path);
    MemoryEditor ed(bytes, fx.password);
    const jet::Format& f = ed.format();
    for (const auto& idx : index_test::IndexesOf(bytes, fx.password)) {
      auto tree = index_test::CheckTree(ed, idx.table_page, idx.root_page);
      for (const auto& p : tree.problems) ADD_FAILURE() << idx.table << "." << idx.index << ": " << p;
      for (std::uint32_t n : tree.pages) {
        jet::PageRef original = ed.Read(n);
        jet::IndexPage page = jet::ParseIndexPage(jet::ViewOf(original), n, f);
        std::vector<std::uint8_t> out = *original;
        jet::EncodeIndexPage(page, f, out.data());
        // Up to the end of the last entry the bytes are the same; after it Jet leaves what
        // the page held before, the encoder zeros.
        std::size_t end = f.index_entries + jet::IndexEntryBytes(page);
        ASSERT_EQ(0, std::memcmp(out.data(), original->data(), end)) << "page " << n;
        for (std::size_t k = end; k < out.size(); ++k) ASSERT_EQ(out[k], 0) << "page " << n << " byte " << k;
        // Into a zeroed page: the same bytes but for those of unknown meaning in the header.
        std::vector<std::uint8_t> fresh(f.page_size, 0);
        jet::EncodeIndexPage(page, f, fresh.data());
        for (std::size_t k : {8, 9, 10, 11, 26})
          if (f.page_size == 4096) fresh[k] = out[k];
        EXPECT_TRUE(fresh == out) << "page " << n;
        ++pages;
        identical += out == *original;
        nodes += !page.leaf;
        jet3 += f.page_size == 2048;
        prefixed += page.prefix_length > 0;
      }
    }
  }
  // The fixtures hold Jet 3 pages, node pages and pages with a shared prefix.
  EXPECT_GT(pages, 80u);
  EXPECT_GT(identical, 0u);
  EXPECT_GT(nodes, 2u);
  EXPECT_GT(jet3, 10u);
  EXPECT_GT(prefixed, 0u);
}

jet::IndexEntry Entry(const std::string& key, std::uint32_t page, std::uint8_t row, std::uint32_t child = 0) {
  jet::IndexEntry e;
  e.key = key;
  e.data_page = page;
  e.data_row = row;
  e.child_page = child;
  return e;
}

TEST(IndexEncode, PrefixIsStoredOnceAndPointersStayOutOfIt) {
  for (jet::JetVersion v : {jet::JetVersion::Jet3, jet::JetVersion::Jet4}) {
    const jet::Format& f = jet::FormatFor(v);
    jet::IndexPage page;
    page.leaf = false;
    page.owner = 77;
    page.prev_page = 5;
    page.next_page = 0;
    page.tail_page = 9;
    // Equal keys: the shared prefix is the whole key, never the row pointer after it.
    page.entries = {Entry("\x7f\x80\x01", 0x010203, 4, 0x11223344), Entry("\x7f\x80\x01", 0x010203, 5, 8)};
    page.prefix_length = jet::CommonIndexPrefix(page.entries);
    EXPECT_EQ(page.prefix_length, 3);
    EXPECT_EQ(jet::IndexEntryBytes(page), 11u + 8u);
    std::vector<std::uint8_t> out(f.page_size, 0xEE);
    jet::EncodeIndexPage(page, f, out.data());
    EXPECT_EQ(out[0], 0x03);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2] | (out[3] << 8), static_cast<int>(f.page_size - f.index_entries - 19));
    // Pointers most significant byte first; the second entry without its prefix.
    const std::uint8_t want[] = {0x7f, 0x80, 0x01, 0x01, 0x02, 0x03, 0x04, 0x11, 0x22, 0x33, 0x44,
                                 0x01, 0x02, 0x03, 0x05, 0x00, 0x00, 0x00, 0x08};
    EXPECT_EQ(0, std::memcmp(out.data() + f.index_entries, want, sizeof want));
    // Entry ends marked in the bitmap: after 11 and after 19 bytes.
    EXPECT_EQ(out[f.index_bitmap + 1], 0x08);
    EXPECT_EQ(out[f.index_bitmap + 2], 0x08);
    auto back = jet::ParseIndexPage(jet::ByteView(out.data(), out.size()), 1, f);
    EXPECT_EQ(back.tail_page, 9u);
    EXPECT_EQ(back.prev_page, 5u);
    EXPECT_EQ(back.owner, 77u);
    ASSERT_EQ(back.entries.size(), 2u);
    EXPECT_EQ(back.entries[1].child_page, 8u);
    EXPECT_EQ(back.entries[1].data_row, 5);
  }
}

TEST(IndexEncode, RefusesEntriesThatDoNotFitOrShareNoPrefix) {
  const jet::Format& f = jet::FormatFor(jet::JetVersion::Jet3);
  jet::IndexPage page;
  page.owner = 2;
  for (int k = 0; k < 200; ++k) page.entries.push_back(Entry(std::string(8, static_cast<char>('a' + k % 20)), 1, 0));
  std::vector<std::uint8_t> out(f.page_size, 0);
  EXPECT_FALSE(jet::IndexPageFits(page, f));
  EXPECT_THROW(jet::EncodeIndexPage(page, f, out.data()), jet::FormatError);
  page.entries.resize(3);
  page.prefix_length = 4;  // "aaaa" and "bbbb" share nothing
  EXPECT_THROW(jet::EncodeIndexPage(page, f, out.data()), jet::FormatError);
  page.prefix_length = 0;
  EXPECT_NO_THROW(jet::EncodeIndexPage(page, f, out.data()));
}

}  // namespace
