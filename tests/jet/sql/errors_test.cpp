// What the layer refuses, and how it says so: syntax errors at their position, constructs
// outside the language, grouping mistakes, unknown names, and the timeout.

#include <gtest/gtest.h>

#include "jet/sql.h"
#include "jet/sql/memory_schema.h"

namespace jet::sqltest {
namespace {

class SqlRefusals : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = &schema_.Add("T", {{"id", ColumnType::Long}, {"name", ColumnType::Text}});
    table_->Add({Value::Int(1), Value::Str("a")});
    schema_.Add("U", {{"ref", ColumnType::Long}, {"extra", ColumnType::Long}});
  }

  MemorySchema schema_;
  MemoryTable* table_ = nullptr;
};

TEST_F(SqlRefusals, SyntaxErrorsAndConstructsOutsideTheLanguageNameTheirPosition) {
  const struct {
    const char* command;
    int position;
    const char* what;
  } cases[] = {
      {"SELECT id T", 11, "expected FROM"},
      {"DELETE FROM", 12, "expected a table name"},
      {"DELETE FROM T WHERE", 20, "expected an expression"},
      {"", 1, "expected SELECT, DELETE or INSERT"},
      {"SELECT * FROM T WHERE name = 'abc", 30, "no closing quote"},
      {"SELECT * FROM [T WHERE id = 1", 15, "no closing ]"},
      {"SELECT * FROM [] WHERE id = 1", 15, "empty name"},
      {"SELECT * FROM T WHERE id = 1 UNION SELECT * FROM U", 30, "expected end of command"},
      {"SELECT * FROM T; SELECT * FROM T", 18, "expected end of command"},
      {"SELECT * FROM T WHERE (id = 1", 30, "expected )"},
      {"SELECT * FROM T WHERE id IS 1", 29, "expected NULL"},
      {"SELECT * FROM T WHERE id BETWEEN 1 OR 2", 36, "expected AND"},
      {"SELECT * FROM T WHERE id != 1", 26, "unexpected character '!'"},
      {"SELECT * FROM T WHERE id = 12abc", 28, "malformed number"},
      {"SELECT * FROM T WHERE id = 1e999", 28, "number out of range"},
      {"SELECT * FROM T WHERE id = 1 + 2", 30, "expected end of command"},
      {"SELECT * FROM T WHERE name = '\xC3\xA9\xC3\xA9' @", 35, "unexpected character '@'"},  // characters, not bytes
      {"UPDATE T SET id = 2", 1, "not supported"},
      {"SELECT DISTINCT id FROM T", 8, "DISTINCT"},
      {"SELECT TOP 0 id FROM T", 12, "TOP needs a whole number"},
      {"SELECT TOP 5 PERCENT id FROM T", 14, "PERCENT"},
      {"SELECT id FROM T, U", 17, "only one table"},
      {"SELECT id FROM T INNER JOIN U ON T.id = U.ref", 18, "only one table"},
      {"SELECT SUM(id) FROM T", 8, "function SUM"},
      {"SELECT Month(id, id) FROM T", 16, "takes one argument"},
      {"SELECT id FROM T WHERE id IN (SELECT ref, extra FROM U)", 30, "one column"},
      {"INSERT INTO T SELECT * FROM U", 15, "expected VALUES"},
      {"SELECT * FROM T GROUP BY id", 8, "'*'"},
      {"SELECT id FROM T WHERE COUNT(*) > 1", 24, "COUNT cannot be used in the WHERE clause"},
      {"SELECT id FROM T GROUP BY MIN(id)", 27, "MIN cannot be used in the GROUP BY clause"},
      {"SELECT MAX(MIN(id)) FROM T", 12, "argument of an aggregate function"},
      {"SELECT id FROM T WHERE id IN (SELECT COUNT(*) FROM U)", 38, "subquery"},
      {"SELECT id, name FROM T ORDER BY 3", 33, "ORDER BY 3 names no column: the query shows 2 columns"},
  };
  for (const auto& c : cases) {
    ExpectRefused(schema_, c.command, ErrorCode::Syntax,
                  "Syntax error in the command at position " + std::to_string(c.position) + ":");
    ExpectRefused(schema_, c.command, ErrorCode::Syntax, c.what);
  }
  // A subquery that looks at the outer row would need running once per row.
  ExpectRefused(schema_, "SELECT id FROM T WHERE id IN (SELECT ref FROM U WHERE extra = T.id)", ErrorCode::Unsupported);
  ExpectRefused(schema_, "SELECT id FROM T WHERE id IN (SELECT ref FROM U WHERE name = 'a')", ErrorCode::Unsupported);
}

