// A second opinion: Debian's mdbtools (mdb-export) reads the same rows from every
// fixture table. Formats differ (numbers, booleans, binary), so both sides are brought
// to one form first; rows are compared as sorted lists because mdbtools reports a moved
// row where its data lies rather than at its original slot.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "jet/database.h"
#include "jet/tsv.h"
#include "support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::FixturesDir;

const char* kMdbExport = "/usr/bin/mdb-export";
const char kNull = '\x01';

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buf[65536];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  pclose(pipe);
  return out;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i)
    if (i == s.size() || s[i] == sep) {
      parts.push_back(s.substr(start, i - start));
      start = i + 1;
    }
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

TEST(Mdbtools, SameRowsAsTheEngine) {
  JET_REQUIRE_FIXTURES();
  if (access(kMdbExport, X_OK) != 0) GTEST_SKIP() << "mdbtools is not installed";
  int tables = 0;
  for (const char* folder : {"access", "site-small", "site-ri"}) {
    for (const auto& entry : fs::directory_iterator(FixturesDir() / folder)) {
      if (entry.path().extension() != ".mdb") continue;
      auto db = Database::Open(entry.path().string(), {.password = "Morvek3"});
      for (const auto& name : db->TableNames()) {
        SCOPED_TRACE(entry.path().string() + " " + name);
        Table* t = db->GetTable(name);
        const auto& columns = t->Columns();
        std::vector<std::string> ours;
        t->Scan({}, [&](RowId, const Row& row) {
          std::string line;
          for (std::size_t i = 0; i < row.size(); ++i) line += FromEngine(row[i], columns[i].type) + "\t";
          ours.push_back(line);
          return true;
        });

        std::string out = Capture(std::string(kMdbExport) + " -d '\\t' -Q -e -0 '" + kNull +
                              "' -b hex -B -T '%Y-%m-%d %H:%M:%S' '" + entry.path().string() + "' '" + name + "'");
        std::vector<std::string> lines = Split(out, '\n');
        if (!lines.empty() && lines.back().empty()) lines.pop_back();
        ASSERT_FALSE(lines.empty());
        std::vector<std::string> header = Split(lines[0], '\t');
        ASSERT_EQ(header.size(), columns.size());
        for (std::size_t i = 0; i < header.size(); ++i) EXPECT_EQ(header[i], columns[i].name);
        std::vector<std::string> theirs;
        for (std::size_t l = 1; l < lines.size(); ++l) {
          std::vector<std::string> fields = Split(lines[l], '\t');
          ASSERT_EQ(fields.size(), columns.size()) << lines[l];
          std::string line;
          for (std::size_t i = 0; i < fields.size(); ++i) line += FromMdbtools(fields[i], columns[i].type) + "\t";
          theirs.push_back(line);
        }
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_EQ(ours.size(), theirs.size());
        EXPECT_EQ(ours, theirs);
        ++tables;
      }
    }
  }
  EXPECT_EQ(tables, 39);
}

}  // namespace
}  // namespace jet
