#pragma once
// What the SQL layer sees of a database: tables by name, their columns, and their rows
// in scan order. The storage layers implement it; tests implement it in memory. Also the
// descriptions of indexes and relationships that jet::Database hands out.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/datetime.h"
#include "jet/error.h"
#include "jet/value.h"

namespace jet {

struct ColumnInfo {
  std::string name;
  ColumnType type = ColumnType::Long;
  bool autonumber = false;
};

struct IndexInfo {
  struct Column {
    std::string name;
    std::size_t position = 0;  // in the table's Columns()
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

// A relationship as the file records it (MSysRelationships), by the names of its tables
// and columns.
struct RelationshipInfo {
  std::string name;
  std::string primary_table;  // the referenced ("one") side
  std::vector<std::string> primary_columns;
  std::string foreign_table;  // the referencing ("many") side
  std::vector<std::string> foreign_columns;
  bool enforced = false;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

// Where a row lives: a data page and the row's number (its slot) on that page; ordered by
// page, then row, which is scan order. Tables, long values and usage maps store it in four
// bytes, the row number in the low byte and the page above it; index entries store it
// their own way (format/index_page.h). Opaque to the SQL layer, which only hands it back
// to the table.
struct RowId {
  std::uint32_t page = 0;
  std::uint8_t row = 0;
  static RowId FromRaw(std::uint32_t raw) { return {raw >> 8, static_cast<std::uint8_t>(raw & 0xFF)}; }
  std::uint32_t Raw() const { return (page << 8) | row; }
  bool IsNull() const { return page == 0 && row == 0; }
  friend bool operator==(RowId, RowId) = default;
  friend auto operator<=>(RowId, RowId) = default;
};

// One Date/Time column compared with a constant: a condition the engine's tables can test
// on a stored row without turning it into values. A NULL never satisfies it.
struct DateComparison {
  enum class Op { Eq, Ne, Lt, Le, Gt, Ge };
  std::size_t column = 0;  // in the table's Columns()
  Op op = Op::Eq;
  double constant = 0;  // a date as Jet stores it

  bool Holds(double stored) const {
    const int c = CompareJetDates(stored, constant);
    switch (op) {
      case Op::Eq: return c == 0;
      case Op::Ne: return c != 0;
      case Op::Lt: return c < 0;
      case Op::Le: return c <= 0;
      case Op::Gt: return c > 0;
      case Op::Ge: return c >= 0;
    }
    return false;
  }
};

class TableSource {
 public:
  virtual ~TableSource() = default;
  virtual const std::string& Name() const = 0;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Visits every live row in scan order. Columns whose `wanted` flag is false may be left
  // NULL (an empty `wanted` asks for every column). `visit` returns false to stop early.
  virtual void Scan(const std::vector<bool>& wanted,
                    const std::function<bool(RowId, const Row&)>& visit) = 0;

  // Deletes the rows (ids from Scan of this table), enforcing the table's relationships;
  // returns how many rows went. All or nothing. Tables that cannot change refuse.
  virtual std::int64_t DeleteRows(const std::vector<RowId>& ids) {
    (void)ids;
    throw Error(ErrorCode::ReadOnly, "Table '" + Name() + "' cannot be changed");
  }
  // Deletes the rows for which `matches` holds (given each row with the columns of
  // `wanted`, as Scan gives it): every row is judged before any goes, then all go or
  // none, as DeleteRows. Returns how many rows went. The engine's tables hold the chosen
  // rows in memory bounded by the file's size, not by how many match. `same`, when given,
  // holds of exactly the rows `matches` holds of: a table may test it instead.
  virtual std::int64_t DeleteWhere(const std::vector<bool>& wanted, const std::function<bool(const Row&)>& matches,
                                   const DateComparison* same = nullptr) {
    (void)same;
    std::vector<RowId> ids;
    Scan(wanted, [&](RowId id, const Row& row) {
      if (matches(row)) ids.push_back(id);
      return true;
    });
    return DeleteRows(ids);
  }
  // Appends one row, values in column order (NULL for an autonumber takes the next
  // number), each made what its column stores by one rule (jet/row/cell.h). When value k
  // does not fit its column's type or range, `misfit(k)` is called first: it may throw an
  // error of its own, saying where the value came from.
  virtual void InsertRow(const Row& values, const std::function<void(std::size_t)>& misfit = {}) {
    (void)values;
    (void)misfit;
    throw Error(ErrorCode::ReadOnly, "Table '" + Name() + "' cannot be changed");
  }
};

class Schema {
 public:
  virtual ~Schema() = default;
  // The table of that name, matched without regard to letter case; nullptr if none.
  virtual TableSource* FindTable(std::string_view name) = 0;
  // Throws jet::Error(Timeout) once the statement the schema is running has passed its
  // deadline (a database's, set when the statement began); a schema that runs no
  // statements of its own has none.
  virtual void CheckStatementDeadline() const {}
};

}  // namespace jet
