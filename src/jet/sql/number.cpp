#include "jet/sql/number.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

#include "jet/sql/values.h"

namespace jet::sql {

Int128 Pow10(int k) {
  static const std::array<Int128, kMaxPow10 + 1> table = [] {
    std::array<Int128, kMaxPow10 + 1> t{};
    t[0] = 1;
    for (int n = 1; n <= kMaxPow10; ++n) t[n] = t[n - 1] * 10;
    return t;
  }();
  return table[static_cast<std::size_t>(k)];
}

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

double ToDouble(const Value& v) {
  if (auto e = AsExact(v)) return ExactToDouble(*e);
  switch (v.kind) {
    case Value::Kind::Single:
    case Value::Kind::Double:
    case Value::Kind::Date: return v.d;
    default: return 0;
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

}  // namespace jet::sql
