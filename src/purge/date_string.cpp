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

}  // namespace

std::string FormatDate(const LocalDateTime& t, const std::string& p) {
  std::string out;
  bool after_hour = false;  // an hour token seen with nothing but separators since
  int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
  bool has_ampm = p.find("AM/PM") != std::string::npos || p.find("am/pm") != std::string::npos ||
                  p.find("A/P") != std::string::npos || p.find("a/p") != std::string::npos;
  for (std::size_t i = 0; i < p.size();) {
    char c = p[i];
    char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c == '\\') {
      if (i + 1 < p.size()) out += p[i + 1];
      i += 2;
      continue;
    }
    if (c == '"') {
      std::size_t end = p.find('"', i + 1);
      out += p.substr(i + 1, (end == std::string::npos ? p.size() : end) - i - 1);
      i = end == std::string::npos ? p.size() : end + 1;
      continue;
    }
    if (p.compare(i, 5, "AM/PM") == 0 || p.compare(i, 5, "am/pm") == 0) {
      bool upper = c == 'A';
      out += t.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
      i += 5;
      after_hour = false;
      continue;
    }
    if (p.compare(i, 3, "A/P") == 0 || p.compare(i, 3, "a/p") == 0) {
      bool upper = c == 'A';
      out += t.hour < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
      i += 3;
      after_hour = false;
      continue;
    }
    std::size_t n = RunLength(p, i, lc);
    switch (lc) {
      case 'y':
        if (n >= 3) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "%04d", t.year);
          out += buf;
          n = std::min<std::size_t>(n, 4);
        } else if (n == 2) {
          out += Two(t.year % 100);
        } else {
          using namespace std::chrono;
          sys_days d{year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)}};
          sys_days jan1{year{t.year} / January / 1};
          out += std::to_string((d - jan1).count() + 1);  // day of the year
        }
        break;
      case 'm':
        if (n <= 2 && MinutesContext(p, i, n, after_hour)) {
          out += n == 2 ? Two(t.minute) : std::to_string(t.minute);
        } else if (n >= 4) {
          out += kMonthNames[t.month - 1];
          n = 4;
        } else if (n == 3) {
          out += std::string(kMonthNames[t.month - 1]).substr(0, 3);
        } else {
          out += n == 2 ? Two(t.month) : std::to_string(t.month);
        }
        break;
      case 'd':
        if (n >= 4) out += kDayNames[Weekday(t)], n = 4;
        else if (n == 3) out += std::string(kDayNames[Weekday(t)]).substr(0, 3);
        else out += n == 2 ? Two(t.day) : std::to_string(t.day);
        break;
      case 'h': {
        int h = has_ampm ? hour12 : t.hour;
        n = std::min<std::size_t>(n, 2);
        out += n == 2 ? Two(h) : std::to_string(h);
        i += n;
        after_hour = true;
        continue;
      }
      case 'n':
        n = std::min<std::size_t>(n, 2);
        out += n == 2 ? Two(t.minute) : std::to_string(t.minute);
        break;
      case 's':
        n = std::min<std::size_t>(n, 2);
        out += n == 2 ? Two(t.second) : std::to_string(t.second);
        break;
      case 'w':
        if (n >= 2) {
          // Sunday starts the week; the week holding 1 January is the first.
          using namespace std::chrono;
          sys_days jan1{year{t.year} / January / 1};
          sys_days d{year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)}};
          int jan1_wd = static_cast<int>(weekday{jan1}.c_encoding());
          out += std::to_string(((d - jan1).count() + jan1_wd) / 7 + 1);
          n = 2;
        } else {
          out += std::to_string(Weekday(t) + 1);
        }
        break;
      case 'q':
        out += std::to_string((t.month - 1) / 3 + 1);
        n = 1;
        break;
      default:
        // "/" and ":" are the regional separators, which here are the characters themselves.
        out += c;
        n = 1;
        i += 1;
        if (c != ':' && c != ' ' && c != '/') after_hour = false;
        continue;
    }
    i += n;
    after_hour = false;
  }
  return out;
}

std::string GetDateString(const Settings& settings, const LocalDateTime& t) {
  if (settings.DBType == 1) return "#" + FormatDate(t, "MM\\/dd\\/yyyy") + " " + FormatDate(t, "hh:mm") + "#";
  if (settings.DBType == 2) {
    // SQL Server reads 'yyyy-mm-dd hh:nn:ss' as year, day, month for a datetime column
    // under a login whose language writes the day first (German, French, ...). The
    // default pattern stands for year, month, day, so SQL Server gets the one form it
    // reads so whatever the language; other sources get the text as configured.
    if (settings.SQLServerDateFormat == kDefaultSqlServerDateFormat && db::ReachesSqlServer(settings.SQL_Connect)) {
      return "'" + FormatDate(t, "yyyymmdd hh\\:nn\\:ss") + "'";
    }
    return "'" + FormatDate(t, settings.SQLServerDateFormat) + "'";
  }
  return "";
}

}  // namespace scourex
