#include "jet/create/row_codec.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "jet/create/text.h"
#include "jet/error.h"

namespace jet::create {
namespace {

[[noreturn]] void Mismatch(const ColumnLayout& c, const std::string& table, const std::string& why) {
  throw Error(ErrorCode::TypeMismatch, "Column '" + c.spec.name + "' of table '" + table + "': " + why);
}

std::int64_t AsInteger(const ColumnLayout& c, const Value& v, const std::string& table) {
  switch (v.kind) {
    case Value::Kind::Integer: return v.i;
    case Value::Kind::Boolean: return v.b ? -1 : 0;
    case Value::Kind::Double:
    case Value::Kind::Single:
      if (std::isfinite(v.d) && v.d == std::trunc(v.d) && std::fabs(v.d) < 9.2e18) {
        return static_cast<std::int64_t>(v.d);
      }
      Mismatch(c, table, "the value is not a whole number");
    default: Mismatch(c, table, "the value is not a number");
  }
}

double AsDouble(const ColumnLayout& c, const Value& v, const std::string& table) {
  switch (v.kind) {
    case Value::Kind::Integer:
    case Value::Kind::Currency: return v.kind == Value::Kind::Currency ? static_cast<double>(v.i) / 10000.0
                                                                       : static_cast<double>(v.i);
    case Value::Kind::Double:
    case Value::Kind::Single:
    case Value::Kind::Date:
      if (!std::isfinite(v.d)) Mismatch(c, table, "the value is not a finite number");
      return v.d;
    default: Mismatch(c, table, "the value is not a number");
  }
}

void CheckRange(const ColumnLayout& c, const std::string& table, std::int64_t v, std::int64_t lo, std::int64_t hi) {
  if (v < lo || v > hi) {
    Mismatch(c, table, "the value " + std::to_string(v) + " is out of range");
  }
}

}  // namespace

Cell ToCell(const ColumnLayout& c, const Value& v, const std::string& table) {
  Cell cell;
  if (v.IsNull()) {
    if (c.spec.type == ColumnType::Boolean) {
      cell.null = false;  // Yes/No has no NULL: it reads as No
    }
    return cell;
  }
  cell.null = false;
  switch (c.spec.type) {
    case ColumnType::Boolean:
      if (v.kind == Value::Kind::Boolean) cell.i = v.b ? 1 : 0;
      else cell.i = AsInteger(c, v, table) != 0 ? 1 : 0;
      break;
    case ColumnType::Byte:
      cell.i = AsInteger(c, v, table);
      CheckRange(c, table, cell.i, 0, 255);
      break;
    case ColumnType::Integer:
      cell.i = AsInteger(c, v, table);
      CheckRange(c, table, cell.i, -32768, 32767);
      break;
    case ColumnType::Long:
      cell.i = AsInteger(c, v, table);
      CheckRange(c, table, cell.i, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
      break;
    case ColumnType::Currency:
      if (v.kind == Value::Kind::Currency) {
        cell.i = v.i;
      } else if (v.kind == Value::Kind::Integer) {
        if (v.i > 922337203685477 || v.i < -922337203685477) Mismatch(c, table, "the amount is out of range");
        cell.i = v.i * 10000;
      } else {
        double d = AsDouble(c, v, table) * 10000.0;
        if (std::fabs(d) >= 9.2e18) Mismatch(c, table, "the amount is out of range");
        cell.i = static_cast<std::int64_t>(std::llround(d));
      }
      break;
    case ColumnType::Single:
    case ColumnType::Double:
      cell.d = AsDouble(c, v, table);
      break;
    case ColumnType::DateTime:
      if (v.kind != Value::Kind::Date && v.kind != Value::Kind::Double) Mismatch(c, table, "the value is not a date");
      if (!std::isfinite(v.d) || v.d < -657434.0 || v.d >= 2958466.0) Mismatch(c, table, "the date is out of range");
      cell.d = v.d;
      break;
    case ColumnType::Text:
    case ColumnType::Memo: {
      if (v.kind != Value::Kind::Text) Mismatch(c, table, "the value is not text");
      cell.text = ToUcs2(v.s, "Column '" + c.spec.name + "' of table '" + table + "'");
      if (c.spec.type == ColumnType::Text && cell.text.size() > static_cast<std::size_t>(c.spec.length)) {
        Mismatch(c, table, "the text is longer than " + std::to_string(c.spec.length) + " characters");
      }
      break;
    }
    case ColumnType::Binary:
    case ColumnType::Ole:
      if (v.kind != Value::Kind::Binary && v.kind != Value::Kind::Text) Mismatch(c, table, "the value is not binary");
      cell.bytes = v.s;
      if (c.spec.type == ColumnType::Binary && cell.bytes.size() > c.stored_length) {
        Mismatch(c, table, "the value is longer than " + std::to_string(c.stored_length) + " bytes");
      }
      break;
    case ColumnType::Guid:
      if (v.s.size() != 16) Mismatch(c, table, "a GUID needs 16 bytes");
      cell.bytes = v.s;
      break;
    default: Mismatch(c, table, "this writer does not store the column's type");
  }
  return cell;
}

LongValueStore::LongValueStore(PageStore* store) : store_(store), shared_(store, kLongValueOwner) {}

std::vector<std::uint32_t> LongValueStore::Pages() const {
  std::vector<std::uint32_t> pages = shared_.Pages();
  pages.insert(pages.end(), chained_.begin(), chained_.end());
  return pages;
}

std::string LongValueStore::Put(const std::string& data) {
  if (data.size() > 0x3fffffff) throw Error(ErrorCode::Unsupported, "A long value is larger than 1 GB");
  std::string ref(kLongValueRefSize, '\0');
  auto* r = reinterpret_cast<std::uint8_t*>(ref.data());
  auto size = static_cast<std::uint32_t>(data.size());
  if (data.size() <= kMaxInlineLongValue) {
    Put32(r, size | 0x80000000u);
    ref += data;
    return ref;
  }
  if (data.size() <= kMaxLongValueRow) {
    auto bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    int slot = shared_.Add(bytes, data.size());
    if (slot < 0) {
      shared_.Close();
      slot = shared_.Add(bytes, data.size());
    }
    Put32(r, size | 0x40000000u);
    Put32(r + 4, RowPointer(shared_.PageNumber(), static_cast<std::uint8_t>(slot)));
    return ref;
  }
  // Split over pages of their own, each chunk led by a pointer to the next.
  const std::size_t chunk = kMaxLongValueRow - 4;
  std::size_t count = (data.size() + chunk - 1) / chunk;
  std::vector<std::uint32_t> pages;
  for (std::size_t k = 0; k < count; ++k) {
    DataPageBuilder page(store_, kLongValueOwner);
    pages.push_back(page.Open());
  }
  for (std::size_t k = 0; k < count; ++k) {
    std::size_t len = std::min(chunk, data.size() - k * chunk);
    std::string row(4, '\0');
    if (k + 1 < count) Put32(reinterpret_cast<std::uint8_t*>(row.data()), RowPointer(pages[k + 1], 0));
    row.append(data, k * chunk, len);
    // Each chunk is the single row of its page.
    std::uint8_t* p = store_->At(pages[k]);
    std::size_t start = kPageSize - row.size();
    std::memcpy(p + start, row.data(), row.size());
    Put16(p + kDataSlotsAt, static_cast<std::uint16_t>(start));
    Put16(p + kDataRowCountAt, 1);
    Put16(p + kDataFreeSpaceAt, static_cast<std::uint16_t>(start - kDataSlotsAt - 2));
  }
  chained_.insert(chained_.end(), pages.begin(), pages.end());
  Put32(r, size);
  Put32(r + 4, RowPointer(pages[0], 0));
  return ref;
}

std::string EncodeRow(const TableLayout& layout, const std::vector<Cell>& cells,
                      const std::vector<LongValueStore*>& long_values) {
  const std::size_t ncols = layout.columns.size();
  std::string row(2 + layout.fixed_size, '\0');
  auto* r = reinterpret_cast<std::uint8_t*>(row.data());
  Put16(r, static_cast<std::uint16_t>(ncols));
  std::string mask((ncols + 7) / 8, '\0');
  std::vector<std::string> var(layout.var_count);
  for (std::size_t k = 0; k < ncols; ++k) {
    const ColumnLayout& c = layout.columns[k];
    const Cell& cell = cells[k];
    bool present = !cell.null;
    if (c.spec.type == ColumnType::Boolean) present = cell.i != 0;
    if (present) mask[c.number / 8] = static_cast<char>(mask[c.number / 8] | (1 << (c.number % 8)));
    if (cell.null) continue;
    std::uint8_t* f = r + 2 + c.fixed_offset;
    switch (c.spec.type) {
      case ColumnType::Boolean: break;
      case ColumnType::Byte: f[0] = static_cast<std::uint8_t>(cell.i); break;
      case ColumnType::Integer: Put16(f, static_cast<std::uint16_t>(cell.i)); break;
      case ColumnType::Long: Put32(f, static_cast<std::uint32_t>(cell.i)); break;
      case ColumnType::Currency: Put64(f, static_cast<std::uint64_t>(cell.i)); break;
      case ColumnType::Single: {
        float x = static_cast<float>(cell.d);
        std::uint32_t bits;
        std::memcpy(&bits, &x, 4);
        Put32(f, bits);
        break;
      }
      case ColumnType::Double:
      case ColumnType::DateTime: PutDouble(f, cell.d); break;
      case ColumnType::Guid: std::memcpy(f, cell.bytes.data(), 16); break;
      case ColumnType::Text:
        var[c.var_index] = StoreText(cell.text, c.spec.compressed);
        break;
      case ColumnType::Binary:
        var[c.var_index] = cell.bytes;
        break;
      case ColumnType::Memo:
        var[c.var_index] = long_values.at(k)->Put(Ucs2Bytes(cell.text));
        break;
      case ColumnType::Ole:
        var[c.var_index] = long_values.at(k)->Put(cell.bytes);
        break;
      default: break;
    }
  }
  if (layout.var_count > 0) {
    std::vector<std::uint16_t> offsets(layout.var_count);
    for (std::size_t v = 0; v < layout.var_count; ++v) {
      offsets[v] = static_cast<std::uint16_t>(row.size());
      row += var[v];
    }
    std::uint16_t eod = static_cast<std::uint16_t>(row.size());
    std::string tail(2 + 2 * layout.var_count + 2, '\0');
    auto* t = reinterpret_cast<std::uint8_t*>(tail.data());
    Put16(t, eod);
    for (std::size_t v = 0; v < layout.var_count; ++v) {
      Put16(t + 2 + 2 * (layout.var_count - 1 - v), offsets[v]);
    }
    Put16(t + 2 + 2 * layout.var_count, layout.var_count);
    row += tail;
  }
  row += mask;
  if (row.size() > kMaxRowSize) {
    throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(row.size()) +
                                            " bytes is larger than a Jet 4 data page can hold");
  }
  return row;
}

}  // namespace jet::create
