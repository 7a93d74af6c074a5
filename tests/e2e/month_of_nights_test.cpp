// A month of the product's life on one journal: every day the product appends a day of
// events, every night the real binary purges what has aged, and once a week it also
// compacts the file (CompactAfterPurge=1). Every night's file must read alike in every
// reader, and the space freed must be reused: the file stops growing.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "jet/database/database_internal.h"
#include "jet/integrity.h"
#include "jet/page/data_page.h"
#include "jet/table/table_reader.h"
#include "jet/write/write_support.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr int kNights = 30;
constexpr int kEventsPerDay = 400;
constexpr int kSettlingNights = 3;
constexpr int kCompactEvery = 7;  // nights

// A day of events, all older than the job's cutoff (EventMonths=3), in one statement.
void InsertDay(const std::string& path, int day) {
  auto db = jet::Database::Open(path, {.password = "", .read_write = true});
  jet::Table* log = db->GetTable("Log");
  ASSERT_NE(log, nullptr);
  const double today = static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0;
  db->BeginStatement();
  for (int k = 0; k < kEventsPerDay; ++k) {
    const double when = today - 200 + day + static_cast<double>(k) / kEventsPerDay;
    log->InsertRow({jet::Value::Null(), jet::Value::DateValue(when), jet::Value::Int(1 + k % 6),
                    k % 5 == 0 ? jet::Value::Null() : jet::Value::Str("B" + std::to_string(k % 97)),
                    jet::Value::Str("Access granted at door " + std::to_string(k % 200))});
  }
  db->CommitStatement();
}

// Every data page of the table records exactly the room it has (the pages purges free
// are offered to inserts: the file stops growing).
void ExpectFreeSpaceAsJetLeavesIt(const std::string& path, int night) {
  auto db = jet::Database::Open(path);
  jet::Table* log = db->GetTable("Log");
  jet::Pager& pager = jet::Internal(*db).pager();
  const jet::Format& f = pager.format();
  for (std::uint32_t number : jet::Internal(*log).reader().DataPages()) {
    jet::DataPage page(pager.Read(number), number, f);
    std::uint32_t used = f.data_slots + 2u * page.row_count();
    for (std::uint16_t s = 0; s < page.row_count(); ++s) used += page.slot(s).length;
    EXPECT_EQ(page.free_space(), f.page_size - used) << "night " << night << ", page " << number;
  }
}

TEST(MonthOfNights, EveryNightLeavesASoundFileWithItsFreedSpaceOnOffer) {
  if (!jet::testing::HaveMdbtools() || !jet::testing::HaveMdbReader()) return;
  TempFolder dir;
  ASSERT_EQ(testing::MakeSite(dir.path(), "--seed 21 --size 20 --events 4000", "VisitorMonths=0\r\nEventMonths=3\r\n"), "");
  const std::string journal = dir / "Journal.mdb";

  std::size_t kept = 0;
  std::uintmax_t settled = 0;  // the file's size once the first nights are over
  // mdb-reader reads every night's file in one run at the end: starting node is slow.
  std::vector<std::pair<std::string, std::string>> nights;
  std::string counts;
  for (int night = 0; night <= kNights; ++night) {
    if (night > 0) InsertDay(journal, night);
    const std::size_t before = jet::Database::Open(journal)->GetTable("Log")->RecordedRowCount();
    fs::remove(dir / "Scourex.log");
    const bool compacting = night % kCompactEvery == kCompactEvery - 1;
    testing::WriteWholeFile(dir / "scourex.ini", compacting ? "VisitorMonths=0\r\nEventMonths=3\r\nCompactAfterPurge=1\r\n"
                                                            : "VisitorMonths=0\r\nEventMonths=3\r\n");
    const std::uintmax_t purged_size = fs::file_size(journal);
    auto run = testing::RunJob(dir.path());
    ASSERT_EQ(run.status, 0) << "night " << night << ": " << run.out;

    auto db = jet::Database::Open(journal);
    const std::size_t after = jet::testing::RowsOf(*db, "Log").size();
    if (night == 0) kept = after;
    ASSERT_GT(kept, 0u);
    // Each night takes exactly the day the product added.
    EXPECT_EQ(after, kept) << "night " << night;
    EXPECT_NE(testing::ReadWholeFile(dir / "Scourex.log")
                  .find(" Total Events Deleted " + std::to_string(before - after) + "\r\n"),
              std::string::npos);
    for (const auto& problem : jet::CheckIntegrity(*db)) ADD_FAILURE() << "night " << night << ": " << problem;
    const std::string copy = dir / ("night-" + std::to_string(night) + ".mdb");
    counts += copy + "\n" + jet::testing::EngineCounts(*db);
    db.reset();
    const std::string log = testing::ReadWholeFile(dir / "Scourex.log");
    EXPECT_EQ(log.find(" Compacted Database ") != std::string::npos, compacting) << "night " << night << ": " << log;
    // A compacted file has packed its rows: nothing is on offer until the next purge.
    if (compacting) {
      EXPECT_LE(fs::file_size(journal), purged_size) << "night " << night;
    } else {
      ExpectFreeSpaceAsJetLeavesIt(journal, night);
    }
    EXPECT_EQ(jet::testing::MdbExportFirstColumn(journal, "Log").size(), kept) << "night " << night;
    fs::copy_file(journal, copy);
    nights.emplace_back(copy, "");
    const std::uintmax_t size = fs::file_size(journal);
    if (night == kSettlingNights) settled = size;
    if (night > kSettlingNights && night < kCompactEvery - 1) {
      EXPECT_EQ(size, settled) << "night " << night << ": the file grew";
    }
    if (night > kSettlingNights) {
      EXPECT_LE(size, settled) << "night " << night << ": the file grew";
    }
  }
  EXPECT_EQ(jet::testing::MdbReaderCounts(nights), counts);
}

}  // namespace
}  // namespace scourex
