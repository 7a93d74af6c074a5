#include "jet/row/record_encoder.h"

#include <algorithm>
#include <cstring>

#include "jet/format/bytes.h"
#include "jet/format/text.h"

namespace jet {
namespace {

struct Shape {
  std::uint16_t columns = 0;     // entries in the null mask
  std::uint16_t fixed_size = 0;  // bytes of the fixed area
  std::uint16_t var_count = 0;   // entries in the variable offset table
  bool has_var = false;          // a record of this table carries the variable table
};

Shape ShapeOf(const TableDef& def) {
  Shape s;
  s.has_var = def.var_columns > 0;
  for (const ColumnDef& c : def.columns) {
    s.columns = std::max<std::uint16_t>(s.columns, static_cast<std::uint16_t>(c.number + 1));
    if (c.fixed()) {
      if (c.type != ColumnType::Boolean)
        s.fixed_size = std::max<std::uint16_t>(s.fixed_size, static_cast<std::uint16_t>(c.fixed_offset + c.length));
    } else {
      s.has_var = true;
      s.var_count = std::max<std::uint16_t>(s.var_count, static_cast<std::uint16_t>(c.var_index + 1));
    }
  }
  s.columns = std::max(s.columns, def.max_columns);
  return s;
}

void PutFixed(std::uint8_t* f, const ColumnDef& c, const Cell& cell) {
  switch (c.type) {
    case ColumnType::Byte: Put8(f, static_cast<std::uint8_t>(cell.i)); break;
    case ColumnType::Integer: Put16(f, static_cast<std::uint16_t>(cell.i)); break;
    case ColumnType::Long: Put32(f, static_cast<std::uint32_t>(cell.i)); break;
    case ColumnType::Currency: Put64(f, static_cast<std::uint64_t>(cell.i)); break;
    case ColumnType::Single: PutF32(f, static_cast<float>(cell.d)); break;
    case ColumnType::Double:
    case ColumnType::DateTime: PutF64(f, cell.d); break;
    case ColumnType::Guid:
    case ColumnType::Binary:
      std::memcpy(f, cell.bytes.data(), std::min<std::size_t>(cell.bytes.size(), c.length));
      break;
    default: break;
  }
}

std::string LongValue(const ColumnDef& c, const std::string& data, const PlaceLongValue& long_values) {
  if (data.size() > kMaxInlineLongValue) return long_values(c, data);
  std::string ref(kLongValueRefSize, '\0');
  Put32(reinterpret_cast<std::uint8_t*>(ref.data()), static_cast<std::uint32_t>(data.size()) | kLongValueInline);
  return ref + data;
}

std::string VariableBytes(const ColumnDef& c, const Cell& cell, const PlaceLongValue& long_values) {
  switch (c.type) {
    case ColumnType::Text: return StoreText(cell.text, c.compressed);
    case ColumnType::Binary: return cell.bytes;
    case ColumnType::Memo: return LongValue(c, Ucs2Bytes(cell.text), long_values);
    case ColumnType::Ole: return LongValue(c, cell.bytes, long_values);
    default: return {};
  }
}

// The variable data, then the end of data, the offsets (last column first) and their count.
void AppendVariablePart(std::string* row, const std::vector<std::string>& var) {
  const auto count = static_cast<std::uint16_t>(var.size());
  std::vector<std::uint16_t> offsets(count);
  for (std::size_t v = 0; v < count; ++v) {
    offsets[v] = static_cast<std::uint16_t>(row->size());
    *row += var[v];
  }
  std::string tail(2 + 2u * count + 2, '\0');
  auto* t = reinterpret_cast<std::uint8_t*>(tail.data());
  Put16(t, static_cast<std::uint16_t>(row->size()));
  for (std::size_t v = 0; v < count; ++v) Put16(t + 2 + 2 * (count - 1 - v), offsets[v]);
  Put16(t + 2 + 2u * count, count);
  *row += tail;
}

}  // namespace

std::string EncodeRecord(const TableDef& def, const std::vector<Cell>& cells, const PlaceLongValue& long_values) {
  const Shape shape = ShapeOf(def);
  std::string row(2 + shape.fixed_size, '\0');
  Put16(reinterpret_cast<std::uint8_t*>(row.data()), shape.columns);
  std::string mask((shape.columns + 7) / 8, '\0');
  std::vector<std::string> var(shape.var_count);
  for (std::size_t k = 0; k < def.columns.size(); ++k) {
    const ColumnDef& c = def.columns[k];
    const Cell& cell = cells.at(k);
    const bool present = c.type == ColumnType::Boolean ? cell.i != 0 : !cell.null;
    if (present) mask[c.number / 8] = static_cast<char>(mask[c.number / 8] | (1 << (c.number % 8)));
    if (cell.null || c.type == ColumnType::Boolean) continue;
    if (c.fixed())
      PutFixed(reinterpret_cast<std::uint8_t*>(row.data() + 2 + c.fixed_offset), c, cell);
    else
      var.at(c.var_index) = VariableBytes(c, cell, long_values);
  }
  if (shape.has_var) AppendVariablePart(&row, var);
  row += mask;
  return row;
}

}  // namespace jet
