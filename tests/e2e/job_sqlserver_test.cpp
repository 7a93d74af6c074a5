// The real binary in a temporary installation folder with DBType 2, reaching a TDS
// stand-in through unixODBC and the real FreeTDS driver: what the job sends, what its
// log says, and that no password shows anywhere.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/platform.h"
#include "purge/date_string.h"
#include "support/process.h"
#include "tds/tds_standin.h"

namespace scourex {
namespace {

using testing::TdsReply;
using testing::TdsStandIn;

const char kPassword[] = "Pässwort;}";               // as the stand-in must receive it
const char kPasswordWindows1252[] = "P\xE4sswort;}";  // as a Windows site's options file holds it

class SqlServerJob : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why_not = testing::WhyNotFreeTds();
    if (!why_not.empty()) GTEST_FAIL() << why_not << "; these tests need FreeTDS";
    std::filesystem::copy_file(SCOUREX_BINARY, dir_ / "scourex");
    testing::WriteWholeFile(dir_ / "Orvanta.nam", "");
  }

  // Writes the options file in Windows-1252, as copied from a Windows site, and runs the job.
  testing::ProcessResult Run(const std::string& data_source, const std::string& extra = "") {
    testing::WriteWholeFile(dir_ / "Orvanta.ini",
                            "[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source=" + data_source +
                                ";User ID=sa;Password='" + kPasswordWindows1252 + "'\r\n" + extra);
    const testing::ProcessResult result = testing::RunJob(dir_.path());
    log_ = testing::ReadWholeFile(dir_ / "Scourex.log");
    for (const std::string& where : {result.out, log_}) {
      EXPECT_EQ(where.find("Pässwort"), std::string::npos) << where;
      EXPECT_EQ(where.find(kPasswordWindows1252), std::string::npos) << where;
    }
    return result;
  }

  testing::TempFolder dir_;
  std::string log_;
};

TEST_F(SqlServerJob, PurgesWithACutoffThatMeansTheSameInstantUnderEveryLoginLanguage) {
  TdsStandIn::Options options;
  options.batch = [](const std::string&) { return TdsReply::Rows(3); };
  TdsStandIn server(options);
  const testing::ProcessResult result = Run("127.0.0.1," + std::to_string(server.port()));
  EXPECT_EQ(result.status, 0) << result.out << log_;
  EXPECT_NE(log_.find(" Total Visitor Deleted 3"), std::string::npos) << log_;
  EXPECT_NE(log_.find(" Total Events Deleted 3"), std::string::npos) << log_;

  ASSERT_EQ(server.logins().size(), 2u);
  for (const testing::TdsLogin& login : server.logins()) EXPECT_EQ(login.password, kPassword);
  // Only the unseparated yyyymmdd is read as year, month, day whatever the login's
  // language; yyyy-mm-dd is year, day, month under a German or French login.
  const std::string head = "DELETE From [Log] where [Date] < ";
  std::string literal;
  for (const std::string& sql : server.batches()) {
    if (sql.rfind(head, 0) == 0) literal = sql.substr(head.size());
  }
  std::smatch m;
  ASSERT_TRUE(std::regex_match(literal, m, std::regex(R"('(\d{8}) \d\d:\d\d:\d\d')"))) << literal;
  EXPECT_EQ(m[1].str(), FormatDate(AddMonths(CreateSystemPlatform()->Now(), -3), "yyyymmdd")) << literal;
}

TEST_F(SqlServerJob, LogsThePortANamedInstanceWasFoundOn) {
  TdsStandIn server({});
  testing::BrowserStandIn browser("ServerName;STANDIN;InstanceName;ZUTRITT;IsClustered;No;Version;15.0.2000.5;tcp;" +
                                      std::to_string(server.port()) + ";;",
                                  1434);
  ASSERT_NE(browser.port(), 0) << "UDP port 1434 of 127.0.0.1 is taken";
  const testing::ProcessResult result = Run("127.0.0.1\\ZUTRITT", "EventMonths=0\r\nVisitorMonths=0\r\n");
  EXPECT_EQ(result.status, 0) << log_;
  EXPECT_NE(log_.find(" SQL Server instance 'ZUTRITT' on '127.0.0.1' listens on TCP port " +
                      std::to_string(server.port()) + "."),
            std::string::npos)
      << log_;
  EXPECT_EQ(server.logins().size(), 2u);
  // Both purges off: nothing is sent, nothing counted.
  EXPECT_TRUE(server.batches().empty());
  EXPECT_EQ(log_.find(" Total "), std::string::npos) << log_;
}

}  // namespace
}  // namespace scourex
