#pragma once
// Tables held in memory behind the interface the SQL layer sees, recording how they are
// used (scans, the columns asked for, deletes) so that tests can check the layer's
// manners as well as its answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../support.h"
#include "jet/datetime.h"
#include "jet/error.h"
#include "jet/format/text.h"
#include "jet/sql.h"
#include "jet/table_source.h"
#include "jet/value.h"

namespace jet::sqltest {

class MemoryTable : public TableSource {
 public:
  MemoryTable(std::string name, std::vector<ColumnInfo> columns) : name_(std::move(name)), columns_(std::move(columns)) {}

  const std::string& Name() const override { return name_; }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  void Add(Row row) {
    row.resize(columns_.size());
    rows_.emplace_back(RowId{next_page_++, 0}, std::move(row));
  }

  void Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) override {
    ++scans;
    last_wanted = wanted;
    // Snapshot first: a statement may not see its own changes mid-scan.
    auto snapshot = rows_;
    for (auto& [id, row] : snapshot) {
      // Unwanted columns come back NULL, as a storage layer is free to leave them.
      for (std::size_t k = 0; k < row.size() && k < wanted.size(); ++k)
        if (!wanted[k]) row[k] = Value::Null();
      if (!visit(id, row)) return;
    }
  }

  std::int64_t DeleteRows(const std::vector<RowId>& ids) override {
    ++delete_calls;
    for (RowId id : ids)
      if (std::none_of(rows_.begin(), rows_.end(), [&](const auto& r) { return r.first == id; }))
        throw Error(ErrorCode::Corrupt, "no row " + std::to_string(id.Raw()) + " in " + name_);
    auto before = rows_.size();
    std::erase_if(rows_, [&](const auto& r) { return std::find(ids.begin(), ids.end(), r.first) != ids.end(); });
    return static_cast<std::int64_t>(before - rows_.size());
  }

  void InsertRow(const Row& values, const std::function<void(std::size_t)>&) override { Add(values); }

  std::size_t Size() const { return rows_.size(); }
  const Row& RowAt(std::size_t k) const { return rows_.at(k).second; }

  int scans = 0, delete_calls = 0;
  std::vector<bool> last_wanted;

 private:
  std::string name_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::pair<RowId, Row>> rows_;
  std::uint32_t next_page_ = 1;
};

class MemorySchema : public Schema {
 public:
  MemoryTable& Add(std::string name, std::vector<ColumnInfo> columns) {
    return *tables_.emplace_back(std::make_unique<MemoryTable>(std::move(name), std::move(columns)));
  }
  TableSource* FindTable(std::string_view name) override {
    for (auto& t : tables_)
      if (SameName(t->Name(), name)) return t.get();
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<MemoryTable>> tables_;
};

// Expects `command` to fail with `code` and a description that contains `fragment`.
inline void ExpectRefused(Schema& schema, const std::string& command, ErrorCode code, const std::string& fragment = "",
                          const sql::ExecuteOptions& options = {}) {
  SCOPED_TRACE(command);
  testing::ExpectJetError(code, fragment, [&] { sql::Execute(schema, command, options); });
}

inline Value Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return Value::DateValue(ToJetDate({y, mo, d, h, mi, s}));
}

}  // namespace jet::sqltest
