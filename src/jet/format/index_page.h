#pragma once
// Index pages: node pages (0x03) and leaf pages (0x04) of a B-tree. Entries are packed
// after a bitmap whose set bits mark where each entry ends; every entry but the first
// on a page leaves out the prefix it shares with the first (its length is one byte in Jet
// 3, two in Jet 4; the rule is otherwise the same). Entries hold the key bytes
// (compare with memcmp), the row's page (3 bytes, most significant first) and row
// number, and in node pages the child page (4 bytes, most significant first).

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

struct IndexEntry {
  std::string key;
  std::uint32_t data_page = 0;
  std::uint8_t data_row = 0;
  std::uint32_t child_page = 0;  // node pages only
};

struct IndexPage {
  bool leaf = true;
  std::uint32_t owner = 0;  // the table definition's page
  std::uint32_t prev_page = 0;
  std::uint32_t next_page = 0;
  std::uint32_t tail_page = 0;
  std::uint16_t prefix_length = 0;
  std::vector<IndexEntry> entries;
};

// Throws FormatError for a page that is not an index page or whose entries do not fit.
IndexPage ParseIndexPage(ByteView page, std::uint32_t page_number, const Format& format);

}  // namespace jet
