#pragma once
// Deleting rows of a table inside the database's current statement, with their long
// values, index entries and, through relationships, the rows that depend on them.
// Table::DeleteRows comes here; appending rows lives in row_insert.h.

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/write/editing.h"

namespace jet::write {

// See Table::DeleteRows.
std::int64_t DeleteRows(EditableDatabase& db, EditableTable& table, const std::vector<RowId>& ids);

// See TableSource::DeleteWhere. The chosen rows go in batches of a bounded size, each
// through the indexes in one pass, all inside the one statement; a table that others
// refer to through enforced relationships takes its rows in one batch, so that what a
// cascade takes is judged against the whole set. With `same`, each row's stored date is
// compared where it lies, and no row is read into values.
std::int64_t DeleteWhere(EditableDatabase& db, EditableTable& table, const std::vector<bool>& wanted,
                         const std::function<bool(const Row&)>& matches, const DateComparison* same = nullptr);

// A row's values in the columns at `positions` as one byte string that is equal for
// values Jet considers equal in a relationship (text as KeyText gives it: case aside and
// without trailing spaces, as the indexes that enforce the relationship compare it);
// nothing when one of them is NULL, since NULL never refers to anything.
bool RelationKey(const Row& row, const std::vector<std::size_t>& positions, std::string* key);

}  // namespace jet::write
