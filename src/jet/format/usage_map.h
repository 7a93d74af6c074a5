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

namespace jet {

class PageEditor;

// Sets the bits of `pages` (ascending) in the map at `where`, through `editor`, as far as
// the map reaches without growing: an inline bitmap moves its first page down when
// that lets it hold every page it marks, a map of bitmap pages marks pages whose bitmap
// page exists. Returns how many of `pages` the map now marks. For maps that only advise
// (the free-space maps), where a page left out is merely not offered.
std::size_t MarkInUsageMap(PageEditor& editor, RowPointer where, const std::vector<std::uint32_t>& pages);

}  // namespace jet
