#pragma once
// The one rule by which a value becomes what a column stores, for every way rows are
// added (SQL statements, the C++ interface, new files): the value checked against the
// column's type and range and converted to the cell the record encoder and the index
// keys take. Numbers convert between the numeric types, Yes/No and dates as Jet converts
// them (a fraction that must go rounds half to even; Yes is -1; whole numbers, Currency
// and Decimal convert exactly, never through a double they do not fit); a value out of
// the column's range, infinite or not a number is refused, never clipped. Text is only
// taken by text columns: reading text as a number or a date is the SQL layer's, whose
// converted values come here like any other.

#include <cstdint>
#include <string>

#include "jet/page/table_def.h"
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
// fit the column; NULL in a Yes/No column is No.
Cell ToCell(const ColumnDef& column, const Value& value, const std::string& table);

// ToCell's two steps, for a caller that reports their refusals apart: the value made the
// column's type within its range, then the cell's length checked against the column's.
Cell ToCellOfType(const ColumnDef& column, const Value& value, const std::string& table);
void CheckCellLength(const ColumnDef& column, const Cell& cell, const std::string& table);

}  // namespace jet
