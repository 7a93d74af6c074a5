#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "jet/error.h"
#include "jet/sql/number.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

std::optional<Value> NumberFromText(const Value& v) {
  if (v.kind != Value::Kind::Text) return std::nullopt;
  return ParseNumber(v.s, true);
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

}  // namespace

std::optional<Value> ReadForColumn(const Value& v, ColumnType type) {
  if (v.IsNull()) return Value::Null();
  // The row layer stores no Decimal column; SQL keeps its own conversion for them.
  if (type == ColumnType::Numeric) return ToDecimal(v);
  const bool text = v.kind == Value::Kind::Text;
  switch (type) {
    case ColumnType::Boolean: {
      if (!text) return v;
      std::string word = FoldCase(v.s);
      word.erase(0, word.find_first_not_of(" \t"));
      word.erase(word.find_last_not_of(" \t") + 1);
      if (word == "true" || word == "yes" || word == "on") return Value::Bool(true);
      if (word == "false" || word == "no" || word == "off") return Value::Bool(false);
      return ParseNumber(word, true);
    }
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double: return text ? NumberFromText(v) : v;
    case ColumnType::DateTime: {
      if (!text) return v;
      auto d = ParseDate(v.s);
      if (!d) return std::nullopt;
      return Value::DateValue(*d);
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
      auto s = ToText(v);
      if (!s) return std::nullopt;
      return Value::Str(std::move(*s));
    }
    case ColumnType::Guid: {
      if (!text) return v;
      auto bytes = ParseGuid(v.s);
      if (!bytes) return std::nullopt;
      return Value::GuidValue(std::move(*bytes));
    }
    default: return v;
  }
}

}  // namespace jet::sql
