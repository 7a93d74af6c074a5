#pragma once
// Writes a new Jet 4 database (Access 2000 format) from nothing: the system tables Jet
// creates for an empty database, user tables with their indexes and relationships, and
// rows appended in bulk. Rows go to data pages as they arrive; index pages are built from
// the sorted keys when the file is written.
//
//   jet::create::DatabaseWriter db({.password = "secret"});
//   auto& t = db.AddTable("Log", {{"ID", jet::ColumnType::Long, 0, true}, ...},
//                         {{.name = "PrimaryKey", .columns = {"ID"}, .primary = true}});
//   t.Append({jet::Value::Null(), ...});
//   db.Write("/path/Journal.mdb");

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/schema.h"
#include "jet/value.h"

namespace jet::os {
class Env;
}

namespace jet::create {

struct DatabaseOptions {
  std::string password;  // Jet 4 database password, at most 20 characters; empty for none
  double created = 0;    // creation time (Jet date) stored in the file; 0 takes the current time
  os::Env* env = nullptr;  // where Write creates the file; the system's when null
};

class TableWriter {
 public:
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  const std::string& Name() const;
  // Appends one row, values in column order. NULL in an autonumber column takes the next
  // number; a value there is kept and later numbers continue above it. Throws jet::Error
  // naming the table and column for a value the column cannot hold, a NULL in a required
  // index column, or text an index key cannot encode; the row is then not added.
  void Append(const Row& values);
  std::uint32_t RowCount() const;

 private:
  friend class DatabaseWriter;
  struct State;
  explicit TableWriter(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class DatabaseWriter {
 public:
  explicit DatabaseWriter(DatabaseOptions options = {});
  ~DatabaseWriter();
  DatabaseWriter(const DatabaseWriter&) = delete;
  DatabaseWriter& operator=(const DatabaseWriter&) = delete;

  // Defines a table. Names must be unique (ignoring case); index columns must exist and be
  // of a type that can be a key (numbers, dates, text).
  TableWriter& AddTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                        const std::vector<IndexSpec>& indexes = {});
  // The table of that name (ignoring case); throws jet::Error (UnknownTable) if none.
  TableWriter& Table(std::string_view name);

  // Records a relationship. An enforced one adds a foreign-key index to both tables as
  // Access does (the referring side named like the relationship, the referenced side
  // ".rB", ".rC", ...), needs a unique index on the referenced columns, and must be added
  // before rows are appended to either table. Referring rows must then match a referenced
  // row (or hold NULL); Write checks it.
  void AddRelationship(const RelationshipSpec& relationship);

  // Builds the indexes and the catalogue and saves the file. Once only.
  void Write(const std::string& path);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace jet::create
