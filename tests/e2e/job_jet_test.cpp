// The job on the product's site databases (written by an independent Jet library): what
// goes is checked against a computation of its own from the expected rows, what stays
// must be unchanged row for row, and mdbtools must read the purged file alike.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "db/connection.h"
#include "driver/job.h"
#include "jet/tsv.h"
#include "jet/write/write_support.h"
#include "support/fake_platform.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using Lines = std::vector<std::string>;
using Fields = std::vector<std::string>;

const fs::path kFixtures = fs::path(SCOUREX_FIXTURES_DIR);

// The tables that refer to cardholders, and the column that does.
const std::pair<const char*, size_t> kReferring[] = {{"CARD", 1},      {"Join_EmpAG", 0}, {"Join_EmpAuthLift", 0},
                                                     {"Join_EmpZoneID", 0}, {"Exception", 0}, {"ExceptionAG", 0},
                                                     {"CRDHLD", 0}};

Fields Split(const std::string& line) {
  Fields fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
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

Lines Without(const Lines& rows, const std::function<bool(const Fields&)>& goes) {
  Lines kept;
  for (const auto& row : rows) {
    if (!goes(Split(row))) kept.push_back(row);
  }
  return kept;
}

// The cardholders that go: invalid ones (of visitors' type unless all go) whose date,
// the creation date (field 3) or the last change (field 4), is unknown or before the cutoff.
std::set<std::string> Taken(const Lines& cardholders, bool all, bool creation, const std::string& cutoff) {
  std::set<std::string> taken;
  for (const auto& row : cardholders) {
    const Fields f = Split(row);  // ID type Valid From_Date Loc_Date ...
    const std::string& date = creation ? f[3] : f[4];
    if (f[2] == "false" && (all || f[1] == "0") && (date == "\\N" || date < cutoff)) taken.insert(f[0]);
  }
  return taken;
}

struct Case {
  std::string site;
  int months;
  bool creation;  // VisitorCheckCreationDate 1
  bool all;       // DeleteAlsoCardholder
};

class SiteFixturePurge : public ::testing::TestWithParam<Case> {};

TEST_P(SiteFixturePurge, TakesExactlyTheSelectedRowsAndKeepsAllElse) {
  const Case c = GetParam();
  TempFolder dbs;
  for (const char* f : {"Orvanta.mdb", "Journal.mdb"}) fs::copy_file(kFixtures / c.site / f, dbs / f);

  testing::FakePlatform platform;
  platform.now = {2026, 12, 1, 0, 0, 0};  // the fixtures' reference time
  platform.files["/opt/site/Orvanta.nam"] = "";
  platform.files["/opt/site/Orvanta.ini"] = "DBType=1\r\nDbsFolder=" + dbs.path() + "\r\nVisitorMonths=" +
                                            std::to_string(c.months) + "\r\nVisitorCheckCreationDate=" +
                                            (c.creation ? "1" : "2") + "\r\nDeleteAlsoCardholder=" +
                                            (c.all ? "1" : "0") + "\r\n";
  platform.files["/opt/site/scourex.ini"] = "";
  Job job(platform, [] { return db::CreateConnection(); });
  EXPECT_EQ(FormLoad(job), 0);

  const std::set<std::string> taken = Taken(ExpectedRows(c.site, "Orvanta", "CRDHLD"), c.all, c.creation,
                                            c.months == 2 ? "2026-10-01 00:00:00" : "2026-06-01 00:00:00");
  const std::string main_db = dbs / "Orvanta.mdb";
  for (const auto& [table, column] : kReferring) {
    EXPECT_EQ(ActualRows(main_db, "Morvek3", table),
              Without(ExpectedRows(c.site, "Orvanta", table), [&](const Fields& f) { return taken.count(f[column]) > 0; }))
        << table;
  }
  EXPECT_EQ(ActualRows(dbs / "Journal.mdb", "", "Log"), Without(ExpectedRows(c.site, "Journal", "Log"), [](const Fields& f) {
              return f[1] != "\\N" && f[1] < "2026-09-01 00:00:00";
            }));

  auto log = platform.Lines("/opt/site/Scourex.log");
  ASSERT_EQ(log.size(), 6u);
  const size_t badges = ExpectedRows(c.site, "Orvanta", "CARD").size() - ActualRows(main_db, "Morvek3", "CARD").size();
  EXPECT_THAT(log[1], ::testing::EndsWith(" Total Badges Deleted " + std::to_string(badges)));
  EXPECT_THAT(log[2], ::testing::EndsWith((c.all ? " Total Cardholder Deleted " : " Total Visitor Deleted ") +
                                          std::to_string(taken.size())));
  EXPECT_THAT(log[3], ::testing::EndsWith(" Total Events Deleted " + std::string(c.site == "site-small" ? "870" : "869")));
  for (const char* leftover : {"Orvanta.mdb-journal", "Journal.mdb-journal", "Orvanta.ldb", "Journal.ldb"}) {
    EXPECT_FALSE(fs::exists(dbs / leftover)) << leftover;
  }
  if (jet::testing::HaveMdbtools()) {
    EXPECT_EQ(jet::testing::MdbExportFirstColumn(main_db, "CARD").size(), ActualRows(main_db, "Morvek3", "CARD").size());
  }
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

INSTANTIATE_TEST_SUITE_P(Sites, SiteFixturePurge, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           const Case& c = param.param;
                           return (c.site == "site-small" ? "Small" : "Ri") + std::to_string(c.months) + "Months" +
                                  (c.creation ? "Creation" : "LastChange") + (c.all ? "All" : "Visitors");
                         });

}  // namespace
}  // namespace scourex
