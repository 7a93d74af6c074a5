#include "jet/create/schema.h"

#include "jet/error.h"

namespace jet::create {
namespace {

int FixedSize(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean: return 0;  // lives in the null mask
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    default: return -1;
  }
}

}  // namespace

bool IsLongValue(ColumnType type) { return type == ColumnType::Memo || type == ColumnType::Ole; }

TableLayout LayOut(const std::string& table, const std::vector<ColumnSpec>& columns, bool system) {
  if (columns.empty()) throw Error(ErrorCode::Unsupported, "Table '" + table + "' has no columns");
  if (columns.size() > 255) throw Error(ErrorCode::Unsupported, "Table '" + table + "' has more than 255 columns");
  TableLayout out;
  std::uint16_t number = 0;
  for (const ColumnSpec& spec : columns) {
    std::string what = "Column '" + spec.name + "' of table '" + table + "'";
    if (spec.name.empty() || spec.name.size() > 64) throw Error(ErrorCode::Unsupported, what + ": bad name length");
    ColumnLayout c;
    c.spec = spec;
    c.number = number++;
    if (spec.autonumber && spec.type != ColumnType::Long) {
      throw Error(ErrorCode::Unsupported, what + ": only Long columns can be autonumbers");
    }
    int fixed = FixedSize(spec.type);
    if (fixed >= 0) {
      c.fixed = true;
      c.fixed_offset = out.fixed_size;
      c.stored_length = static_cast<std::uint16_t>(spec.type == ColumnType::Boolean ? 1 : fixed);
      out.fixed_size = static_cast<std::uint16_t>(out.fixed_size + fixed);
      c.flags = static_cast<std::uint8_t>(0x01 | 0x02 | (spec.autonumber ? 0x04 : 0) | (system ? 0x10 : 0));
    } else if (spec.type == ColumnType::Text || spec.type == ColumnType::Binary) {
      if (spec.length < 1 || spec.length > 255) {
        throw Error(ErrorCode::Unsupported, what + ": length must be 1 to 255");
      }
      c.fixed = false;
      c.var_index = out.var_count++;
      c.stored_length = static_cast<std::uint16_t>(spec.type == ColumnType::Text ? spec.length * 2 : spec.length);
      c.flags = static_cast<std::uint8_t>(0x02 | (system ? 0x10 : 0));
    } else if (IsLongValue(spec.type)) {
      c.fixed = false;
      c.var_index = out.var_count++;
      c.stored_length = 0;
      c.flags = static_cast<std::uint8_t>(0x02 | (system ? 0x10 : 0));
    } else {
      throw Error(ErrorCode::Unsupported, what + ": this writer does not create columns of type " +
                                              std::to_string(static_cast<int>(spec.type)));
    }
    out.columns.push_back(std::move(c));
  }
  return out;
}

}  // namespace jet::create
