#pragma once
// Jet 4 records, the encoder beside the decoder of record.h: the column count, the fixed
// area, variable data, the variable offset table (stored backwards) and the null mask, in
// which Yes/No columns keep their value. Memo and OLE values are a 12-byte reference,
// followed by the data when it is short enough to stay in the row, otherwise pointing to
// long-value rows that the caller places.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "jet/page/table_def.h"
#include "jet/row/cell.h"

namespace jet {

// Long values up to this size stay inside the record, as Jet keeps short memos.
inline constexpr std::size_t kMaxInlineLongValue = 64;

// Places a long value too large to stay in the record and returns its 12-byte reference.
using PlaceLongValue = std::function<std::string(const ColumnDef& column, const std::string& data)>;

// The record of `cells` (one per column of `def`, in its order). The caller checks that
// the record fits its page.
std::string EncodeRecord(const TableDef& def, const std::vector<Cell>& cells, const PlaceLongValue& long_values);

}  // namespace jet
