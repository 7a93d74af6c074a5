// Files from the writer, read back by the engine, mdbtools and mdb-reader; index keys as
// Access builds them; bad definitions and values refused by name.

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <set>

#include "../write/write_support.h"
#include "jet/datetime.h"
#include "jet/index/index_key.h"
#include "jet/session.h"

namespace jet {
namespace {

using create::DatabaseWriter;
using create::IndexSpec;
using create::RelationshipSpec;
using testing::ExpectJetError;
using testing::Shell;
using testing::ShellQuote;
using testing::TempDir;

IndexSpec Idx(const char* name, std::vector<std::string> columns, bool unique = false, bool primary = false) {
  return {.name = name, .columns = std::move(columns), .descending = {}, .primary = primary, .unique = unique};
}

double Date(int y, int mo, int d, int h, int mi, int s) { return ToJetDate(CivilTime{y, mo, d, h, mi, s}); }

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

// The password is stored masked: not in clear, refused when wrong, read by every reader.
// Every kind of column the job's schema uses, NULLs in each, memo values of the three
// storage forms (inline, one long-value page, a chain of them), an empty table defined on three pages.
TEST(CreateReaders, EveryKindNullAndMemoFormReadBackByAllReaders) {
  TempDir dir;
  const std::string path = (dir.path() / "kinds.mdb").string();
  const std::string long_memo = Repeat("Größe ", 1700), medium_memo = Repeat("medium ", 70);
  {
    DatabaseWriter db({.password = "Morvek3", .created = Date(2025, 3, 14, 9, 26, 53)});
    auto& t = db.AddTable("Kinds",
                          {{"ID", ColumnType::Long, 0, true}, {"Small", ColumnType::Integer}, {"Tiny", ColumnType::Byte},
                           {"Flag", ColumnType::Boolean}, {"When", ColumnType::DateTime}, {"Name", ColumnType::Text, 40},
                           {"Notes", ColumnType::Memo}, {"Amount", ColumnType::Double}, {"Price", ColumnType::Currency}},
                          {Idx("PrimaryKey", {"ID"}, true, true), Idx("When", {"When"})});
    const Value n = Value::Null();
    t.Append({n, Value::Int(-32768), Value::Int(255), Value::Bool(true), Value::DateValue(Date(2024, 2, 29, 13, 45, 10)),
              Value::Str("Zoë Ærø-Łukasz"), Value::Str("short note"), Value::Dbl(3.25), Value::Money(123400)});
    t.Append({n, Value::Int(32767), Value::Int(0), Value::Bool(false), Value::DateValue(0.0), Value::Str("plain"),
              Value::Str(medium_memo), Value::Dbl(-1e10), Value::Money(-1)});
    t.Append({Value::Int(7), n, n, n, n, n, Value::Str(long_memo), n, n});
    // Midnight: before 1899-12-30 a time of day counts forward from the day, which
    // mdb-reader does not follow, so only a whole day compares across readers.
    t.Append({n, Value::Int(5), Value::Int(17), Value::Bool(true), Value::DateValue(Date(1850, 7, 4, 0, 0, 0)),
              Value::Str(""), n, Value::Dbl(0.5), Value::Money(50000)});
    std::vector<create::ColumnSpec> wide{{"A", ColumnType::Long}, {"B", ColumnType::Text, 10}};
    for (int k = 0; k < 150; ++k) wide.push_back({"Column " + std::to_string(k), ColumnType::Long});
    db.AddTable("Empty", wide);
    db.Write(path);
  }
  EXPECT_EQ(testing::ReadAll(path).find(std::string("M\0o\0r\0v\0e\0k\0003", 13)), std::string::npos);
  ExpectJetError(ErrorCode::WrongPassword, "kinds.mdb", [&] { Database::Open(path, {.password = "morvek3"}); });
  {
    auto db = Database::Open(path, {.password = "Morvek3"});
    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Kinds", "Empty"}));
    EXPECT_EQ(db->creation_date(), Date(2025, 3, 14, 9, 26, 53));
    // After the kept 7, numbering went on above it; Yes/No has no NULL.
    EXPECT_EQ(testing::Lines(testing::RowsOf(*db, "Kinds")),
              (std::multiset<std::string>{
                  "1\t-32768\t255\ttrue\t2024-02-29 13:45:10\tZoë Ærø-Łukasz\tshort note\t3.25\t12.34",
                  "2\t32767\t0\tfalse\t1899-12-30 00:00:00\tplain\t" + medium_memo + "\t-10000000000\t-0.0001",
                  "7\t\\N\t\\N\tfalse\t\\N\t\\N\t" + long_memo + "\t\\N\t\\N",
                  "8\t5\t17\ttrue\t1850-07-04 00:00:00\t\t\\N\t0.5\t5"}));
    testing::ExpectConsistent(*db);
  }
  if (testing::HaveMdbtools()) {
    EXPECT_EQ(Shell("mdb-tables -S -1 " + ShellQuote(path)),
              "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\nKinds\nEmpty\n");
    int status = 0;
    std::string csv = Shell("mdb-export -T '%Y-%m-%d %H:%M:%S' -Q -d '|' " + ShellQuote(path) + " Kinds", &status);
    ASSERT_EQ(status, 0);
    // mdbtools cannot print dates before 1900; the other readers check that value.
    const std::size_t last = csv.rfind("\n8|") + 1;
    EXPECT_EQ(csv.substr(0, last), "ID|Small|Tiny|Flag|When|Name|Notes|Amount|Price\n"
                                   "1|-32768|255|1|2024-02-29 13:45:10|Zoë Ærø-Łukasz|short note|3.25|12.3400\n"
                                   "2|32767|0|0|1899-12-30 00:00:00|plain|" + medium_memo + "|-10000000000|-0.0001\n"
                                   "7|||0|||" + long_memo + "||\n");
    EXPECT_EQ(csv.substr(last, 9), "8|5|17|1|");
    EXPECT_EQ(csv.substr(csv.size() - 14), "|||0.5|5.0000\n");
  }
  if (testing::HaveReadMdb()) {
    int status = 0;
    std::string json =
        Shell("node " + ShellQuote(testing::ReadMdbScript().string()) + " " + ShellQuote(path) + " Morvek3", &status);
    ASSERT_EQ(status, 0) << json;
    for (const std::string& want :
         {std::string("\"password\":\"Morvek3\""),
          std::string("{\"name\":\"Column 149\",\"type\":\"long\"}],\"rows\":[]}"),
          std::string("[1,-32768,255,true,\"2024-02-29T13:45:10.000Z\",\"Zoë Ærø-Łukasz\",\"short note\",3.25,"
                      "\"12.3400\"]"),
          "[2,32767,0,false,\"1899-12-30T00:00:00.000Z\",\"plain\",\"" + medium_memo + "\",-10000000000,\"-0.0001\"]",
          "[7,null,null,false,null,null,\"" + long_memo + "\",null,null]",
          std::string("[8,5,17,true,\"1850-07-04T00:00:00.000Z\",\"\",null,0.5,\"5.0000\"]")})
      EXPECT_NE(json.find(want), std::string::npos) << want.substr(0, 200);
  }
}

// Every entry of every index of the table carries the key built from the row it points
// to (entries whose text no key of ours can hold aside); returns how many were compared.
std::size_t ExpectKeysOfTheirRows(Database& db, const std::string& table) {
  Table* t = db.GetTable(table);
  const TableDef& def = Internal(*t).definition();
  std::size_t compared = 0;
  for (const IndexInfo& index : t->Indexes()) {
    t->WalkIndex(index, [&](RowId id, const std::string& key) {
      const Row row = t->ReadRow(id);
      std::string expected;
      try {
        for (const IndexInfo::Column& c : index.columns) {
          const ColumnDef& column = def.columns[c.position];
          AppendKey(&expected, column, ToCell(column, row[c.position], table), !c.descending, "check");
        }
      } catch (const Error& e) {
        if (e.code() == ErrorCode::Unsupported) return true;
        throw;
      }
      EXPECT_EQ(key, expected) << table << ", index " << index.name << ", row " << FormatTsvRow(row);
      ++compared;
      return true;
    });
  }
  return compared;
}

// More than 512 data pages (past an inline page map), nodes above nodes, every kind of key
// in random order, tables of 0 and 1 rows: every reader finds every row, every entry its row.
TEST(CreateIndexes, ManyPagesOfRowsAndKeys) {
  TempDir dir;
  const std::string path = (dir.path() / "idx.mdb").string();
  const std::size_t kRows = 20000;
  {
    DatabaseWriter db;
    auto& t = db.AddTable("T",
                          {{"ID", ColumnType::Long}, {"Group", ColumnType::Long}, {"When", ColumnType::DateTime},
                           {"Code", ColumnType::Text, 20}, {"Rank", ColumnType::Integer}, {"Path", ColumnType::Text, 120}},
                          {Idx("PrimaryKey", {"ID"}, true, true), Idx("Group", {"Group"}), Idx("When", {"When"}),
                           Idx("Code", {"Code"}, true), {.name = "RankDown", .columns = {"Rank"}, .descending = {true}},
                           Idx("GroupCode", {"Group", "Code"}), Idx("Path", {"Path"})});
    std::mt19937 gen(7);
    std::vector<int> ids(kRows);
    for (std::size_t k = 0; k < kRows; ++k) ids[k] = static_cast<int>(k) * 3 - 40000;
    std::shuffle(ids.begin(), ids.end(), gen);
    for (std::size_t k = 0; k < kRows; ++k) {
      char code[16];
      std::snprintf(code, sizeof code, "C%07X", static_cast<unsigned>(ids[k] + 50000));
      std::string path_text;
      for (int n = 0; n < 10; ++n) path_text += "/" + std::to_string(gen() % 10000000);
      t.Append({Value::Int(ids[k]), k % 11 == 0 ? Value::Null() : Value::Int(static_cast<int>(gen() % 40)),
                k % 13 == 0 ? Value::Null() : Value::DateValue(-800.0 + static_cast<double>(gen() % 100000) / 7.0),
                k % 17 == 0 ? Value::Null() : Value::Str(code), Value::Int(static_cast<int>(gen() % 200) - 100),
                Value::Str(path_text)});
    }
    for (int sign : {-1, 1})
      t.Append({Value::Int(sign < 0 ? INT32_MIN : INT32_MAX), Value::Null(), Value::DateValue(sign < 0 ? -657000.5 : 2958465.0),
                Value::Null(), Value::Int(sign * 32767), Value::Str("/edge")});
    db.AddTable("None", {{"ID", ColumnType::Long}}, {Idx("PrimaryKey", {"ID"}, true, true)});
    db.AddTable("One", {{"ID", ColumnType::Long}}, {Idx("PrimaryKey", {"ID"}, true, true)}).Append({Value::Int(42)});
    for (int k = 0; k < 40; ++k) db.AddTable("Table_" + std::to_string(k), {{"A", ColumnType::Long}});
    db.Write(path);
  }
  auto db = Database::Open(path);
  std::size_t keys = 0;
  for (const char* table : {"T", "None", "One", "MSysObjects", "MSysACEs"}) {
    SCOPED_TRACE(table);
    testing::ExpectConsistent(*db->GetTable(table));
    keys += ExpectKeysOfTheirRows(*db, table);
  }
  EXPECT_GT(keys, 7 * kRows);
  Table* t = db->GetTable("T");
  std::vector<std::string> kinds;
  for (const IndexInfo& index : t->Indexes())
    kinds.push_back(index.name + (index.primary ? " primary" : "") + (index.unique ? " unique" : "") +
                    (index.required ? " required" : "") + (index.columns.back().descending ? " descending" : ""));
  EXPECT_EQ(kinds, (std::vector<std::string>{"PrimaryKey primary unique required", "Group", "When", "Code unique",
                                             "RankDown descending", "GroupCode", "Path"}));
  std::set<std::uint32_t> pages;
  db->GetTable("T")->Scan({}, [&](RowId id, const Row&) { return pages.insert(id.page), true; });
  EXPECT_GT(pages.size(), 512u);
  testing::ExpectOtherReadersCount(path, "T", kRows + 2);
}

// Keys match Access's; text Jet sorts in a second pass (apostrophe, hyphen, non-ASCII,
// controls) is refused; letter case and trailing spaces make no new key.
TEST(CreateIndexes, KeysAreThoseAccessWritesOthersAreRefused) {
  JET_REQUIRE_FIXTURES();
  std::size_t compared = 0;
  for (const auto& file : std::filesystem::directory_iterator(testing::FixturesDir() / "access")) {
    auto db = Database::Open(file.path().string());
    if (db->version() != JetVersion::Jet4) continue;
    for (const std::string& table : db->TableNames()) compared += ExpectKeysOfTheirRows(*db, table);
  }
  EXPECT_GT(compared, 500u);


  TempDir dir;
  DatabaseWriter db;
  auto& t = db.AddTable("U", {{"Code", ColumnType::Text, 20}, {"Note", ColumnType::Text, 20}}, {Idx("Code", {"Code"}, true)});
  t.Append({Value::Str("abc"), Value::Str("O'Brien")});  // only indexed columns are restricted
  for (const char* s : {"O'Brien", "Smith-Jones", "Zoë", "tab\there"})
    ExpectJetError(ErrorCode::Unsupported, "'Code' of table 'U'", [&] { t.Append({Value::Str(s), Value::Null()}); });
  EXPECT_EQ(t.RowCount(), 1u);
  t.Append({Value::Null(), Value::Null()});
  t.Append({Value::Null(), Value::Null()});  // several NULLs do not break uniqueness
  t.Append({Value::Str("ABC  "), Value::Null()});  // same key as "abc"
  ExpectJetError(ErrorCode::Integrity, "Index 'Code'", [&] { db.Write((dir.path() / "u.mdb").string()); });
}

RelationshipSpec Rel(const char* parent, const char* pcol, const char* child, const char* ccol) {
  return {.name = {}, .parent_table = parent, .parent_columns = {pcol}, .child_table = child, .child_columns = {ccol}};
}

// An enforced relationship adds a foreign-key index to both sides as Access does (sharing
// an index on the same columns) and mdbtools lists it with its flags. (The engine's
// enforcing is the write tests' matter.)
TEST(CreateRelationships, EnforcedOnesAddForeignKeyIndexesAndAreListed) {
  TempDir dir;
  const std::string path = (dir.path() / "rel.mdb").string();
  {
    DatabaseWriter db;
    auto& parent = db.AddTable("Holder", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text, 30}},
                               {Idx("PrimaryKey", {"ID"}, true, true)});
    auto& card = db.AddTable("Card", {{"Owner", ColumnType::Long}}, {Idx("Owner", {"Owner"})});
    auto& link = db.AddTable("Link", {{"Emp", ColumnType::Long}, {"Group", ColumnType::Long}});
    auto cascading = Rel("Holder", "ID", "Card", "Owner");
    cascading.cascade_deletes = true;
    db.AddRelationship(cascading);
    db.AddRelationship(Rel("Holder", "ID", "Link", "Emp"));
    auto loose = Rel("Holder", "ID", "Link", "Group");
    loose.name = "Loose";
    loose.enforced = false;
    db.AddRelationship(loose);
    parent.Append({Value::Int(1), Value::Str("Ann")});
    parent.Append({Value::Int(2), Value::Str("Bo")});
    card.Append({Value::Int(2)});
    card.Append({Value::Null()});  // NULL refers to nothing and is allowed
    link.Append({Value::Int(1), Value::Int(99)});  // 99 is fine: that relationship is not enforced
    db.Write(path);
  }
  auto db = Database::Open(path);
  std::vector<std::string> indexes;
  for (const char* table : {"Holder", "Card", "Link"})
    for (const IndexInfo& i : db->GetTable(table)->Indexes())
      indexes.push_back(std::string(table) + " " + i.name + " " + std::to_string(i.real_index) +
                        (i.foreign_key ? " foreign" : ""));
  EXPECT_EQ(indexes, (std::vector<std::string>{"Holder PrimaryKey 0", "Holder .rB 0 foreign", "Holder .rC 0 foreign",
                                               "Card Owner 0", "Card HolderCard 0 foreign", "Link HolderLink 0 foreign"}));
  if (testing::HaveMdbtools()) {
    std::string rows = Shell("mdb-export " + ShellQuote(path) + " MSysRelationships");
    EXPECT_NE(rows.find("\"HolderCard\",4096,1,0,\"Card\",\"Owner\",\"Holder\",\"ID\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"HolderLink\",0,1,0,\"Link\",\"Emp\",\"Holder\",\"ID\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"Loose\",2,1,0,\"Link\",\"Group\",\"Holder\",\"ID\""), std::string::npos) << rows;
  }
}

