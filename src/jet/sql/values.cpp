#include "jet/sql/values.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>

#include "jet/datetime.h"

namespace jet::sql {
namespace {

__extension__ typedef unsigned __int128 UInt128;

constexpr Int128 kInt128Max = static_cast<Int128>(~static_cast<UInt128>(0) >> 1);
constexpr int kMaxPow10 = 38;  // 10^38 still fits in a signed 128-bit integer

// Jet's date range: 1 January 100 to 31 December 9999.
constexpr double kFirstDate = -657434.0;
constexpr double kPastLastDate = 2958466.0;

Int128 Pow10(int k) {
  static const std::array<Int128, kMaxPow10 + 1> table = [] {
    std::array<Int128, kMaxPow10 + 1> t{};
    t[0] = 1;
    for (int n = 1; n <= kMaxPow10; ++n) t[n] = t[n - 1] * 10;
    return t;
  }();
  return table[static_cast<std::size_t>(k)];
}

// A value held exactly: unscaled / 10^scale.
struct Exact {
  Int128 v = 0;
  int scale = 0;
};

std::optional<Exact> AsExact(const Value& x) {
  switch (x.kind) {
    case Value::Kind::Boolean: return Exact{x.b ? -1 : 0, 0};
    case Value::Kind::Integer: return Exact{x.i, 0};
    case Value::Kind::Currency: return Exact{x.i, 4};
    case Value::Kind::Decimal: return Exact{x.dec, x.scale};
    default: return std::nullopt;
  }
}

bool ScaleUp(Int128 v, int k, Int128* out) {
  if (v == 0 || k == 0) {
    *out = v;
    return true;
  }
  if (k > kMaxPow10) return false;
  Int128 limit = kInt128Max / Pow10(k);
  if (v > limit || v < -limit) return false;
  *out = v * Pow10(k);
  return true;
}

// v / 10^k rounded half to even, as Jet rounds when a value loses digits.
Int128 ScaleDown(Int128 v, int k) {
  if (k == 0) return v;
  if (k > kMaxPow10) return 0;  // |v| < 10^39 / 2 rounds to zero
  Int128 p = Pow10(k);
  Int128 q = v / p;
  Int128 r = v % p;
  Int128 ar = r < 0 ? -r : r;
  bool away = ar > p - ar || (ar == p - ar && (q % 2 != 0));
  if (away) q += v < 0 ? -1 : 1;
  return q;
}

int CompareExact(const Exact& a, const Exact& b) {
  Int128 x = a.v;
  Int128 y = b.v;
  // When one side cannot be brought to the other's scale, its magnitude exceeds
  // anything the other can hold, so its sign decides.
  if (a.scale < b.scale && !ScaleUp(x, b.scale - a.scale, &x)) return a.v > 0 ? 1 : -1;
  if (b.scale < a.scale && !ScaleUp(y, a.scale - b.scale, &y)) return b.v > 0 ? -1 : 1;
  return x < y ? -1 : (x > y ? 1 : 0);
}

std::string ExactText(Int128 v, int scale, bool trim) {
  bool negative = v < 0;
  UInt128 u = negative ? static_cast<UInt128>(0) - static_cast<UInt128>(v) : static_cast<UInt128>(v);
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(u % 10)));
    u /= 10;
  } while (u != 0);
  std::reverse(digits.begin(), digits.end());
  if (scale > 0) {
    auto s = static_cast<std::size_t>(scale);
    if (digits.size() <= s) digits.insert(0, s - digits.size() + 1, '0');
    digits.insert(digits.size() - s, 1, '.');
    if (trim) {
      while (digits.back() == '0') digits.pop_back();
      if (digits.back() == '.') digits.pop_back();
    }
  }
  if (negative && digits != "0") digits.insert(0, 1, '-');
  return digits;
}

