// The real binary in a temporary installation folder, purging a real SQLite database
// reached through unixODBC and SQLite's ODBC driver.

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>

#include "support/process.h"

namespace scourex {
namespace {

using testing::ReadWholeFile;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TempFolder;
using testing::WriteWholeFile;

// Ages in days chosen well away from the 3- and 6-month cutoffs, so that the clock of
// the run cannot move a row across them.
const int kAges[] = {2, 40, 120, 250, 700};

std::string DaysAgo(int days) {
  std::time_t t = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

struct Cardholder {
  int id, type, valid;
  int from_age, loc_age;  // -1: NULL
};

std::vector<Cardholder> MakeCardholders() {
  std::vector<Cardholder> list;
  int id = 1;
  for (int type : {0, 1})
    for (int valid : {0, -1})
      for (int from : {-1, 0, 1, 2, 3, 4})
        for (int loc : {-1, 0, 3, 4}) {
          int from_age = from < 0 ? -1 : kAges[from];
          int loc_age = loc < 0 ? -1 : kAges[loc];
          list.push_back({id, type, valid, from_age, loc_age});
          id += 2;
        }
  return list;
}

// Six months back is at least 181 days and at most 184.
bool Taken(const Cardholder& c, bool all, bool creation) {
  if (c.valid != 0 || (!all && c.type != 0)) return false;
  int age = creation ? c.from_age : c.loc_age;
  return age < 0 || age > 184;
}

std::string SqlDate(int age) { return age < 0 ? "NULL" : "'" + DaysAgo(age) + "'"; }

struct Site {
  TempFolder dir;
  std::string db = dir / "site.db";
  std::vector<Cardholder> cardholders = MakeCardholders();

  Site() {
    std::filesystem::copy_file(SCOUREX_BINARY, dir / "scourex");
    WriteWholeFile(dir / "Orvanta.nam", "");
    std::string sql =
        "CREATE TABLE CRDHLD (ID INTEGER PRIMARY KEY, type INTEGER, Valid INTEGER, From_Date TEXT, Loc_Date TEXT);\n"
        "CREATE TABLE CARD (CardID INTEGER PRIMARY KEY, Owner INTEGER, CardNumber TEXT);\n"
        "CREATE TABLE Join_EmpAG (Emp_ID INTEGER, AG_ID INTEGER);\n"
        "CREATE TABLE Join_EmpAuthLift (Emp_ID INTEGER, Lift_ID INTEGER);\n"
        "CREATE TABLE Join_EmpZoneID (Emp_ID INTEGER, Zone_ID INTEGER);\n"
        "CREATE TABLE Exception (EmpID INTEGER, Door_ID INTEGER);\n"
        "CREATE TABLE ExceptionAG (EmpID INTEGER, AG_ID INTEGER);\n"
        "CREATE TABLE Log (ID INTEGER PRIMARY KEY, Date TEXT, Message TEXT);\n"
        "BEGIN;\n";
    for (const auto& c : cardholders) {
      sql += "INSERT INTO CRDHLD VALUES (" + std::to_string(c.id) + "," + std::to_string(c.type) + "," +
             std::to_string(c.valid) + "," + SqlDate(c.from_age) + "," + SqlDate(c.loc_age) + ");\n";
      std::string id = std::to_string(c.id);
      for (int k = 0; k < c.id % 3; ++k) sql += "INSERT INTO CARD (Owner, CardNumber) VALUES (" + id + ", 'B" + id + "');\n";
      sql += "INSERT INTO Join_EmpAG VALUES (" + id + ", 1);\n";
      sql += "INSERT INTO Join_EmpAuthLift VALUES (" + id + ", 2);\n";
      sql += "INSERT INTO Join_EmpZoneID VALUES (" + id + ", 3);\n";
      sql += "INSERT INTO Exception VALUES (" + id + ", 4);\n";
      sql += "INSERT INTO ExceptionAG VALUES (" + id + ", 5);\n";
    }
    // Rows that no purge may take: a NULL owner and an orphan.
    sql += "INSERT INTO CARD (Owner, CardNumber) VALUES (NULL, 'SPARE'), (9999, 'ORPHAN');\n";
    int event = 0;
    for (int age : {1, 10, 60, 100, 200, 365, 700}) {
      for (int k = 0; k < 5; ++k) sql += "INSERT INTO Log VALUES (" + std::to_string(++event) + "," + SqlDate(age) + ",'e');\n";
    }
    sql += "INSERT INTO Log VALUES (" + std::to_string(++event) + ", NULL, 'undated');\nCOMMIT;\n";
    WriteWholeFile(dir / "schema.sql", sql);
    EXPECT_EQ(RunCommand("sqlite3 " + ShellQuote(db) + " < " + ShellQuote(dir / "schema.sql")).status, 0);
  }

  void Options(const std::string& extra) {
    WriteWholeFile(dir / "Orvanta.ini", "[Orvanta]\r\nDBType=2\r\nSQL_Connect=Driver=SQLite3;Database=" + db +
                                            "\r\n" + extra);
  }
  int Run() { return RunCommand("cd / && " + ShellQuote(dir / "scourex") + " 2>/dev/null").status; }
  std::string Query(const std::string& sql) {
    auto r = RunCommand("sqlite3 " + ShellQuote(db) + " " + ShellQuote(sql));
    EXPECT_EQ(r.status, 0) << sql;
    if (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
  }
  std::set<int> Ids(const std::string& sql) {
    std::set<int> ids;
    std::string out = Query(sql);
    for (size_t start = 0; start < out.size();) {
      size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      ids.insert(std::stoi(out.substr(start, end - start)));
      start = end + 1;
    }
    return ids;
  }
  // The log's lines without timestamps (each line starts with a 19-character stamp).
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    std::string text = ReadWholeFile(dir / "Scourex.log");
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      std::string line = text.substr(start, end - start);
      lines.push_back(line.size() >= 19 ? line.substr(19) : line);
    }
    return lines;
  }
};

// Checks that exactly the selected cardholders went, with every row referring to them,
// and returns how many cardholders and badges that was.
std::pair<int, int> ExpectPurged(Site& site, bool all, bool creation) {
  std::set<int> kept_people, expected_owners = {9999};
  int badges = 0, people = 0;
  for (const auto& c : site.cardholders) {
    if (Taken(c, all, creation)) {
      ++people;
      badges += c.id % 3;
    } else {
      kept_people.insert(c.id);
      if (c.id % 3) expected_owners.insert(c.id);
    }
  }
  EXPECT_EQ(site.Ids("SELECT ID FROM CRDHLD"), kept_people);
  for (const char* table : {"Join_EmpAG", "Join_EmpAuthLift", "Join_EmpZoneID"})
    EXPECT_EQ(site.Ids(std::string("SELECT Emp_ID FROM ") + table), kept_people) << table;
  for (const char* table : {"Exception", "ExceptionAG"})
    EXPECT_EQ(site.Ids(std::string("SELECT EmpID FROM ") + table), kept_people) << table;
  EXPECT_EQ(site.Ids("SELECT DISTINCT Owner FROM CARD WHERE Owner IS NOT NULL"), expected_owners);
  EXPECT_EQ(site.Query("SELECT COUNT(*) FROM CARD WHERE Owner IS NULL"), "1");
  return {people, badges};
}

TEST(JobOnSqlite, PurgesExactlyTheSelectedCardholdersAndOldEvents) {
  struct Case {
    const char* options;
    bool all, creation;
    const char* who;
    const char* events_deleted;
    const char* events_left;  // of 36: newer than 3 months, and the undated one
  };
  const Case cases[] = {
      {"VisitorMonths=6\r\nEventMonths=3\r\n", false, true, "Visitor", "20", "16"},
      {"VisitorMonths=6\r\nEventMonths=0\r\nDeleteAlsoCardholder=1\r\nVisitorCheckCreationDate=2\r\n", true, false,
       "Cardholder", nullptr, "36"},
  };
  for (const Case& c : cases) {
    Site site;
    site.Options(c.options);
    EXPECT_EQ(site.Run(), 0);
    const auto [people, badges] = ExpectPurged(site, c.all, c.creation);
    std::vector<std::string> log = {" *** Error #  53 - File not found *** Options ReAdoptions",
                                    "  Start Application Scourex  ", "  Total Badges Deleted " + std::to_string(badges),
                                    "  Total " + std::string(c.who) + " Deleted " + std::to_string(people)};
    if (c.events_deleted) log.push_back("  Total Events Deleted " + std::string(c.events_deleted));
    log.insert(log.end(), {"  Stop Application Scourex  ", ""});
    EXPECT_EQ(site.Log(), log) << c.options;
    EXPECT_EQ(site.Query("SELECT COUNT(*) FROM Log"), c.events_left);
  }
}

}  // namespace
}  // namespace scourex
