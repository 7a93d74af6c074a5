#pragma once
// Tables held in memory behind the interface the SQL layer sees, recording how they
// are used (scans, projections, deletes) so that tests can check the layer's manners
// as well as its answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/datetime.h"
#include "jet/error.h"
#include "jet/sql/sql.h"
#include "jet/table_source.h"
#include "jet/value.h"

namespace jet::sqltest {

inline bool SameLetters(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

class MemoryTable : public TableSource {
 public:
  MemoryTable(std::string name, std::vector<ColumnInfo> columns) : name_(std::move(name)), columns_(std::move(columns)) {}

  const std::string& Name() const override { return name_; }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  void Add(Row row) {
    row.resize(columns_.size());
    rows_.emplace_back(next_id_++, std::move(row));
  }

  void Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) override {
    ++scans;
    last_wanted = wanted;
    // Snapshot first: a statement may not see its own changes mid-scan.
    auto snapshot = rows_;
    for (auto& [id, row] : snapshot) {
      // Unwanted columns come back NULL, as a storage layer is free to leave them.
      for (std::size_t k = 0; k < row.size(); ++k) {
        if (!wanted.empty() && k < wanted.size() && !wanted[k]) row[k] = Value::Null();
      }
      if (!visit(id, row)) return;
    }
  }

  std::int64_t DeleteRows(const std::vector<RowId>& ids) override {
    ++delete_calls;
    if (read_only) throw Error(ErrorCode::ReadOnly, "Table '" + name_ + "' cannot be changed");
    for (RowId id : ids) {
      if (std::none_of(rows_.begin(), rows_.end(), [&](const auto& r) { return r.first == id; })) {
        throw Error(ErrorCode::Corrupt, "no row " + std::to_string(id) + " in " + name_);
      }
    }
    auto before = rows_.size();
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                               [&](const auto& r) { return std::find(ids.begin(), ids.end(), r.first) != ids.end(); }),
                rows_.end());
    return static_cast<std::int64_t>(before - rows_.size());
  }

  void InsertRow(const Row& values) override {
    if (read_only) throw Error(ErrorCode::ReadOnly, "Table '" + name_ + "' cannot be changed");
    Row row = values;
    row.resize(columns_.size());
    for (std::size_t k = 0; k < columns_.size(); ++k) {
      if (columns_[k].autonumber && row[k].IsNull()) row[k] = Value::Int(++autonumber_);
    }
    Add(std::move(row));
  }

  std::size_t Size() const { return rows_.size(); }
  const Row& RowAt(std::size_t k) const { return rows_.at(k).second; }

  // The values of one column over the live rows, as integers (NULL as -999999).
  std::vector<std::int64_t> Column(std::string_view name) const {
    std::size_t c = 0;
    while (c < columns_.size() && !SameLetters(columns_[c].name, name)) ++c;
    std::vector<std::int64_t> out;
    for (const auto& [id, row] : rows_) out.push_back(row.at(c).IsNull() ? -999999 : row.at(c).i);
    return out;
  }

  int scans = 0;
  int delete_calls = 0;
  bool read_only = false;
  std::vector<bool> last_wanted;

 private:
  std::string name_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::pair<RowId, Row>> rows_;
  RowId next_id_ = 0x100;
  std::int64_t autonumber_ = 0;
};

class MemorySchema : public Schema {
 public:
  MemoryTable& Add(std::string name, std::vector<ColumnInfo> columns) {
    tables_.push_back(std::make_unique<MemoryTable>(std::move(name), std::move(columns)));
    return *tables_.back();
  }
  TableSource* FindTable(std::string_view name) override {
    for (auto& t : tables_) {
      if (SameLetters(t->Name(), name)) return t.get();
    }
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<MemoryTable>> tables_;
};

// The error a command ends in (code and description); a test failure when it succeeds.
inline std::pair<ErrorCode, std::string> Refusal(Schema& schema, const std::string& command,
                                                 const sql::ExecuteOptions& options = {}) {
  try {
    sql::Execute(schema, command, options);
  } catch (const Error& e) {
    return {e.code(), e.what()};
  }
  ADD_FAILURE() << "accepted: " << command;
  return {ErrorCode::Io, ""};
}

inline Value Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  CivilTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  return Value::DateValue(ToJetDate(t));
}

}  // namespace jet::sqltest
