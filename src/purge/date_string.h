#pragma once
// Cutoff dates and the date literals the purges place in their SQL.

#include <string>

#include "config/options.h"
#include "db/connection.h"
#include "platform/platform.h"

namespace scourex {

// 30 December 1899, 00:00: the cutoff a purge keeps when computing its own fails.
inline constexpr LocalDateTime kZeroDate{};

// `t` moved by `months` calendar months, the day clipped to the end of a shorter month,
// the time kept. Throws Invalid procedure call (5) outside years 100..9999.
LocalDateTime AddMonths(const LocalDateTime& t, int months);

// Formats `t` by a date pattern: yyyy yy y, mmmm mmm mm m (minutes after an hour token
// or before a seconds token), dddd ddd dd d, hh h, nn n, ss s, AM/PM am/pm A/P a/p,
// "/" and ":" as the date and time separators, "\" escapes, "…" quotes literal text.
std::string FormatDate(const LocalDateTime& t, const std::string& pattern);

// The literal for the configured engine: #MM/DD/YYYY HH:NN# for Jet files,
// 'text in SQLServerDateFormat' for other sources of DBType 2, and for a connection that
// speaks SQL Server's dialect too unless the pattern is the default, which becomes
// 'YYYYMMDD HH:NN:SS' (read the same under every login language); empty otherwise.
std::string GetDateString(const Settings& settings, db::SqlDialect dialect, const LocalDateTime& t);

}  // namespace scourex
