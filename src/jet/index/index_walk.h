#pragma once
// Walking a physical index: from its root through node pages down to the leaves, in key
// order. Jet appends to the last leaf through "tail" pointers before the nodes above
// learn of it, so those are followed too.

#include <cstdint>
#include <functional>

#include "jet/format/index_page.h"
#include "jet/pager/pager.h"

namespace jet {

// Visits every leaf entry of the index rooted at `root_page` that belongs to the table
// defined at `table_page`; `visit` returns false to stop. Throws FormatError for pages
// that are not index pages of that table, loops, or a tree deeper than any real one.
void WalkIndex(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
               const std::function<bool(const IndexEntry&)>& visit);

// The same walk a leaf page at a time, each read where its entries lie.
void WalkIndexLeaves(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
                     const std::function<bool(const IndexLeafView&)>& visit);

}  // namespace jet
