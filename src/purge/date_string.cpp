#include "purge/date_string.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

#include "common/error.h"
#include "db/connection.h"

namespace scourex {

LocalDateTime AddMonths(const LocalDateTime& t, int months) {
  using namespace std::chrono;
  long total = static_cast<long>(t.year) * 12 + (t.month - 1) + months;
  long y = total >= 0 ? total / 12 : (total - 11) / 12;
  int m = static_cast<int>(total - y * 12) + 1;
  if (y < 100 || y > 9999) throw runtime::Make(runtime::kInvalidArgument);
  year_month_day_last end{year{static_cast<int>(y)}, month_day_last{month{static_cast<unsigned>(m)}}};
  unsigned last_day = static_cast<unsigned>(end.day());
  LocalDateTime r = t;
  r.year = static_cast<int>(y);
  r.month = m;
  r.day = std::min(t.day, static_cast<int>(last_day));
  return r;
}

namespace {

const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

int Weekday(const LocalDateTime& t) {  // 0 = Sunday
  using namespace std::chrono;
  sys_days d{year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)}};
  return static_cast<int>(weekday{d}.c_encoding());
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::size_t RunLength(const std::string& s, std::size_t at, char lower) {
  std::size_t n = 0;
  while (at + n < s.size() && std::tolower(static_cast<unsigned char>(s[at + n])) == lower) ++n;
  return n;
}

// A month token stands for minutes right after an hour token (only separators between)
// or right before a seconds token.
bool MinutesContext(const std::string& p, std::size_t at, std::size_t len, bool after_hour) {
  if (after_hour) return true;
  std::size_t k = at + len;
  while (k < p.size() && (p[k] == ':' || p[k] == ' ' || p[k] == '\\')) ++k;
  return k < p.size() && std::tolower(static_cast<unsigned char>(p[k])) == 's';
}

int DayOfYear(const LocalDateTime& t) {
  using namespace std::chrono;
  sys_days d{year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)}};
  sys_days jan1{year{t.year} / January / 1};
  return static_cast<int>((d - jan1).count()) + 1;
}

std::string Number(int v, std::size_t letters) { return letters == 2 ? Two(v) : std::to_string(v); }

// The "y" tokens: yyyy the year, yy its last two digits, y the day of the year. Each
// returns how many of its `n` letters it used.
std::size_t AppendYear(const LocalDateTime& t, std::size_t n, std::string& out) {
  if (n >= 3) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", t.year);
    out += buf;
    return std::min<std::size_t>(n, 4);
  }
  out += n == 2 ? Two(t.year % 100) : std::to_string(DayOfYear(t));
  return n;
}

// The "m" tokens: minutes where they follow an hour or precede seconds, else the month as
// m, mm, mmm (short name) or mmmm (full name).
std::size_t AppendMonth(const LocalDateTime& t, bool minutes, std::size_t n, std::string& out) {
  if (n <= 2 && minutes) {
    out += Number(t.minute, n);
    return n;
  }
  if (n >= 4) {
    out += kMonthNames[t.month - 1];
    return 4;
  }
  out += n == 3 ? std::string(kMonthNames[t.month - 1]).substr(0, 3) : Number(t.month, n);
  return n;
}

// The "d" tokens: d, dd the day, ddd the short and dddd the full name of the weekday.
std::size_t AppendDay(const LocalDateTime& t, std::size_t n, std::string& out) {
  if (n >= 4) {
    out += kDayNames[Weekday(t)];
    return 4;
  }
  out += n == 3 ? std::string(kDayNames[Weekday(t)]).substr(0, 3) : Number(t.day, n);
  return n;
}

// The "w" tokens: w the day of the week (Sunday 1), ww the week of the year, where Sunday
// starts the week and the week holding 1 January is the first.
std::size_t AppendWeek(const LocalDateTime& t, std::size_t n, std::string& out) {
  if (n < 2) {
    out += std::to_string(Weekday(t) + 1);
    return n;
  }
  LocalDateTime jan1 = t;
  jan1.month = 1;
  jan1.day = 1;
  out += std::to_string((DayOfYear(t) - 1 + Weekday(jan1)) / 7 + 1);
  return 2;
}

