#pragma once
// Keeping a table's indexes in step with its rows: the bridge between the table layer
// and the index trees, and the pages the trees give up or take.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/write/editing.h"
#include "jet/pager/transaction.h"
#include "jet/table/row_set.h"

namespace jet::write {

// The name users know a physical index by: of the logical indexes sharing it, the
// primary key, else the first that does not belong to a relationship, else the first.
std::string IndexName(const TableDef& def, std::size_t real_index);

// Removes the entries of `rows` from every physical index of `table`, one pass over each
// tree. Pages a tree gives up are released (see ReleaseIndexPages). A tree the pass finds
// inconsistent fails the statement as corrupt, naming the index and the table. With
// `table_rows` (every row of the table, as the statement read them before changing
// anything), each tree must also hold one entry per row and none for other rows (rows
// with NULL keys may be left out where the index leaves them out).
void RemoveIndexEntries(EditableDatabase& db, EditableTable& table, Transaction& txn, const RowSet& rows,
                        const RowSet* table_rows = nullptr);

// Gives pages an index no longer links to back to the database, as Jet does: each is
// marked in the database's map of free pages and then taken out of the index's own page
// map. A page the free map does not reach stays in the index's map, unlinked, until the
// file is compacted.
void ReleaseIndexPages(Transaction& txn, const RealIndexDef& index, const std::vector<std::uint32_t>& pages);

// Where the splits of an index of the table `def` take their pages: a page the free map
// marks that was an index page of this table and that none of the table's page maps
// claims, else a new page at the end of the file. The page taken is no longer marked
// free; the caller adds it to the index's own page map.
std::function<std::uint32_t()> IndexPageSource(EditableDatabase& db, Transaction& txn, const TableDef& def);

}  // namespace jet::write
