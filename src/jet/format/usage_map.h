#pragma once
// Page usage maps: which pages belong to a table, an index or a column's long values,
// and which of a table's data pages have room (its free-space map). A map is a row on a
// data page, either a bitmap over a page range kept in the row (type 0) or a list of map
// pages (type 1), each a bitmap over its own stretch of the file.
//
// Reading goes through the pager (or a statement's editor); adding and removing pages
// through the statement's PageEditor, which new files implement too.

#include <cstdint>
#include <string>
#include <vector>

#include "jet/format/data_page.h"
#include "jet/pager/page_editor.h"
#include "jet/pager/pager.h"

namespace jet {

// The pages the map at `where` marks, ascending, those past the end of the file left out.
std::vector<std::uint32_t> ReadUsageMap(Pager& pager, RowPointer where);
// The same, through a statement's editor, leaving out pages from `page_count` on.
std::vector<std::uint32_t> ReadUsageMap(PageEditor& editor, RowPointer where, std::uint32_t page_count);

// The row of an empty map, as Jet writes one for a new table.
std::string EmptyUsageMapRow();

// Marks `page` in the map at `where`: in the bitmap kept in the row when it reaches that
// far (moving the bitmap's start when the map is empty or all pages fit a new start),
// else in map pages, the row turned into a list of them if need be. Throws
// jet::Error(Unsupported) for a page no map of that size can reach.
void AddToUsageMap(PageEditor& editor, RowPointer where, std::uint32_t page);
// Clears `page` in the map at `where`; nothing happens when it is not marked.
void RemoveFromUsageMap(PageEditor& editor, RowPointer where, std::uint32_t page);

}  // namespace jet

namespace jet {

class PageEditor;

// Sets the bits of `pages` (ascending) in the map at `where`, through `editor`, as far as
// the map reaches without growing: an inline bitmap moves its first page down when
// that lets it hold every page it marks, a map of bitmap pages marks pages whose bitmap
// page exists. Returns how many of `pages` the map now marks. For maps that only advise
// (the free-space maps), where a page left out is merely not offered.
std::size_t MarkInUsageMap(PageEditor& editor, RowPointer where, const std::vector<std::uint32_t>& pages);

}  // namespace jet

// ---- Changing a map through a statement's PageEditor ----

namespace jet {

class PageEditor;

// The database's own map of free pages: the first row of page 1, a bit set for every page
// nothing uses (those past the end of the file included).
inline constexpr RowPointer kFreePageMap{1, 0};

// Sets (`on`) or clears the bit of `page` in the map at `where`, as far as the map already
// reaches it: an inline bitmap's stretch, or a bitmap page the map lists. Returns false,
// changing nothing, where it does not (no map page is added here). Throws FormatError for a
// map that is not one.
bool SetUsageMapBit(PageEditor& editor, RowPointer where, std::uint32_t page, bool on);

}  // namespace jet
