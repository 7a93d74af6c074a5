// Index pages written by the writer, checked by walking them with the test probe: tree
// shape, entry order, node entries against their children, leaf links, and that every
// entry points to a row holding its key. Key encodings are checked against values known
// from files Access wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "create_test_support.h"
#include "jet/create/database_writer.h"
#include "jet/create/index_key.h"
#include "jet/error.h"
#include "jet_probe.h"

namespace {

using jet::ColumnType;
using jet::Value;
using jet::create::Cell;
using jet::create::ColumnLayout;
using jet::create::ColumnSpec;
using jet::create::DatabaseWriter;
using jet::create::IndexSpec;

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string Key(ColumnType type, const Cell& cell, bool ascending = true) {
  ColumnLayout c;
  c.spec.name = "c";
  c.spec.type = type;
  std::string key;
  jet::create::AppendKey(&key, c, cell, ascending, "test");
  return key;
}

Cell Int(std::int64_t v) {
  Cell c;
  c.null = false;
  c.i = v;
  return c;
}
Cell Real(double v) {
  Cell c;
  c.null = false;
  c.d = v;
  return c;
}
Cell Text(const std::u16string& s) {
  Cell c;
  c.null = false;
  c.text = s;
  return c;
}

TEST(CreateIndexKeys, MatchWhatAccessWrites) {
  // Text "Project1" in the General order, as found in an index written by Access 2000.
  EXPECT_EQ(Hex(Key(ColumnType::Text, Text(u"Project1"))), "7f6669645b514d6d380100");
  // Case does not matter and trailing spaces are ignored.
  EXPECT_EQ(Key(ColumnType::Text, Text(u"PROJECT1  ")), Key(ColumnType::Text, Text(u"project1")));
  EXPECT_EQ(Hex(Key(ColumnType::Long, Int(19))), "7f80000013");
  EXPECT_EQ(Hex(Key(ColumnType::Long, Int(-1))), "7f7fffffff");
  EXPECT_EQ(Hex(Key(ColumnType::Integer, Int(1))), "7f8001");
  EXPECT_EQ(Hex(Key(ColumnType::Byte, Int(200))), "7fc8");
  // Descending: flag 0x80 and every value byte inverted.
  EXPECT_EQ(Hex(Key(ColumnType::Long, Int(19), false)), "807fffffec");
  EXPECT_EQ(Hex(Key(ColumnType::Long, Cell{}, true)), "00");
  EXPECT_EQ(Hex(Key(ColumnType::Long, Cell{}, false)), "ff");
  EXPECT_EQ(Hex(Key(ColumnType::DateTime, Real(1.0))), "7fbff0000000000000");
}

TEST(CreateIndexKeys, SortLikeTheValues) {
  std::vector<double> dates = {-700000.5, -2.0, -1.25, -0.5, 0.0, 0.25, 1.0, 45000.75, 2958465.0};
  for (std::size_t k = 1; k < dates.size(); ++k) {
    EXPECT_LT(Key(ColumnType::DateTime, Real(dates[k - 1])), Key(ColumnType::DateTime, Real(dates[k]))) << k;
    EXPECT_GT(Key(ColumnType::DateTime, Real(dates[k - 1]), false), Key(ColumnType::DateTime, Real(dates[k]), false));
  }
  std::vector<std::int64_t> longs = {INT32_MIN, -70000, -1, 0, 1, 255, 256, 70000, INT32_MAX};
  for (std::size_t k = 1; k < longs.size(); ++k) {
    EXPECT_LT(Key(ColumnType::Long, Int(longs[k - 1])), Key(ColumnType::Long, Int(longs[k])));
  }
  std::vector<std::u16string> texts = {u"", u"0001", u"9", u"A", u"ab", u"abc", u"B", u"Spare", u"Z_", u"z~"};
  for (std::size_t k = 1; k < texts.size(); ++k) {
    EXPECT_LT(Key(ColumnType::Text, Text(texts[k - 1])), Key(ColumnType::Text, Text(texts[k]))) << k;
  }
  EXPECT_LT(Key(ColumnType::Long, Cell{}), Key(ColumnType::Long, Int(INT32_MIN)));  // NULL first
}

TEST(CreateIndexKeys, RefuseTextTheyCannotEncode) {
  for (const std::u16string& s : {std::u16string(u"O'Brien"), std::u16string(u"Smith-Jones"), std::u16string(u"Zoë"),
                                  std::u16string(u"tab\there")}) {
    try {
      Key(ColumnType::Text, Text(s));
      ADD_FAILURE() << "accepted a key it cannot encode";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.code(), jet::ErrorCode::Unsupported);
      EXPECT_NE(std::string(e.what()).find("index key"), std::string::npos);
    }
  }
}

struct Fixture {
  std::vector<std::int64_t> ids;
  std::string path;
};

ColumnSpec Col(const char* name, ColumnType type, int length = 0) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

IndexSpec Idx(const char* name, std::vector<std::string> cols, bool unique = false, std::vector<bool> desc = {}) {
  IndexSpec i;
  i.name = name;
  i.columns = std::move(cols);
  i.unique = unique;
  i.descending = std::move(desc);
  return i;
}

