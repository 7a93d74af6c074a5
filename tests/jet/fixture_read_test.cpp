// Every user table of every shared fixture reads as its expected TSV, and every index
// walks to exactly the table's rows in key order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "jet/database.h"
#include "jet/datetime.h"
#include "jet/tsv.h"
#include "support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::FixturesDir;

std::vector<fs::path> FixtureFiles() {
  std::vector<fs::path> files;
  if (!fs::is_directory(FixturesDir())) return files;
  for (const char* folder : {"access", "site-small", "site-ri"})
    for (const auto& e : fs::directory_iterator(FixturesDir() / folder))
      if (e.path().extension() == ".mdb") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::unique_ptr<Database> OpenFixture(const fs::path& p) {
  OpenOptions o;
  if (p.filename() == "Orvanta.mdb") o.password = "Morvek3";
  return Database::Open(p.string(), o);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(FixtureRead, EveryUserTableMatchesItsExpectedTsv) {
  JET_REQUIRE_FIXTURES();
  int tables = 0;
  for (const auto& file : FixtureFiles()) {
    auto db = OpenFixture(file);
    fs::path expected = FixturesDir() / "expected" / file.parent_path().filename() / file.stem();
    std::vector<std::string> names = db->TableNames();
    std::vector<std::string> expected_names;
    if (fs::is_directory(expected))
      for (const auto& e : fs::directory_iterator(expected)) expected_names.push_back(e.path().stem().string());
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected_names.begin(), expected_names.end());
    EXPECT_EQ(sorted, expected_names) << file;

    for (const auto& name : names) {
      SCOPED_TRACE(file.string() + " " + name);
      Table* t = db->GetTable(name);
      ASSERT_NE(t, nullptr);
      std::vector<std::string> want = Lines(testing::ReadAll(expected / (name + ".tsv")));
      ASSERT_FALSE(want.empty());
      std::vector<std::string> got;
      std::string header;
      for (const auto& c : t->Columns()) header += (header.empty() ? "" : "\t") + c.name;
      got.push_back(header);
      t->Scan({}, [&](RowId, const Row& row) {
        got.push_back(FormatTsvRow(row));
        return true;
      });
      EXPECT_EQ(got, want);
      EXPECT_EQ(got.size() - 1, t->RecordedRowCount());
      ++tables;
    }
  }
  EXPECT_EQ(tables, 39);
}

// -1, 0, 1 for the order of two values of one column (NULL first).
int CompareValues(const Value& a, const Value& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  auto num = [](const Value& v) -> double {
    switch (v.kind) {
      case Value::Kind::Boolean: return v.b ? -1 : 0;  // Jet's true is -1
      case Value::Kind::Integer:
      case Value::Kind::Currency: return static_cast<double>(v.i);
      case Value::Kind::Date: return JetDateOrdinal(v.d);
      default: return v.d;
    }
  };
  double x = num(a), y = num(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool Comparable(ColumnType t) {
  return t != ColumnType::Text && t != ColumnType::Memo && t != ColumnType::Binary && t != ColumnType::Ole &&
         t != ColumnType::Guid && t != ColumnType::Numeric;
}

TEST(FixtureRead, EveryIndexWalksToTheTableRowsInKeyOrder) {
  JET_REQUIRE_FIXTURES();
  int walked = 0, nonempty = 0;
  for (const auto& file : FixtureFiles()) {
    auto db = OpenFixture(file);
    for (const auto& name : db->TableNames()) {
      Table* t = db->GetTable(name);
      std::map<RowId, Row> rows;
      t->Scan({}, [&](RowId id, const Row& r) {
        rows[id] = r;
        return true;
      });
      for (const auto& index : t->Indexes()) {
        SCOPED_TRACE(file.string() + " " + name + " index " + index.name);
        std::vector<RowId> ids;
        std::vector<std::string> keys;
        t->WalkIndex(index, [&](RowId id, const std::string& key) {
          ids.push_back(id);
          keys.push_back(key);
          return true;
        });
        // The same rows as the scan, each once.
        std::vector<RowId> sorted = ids, scanned;
        std::sort(sorted.begin(), sorted.end());
        for (const auto& [id, r] : rows) scanned.push_back(id);
        EXPECT_EQ(sorted, scanned);
        // Keys in memcmp order, and the values in the index's column order.
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
        bool comparable = std::all_of(index.columns.begin(), index.columns.end(), [&](const IndexInfo::Column& c) {
          return Comparable(t->Columns()[c.position].type);
        });
        for (std::size_t i = 1; comparable && i < ids.size(); ++i) {
          const Row& a = rows[ids[i - 1]];
          const Row& b = rows[ids[i]];
          int order = 0;
          for (const auto& c : index.columns) {
            order = CompareValues(a[c.position], b[c.position]);
            if (c.descending) order = -order;
            if (order != 0) break;
          }
          EXPECT_LE(order, 0) << "rows " << i - 1 << " and " << i << " of the walk";
        }
        ++walked;
        if (!ids.empty()) ++nonempty;
      }
    }
  }
  EXPECT_GT(walked, 40);
  EXPECT_GT(nonempty, 30);
}

}  // namespace
}  // namespace jet
