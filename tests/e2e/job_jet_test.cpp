// The job on Jet files: the product's site databases (written by an independent Jet
// library) and sites written by make-site, purged through the native engine. What goes
// is checked against a computation of its own from the expected rows, and what stays
// must be unchanged row for row.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <map>
#include <sstream>
#include <thread>

#include "db/connection.h"
#include "driver/job.h"
#include "jet/database.h"
#include "jet/tsv.h"
#include "support/fake_platform.h"
#include "purge/date_string.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::FakePlatform;
using testing::TempFolder;

const fs::path kFixtures = fs::path(SCOUREX_FIXTURES_DIR);

using Lines = std::vector<std::string>;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string f;
  while (std::getline(in, f, '\t')) fields.push_back(f);
  if (!line.empty() && line.back() == '\t') fields.push_back("");
  return fields;
}

// The rows of an expected table, header dropped.
Lines ExpectedRows(const std::string& site, const std::string& db, const std::string& table) {
  std::ifstream in(kFixtures / "expected" / site / db / (table + ".tsv"));
  Lines rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) rows.push_back(line);
  return rows;
}

Lines ActualRows(const std::string& path, const std::string& password, const std::string& table) {
  auto db = jet::Database::Open(path, {.password = password});
  Lines rows;
  db->GetTable(table)->Scan({}, [&](jet::RowId, const jet::Row& row) {
    rows.push_back(jet::FormatTsvRow(row));
    return true;
  });
  return rows;
}

Lines Without(const Lines& rows, const std::function<bool(const std::vector<std::string>&)>& goes) {
  Lines kept;
  for (const auto& row : rows) {
    if (!goes(Split(row))) kept.push_back(row);
  }
  return kept;
}

// The cutoffs the binary computes from the real clock, as text comparable with the
// expected rows (Jet literals have whole minutes).
struct PosixCutoffs {
  std::string visitors, events;
  PosixCutoffs() {
    auto platform = CreateSystemPlatform();
    LocalDateTime now = platform->Now();
    now.second = 0;
    visitors = FormatTimestamp(AddMonths(now, -6));
    events = FormatTimestamp(AddMonths(now, -3));
  }
};

struct Case {
  std::string site;
  int months;
  bool creation;  // VisitorCheckCreationDate 1
  bool all;       // DeleteAlsoCardholder
};

std::string Name(const ::testing::TestParamInfo<Case>& info) {
  const Case& c = info.param;
  std::string site = c.site == "site-small" ? "Small" : "Ri";
  return site + std::to_string(c.months) + "Months" + (c.creation ? "Creation" : "LastChange") +
         (c.all ? "All" : "Visitors");
}

class SiteFixturePurge : public ::testing::TestWithParam<Case> {};

TEST_P(SiteFixturePurge, TakesExactlyTheSelectedRowsAndKeepsAllElse) {
  const Case c = GetParam();
  TempFolder dbs;
  for (const char* f : {"Orvanta.mdb", "Journal.mdb"}) fs::copy_file(kFixtures / c.site / f, dbs / f);

  FakePlatform platform;
  platform.now = {2026, 12, 1, 0, 0, 0};  // the fixtures' reference time
  platform.files["/opt/site/Orvanta.nam"] = "";
  platform.files["/opt/site/Orvanta.ini"] = "DBType=1\r\nDbsFolder=" + dbs.path() + "\r\nVisitorMonths=" +
                                            std::to_string(c.months) + "\r\nVisitorCheckCreationDate=" +
                                            (c.creation ? "1" : "2") + "\r\nDeleteAlsoCardholder=" +
                                            (c.all ? "1" : "0") + "\r\n";
  platform.files["/opt/site/scourex.ini"] = "";
  Job job(platform, [] { return db::CreateConnection(); });
  EXPECT_EQ(FormLoad(job), 0);

  // The selection, computed from the expected rows.
  const std::string cutoff = c.months == 2 ? "2026-10-01 00:00:00" : "2026-06-01 00:00:00";
  std::set<std::string> taken;
  for (const auto& row : ExpectedRows(c.site, "Orvanta", "CRDHLD")) {
    auto f = Split(row);  // ID type Valid From_Date Loc_Date ...
    const std::string& date = c.creation ? f[3] : f[4];
    if (f[2] == "false" && (c.all || f[1] == "0") && (date == "\\N" || date < cutoff)) taken.insert(f[0]);
  }
  auto refers = [&](std::size_t column) {
    return [&taken, column](const std::vector<std::string>& f) { return taken.count(f[column]) > 0; };
  };
  const std::string main_db = dbs / "Orvanta.mdb";
  std::size_t badges_before = ExpectedRows(c.site, "Orvanta", "CARD").size();
  Lines cards = Without(ExpectedRows(c.site, "Orvanta", "CARD"), refers(1));
  EXPECT_EQ(ActualRows(main_db, "Morvek3", "CARD"), cards);
  for (const char* table : {"Join_EmpAG", "Join_EmpAuthLift", "Join_EmpZoneID", "Exception", "ExceptionAG"}) {
    EXPECT_EQ(ActualRows(main_db, "Morvek3", table), Without(ExpectedRows(c.site, "Orvanta", table), refers(0)))
        << table;
  }
  EXPECT_EQ(ActualRows(main_db, "Morvek3", "CRDHLD"), Without(ExpectedRows(c.site, "Orvanta", "CRDHLD"), refers(0)));
  Lines events = Without(ExpectedRows(c.site, "Journal", "Log"), [](const std::vector<std::string>& f) {
    return f[1] != "\\N" && f[1] < "2026-09-01 00:00:00";
  });
  EXPECT_EQ(ActualRows(dbs / "Journal.mdb", "", "Log"), events);

  auto log = platform.Lines("/opt/site/Scourex.log");
  ASSERT_EQ(log.size(), 6u);
  EXPECT_THAT(log[1], ::testing::EndsWith(" Total Badges Deleted " + std::to_string(badges_before - cards.size())));
  EXPECT_THAT(log[2], ::testing::EndsWith((c.all ? " Total Cardholder Deleted " : " Total Visitor Deleted ") +
                                          std::to_string(taken.size())));
  EXPECT_THAT(log[3], ::testing::EndsWith(" Total Events Deleted " + std::string(c.site == "site-small" ? "870" : "869")));
  EXPECT_FALSE(fs::exists(dbs / "Orvanta.mdb-journal"));
}