// AM/PM, am/pm, A/P or a/p at `i`, in the letter case written; how many characters it
// took (0: none there).
std::size_t AppendAmPm(const LocalDateTime& t, const std::string& p, std::size_t i, std::string& out) {
  const bool upper = p[i] == 'A';
  const bool morning = t.hour < 12;
  if (p.compare(i, 5, "AM/PM") == 0 || p.compare(i, 5, "am/pm") == 0) {
    out += morning ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
    return 5;
  }
  if (p.compare(i, 3, "A/P") == 0 || p.compare(i, 3, "a/p") == 0) {
    out += morning ? (upper ? "A" : "a") : (upper ? "P" : "p");
    return 3;
  }
  return 0;
}

// A literal: \x the character x, "..." the text between the quotes. How many characters
// it took (0: none there).
std::size_t AppendLiteral(const std::string& p, std::size_t i, std::string& out) {
  if (p[i] == '\\') {
    if (i + 1 < p.size()) out += p[i + 1];
    return 2;
  }
  if (p[i] == '"') {
    std::size_t end = p.find('"', i + 1);
    out += p.substr(i + 1, (end == std::string::npos ? p.size() : end) - i - 1);
    return end == std::string::npos ? p.size() - i : end + 1 - i;
  }
  return 0;
}

}  // namespace

std::string FormatDate(const LocalDateTime& t, const std::string& p) {
  std::string out;
  bool after_hour = false;  // an hour token seen with nothing but separators since
  const bool has_ampm = p.find("AM/PM") != std::string::npos || p.find("am/pm") != std::string::npos ||
                        p.find("A/P") != std::string::npos || p.find("a/p") != std::string::npos;
  for (std::size_t i = 0; i < p.size();) {
    if (std::size_t used = AppendLiteral(p, i, out)) {
      i += used;
      continue;
    }
    if (std::size_t used = AppendAmPm(t, p, i, out)) {
      i += used;
      after_hour = false;
      continue;
    }
    const char c = p[i];
    const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t n = RunLength(p, i, lc);
    switch (lc) {
      case 'y': n = AppendYear(t, n, out); break;
      case 'm': n = AppendMonth(t, MinutesContext(p, i, n, after_hour), n, out); break;
      case 'd': n = AppendDay(t, n, out); break;
      case 'h': {
        const int h = has_ampm ? (t.hour % 12 == 0 ? 12 : t.hour % 12) : t.hour;
        n = std::min<std::size_t>(n, 2);
        out += Number(h, n);
        i += n;
        after_hour = true;
        continue;
      }
      case 'n': n = std::min<std::size_t>(n, 2); out += Number(t.minute, n); break;
      case 's': n = std::min<std::size_t>(n, 2); out += Number(t.second, n); break;
      case 'w': n = AppendWeek(t, n, out); break;
      case 'q': out += std::to_string((t.month - 1) / 3 + 1); n = 1; break;
      default:
        // "/" and ":" are the regional separators, which here are the characters themselves.
        out += c;
        i += 1;
        if (c != ':' && c != ' ' && c != '/') after_hour = false;
        continue;
    }
    i += n;
    after_hour = false;
  }
  return out;
}

std::string GetDateString(const Settings& settings, db::SqlDialect dialect, const LocalDateTime& t) {
  if (settings.DBType == 1) return "#" + FormatDate(t, "MM\\/dd\\/yyyy") + " " + FormatDate(t, "hh:mm") + "#";
  if (settings.DBType == 2) {
    // SQL Server reads 'yyyy-mm-dd hh:nn:ss' as year, day, month for a datetime column
    // under a login whose language writes the day first (German, French, ...). The
    // default pattern stands for year, month, day, so SQL Server gets the one form it
    // reads so whatever the language; other sources get the text as configured.
    if (settings.SQLServerDateFormat == kDefaultSqlServerDateFormat && dialect == db::SqlDialect::kSqlServer) {
      return "'" + FormatDate(t, "yyyymmdd hh\\:nn\\:ss") + "'";
    }
    return "'" + FormatDate(t, settings.SQLServerDateFormat) + "'";
  }
  return "";
}

}  // namespace scourex