// Text keys of a relationship match as the indexes that enforce it compare them: case
// aside and without trailing spaces. The new file's check, an insert and a delete agree.
TEST(CreateRelationships, TextKeysMatchAsTheirIndexKeysDo) {
  TempDir dir;
  const std::string path = (dir.path() / "text.mdb").string();
  {
    DatabaseWriter db;
    auto& site = db.AddTable("Site", {{"Code", ColumnType::Text, 10}}, {Idx("PrimaryKey", {"Code"}, true, true)});
    auto& door = db.AddTable("Door", {{"Site", ColumnType::Text, 10}});
    db.AddRelationship(Rel("Site", "Code", "Door", "Site"));
    for (const char* code : {"North", "South", "East"}) site.Append({Value::Str(code)});
    door.Append({Value::Str("NORTH  ")});  // refers to North
    db.Write(path);
  }
  auto s = Session::Open(path, {.password = "", .read_write = true});
  s->Execute("INSERT INTO Door (Site) VALUES ('south ')");
  ExpectJetError(ErrorCode::Integrity, "'Site'", [&] { s->Execute("INSERT INTO Door (Site) VALUES (' East')"); });
  for (const char* code : {"North", "South"})
    ExpectJetError(ErrorCode::Integrity, "table 'Door'",
                   [&] { s->Execute(std::string("DELETE FROM Site WHERE Code = '") + code + "'"); });
  EXPECT_EQ(s->Execute("DELETE FROM Site WHERE Code = 'East'").affected, 1);
  EXPECT_EQ(testing::Lines(testing::RowsOf(s->database(), "Site")), (std::multiset<std::string>{"North", "South"}));
}

