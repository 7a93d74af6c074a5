// Deleting rows from files written by Access and by another Jet library: the right rows
// go, every index follows, the counts agree, and other readers see the same result.

#include <gtest/gtest.h>

#include <memory>

#include "jet/page/usage_map.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// In every table of every fixture, every other row goes in one statement (or, where a
// relationship forbids it, nothing). The result holds after reopening, for mdbtools and
// for mdb-reader too.
TEST(WriteDelete, EveryOtherRowOfEveryFixtureTable) {
  JET_REQUIRE_FIXTURES();
  int deleted_tables = 0, refused = 0;
  std::vector<std::unique_ptr<TempDir>> dirs;
  std::vector<std::pair<std::string, std::string>> files;
  std::string engine_counts;
  for (const char* folder : {"access", "site-small", "site-ri"}) {
    for (const auto& entry : fs::directory_iterator(FixturesDir() / folder)) {
      if (entry.path().extension() != ".mdb") continue;
      SCOPED_TRACE(entry.path().string());
      dirs.push_back(std::make_unique<TempDir>());
      const std::string path = CopyInto(entry.path(), *dirs.back());
      const std::string password = entry.path().filename() == "Orvanta.mdb" ? "Morvek3" : "";
      std::map<std::string, std::multiset<std::string>> expected;
      {
        auto db = Database::Open(path, {.password = password, .read_write = true});
        for (const auto& name : db->TableNames()) {
          SCOPED_TRACE(name);
          Table* t = db->GetTable(name);
          const testing::RowMap before = RowsOf(*t);
          std::vector<RowId> doomed;
          std::multiset<std::string> remaining;
          std::size_t k = 0;
          for (const auto& [id, line] : before) {
            if (k++ % 2 == 0) doomed.push_back(id);
            else remaining.insert(line);
          }
          if (doomed.empty()) continue;
          try {
            EXPECT_EQ(t->DeleteRows(doomed), static_cast<std::int64_t>(doomed.size()));
            ++deleted_tables;
            EXPECT_EQ(Lines(RowsOf(*t)), remaining);
            // Every page that lost a row is offered to later inserts, as Jet offers it.
            const auto offered = ReadUsageMap(Internal(*db).pager(), Internal(*t).definition().free_pages);
            for (RowId id : doomed)
              EXPECT_TRUE(std::binary_search(offered.begin(), offered.end(), id.page)) << "page " << id.page;
          } catch (const Error& e) {
            ASSERT_EQ(e.code(), ErrorCode::Integrity) << e.what();
            ++refused;
            EXPECT_EQ(RowsOf(*t), before);
          }
          for (const auto& other : db->TableNames()) expected[other] = Lines(RowsOf(*db, other));
          ExpectConsistent(*db);
        }
      }
      EXPECT_FALSE(fs::exists(path + "-journal"));
      auto db = Database::Open(path, {.password = password});
      for (const auto& [name, lines] : expected) EXPECT_EQ(Lines(RowsOf(*db, name)), lines) << name;
      ExpectConsistent(*db);
      if (testing::HaveMdbtools()) {
        for (const auto& [name, lines] : expected)
          EXPECT_EQ(testing::MdbExportFirstColumn(path, name).size(), lines.size()) << "mdb-export, table " << name;
      }
      files.emplace_back(path, password);
      engine_counts += path + "\n" + testing::EngineCounts(*db);
    }
  }
  if (testing::HaveMdbReader()) {
    EXPECT_EQ(testing::MdbReaderCounts(files), engine_counts);
  }
  EXPECT_GT(deleted_tables, 30);
  EXPECT_GT(refused, 0);  // site-ri's cardholders and indexTest's Table3 are referred to
}

