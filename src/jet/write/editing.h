#pragma once
// What the editors of tables need of the open database and its tables. The database
// layer above implements these; the editors reach other tables (for relationships) only
// through them, so that this layer never calls upward.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/catalog/catalog.h"
#include "jet/page/table_def.h"
#include "jet/pager/pager.h"
#include "jet/pager/transaction.h"
#include "jet/table/row_placement.h"
#include "jet/table/table_reader.h"
#include "jet/table_source.h"
#include "jet/version.h"

namespace jet::write {

class EditableTable {
 public:
  virtual ~EditableTable() = default;
  virtual const std::string& Name() const = 0;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  virtual void Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) = 0;
  virtual Row ReadRow(RowId id, const std::vector<bool>& wanted) = 0;
  // The stored definition as last read.
  virtual const TableDef& definition() const = 0;
  virtual const TableReader& reader() const = 0;
  virtual bool is_system() const = 0;
  // Where the current statement's inserts place rows; what it remembers lasts until the
  // statement ends.
  virtual RowPlacement& placement() = 0;
};

class EditableDatabase {
 public:
  virtual ~EditableDatabase() = default;
  virtual const std::string& path() const = 0;
  virtual JetVersion version() const = 0;
  virtual std::uint32_t sort_order() const = 0;
  virtual Pager& pager() = 0;
  // The statement's transaction, started on first use. Throws ReadOnly when the file is
  // open for reading only.
  virtual Transaction& Editor() = 0;
  // Throws Timeout, naming `what`, once the statement's time is up.
  virtual void CheckDeadline(const std::string& what) const = 0;
  virtual const std::vector<RelationshipInfo>& Relationships() = 0;
  // A table by name without regard to case; nullptr if none.
  virtual EditableTable* GetTable(std::string_view name) = 0;
};

}  // namespace jet::write