TEST(CreateSchema, BadDefinitionsAreRefusedByName) {
  DatabaseWriter db;
  struct Case {
    ErrorCode code;
    const char* fragment;
    std::vector<create::ColumnSpec> columns;
    std::vector<IndexSpec> indexes;
    const char* table;
  } cases[] = {
      {ErrorCode::Unsupported, "reserved", {{"A", ColumnType::Long}}, {}, "MSysThing"},
      {ErrorCode::Unsupported, "no columns", {}, {}, "Empty"},
      {ErrorCode::Unsupported, "length must be 1 to 255", {{"A", ColumnType::Text, 0}}, {}, "T"},
      {ErrorCode::Unsupported, "two columns named 'a'", {{"A", ColumnType::Long}, {"a", ColumnType::Long}}, {}, "T"},
      {ErrorCode::UnknownColumn, "no column 'B'", {{"A", ColumnType::Long}}, {Idx("PrimaryKey", {"B"})}, "T"},
      {ErrorCode::Unsupported, "cannot be an index key", {{"M", ColumnType::Memo}}, {Idx("PrimaryKey", {"M"})}, "T"},
      {ErrorCode::Unsupported, "autonumbers", {{"A", ColumnType::Text, 5, true}}, {}, "T"},
  };
  for (const Case& c : cases) ExpectJetError(c.code, c.fragment, [&] { db.AddTable(c.table, c.columns, c.indexes); });
  db.AddTable("T", {{"A", ColumnType::Long}});
  ExpectJetError(ErrorCode::Unsupported, "defined twice", [&] { db.AddTable("t", {{"A", ColumnType::Long}}); });
  ExpectJetError(ErrorCode::UnknownTable, "'Missing'", [&] { db.Table("Missing"); });
  ExpectJetError(ErrorCode::Unsupported, "20 characters", [&] { DatabaseWriter w({.password = std::string(21, 'x')}); });

  // Relationships: a unique index on the referenced side, the same types, known tables,
  // defined before any rows; rows that refer to nothing stop the file from being written.
  TempDir dir;
  DatabaseWriter rel;
  auto& parent = rel.AddTable("P", {{"ID", ColumnType::Long}, {"Other", ColumnType::Long}},
                              {Idx("PrimaryKey", {"ID"}, true, true)});
  auto& child = rel.AddTable("C", {{"PID", ColumnType::Long}, {"Text", ColumnType::Text, 5}});
  ExpectJetError(ErrorCode::Unsupported, "needs a unique index", [&] { rel.AddRelationship(Rel("P", "Other", "C", "PID")); });
  ExpectJetError(ErrorCode::TypeMismatch, "differ in type", [&] { rel.AddRelationship(Rel("P", "ID", "C", "Text")); });
  ExpectJetError(ErrorCode::UnknownTable, "'Nope'", [&] { rel.AddRelationship(Rel("Nope", "ID", "C", "PID")); });
  rel.AddRelationship(Rel("P", "ID", "C", "PID"));
  parent.Append({Value::Int(1), Value::Null()});
  child.Append({Value::Int(1), Value::Null()});
  child.Append({Value::Int(5), Value::Null()});
  auto again = Rel("P", "ID", "C", "PID");
  again.name = "Again";
  ExpectJetError(ErrorCode::Unsupported, "before any rows", [&] { rel.AddRelationship(again); });
  ExpectJetError(ErrorCode::Integrity, "Relationship 'PC'", [&] { rel.Write((dir.path() / "orphan.mdb").string()); });
}

