#pragma once
// Keeping a table's indexes in step with its rows: the bridge between the table layer
// and the index trees.

#include <vector>

#include "jet/database.h"
#include "jet/pager/transaction.h"

namespace jet::write {

// Removes the entries of the rows `ids` (sorted) from every physical index of `table`,
// one pass over each tree.
void RemoveIndexEntries(Database& db, Table& table, Transaction& txn, const std::vector<RowId>& ids);

}  // namespace jet::write
