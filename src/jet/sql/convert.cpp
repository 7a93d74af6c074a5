#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>

#include "jet/sql/number.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

// Jet's date range: 1 January 100 to 31 December 9999.
constexpr double kFirstDate = -657434.0;
constexpr double kPastLastDate = 2958466.0;

// Whole number, rounded half to even; nullopt for what has no numeric value or is far
// out of any integer column's range.
std::optional<Int128> ToWhole(const Value& v);
std::optional<Int128> ToScaled4(const Value& v);

std::optional<Value> NumberFromText(const Value& v) {
  if (v.kind != Value::Kind::Text) return std::nullopt;
  return ParseNumber(v.s, true);
}

std::optional<Int128> ToWhole(const Value& v) {
  if (auto e = AsExact(v)) return ScaleDown(e->v, e->scale);
  switch (v.kind) {
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::Date: {
      if (!std::isfinite(v.d) || std::fabs(v.d) > 9.2e18) return std::nullopt;
      return static_cast<Int128>(static_cast<std::int64_t>(std::nearbyint(v.d)));
    }
    case Value::Kind::Text: {
      auto n = NumberFromText(v);
      if (!n) return std::nullopt;
      return ToWhole(*n);
    }
    default: return std::nullopt;
  }
}

std::optional<Int128> ToScaled4(const Value& v) {
  if (auto e = AsExact(v)) {
    if (e->scale > 4) return ScaleDown(e->v, e->scale - 4);
    Int128 out;
    if (!ScaleUp(e->v, 4 - e->scale, &out)) return std::nullopt;
    return out;
  }
  switch (v.kind) {
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::Date: {
      double x = v.d * 10000.0;
      if (!std::isfinite(x) || std::fabs(x) > 9.2e18) return std::nullopt;
      return static_cast<Int128>(static_cast<std::int64_t>(std::nearbyint(x)));
    }
    case Value::Kind::Text: {
      auto n = NumberFromText(v);
      if (!n) return std::nullopt;
      return ToScaled4(*n);
    }
    default: return std::nullopt;
  }
}

std::optional<double> NumberAsDouble(const Value& v) {
  switch (CategoryOf(v.kind)) {
    case Category::Number:
    case Category::Date: return ToDouble(v);
    case Category::Text: {
      auto n = NumberFromText(v);
      if (!n) return std::nullopt;
      return ToDouble(*n);
    }
    default: return std::nullopt;
  }
}

std::optional<Value> ToDecimal(const Value& v) {
  if (auto e = AsExact(v)) return Value::Dec(e->v, static_cast<std::uint8_t>(e->scale));
  if (v.kind == Value::Kind::Text) {
    auto n = NumberFromText(v);
    if (!n) return std::nullopt;
    return ToDecimal(*n);
  }
  if (!IsFloating(v.kind) && v.kind != Value::Kind::Date) return std::nullopt;
  if (!std::isfinite(v.d) || std::fabs(v.d) >= 1e28) return std::nullopt;
  // The shortest text that reads back as the same double is what the value "is".
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, v.d, std::chars_format::fixed);
  if (res.ec != std::errc()) return std::nullopt;
  std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  auto dot = text.find('.');
  if (dot != std::string_view::npos && text.size() - dot - 1 > 28) text = text.substr(0, dot + 29);
  auto n = ParseNumber(text, false);
  if (!n) return std::nullopt;
  auto e = AsExact(*n);
  if (!e) return std::nullopt;
  return Value::Dec(negative ? -e->v : e->v, static_cast<std::uint8_t>(e->scale));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (braces optional) into the bytes as Jet stores
// a GUID: the first three groups little-endian, the last two as written.
std::optional<std::string> ParseGuid(std::string_view s) {
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return std::nullopt;
  std::string hex;
  for (char c : s) {
    if (c != '-') hex += c;
  }
  if (hex.size() != 32) return std::nullopt;
  std::array<unsigned char, 16> bytes{};
  for (std::size_t n = 0; n < 16; ++n) {
    int hi = HexDigit(hex[2 * n]), lo = HexDigit(hex[2 * n + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[n] = static_cast<unsigned char>(hi * 16 + lo);
  }
  std::reverse(bytes.begin(), bytes.begin() + 4);
  std::reverse(bytes.begin() + 4, bytes.begin() + 6);
  std::reverse(bytes.begin() + 6, bytes.begin() + 8);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::optional<Value> WholeInRange(const Value& v, std::int64_t lo, std::int64_t hi) {
  auto n = ToWhole(v);
  if (!n || *n < lo || *n > hi) return std::nullopt;
  return Value::Int(static_cast<std::int64_t>(*n));
}

}  // namespace

std::optional<Value> ConvertForColumn(const Value& v, ColumnType type) {
  if (v.IsNull()) return Value::Null();
  Category c = CategoryOf(v.kind);
  switch (type) {
    case ColumnType::Boolean: {
      if (c == Category::Text) {
        std::string word = FoldCase(v.s);
        word.erase(0, word.find_first_not_of(" \t"));
        word.erase(word.find_last_not_of(" \t") + 1);
        if (word == "true" || word == "yes" || word == "on") return Value::Bool(true);
        if (word == "false" || word == "no" || word == "off") return Value::Bool(false);
        auto n = ParseNumber(word, true);
        if (!n) return std::nullopt;
        return Value::Bool(TruthOf(*n) == Truth::True);
      }
      auto truth = TruthOf(v);
      if (!truth || c == Category::Null) return std::nullopt;
      return Value::Bool(*truth == Truth::True);
    }
    case ColumnType::Byte: return WholeInRange(v, 0, 255);
    case ColumnType::Integer: return WholeInRange(v, -32768, 32767);
    case ColumnType::Long: return WholeInRange(v, INT32_MIN, INT32_MAX);
    case ColumnType::Currency: {
      auto n = ToScaled4(v);
      if (!n || *n < INT64_MIN || *n > INT64_MAX) return std::nullopt;
      return Value::Money(static_cast<std::int64_t>(*n));
    }
    case ColumnType::Single: {
      auto d = NumberAsDouble(v);
      if (!d || !std::isfinite(*d) || std::fabs(*d) > FLT_MAX) return std::nullopt;
      return Value::Float(static_cast<float>(*d));
    }
    case ColumnType::Double: {
      auto d = NumberAsDouble(v);
      if (!d || !std::isfinite(*d)) return std::nullopt;
      return Value::Dbl(*d);
    }
    case ColumnType::Numeric: return ToDecimal(v);
    case ColumnType::DateTime: {
      if (c == Category::Text) {
        auto d = ParseDate(v.s);
        if (!d) return std::nullopt;
        return Value::DateValue(*d);
      }
      if (c != Category::Number && c != Category::Date) return std::nullopt;
      double d = ToDouble(v);
      if (!(d >= kFirstDate && d < kPastLastDate)) return std::nullopt;
      return Value::DateValue(d);
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
      auto s = ToText(v);
      if (!s) return std::nullopt;
      return Value::Str(std::move(*s));
    }
    case ColumnType::Binary:
    case ColumnType::Ole:
      if (c != Category::Binary) return std::nullopt;
      return v;
    case ColumnType::Guid: {
      if (c == Category::Guid) return v;
      if (c == Category::Binary && v.s.size() == 16) return Value::GuidValue(v.s);
      if (c != Category::Text) return std::nullopt;
      auto bytes = ParseGuid(v.s);
      if (!bytes) return std::nullopt;
      return Value::GuidValue(std::move(*bytes));
    }
  }
  return std::nullopt;
}

}  // namespace jet::sql