// One rule for every insert: what a value of each kind becomes in a column of each type,
// and what is refused (naming table and column, the row not added) rather than clipped.
TEST(CreateSchema, ValuesTakeTheColumnTypeOrAreRefused) {
  TempDir dir;
  const std::string path = (dir.path() / "values.mdb").string();
  DatabaseWriter db;
  auto& t = db.AddTable("V", {{"L", ColumnType::Long}, {"I", ColumnType::Integer}, {"B", ColumnType::Byte},
                              {"S", ColumnType::Text, 3}, {"D", ColumnType::DateTime}, {"F", ColumnType::Single},
                              {"M", ColumnType::Currency}, {"Y", ColumnType::Boolean}, {"G", ColumnType::Guid}},
                        {Idx("PrimaryKey", {"L"}, true, true)});
  const Value n = Value::Null();
  auto row = [&](int key, std::size_t column, Value v) {
    Row r(9, n);
    r[0] = Value::Int(key);
    r[column] = std::move(v);
    return r;
  };
  struct Bad {
    const char* fragment;
    Row row;
  } bad[] = {
      {"'I' of table 'V'", row(1, 1, Value::Int(40000))},
      {"'B'", row(1, 2, Value::Int(-1))},
      {"'B'", row(1, 2, Value::Dbl(255.5))},  // rounds to 256
      {"longer than 3", row(1, 3, Value::Str("abcd"))},
      {"not valid UTF-8", row(1, 3, Value::Str("\xff"))},
      {"not a date", row(1, 4, Value::Str("2026-01-01"))},
      {"date is out of range", row(1, 4, Value::Dbl(3e6))},
      {"'F' of table 'V'", row(1, 5, Value::Dbl(1e300))},  // no infinity stored
      {"not a finite number", row(1, 5, Value::Dbl(std::numeric_limits<double>::quiet_NaN()))},
      {"'L'", row(1, 0, Value::Dbl(3e9))},
      {"not a number", row(1, 1, Value::Str("12"))},
      {"16 bytes", row(1, 8, Value::Str("0123456789abcdef"))},
      {"has 9 columns", {Value::Int(1)}},
  };
  for (const Bad& b : bad) ExpectJetError(ErrorCode::TypeMismatch, b.fragment, [&] { t.Append(b.row); });
  ExpectJetError(ErrorCode::Integrity, "cannot be NULL", [&] { t.Append(Row(9, n)); });
  EXPECT_EQ(t.RowCount(), 0u);

  struct Good {
    std::size_t column;
    Value value;
    const char* stored;  // as TSV
  } good[] = {
      {1, Value::Dbl(2.5), "2"},  // halves round to even
      {1, Value::Dbl(-3.5), "-4"},
      {1, Value::Money(25000), "2"},
      {1, Value::Bool(true), "-1"},
      {2, Value::Dec(2545, 1), "254"},
      {4, Value::Int(2), "1900-01-01 00:00:00"},
      {5, Value::Dbl(0.1), "0.1"},
      {5, Value::Int(-7), "-7"},
      {6, Value::Dbl(1.23455), "1.2346"},
      {6, Value::Dec(-123456789, 6), "-123.4568"},
      {7, Value::Int(0), "false"},
      {7, Value::Dbl(0.5), "true"},
      {7, n, "false"},  // Yes/No has no NULL
  };
  for (std::size_t k = 0; k < std::size(good); ++k) t.Append(row(static_cast<int>(k), good[k].column, good[k].value));
  db.Write(path);
  ExpectJetError(ErrorCode::ReadOnly, "already been written", [&] { db.Write(path); });
  ExpectJetError(ErrorCode::Io, "/no/such/folder/x.mdb", [] { DatabaseWriter().Write("/no/such/folder/x.mdb"); });
  auto file = Database::Open(path);
  std::map<std::int64_t, Row> stored;
  file->GetTable("V")->Scan({}, [&](RowId, const Row& r) { return stored.emplace(r[0].i, r).second; });
  ASSERT_EQ(stored.size(), std::size(good));
  for (std::size_t k = 0; k < std::size(good); ++k)
    EXPECT_EQ(FormatTsvValue(stored[static_cast<std::int64_t>(k)][good[k].column]), good[k].stored) << k;
}

}  // namespace
}  // namespace jet
