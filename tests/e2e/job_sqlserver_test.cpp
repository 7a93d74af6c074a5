// The real binary in a temporary installation folder with DBType 2, reaching a TDS
// stand-in through unixODBC and the real FreeTDS driver: what the job sends, what its
// log says, and that no password shows anywhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <regex>

#include "db/odbc_backend.h"
#include "db/odbc_text.h"
#include "support/process.h"
#include "tds/browser_standin.h"
#include "tds/tds_standin.h"

namespace scourex {
namespace {

using testing::ReadWholeFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TdsReply;
using testing::TdsStandIn;
using testing::TempFolder;
using testing::WriteWholeFile;

const char kPassword[] = "Pässwort;}";                    // as the stand-in must receive it
const char kPasswordWindows1252[] = "P\xE4sswort;}";       // as a Windows site's options file holds it

class SqlServerJob : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> drivers = db::InstalledOdbcDrivers();
    if (db::UsesMicrosoftDriver(drivers)) GTEST_FAIL() << "Microsoft's ODBC driver is installed here and takes the SQL Server texts; these tests need FreeTDS";
    if (std::find(drivers.begin(), drivers.end(), "FreeTDS") == drivers.end() &&
        !std::filesystem::exists(db::DefaultFreeTdsLibrary())) {
      GTEST_FAIL() << "no FreeTDS driver (tdsodbc)";
    }
    std::filesystem::copy_file(SCOUREX_BINARY, dir_ / "scourex");
    WriteWholeFile(dir_ / "Orvanta.nam", "");
  }

  // Writes the options file in Windows-1252, as copied from a Windows site, and runs the job.
  testing::ProcessResult Run(const std::string& data_source, const std::string& extra = "") {
    WriteWholeFile(dir_ / "Orvanta.ini", std::string("[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source=") +
                                             data_source + ";User ID=sa;Password='" + kPasswordWindows1252 +
                                             "'\r\n" + extra);
    const testing::ProcessResult result = RunCommand("cd / && " + ShellQuote(dir_ / "scourex") + " 2>&1");
    log_ = ReadWholeFile(dir_ / "Scourex.log");
    for (const std::string& where : {result.out, log_}) {
      EXPECT_EQ(where.find("Pässwort"), std::string::npos) << where;
      EXPECT_EQ(where.find(kPasswordWindows1252), std::string::npos) << where;
    }
    return result;
  }

  static std::string At(const TdsStandIn& server) { return "127.0.0.1," + std::to_string(server.port()); }

  TempFolder dir_;
  std::string log_;
};

// The date a datetime literal stands for when SQL Server reads it under a login whose
// language writes the day first (SET DATEFORMAT dmy, as for German or French): an
// unseparated yyyymmdd is always year, month, day; a separated yyyy-xx-xx is year, day,
// month. "" for a form this reading does not know.
std::string ReadUnderDayFirstLogin(const std::string& literal) {
  std::smatch m;
  if (std::regex_match(literal, m, std::regex(R"('(\d{4})(\d{2})(\d{2}) (\d{2}:\d{2}:\d{2})')"))) {
    return m[1].str() + "-" + m[2].str() + "-" + m[3].str() + " " + m[4].str();
  }
  if (std::regex_match(literal, m, std::regex(R"('(\d{4})-(\d{2})-(\d{2}) (\d{2}:\d{2}:\d{2})')"))) {
    return m[1].str() + "-" + m[3].str() + "-" + m[2].str() + " " + m[4].str();
  }
  return "";
}

// Today's local date moved back by `months`, the day clipped, as "yyyy-mm-dd".
std::string MonthsAgo(int months) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  int year = tm.tm_year + 1900, month = tm.tm_mon + 1 - months;
  while (month < 1) month += 12, --year;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, std::min(tm.tm_mday, last));
  return text;
}

TEST_F(SqlServerJob, PurgesWithACutoffThatMeansTheSameInstantUnderADayFirstLogin) {
  TdsStandIn::Options options;
  options.batch = [](const std::string&) { return TdsReply::Rows(3); };
  TdsStandIn server(options);
  const testing::ProcessResult result = Run(At(server));
  EXPECT_EQ(result.status, 0) << result.out << log_;
  EXPECT_NE(log_.find(" Total Visitor Deleted 3"), std::string::npos) << log_;
  EXPECT_NE(log_.find(" Total Events Deleted 3"), std::string::npos) << log_;

  ASSERT_EQ(server.logins().size(), 2u);
  for (const testing::TdsLogin& login : server.logins()) EXPECT_EQ(login.password, kPassword);
  std::string literal;
  for (const std::string& sql : server.batches()) {
    const std::string head = "DELETE From [Log] where [Date] < ";
    if (sql.rfind(head, 0) == 0) literal = sql.substr(head.size());
  }
  ASSERT_FALSE(literal.empty());
  // A run that straddles midnight may see either day.
  const std::string read = ReadUnderDayFirstLogin(literal);
  EXPECT_EQ(read.substr(0, 10), MonthsAgo(3)) << literal;
}

TEST_F(SqlServerJob, LogsThePortANamedInstanceWasFoundOn) {
  TdsStandIn server({});
  testing::BrowserStandIn browser(
      testing::BrowserReply("ServerName;STANDIN;InstanceName;ZUTRITT;IsClustered;No;Version;15.0.2000.5;tcp;" +
                            std::to_string(server.port()) + ";;"),
      1434);
  ASSERT_NE(browser.port(), 0) << "UDP port 1434 of 127.0.0.1 is taken";
  const testing::ProcessResult result = Run("127.0.0.1\\ZUTRITT", "EventMonths=0\r\nVisitorMonths=0\r\n");
  EXPECT_EQ(result.status, 0) << log_;
  EXPECT_NE(log_.find(" SQL Server instance 'ZUTRITT' on '127.0.0.1' listens on TCP port " +
                      std::to_string(server.port()) + "."),
            std::string::npos)
      << log_;
  EXPECT_EQ(server.logins().size(), 2u);
}

}  // namespace
}  // namespace scourex
