#pragma once
// How a new table's columns are stored: their numbers, fixed offsets and variable slots,
// which is also how its rows are laid out.

#include <cstdint>
#include <string>
#include <vector>

#include "jet/page/table_def.h"
#include "jet/schema.h"

namespace jet::create {

struct TableLayout {
  std::vector<ColumnDef> columns;
  std::uint16_t fixed_size = 0;
  std::uint16_t var_count = 0;
};

// Numbers the columns and assigns storage; throws jet::Error naming the table and column
// for a type this writer does not create or an impossible length.
TableLayout LayOut(const std::string& table, const std::vector<ColumnSpec>& columns, bool system);

bool IsLongValue(ColumnType type);

}  // namespace jet::create
