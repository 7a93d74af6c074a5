// Bad input at the job's entrances: damaged database files, malformed connection texts and
// options files full of junk. Each ends in clear error lines; the run goes on to its stop
// line and nothing crashes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "db/connection.h"
#include "driver/job.h"
#include "support/fake_platform.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::FakePlatform;
using testing::TempFolder;

const fs::path kFixtures = fs::path(SCOUREX_FIXTURES_DIR);

struct Outcome {
  int status;
  std::vector<std::string> log;
};

Outcome RunJob(FakePlatform& platform) {
  Job job(platform, [] { return db::CreateConnection(); });
  int status = FormLoad(job);
  return {status, platform.Lines("/opt/site/Scourex.log")};
}

// Every error line names a number, a description and where it happened.
void ExpectWellFormed(const std::vector<std::string>& log) {
  static const std::regex error_line(".{19} \\*\\*\\* Error #  ?-?\\d+ - .+ \\*\\*\\* .+");
  for (const auto& line : log) {
    if (line.find("*** Error #") != std::string::npos) {
      EXPECT_TRUE(std::regex_match(line, error_line)) << line;
    }
  }
  ASSERT_GE(log.size(), 2u);
  EXPECT_THAT(log[log.size() - 2], ::testing::EndsWith(" Stop Application Scourex  "));
}

TEST(BadInput, DatabasesTruncatedAtEveryPageBoundary) {
  const std::string main_bytes = testing::ReadWholeFile(kFixtures / "site-small" / "Orvanta.mdb");
  const std::string journal_bytes = testing::ReadWholeFile(kFixtures / "site-small" / "Journal.mdb");
  const std::size_t page = 4096;
  TempFolder dbs;
  int failed_runs = 0;
  for (std::size_t pages = 0; pages * page <= std::max(main_bytes.size(), journal_bytes.size()); ++pages) {
    testing::WriteWholeFile(dbs / "Orvanta.mdb", main_bytes.substr(0, std::min(main_bytes.size(), pages * page)));
    testing::WriteWholeFile(dbs / "Journal.mdb",
                            journal_bytes.substr(0, std::min(journal_bytes.size(), pages * page)));
    FakePlatform platform;
    platform.files["/opt/site/Orvanta.nam"] = "";
    platform.files["/opt/site/Orvanta.ini"] = "DBType=1\r\nDbsFolder=" + dbs.path() + "\r\nVisitorMonths=6\r\n";
    platform.files["/opt/site/scourex.ini"] = "";
    Outcome out = RunJob(platform);
    SCOPED_TRACE("truncated to " + std::to_string(pages) + " pages");
    ExpectWellFormed(out.log);
    if (pages * page < std::min(main_bytes.size(), journal_bytes.size())) {
      EXPECT_EQ(out.status, 1);
      EXPECT_THAT(out.log, ::testing::Contains(::testing::HasSubstr(" *** Error # ")));
    }
    failed_runs += out.status;
    for (const char* leftover : {"Orvanta.mdb-journal", "Journal.mdb-journal"}) {
      EXPECT_FALSE(fs::exists(dbs / leftover));
    }
  }
  EXPECT_GT(failed_runs, 10);
}

TEST(BadInput, MalformedConnectionTextsAndJunkOptions) {
  for (const std::string& options :
       {std::string("DBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source='unclosed;Password=Secr3t\r\n"),
        std::string("DBType=2\r\nSQL_Connect=Provider=MSDASQL;Driver={SQLite3;Database=\"x\r\n"),
        std::string("DBType=2\r\nSQL_Connect=;;;===;\r\n"),
        std::string("\x01\x02\xff\xfe=\x00\x00\r\nVisitorMonths=\x80\x81\r\n", 27),
        std::string(100000, '\xff') + "\r\nEventMonths=1\r\n"}) {
    FakePlatform platform;
    platform.files["/opt/site/Orvanta.nam"] = "";
    platform.files["/opt/site/Orvanta.ini"] = options;
    Outcome out = RunJob(platform);
    ExpectWellFormed(out.log);
    EXPECT_EQ(out.status, 1);
    for (const auto& line : out.log) EXPECT_EQ(line.find("Secr3t"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace scourex
