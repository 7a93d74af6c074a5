#include "jet/create/table_layout.h"

#include "jet/error.h"

namespace jet::create {
namespace {

bool Textual(ColumnType type) { return type == ColumnType::Text || type == ColumnType::Memo; }

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
    ColumnDef c;
    c.name = spec.name;
    c.type = spec.type;
    c.raw_type = static_cast<std::uint8_t>(spec.type);
    c.number = number++;
    c.compressed = Textual(spec.type) && spec.compressed;
    if (Textual(spec.type) || system) c.sort_order = kSortGeneral;
    if (spec.autonumber && spec.type != ColumnType::Long) {
      throw Error(ErrorCode::Unsupported, what + ": only Long columns can be autonumbers");
    }
    const std::uint8_t system_flag = system ? 0x10 : 0;
    int fixed = FixedColumnSize(spec.type);
    if (fixed >= 0 && spec.type != ColumnType::Numeric) {
      c.fixed_offset = out.fixed_size;
      c.length = static_cast<std::uint16_t>(spec.type == ColumnType::Boolean ? 1 : fixed);
      out.fixed_size = static_cast<std::uint16_t>(out.fixed_size + fixed);
      c.flags = static_cast<std::uint8_t>(kColumnFixed | kColumnNullable | (spec.autonumber ? kColumnAutoLong : 0) |
                                          system_flag);
    } else if (spec.type == ColumnType::Text || spec.type == ColumnType::Binary) {
      if (spec.length < 1 || spec.length > 255) {
        throw Error(ErrorCode::Unsupported, what + ": length must be 1 to 255");
      }
      c.var_index = out.var_count++;
      c.length = static_cast<std::uint16_t>(spec.type == ColumnType::Text ? spec.length * 2 : spec.length);
      c.flags = static_cast<std::uint8_t>(kColumnNullable | system_flag);
    } else if (IsLongValue(spec.type)) {
      c.var_index = out.var_count++;
      c.length = 0;
      c.flags = static_cast<std::uint8_t>(kColumnNullable | system_flag);
    } else {
      throw Error(ErrorCode::Unsupported, what + ": this writer does not create columns of type " +
                                              std::to_string(static_cast<int>(spec.type)));
    }
    out.columns.push_back(std::move(c));
  }
  return out;
}

}  // namespace jet::create
