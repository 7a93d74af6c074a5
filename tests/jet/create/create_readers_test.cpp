// Files from the writer, read back by this folder's own probe and by two independent
// readers: mdbtools (Debian) and the npm package mdb-reader (tests/js).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "create_test_support.h"
#include "jet/create/database_writer.h"
#include "jet/datetime.h"
#include "jet/error.h"
#include "jet_probe.h"

namespace {

using create_test::Quote;
std::string Shell(const std::string& command, int* status) { return create_test::Run(command, status); }

using jet::ColumnType;
using jet::Value;
using jet::create::ColumnSpec;
using jet::create::DatabaseWriter;
using jet::create::IndexSpec;

ColumnSpec Col(const char* name, ColumnType type, int length = 0, bool autonumber = false) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.autonumber = autonumber;
  return c;
}

double Date(int y, int mo, int d, int h, int mi, int s) {
  jet::CivilTime t{y, mo, d, h, mi, s};
  return jet::ToJetDate(t);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

const std::string kLongMemo = Repeat("Größe ", 1700);  // about 10 KB of UCS-2: a chain of pages
const std::string kMediumMemo = Repeat("medium ", 70);  // over the inline limit, one page

// One table with every kind of column the job's schema uses, NULLs in each, and memo
// values of the three storage forms.
void WriteKinds(const std::string& path, const std::string& password) {
  jet::create::DatabaseOptions options;
  options.password = password;
  options.created = Date(2025, 3, 14, 9, 26, 53);
  DatabaseWriter db(options);
  IndexSpec pk;
  pk.name = "PrimaryKey";
  pk.columns = {"ID"};
  pk.primary = true;
  IndexSpec when;
  when.name = "When";
  when.columns = {"When"};
  auto& t = db.AddTable("Kinds",
                        {Col("ID", ColumnType::Long, 0, true), Col("Small", ColumnType::Integer),
                         Col("Tiny", ColumnType::Byte), Col("Flag", ColumnType::Boolean),
                         Col("When", ColumnType::DateTime), Col("Name", ColumnType::Text, 40),
                         Col("Notes", ColumnType::Memo), Col("Amount", ColumnType::Double),
                         Col("Price", ColumnType::Currency)},
                        {pk, when});
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
  auto& empty = db.AddTable("Empty", {Col("A", ColumnType::Long), Col("B", ColumnType::Text, 10)});
  (void)empty;
  db.Write(path);
}

TEST(CreateReaders, ProbeReadsBackEveryKindAndNull) {
  create_test::ScratchDir dir;
  std::string path = dir.File("kinds.mdb");
  WriteKinds(path, "");
  jet_probe::File f(path);
  auto t = f.Definition(f.TablePage("Kinds"));
  EXPECT_EQ(t.rows, 4u);
  EXPECT_EQ(t.autonumber, 8u);  // after the kept 7, numbering went on above it
  auto rows = f.Rows(t);
  ASSERT_EQ(rows.size(), 4u);
  auto get = [&](int r, const char* c) { return f.Decode(t, rows[static_cast<std::size_t>(r)], c); };
  EXPECT_EQ(get(0, "ID"), "1");
  EXPECT_EQ(get(1, "ID"), "2");
  EXPECT_EQ(get(2, "ID"), "7");
  EXPECT_EQ(get(3, "ID"), "8");
  EXPECT_EQ(get(0, "Small"), "-32768");
  EXPECT_EQ(get(0, "Tiny"), "255");
  EXPECT_EQ(get(0, "Flag"), "1");
  EXPECT_EQ(get(1, "Flag"), "0");
  EXPECT_EQ(get(2, "Flag"), "0");  // Yes/No has no NULL
  EXPECT_EQ(get(0, "Name"), "Zoë Ærø-Łukasz");
  EXPECT_EQ(get(3, "Name"), "");
  EXPECT_EQ(get(2, "Name"), std::nullopt);
  EXPECT_EQ(get(2, "Small"), std::nullopt);
  EXPECT_EQ(get(2, "When"), std::nullopt);
  EXPECT_EQ(get(0, "Notes"), "short note");
  EXPECT_EQ(get(1, "Notes"), kMediumMemo);
  EXPECT_EQ(get(2, "Notes"), kLongMemo);
  EXPECT_EQ(get(3, "Notes"), std::nullopt);
  EXPECT_EQ(get(0, "Price"), "123400");
  EXPECT_EQ(get(1, "Price"), "-1");
  auto empty = f.Definition(f.TablePage("Empty"));
  EXPECT_EQ(empty.rows, 0u);
  EXPECT_TRUE(f.Rows(empty).empty());
}

TEST(CreateReaders, MdbToolsSeesTablesRowsAndValues) {
  if (!create_test::HaveProgram("mdb-export")) GTEST_SKIP() << "mdbtools (mdb-export) is not installed";
  create_test::ScratchDir dir;
  std::string path = dir.File("kinds.mdb");
  WriteKinds(path, "");
  int status = 0;
  std::string tables = Shell("mdb-tables -1 " + Quote(path), &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(tables, "Kinds\nEmpty\n");
  std::string system = Shell("mdb-tables -S -1 " + Quote(path), &status);
  EXPECT_EQ(system, "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\nKinds\nEmpty\n");
  std::string csv = Shell("mdb-export -T '%Y-%m-%d %H:%M:%S' -Q -d '|' " + Quote(path) + " Kinds", &status);
  ASSERT_EQ(status, 0);
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = csv.find('\n', at)) != std::string::npos; at = nl + 1) {
    lines.push_back(csv.substr(at, nl - at));
  }
  ASSERT_EQ(lines.size(), 5u) << csv.substr(0, 2000);
  EXPECT_EQ(lines[0], "ID|Small|Tiny|Flag|When|Name|Notes|Amount|Price");
  EXPECT_EQ(lines[1], "1|-32768|255|1|2024-02-29 13:45:10|Zoë Ærø-Łukasz|short note|3.25|12.3400");
  EXPECT_EQ(lines[2], "2|32767|0|0|1899-12-30 00:00:00|plain|" + kMediumMemo + "|-10000000000|-0.0001");
  EXPECT_EQ(lines[3], "7|||0|||" + kLongMemo + "||");
  // mdbtools cannot print dates before 1900; the value itself is checked by the other readers.
  EXPECT_EQ(lines[4].substr(0, 9), "8|5|17|1|");
  EXPECT_EQ(lines[4].substr(lines[4].size() - 13), "|||0.5|5.0000");
}

