#pragma once
// The copy at the heart of a compaction: every page in use, in file order, written to a
// new file with the free pages left out and every page reference renumbered to match.
//
// Table definition pages keep their numbers: a table's definition page is its object id,
// held in MSysObjects.Id, in permissions (MSysACEs), in relationships between definitions
// and in every data and index page of the table, so leaving those pages where they are
// keeps all of these as they were. The other pages close up around them in their old
// order. Renumbered on the way: row pointers in index entries, child and sibling links of
// index pages, long-value pointers in rows and in chains of long-value rows, the pointers
// of rows moved off their page, index root pages and usage map locations in table
// definitions, and the usage maps themselves (table, index and free-space maps, and the
// database's map of free pages), rebuilt for the new numbers.

#include <cstdint>
#include <vector>

#include "jet/format/data_page.h"
#include "jet/os/env.h"
#include "jet/pager/pager.h"

namespace jet::compact {

class PageCopy {
 public:
  // Reads what the copy needs: the free-page map, the table definitions at
  // `definition_pages` (MSysObjects' own included) and the chains of long values. Throws
  // FormatError for a structure that refers to a page the free-page map calls free, and
  // jet::Error(Unsupported) for one this copy cannot renumber.
  PageCopy(Pager& source, const std::vector<std::uint32_t>& definition_pages);

  // Pages the new file will hold at least (map pages a grown map needs come on top, a few
  // at most).
  std::uint32_t planned_pages() const { return planned_; }

  // Writes the new file through `out` (empty, same format, same database key). Returns
  // its page count. Throws FormatError or jet::Error as above, jet::Error(Io) from `out`.
  std::uint32_t WriteTo(os::File& out);

 private:
  // What the copy reads of a table definition, whatever the types of its columns.
  struct Column {
    std::uint8_t type = 0;
    std::uint16_t number = 0;
    std::uint16_t var_index = 0;
    bool long_value = false;  // memo or OLE: a reference to long-value rows
  };
  struct Table {
    std::uint32_t page = 0;
    std::vector<std::uint32_t> pages;  // the definition's pages, first to last
    RowPointer used_pages, free_pages;
    std::vector<RowPointer> index_maps;
    std::size_t real_indexes_at = 0;   // offset of the first real index entry in the joined bytes
    std::vector<Column> long_values;
    bool var_columns = false;
  };
  static Table ReadTable(Pager& source, std::uint32_t first);
  void Plan();
  void FindLongValueChains(const Table& t);
  std::uint32_t Renumber(std::uint32_t page, const char* what) const;
  std::uint32_t RenumberRow(std::uint32_t raw, const char* what) const;

  void RewriteMaps(os::File& out);
  void CopyDefinition(const Table& t, os::File& out);
  void CopyDataPage(std::uint32_t page, PageData& bytes);
  void RenumberRecord(const Table& t, std::uint8_t* record, std::size_t size);
  void CopyIndexPage(std::uint32_t page, PageData& bytes);
  void Put(os::File& out, std::uint32_t new_page, PageData& bytes);

  Pager* src_;
  const Format* f_;
  std::vector<Table> tables_;
  std::vector<bool> live_;
  std::vector<std::uint32_t> new_;  // per old page; kNone when left out
  std::vector<bool> filled_;        // per new page: something is written there
  std::uint32_t planned_ = 0;
  std::uint32_t next_extra_ = 0;    // where map pages added by a grown map go
  std::vector<std::uint32_t> chain_rows_;   // raw row pointers of long-value chain links, sorted
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> map_rows_;  // raw pointer -> new row
  std::vector<std::uint32_t> written_map_pages_;  // old map pages already written, sorted
};

}  // namespace jet::compact
