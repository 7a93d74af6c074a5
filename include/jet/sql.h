#pragma once
// SQL on a Jet database: the statements the maintenance job sends and those an
// administrator needs to look at a database before a purge.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/table_source.h"
#include "jet/value.h"

namespace jet::sql {

struct Result {
  bool is_query = false;                  // SELECT: the rows below; otherwise `affected`
  std::vector<std::string> column_names;  // as the query names them
  std::vector<Row> rows;
  std::int64_t affected = 0;              // rows deleted or inserted
};

struct ExecuteOptions {
  double timeout_seconds = 0;  // 0: no limit; past it the statement fails with ErrorCode::Timeout
};

// The language, in Jet's own spelling (keywords in any letter case):
//   SELECT [TOP n] *|expr [AS name], ... FROM table [[AS] alias] [WHERE cond]
//          [GROUP BY expr, ...] [HAVING cond] [ORDER BY key [ASC|DESC], ...]
//   DELETE [*] FROM table [WHERE cond]
//   INSERT INTO table [(column, ...)] VALUES (value, ...)
// An ORDER BY key is an expression, an output column's alias, or its position (1 for the
// first). Sorting puts NULL first (last with DESC) and follows the comparisons below;
// TOP n keeps the first n rows and every row that ties with the n-th on all the keys.
// Functions: COUNT(*), COUNT(expr), MIN(expr), MAX(expr) (NULLs skipped; MIN and MAX of no
// values are NULL), and Year(), Month(), Day() of a date (NULL gives NULL). A query with
// an aggregate or GROUP BY returns one row per group (one row in all without GROUP BY),
// ordered by the group's values unless ORDER BY says otherwise; every column it shows
// outside an aggregate must be an expression of the GROUP BY clause.
// Conditions: = <> < <= > >=, AND, OR, NOT, IS [NOT] NULL, [NOT] IN (list) or
// IN (SELECT col FROM table [WHERE cond]), [NOT] BETWEEN a AND b (bounds in either
// order), [NOT] LIKE with * ? # [set] [!set] [a-z], unary minus. Literals: numbers,
// 'text' and "text", #month/day/year [h:mm[:ss] [AM|PM]]# and #year-month-day ...#,
// True/False/Yes/No, NULL. Names bare, [bracketed] or `quoted`, optionally table.column.
//
// NULL follows three-valued logic; a WHERE keeps the rows where the condition is True.
// An IN over an empty subquery is False. Numbers of every type compare by value
// (exactly between integers and fixed-point values), Yes/No as -1 and 0, dates by the
// moment they stand for and with numbers as day counts. Text compares with ASCII
// letters folded to one case and every other byte as it is; text never compares with
// numbers or dates (TypeMismatch). A subquery runs once per statement; scans ask the
// table only for the columns the statement reads.
//
// Parses and runs one statement. Throws jet::Error: Syntax (with the position) for text
// outside the supported language, UnknownTable / UnknownColumn, TypeMismatch, and
// whatever the tables report.
Result Execute(Schema& schema, std::string_view command, const ExecuteOptions& options = {});

}  // namespace jet::sql
