#include "jet/datetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace jet {
namespace {

using std::chrono::day;
using std::chrono::month;
using std::chrono::sys_days;
using std::chrono::year;
using std::chrono::year_month_day;

constexpr sys_days kEpoch = sys_days{year{1899} / 12 / 30};
constexpr double kSecondsPerDay = 86400.0;

}  // namespace

bool IsValidCivil(const CivilTime& t) {
  if (t.year < 100 || t.year > 9999) return false;
  year_month_day ymd{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
  if (t.month < 1 || t.month > 12 || t.day < 1 || !ymd.ok()) return false;
  return t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 60;
}

double ToJetDate(const CivilTime& t) {
  sys_days d{year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)}};
  double days = static_cast<double>((d - kEpoch).count());
  double frac = (t.hour * 3600 + t.minute * 60 + t.second) / kSecondsPerDay;
  return days >= 0 ? days + frac : days - frac;
}

bool FromJetDate(double v, CivilTime* out) {
  if (!std::isfinite(v) || v < -657434.0 || v >= 2958466.0) return false;
  double ordinal = JetDateOrdinal(v);
  // Whole milliseconds first (a stored time is rarely exact in binary), then the
  // fraction of a second is dropped.
  double total_seconds = std::floor(std::round(ordinal * kSecondsPerDay * 1000.0) / 1000.0);
  auto whole_days = static_cast<long long>(std::floor(total_seconds / kSecondsPerDay));
  auto secs = static_cast<long long>(total_seconds - static_cast<double>(whole_days) * kSecondsPerDay);
  year_month_day ymd{kEpoch + std::chrono::days{whole_days}};
  out->year = static_cast<int>(ymd.year());
  out->month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  out->day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  out->hour = static_cast<int>(secs / 3600);
  out->minute = static_cast<int>(secs / 60 % 60);
  out->second = static_cast<int>(secs % 60);
  return out->year >= 100 && out->year <= 9999;
}

std::string FormatJetDate(double v) {
  CivilTime t;
  char buf[40];
  if (!FromJetDate(v, &t)) {
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
  }
  // Years 100 to 9999 (FromJetDate holds to them), written digit by digit: a dump prints
  // millions of these.
  char out[19] = {'0', '0', '0', '0', '-', '0', '0', '-', '0', '0', ' ', '0', '0', ':', '0', '0', ':', '0', '0'};
  auto two = [&](std::size_t at, int n) {
    out[at] = static_cast<char>('0' + n / 10 % 10);
    out[at + 1] = static_cast<char>('0' + n % 10);
  };
  two(0, t.year / 100);
  two(2, t.year % 100);
  two(5, t.month);
  two(8, t.day);
  two(11, t.hour);
  two(14, t.minute);
  two(17, t.second);
  return std::string(out, sizeof out);
}

}  // namespace jet
