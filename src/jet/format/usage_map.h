#pragma once
// Page usage maps: which pages belong to a table (or index). A map is a row on a data
// page, either a bitmap over a page range (type 0) or a list of map pages (type 1),
// each a bitmap over its own stretch of the file.

#include <cstdint>
#include <vector>

#include "jet/format/data_page.h"
#include "jet/pager/pager.h"

namespace jet {

// The pages the map at `where` marks, ascending, those past the end of the file left out.
std::vector<std::uint32_t> ReadUsageMap(Pager& pager, RowPointer where);

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
