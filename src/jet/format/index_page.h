#pragma once
// Index pages: node pages (0x03) and leaf pages (0x04) of a B-tree. Entries are packed
// after a bitmap whose set bits mark where each entry ends; every entry but the first
// on a page leaves out the prefix it shares with the first (its length is one byte in Jet
// 3, two in Jet 4; the rule is otherwise the same). Entries hold the key bytes
// (compare with memcmp), the row's page (3 bytes, most significant first) and row
// number, and in node pages the child page (4 bytes, most significant first).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"

namespace jet {

// The row an index entry points to, as it follows the key: the page in three bytes, most
// significant first (so that entries sort by row after their key), then the row number.
inline constexpr std::size_t kIndexRowIdSize = 4;
inline void PutIndexRowId(std::uint8_t* out, RowId row) {
  PutBigU24(out, row.page);
  out[3] = row.row;
}
inline RowId IndexRowIdAt(const std::uint8_t* p) {
  return {(std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2], p[3]};
}
// The row pointer of a stored entry: its last kIndexRowIdSize bytes (leaf form).
inline RowId IndexRowIdOf(std::string_view leaf_entry) {
  return IndexRowIdAt(reinterpret_cast<const std::uint8_t*>(leaf_entry.data() + leaf_entry.size() -
                                                                  kIndexRowIdSize));
}

struct IndexEntry {
  std::string key;
  RowId row;
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

// A leaf page read where its entries lie, for code that tests or drops entries without
// decoding them: entry i's own bytes run from the end of entry i-1 (or the start of the
// entries) to the end its bitmap bit marks; entries after the first leave out the shared
// prefix, which the first holds in full. The view refers to the page's bytes.
class IndexLeafView {
 public:
  // Checks what ParseIndexPage checks of a leaf; throws FormatError.
  IndexLeafView(ByteView page, std::uint32_t page_number, const Format& format);

  std::uint32_t owner() const { return page_.U32(4); }
  std::uint32_t prev_page() const { return page_.U32(f_->index_prev_page); }
  std::uint32_t next_page() const { return page_.U32(f_->index_next_page); }
  std::uint32_t tail_page() const { return page_.U32(f_->index_tail_page); }
  std::size_t prefix_length() const { return prefix_; }
  std::size_t size() const { return ends_.size(); }
  // The bytes the entries take after the bitmap, the shared prefix counted once.
  std::size_t used_bytes() const { return ends_.empty() ? 0 : ends_.back() - f_->index_entries; }

  // The row entry `i` points to: its last kIndexRowIdSize bytes (with the shared
  // prefix when the entry's own bytes are fewer).
  RowId row(std::size_t i) const { return IndexRowIdAt(PointerBytes(i)); }
  // The bytes entry `i` keeps on the page: the first entry in full, the others without
  // the shared prefix, which is the first entry's first prefix_length() bytes.
  std::string_view Own(std::size_t i) const {
    return {reinterpret_cast<const char*>(page_.data()) + Start(i), ends_[i] - Start(i)};
  }
  std::string_view Prefix() const { return {reinterpret_cast<const char*>(page_.data()) + f_->index_entries, prefix_}; }
  // Entry `i` in full, as StoredIndexEntry writes it (leaf form); StoredInto reuses `out`.
  std::string Stored(std::size_t i) const;
  void StoredInto(std::size_t i, std::string* out) const;
  IndexEntry Entry(std::size_t i) const;

 private:
  friend void CompactIndexLeaf(const IndexLeafView&, const std::vector<bool>&, std::uint8_t*, std::vector<std::uint8_t>*);
  std::size_t Start(std::size_t i) const { return i == 0 ? f_->index_entries : ends_[i - 1]; }
  // The entry's row pointer bytes; the checks made on reading keep them inside the page.
  const std::uint8_t* PointerBytes(std::size_t i) const {
    return ends_[i] - Start(i) >= kIndexRowIdSize ? page_.data() + ends_[i] - kIndexRowIdSize
                                                       : ShortPointer(i);
  }
  const std::uint8_t* ShortPointer(std::size_t i) const;

  ByteView page_;
  const Format* f_;
  std::size_t prefix_ = 0;
  std::vector<std::uint16_t> ends_;  // page offsets
  mutable std::string full_;         // an entry too short to hold its row pointer alone
};

// Rewrites in place the leaf `page` (format.page_size bytes, holding what `leaf` was read
// from) with only the entries not marked in `gone`: the first kept entry in full, the
// others as stored, the free space and bitmap to match. The prefix stays, except on a
// leaf left with fewer than two entries, which shares nothing. `scratch` is working memory.
void CompactIndexLeaf(const IndexLeafView& leaf, const std::vector<bool>& gone, std::uint8_t* page,
                      std::vector<std::uint8_t>* scratch);

// ---- Writing index pages, the inverse of ParseIndexPage ----

// What follows the key in an entry: the row pointer, and in node pages the child page.
std::size_t IndexPointerSize(bool leaf);

// The longest shared prefix a page can declare: Jet 3 stores its length in one byte.
std::size_t MaxIndexPrefix(const Format& format);

// The number of leading bytes `a` and `b` share.
std::size_t SharedLength(std::string_view a, std::string_view b);

// The entry as stored on a page: key, row page (3 bytes) and row, most significant first,
// then in node pages the child page. Entries sort by these bytes (leaf form).
std::string StoredIndexEntry(const IndexEntry& e, bool leaf);

// The bytes the entries of `page` take after its bitmap, the shared prefix counted once.
std::size_t IndexEntryBytes(const IndexPage& page);

// Whether the entries of `page` fit one index page of `format`.
bool IndexPageFits(const IndexPage& page, const Format& format);

// The longest prefix all entries share (bounded by the shortest key, so that row and child
// pointers are never folded into it, and by what the prefix length field of `format`
// holds); 0 for fewer than two entries.
std::uint16_t CommonIndexPrefix(const std::vector<IndexEntry>& entries, const Format& format);

// Writes `page` into `out`, which holds format.page_size bytes: type, owner, prev/next/tail,
// free space, prefix length, the bitmap of entry ends and the entries, the first in full
// and the others without page.prefix_length leading bytes. Bytes after the last entry are
// zeroed; header bytes of unknown meaning are left as `out` holds them, except that the
// byte after the prefix length is cleared on leaves, as on every leaf Access writes.
// Throws FormatError when the entries do not fit or do not all share page.prefix_length
// bytes, or the prefix length does not fit its field.
void EncodeIndexPage(const IndexPage& page, const Format& format, std::uint8_t* out);

}  // namespace jet
