#pragma once
// The copy at the heart of a compaction: a new file holding what the old one holds,
// without its free pages and with each table's rows packed.
//
// Table definition pages keep their numbers: a table's definition page is its object id,
// held in MSysObjects.Id, in permissions (MSysACEs), in relationships between definitions
// and in every data and index page of the table, so leaving those pages where they are
// keeps all of these as they were. The pages reached from the definitions that are copied
// whole (the pages holding usage maps, map pages, long values) close up around them in
// their old order. Then each table's rows follow, in scan order, packed into full data
// pages byte for byte (a moved row joins the others at its own place), and after them
// the table's indexes, rebuilt from their old entries (keys as stored) with the rows' new
// addresses: the order of the rows is kept, so entries stay in order. Renumbered on the
// way: long-value pointers in rows and in chains of long-value rows, index root pages and
// usage map locations in table definitions, and the usage maps themselves (table, index,
// free-space and memo and OLE columns' maps, and the database's map of free pages),
// rebuilt for the new pages.
//
// A table whose data pages hold something other than its rows (long values, usage maps)
// is not packed: its pages are copied whole, their references renumbered.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/env.h"
#include "jet/format/index_page.h"
#include "jet/page/data_page.h"
#include "jet/pager/pager.h"
#include "jet/row/record.h"

namespace jet::compact {

class PageCopy {
 public:
  // Reads what the copy needs: the table definitions at `definition_pages` (MSysObjects'
  // own included), their usage maps and the long values their rows refer to. Throws
  // FormatError for damage, jet::Error(Unsupported) for a structure this copy cannot
  // renumber.
  PageCopy(Pager& source, const std::vector<std::uint32_t>& definition_pages);

  // Pages the new file holds at most (before the few map pages a grown map may add).
  std::uint32_t planned_pages() const { return planned_; }

  // Writes the new file through `out` (empty, same format, same database key). Returns
  // its page count.
  std::uint32_t WriteTo(os::File& out);

 private:
  // What the copy reads of a table definition, whatever the types of its columns.
  struct Table {
    std::uint32_t page = 0;
    std::vector<std::uint32_t> pages;  // the definition's pages, first to last
    RowId used_pages, free_pages;
    std::vector<RowId> index_maps;  // per real index (null: none)
    std::vector<std::uint32_t> roots;    // per real index
    std::size_t real_indexes_at = 0;     // offset of the first real index entry in the joined bytes
    std::vector<LongColumn> long_values;  // memo and OLE columns
    std::vector<RowId> column_maps;  // Jet 4: each memo and OLE column's used and free map
    std::size_t column_maps_at = 0;      // offset of the first column's entry in the joined bytes
    bool var_columns = false;
    std::vector<std::uint32_t> data_pages;  // old data pages, ascending
    bool packed = true;
    // Written by the copy:
    std::vector<std::uint32_t> new_data_pages;
    std::vector<std::uint32_t> new_roots;
    std::vector<std::vector<std::uint32_t>> new_index_pages;
  };
  static Table ReadTable(Pager& source, std::uint32_t first);

  void Plan();
  void Visit(const Table& t, ByteView record, std::vector<std::uint32_t>* targets);
  std::uint32_t Renumber(std::uint32_t page, const char* what) const;
  std::uint32_t RenumberRow(std::uint32_t raw, const char* what) const;
  std::uint32_t Allocate();

  void PackRows(Table& t, os::File& out);
  std::size_t Room(const PageData& page) const;
  void RebuildIndexes(Table& t, os::File& out);
  void RewriteMaps(os::File& out);
  void CopyDefinition(const Table& t, os::File& out);
  void CopyDataPage(std::uint32_t page, PageData& bytes);
  void RenumberRecord(const Table& t, std::uint8_t* record, std::size_t size);
  void Put(os::File& out, std::uint32_t new_page, PageData& bytes);
  void Flush(os::File& out);

  Pager* src_;
  const Format* f_;
  std::vector<Table> tables_;
  std::vector<bool> live_;           // per old page: copied whole
  std::vector<bool> pinned_;         // per new page: a definition page staying where it is
  std::vector<std::uint32_t> new_;   // per old page copied whole: its new number
  std::vector<bool> filled_;         // per new page: something is written there
  std::uint32_t planned_ = 0;
  std::uint32_t next_ = 0;           // the next new page to allocate
  std::vector<std::uint32_t> chain_rows_;   // raw row pointers of long-value chain links, sorted
  std::vector<std::uint32_t> map_hosts_;    // old pages holding usage map rows, sorted
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> map_rows_;  // raw pointer -> new row
  std::vector<std::uint8_t> pending_;  // pages not yet written, numbered from pending_start_
  std::uint32_t pending_start_ = 0;
  // The rows of the table being packed: where each old data page's rows went.
  struct Moved {
    std::uint32_t first = 0;              // ordinal of the page's first row
    std::array<std::uint64_t, 4> rows{};  // which slots are rows
  };
  std::vector<Moved> moved_;               // per entry of Table::data_pages
  std::vector<std::uint32_t> new_firsts_;  // per new data page: ordinal of its first row
};

}  // namespace jet::compact