TEST(CreateReaders, MdbReaderSeesTablesRowsAndValues) {
  if (!create_test::HaveMdbReader()) GTEST_SKIP() << "run npm install in tests/js to check against mdb-reader";
  create_test::ScratchDir dir;
  std::string path = dir.File("kinds.mdb");
  WriteKinds(path, "");
  int status = 0;
  std::string json = Shell("node " + Quote((create_test::JsProject() / "read_mdb.mjs").string()) + " " + Quote(path), &status);
  ASSERT_EQ(status, 0) << json;
  EXPECT_NE(json.find("\"password\":null"), std::string::npos);
  EXPECT_NE(json.find("{\"name\":\"Empty\",\"columns\":[{\"name\":\"A\",\"type\":\"long\"},{\"name\":\"B\",\"type\":\"text\"}],\"rows\":[]}"),
            std::string::npos)
      << json.substr(0, 3000);
  EXPECT_NE(json.find("[1,-32768,255,true,\"2024-02-29T13:45:10.000Z\",\"Zoë Ærø-Łukasz\",\"short note\",3.25,\"12.3400\"]"),
            std::string::npos)
      << json.substr(0, 3000);
  EXPECT_NE(json.find("[2,32767,0,false,\"1899-12-30T00:00:00.000Z\",\"plain\",\"" + kMediumMemo + "\",-10000000000,\"-0.0001\"]"),
            std::string::npos);
  EXPECT_NE(json.find("[7,null,null,false,null,null,\"" + kLongMemo + "\",null,null]"), std::string::npos);
  EXPECT_NE(json.find("[8,5,17,true,\"1850-07-04T00:00:00.000Z\",\"\",null,0.5,\"5.0000\"]"), std::string::npos)
      << json.substr(json.size() > 300 ? json.size() - 300 : 0);
}

