#include "jet/row/cell.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "jet/format/text.h"
#include "jet/error.h"

namespace jet {
namespace {

[[noreturn]] void Mismatch(const ColumnDef& c, const std::string& table, const std::string& why) {
  throw Error(ErrorCode::TypeMismatch, "Column '" + c.name + "' of table '" + table + "': " + why);
}

// Jet rounds a value that loses its fraction half to even, whatever its type.
Int128 RoundScaled(Int128 v, int scale) {
  Int128 p = 1;
  for (int k = 0; k < scale; ++k) p *= 10;
  Int128 q = v / p, r = v % p;
  Int128 ar = r < 0 ? -r : r;
  if (ar > p - ar || (ar == p - ar && q % 2 != 0)) q += v < 0 ? -1 : 1;
  return q;
}

// An exact value (Yes/No, a whole number, Currency, Decimal) in units of 10^-scale, rounded
// half to even; false for the other kinds. Far out of any column's range it saturates.
bool ExactScaled(const Value& v, int scale, Int128* out) {
  Int128 x = 0;
  int from = 0;
  switch (v.kind) {
    case Value::Kind::Boolean: x = v.b ? -1 : 0; break;
    case Value::Kind::Integer: x = v.i; break;
    case Value::Kind::Currency:
      x = v.i;
      from = 4;
      break;
    case Value::Kind::Decimal:
      x = v.dec;
      from = v.scale;
      break;
    default: return false;
  }
  if (from >= scale) {
    *out = RoundScaled(x, from - scale);
    return true;
  }
  constexpr Int128 kBeyondAnyColumn = static_cast<Int128>(1) << 100;
  for (int k = from; k < scale; ++k) {
    if (x > kBeyondAnyColumn || x < -kBeyondAnyColumn) break;
    x *= 10;
  }
  *out = x;
  return true;
}

std::int64_t Saturated(Int128 v) {
  if (v > INT64_MAX) return INT64_MAX;
  if (v < INT64_MIN) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

// v / 10^scale as the nearest double. One division is exact enough while both operands
// are exact doubles; beyond that the decimal text is read, which rounds only once.
double ScaledToDouble(Int128 v, int scale) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr Int128 kExactDoubles = static_cast<Int128>(1) << 53;
  if (scale <= 22 && v < kExactDoubles && v > -kExactDoubles)
    return static_cast<double>(static_cast<std::int64_t>(v)) / kPow10[scale];
  __extension__ typedef unsigned __int128 UInt128;
  UInt128 u = v < 0 ? UInt128{0} - static_cast<UInt128>(v) : static_cast<UInt128>(v);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
    u /= 10;
  } while (u != 0);
  const std::string text = (v < 0 ? "-" : "") + digits + "e-" + std::to_string(scale);
  double d = 0;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

// A whole number, rounded half to even (the caller checks the column's range).
std::int64_t AsInteger(const ColumnDef& c, const Value& v, const std::string& table) {
  Int128 exact = 0;
  if (ExactScaled(v, 0, &exact)) return Saturated(exact);
  switch (v.kind) {
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
    case Value::Kind::Currency: d = ScaledToDouble(v.i, 4); break;
    case Value::Kind::Decimal: d = ScaledToDouble(v.dec, v.scale); break;
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
  Cell cell = ToCellOfType(c, v, table);
  CheckCellLength(c, cell, table);
  return cell;
}

void CheckCellLength(const ColumnDef& c, const Cell& cell, const std::string& table) {
  if (c.type == ColumnType::Text && cell.text.size() > c.length / 2u) {
    Mismatch(c, table, "the text is longer than " + std::to_string(c.length / 2u) + " characters");
  }
  if (c.type == ColumnType::Binary && cell.bytes.size() > c.length) {
    Mismatch(c, table, "the value is longer than " + std::to_string(c.length) + " bytes");
  }
}

Cell ToCellOfType(const ColumnDef& c, const Value& v, const std::string& table) {
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
    case ColumnType::Currency: {
      // Exact values convert exactly; only floating ones go through a double.
      Int128 exact = 0;
      if (ExactScaled(v, 4, &exact)) {
        if (exact > INT64_MAX || exact < INT64_MIN) Mismatch(c, table, "the amount is out of range");
        cell.i = static_cast<std::int64_t>(exact);
      } else {
        double d = AsDouble(c, v, table) * 10000.0;
        if (std::fabs(d) >= 9.2e18) Mismatch(c, table, "the amount is out of range");
        cell.i = static_cast<std::int64_t>(std::nearbyint(d));
      }
      break;
    }
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
      break;
    }
    case ColumnType::Binary:
    case ColumnType::Ole:
      if (v.kind != Value::Kind::Binary) Mismatch(c, table, "the value is not binary");
      cell.bytes = v.s;
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
