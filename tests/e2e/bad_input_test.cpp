// Bad input at the job's entrances: malformed connection texts and options files full of
// junk. Each ends in clear error lines; the run goes on to its stop line and nothing
// crashes. (Damaged database files are the engine's fuzzing matter; a step that fails is
// the run sequence's.)

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "db/connection.h"
#include "driver/job.h"
#include "support/fake_platform.h"

namespace scourex {
namespace {

// Every error line names a number, a description and where it happened.
TEST(BadInput, MalformedConnectionTextsAndJunkOptions) {
  static const std::regex error_line(".{19} \\*\\*\\* Error #  ?-?\\d+ - .+ \\*\\*\\* .+");
  for (const std::string& options :
       {std::string("DBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source='unclosed;Password=Secr3t\r\n"),
        std::string("DBType=2\r\nSQL_Connect=Provider=MSDASQL;Driver={SQLite3;Database=\"x\r\n"),
        std::string("DBType=2\r\nSQL_Connect=;;;===;\r\n"),
        std::string("\x01\x02\xff\xfe=\x00\x00\r\nVisitorMonths=\x80\x81\r\n", 27),
        std::string(100000, '\xff') + "\r\nEventMonths=1\r\n"}) {
    testing::FakePlatform platform;
    platform.files["/opt/site/Orvanta.nam"] = "";
    platform.files["/opt/site/Orvanta.ini"] = options;
    Job job(platform, [] { return db::CreateConnection(); });
    EXPECT_EQ(FormLoad(job), 1);
    const std::vector<std::string> log = platform.Lines("/opt/site/Scourex.log");
    for (const auto& line : log) {
      EXPECT_EQ(line.find("Secr3t"), std::string::npos) << line;
      EXPECT_TRUE(line.find("*** Error #") == std::string::npos || std::regex_match(line, error_line)) << line;
    }
    ASSERT_GE(log.size(), 2u);
    EXPECT_THAT(log[log.size() - 2], ::testing::EndsWith(" Stop Application Scourex  "));
  }
}

}  // namespace
}  // namespace scourex
