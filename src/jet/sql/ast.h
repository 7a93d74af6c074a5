#pragma once
// The parsed form of a command. Every node keeps the byte offset where it starts so
// that later errors can point into the command.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "jet/value.h"

namespace jet::sql {

class LikePattern;
struct ValueSet;
struct SelectStmt;

enum class CompareOp { Eq, Ne, Lt, Le, Gt, Ge };

// COUNT(*) has no argument; every other function takes one.
enum class Function { CountStar, Count, Min, Max, Year, Month, Day };

inline bool IsAggregate(Function f) {
  return f == Function::CountStar || f == Function::Count || f == Function::Min || f == Function::Max;
}

struct Expr {
  enum class Kind {
    Literal,     // literal
    Column,      // qualifier.name
    Negate,      // -args[0]
    Not,         // NOT args[0]
    And,         // args[0] AND args[1] AND ...
    Or,          // args[0] OR args[1] OR ...
    Compare,     // args[0] op args[1]
    IsNull,      // args[0] IS [NOT] NULL
    InList,      // args[0] [NOT] IN (args[1], ...)
    InSubquery,  // args[0] [NOT] IN (subquery)
    Between,     // args[0] [NOT] BETWEEN args[1] AND args[2]
    Like,        // args[0] [NOT] LIKE args[1]
    Call,        // function(args...): an aggregate or a function of one row
    Slot,        // grouped queries: the group's key or aggregate at `column`
  };

  Kind kind = Kind::Literal;
  std::size_t offset = 0;
  CompareOp op = CompareOp::Eq;
  Function function = Function::CountStar;  // Call
  bool negated = false;
  Value literal;
  std::string qualifier;  // Column: the table named before the dot, if any
  std::string name;       // Column: as written
  std::vector<std::unique_ptr<Expr>> args;
  std::unique_ptr<SelectStmt> subquery;

  // Filled in when the statement is bound to its tables.
  int column = -1;                                 // Column, Slot: index in the row
  std::shared_ptr<const ValueSet> set;             // InSubquery: the subquery's values
  std::shared_ptr<const LikePattern> pattern;      // Like: the pattern when it is constant
};

using ExprPtr = std::unique_ptr<Expr>;

struct TableRef {
  std::string name;
  std::string alias;  // empty when none
  std::size_t offset = 0;
};

struct SelectItem {
  enum class Kind { Expression, AllColumns } kind = Kind::Expression;
  ExprPtr expr;           // Expression
  std::string qualifier;  // AllColumns: t.* names its table
  std::string alias;      // AS name
  std::size_t offset = 0;
};

struct OrderKey {
  ExprPtr expr;
  bool descending = false;
};

struct SelectStmt {
  bool distinct = false;
  std::int64_t top = 0;  // TOP n; 0: every row
  std::vector<SelectItem> items;
  TableRef table;
  ExprPtr where;
  std::vector<ExprPtr> group;
  ExprPtr having;
  std::vector<OrderKey> order;
  std::size_t offset = 0;
};

struct DeleteStmt {
  TableRef table;
  ExprPtr where;
};

struct InsertStmt {
  TableRef table;
  bool has_columns = false;
  std::vector<std::pair<std::string, std::size_t>> columns;  // name and offset
  std::vector<ExprPtr> values;
  std::size_t values_offset = 0;
};

using Statement = std::variant<SelectStmt, DeleteStmt, InsertStmt>;

}  // namespace jet::sql
