#pragma once
// Index keys as Jet 4 sorts them: per column a flag byte (0x7f ascending, 0x80 descending;
// NULL is 0x00, or 0xff descending) and the value's bytes arranged so that comparing the
// entries byte by byte gives the column order. Descending columns invert the bytes.
//
// Text keys use the "General" sort order of Access 2000 (the one later called General
// Legacy). Only characters that sort by a single code (printable ASCII without the
// apostrophe and the hyphen, which Jet moves to a trailing section) are encoded; other
// text is refused rather than written with a key Jet would not find.

#include <cstdint>
#include <optional>
#include <string>

#include "jet/page/table_def.h"
#include "jet/row/cell.h"

namespace jet {

// The sort code of a character in an index key, or nothing if this writer cannot place it.
std::optional<std::uint8_t> GeneralTextCode(char16_t c, std::uint8_t* second);

// Whether a column of this type can be an index key column.
bool IsIndexable(ColumnType type);

// Appends one column's part of a key. Throws jet::Error (Unsupported) naming `what` for
// text that cannot be encoded.
void AppendKey(std::string* key, const ColumnDef& column, const Cell& cell, bool ascending, const std::string& what);

}  // namespace jet
