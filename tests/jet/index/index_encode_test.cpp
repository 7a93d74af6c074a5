// Index pages written back by EncodeIndexPage, built from chosen entries (every fixture
// page is parsed and encoded again in the removal tests' fixture sweep).

#include <gtest/gtest.h>

#include <cstring>

#include "../support.h"
#include "index_test_support.h"
#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"

namespace {

using index_test::MemoryEditor;

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
    page.prefix_length = jet::CommonIndexPrefix(page.entries, f);
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

TEST(IndexEncode, RefusesWhatDoesNotFitThePageOrItsPrefixField) {
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
  // Jet 3 keeps the prefix length in one byte: keys sharing 300 bytes share 255 on a page.
  page.entries = {Entry(std::string(300, 'k') + "1", 1, 0), Entry(std::string(300, 'k') + "2", 1, 1)};
  page.prefix_length = jet::CommonIndexPrefix(page.entries, f);
  EXPECT_EQ(page.prefix_length, 255);
  EXPECT_EQ(jet::CommonIndexPrefix(page.entries, jet::FormatFor(jet::JetVersion::Jet4)), 300);
  EXPECT_NO_THROW(jet::EncodeIndexPage(page, f, out.data()));
  EXPECT_EQ(out[f.index_prefix_length], 255);
  page.prefix_length = 256;
  EXPECT_THROW(jet::EncodeIndexPage(page, f, out.data()), jet::FormatError);
}

}  // namespace
