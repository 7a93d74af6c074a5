#include <gtest/gtest.h>

#include "log/log_error.h"
#include "support/fake_platform.h"

namespace scourex {
namespace {

using testing::FakePlatform;

struct LogFixture : ::testing::Test {
  FakePlatform platform;
  std::string options_file_name;
  std::string log_file = "Scourex.log";
  Logger log{platform, options_file_name, log_file};
  LogFixture() { platform.current_dir = "/opt/site"; }
};

TEST_F(LogFixture, BeforeTheOptionsFileIsNamedOnlyTheDiagnosticChannelHearsIt) {
  log.LogError("53", "File not found", "Options ReAdoptions");
  ASSERT_EQ(platform.debug.size(), 1u);
  EXPECT_EQ(platform.debug[0], "2026-12-01 00:00:00 *** Error # 53 - File not found *** Options ReAdoptions");
  EXPECT_EQ(platform.beeps, 0);
  EXPECT_TRUE(platform.files.empty());
}

TEST_F(LogFixture, FileLinesFollowTheirLayouts) {
  options_file_name = "Orvanta.ini";
  log.LogError(" 53", "File not found", "Options ReAdoptions");
  log.LogError(kInfo, " Start Application Scourex  ", "");
  log.LogError(kInfo, "", "");
  log.LogError(kInfo, " Stop Application Scourex  \r\n", "");
  EXPECT_EQ(platform.files["/opt/site/Scourex.log"],
            "2026-12-01 00:00:00 *** Error #  53 - File not found *** Options ReAdoptions\r\n"
            "2026-12-01 00:00:00  Start Application Scourex  \r\n"
            "2026-12-01 00:00:00 *** Keep Alive *** \r\n"
            "2026-12-01 00:00:00  Stop Application Scourex  \r\n\r\n");
  // Information lines keep the error layout on the diagnostic channel.
  EXPECT_EQ(platform.debug[1], "2026-12-01 00:00:00 *** Error # --1 -  Start Application Scourex   *** ");
}

TEST_F(LogFixture, ErrorsBeepTwiceBeforeTheFileIsTouchedAndInformationNever) {
  options_file_name = ".ini";
  log.LogError(kInfo, " Total Events Deleted 4", "");
  log.LogError("-2147467259", "failed", "Scourex DeleteEvents");
  EXPECT_EQ(platform.events, (std::vector<std::string>{"append:/opt/site/Scourex.log", "beep", "beep",
                                                       "append:/opt/site/Scourex.log"}));
}

TEST_F(LogFixture, AnUnwritableLogIsSwallowedAndAnExistingOneNeverTruncated) {
  options_file_name = "Orvanta.ini";
  platform.files["/opt/site/Scourex.log"] = "old line\r\n";
  log.LogError(kInfo, " one", "");
  EXPECT_EQ(platform.Lines("/opt/site/Scourex.log").front(), "old line");
  log_file = "/no/such/folder/x.log";
  EXPECT_NO_THROW(log.LogError("5", "Invalid procedure call or argument", "Scourex Form_Load"));
  EXPECT_EQ(platform.beeps, 2);
  EXPECT_EQ(platform.debug.size(), 2u);
  EXPECT_EQ(platform.Lines("/opt/site/Scourex.log").size(), 2u);
}

}  // namespace
}  // namespace scourex
