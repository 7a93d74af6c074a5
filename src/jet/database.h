#pragma once
// A Jet 3 / Jet 4 database file: its tables (rows in scan order, columns, indexes) and
// relationships. Implements the Schema / TableSource interface the SQL layer uses.
//
//   auto db = jet::Database::Open("site.mdb", {.password = "secret"});
//   jet::Table* t = db->GetTable("Log");
//   t->Scan({}, [](jet::RowId id, const jet::Row& row) { ...; return true; });
//
// Every failure is a jet::Error naming the file (and table or column where known).
//
// Opened for writing, the database holds an exclusive lock on the file for as long as it
// is open; opened for reading, a shared one. A change is one statement: everything a
// DeleteRows or InsertRow does between BeginStatement and CommitStatement happens
// completely or not at all (see pager/transaction.h; jet::Session wraps this per SQL
// statement). Without BeginStatement each DeleteRows or InsertRow is a statement of its own.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "jet/catalog/catalog.h"
#include "jet/format/index_page.h"
#include "jet/pager/pager.h"
#include "jet/pager/transaction.h"
#include "jet/table/table_reader.h"
#include "jet/table_source.h"
#include "jet/write/deadline.h"

namespace jet {

struct OpenOptions {
  std::string password;     // checked against the database password, if the file has one
  bool read_write = false;  // open for changes (an exclusive lock on the file while open)
  // Bytes of changed pages a statement keeps in memory before writing them to the file
  // early (journaled first); 0 takes the default of 16 MiB.
  std::size_t change_memory = 0;
  // The file system the database is reached through; null: the system's own.
  os::Env* env = nullptr;
};

struct IndexInfo {
  struct Column {
    std::string name;
    std::size_t position = 0;  // in Table::Columns()
    bool descending = false;
  };
  std::string name;
  std::vector<Column> columns;
  bool primary = false;
  bool unique = false;
  bool required = false;      // no NULLs
  bool ignore_nulls = false;  // NULL keys left out of the index
  bool foreign_key = false;   // belongs to a relationship
  std::size_t real_index = 0;  // physical index; logical indexes may share one
  std::uint32_t root_page = 0;
  // Foreign-key indexes: the other table's definition page and index number.
  std::uint32_t related_table_page = 0;
  std::uint32_t related_index = 0xFFFFFFFF;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

struct RelationshipInfo {
  std::string name;
  std::string primary_table;
  std::vector<std::string> primary_columns;
  std::string foreign_table;
  std::vector<std::string> foreign_columns;
  bool enforced = false;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

class Database;

class Table : public TableSource {
 public:
  const std::string& Name() const override { return reader_->name(); }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  void Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) override;
  // Deletes live rows (ids from Scan): their long values, their index entries, the rows
  // of other tables that a cascading relationship takes along. Throws jet::Error:
  // Integrity when an enforced relationship still has rows referring to one of them,
  // ReadOnly, Timeout, Corrupt, Io. All or nothing.
  std::int64_t DeleteRows(const std::vector<RowId>& ids) override;
  std::int64_t DeleteWhere(const std::vector<bool>& wanted, const std::function<bool(const Row&)>& matches) override;
  // Jet 4 tables only (Unsupported for Jet 3). Throws Integrity for a duplicate key in a
  // unique index or a reference to a row that does not exist, TypeMismatch for a value
  // the column cannot hold.
  void InsertRow(const Row& values) override;

  // One live row (ids from Scan or an index). Throws Corrupt when there is no such row.
  Row ReadRow(RowId id, const std::vector<bool>& wanted = {});
  // The number of rows the table definition records.
  std::uint32_t RecordedRowCount() const { return reader_->def().row_count; }

  const std::vector<IndexInfo>& Indexes() const { return indexes_; }
  const IndexInfo* FindIndex(std::string_view name) const;
  // The rows in the index's key order with their key bytes (memcmp order); `visit`
  // returns false to stop.
  void WalkIndex(const IndexInfo& index, const std::function<bool(RowId, const std::string& key)>& visit);
  std::vector<RowId> IndexRowIds(const IndexInfo& index);

  // The stored definition, for the layers that change tables.
  const TableDef& definition() const { return reader_->def(); }
  const TableReader& reader() const { return *reader_; }
  bool is_system() const { return system_; }

 private:
  friend class Database;
  Table(Database* db, std::unique_ptr<TableReader> reader, bool system);
  void Describe();
  // Reads the definition again after a statement changed or restored it.
  void Reload();

  Database* db_;
  std::unique_ptr<TableReader> reader_;
  bool system_;
  std::vector<ColumnInfo> columns_;
  std::vector<IndexInfo> indexes_;
};

class Database : public Schema {
 public:
  // Throws jet::Error: FileNotFound, AccessDenied, NotJet, Unsupported, Corrupt,
  // WrongPassword, Io.
  static std::unique_ptr<Database> Open(const std::string& path, const OpenOptions& options = {});
  // The same over bytes in memory; `name` stands for the file in descriptions.
  static std::unique_ptr<Database> OpenBytes(std::string name, std::string bytes, const OpenOptions& options = {});
  ~Database() override;

  // Schema: user and system tables, by name without regard to case.
  TableSource* FindTable(std::string_view name) override { return GetTable(name); }
  Table* GetTable(std::string_view name);

  // Table names in catalogue order.
  std::vector<std::string> TableNames(bool include_system = false) const;
  const std::vector<RelationshipInfo>& Relationships();

  const std::string& path() const { return pager_->path(); }
  JetVersion version() const { return pager_->version(); }
  std::uint16_t code_page() const { return pager_->header().code_page; }
  std::uint32_t sort_order() const { return pager_->header().sort_order; }
  std::uint32_t database_key() const { return pager_->header().database_key; }
  double creation_date() const { return pager_->header().creation_date; }
  bool has_password() const { return pager_->header().HasPassword(); }

  Pager& pager() { return *pager_; }
  const Catalog& catalog() const { return *catalog_; }
  bool writable() const { return pager_->writable(); }

  // Statements. BeginStatement starts one (changes come with the first DeleteRows or
  // InsertRow); CommitStatement makes its changes durable; RollbackStatement undoes
  // them and never throws (should undoing fail, the database refuses further work and
  // the journal is played back at the next opening). `timeout_seconds` <= 0: no limit.
  void BeginStatement(double timeout_seconds = 0);
  void CommitStatement();
  void RollbackStatement() noexcept;

  // For the layers that change tables: the statement's transaction (started on first
  // use; ReadOnly when the file is open for reading only), and its deadline.
  Transaction& Editor();
  void CheckDeadline(const std::string& what) const { deadline_.Check(what); }
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
  Database(std::unique_ptr<os::File> file, const OpenOptions& options, os::Env* env = nullptr,
           std::string real_path = {});
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
  std::vector<std::unique_ptr<Table>> tables_;
  bool relationships_loaded_ = false;
  std::vector<RelationshipInfo> relationships_;
};

}  // namespace jet
