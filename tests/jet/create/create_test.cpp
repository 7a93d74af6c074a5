// Files from the writer, read back by the engine's reader and by two independent ones:
// mdbtools (Debian) and the npm package mdb-reader (tests/js). Indexes are checked with
// the engine's integrity check and every entry against the row it points to. Values take
// the column's type by the engine's one conversion rule; bad definitions and values are
// refused by name and leave nothing half-written.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <random>
#include <set>

#include "../support.h"
#include "jet/create/database_writer.h"
#include "jet/database_internal.h"
#include "jet/datetime.h"
#include "jet/index/index_key.h"
#include "jet/integrity.h"
#include "jet/tsv.h"

namespace jet {
namespace {

using create::ColumnSpec;
using create::DatabaseWriter;
using create::IndexSpec;
using create::RelationshipSpec;
using testing::ExpectJetError;
using testing::Shell;
using testing::ShellQuote;
using testing::TempDir;

ColumnSpec Col(const char* name, ColumnType type, int length = 0, bool autonumber = false) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.autonumber = autonumber;
  return c;
}

IndexSpec Idx(const char* name, std::vector<std::string> columns, bool unique = false, std::vector<bool> desc = {}) {
  IndexSpec i;
  i.name = name;
  i.columns = std::move(columns);
  i.unique = unique;
  i.descending = std::move(desc);
  return i;
}

IndexSpec Pk(const char* column) {
  IndexSpec i = Idx("PrimaryKey", {column});
  i.primary = true;
  return i;
}

double Date(int y, int mo, int d, int h, int mi, int s) { return ToJetDate(CivilTime{y, mo, d, h, mi, s}); }

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

std::vector<std::string> TsvRows(Table& t) {
  std::vector<std::string> rows;
  t.Scan({}, [&](RowId, const Row& row) {
    rows.push_back(FormatTsvRow(row));
    return true;
  });
  return rows;
}

const std::string kLongMemo = Repeat("Größe ", 1700);  // about 10 KB of UCS-2: a chain of pages
const std::string kMediumMemo = Repeat("medium ", 70);  // over the inline limit, one page

// One table with every kind of column the job's schema uses, NULLs in each, and memo
// values of the three storage forms.
void WriteKinds(const std::string& path, const std::string& password) {
  DatabaseWriter db({.password = password, .created = Date(2025, 3, 14, 9, 26, 53)});
  auto& t = db.AddTable("Kinds",
                        {Col("ID", ColumnType::Long, 0, true), Col("Small", ColumnType::Integer),
                         Col("Tiny", ColumnType::Byte), Col("Flag", ColumnType::Boolean),
                         Col("When", ColumnType::DateTime), Col("Name", ColumnType::Text, 40),
                         Col("Notes", ColumnType::Memo), Col("Amount", ColumnType::Double),
                         Col("Price", ColumnType::Currency)},
                        {Pk("ID"), Idx("When", {"When"})});
  t.Append({Value::Null(), Value::Int(-32768), Value::Int(255), Value::Bool(true),
            Value::DateValue(Date(2024, 2, 29, 13, 45, 10)), Value::Str("Zoë Ærø-Łukasz"), Value::Str("short note"),
            Value::Dbl(3.25), Value::Money(123400)});
  t.Append({Value::Null(), Value::Int(32767), Value::Int(0), Value::Bool(false), Value::DateValue(0.0),
            Value::Str("plain"), Value::Str(kMediumMemo), Value::Dbl(-1e10), Value::Money(-1)});
  t.Append({Value::Int(7), Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null(),
            Value::Str(kLongMemo), Value::Null(), Value::Null()});
  t.Append({Value::Null(), Value::Int(5), Value::Int(17), Value::Bool(true),
            // Midnight: before 1899-12-30 a time of day counts forward from the day, which
            // mdb-reader does not follow, so only a whole day compares across readers.
            Value::DateValue(Date(1850, 7, 4, 0, 0, 0)), Value::Str(""), Value::Null(), Value::Dbl(0.5),
            Value::Money(50000)});
  db.AddTable("Empty", {Col("A", ColumnType::Long), Col("B", ColumnType::Text, 10)});
  db.Write(path);
}

// The password is stored masked: not in clear, refused when wrong, read by every reader.
TEST(CreateReaders, EveryKindNullAndMemoFormReadBackByAllReaders) {
  TempDir dir;
  std::string path = (dir.path() / "kinds.mdb").string();
  WriteKinds(path, "Morvek3");
  EXPECT_EQ(testing::ReadAll(path).find(std::string("M\0o\0r\0v\0e\0k\0003", 13)), std::string::npos);
  ExpectJetError(ErrorCode::WrongPassword, "kinds.mdb", [&] { Database::Open(path, {.password = "morvek3"}); });
  {
    auto db = Database::Open(path, {.password = "Morvek3"});
    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Kinds", "Empty"}));
    Table* t = db->GetTable("Kinds");
    EXPECT_EQ(t->RecordedRowCount(), 4u);
    EXPECT_EQ(Internal(*t).definition().next_autonumber, 8u);  // after the kept 7, numbering went on above it
    EXPECT_EQ(TsvRows(*t), (std::vector<std::string>{
                               "1\t-32768\t255\ttrue\t2024-02-29 13:45:10\tZoë Ærø-Łukasz\tshort note\t3.25\t12.34",
                               "2\t32767\t0\tfalse\t1899-12-30 00:00:00\tplain\t" + kMediumMemo + "\t-10000000000\t-0.0001",
                               // Yes/No has no NULL.
                               "7\t\\N\t\\N\tfalse\t\\N\t\\N\t" + kLongMemo + "\t\\N\t\\N",
                               "8\t5\t17\ttrue\t1850-07-04 00:00:00\t\t\\N\t0.5\t5"}));
    EXPECT_EQ(db->GetTable("Empty")->RecordedRowCount(), 0u);
    EXPECT_TRUE(TsvRows(*db->GetTable("Empty")).empty());
    EXPECT_EQ(db->creation_date(), Date(2025, 3, 14, 9, 26, 53));
  }
  if (testing::HaveCommand("mdb-export")) {
    int status = 0;
    EXPECT_EQ(Shell("mdb-tables -1 " + ShellQuote(path), &status), "Kinds\nEmpty\n");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Shell("mdb-tables -S -1 " + ShellQuote(path)),
              "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\nKinds\nEmpty\n");
    std::string csv = Shell("mdb-export -T '%Y-%m-%d %H:%M:%S' -Q -d '|' " + ShellQuote(path) + " Kinds", &status);
    ASSERT_EQ(status, 0);
    // mdbtools cannot print dates before 1900; the other readers check that value.
    std::size_t last = csv.rfind("\n8|") + 1;
    EXPECT_EQ(csv.substr(0, last), "ID|Small|Tiny|Flag|When|Name|Notes|Amount|Price\n"
                                   "1|-32768|255|1|2024-02-29 13:45:10|Zoë Ærø-Łukasz|short note|3.25|12.3400\n"
                                   "2|32767|0|0|1899-12-30 00:00:00|plain|" + kMediumMemo + "|-10000000000|-0.0001\n"
                                   "7|||0|||" + kLongMemo + "||\n");
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
          std::string("{\"name\":\"Empty\",\"columns\":[{\"name\":\"A\",\"type\":\"long\"},{\"name\":\"B\",\"type\":"
                      "\"text\"}],\"rows\":[]}"),
          std::string("[1,-32768,255,true,\"2024-02-29T13:45:10.000Z\",\"Zoë Ærø-Łukasz\",\"short note\",3.25,"
                      "\"12.3400\"]"),
          "[2,32767,0,false,\"1899-12-30T00:00:00.000Z\",\"plain\",\"" + kMediumMemo + "\",-10000000000,\"-0.0001\"]",
          "[7,null,null,false,null,null,\"" + kLongMemo + "\",null,null]",
          std::string("[8,5,17,true,\"1850-07-04T00:00:00.000Z\",\"\",null,0.5,\"5.0000\"]")})
      EXPECT_NE(json.find(want), std::string::npos) << want.substr(0, 200);
  }
}

