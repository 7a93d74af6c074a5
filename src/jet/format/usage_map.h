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
