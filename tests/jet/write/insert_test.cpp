// Appending rows to Jet 4 tables: autonumbers, indexes, free space, refusals that change
// nothing, other readers.

#include <gtest/gtest.h>

#include <fstream>

#include "jet/session.h"
#include "jet/table/table_reader.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// A Jet 4 file holds at most 2 GiB (brought near it here with sparse unused pages).
TEST(WriteInsert, NoFileGrowsPastJetsLimit) {
  TempDir dir;
  const std::string path = testing::MakeEventDatabase(dir.path() / "events.mdb", 50);
  const std::string original = testing::ReadAll(path);
  const std::uintmax_t near_limit = (std::uintmax_t{2} << 30) - 8 * 4096;
  fs::resize_file(path, near_limit);
  {
    auto db = Database::Open(path, {.password = "", .read_write = true});
    Table* log = db->GetTable("Log");
    db->BeginStatement();
    ExpectJetError(ErrorCode::Io, "'" + path + "' cannot grow past 2 GiB", [&] {
      for (int k = 0; k < 1000; ++k)
        log->InsertRow({Value::Null(), Value::DateValue(46000.0), Value::Str("B1"), Value::Str(std::string(1800, 'x'))});
    });
    db->RollbackStatement();
  }
  EXPECT_EQ(fs::file_size(path), near_limit);
  EXPECT_FALSE(fs::exists(path + "-journal"));
  std::ifstream in(path, std::ios::binary);
  std::string head(original.size(), '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, original);
}

TEST(WriteInsert, RowsAutonumbersAndIndexesOnOurOwnFile) {
  TempDir dir;
  const std::string path = testing::MakeEventDatabase(dir.path() / "events.mdb", 500);
  const std::string long_note(5000, 'q');  // a chain of long-value pages
  {
    auto s = Session::Open(path, {.password = "", .read_write = true});
    s->Execute("INSERT INTO Log ([Date], Badge, Note) VALUES (#03/04/2026 05:06:07#, 'B7', 'short')");
    s->Execute("INSERT INTO Log ([Date], Badge, Note) VALUES (#03/04/2026#, NULL, '" + long_note + "')");
    s->Execute("INSERT INTO Log (ID, [Date]) VALUES (9000, NULL)");
    s->Execute("INSERT INTO Log ([Date], Badge) VALUES (#03/05/2026#, 'B8')");
    auto r = s->Execute("SELECT ID, Badge, Note FROM Log WHERE ID > 500 ORDER BY ID");
    std::vector<std::string> got;
    for (const Row& row : r.rows) got.push_back(FormatTsvRow(row));
    EXPECT_EQ(got, (std::vector<std::string>{"501\tB7\tshort", "502\t\\N\t" + long_note, "9000\t\\N\t\\N", "9001\tB8\t\\N"}));
  }
  ExpectConsistent(*Database::Open(path));
  testing::ExpectOtherReadersCount(path, "Log", 504);
}

// Rows added to a file Access wrote (the free-space map leading them to its pages with room,
// and past them to a new one, is what keeps a purged file from growing: the month of nights
// checks that) are found by both other readers.
TEST(WriteInsert, RowsAddedToAnAccessFileAreReadByOthers) {
  JET_REQUIRE_FIXTURES();
  TempDir dir;
  const std::string path = CopyInto(FixturesDir() / "access/compIndexTestV2000.mdb", dir);
  {
    auto db = Database::Open(path, {.password = "", .read_write = true});
    Table* t = db->GetTable("Table1");
    db->BeginStatement();
    for (int k = 0; k < 200; ++k) t->InsertRow({Value::Int(100000 + k), Value::Str("new"), Value::Str("row")});
    db->CommitStatement();
    ExpectConsistent(*db);
  }
  testing::ExpectOtherReadersCount(path, "Table1", 712);
}

// Each refusal names what stopped it and leaves the file byte for byte as it was; the
// rows Jet accepts take part in the relationships like any other.
TEST(WriteInsert, RefusalsChangeNothing) {
  JET_REQUIRE_FIXTURES();
  TempDir dir;
  const std::string path = CopyInto(FixturesDir() / "site-ri/Orvanta.mdb", dir);
  const std::string original = testing::ReadAll(path);
  {
    auto s = Session::Open(path, {.password = "Morvek3", .read_write = true});
    const std::string spare = s->Execute("SELECT CardNumber FROM CARD WHERE Owner IS NULL").rows.at(0).at(0).s;
    const struct {
      ErrorCode code;
      std::string sql, text;
    } refusals[] = {
        {ErrorCode::Integrity, "INSERT INTO CARD (Owner, CardNumber) VALUES (2, '" + spare + "')", "'CardNumber'"},
        {ErrorCode::Integrity, "INSERT INTO CARD (Owner, CardNumber) VALUES (3, 'NEWCARD1')", "table 'CRDHLD'"},
        {ErrorCode::Integrity, "INSERT INTO CRDHLD (ID, LastName) VALUES (2, 'Twice')", "'PrimaryKey'"},
        {ErrorCode::Integrity, "INSERT INTO CRDHLD (LastName) VALUES ('Nobody')", "Null"},
        {ErrorCode::TypeMismatch, "INSERT INTO CRDHLD (ID, type) VALUES (5000, 70000)", "'type'"},
        {ErrorCode::ReadOnly, "INSERT INTO MSysObjects (Id) VALUES (1)", "MSysObjects"},
    };
    for (const auto& r : refusals) ExpectJetError(r.code, r.text, [&] { s->Execute(r.sql); });
  }
  EXPECT_EQ(testing::ReadAll(path), original);

  auto s = Session::Open(path, {.password = "Morvek3", .read_write = true});
  Database& db = s->database();
  const auto before = Lines(RowsOf(db, "CARD"));
  s->Execute("INSERT INTO CARD (Owner, CardNumber, Issued) VALUES (NULL, 'SPARE0002', #11/30/2026#)");
  s->Execute("INSERT INTO CARD (Owner, CardNumber, Issued) VALUES (2, 'NEWCARD2', #11/30/2026#)");
  const auto after = Lines(RowsOf(db, "CARD"));
  EXPECT_EQ(after.size(), before.size() + 2);
  EXPECT_EQ(after.count("278\t\\N\tSPARE0002\t2026-11-30 00:00:00"), 1u);
  EXPECT_EQ(after.count("279\t2\tNEWCARD2\t2026-11-30 00:00:00"), 1u);
  ExpectConsistent(db);
  EXPECT_THROW(s->Execute("DELETE FROM CRDHLD WHERE ID = 2"), Error);

  TempDir jet3;
  const std::string old = CopyInto(FixturesDir() / "access/indexTestV1997.mdb", jet3);
  ExpectJetError(ErrorCode::Unsupported, "Jet 3", [&] {
    Session::Open(old, {.password = "", .read_write = true})->Execute("INSERT INTO Table2 (id, data) VALUES (99, 'x')");
  });
  EXPECT_FALSE(fs::exists(old + "-journal"));
}

}  // namespace
}  // namespace jet
