#pragma once
// Index pages built bottom-up from sorted entries: leaf pages first, then as many levels
// of node pages as needed until one page, the root, remains; for new files and for the
// indexes a compaction rebuilds. Each node entry repeats the
// last entry of its child; the last child of the rightmost node page of a level is its
// tail, as Jet keeps it. Entries on a page share their common leading bytes once.

#include <cstdint>
#include <functional>
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

// Index pages written while their entries arrive in index order: each leaf as soon as the
// next entry no longer fits it, the node levels at the end from the last entry of each page
// below (one entry kept per leaf). Pages are numbered in the order `allocate` gives them:
// the leaves left to right, then each node level; `put` receives each page's bytes (and
// may change them, to encrypt them on their way out).
class IndexTreeWriter {
 public:
  IndexTreeWriter(const Format& format, std::uint32_t tdef_page, std::function<std::uint32_t()> allocate,
                  std::function<void(std::uint32_t, std::vector<std::uint8_t>&)> put);

  // Entries in rising order of key and row.
  void Add(std::string_view key, RowId row);
  // Writes the last leaf and the levels above it; an index without entries is one empty leaf.
  BuiltIndex Finish();

 private:
  // The bytes a page's entries take as they are added, counted as IndexEntryBytes does
  // with the prefix CommonIndexPrefix finds.
  class Fill {
   public:
    explicit Fill(std::size_t pointer) : pointer_(pointer) {}
    // The prefix the page's entries would share with `key` added.
    std::size_t PrefixWith(std::string_view key, const Format& f) const;
    // Whether `key`, sharing `prefix`, still fits the page.
    bool Fits(std::string_view key, std::size_t prefix, const Format& f) const;
    void Take(std::string_view key, std::size_t prefix);
    // The prefix the page's entries share (CommonIndexPrefix's).
    std::uint16_t prefix() const { return static_cast<std::uint16_t>(count_ < 2 ? 0 : prefix_); }

   private:
    std::size_t pointer_;
    std::string first_;
    std::size_t prefix_ = 0, sum_ = 0, count_ = 0;
  };

  void WriteLeaf(std::uint32_t next);
  void Write(std::uint32_t number, const IndexPage& page);

  const Format& f_;
  std::uint32_t owner_;
  std::function<std::uint32_t()> allocate_;
  std::function<void(std::uint32_t, std::vector<std::uint8_t>&)> put_;
  IndexPage leaf_;
  Fill leaf_fill_{IndexPointerSize(true)};
  std::uint32_t leaf_number_ = 0;  // 0: none yet
  std::vector<IndexEntry> up_;     // the last entry of each leaf written, pointing at it
  std::vector<std::uint8_t> bytes_;
  BuiltIndex built_;
};

// Writes the collected entries' index pages through `store`.
BuiltIndex BuildIndexPages(const EntryCollector& entries, std::uint32_t tdef_page, PageEditor& store);

}  // namespace jet::create
