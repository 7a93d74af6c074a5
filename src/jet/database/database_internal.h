#pragma once
// The open database behind jet::Database: the pager, the catalogue, the statement's
// transaction and deadline, and the tables opened so far. The layers that change tables
// see it through write::EditableDatabase; users of the engine only through database.h.

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "jet/catalog/catalog.h"
#include "jet/database.h"
#include "jet/env.h"
#include "jet/pager/pager.h"
#include "jet/pager/transaction.h"
#include "jet/table/table_reader.h"
#include "jet/write/deadline.h"
#include "jet/write/editing.h"

namespace jet {

class OpenDatabase;

class OpenTable final : public Table, public write::EditableTable {
 public:
  OpenTable(OpenDatabase* db, std::unique_ptr<TableReader> reader, bool system);

  const std::string& Name() const override { return reader_->name(); }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  void Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) override;
  std::int64_t DeleteRows(const std::vector<RowId>& ids) override;
  std::int64_t DeleteWhere(const std::vector<bool>& wanted, const std::function<bool(const Row&)>& matches,
                           const DateComparison* same) override;
  void InsertRow(const Row& values, const std::function<void(std::size_t)>& misfit) override;
  Row ReadRow(RowId id, const std::vector<bool>& wanted = {}) override;
  std::uint32_t RecordedRowCount() const override { return reader_->def().row_count; }
  const std::vector<IndexInfo>& Indexes() const override { return indexes_; }
  void WalkIndex(const IndexInfo& index, const std::function<bool(RowId, const std::string& key)>& visit) override;

  const TableDef& definition() const override { return reader_->def(); }
  const TableReader& reader() const override { return *reader_; }
  bool is_system() const override { return system_; }
  RowPlacement& placement() override { return placement_; }
  OpenDatabase& db() const { return *db_; }

  // Reads the definition again after a statement changed or restored it.
  void Reload();

 private:
  void Describe();

  OpenDatabase* db_;
  std::unique_ptr<TableReader> reader_;
  bool system_;
  std::vector<ColumnInfo> columns_;
  std::vector<IndexInfo> indexes_;
  RowPlacement placement_;
};

class OpenDatabase final : public Database, public write::EditableDatabase {
 public:
  OpenDatabase(std::unique_ptr<os::File> file, const OpenOptions& options, os::Env* env = nullptr,
               std::string real_path = {});
  ~OpenDatabase() override;

  OpenTable* GetTable(std::string_view name) override;
  std::vector<std::string> TableNames(bool include_system = false) const override;
  const std::vector<RelationshipInfo>& Relationships() override;

  const std::string& path() const override { return pager_->path(); }
  JetVersion version() const override { return pager_->version(); }
  std::uint16_t code_page() const override { return pager_->header().code_page; }
  std::uint32_t sort_order() const override { return pager_->header().sort_order; }
  std::uint32_t database_key() const override { return pager_->header().database_key; }
  double creation_date() const override { return pager_->header().creation_date; }
  bool has_password() const override { return pager_->header().HasPassword(); }
  bool writable() const override { return pager_->writable(); }

  void BeginStatement(double timeout_seconds = 0) override;
  void CommitStatement() override;
  void RollbackStatement() noexcept override;

  Pager& pager() override { return *pager_; }
  const Catalog& catalog() const { return *catalog_; }
  Transaction& Editor() override;
  void CheckDeadline(const std::string& what) const override { deadline_.Check(what); }
  void CheckStatementDeadline() const override { deadline_.Check(); }

  // Runs `f` inside the current statement, or inside one of its own when none is open.
  template <class F>
  auto Change(F&& f) -> decltype(f()) {
    if (in_statement_) return Guard(f);
    BeginStatement();
    try {
      if constexpr (std::is_void_v<decltype(f())>) {
        Guard(f);
        CommitStatement();
      } else {
        auto result = Guard(f);
        CommitStatement();
        return result;
      }
    } catch (...) {
      RollbackStatement();
      throw;
    }
  }

  // Runs `f`, turning damage found below into a Corrupt error naming this file.
  template <class F>
  auto Guard(F&& f) -> decltype(f()) {
    try {
      return f();
    } catch (const FormatError& e) {
      throw Error(ErrorCode::Corrupt, "Database '" + path() + "' is damaged: " + e.what());
    }
  }

 private:
  void EndStatement();
  // Reads the table definitions again after a statement changed the file; a failure
  // leaves the reload pending for the next use rather than undoing a committed change.
  void ReloadIfPending();
  void CheckUsable() const;

  std::unique_ptr<Pager> pager_;
  std::unique_ptr<Transaction> transaction_;
  Deadline deadline_;
  std::size_t change_memory_ = 0;
  bool in_statement_ = false;
  bool broken_ = false;  // a rollback failed: the file is not to be trusted until reopened
  bool reload_pending_ = false;
  std::unique_ptr<Catalog> catalog_;
  std::vector<std::unique_ptr<OpenTable>> tables_;
  bool relationships_loaded_ = false;
  std::vector<RelationshipInfo> relationships_;
};

// The engine's own view of what Database::Open and GetTable hand out, for tests that
// look at the stored structures.
inline OpenDatabase& Internal(Database& db) { return static_cast<OpenDatabase&>(db); }
inline OpenTable& Internal(Table& table) { return static_cast<OpenTable&>(table); }

}  // namespace jet
