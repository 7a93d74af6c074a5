#include <charconv>
#include <cstdio>

#include "jet/datetime.h"
#include "jet/sql/number.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

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

}  // namespace

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

}  // namespace jet::sql
