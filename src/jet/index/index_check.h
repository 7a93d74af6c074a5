#pragma once
// A check of one index tree's structure, for the database's integrity check: what a
// reader walking the tree by another path (sibling links, a parent's entries, another
// program) relies on.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format/index_page.h"
#include "jet/pager/pager.h"

namespace jet {

struct IndexTreeReport {
  std::vector<std::string> problems;  // one line each, naming the page; empty when sound
  // The pages of each level, the root's first, left to right.
  std::vector<std::vector<std::uint32_t>> levels;
};

// Walks the index rooted at `root_page` of the table defined at `table_page` and checks:
// every page an index page of that table whose free-space count is true; leaf entries in
// strictly rising order of key and row pointer; each node entry equal to the last entry
// of its child; a tail (a node's last child, without an entry) only on nodes, its entries
// after those of the node's other children and bounded by the node's entry in its parent;
// all leaves at one depth;
// each level chained through prev/next both ways in tree order; no page reached twice;
// no empty page but the root. Damage is reported, never thrown or followed into a loop.
// `leaf` (when set) is shown each leaf page the walk reads, in key order, so that a caller
// can check the entries against the rows in the same walk.
IndexTreeReport CheckIndexTree(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
                               const std::function<void(const IndexLeafView&)>& leaf = {});

}  // namespace jet
