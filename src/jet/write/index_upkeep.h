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

// Where a key column of physical index `real_index` stands in the table's rows.
std::size_t KeyColumnPosition(const TableDef& def, std::size_t real_index, const IndexColumnDef& column);

// The rows a physical index must hold one entry for, and those it may hold one entry for
// or none: an ignore-nulls index may leave out rows with a NULL in their key (Jet leaves
// out those whose key is all NULL, other writers more or fewer).
struct IndexRows {
  RowTally must;
  RowSet may;
};

// Tallies, over a read of every row of a table, the rows each of its indexes must hold.
class IndexRowsTally {
 public:
  explicit IndexRowsTally(const TableDef& def);
  // The columns to read: `wanted` and the key columns of the ignore-nulls indexes.
  std::vector<bool> Wanted(std::vector<bool> wanted) const;
  // Whether Add looks at the row's values at all (it does for ignore-nulls indexes).
  bool NeedsValues() const { return !ignoring_.empty(); }
  void Add(RowId id, const Row& row);
  // Per physical index, in the table definition's order.
  std::vector<IndexRows> Take();

 private:
  struct IgnoringNulls {
    std::size_t index;
    std::vector<std::size_t> columns;  // positions in the row
    IndexRows rows;
  };
  std::size_t indexes_;
  RowTally all_;
  std::vector<IgnoringNulls> ignoring_;
};

// Removes the entries of `rows` from every physical index of `table`, one pass over each
// tree. Pages a tree gives up are released (see ReleaseIndexPages). A tree the pass finds
// inconsistent fails the statement as corrupt, naming the index and the table. With
// `expected` (from every row of the table, as the statement read them before changing
// anything), each tree must also hold one entry per row it must hold, none for other
// rows and none twice; the passes use up the sets of rows they may hold.
void RemoveIndexEntries(EditableDatabase& db, EditableTable& table, Transaction& txn, const RowSet& rows,
                        std::vector<IndexRows>* expected = nullptr);

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