// A grouped query shows only what each group has one value of.
TEST_F(SqlRefusals, GroupingMistakesNameTheExpressionAndClause) {
  for (auto [command, what] : std::initializer_list<std::pair<const char*, const char*>>{
           {"SELECT id, COUNT(*) FROM T", "'id' as part of an aggregate function (select list, position 8)"},
           {"SELECT name, MAX(id) FROM T GROUP BY id", "'name' as part of an aggregate function (select list"},
           {"SELECT COUNT(*) FROM T ORDER BY T.id", "'T.id' as part of an aggregate function (ORDER BY clause"},
           {"SELECT id FROM T GROUP BY id HAVING name = 'a'", "'name' as part of an aggregate function (HAVING"},
           {"SELECT Year(id) FROM T GROUP BY Month(id)", "'id' as part of an aggregate function (select list"},
       })
    ExpectRefused(schema_, command, ErrorCode::Syntax, std::string("does not include the specified expression ") + what);
  ExpectRefused(schema_, "SELECT Year(name) FROM T", ErrorCode::TypeMismatch,
                "text that is not a date in Year() at position 13");
}

TEST_F(SqlRefusals, UnknownNamesAreNamedBeforeAnythingIsRead) {
  ExpectRefused(schema_, "DELETE FROM Nowhere WHERE id = 1", ErrorCode::UnknownTable, "'Nowhere'");
  ExpectRefused(schema_, "DELETE FROM T WHERE [Valid] = 0", ErrorCode::UnknownColumn, "'Valid' does not exist in table 'T'");
  ExpectRefused(schema_, "SELECT nothing FROM T", ErrorCode::UnknownColumn);
  ExpectRefused(schema_, "SELECT id FROM T ORDER BY nothing", ErrorCode::UnknownColumn,
                "'nothing' does not exist in table 'T' (in the ORDER BY clause)");
  ExpectRefused(schema_, "SELECT X.id FROM T", ErrorCode::UnknownColumn);
  ExpectRefused(schema_, "SELECT id FROM T WHERE id IN (SELECT nothing FROM U)", ErrorCode::UnknownColumn);
  ExpectRefused(schema_, "SELECT id FROM T WHERE id IN (SELECT ref FROM Nowhere)", ErrorCode::UnknownTable);
  EXPECT_EQ(table_->scans, 0);
  EXPECT_EQ(table_->delete_calls, 0);
}

TEST_F(SqlRefusals, NestingIsBoundedAndLongChainsAreFine) {
  ExpectRefused(schema_, "SELECT id FROM T WHERE " + std::string(5000, '(') + "id = 1" + std::string(5000, ')'),
                ErrorCode::Syntax);
  ExpectRefused(schema_, "SELECT id FROM T WHERE " + std::string(5000, '-') + "id = 1", ErrorCode::Syntax);
  std::string chain = "SELECT id FROM T WHERE id = 0";
  for (int k = 1; k < 5000; ++k) chain += " OR id = " + std::to_string(k) + " AND id <> 7";
  EXPECT_EQ(sql::Execute(schema_, chain).rows.size(), 1u);
}

TEST_F(SqlRefusals, TimeoutStopsTheStatement) {
  for (int k = 2; k < 10000; ++k) table_->Add({Value::Int(k), Value::Str("x")});
  sql::ExecuteOptions options;
  options.timeout_seconds = 1e-9;
  ExpectRefused(schema_, "SELECT id FROM T WHERE name = 'x'", ErrorCode::Timeout, "", options);
  ExpectRefused(schema_, "DELETE FROM T", ErrorCode::Timeout, "", options);
  EXPECT_EQ(table_->delete_calls, 0);
  EXPECT_EQ(table_->Size(), 9999u);
  options.timeout_seconds = 3600;
  EXPECT_EQ(sql::Execute(schema_, "DELETE FROM T WHERE id > 5000", options).affected, 4999);
}

}  // namespace
}  // namespace jet::sqltest
