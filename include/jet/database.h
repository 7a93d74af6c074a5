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
// completely or not at all (jet::Session wraps this per SQL statement). Without
// BeginStatement each DeleteRows or InsertRow is a statement of its own.
//
// The engine's public headers are the files of include/jet/, the only ones its users (the
// job, the tools, benchmarks, fuzzers) include; everything under src/jet/ is the engine's
// own, checked by the include-rules test.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/table_source.h"
#include "jet/version.h"

namespace jet {

namespace os {
class Env;
}

struct OpenOptions {
  std::string password;     // checked against the database password, if the file has one
  bool read_write = false;  // open for changes (an exclusive lock on the file while open)
  // Bytes of changed pages a statement keeps in memory before writing them to the file
  // early (journaled first); 0 takes the default of 16 MiB.
  std::size_t change_memory = 0;
  // The file system the database is reached through; null: the system's own.
  os::Env* env = nullptr;
};

class Table : public TableSource {
 public:
  // TableSource: Name, Columns, Scan, DeleteWhere (DeleteRows for the rows that match), and
  // DeleteRows: deletes live rows (ids from Scan): their long values, their index
  // entries, the rows of other tables that a cascading relationship takes along. Throws
  // jet::Error: Integrity when an enforced relationship still has rows referring to one
  // of them, ReadOnly, Timeout, Corrupt, Io. All or nothing.
  // InsertRow: Jet 4 tables only (Unsupported for Jet 3). Throws Integrity for a
  // duplicate key in a unique index or a reference to a row that does not exist,
  // TypeMismatch for a value the column cannot hold.

  // One live row (ids from Scan or an index). Throws Corrupt when there is no such row.
  virtual Row ReadRow(RowId id, const std::vector<bool>& wanted = {}) = 0;
  // The number of rows the table definition records.
  virtual std::uint32_t RecordedRowCount() const = 0;

  virtual const std::vector<IndexInfo>& Indexes() const = 0;
  const IndexInfo* FindIndex(std::string_view name) const;
  // The rows in the index's key order with their key bytes (memcmp order); `visit`
  // returns false to stop.
  virtual void WalkIndex(const IndexInfo& index,
                         const std::function<bool(RowId, const std::string& key)>& visit) = 0;
  std::vector<RowId> IndexRowIds(const IndexInfo& index);
};

class Database : public Schema {
 public:
  // Throws jet::Error: FileNotFound, AccessDenied, NotJet, Unsupported, Corrupt,
  // WrongPassword, Locked, Io.
  static std::unique_ptr<Database> Open(const std::string& path, const OpenOptions& options = {});
  // The same over bytes in memory; `name` stands for the file in descriptions.
  static std::unique_ptr<Database> OpenBytes(std::string name, std::string bytes, const OpenOptions& options = {});

  // For an administrator, when opening refuses the journal of an interrupted change
  // because the database holds data that change did not write: once the journal is found
  // intact, keeps a copy of the database and of the journal ("<file>.before-restore",
  // "<file>-journal.before-restore", beside the real file, never over anything), then
  // writes back every original the journal holds whatever the database holds now, and
  // removes the journal. Returns the copies' paths. Throws jet::Error like Open, and
  // FileNotFound without a journal, Corrupt for a damaged one, changing nothing then.
  struct RestoreCopies {
    std::string database, journal;
  };
  static RestoreCopies RestoreJournal(const std::string& path, const OpenOptions& options = {});

  // Schema: user and system tables, by name without regard to case.
  TableSource* FindTable(std::string_view name) override { return GetTable(name); }
  virtual Table* GetTable(std::string_view name) = 0;

  // Table names in catalogue order.
  virtual std::vector<std::string> TableNames(bool include_system = false) const = 0;
  virtual const std::vector<RelationshipInfo>& Relationships() = 0;

  virtual const std::string& path() const = 0;
  virtual JetVersion version() const = 0;
  virtual std::uint16_t code_page() const = 0;
  virtual std::uint32_t sort_order() const = 0;
  virtual std::uint32_t database_key() const = 0;
  virtual double creation_date() const = 0;
  virtual bool has_password() const = 0;
  virtual bool writable() const = 0;

  // Statements. BeginStatement starts one (changes come with the first DeleteRows or
  // InsertRow); CommitStatement makes its changes durable; RollbackStatement undoes
  // them and never throws (should undoing fail, the database refuses further work and
  // the journal is played back at the next opening). `timeout_seconds` <= 0: no limit.
  virtual void BeginStatement(double timeout_seconds = 0) = 0;
  virtual void CommitStatement() = 0;
  virtual void RollbackStatement() noexcept = 0;
};

}  // namespace jet