// A journal deep enough for the independent library to keep a tail on every node of a level
// (its last child, without an entry), not only on the last: sound to the check before and
// after a purge and inserts, old and new, and mdbtools counts the rows left.
TEST(WriteDelete, DeepTreeOfAnotherLibraryStaysSoundThroughAPurge) {
  JET_REQUIRE_FIXTURES();
  TempDir dir;
  const std::string path = CopyInto(FixturesDir() / "deep-journal/Journal.mdb", dir);
  std::size_t left = 0;
  {
    auto session = Session::Open(path, {.password = "", .read_write = true});
    ExpectConsistent(session->database());
    EXPECT_GT(session->Execute("DELETE FROM [Log] WHERE [Date] < #2025-09-01#").affected, 20000);
    ExpectConsistent(session->database());
    for (const char* when : {"2025-10-02 03:04:05", "2026-03-01 12:00:00", "2026-12-01 00:00:00"})
      session->Execute(std::string("INSERT INTO [Log] ([Date], EventType, Message) VALUES (#") + when + "#, 3, 'x')");
    ExpectConsistent(session->database());
    left = RowsOf(session->database(), "Log").size();
  }
  auto db = Database::Open(path, {});
  ExpectConsistent(*db);
  testing::ExpectOtherReadersCount(path, "Log", left);
}

// A Date/Time column compared with a constant is judged on the stored bytes; it must take
// the rows the general evaluator takes (as it does when the comparison is part of an AND):
// NULLs, days before 1899-12-30 with a time of day, the constant on either side, numbers.
TEST(WriteDelete, DateComparisonTakesWhatTheGeneralRuleTakes) {
  TempDir dir;
  const std::string source = MakeEventDatabase(dir.path() / "source.mdb", 400);
  {
    auto s = Session::Open(source, {.password = "", .read_write = true});
    for (const char* date : {"NULL", "#1899-12-29 06:00#", "#1899-12-29 18:00#", "#1899-12-29#", "-1.5", "0.5"})
      s->Execute(std::string("INSERT INTO Log ([Date], Badge) VALUES (") + date + ", 'old')");
  }
  int copies = 0;
  for (const char* cond : {"[Date] < #1899-12-29 12:00#", "#1899-12-29 12:00# > [Date]", "[Date] <= -1.25",
                           "[Date] >= #1899-12-29 18:00#", "[Date] = #1899-12-29 06:00#", "Log.[Date] <> 0.5",
                           "[Date] > 45002.5", "45001 >= [Date]"}) {
    SCOPED_TRACE(cond);
    std::multiset<std::string> left[2];
    std::int64_t taken[2] = {0, 0};
    for (int general = 0; general < 2; ++general) {
      const std::string path = (dir.path() / ("copy" + std::to_string(++copies) + ".mdb")).string();
      fs::copy_file(source, path);
      auto s = Session::Open(path, {.password = "", .read_write = true});
      taken[general] =
          s->Execute(std::string("DELETE FROM Log WHERE ") + cond + (general ? " AND True" : "")).affected;
      left[general] = Lines(RowsOf(s->database(), "Log"));
      ExpectConsistent(s->database());
    }
    EXPECT_GT(taken[0], 0);
    EXPECT_EQ(taken[0], taken[1]);
    EXPECT_EQ(left[0], left[1]);
  }
}

// Access 97 stores the shared prefix of an index page's entries with a one-byte length: a
// leaf whose prefix reaches past its first entry is refused, and the file left as it was.
TEST(WriteDelete, Access97PrefixLongerThanItsEntryIsRefused) {
  JET_REQUIRE_FIXTURES();
  TempDir dir;
  const std::string path = (dir.path() / "damaged.mdb").string();
  // The prefix length byte follows the page type, owner and three links.
  std::string damaged = testing::ReadAll(FixturesDir() / "access/compIndexTestV1997.mdb");
  std::size_t page = 0;
  for (std::size_t p = 1; (p + 1) * 2048 <= damaged.size() && page == 0; ++p)
    if (damaged[p * 2048] == 0x04 && damaged[p * 2048 + 0x14] != 0) page = p;
  ASSERT_NE(page, 0u);
  damaged[page * 2048 + 0x14] = 10;  // its first entry holds 9 bytes
  testing::WriteAll(path, damaged);
  {
    auto session = Session::Open(path, {.password = "", .read_write = true});
    ExpectJetError(ErrorCode::Corrupt, "index page " + std::to_string(page) + " shares a prefix longer",
                   [&] { session->Execute("DELETE FROM Table1 WHERE CD_AGENTE < 3379"); });
  }
  EXPECT_EQ(testing::ReadAll(path), damaged);
}

