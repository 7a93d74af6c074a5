// CompactAfterPurge through the real binary: off, the run is as it always was; on, each
// purged Jet database is compacted with its sizes logged, and a compaction that refuses
// is an error line and exit status 1 that leave the purged file as it is.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "jet/database.h"
#include "jet/database/database_internal.h"
#include "jet/integrity.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::TempFolder;

struct Case {
  const char* name;
  const char* setting;  // the line added to scourex.ini
  bool damaged;         // the journal's recorded row count is off by one
  int status;
  const char* logged;   // expected in the log; empty: no compaction line at all
};

TEST(JobCompact, CompactsEachPurgedFileOrSaysWhyNot) {
  const Case cases[] = {
      {"absent", "", false, 0, ""},
      {"off", "CompactAfterPurge=0\r\n", false, 0, ""},
      {"on", "CompactAfterPurge=1\r\n", false, 0, " Compacted Database "},
      {"on, damaged", "CompactAfterPurge=1\r\n", true, 1, "integrity check"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    ASSERT_EQ(testing::MakeSite(dir.path(), "--seed 5 --size 20 --events 3000",
                                std::string("VisitorMonths=0\r\nEventMonths=12\r\n") + c.setting),
              "");
    const std::string journal = dir / "Journal.mdb";
    if (c.damaged) {
      std::uint32_t tdef = 0;
      {
        auto db = jet::Database::Open(journal);
        tdef = jet::Internal(*db->GetTable("Log")).definition().page;
      }
      std::string bytes = ReadWholeFile(journal);
      bytes[tdef * 4096 + 16] ^= 0x01;  // Jet 4: the recorded row count
      testing::WriteWholeFile(journal, bytes);
    }
    const auto before = fs::file_size(journal);
    auto run = testing::RunJob(dir.path());
    EXPECT_EQ(run.status, c.status) << run.out;
    const std::string log = ReadWholeFile(dir / "Scourex.log");
    EXPECT_NE(log.find(" Total Events Deleted "), std::string::npos) << log;
    if (std::string(c.logged).empty()) {
      EXPECT_EQ(log.find("Compact"), std::string::npos) << log;
      EXPECT_EQ(fs::file_size(journal), before);
    } else {
      EXPECT_NE(log.find(" Compact Database "), std::string::npos) << log;
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
    if (c.status == 0 && !std::string(c.logged).empty()) {
      EXPECT_LT(fs::file_size(journal), before);
      auto db = jet::Database::Open(journal);
      EXPECT_TRUE(jet::CheckIntegrity(*db).empty());
    }
    // A refused compaction leaves the purged file, whole and alone.
    EXPECT_FALSE(fs::exists(journal + "-compacting"));
    EXPECT_EQ(jet::Database::Open(journal)->GetTable("Log")->RecordedRowCount() > 0, true);
  }
}

}  // namespace
}  // namespace scourex
