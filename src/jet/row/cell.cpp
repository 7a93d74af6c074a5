#include "jet/row/cell.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "jet/format/text.h"
#include "jet/error.h"

namespace jet {
namespace {

[[noreturn]] void Mismatch(const ColumnDef& c, const std::string& table, const std::string& why) {
  throw Error(ErrorCode::TypeMismatch, "Column '" + c.name + "' of table '" + table + "': " + why);
}

// Jet rounds a value that loses its fraction half to even, whatever its type.
std::int64_t RoundScaled(Int128 v, int scale) {
  Int128 p = 1;
  for (int k = 0; k < scale; ++k) p *= 10;
  Int128 q = v / p, r = v % p;
  Int128 ar = r < 0 ? -r : r;
  if (ar > p - ar || (ar == p - ar && q % 2 != 0)) q += v < 0 ? -1 : 1;
  if (q > INT64_MAX || q < INT64_MIN) return q > 0 ? INT64_MAX : INT64_MIN;
  return static_cast<std::int64_t>(q);
}

// A whole number, rounded half to even (the caller checks the column's range).
std::int64_t AsInteger(const ColumnDef& c, const Value& v, const std::string& table) {
  switch (v.kind) {
    case Value::Kind::Integer: return v.i;
    case Value::Kind::Boolean: return v.b ? -1 : 0;
    case Value::Kind::Currency: return RoundScaled(v.i, 4);
    case Value::Kind::Decimal: return RoundScaled(v.dec, v.scale);
    case Value::Kind::Double:
    case Value::Kind::Single:
    case Value::Kind::Date:
      if (std::isfinite(v.d) && std::fabs(v.d) < 9.2e18) return static_cast<std::int64_t>(std::nearbyint(v.d));
      Mismatch(c, table, "the value is out of range");
    default: Mismatch(c, table, "the value is not a number");
  }
}

double AsDouble(const ColumnDef& c, const Value& v, const std::string& table) {
  double d = 0;
  switch (v.kind) {
    case Value::Kind::Integer: d = static_cast<double>(v.i); break;
    case Value::Kind::Boolean: d = v.b ? -1.0 : 0.0; break;
    case Value::Kind::Currency: d = static_cast<double>(v.i) / 10000.0; break;
    case Value::Kind::Decimal: {
      d = static_cast<double>(v.dec);
      for (int k = 0; k < v.scale; ++k) d /= 10.0;
      break;
    }
    case Value::Kind::Double:
    case Value::Kind::Single:
    case Value::Kind::Date: d = v.d; break;
    default: Mismatch(c, table, "the value is not a number");
  }
  if (!std::isfinite(d)) Mismatch(c, table, "the value is not a finite number");
  return d;
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
      cell.i = v.kind == Value::Kind::Boolean ? v.b : AsDouble(c, v, table) != 0;
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
      } else if (v.kind == Value::Kind::Integer || v.kind == Value::Kind::Boolean) {
        const std::int64_t whole = AsInteger(c, v, table);
        if (whole > 922337203685477 || whole < -922337203685477) Mismatch(c, table, "the amount is out of range");
        cell.i = whole * 10000;
      } else if (v.kind == Value::Kind::Decimal && v.scale >= 4) {
        cell.i = RoundScaled(v.dec, v.scale - 4);
        if (cell.i == INT64_MAX || cell.i == INT64_MIN) Mismatch(c, table, "the amount is out of range");
      } else {
        double d = AsDouble(c, v, table) * 10000.0;
        if (std::fabs(d) >= 9.2e18) Mismatch(c, table, "the amount is out of range");
        cell.i = static_cast<std::int64_t>(std::nearbyint(d));
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
      if (v.kind == Value::Kind::Text || v.kind == Value::Kind::Binary || v.kind == Value::Kind::Guid)
        Mismatch(c, table, "the value is not a date");
      cell.d = AsDouble(c, v, table);
      if (cell.d < -657434.0 || cell.d >= 2958466.0) Mismatch(c, table, "the date is out of range");
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
      if (v.kind != Value::Kind::Binary) Mismatch(c, table, "the value is not binary");
      cell.bytes = v.s;
      if (c.type == ColumnType::Binary && cell.bytes.size() > c.length) {
        Mismatch(c, table, "the value is longer than " + std::to_string(c.length) + " bytes");
      }
      break;
    case ColumnType::Guid:
      if ((v.kind != Value::Kind::Guid && v.kind != Value::Kind::Binary) || v.s.size() != 16)
        Mismatch(c, table, "a GUID needs 16 bytes");
      cell.bytes = v.s;
      break;
    default: Mismatch(c, table, "this writer does not store the column's type");
  }
  return cell;
}

}  // namespace jet
