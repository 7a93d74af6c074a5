// The real binary in a temporary installation folder, purging a real SQLite database
// reached through unixODBC and SQLite's ODBC driver.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>

#include "support/process.h"

namespace scourex {
namespace {

using testing::RunCommand;
using testing::ShellQuote;

// Ages in days chosen well away from the 3- and 6-month cutoffs (six months back is at
// least 181 days and at most 184), so that the clock of the run cannot move a row across them.
const int kAges[] = {2, 40, 120, 250, 700};

// The literal for the time `days` ago; NULL for -1.
std::string SqlDate(int days) {
  if (days < 0) return "NULL";
  const std::time_t t = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "'%Y-%m-%d %H:%M:%S'", &tm);
  return text;
}

struct Cardholder {
  int id, type, valid, from_age, loc_age;  // ages in days, -1: NULL
};

// The tables that refer to cardholders, and their column that does.
const std::pair<const char*, const char*> kLinks[] = {{"Join_EmpAG", "Emp_ID"},
                                                      {"Join_EmpAuthLift", "Emp_ID"},
                                                      {"Join_EmpZoneID", "Emp_ID"},
                                                      {"Exception", "EmpID"},
                                                      {"ExceptionAG", "EmpID"}};

struct Site {
  testing::TempFolder dir;
  std::string db = dir / "site.db";
  std::vector<Cardholder> cardholders;

  Site() {
    std::filesystem::copy_file(SCOUREX_BINARY, dir / "scourex");
    testing::WriteWholeFile(dir / "Orvanta.nam", "");
    std::string sql =
        "CREATE TABLE CRDHLD (ID INTEGER PRIMARY KEY, type INTEGER, Valid INTEGER, From_Date TEXT, Loc_Date TEXT);\n"
        "CREATE TABLE CARD (CardID INTEGER PRIMARY KEY, Owner INTEGER, CardNumber TEXT);\n"
        "CREATE TABLE Log (ID INTEGER PRIMARY KEY, Date TEXT, Message TEXT);\n";
    for (const auto& [table, column] : kLinks) sql += std::string("CREATE TABLE ") + table + " (" + column + " INTEGER, Other INTEGER);\n";
    sql += "BEGIN;\n";
    int id = 1;
    for (int type : {0, 1})
      for (int valid : {0, -1})
        for (int from : {-1, 0, 1, 2, 3, 4})
          for (int loc : {-1, 0, 3, 4}) {
            const Cardholder c{id, type, valid, from < 0 ? -1 : kAges[from], loc < 0 ? -1 : kAges[loc]};
            cardholders.push_back(c);
            const std::string i = std::to_string(id);
            sql += "INSERT INTO CRDHLD VALUES (" + i + "," + std::to_string(type) + "," + std::to_string(valid) + "," +
                   SqlDate(c.from_age) + "," + SqlDate(c.loc_age) + ");\n";
            for (int k = 0; k < id % 3; ++k) sql += "INSERT INTO CARD (Owner, CardNumber) VALUES (" + i + ", 'B" + i + "');\n";
            for (const auto& [table, column] : kLinks) sql += std::string("INSERT INTO ") + table + " VALUES (" + i + ", 1);\n";
            id += 2;
          }
    // Rows that no purge may take: a NULL owner and an orphan.
    sql += "INSERT INTO CARD (Owner, CardNumber) VALUES (NULL, 'SPARE'), (9999, 'ORPHAN');\n";
    for (int age : {1, 10, 60, 100, 200, 365, 700}) {
      for (int k = 0; k < 5; ++k) sql += "INSERT INTO Log (Date, Message) VALUES (" + SqlDate(age) + ", 'e');\n";
    }
    sql += "INSERT INTO Log (Date, Message) VALUES (NULL, 'undated');\nCOMMIT;\n";
    testing::WriteWholeFile(dir / "schema.sql", sql);
    EXPECT_EQ(RunCommand("sqlite3 " + ShellQuote(db) + " < " + ShellQuote(dir / "schema.sql")).status, 0);
  }

  std::string Query(const std::string& sql) {
    auto r = RunCommand("sqlite3 " + ShellQuote(db) + " " + ShellQuote(sql));
    EXPECT_EQ(r.status, 0) << sql;
    if (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
  }
  std::set<int> Ids(const std::string& sql) {
    std::istringstream out(Query(sql));
    std::set<int> ids;
    for (int id; out >> id;) ids.insert(id);
    return ids;
  }
};

TEST(JobOnSqlite, PurgesExactlyTheSelectedCardholdersAndOldEvents) {
  struct Case {
    const char* text_before_path;  // SQL_Connect, the database's path between these two
    const char* text_after_path;
    const char* options;
    bool all, creation;
    const char* who;
    const char* events_deleted;
    const char* events_left;  // of 36: newer than 3 months, and the undated one
  };
  const Case cases[] = {
      {"Driver=SQLite3;Database=", "", "VisitorMonths=6\r\nEventMonths=3\r\n", false, true, "Visitor", "20", "16"},
      {"Provider=MSDASQL; Driver={SQLite3} ;Database='", "';Connect Timeout=5",
       "VisitorMonths=6\r\nEventMonths=0\r\nDeleteAlsoCardholder=1\r\nVisitorCheckCreationDate=2\r\n", true, false,
       "Cardholder", nullptr, "36"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    Site site;
    testing::WriteWholeFile(site.dir / "Orvanta.ini", std::string("[Orvanta]\r\nDBType=2\r\nSQL_Connect=") +
                                                          c.text_before_path + site.db + c.text_after_path + "\r\n" +
                                                          c.options);
    EXPECT_EQ(testing::RunJob(site.dir.path()).status, 0);

    std::set<int> kept, owners = {9999};
    int people = 0, badges = 0;
    for (const Cardholder& h : site.cardholders) {
      const int age = c.creation ? h.from_age : h.loc_age;
      if (h.valid == 0 && (c.all || h.type == 0) && (age < 0 || age > 184)) {
        ++people;
        badges += h.id % 3;
      } else {
        kept.insert(h.id);
        if (h.id % 3) owners.insert(h.id);
      }
    }
    EXPECT_EQ(site.Ids("SELECT ID FROM CRDHLD"), kept);
    for (const auto& [table, column] : kLinks) {
      EXPECT_EQ(site.Ids(std::string("SELECT ") + column + " FROM " + table), kept) << table;
    }
    EXPECT_EQ(site.Ids("SELECT DISTINCT Owner FROM CARD WHERE Owner IS NOT NULL"), owners);
    EXPECT_EQ(site.Query("SELECT COUNT(*) FROM CARD WHERE Owner IS NULL"), "1");
    EXPECT_EQ(site.Query("SELECT COUNT(*) FROM Log"), c.events_left);

    std::vector<std::string> expected = {" *** Error #  53 - File not found *** Options ReAdoptions",
                                         "  Start Application Scourex  ", "  Total Badges Deleted " + std::to_string(badges),
                                         "  Total " + std::string(c.who) + " Deleted " + std::to_string(people)};
    if (c.events_deleted) expected.push_back("  Total Events Deleted " + std::string(c.events_deleted));
    expected.insert(expected.end(), {"  Stop Application Scourex  ", ""});
    std::vector<std::string> log;  // without the 19 characters of each line's timestamp
    const std::string text = testing::ReadWholeFile(site.dir / "Scourex.log");
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      log.push_back(text.substr(start, end - start).substr(std::min<size_t>(19, end - start)));
    }
    EXPECT_EQ(log, expected);
  }
}

}  // namespace
}  // namespace scourex
