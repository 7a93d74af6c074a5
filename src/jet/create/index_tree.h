#pragma once
// Index pages built bottom-up from sorted entries: leaf pages first, then as many levels
// of node pages as needed until one page, the root, remains. Each node entry repeats the
// last entry of its child; the last child of the rightmost node page of a level is its
// tail, as Jet keeps it. Entries on a page share their common leading bytes once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/index_page.h"
#include "jet/pager/page_editor.h"

namespace jet::create {

// Entries collected for one index while rows are added: the key followed by the row's
// page (3 bytes, big endian) and slot.
class EntryCollector {
 public:
  void Add(const std::string& key, std::uint32_t page, std::uint8_t slot, bool has_null);
  std::size_t Count() const { return offsets_.size(); }
  std::string_view Entry(std::size_t i) const;
  std::string_view Key(std::size_t i) const { auto e = Entry(i); return e.substr(0, e.size() - kIndexRowIdSize); }
  bool HasNull(std::size_t i) const { return has_null_[i]; }
  // Puts the entries in index order.
  void Sort();
  // The position of the first entry whose key (without NULLs) equals the previous one,
  // or Count() if none. Call after Sort().
  std::size_t FindDuplicate() const;

 private:
  std::string arena_;
  std::vector<std::uint32_t> offsets_;  // start of each entry in arena_
  std::vector<std::uint16_t> sizes_;
  std::vector<bool> has_null_;
};

struct BuiltIndex {
  std::uint32_t root = 0;
  std::vector<std::uint32_t> pages;
};

// Writes the index pages through `store` with the index-page encoder statements use.
BuiltIndex BuildIndexPages(const EntryCollector& entries, std::uint32_t tdef_page, PageEditor& store);

}  // namespace jet::create
