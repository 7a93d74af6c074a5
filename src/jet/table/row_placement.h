#pragma once
// Where a new row of a table goes. Statements and new files both place rows here, so that
// a table's data pages, its page map and its free-space map are kept one way.
//
// Jet lists in a table's free-space map the data pages that may take more rows: a new
// page goes into it, and a page leaves it when a row is found not to fit there (pages
// filled to the last bytes by Access are missing from the maps of its files, while pages
// with room are all there). Deleting rows, which gives pages room again, is the other side.

#include <cstdint>
#include <string_view>

#include "jet/page/data_page.h"
#include "jet/pager/page_editor.h"

namespace jet {

struct TablePages {
  std::uint32_t definition = 0;  // the table definition's page, which its data pages name
  RowId used;               // map of the table's data pages
  RowId free;               // its free-space map; null in a file that has none
};

// Places the rows of a table for the length of one statement or one bulk load. A row goes
// on the first page of the free-space map that has room for it, the pages tried before it
// taken out of the map; without a free-space map on the last data page when it has room;
// else on a new page, which joins both maps. Pages the free-space map lists that are not
// data pages of the table are taken out of it and never written.
//
// The placement remembers the page that took the last row and tries it first: while it has
// room it is the map's first page with room, so the map is read again only once that page
// is full, and the pages found full then have left the map. Pages that deletes in the same
// statement give room are taken once the remembered page is full.
class RowPlacement {
 public:
  // `page_count` is the number of pages in the file (pages past it are not looked at).
  // Throws FormatError for a damaged map and jet::Error(Unsupported) for a record larger
  // than a page can hold.
  RowId Place(PageEditor& editor, const TablePages& table, std::string_view record, std::uint32_t page_count);

 private:
  std::uint32_t table_ = 0;  // the definition page of the table `last_` belongs to
  std::uint32_t last_ = 0;   // the page that took the last row; 0 for none
};

}  // namespace jet