// Jet refuses to delete a row that rows of an enforced relationship's other table still
// refer to, and changes nothing, as long as any of those tables has such rows left.
TEST(WriteDelete, EnforcedRelationshipRefusesAndChangesNothing) {
  JET_REQUIRE_FIXTURES();
  TempDir dir;
  const std::string path = CopyInto(FixturesDir() / "site-ri/Orvanta.mdb", dir);
  const std::string original = testing::ReadAll(path);
  const std::string cond = "([type] = 0) and ([Valid] = 0) and ([From_Date]< #06/01/2026 00:00# or [From_Date] is NULL)";
  const std::string purge = "DELETE FROM CRDHLD WHERE " + cond;
  {
    auto session = Session::Open(path, {.password = "Morvek3", .read_write = true});
    EXPECT_EQ(ExpectJetError(ErrorCode::Integrity, "", [&] { session->Execute(purge); }),
              "The record cannot be deleted or changed because table 'CARD' includes related records.");
    EXPECT_FALSE(fs::exists(path + "-journal"));
  }
  EXPECT_EQ(testing::ReadAll(path), original);
  // Only some children gone: still refused, naming a table that has some left.
  auto session = Session::Open(path, {.password = "Morvek3", .read_write = true});
  session->Execute("DELETE FROM CARD WHERE Owner IN (SELECT ID FROM CRDHLD WHERE " + cond + ")");
  ExpectJetError(ErrorCode::Integrity, "'Join_EmpAG'", [&] { session->Execute(purge); });
  ExpectConsistent(session->database());
}

// A row's subordinates go with it: the cascade deletes from the statement's own table
// before the statement's pass over that table's indexes, which must not take the rows the
// cascade took for a damaged tree; nor, in a delete without a cascade, the rows an
// ignore-nulls index leaves out.
TEST(WriteDelete, CascadeIntoItsOwnTableWithAnIgnoreNullsIndex) {
  TempDir dir;
  const std::string path = (dir.path() / "staff.mdb").string();
  {
    create::DatabaseWriter db;
    auto& staff = db.AddTable(
        "Staff", {{"ID", ColumnType::Long}, {"Boss", ColumnType::Long}},
        {{.name = "PrimaryKey", .columns = {"ID"}, .descending = {}, .primary = true, .unique = true},
         {.name = "Boss", .columns = {"Boss"}, .descending = {}, .ignore_nulls = true}});
    db.AddRelationship({.name = {}, .parent_table = "Staff", .parent_columns = {"ID"}, .child_table = "Staff",
                        .child_columns = {"Boss"}, .cascade_deletes = true});
    for (auto [id, boss] : {std::pair{1, 0}, {2, 1}, {3, 2}, {4, 0}, {5, 4}})
      staff.Append({Value::Int(id), boss == 0 ? Value::Null() : Value::Int(boss)});
    db.Write(path);
  }
  auto session = Session::Open(path, {.password = "", .read_write = true});
  EXPECT_EQ(session->Execute("DELETE FROM Staff WHERE ID = 1").affected, 1);
  EXPECT_EQ(Lines(RowsOf(session->database(), "Staff")), (std::multiset<std::string>{"4\t\\N", "5\t4"}));
  session->Execute("INSERT INTO Staff (ID, Boss) VALUES (6, NULL)");  // no entry in the ignore-nulls index
  EXPECT_EQ(session->Execute("DELETE FROM Staff WHERE ID = 5").affected, 1);  // no cascade: checked against the rows
  ExpectConsistent(session->database());
}

}  // namespace
}  // namespace jet
