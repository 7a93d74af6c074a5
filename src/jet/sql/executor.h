#pragma once
// What the SQL layer's statement units share: one statement's runner, which binds names
// to columns, evaluates expressions on rows and reads tables within the deadline. Each
// kind of statement lives in its own unit (select.cpp, change.cpp).

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "jet/sql.h"
#include "jet/sql/ast.h"
#include "jet/sql/like.h"
#include "jet/sql/values.h"
#include "jet/table_source.h"
#include "jet/write/deadline.h"

namespace jet::sql {

// The values of a subquery's column, gathered once per statement.
struct ValueSet {
  struct Hash {
    std::size_t operator()(const Value& v) const { return HashValue(v); }
  };
  struct Equal {
    bool operator()(const Value& a, const Value& b) const {
      return Comparable(CategoryOf(a.kind), CategoryOf(b.kind)) && CompareValues(a, b) == 0;
    }
  };
  std::unordered_set<Value, Hash, Equal> values;
  bool has_null = false;
};

// The table an expression is bound against, and where in the statement it stands.
struct Scope {
  TableSource* table = nullptr;  // nullptr: no table (the values of an INSERT)
  std::string alias;
  const Scope* outer = nullptr;
  std::vector<bool> used;                // the columns the statement reads
  const char* clause = "WHERE clause";   // named in messages about the expression
  bool aggregates = false;               // whether COUNT, MIN and MAX may stand there
};

int FindColumn(const TableSource& t, std::string_view name);
bool NamesTable(const Scope& s, std::string_view qualifier);
bool IsCondition(Category c);
Value Boolean(Truth t);
Truth Negated(Truth t);

// The clock is read once per this many rows: often enough to stop within a fraction of
// a second, rarely enough not to show in a scan.
inline constexpr std::size_t kRowsPerClockCheck = 4096;

class Executor {
 public:
  Executor(Schema& schema, std::string_view command, const ExecuteOptions& options)
      : schema_(schema), command_(command), deadline_(options.timeout_seconds) {}

  Result Run(Statement& statement);

  // ---- binding (bind.cpp): names to columns, subqueries to their values, static type
  // checks. Returns the category of the expression's values.
  Category Bind(Expr& e, Scope& scope);

  // ---- evaluation (evaluate.cpp)
  Value Eval(const Expr& e, const Row& row) const;
  Truth Condition(const Expr& e, const Row& row) const;
  // The value of `e`, without a copy for columns and literals.
  const Value& Operand(const Expr& e, const Row& row, Value& scratch) const;
  int Compare(const Value& a, const Value& b, std::size_t offset) const;

  // ---- tables and failures (sql.cpp)
  TableSource& OpenTable(const TableRef& ref);
  // Visits the rows; the deadline is looked at every few thousand rows, and a failure
  // in `visit` leaves the table's scan before it reaches the caller.
  void ScanTable(TableSource& t, const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit);
  void CheckDeadline() const {
    deadline_.Check();
    schema_.CheckStatementDeadline();
  }
  std::string_view command() const { return command_; }
  std::string Position(std::size_t offset) const;
  [[noreturn]] void Mismatch(std::size_t offset, const std::string& what) const;
  void CheckComparable(std::size_t offset, Category a, Category b) const;
  void CheckCondition(const Expr& e, Category c) const;

 private:
  Category BindColumn(Expr& e, Scope& scope);
  Category BindCall(Expr& e, Scope& scope);
  std::shared_ptr<const LikePattern> CompilePattern(const Value& v, std::size_t offset) const;
  std::pair<std::shared_ptr<const ValueSet>, Category> RunSubquery(SelectStmt& s, Scope& outer);

  Value EvalCall(const Expr& e, const Row& row) const;
  Value EvalCompare(const Expr& e, const Row& row) const;
  Truth CompareTruth(const Expr& e, const Row& row) const;
  Value EvalLogical(const Expr& e, const Row& row) const;
  Truth EvalIn(const Expr& e, const Row& row) const;
  Truth EvalBetween(const Expr& e, const Row& row) const;
  Truth EvalLike(const Expr& e, const Row& row) const;

  Result RunDelete(DeleteStmt& d);
  Result RunInsert(InsertStmt& ins);

  Schema& schema_;
  std::string_view command_;
  Deadline deadline_;
};

// select.cpp
Result RunSelect(Executor& x, SelectStmt& s);

}  // namespace jet::sql
