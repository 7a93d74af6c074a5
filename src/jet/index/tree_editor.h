#pragma once
// What the removal and insertion passes over an index tree share: checked loading of
// index pages, writing a level's content back onto one page or splitting it over
// several, and replacing a child in its parent by what became of it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/format.h"
#include "jet/format/index_page.h"
#include "jet/pager/page_editor.h"

namespace jet::index_tree {

// No real index comes near this depth; deeper means a loop or damage.
inline constexpr int kMaxDepth = 32;

// Entries sort by key and then row pointer, compared byte by byte as stored.
std::string SortBytes(const IndexEntry& e);
// Compares the entry's sort bytes (as SortBytes gives them) with `bytes`, without building them.
int CompareSort(const IndexEntry& e, const std::string& bytes);
// The first entry that does not sort before `bytes`.
std::size_t LowerBound(const std::vector<IndexEntry>& es, const std::string& bytes);
bool SameRow(const IndexEntry& a, const IndexEntry& b);
// The entry without its child pointer, as a parent repeats a leaf's last entry.
IndexEntry LeafPart(const IndexEntry& e);
std::string PageName(std::uint32_t number);

// A page that takes the place of a child in its parent after an edit, with the child's
// last entry when it is known to have changed (nullopt: the parent's entry still holds).
struct Piece {
  std::uint32_t page = 0;
  std::optional<IndexEntry> last;
};

// What goes onto one or more pages of one level.
struct Content {
  bool leaf = true;
  std::vector<IndexEntry> entries;
  std::uint32_t tail = 0;
  std::optional<IndexEntry> tail_last;  // the tail child's last entry, when known
};

// Where pages for splits come from; by default PageEditor::Allocate.
using PageSource = std::function<std::uint32_t()>;

class TreeEditor {
 public:
  TreeEditor(PageEditor& editor, std::uint32_t table_page, PageSource new_page = {});

  // The index page `number`, checked to belong to this table.
  IndexPage Load(std::uint32_t number);
  // The same for a page already read.
  IndexPage Check(std::uint32_t number, const PageRef& page) const;

  // Writes `c` onto page `number` (and new pages after it if it does not fit one), the
  // first page linked back to `prev`, the last forward to `next`. A root that does not fit
  // keeps its page and becomes a node over new pages holding its content. `append` splits
  // off only the last entry, for entries added at the end of the rightmost page, so that
  // rising keys fill pages instead of leaving them half empty.
  std::vector<Piece> Emit(std::uint32_t number, Content c, std::uint32_t prev, std::uint32_t next, bool root,
                          bool append = false);

  // Replaces, in `c`, the child reached through `old` (an entry; nullptr for the tail) by
  // `pieces`. Returns whether the page's bytes change.
  bool Place(Content& c, const IndexEntry* old, std::uint32_t old_child, const std::vector<Piece>& pieces);

  void SetPrev(std::uint32_t page, std::uint32_t prev);
  void SetNext(std::uint32_t page, std::uint32_t next);
  // Counts a write made outside this class, for the edit's statistics.
  void CountWrite() { ++written_; }

  PageEditor& editor() { return ed_; }
  const Format& format() const { return f_; }
  std::uint32_t table() const { return table_; }
  std::size_t written() const { return written_; }
  const std::vector<std::uint32_t>& added() const { return added_; }

 private:
  struct Range {
    std::size_t begin = 0, end = 0;
  };

  // `fresh`: a page just taken for a split, whose bytes of unknown meaning start at zero
  // (a reused page may hold anything).
  void Put(std::uint32_t number, const IndexPage& page, bool fresh = false);
  // The bytes entries [begin, end) take on one page, their shared prefix stored once.
  std::size_t RangeBytes(const std::vector<IndexEntry>& e, std::size_t begin, std::size_t end, bool leaf) const;
  // The end of the longest run of entries from `begin` that fits one page.
  std::size_t RunEnd(const std::vector<IndexEntry>& e, std::size_t begin, bool leaf) const;
  // Cuts entries into runs that each fit a page: as few as possible, of about equal size.
  std::vector<Range> Split(const std::vector<IndexEntry>& e, bool leaf, bool append) const;

  PageEditor& ed_;
  const Format& f_;
  std::uint32_t table_;
  PageSource new_page_;
  std::size_t written_ = 0;
  std::vector<std::uint32_t> added_;
};

}  // namespace jet::index_tree
