#pragma once
// Helpers of the write-path tests: working copies of databases, a table's rows as text,
// checks that every index matches the rows, what other readers see, and a journal of
// events written by the engine's own writer.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../support.h"
#include "jet/database/database_internal.h"
#include "jet/database_writer.h"
#include "jet/integrity.h"
#include "jet/tsv.h"

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

// The engine's integrity check finds nothing wrong.
inline void ExpectConsistent(Table& t) {
  for (const auto& problem : CheckIntegrity(t)) ADD_FAILURE() << problem;
}
inline void ExpectConsistent(Database& db) {
  for (const auto& problem : CheckIntegrity(db)) ADD_FAILURE() << problem;
}

inline bool HaveMdbtools() { return HaveCommand("mdb-export"); }
inline bool HaveMdbReader() { return HaveReadMdb(); }

// The first column of every row mdb-export reads from the table, sorted (NULL as "NULL").
inline std::vector<std::string> MdbExportFirstColumn(const std::string& file, const std::string& table) {
  std::string out = Shell("/usr/bin/mdb-export -H -d '\\t' -Q -0 NULL '" + file + "' '" + table + "' 2>&1");
  std::vector<std::string> values;
  for (std::size_t start = 0, end; start < out.size(); start = end + 1) {
    end = std::min(out.find('\n', start), out.size());
    values.push_back(out.substr(start, std::min(out.find('\t', start), end) - start));
  }
  std::sort(values.begin(), values.end());
  return values;
}

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
  return Shell("cd '" + ReadMdbScript().parent_path().string() + "' && node --input-type=module -e \"" + script +
               "\"" + args + " 2>&1");
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

// mdbtools and mdb-reader both find `rows` rows in the table.
inline void ExpectOtherReadersCount(const std::string& file, const std::string& table, std::size_t rows) {
  if (HaveMdbtools()) {
    EXPECT_EQ(MdbExportFirstColumn(file, table).size(), rows) << "mdb-export, table " << table;
  }
  if (HaveMdbReader()) {
    const std::string counts = "\n" + MdbReaderCounts(file);
    EXPECT_NE(counts.find("\n" + table + " " + std::to_string(rows) + "\n"), std::string::npos) << counts;
  }
}

// A journal of `rows` events written by our own writer at `path` (returned): ID autonumber
// (primary key), an indexed date, a badge (descending index), and a memo that is inline,
// on a long-value page of its own, or spread over several pages.
inline std::string MakeEventDatabase(const std::filesystem::path& path, int rows) {
  create::DatabaseWriter db;
  auto& t = db.AddTable("Log",
                        {{"ID", ColumnType::Long, 0, true},
                         {"Date", ColumnType::DateTime},
                         {"Badge", ColumnType::Text, 20},
                         {"Note", ColumnType::Memo}},
                        {{.name = "PrimaryKey", .columns = {"ID"}, .descending = {}, .primary = true},
                         {.name = "Date", .columns = {"Date"}, .descending = {}},
                         {.name = "Badge", .columns = {"Badge"}, .descending = {true}}});
  for (int k = 0; k < rows; ++k) {
    std::string note = "event " + std::to_string(k);
    if (k % 7 == 0) note += std::string(200, static_cast<char>('a' + k % 26));
    if (k % 997 == 0) note += std::string(9000, 'z');
    t.Append({Value::Null(), Value::DateValue(45000.0 + k * 0.01 + (k % 5 == 0 ? 3.0 : 0.0)),
              k % 9 == 0 ? Value::Null() : Value::Str("B" + std::to_string(k % 500)), Value::Str(note)});
  }
  db.Write(path.string());
  return path.string();
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderContents(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace jet::testing
