// The real binary in a temporary installation folder, purging a real SQLite database
// reached through unixODBC and SQLite's ODBC driver. Which rows each combination of the
// switches takes is checked on the Jet fixtures; here each condition of the job's
// statements must hold both ways on another engine, dates compared as text.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/process.h"

namespace scourex {
namespace {

// Dates are so many days back, well away from the 3- and 6-month cutoffs (six months
// back is at least 181 days and at most 184).
const char kSite[] = R"(
CREATE TABLE CRDHLD (ID INTEGER PRIMARY KEY, type INTEGER, Valid INTEGER, From_Date TEXT, Loc_Date TEXT);
INSERT INTO CRDHLD VALUES
  (1, 0, 0, 700, 700),   -- an old invalid visitor
  (2, 0, 0, 2, 2),       -- a recent one
  (3, 0, 0, NULL, 2),    -- created at an unknown date, changed lately
  (4, 0, 0, 2, 700),     -- created lately, unchanged for long
  (5, 1, 0, 700, 700),   -- an old invalid cardholder who is no visitor
  (6, 0, -1, 700, 700),  -- an old valid visitor
  (7, 0, 0, 250, NULL);  -- created over six months ago, never changed
UPDATE CRDHLD SET From_Date = datetime('now', 'localtime', '-' || From_Date || ' days'),
                  Loc_Date = datetime('now', 'localtime', '-' || Loc_Date || ' days');
-- Badges: one per cardholder, a second for the first, one without owner, an orphan.
CREATE TABLE CARD (CardID INTEGER PRIMARY KEY, Owner INTEGER);
INSERT INTO CARD (Owner) SELECT ID FROM CRDHLD;
INSERT INTO CARD (Owner) VALUES (1), (NULL), (9999);
CREATE TABLE Join_EmpAG (Emp_ID INTEGER);
CREATE TABLE Join_EmpAuthLift (Emp_ID INTEGER);
CREATE TABLE Join_EmpZoneID (Emp_ID INTEGER);
CREATE TABLE Exception (EmpID INTEGER);
CREATE TABLE ExceptionAG (EmpID INTEGER);
INSERT INTO Join_EmpAG SELECT ID FROM CRDHLD;
INSERT INTO Join_EmpAuthLift SELECT ID FROM CRDHLD;
INSERT INTO Join_EmpZoneID SELECT ID FROM CRDHLD;
INSERT INTO Exception SELECT ID FROM CRDHLD;
INSERT INTO ExceptionAG SELECT ID FROM CRDHLD;
CREATE TABLE Log (ID INTEGER PRIMARY KEY, Date TEXT);
INSERT INTO Log (Date) VALUES (1), (10), (60), (100), (200), (365), (700), (NULL);
UPDATE Log SET Date = datetime('now', 'localtime', '-' || Date || ' days');
)";

TEST(JobOnSqlite, PurgesTheSelectedCardholdersWithEveryRowReferringToThemAndOldEvents) {
  struct Case {
    const char* text_before_path;  // SQL_Connect, the database's path between these two
    const char* text_after_path;
    const char* options;
    const char* kept;  // cardholders
    const char* counts;
    const char* events_left;
  };
  const Case cases[] = {
      {"Driver=SQLite3;Database=", "", "VisitorMonths=6\r\nEventMonths=3\r\n", "2,4,5,6",
       "  Total Badges Deleted 4|  Total Visitor Deleted 3|  Total Events Deleted 4|", "1,2,3,8"},
      {"Provider=MSDASQL; Driver={SQLite3} ;Database='", "';Connect Timeout=5",
       "VisitorMonths=6\r\nEventMonths=0\r\nDeleteAlsoCardholder=1\r\nVisitorCheckCreationDate=2\r\n", "2,3,6",
       "  Total Badges Deleted 5|  Total Cardholder Deleted 4|", "1,2,3,4,5,6,7,8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    testing::TempFolder dir;
    const std::string db = dir / "site.db";
    testing::WriteWholeFile(dir / "site.sql", kSite);
    ASSERT_EQ(testing::RunCommand("sqlite3 " + testing::ShellQuote(db) + " < " + testing::ShellQuote(dir / "site.sql")).status, 0);
    std::filesystem::copy_file(SCOUREX_BINARY, dir / "scourex");
    testing::WriteWholeFile(dir / "Orvanta.nam", "");
    testing::WriteWholeFile(dir / "Orvanta.ini", std::string("[Orvanta]\r\nDBType=2\r\nSQL_Connect=") + c.text_before_path +
                                                     db + c.text_after_path + "\r\n" + c.options);
    EXPECT_EQ(testing::RunJob(dir.path()).status, 0);

    const auto ids = [&](const std::string& column, const std::string& table) {
      auto r = testing::RunCommand("sqlite3 " + testing::ShellQuote(db) + " " +
                                   testing::ShellQuote("SELECT group_concat(x) FROM (SELECT " + column + " AS x FROM " +
                                                       table + " ORDER BY 1)"));
      return r.out.substr(0, r.out.find('\n'));
    };
    for (const auto& [table, column] : {std::pair{"CRDHLD", "ID"}, {"Join_EmpAG", "Emp_ID"}, {"Join_EmpAuthLift", "Emp_ID"},
                                        {"Join_EmpZoneID", "Emp_ID"}, {"Exception", "EmpID"}, {"ExceptionAG", "EmpID"}}) {
      EXPECT_EQ(ids(column, table), c.kept) << table;
    }
    EXPECT_EQ(ids("ifnull(Owner, 'none')", "CARD"), std::string(c.kept) + ",9999,none");
    EXPECT_EQ(ids("ID", "Log"), c.events_left);

    // The log without the 19 characters of each line's timestamp, lines joined by "|".
    std::string log;
    const std::string text = testing::ReadWholeFile(dir / "Scourex.log");
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      log += text.substr(start, end - start).substr(std::min<size_t>(19, end - start)) + "|";
    }
    EXPECT_EQ(log, std::string(" *** Error #  53 - File not found *** Options ReAdoptions|  Start Application Scourex  |") +
                       c.counts + "  Stop Application Scourex  ||");
  }
}

}  // namespace
}  // namespace scourex
