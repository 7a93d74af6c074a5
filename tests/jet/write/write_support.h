#pragma once
// Helpers of the write-path tests: working copies of databases, a table's rows as text,
// checks that every index matches the rows, and what other readers see.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/database_internal.h"
#include "jet/integrity.h"
#include "jet/tsv.h"
#include "../support.h"

namespace jet::testing {

// A writable copy of `source` inside `dir`.
inline std::string CopyInto(const std::filesystem::path& source, const TempDir& dir) {
  std::filesystem::path target = dir.path() / source.filename();
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  return target.string();
}

// Rows by id, each as one TSV line.
using RowMap = std::map<RowId, std::string>;

inline RowMap RowsOf(Table& t) {
  RowMap rows;
  t.Scan({}, [&](RowId id, const Row& row) {
    rows.emplace(id, FormatTsvRow(row));
    return true;
  });
  return rows;
}

inline RowMap RowsOf(Database& db, const std::string& table) {
  Table* t = db.GetTable(table);
  EXPECT_NE(t, nullptr) << table;
  return t ? RowsOf(*t) : RowMap{};
}

inline std::multiset<std::string> Lines(const RowMap& rows) {
  std::multiset<std::string> out;
  for (const auto& [id, line] : rows) out.insert(line);
  return out;
}

// Every index of the table leads to exactly the live rows (those an index leaves out
// for NULL keys aside), in key order; the recorded row count matches.
inline void ExpectConsistent(Table& t) {
  for (const auto& problem : CheckIntegrity(t)) ADD_FAILURE() << problem;
}

inline void ExpectConsistent(Database& db) {
  for (const auto& problem : CheckIntegrity(db)) ADD_FAILURE() << problem;
}

inline bool HaveMdbtools() { return HaveCommand("mdb-export"); }

// The first column of every row mdb-export reads from the table, sorted (NULL as "NULL").
inline std::vector<std::string> MdbExportFirstColumn(const std::string& file, const std::string& table) {
  std::string out = Shell("/usr/bin/mdb-export -H -d '\\t' -Q -0 NULL '" + file + "' '" + table + "' 2>&1");
  std::vector<std::string> values;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    values.push_back(line.substr(0, line.find('\t')));
    start = end + 1;
  }
  std::sort(values.begin(), values.end());
  return values;
}

inline std::filesystem::path MdbReaderDir() { return ReadMdbScript().parent_path(); }

inline bool HaveMdbReader() { return HaveReadMdb(); }

// The row count mdb-reader reports for each user table of each file ("name count" lines,
// sorted, after a line with the file's name), or the error it printed. One node process
// for all files: starting it is the slow part.
inline std::string MdbReaderCounts(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string script =
      "import {readFileSync} from 'node:fs'; import M from 'mdb-reader'; const a = process.argv.slice(1);"
      "for (let i = 0; i + 1 < a.length; i += 2) { console.log(a[i]);"
      " const r = new M(readFileSync(a[i]), a[i + 1] ? {password: a[i + 1]} : {});"
      " for (const n of r.getTableNames().sort()) console.log(n + ' ' + r.getTable(n).getData().length); }";
  std::string args;
  for (const auto& [file, password] : files) args += " '" + file + "' '" + password + "'";
  return Shell("cd '" + MdbReaderDir().string() + "' && node --input-type=module -e \"" + script + "\"" + args +
                 " 2>&1");
}

inline std::string MdbReaderCounts(const std::string& file, const std::string& password = "") {
  std::string out = MdbReaderCounts({{file, password}});
  return out.compare(0, file.size() + 1, file + "\n") == 0 ? out.substr(file.size() + 1) : out;
}

// What our engine counts, in the same form.
inline std::string EngineCounts(Database& db) {
  std::vector<std::string> names = db.TableNames();
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& name : names) out += name + " " + std::to_string(RowsOf(db, name).size()) + "\n";
  return out;
}

}  // namespace jet::testing

#include "jet/create/database_writer.h"

namespace jet::testing {

// A journal of `rows` events written by our own writer: ID autonumber (primary key), an
// indexed date, a badge, and a memo that is inline, on a long-value page of its own, or
// spread over several pages.
inline void MakeEventDatabase(const std::string& path, int rows) {
  create::DatabaseWriter db;
  create::IndexSpec pk, date, badge;
  pk.name = "PrimaryKey";
  pk.columns = {"ID"};
  pk.primary = true;
  date.name = "Date";
  date.columns = {"Date"};
  badge.name = "Badge";
  badge.columns = {"Badge"};
  badge.descending = {true};
  auto& t = db.AddTable("Log",
                        {{"ID", ColumnType::Long, 0, true},
                         {"Date", ColumnType::DateTime},
                         {"Badge", ColumnType::Text, 20},
                         {"Note", ColumnType::Memo}},
                        {pk, date, badge});
  for (int k = 0; k < rows; ++k) {
    std::string note = "event " + std::to_string(k);
    if (k % 7 == 0) note += std::string(200, static_cast<char>('a' + k % 26));
    if (k % 997 == 0) note += std::string(9000, 'z');
    t.Append({Value::Null(), Value::DateValue(45000.0 + k * 0.01 + (k % 5 == 0 ? 3.0 : 0.0)),
              k % 9 == 0 ? Value::Null() : Value::Str("B" + std::to_string(k % 500)), Value::Str(note)});
  }
  db.Write(path);
}

}  // namespace jet::testing