// Enough rows for more than 512 data pages (the reach of an inline usage map); every
// reader must still find every row.
TEST(CreateReaders, LargeTableIsReadCompletely) {
  TempDir dir;
  std::string path = (dir.path() / "large.mdb").string();
  const std::string filler = Repeat("0123456789", 20);
  {
    DatabaseWriter db;
    auto& t = db.AddTable("Big", {Col("ID", ColumnType::Long, 0, true), Col("Text", ColumnType::Text, 255)}, {Pk("ID")});
    for (int k = 0; k < 12000; ++k) t.Append({Value::Null(), Value::Str(filler + std::to_string(k))});
    db.Write(path);
  }
  auto db = Database::Open(path);
  std::set<std::uint32_t> pages;
  std::size_t rows = 0;
  db->GetTable("Big")->Scan({}, [&](RowId id, const Row& row) {
    EXPECT_EQ(row[1].s, filler + std::to_string(row[0].i - 1));
    pages.insert(RowIdPage(id));
    ++rows;
    return true;
  });
  EXPECT_EQ(rows, 12000u);
  EXPECT_GT(pages.size(), 512u);
  if (testing::HaveCommand("mdb-export")) {
    EXPECT_EQ(Shell("mdb-export " + ShellQuote(path) + " Big | wc -l"), "12001\n");
    EXPECT_EQ(Shell("mdb-export " + ShellQuote(path) + " Big | tail -1"), "12000,\"" + filler + "11999\"\n");
  }
  if (testing::HaveReadMdb()) {
    std::string json = Shell("node " + ShellQuote(testing::ReadMdbScript().string()) + " " + ShellQuote(path));
    EXPECT_NE(json.find("[12000,\"" + filler + "11999\"]]}]}"), std::string::npos);
  }
}