// Every combination of the switches on both sites: this is the one place where the rows
// each combination takes are checked against the expected rows.
std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const char* site : {"site-small", "site-ri"})
    for (int months : {2, 6})
      for (bool creation : {true, false})
        for (bool all : {false, true}) cases.push_back({site, months, creation, all});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sites, SiteFixturePurge, ::testing::ValuesIn(AllCases()), Name);

// A generated site, purged by the real binary with the real clock.
class GeneratedSitePurge : public ::testing::TestWithParam<bool> {};

TEST_P(GeneratedSitePurge, BinaryTakesTheSelectedRowsAndOtherReadersAgree) {
  const bool ri = GetParam();
  TempFolder dir;
  auto made = testing::RunCommand(std::string(MAKE_SITE_BINARY) + " " + testing::ShellQuote(dir.path()) +
                                  " --seed 5 --size 300 --events 3000" + (ri ? " --ri" : "") + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  fs::copy_file(SCOUREX_BINARY, dir / "scourex");
  testing::WriteWholeFile(dir / "scourex.ini", "; nothing of its own\r\n");
  const std::string main_db = dir / "Orvanta.mdb", journal = dir / "Journal.mdb";
  const std::vector<std::string> children = {"CARD", "Join_EmpAG", "Join_EmpAuthLift", "Join_EmpZoneID",
                                             "Exception", "ExceptionAG"};
  std::map<std::string, Lines> before;
  for (const auto& t : children) before[t] = ActualRows(main_db, "Morvek3", t);
  before["CRDHLD"] = ActualRows(main_db, "Morvek3", "CRDHLD");
  before["Log"] = ActualRows(journal, "", "Log");

  // make-site's options: VisitorMonths 6, EventMonths 3, visitors by creation date.
  // The selection depends on the minute the job starts in: start early in a minute, so
  // that the run ends in the same one.
  while (CreateSystemPlatform()->Now().second >= 45) std::this_thread::sleep_for(std::chrono::seconds(1));
  PosixCutoffs cutoffs;
  auto run = testing::RunCommand("cd / && " + testing::ShellQuote(dir / "scourex") + " 2>&1");
  EXPECT_EQ(run.status, 0) << run.out;
  PosixCutoffs after_cutoffs;
  ASSERT_TRUE(after_cutoffs.visitors == cutoffs.visitors && after_cutoffs.events == cutoffs.events)
      << "the run took more than 15 seconds: the clock crossed a minute and the selection is ambiguous";

  std::set<std::string> taken;
  for (const auto& row : before["CRDHLD"]) {
    auto f = Split(row);
    if (f[2] == "false" && f[1] == "0" && (f[3] == "\\N" || f[3] < cutoffs.visitors)) taken.insert(f[0]);
  }
  for (const auto& t : children) {
    std::size_t column = t == "CARD" ? 1 : 0;
    EXPECT_EQ(ActualRows(main_db, "Morvek3", t),
              Without(before[t], [&](const std::vector<std::string>& f) { return taken.count(f[column]) > 0; }))
        << t;
  }
  Lines people = Without(before["CRDHLD"], [&](const std::vector<std::string>& f) { return taken.count(f[0]) > 0; });
  EXPECT_EQ(ActualRows(main_db, "Morvek3", "CRDHLD"), people);
  Lines events = Without(before["Log"], [&](const std::vector<std::string>& f) {
    return f[1] != "\\N" && f[1] < cutoffs.events;
  });
  EXPECT_EQ(ActualRows(journal, "", "Log"), events);
  EXPECT_GT(taken.size(), 0u);
  EXPECT_LT(events.size(), before["Log"].size());

  std::string log = testing::ReadWholeFile(dir / "Scourex.log");
  EXPECT_THAT(log, ::testing::HasSubstr(" Total Visitor Deleted " + std::to_string(taken.size()) + "\r\n"));
  EXPECT_THAT(log, ::testing::HasSubstr(" Total Events Deleted " +
                                        std::to_string(before["Log"].size() - events.size()) + "\r\n"));
  EXPECT_EQ(log.find("Error"), std::string::npos) << log;
  for (const char* leftover : {"Orvanta.mdb-journal", "Journal.mdb-journal", "Orvanta.ldb", "Journal.ldb"}) {
    EXPECT_FALSE(fs::exists(dir / leftover)) << leftover;
  }

  // Another reader sees the same rows.
  auto exported = testing::RunCommand("mdb-export " + testing::ShellQuote(journal) + " Log | wc -l");
  if (exported.status == 0 && !exported.out.empty()) {
    EXPECT_EQ(std::stoul(exported.out), events.size() + 1);
  }
  auto cards = testing::RunCommand("mdb-export " + testing::ShellQuote(main_db) + " CARD | wc -l");
  if (cards.status == 0 && !cards.out.empty()) {
    EXPECT_EQ(std::stoul(cards.out), ActualRows(main_db, "Morvek3", "CARD").size() + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Sites, GeneratedSitePurge, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "WithRelationships" : "Plain"; });

}  // namespace
}  // namespace scourex
