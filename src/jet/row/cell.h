#pragma once
// The one rule by which a value becomes what a column stores, for every way rows are
// added (SQL statements, the C++ interface, new files): the value checked against the
// column's type and range and converted to the cell the record encoder and the index
// keys take.

#include <cstdint>
#include <string>

#include "jet/format/table_def.h"
#include "jet/value.h"

namespace jet {

// A value checked and converted for one column.
struct Cell {
  bool null = true;
  std::int64_t i = 0;    // Yes/No (0/1), Byte, Integer, Long, Currency (ten-thousandths)
  double d = 0;          // Single, Double, Date/Time
  std::u16string text;   // Text, Memo
  std::string bytes;     // Binary, OLE, GUID
};

// Throws jet::Error (TypeMismatch) naming the table and column when the value does not
// fit the column.
Cell ToCell(const ColumnDef& column, const Value& value, const std::string& table);

}  // namespace jet
