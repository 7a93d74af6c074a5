#pragma once
// Page usage maps: which pages belong to a table, an index or a column's long values,
// and which of a table's data pages have room (its free-space map), and the database's
// own map of free pages. A map is a row on a data page, either a bitmap over a page range
// kept in the row (type 0) or a list of map pages (type 1), each a bitmap over its own
// stretch of the file.
//
// Reading goes through the pager (or a statement's editor); changing through the
// statement's PageEditor, which new files implement too.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/page/data_page.h"
#include "jet/pager/page_editor.h"
#include "jet/pager/pager.h"

namespace jet {

// The pages the map at `where` marks, ascending, those past the end of the file left out.
std::vector<std::uint32_t> ReadUsageMap(Pager& pager, RowId where);
// The same, through a statement's editor, leaving out pages from `page_count` on.
std::vector<std::uint32_t> ReadUsageMap(PageEditor& editor, RowId where, std::uint32_t page_count);

// The row of an empty map, as Jet writes one for a new table.
std::string EmptyUsageMapRow();

// The database's own map of free pages: the first row of page 1, a bit set for every page
// nothing uses (those past the end of the file included).
inline constexpr RowId kFreePageMap{1, 0};

// How far a change may take a map to reach the pages it marks.
enum class MapReach {
  // Only as far as the map reaches now: its inline bitmap's stretch, the map pages it
  // lists. For maps that only advise or that others keep complete.
  Existing,
  // An inline bitmap may also move its first page, when every page it marks then fits;
  // no map page is added. For the free-space maps, where a page left out is merely not
  // offered.
  MoveStart,
  // The map may also become a list of map pages and take new map pages. For the maps
  // that must name every page they own; jet::Error(Unsupported) for a page no map of
  // that size can reach.
  Grow,
};

// Sets (`on`) or clears the bits of `pages` (ascending) in the map at `where`, through
// `editor`, as far as `reach` lets it. Returns how many of `pages` the map reaches, which
// it now marks or no longer marks; clearing never changes how far a map reaches. Pages
// whose bit is already as asked are left unwritten. Throws FormatError for a map that is
// not one.
std::size_t EditUsageMap(PageEditor& editor, RowId where, std::span<const std::uint32_t> pages, bool on,
                         MapReach reach);
// The same for one page; whether the map reaches it.
inline bool EditUsageMap(PageEditor& editor, RowId where, std::uint32_t page, bool on, MapReach reach) {
  return EditUsageMap(editor, where, std::span<const std::uint32_t>(&page, 1), on, reach) == 1;
}

}  // namespace jet
