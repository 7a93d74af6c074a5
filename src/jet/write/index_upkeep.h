#pragma once
// Keeping a table's indexes in step with its rows: the bridge between the table layer
// and the index trees.

#include <string>
#include <vector>

#include "jet/write/editing.h"
#include "jet/pager/transaction.h"

namespace jet::write {

// The name users know a physical index by: of the logical indexes sharing it, the
// primary key, else the first that does not belong to a relationship, else the first.
std::string IndexName(const TableDef& def, std::size_t real_index);

// Removes the entries of the rows `ids` (sorted) from every physical index of `table`,
// one pass over each tree.
void RemoveIndexEntries(EditableDatabase& db, EditableTable& table, Transaction& txn, const std::vector<RowId>& ids);

}  // namespace jet::write
