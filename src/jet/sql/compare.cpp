#include <cmath>
#include <functional>

#include "jet/datetime.h"
#include "jet/sql/number.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

int CompareExact(const Exact& a, const Exact& b) {
  Int128 x = a.v;
  Int128 y = b.v;
  // When one side cannot be brought to the other's scale, its magnitude exceeds
  // anything the other can hold, so its sign decides.
  if (a.scale < b.scale && !ScaleUp(x, b.scale - a.scale, &x)) return a.v > 0 ? 1 : -1;
  if (b.scale < a.scale && !ScaleUp(y, a.scale - b.scale, &y)) return b.v > 0 ? -1 : 1;
  return x < y ? -1 : (x > y ? 1 : 0);
}

int CompareDoubles(double a, double b) {
  bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

Category CategoryOf(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Null: return Category::Null;
    case Value::Kind::Boolean:
    case Value::Kind::Integer:
    case Value::Kind::Currency:
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::Decimal: return Category::Number;
    case Value::Kind::Date: return Category::Date;
    case Value::Kind::Text: return Category::Text;
    case Value::Kind::Binary: return Category::Binary;
    case Value::Kind::Guid: return Category::Guid;
  }
  return Category::Null;
}

Category CategoryOf(ColumnType type) {
  switch (type) {
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::Numeric: return Category::Number;
    case ColumnType::DateTime: return Category::Date;
    case ColumnType::Text:
    case ColumnType::Memo: return Category::Text;
    case ColumnType::Binary:
    case ColumnType::Ole: return Category::Binary;
    case ColumnType::Guid: return Category::Guid;
  }
  return Category::Null;
}

bool Comparable(Category a, Category b) {
  if (a == Category::Null || b == Category::Null || a == b) return true;
  auto numeric = [](Category c) { return c == Category::Number || c == Category::Date; };
  return numeric(a) && numeric(b);
}

const char* CategoryName(Category c) {
  switch (c) {
    case Category::Null: return "NULL";
    case Category::Number: return "a number";
    case Category::Date: return "a date";
    case Category::Text: return "text";
    case Category::Binary: return "binary data";
    case Category::Guid: return "a GUID";
  }
  return "a value";
}

// Text in statements compares as names do: trailing spaces count.
int CompareText(std::string_view a, std::string_view b) { return CompareFolded(a, b); }
int CompareValues(const Value& a, const Value& b) {
  Category ca = CategoryOf(a.kind), cb = CategoryOf(b.kind);
  if (ca == Category::Text) return CompareText(a.s, b.s);
  if (ca == Category::Binary || ca == Category::Guid) {
    int c = a.s.compare(b.s);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (ca == Category::Date || cb == Category::Date) {
    return CompareJetDates(ToDouble(a), ToDouble(b));
  }
  if (IsFloating(a.kind) || IsFloating(b.kind)) return CompareDoubles(ToDouble(a), ToDouble(b));
  return CompareExact(*AsExact(a), *AsExact(b));
}

std::size_t HashValue(const Value& v) {
  switch (CategoryOf(v.kind)) {
    case Category::Null: return 0;
    case Category::Number:
    case Category::Date: {
      double o = JetDateOrdinal(ToDouble(v));
      if (std::isnan(o)) return 0x7ff8;
      if (o == 0) o = 0;  // -0 and +0 are the same number
      return std::hash<double>{}(o);
    }
    case Category::Text: return std::hash<std::string>{}(FoldCase(v.s));
    case Category::Binary:
    case Category::Guid: return std::hash<std::string>{}(v.s);
  }
  return 0;
}
std::optional<Truth> TruthOf(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null: return Truth::Unknown;
    case Value::Kind::Boolean: return v.b ? Truth::True : Truth::False;
    case Value::Kind::Integer:
    case Value::Kind::Currency: return v.i != 0 ? Truth::True : Truth::False;
    case Value::Kind::Decimal: return v.dec != 0 ? Truth::True : Truth::False;
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::Date: return v.d != 0 ? Truth::True : Truth::False;
    default: return std::nullopt;
  }
}

}  // namespace jet::sql