std::string Key(ColumnType type, const Value& v, bool ascending = true) {
  ColumnDef c;
  c.name = "c";
  c.type = type;
  c.length = type == ColumnType::Text ? 510 : 0;
  std::string key;
  AppendKey(&key, c, ToCell(c, v, "t"), ascending, "test");
  return key;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) (out += digits[c >> 4]) += digits[c & 15];
  return out;
}

TEST(CreateIndexKeys, MatchWhatAccessWritesAndSortLikeTheValues) {
  auto hex = Hex;
  // Text "Project1" in the General order, as found in an index written by Access 2000.
  EXPECT_EQ(hex(Key(ColumnType::Text, Value::Str("Project1"))), "7f6669645b514d6d380100");
  // Case does not matter and trailing spaces are ignored.
  EXPECT_EQ(Key(ColumnType::Text, Value::Str("PROJECT1  ")), Key(ColumnType::Text, Value::Str("project1")));
  EXPECT_EQ(hex(Key(ColumnType::Long, Value::Int(19))), "7f80000013");
  EXPECT_EQ(hex(Key(ColumnType::Long, Value::Int(-1))), "7f7fffffff");
  EXPECT_EQ(hex(Key(ColumnType::Integer, Value::Int(1))), "7f8001");
  EXPECT_EQ(hex(Key(ColumnType::Byte, Value::Int(200))), "7fc8");
  // Descending: flag 0x80 and every value byte inverted.
  EXPECT_EQ(hex(Key(ColumnType::Long, Value::Int(19), false)), "807fffffec");
  EXPECT_EQ(hex(Key(ColumnType::Long, Value::Null(), true)), "00");
  EXPECT_EQ(hex(Key(ColumnType::Long, Value::Null(), false)), "ff");
  EXPECT_EQ(hex(Key(ColumnType::DateTime, Value::DateValue(1.0))), "7fbff0000000000000");

  std::vector<std::pair<ColumnType, std::vector<Value>>> ascending = {
      {ColumnType::DateTime, {}}, {ColumnType::Long, {Value::Null()}}, {ColumnType::Text, {}}};
  for (double d : {-657000.5, -2.0, -1.25, -0.5, 0.0, 0.25, 1.0, 45000.75, 2958465.0})
    ascending[0].second.push_back(Value::DateValue(d));
  for (std::int64_t i : {std::int64_t{INT32_MIN}, std::int64_t{-70000}, std::int64_t{-1}, std::int64_t{0},
                         std::int64_t{1}, std::int64_t{255}, std::int64_t{256}, std::int64_t{70000},
                         std::int64_t{INT32_MAX}})
    ascending[1].second.push_back(Value::Int(i));
  for (const char* s : {"", "0001", "9", "A", "ab", "abc", "B", "Spare", "Z_", "z~"})
    ascending[2].second.push_back(Value::Str(s));
  for (const auto& [type, values] : ascending) {
    for (std::size_t k = 1; k < values.size(); ++k) {
      EXPECT_LT(Key(type, values[k - 1]), Key(type, values[k])) << static_cast<int>(type) << " " << k;
      EXPECT_GT(Key(type, values[k - 1], false), Key(type, values[k], false)) << static_cast<int>(type) << " " << k;
    }
  }
  // Text Jet sorts in a second pass (apostrophe, hyphen, letters beyond ASCII, controls)
  // is refused rather than written with a key Jet would not find.
  for (const char* s : {"O'Brien", "Smith-Jones", "Zoë", "tab\there"})
    ExpectJetError(ErrorCode::Unsupported, "index key", [&] { Key(ColumnType::Text, Value::Str(s)); });
}