TEST(CreateReaders, PasswordIsStoredMaskedAndReadersStillOpenTheFile) {
  create_test::ScratchDir dir;
  std::string path = dir.File("secret.mdb");
  WriteKinds(path, "Morvek3");
  // The password must not appear in clear anywhere in the file.
  jet_probe::File f(path);
  std::string all;
  for (std::uint32_t p = 0; p < f.PageCount(); ++p) all.append(reinterpret_cast<const char*>(f.Page(p)), 4096);
  EXPECT_EQ(all.find(std::string("M\0o\0r\0v\0e\0k\0003", 13)), std::string::npos);
  int status = 0;
  if (create_test::HaveProgram("mdb-export")) {
    std::string csv = Shell("mdb-export " + Quote(path) + " Kinds | wc -l", &status);
    EXPECT_EQ(csv, "5\n");
  }
  if (create_test::HaveMdbReader()) {
    std::string script = (create_test::JsProject() / "read_mdb.mjs").string();
    std::string json = Shell("node " + Quote(script) + " " + Quote(path) + " Morvek3", &status);
    ASSERT_EQ(status, 0) << json;
    EXPECT_NE(json.find("\"password\":\"Morvek3\""), std::string::npos);
    // mdb-reader does not check Jet 4 passwords: it opens the file without one too.
    json = Shell("node " + Quote(script) + " " + Quote(path), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"name\":\"Kinds\""), std::string::npos);
  }
}

// Enough rows for more than 512 data pages (the reach of an inline usage map) and a
// multi-level index; both other readers must still find every row.
TEST(CreateReaders, LargeTableIsReadCompletely) {
  create_test::ScratchDir dir;
  std::string path = dir.File("large.mdb");
  {
    DatabaseWriter db;
    IndexSpec pk;
    pk.name = "PrimaryKey";
    pk.columns = {"ID"};
    pk.primary = true;
    auto& t = db.AddTable("Big", {Col("ID", ColumnType::Long, 0, true), Col("Text", ColumnType::Text, 255)}, {pk});
    std::string filler = Repeat("0123456789", 20);
    for (int k = 0; k < 12000; ++k) t.Append({Value::Null(), Value::Str(filler + std::to_string(k))});
    db.Write(path);
  }
  jet_probe::File f(path);
  auto t = f.Definition(f.TablePage("Big"));
  EXPECT_GT(f.MapPages(t.used_map).size(), 512u);
  EXPECT_EQ(f.Rows(t).size(), 12000u);
  int status = 0;
  if (create_test::HaveProgram("mdb-export")) {
    EXPECT_EQ(Shell("mdb-export " + Quote(path) + " Big | wc -l", &status), "12001\n");
    EXPECT_EQ(Shell("mdb-export " + Quote(path) + " Big | tail -1", &status),
              "12000,\"" + Repeat("0123456789", 20) + "11999\"\n");
  }
  if (create_test::HaveMdbReader()) {
    std::string json = Shell("node " + Quote((create_test::JsProject() / "read_mdb.mjs").string()) + " " + Quote(path), &status);
    ASSERT_EQ(status, 0);
    EXPECT_NE(json.find("[12000,\"" + Repeat("0123456789", 20) + "11999\"]]}]}"), std::string::npos);
  }
}

}  // namespace
