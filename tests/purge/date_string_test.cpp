#include <gtest/gtest.h>

#include "purge/date_string.h"

namespace scourex {
namespace {

Settings WithType(int type) {
  Settings s;
  DefaultOptions(s);
  s.DBType = type;
  return s;
}

TEST(DateString, SqlServerGetsTheDefaultPatternInTheFormEveryLanguageReadsAlike) {
  const LocalDateTime t{2026, 3, 6, 14, 5, 59};
  Settings s = WithType(2);
  EXPECT_EQ(GetDateString(s, db::SqlDialect::kSqlServer, t), "'20260306 14:05:59'");
  // Other sources get the text as configured; an explicit pattern means what the site wrote it for.
  EXPECT_EQ(GetDateString(s, db::SqlDialect::kOther, t), "'2026-03-06 14:05:59'");
  s.SQLServerDateFormat = "dd.mm.yyyy hh:nn:ss";
  EXPECT_EQ(GetDateString(s, db::SqlDialect::kSqlServer, t), "'06.03.2026 14:05:59'");
  // Options that could not be read leave no engine, and no literal.
  EXPECT_EQ(GetDateString(WithType(0), db::SqlDialect::kOther, t), "");
}

TEST(DateString, PatternTokens) {
  LocalDateTime t{2026, 3, 6, 14, 5, 9};
  EXPECT_EQ(FormatDate(t, "dd/mm/yyyy hh:mm:ss"), "06/03/2026 14:05:09");
  EXPECT_EQ(FormatDate(t, "d-m-yy h:n:s"), "6-3-26 14:5:9");
  EXPECT_EQ(FormatDate(t, "mm:ss"), "05:09");
  EXPECT_EQ(FormatDate(t, "hh\\:mm"), "14:05");
  EXPECT_EQ(FormatDate(t, "mmm mmmm ddd dddd"), "Mar March Fri Friday");
  EXPECT_EQ(FormatDate(t, "hh:nn AM/PM"), "02:05 PM");
  EXPECT_EQ(FormatDate(t, "\"day\" d \\y"), "day 6 y");
  EXPECT_EQ(FormatDate(t, "yyyy-q-ww-w-y"), "2026-1-10-6-65");
}

TEST(DateString, MonthArithmeticClipsTheDay) {
  EXPECT_EQ(AddMonths({2026, 5, 31, 10, 20, 30}, -3), (LocalDateTime{2026, 2, 28, 10, 20, 30}));
  EXPECT_EQ(AddMonths({2028, 5, 31, 0, 0, 0}, -3), (LocalDateTime{2028, 2, 29, 0, 0, 0}));
  EXPECT_EQ(AddMonths({2026, 1, 15, 0, 0, 0}, -13), (LocalDateTime{2024, 12, 15, 0, 0, 0}));
  EXPECT_EQ(AddMonths({2026, 12, 1, 0, 0, 0}, -2), (LocalDateTime{2026, 10, 1, 0, 0, 0}));
}

}  // namespace
}  // namespace scourex