double ExactToDouble(const Exact& e) {
  if (e.scale == 0 && e.v >= INT64_MIN && e.v <= INT64_MAX) return static_cast<double>(static_cast<std::int64_t>(e.v));
  std::string text = ExactText(e.v, e.scale, false);
  double d = 0;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

int CompareDoubles(double a, double b) {
  bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool IsFloating(Value::Kind k) { return k == Value::Kind::Single || k == Value::Kind::Double; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FormatFloating(double d, int precision) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, precision);
  std::string out(buf, res.ptr);
  for (char& c : out) {
    if (c == 'e') c = 'E';
  }
  return out;
}

std::string FormatDate(double d) {
  CivilTime t;
  if (!FromJetDate(d, &t)) return FormatFloating(d, 15);
  bool has_time = t.hour != 0 || t.minute != 0 || t.second != 0;
  bool epoch_day = t.year == 1899 && t.month == 12 && t.day == 30;
  std::string out;
  if (!epoch_day || !has_time) {
    out = std::to_string(t.month) + "/" + std::to_string(t.day) + "/" + std::to_string(t.year);
  }
  if (has_time || epoch_day) {
    char buf[32];
    int h12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, t.minute, t.second, t.hour < 12 ? "AM" : "PM");
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

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

std::string FoldCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool SameName(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

int CompareText(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t k = 0; k < n; ++k) {
    auto x = static_cast<unsigned char>(LowerAscii(a[k]));
    auto y = static_cast<unsigned char>(LowerAscii(b[k]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

double ToDouble(const Value& v) {
  if (auto e = AsExact(v)) return ExactToDouble(*e);
  switch (v.kind) {
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::Date: return v.d;
    default: return 0;
  }
}

int CompareValues(const Value& a, const Value& b) {
  Category ca = CategoryOf(a.kind), cb = CategoryOf(b.kind);
  if (ca == Category::Text) return CompareText(a.s, b.s);
  if (ca == Category::Binary || ca == Category::Guid) {
    int c = a.s.compare(b.s);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (ca == Category::Date || cb == Category::Date) {
    return CompareDoubles(JetDateOrdinal(ToDouble(a)), JetDateOrdinal(ToDouble(b)));
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

std::optional<std::string> ToText(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null: return std::string();
    case Value::Kind::Boolean: return std::string(v.b ? "-1" : "0");
    case Value::Kind::Integer: return std::to_string(v.i);
    case Value::Kind::Currency: return ExactText(v.i, 4, true);
    case Value::Kind::Decimal: return ExactText(v.dec, v.scale, true);
    case Value::Kind::Single: return FormatFloating(static_cast<float>(v.d), 7);
    case Value::Kind::Double: return FormatFloating(v.d, 15);
    case Value::Kind::Date: return FormatDate(v.d);
    case Value::Kind::Text: return v.s;
    case Value::Kind::Binary:
    case Value::Kind::Guid: return std::nullopt;
  }
  return std::nullopt;
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

std::optional<Value> ParseNumber(std::string_view text, bool lenient) {
  bool negative = false;
  if (lenient) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      negative = text[0] == '-';
      text.remove_prefix(1);
    }
  }
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t k = 0;
  std::string digits;  // integer and fraction digits, the point left out
  while (k < text.size() && is_digit(text[k])) digits += text[k++];
  int scale = 0;
  bool has_point = false;
  if (k < text.size() && text[k] == '.') {
    has_point = true;
    ++k;
    while (k < text.size() && is_digit(text[k])) {
      digits += text[k++];
      ++scale;
    }
  }
  if (digits.empty()) return std::nullopt;
  bool has_exponent = false;
  if (k < text.size() && (text[k] == 'e' || text[k] == 'E')) {
    has_exponent = true;
    ++k;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    std::size_t start = k;
    while (k < text.size() && is_digit(text[k])) ++k;
    if (k == start) return std::nullopt;
  }
  if (k != text.size()) return std::nullopt;

  std::size_t first = digits.find_first_not_of('0');
  std::size_t significant = first == std::string::npos ? 0 : digits.size() - first;
  if (has_exponent || significant > static_cast<std::size_t>(kMaxPow10) || scale > 28) {
    double d = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), d);
    if (res.ec != std::errc() || !std::isfinite(d)) return std::nullopt;
    return Value::Dbl(negative ? -d : d);
  }
  Int128 v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  if (negative) v = -v;
  if (!has_point && v >= INT64_MIN && v <= INT64_MAX) return Value::Int(static_cast<std::int64_t>(v));
  return Value::Dec(v, static_cast<std::uint8_t>(scale));
}

std::optional<double> ParseDate(std::string_view text) {
  std::size_t k = 0;
  auto skip_blanks = [&] {
    while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
  };
  // Up to `max_digits` digits; -1 when there are none or too many.
  auto number = [&](int max_digits, int* count) {
    int value = 0, n = 0;
    while (k < text.size() && text[k] >= '0' && text[k] <= '9') {
      if (++n > max_digits) return -1;
      value = value * 10 + (text[k++] - '0');
    }
    *count = n;
    return n == 0 ? -1 : value;
  };

  CivilTime t;
  skip_blanks();
  int digits = 0;
  int first = number(4, &digits);
  if (first < 0) return std::nullopt;
  if (k < text.size() && (text[k] == '/' || text[k] == '-')) {
    char sep = text[k++];
    int d2 = 0, d3 = 0;
    int second = number(2, &d2);
    if (second < 0 || k >= text.size() || text[k] != sep) return std::nullopt;
    ++k;
    int third = number(4, &d3);
    if (third < 0) return std::nullopt;
    bool year_first = digits >= 3;
    if (year_first && d3 > 2) return std::nullopt;
    t.year = year_first ? first : third;
    t.month = year_first ? second : first;
    t.day = year_first ? third : second;
    if ((year_first ? digits : d3) <= 2) t.year += t.year < 30 ? 2000 : 1900;
    std::size_t date_end = k;
    skip_blanks();
    if (k == text.size()) {
      if (!IsValidCivil(t)) return std::nullopt;
      return ToJetDate(t);
    }
    if (k == date_end) return std::nullopt;  // the time must stand apart from the date
    first = number(2, &digits);
    if (first < 0) return std::nullopt;
  } else if (digits > 2) {
    return std::nullopt;
  }

  // The time of day: `first` holds the hour.
  if (k >= text.size() || text[k] != ':') return std::nullopt;
  ++k;
  int count = 0;
  int minute = number(2, &count);
  if (minute < 0) return std::nullopt;
  int second = 0;
  if (k < text.size() && text[k] == ':') {
    ++k;
    second = number(2, &count);
    if (second < 0) return std::nullopt;
  }
  skip_blanks();
  int hour = first;
  if (k < text.size()) {
    std::string rest = FoldCase(text.substr(k));
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();
    if (rest != "am" && rest != "pm") return std::nullopt;
    if (hour > 12 || (hour == 0 && rest == "pm")) return std::nullopt;
    if (hour == 12) hour = 0;
    if (rest == "pm") hour += 12;
  }
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  if (!IsValidCivil(t)) return std::nullopt;
  return ToJetDate(t);
}

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
