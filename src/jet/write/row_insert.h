#pragma once
// Appending one row to a Jet 4 table inside the database's current statement: the record
// encoded, placed where the table's free-space map finds room (jet/table/row_placement.h),
// its long values on pages of their own, an autonumber handed out, an entry
// added to every index, and the relationships in which the table refers to another
// checked. Each value becomes its cell once, by ToCell's rule; `misfit` as in
// TableSource::InsertRow.

#include <functional>

#include "jet/write/editing.h"

namespace jet::write {

void InsertRow(EditableDatabase& db, EditableTable& table, const Row& values,
               const std::function<void(std::size_t)>& misfit);

}  // namespace jet::write