// Every index of the table agrees with its rows (the engine's integrity check), and each
// entry's key is the key built from the row it points to.
void CheckIndexes(Database& db, const std::string& table, std::size_t rows) {
  SCOPED_TRACE(table);
  Table* t = db.GetTable(table);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->RecordedRowCount(), rows);
  for (const std::string& problem : CheckIntegrity(*t)) ADD_FAILURE() << problem;
  const TableDef& def = Internal(*t).definition();
  for (const IndexInfo& index : t->Indexes()) {
    t->WalkIndex(index, [&](RowId id, const std::string& key) {
      Row row = t->ReadRow(id);
      std::string expected;
      for (const IndexInfo::Column& c : index.columns) {
        const ColumnDef& column = def.columns[c.position];
        AppendKey(&expected, column, ToCell(column, row[c.position], table), !c.descending, "check");
      }
      EXPECT_EQ(Hex(key), Hex(expected)) << index.name;
      return true;
    });
  }
}

TEST(CreateIndexPages, UniqueDuplicateNullDescendingAndMultiColumnKeysOverManyPages) {
  TempDir dir;
  std::string path = (dir.path() / "idx.mdb").string();
  const int kRows = 20000;
  {
    DatabaseWriter db;
    auto& t = db.AddTable("T",
                          {Col("ID", ColumnType::Long), Col("Group", ColumnType::Long), Col("When", ColumnType::DateTime),
                           Col("Code", ColumnType::Text, 20), Col("Rank", ColumnType::Integer),
                           Col("Path", ColumnType::Text, 120)},
                          {Pk("ID"), Idx("Group", {"Group"}), Idx("When", {"When"}), Idx("Code", {"Code"}, true),
                           Idx("RankDown", {"Rank"}, false, {true}), Idx("GroupCode", {"Group", "Code"}),
                           Idx("Path", {"Path"})});
    std::mt19937 gen(7);
    std::vector<int> ids(kRows);
    for (int k = 0; k < kRows; ++k) ids[static_cast<std::size_t>(k)] = k * 3 - 40000;
    std::shuffle(ids.begin(), ids.end(), gen);
    for (int k = 0; k < kRows; ++k) {
      int id = ids[static_cast<std::size_t>(k)];
      Value group = k % 11 == 0 ? Value::Null() : Value::Int(static_cast<int>(gen() % 40));
      Value when = k % 13 == 0 ? Value::Null() : Value::DateValue(-800.0 + static_cast<double>(gen() % 100000) / 7.0);
      char code[16];
      std::snprintf(code, sizeof code, "C%07X", static_cast<unsigned>(id + 50000));
      Value text = k % 17 == 0 ? Value::Null() : Value::Str(code);
      // Long keys with little in common: enough leaves for two levels of node pages.
      std::string path_text;
      for (int n = 0; n < 10; ++n) path_text += "/" + std::to_string(gen() % 10000000);
      t.Append({Value::Int(id), group, when, text, Value::Int(static_cast<int>(gen() % 200) - 100),
                Value::Str(path_text)});
    }
    db.AddTable("None", {Col("ID", ColumnType::Long)}, {Pk("ID")});
    db.AddTable("One", {Col("ID", ColumnType::Long)}, {Pk("ID")}).Append({Value::Int(42)});
    for (int k = 0; k < 40; ++k) db.AddTable("Table_" + std::to_string(k), {Col("A", ColumnType::Long)});
    db.Write(path);
  }
  auto db = Database::Open(path);
  for (const auto& [table, rows] : std::vector<std::pair<std::string, std::size_t>>{
           {"T", kRows}, {"None", 0}, {"One", 1}, {"MSysObjects", 8 + 43}, {"MSysACEs", 16}})
    CheckIndexes(*db, table, rows);
  const TableDef& t = Internal(*db->GetTable("T")).definition();
  // The long keys of Path need node pages above node pages; empty and one-row tables
  // have leaf roots.
  auto root_type = [&](const TableDef& d, std::size_t r) { return Internal(*db).pager().Read(d.real_indexes[r].root_page)->at(0); };
  EXPECT_EQ(root_type(t, 6), 0x03);
  EXPECT_EQ(t.real_indexes[0].flags, 0x89);  // primary: unique, required
  EXPECT_EQ(t.real_indexes[1].flags, 0x80);
  EXPECT_EQ(t.real_indexes[3].flags, 0x81);
  EXPECT_TRUE(t.real_indexes[4].columns[0].descending);
  EXPECT_EQ(t.indexes[0].type, kIndexTypePrimary);
  EXPECT_EQ(root_type(Internal(*db->GetTable("One")).definition(), 0), 0x04);
}

