// Every user table of every shared fixture reads as its expected TSV and as Debian's
// mdbtools (mdb-export) reads it, and every index walks to exactly the table's rows in
// key order. mdbtools formats differ (numbers, booleans, binary), so both sides are
// brought to one form first; its rows are compared as sorted lists because it reports a
// moved row where its data lies rather than at its original slot.

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

const char kNull = '\x01';

std::vector<fs::path> FixtureFiles() {
  std::vector<fs::path> files;
  if (!fs::is_directory(FixturesDir())) return files;
  for (const char* folder : {"access", "site-small", "site-ri"})
    for (const auto& e : fs::directory_iterator(FixturesDir() / folder))
      if (e.path().extension() == ".mdb") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::istringstream in(s);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  if (!s.empty() && s.back() == sep && sep != '\n') parts.push_back("");
  return parts;
}

std::string Number(long double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6Lg", v == 0 ? 0.0L : v);
  return buf;
}

bool Numeric(ColumnType t) {
  return t == ColumnType::Byte || t == ColumnType::Integer || t == ColumnType::Long || t == ColumnType::Currency ||
         t == ColumnType::Single || t == ColumnType::Double || t == ColumnType::Numeric;
}

// The engine's value in the common form.
std::string FromEngine(const Value& v, ColumnType type) {
  if (v.IsNull()) return "NULL";
  if (Numeric(type)) return Number(std::strtold(FormatTsvValue(v).c_str(), nullptr));
  if (type == ColumnType::Binary || type == ColumnType::Ole) {
    std::string hex = FormatTsvValue(v).substr(2);
    std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
    return hex;
  }
  return FormatTsvValue(v);
}

// mdb-export's field in the common form.
std::string FromMdbtools(const std::string& s, ColumnType type) {
  if (s.size() == 1 && s[0] == kNull) return "NULL";
  if (Numeric(type)) return Number(std::strtold(s.c_str(), nullptr));
  if (type == ColumnType::Boolean) return s == "TRUE" ? "true" : "false";
  return s;
}

// mdb-export's rows of a table in the common form, sorted; its header must name the columns.
std::vector<std::string> MdbtoolsRows(const fs::path& file, const std::string& table,
                                      const std::vector<ColumnInfo>& columns) {
  std::string out = testing::Shell(std::string("mdb-export -d '\\t' -Q -e -0 '") + kNull +
                                   "' -b hex -B -T '%Y-%m-%d %H:%M:%S' " + testing::ShellQuote(file.string()) + " " +
                                   testing::ShellQuote(table));
  std::vector<std::string> lines = Split(out, '\n');
  std::vector<std::string> rows;
  if (lines.empty()) return rows;
  std::vector<std::string> header = Split(lines[0], '\t');
  EXPECT_EQ(header.size(), columns.size());
  for (std::size_t i = 0; i < header.size() && i < columns.size(); ++i) EXPECT_EQ(header[i], columns[i].name);
  for (std::size_t l = 1; l < lines.size(); ++l) {
    std::vector<std::string> fields = Split(lines[l], '\t');
    EXPECT_EQ(fields.size(), columns.size()) << lines[l];
    std::string line;
    for (std::size_t i = 0; i < fields.size() && i < columns.size(); ++i)
      line += FromMdbtools(fields[i], columns[i].type) + "\t";
    rows.push_back(line);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(FixtureRead, EveryUserTableMatchesItsExpectedTsvAndMdbtools) {
  JET_REQUIRE_FIXTURES();
  const bool mdbtools = testing::HaveCommand("mdb-export");
  int tables = 0;
  for (const auto& file : FixtureFiles()) {
    auto db = Database::Open(file.string(), {.password = "Morvek3"});
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
      std::vector<std::string> want = Split(testing::ReadAll(expected / (name + ".tsv")), '\n');
      ASSERT_FALSE(want.empty());
      const auto& columns = t->Columns();
      std::vector<std::string> got, common;
      std::string header;
      for (const auto& c : columns) header += (header.empty() ? "" : "\t") + c.name;
      got.push_back(header);
      t->Scan({}, [&](RowId, const Row& row) {
        got.push_back(FormatTsvRow(row));
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) line += FromEngine(row[i], columns[i].type) + "\t";
        common.push_back(line);
        return true;
      });
      EXPECT_EQ(got, want);
      EXPECT_EQ(got.size() - 1, t->RecordedRowCount());
      if (mdbtools) {
        std::sort(common.begin(), common.end());
        EXPECT_EQ(common, MdbtoolsRows(file, name, columns));
      }
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
