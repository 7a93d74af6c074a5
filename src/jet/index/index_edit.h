#pragma once
// Changing the index trees of an existing file while rows are deleted or added, through
// the statement's PageEditor.
//
// Tree shape kept (as Jet writes it): leaves hold (key, row pointer) entries in byte order
// of key followed by the pointer; leaves of one level and node pages of one level are
// chained through prev/next; each node entry repeats the last entry of its child; a
// node page may keep its last child as its "tail" instead of an entry (Access does so on
// the rightmost node of a level, other writers on any node), so that appends at the end
// of the index need not touch the nodes above. The root
// keeps its page: an emptied index is an empty root leaf, and a full root moves its
// entries down into new pages instead of being replaced, so the table definition never
// needs a new root page from these functions.
//
//   auto removed = jet::RemoveIndexRows(editor, table_page, index.root_page, rows);
//   jet::InsertIndexEntry(editor, table_page, index.root_page, key, id, {.unique = true, .index_name = "PrimaryKey"});

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format/format.h"
#include "jet/format/index_page.h"
#include "jet/pager/page_editor.h"
#include "jet/table/row_set.h"
#include "jet/table_source.h"

namespace jet {

// ---- Deleting rows ----

// Pages an edit took or gave up, for the index's own map of the pages it owns (the
// real index's "used pages" in the table definition), which the caller keeps.
struct IndexRemoval {
  std::size_t entries_removed = 0;
  std::size_t pages_written = 0;  // writes through PageEditor::Write (a page may count more than once)
  std::size_t pages_freed = 0;    // emptied pages handed to PageEditor::Free
  std::uint32_t root_page = 0;    // unchanged: the root keeps its page
  std::vector<std::uint32_t> freed{};  // the pages freed
  std::vector<std::uint32_t> added{};  // pages allocated (rare: a node whose entries grew past a page)
};

// Removes every leaf entry of the index rooted at `root_page` (of the table defined at
// `table_page`) whose row is in `rows`, however many they are. One pass over the tree, left to right, holding one page per level: leaves that
// lost entries are rewritten, emptied pages are unlinked from their level, dropped from
// their parent and freed, parents are brought up to date with their children's last
// entries, and a root left with one child takes that child's place. Rows not in the index
// are ignored (an index may leave out NULL keys). Throws FormatError for pages that are
// not index pages of this table, loops, or a tree deeper than any real one, and for a tree
// the pass finds inconsistent on its way: a level's pages not linked both ways in order,
// leaf entries not rising strictly, a node entry other than its child's last entry, a
// wrong free-space count. With `met`, adds to it the row of every leaf entry, for the
// caller to hold against the rows the index must have an entry for; but an entry for a
// row of `may` takes that row out of `may` instead (so that a second entry for it is
// tallied). Pages already written stay for the caller's statement to undo.
IndexRemoval RemoveIndexRows(PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page, const RowSet& rows,
                             RowTally* met = nullptr, RowSet* may = nullptr);

// ---- Adding a row ----

struct IndexInsertOptions {
  // Refuse a key already present. Leave off for a key with a NULL column: Jet lets those
  // repeat in a unique index.
  bool unique = false;
  std::string index_name{};  // for error descriptions
  std::string table_name{};
  // Where pages for splits come from (a released page of the index, say); by default
  // PageEditor::Allocate.
  std::function<std::uint32_t()> new_page{};
};

struct IndexInsertion {
  std::uint32_t root_page = 0;  // unchanged: a root split keeps the root's page
  std::size_t pages_added = 0;  // pages taken from PageEditor::Allocate by splits
  std::vector<std::uint32_t> added{};  // their numbers
};

// Adds the entry (key, row) in order: after entries of equal key with lower row pointers,
// before those with higher ones. A full page splits into two halves, the new page linked
// in after it and announced to its parent, up to the root. `key` is the encoded key
// (for Jet 4 see jet/index/index_key.h). Throws jet::Error(Integrity) naming the index
// and table when `options.unique` and the key is present (nothing is changed then), and
// FormatError for a damaged tree or a key too long for an index page.
IndexInsertion InsertIndexEntry(PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page,
                                const std::string& key, RowId row, const IndexInsertOptions& options = {});

}  // namespace jet
