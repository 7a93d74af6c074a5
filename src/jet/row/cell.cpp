#include "jet/row/cell.h"

#include <cmath>
#include <limits>

#include "jet/format/text.h"
#include "jet/error.h"

namespace jet {
namespace {

[[noreturn]] void Mismatch(const ColumnDef& c, const std::string& table, const std::string& why) {
  throw Error(ErrorCode::TypeMismatch, "Column '" + c.name + "' of table '" + table + "': " + why);
}

std::int64_t AsInteger(const ColumnDef& c, const Value& v, const std::string& table) {
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

double AsDouble(const ColumnDef& c, const Value& v, const std::string& table) {
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

void CheckRange(const ColumnDef& c, const std::string& table, std::int64_t v, std::int64_t lo, std::int64_t hi) {
  if (v < lo || v > hi) {
    Mismatch(c, table, "the value " + std::to_string(v) + " is out of range");
  }
}

}  // namespace

Cell ToCell(const ColumnDef& c, const Value& v, const std::string& table) {
  Cell cell;
  if (v.IsNull()) {
    if (c.type == ColumnType::Boolean) {
      cell.null = false;  // Yes/No has no NULL: it reads as No
    }
    return cell;
  }
  cell.null = false;
  switch (c.type) {
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
      cell.d = AsDouble(c, v, table);
      if (std::fabs(cell.d) > std::numeric_limits<float>::max()) Mismatch(c, table, "the value is out of range");
      break;
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
      cell.text = ToUcs2(v.s, "Column '" + c.name + "' of table '" + table + "'");
      if (c.type == ColumnType::Text && cell.text.size() > c.length / 2u) {
        Mismatch(c, table, "the text is longer than " + std::to_string(c.length / 2u) + " characters");
      }
      break;
    }
    case ColumnType::Binary:
    case ColumnType::Ole:
      if (v.kind != Value::Kind::Binary && v.kind != Value::Kind::Text) Mismatch(c, table, "the value is not binary");
      cell.bytes = v.s;
      if (c.type == ColumnType::Binary && cell.bytes.size() > c.length) {
        Mismatch(c, table, "the value is longer than " + std::to_string(c.length) + " bytes");
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

}  // namespace jet
