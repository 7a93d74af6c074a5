// Every user table of every shared fixture reads as its expected TSV (which the two
// independent readers that prepared the folder agree on), every index holds exactly the
// table's rows in key order, and that order is the order of the indexed values.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "jet/database.h"
#include "jet/datetime.h"
#include "jet/integrity.h"
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

TEST(FixtureRead, EveryUserTableMatchesItsExpectedTsv) {
  JET_REQUIRE_FIXTURES();
  int tables = 0;
  for (const auto& file : FixtureFiles()) {
    auto db = Database::Open(file.string(), {.password = "Morvek3"});
    fs::path expected = FixturesDir() / "expected" / file.parent_path().filename() / file.stem();
    std::vector<std::string> names = db->TableNames(), expected_names;
    if (fs::is_directory(expected))
      for (const auto& e : fs::directory_iterator(expected)) expected_names.push_back(e.path().stem().string());
    std::sort(expected_names.begin(), expected_names.end());
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected_names) << file;

    for (const auto& name : names) {
      SCOPED_TRACE(file.string() + " " + name);
      Table* t = db->GetTable(name);
      ASSERT_NE(t, nullptr);
      std::string got;
      for (const auto& c : t->Columns()) got += (got.empty() ? "" : "\t") + c.name;
      got += "\n";
      std::size_t rows = 0;
      t->Scan({}, [&](RowId, const Row& row) {
        got += FormatTsvRow(row) + "\n";
        ++rows;
        return true;
      });
      EXPECT_EQ(got, testing::ReadAll(expected / (name + ".tsv")));
      EXPECT_EQ(rows, t->RecordedRowCount());
      ++tables;
    }
  }
  EXPECT_EQ(tables, 40);
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
    auto db = Database::Open(file.string(), {.password = "Morvek3"});
    for (const std::string& problem : CheckIntegrity(*db)) ADD_FAILURE() << file << ": " << problem;
    for (const auto& name : db->TableNames()) {
      Table* t = db->GetTable(name);
      std::map<RowId, Row> rows;
      t->Scan({}, [&](RowId id, const Row& r) {
        rows[id] = r;
        return true;
      });
      for (const auto& index : t->Indexes()) {
        SCOPED_TRACE(file.string() + " " + name + " index " + index.name);
        const std::vector<RowId> ids = t->IndexRowIds(index);
        bool comparable = std::all_of(index.columns.begin(), index.columns.end(), [&](const IndexInfo::Column& c) {
          return Comparable(t->Columns()[c.position].type);
        });
        for (std::size_t i = 1; comparable && i < ids.size(); ++i) {
          const Row& a = rows.at(ids[i - 1]);
          const Row& b = rows.at(ids[i]);
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
