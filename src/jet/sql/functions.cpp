// Arithmetic and the functions of one value.

#include <cstdint>

#include "jet/sql/values.h"

namespace jet::sql {

std::optional<Value> Negative(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null: return v;
    case Value::Kind::Boolean: return Value::Int(v.b ? 1 : 0);
    case Value::Kind::Integer:
      if (v.i == INT64_MIN) return Value::Dec(-static_cast<Int128>(v.i), 0);
      return Value::Int(-v.i);
    case Value::Kind::Currency:
      if (v.i == INT64_MIN) return Value::Dec(-static_cast<Int128>(v.i), 4);
      return Value::Money(-v.i);
    case Value::Kind::Decimal: return Value::Dec(-v.dec, v.scale);
    case Value::Kind::Single: {
      Value out = v;
      out.d = -v.d;
      return out;
    }
    case Value::Kind::Double:
    case Value::Kind::Date: return Value::Dbl(-v.d);
    default: return std::nullopt;
  }
}

std::optional<CivilTime> CivilOf(const Value& v) {
  double days = 0;
  switch (CategoryOf(v.kind)) {
    case Category::Number:
    case Category::Date: days = ToDouble(v); break;
    case Category::Text: {
      auto parsed = ParseDate(v.s);
      if (!parsed) return std::nullopt;
      days = *parsed;
      break;
    }
    default: return std::nullopt;
  }
  CivilTime t;
  if (!FromJetDate(days, &t)) return std::nullopt;
  return t;
}

}  // namespace jet::sql
