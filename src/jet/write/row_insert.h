#pragma once
// Appending one row to a Jet 4 table inside the database's current statement: the record
// encoded, placed where the table's free-space map finds room (jet/table/row_placement.h),
// its long values on pages of their own, an autonumber handed out, an entry
// added to every index, and the relationships in which the table refers to another
// checked.

#include "jet/write/editing.h"

namespace jet::write {

void InsertRow(EditableDatabase& db, EditableTable& table, const Row& values);

}  // namespace jet::write