// Walks every index of the table and checks the tree and each entry against its row.
void CheckIndexes(const jet_probe::File& f, const std::string& table, std::size_t expect_rows, int min_levels) {
  auto t = f.Definition(f.TablePage(table));
  std::map<std::pair<std::uint32_t, int>, const jet_probe::StoredRow*> by_pointer;
  auto rows = f.Rows(t);
  ASSERT_EQ(rows.size(), expect_rows);
  for (const auto& r : rows) by_pointer[{r.page, r.slot}] = &r;
  int deepest = 0;
  for (const auto& idx : t.real) {
    auto walk = f.Walk(t, idx);
    for (const auto& p : walk.problems) ADD_FAILURE() << table << ": " << p;
    EXPECT_EQ(walk.entries.size(), expect_rows);
    deepest = std::max(deepest, walk.levels);
    std::set<std::pair<std::uint32_t, int>> seen;
    for (const auto& e : walk.entries) {
      auto it = by_pointer.find({e.page, e.slot});
      ASSERT_NE(it, by_pointer.end()) << "entry points to no row";
      EXPECT_TRUE(seen.insert({e.page, e.slot}).second) << "two entries for one row";
      // Rebuild the key from the row's stored values, decoded by the probe.
      std::string key;
      for (const auto& [number, ascending] : idx.columns) {
        const jet_probe::Column& c = t.columns[static_cast<std::size_t>(number)];
        auto field = f.Decode(t, *it->second, c.name);
        Cell cell;
        cell.null = !field.has_value();
        if (field) {
          if (c.type == 0x0a) {
            for (char ch : *field) cell.text.push_back(static_cast<char16_t>(ch));
          } else if (c.type == 0x08) {
            cell.d = std::stod(*field);
          } else {
            cell.i = std::stoll(*field);
          }
        }
        ColumnLayout layout;
        layout.spec.type = static_cast<ColumnType>(c.type);
        jet::create::AppendKey(&key, layout, cell, ascending, "probe");
      }
      EXPECT_EQ(Hex(e.key), Hex(key));
    }
  }
  EXPECT_GE(deepest, min_levels);
}

TEST(CreateIndexPages, UniqueDuplicateNullDescendingAndMultiColumnKeysOverManyPages) {
  create_test::ScratchDir dir;
  std::string path = dir.File("idx.mdb");
  const int kRows = 20000;
  {
    DatabaseWriter db;
    IndexSpec pk = Idx("PrimaryKey", {"ID"});
    pk.primary = true;
    auto& t = db.AddTable("T",
                          {Col("ID", ColumnType::Long), Col("Group", ColumnType::Long), Col("When", ColumnType::DateTime),
                           Col("Code", ColumnType::Text, 20), Col("Rank", ColumnType::Integer),
                           Col("Path", ColumnType::Text, 120)},
                          {pk, Idx("Group", {"Group"}), Idx("When", {"When"}), Idx("Code", {"Code"}, true),
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
    db.Write(path);
  }
  jet_probe::File f(path);
  CheckIndexes(f, "T", kRows, 3);
  auto t = f.Definition(f.TablePage("T"));
  EXPECT_EQ(t.real[0].flags, 0x89);  // primary: unique, required
  EXPECT_EQ(t.real[1].flags, 0x80);
  EXPECT_EQ(t.real[3].flags, 0x81);
  EXPECT_FALSE(t.real[4].columns[0].second);
  EXPECT_EQ(t.logical[0].kind, 1);
}

TEST(CreateIndexPages, EmptyAndSingleRowTablesHaveLeafRoots) {
  create_test::ScratchDir dir;
  std::string path = dir.File("small.mdb");
  {
    DatabaseWriter db;
    IndexSpec pk = Idx("PrimaryKey", {"ID"});
    pk.primary = true;
    db.AddTable("None", {Col("ID", ColumnType::Long)}, {pk});
    db.AddTable("One", {Col("ID", ColumnType::Long)}, {pk}).Append({Value::Int(42)});
    db.Write(path);
  }
  jet_probe::File f(path);
  CheckIndexes(f, "None", 0, 1);
  CheckIndexes(f, "One", 1, 1);
  auto t = f.Definition(f.TablePage("One"));
  EXPECT_EQ(f.Page(t.real[0].root)[0], 0x04);
}

TEST(CreateIndexPages, CatalogueIndexesAreSound) {
  create_test::ScratchDir dir;
  std::string path = dir.File("cat.mdb");
  {
    DatabaseWriter db;
    for (int k = 0; k < 40; ++k) db.AddTable("Table_" + std::to_string(k), {Col("A", ColumnType::Long)});
    db.Write(path);
  }
  jet_probe::File f(path);
  CheckIndexes(f, "MSysObjects", 8 + 40, 1);
  CheckIndexes(f, "MSysACEs", 16, 1);
  CheckIndexes(f, "MSysRelationships", 0, 1);
}

TEST(CreateIndexPages, UniqueViolationAndUnencodableKeysAreRefused) {
  create_test::ScratchDir dir;
  DatabaseWriter db;
  auto& t = db.AddTable("U", {Col("Code", ColumnType::Text, 20), Col("Note", ColumnType::Text, 20)},
                        {Idx("Code", {"Code"}, true)});
  t.Append({Value::Str("abc"), Value::Str("O'Brien")});  // only indexed columns are restricted
  try {
    t.Append({Value::Str("O'Brien"), Value::Null()});
    ADD_FAILURE() << "an apostrophe in an index key was accepted";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.code(), jet::ErrorCode::Unsupported);
    EXPECT_NE(std::string(e.what()).find("'Code' of table 'U'"), std::string::npos) << e.what();
  }
  EXPECT_EQ(t.RowCount(), 1u);
  t.Append({Value::Null(), Value::Null()});
  t.Append({Value::Null(), Value::Null()});  // several NULLs do not break uniqueness
  t.Append({Value::Str("ABC  "), Value::Null()});  // same key as "abc"
  try {
    db.Write(dir.File("u.mdb"));
    ADD_FAILURE() << "duplicate keys in a unique index were written";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.code(), jet::ErrorCode::Integrity);
    EXPECT_NE(std::string(e.what()).find("Index 'Code'"), std::string::npos);
  }
}

}  // namespace