TEST(CreateIndexPages, UniqueViolationAndUnencodableKeysAreRefused) {
  TempDir dir;
  DatabaseWriter db;
  auto& t = db.AddTable("U", {Col("Code", ColumnType::Text, 20), Col("Note", ColumnType::Text, 20)},
                        {Idx("Code", {"Code"}, true)});
  t.Append({Value::Str("abc"), Value::Str("O'Brien")});  // only indexed columns are restricted
  ExpectJetError(ErrorCode::Unsupported, "'Code' of table 'U'", [&] { t.Append({Value::Str("O'Brien"), Value::Null()}); });
  EXPECT_EQ(t.RowCount(), 1u);
  t.Append({Value::Null(), Value::Null()});
  t.Append({Value::Null(), Value::Null()});  // several NULLs do not break uniqueness
  t.Append({Value::Str("ABC  "), Value::Null()});  // same key as "abc"
  ExpectJetError(ErrorCode::Integrity, "Index 'Code'", [&] { db.Write((dir.path() / "u.mdb").string()); });
}

RelationshipSpec Rel(const char* parent, const char* pcol, const char* child, const char* ccol) {
  RelationshipSpec r;
  r.parent_table = parent;
  r.parent_columns = {pcol};
  r.child_table = child;
  r.child_columns = {ccol};
  return r;
}

