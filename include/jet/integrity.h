#pragma once
// A check of a database's consistency, as SQLite's integrity_check: every table's recorded
// row count against its rows, and every index against the table it belongs to (entries
// in key order, each row once, no entry for a row that is gone, every row present unless
// the index leaves NULL keys out), in the same single walk of each index tree that checks
// its shape (page types and owners, sibling links both ways, node entries bounding their
// children, leaves at one depth, no page reached twice). The database-wide check also
// holds the pages of rows and trees against the page maps (claimed by their own map, not
// marked free). Damage that makes a
// structure unreadable is reported as a problem of that table rather than thrown.

#include <string>
#include <vector>

#include "jet/database.h"

namespace jet {

// The problems found in the user tables, one line each naming the table and index (and
// page); empty when they are consistent. (System tables are Jet's own, some with column
// types this engine does not read.) Throws only what opening a table throws for a file
// that cannot be read.
std::vector<std::string> CheckIntegrity(Database& db);
std::vector<std::string> CheckIntegrity(Table& table);

}  // namespace jet