TEST(CreateRelationships, EnforcedOnesAddForeignKeyIndexesOnBothSides) {
  TempDir dir;
  std::string path = (dir.path() / "rel.mdb").string();
  {
    DatabaseWriter db;
    auto& parent = db.AddTable("Holder", {Col("ID", ColumnType::Long), Col("Name", ColumnType::Text, 30)}, {Pk("ID")});
    auto& card = db.AddTable("Card", {Col("Owner", ColumnType::Long)}, {Idx("Owner", {"Owner"})});
    auto& link = db.AddTable("Link", {Col("Emp", ColumnType::Long), Col("Group", ColumnType::Long)});
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
  const TableDef& holder = Internal(*db->GetTable("Holder")).definition();
  const TableDef& card = Internal(*db->GetTable("Card")).definition();
  const TableDef& link = Internal(*db->GetTable("Link")).definition();
  ASSERT_EQ(holder.indexes.size(), 3u);
  EXPECT_EQ(holder.indexes[1].name, ".rB");
  EXPECT_EQ(holder.indexes[2].name, ".rC");
  EXPECT_EQ(holder.real_indexes.size(), 1u);  // both share the primary key's pages
  EXPECT_EQ(holder.indexes[1].real_index, 0u);
  EXPECT_EQ(holder.indexes[1].related_table_page, card.page);
  EXPECT_TRUE(holder.indexes[1].cascade_deletes);
  ASSERT_EQ(card.indexes.size(), 2u);
  EXPECT_EQ(card.indexes[1].name, "HolderCard");
  EXPECT_EQ(card.indexes[1].real_index, 0u);  // shares the existing index on Owner
  EXPECT_EQ(card.indexes[1].related_index, holder.indexes[1].number);
  EXPECT_EQ(holder.indexes[1].related_index, card.indexes[1].number);
  ASSERT_EQ(link.real_indexes.size(), 1u);  // a new index for the foreign key
  EXPECT_EQ(link.indexes[0].name, "HolderLink");
  EXPECT_EQ(link.real_indexes[0].columns[0].column_number, 0);
  std::vector<std::string> rels;
  for (const auto& r : db->Relationships())
    rels.push_back(r.name + " " + r.primary_table + "." + r.primary_columns[0] + " " + r.foreign_table + "." +
                   r.foreign_columns[0] + (r.enforced ? " enforced" : "") + (r.cascade_deletes ? " cascade" : ""));
  std::sort(rels.begin(), rels.end());
  EXPECT_EQ(rels, (std::vector<std::string>{"HolderCard Holder.ID Card.Owner enforced cascade",
                                            "HolderLink Holder.ID Link.Emp enforced", "Loose Holder.ID Link.Group"}));
  if (testing::HaveCommand("mdb-export")) {
    std::string rows = Shell("mdb-export " + ShellQuote(path) + " MSysRelationships");
    EXPECT_NE(rows.find("\"HolderCard\",4096,1,0,\"Card\",\"Owner\",\"Holder\",\"ID\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"HolderLink\",0,1,0,\"Link\",\"Emp\",\"Holder\",\"ID\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"Loose\",2,1,0,\"Link\",\"Group\",\"Holder\",\"ID\""), std::string::npos) << rows;
  }
}

TEST(CreateRelationships, OrphansAndLateDefinitionsAreRefused) {
  TempDir dir;
  DatabaseWriter db;
  auto& parent = db.AddTable("P", {Col("ID", ColumnType::Long), Col("Other", ColumnType::Long)}, {Pk("ID")});
  auto& child = db.AddTable("C", {Col("PID", ColumnType::Long), Col("Text", ColumnType::Text, 5)});
  ExpectJetError(ErrorCode::Unsupported, "needs a unique index", [&] { db.AddRelationship(Rel("P", "Other", "C", "PID")); });
  ExpectJetError(ErrorCode::TypeMismatch, "differ in type", [&] { db.AddRelationship(Rel("P", "ID", "C", "Text")); });
  ExpectJetError(ErrorCode::UnknownTable, "'Nope'", [&] { db.AddRelationship(Rel("Nope", "ID", "C", "PID")); });
  db.AddRelationship(Rel("P", "ID", "C", "PID"));
  parent.Append({Value::Int(1), Value::Null()});
  child.Append({Value::Int(1), Value::Null()});
  child.Append({Value::Int(5), Value::Null()});
  auto again = Rel("P", "ID", "C", "PID");
  again.name = "Again";
  ExpectJetError(ErrorCode::Unsupported, "before any rows", [&] { db.AddRelationship(again); });
  ExpectJetError(ErrorCode::Integrity, "Relationship 'PC'", [&] { db.Write((dir.path() / "orphan.mdb").string()); });
}

TEST(CreateSchema, BadDefinitionsAreRefusedByName) {
  DatabaseWriter db;
  ColumnSpec auto_text = Col("A", ColumnType::Text, 5, true);
  struct Case {
    ErrorCode code;
    const char* fragment;
    std::vector<ColumnSpec> columns;
    std::vector<IndexSpec> indexes;
    const char* table;
  } cases[] = {
      {ErrorCode::Unsupported, "reserved", {Col("A", ColumnType::Long)}, {}, "MSysThing"},
      {ErrorCode::Unsupported, "no columns", {}, {}, "Empty"},
      {ErrorCode::Unsupported, "length must be 1 to 255", {Col("A", ColumnType::Text, 0)}, {}, "T"},
      {ErrorCode::Unsupported, "two columns named 'a'", {Col("A", ColumnType::Long), Col("a", ColumnType::Long)}, {}, "T"},
      {ErrorCode::UnknownColumn, "no column 'B'", {Col("A", ColumnType::Long)}, {Pk("B")}, "T"},
      {ErrorCode::Unsupported, "cannot be an index key", {Col("M", ColumnType::Memo)}, {Pk("M")}, "T"},
      {ErrorCode::Unsupported, "autonumbers", {auto_text}, {}, "T"},
  };
  for (const Case& c : cases) ExpectJetError(c.code, c.fragment, [&] { db.AddTable(c.table, c.columns, c.indexes); });
  db.AddTable("T", {Col("A", ColumnType::Long)});
  ExpectJetError(ErrorCode::Unsupported, "defined twice", [&] { db.AddTable("t", {Col("A", ColumnType::Long)}); });
  ExpectJetError(ErrorCode::UnknownTable, "'Missing'", [&] { db.Table("Missing"); });
  ExpectJetError(ErrorCode::Unsupported, "20 characters", [&] { DatabaseWriter w({.password = std::string(21, 'x')}); });
}

// One rule for every insert: what a value of each kind becomes in a column of each type,
// and what is refused (naming table and column, the row not added) rather than clipped.
TEST(CreateSchema, ValuesTakeTheColumnTypeOrAreRefused) {
  TempDir dir;
  std::string path = (dir.path() / "values.mdb").string();
  DatabaseWriter db;
  auto& t = db.AddTable("V", {Col("L", ColumnType::Long), Col("I", ColumnType::Integer), Col("B", ColumnType::Byte),
                              Col("S", ColumnType::Text, 3), Col("D", ColumnType::DateTime),
                              Col("F", ColumnType::Single), Col("M", ColumnType::Currency),
                              Col("Y", ColumnType::Boolean), Col("G", ColumnType::Guid)},
                        {Pk("L")});
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
