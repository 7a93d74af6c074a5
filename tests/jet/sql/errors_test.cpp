// What the layer refuses, and how it says so: syntax errors at their position,
// unknown names, constructs outside the language, and the timeout.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"

namespace jet::sqltest {
namespace {

class SqlRefusals : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = &schema_.Add("T", {{"id", ColumnType::Long}, {"name", ColumnType::Text}});
    table_->Add({Value::Int(1), Value::Str("a")});
    other_ = &schema_.Add("U", {{"ref", ColumnType::Long}, {"extra", ColumnType::Long}});
  }

  std::pair<ErrorCode, std::string> Refused(const std::string& command, const sql::ExecuteOptions& options = {}) {
    return Refusal(schema_, command, options);
  }

  void ExpectSyntax(const std::string& command, int position, const std::string& what = "") {
    auto [code, message] = Refused(command);
    EXPECT_EQ(code, ErrorCode::Syntax) << command << ": " << message;
    EXPECT_NE(message.find("Syntax error in the command at position " + std::to_string(position) + ":"),
              std::string::npos)
        << command << ": " << message;
    EXPECT_NE(message.find(what), std::string::npos) << command << ": " << message;
  }

  MemorySchema schema_;
  MemoryTable* table_ = nullptr;
  MemoryTable* other_ = nullptr;
};

TEST_F(SqlRefusals, SyntaxErrorsNameTheirPosition) {
  ExpectSyntax("SELECT id T", 11, "expected FROM");
  ExpectSyntax("DELETE FROM", 12, "expected a table name");
  ExpectSyntax("DELETE FROM T WHERE", 20, "expected an expression");
  ExpectSyntax("", 1, "expected SELECT, DELETE or INSERT");
  ExpectSyntax("SELECT * FROM T WHERE name = 'abc", 30, "no closing quote");
  ExpectSyntax("SELECT * FROM [T WHERE id = 1", 15, "no closing ]");
  ExpectSyntax("SELECT * FROM [] WHERE id = 1", 15, "empty name");
  ExpectSyntax("SELECT * FROM T WHERE id = 1 UNION SELECT * FROM U", 30, "expected end of command");
  ExpectSyntax("SELECT * FROM T; SELECT * FROM T", 18, "expected end of command");
  ExpectSyntax("SELECT * FROM T WHERE (id = 1", 30, "expected )");
  ExpectSyntax("SELECT * FROM T WHERE id IS 1", 29, "expected NULL");
  ExpectSyntax("SELECT * FROM T WHERE id NOT 1", 26, "expected end of command");
  ExpectSyntax("SELECT * FROM T WHERE id BETWEEN 1 OR 2", 36, "expected AND");
  ExpectSyntax("SELECT * FROM T WHERE id != 1", 26, "unexpected character '!'");
  ExpectSyntax("SELECT * FROM T WHERE id = 12abc", 28, "malformed number");
  ExpectSyntax("SELECT * FROM T WHERE id = 1e999", 28, "number out of range");
  ExpectSyntax("SELECT * FROM T WHERE id = 1 + 2", 30, "expected end of command");
  // Positions count characters, not bytes.
  ExpectSyntax("SELECT * FROM T WHERE name = '\xC3\xA9\xC3\xA9' @", 35, "unexpected character '@'");
}

TEST_F(SqlRefusals, ConstructsOutsideTheLanguage) {
  ExpectSyntax("UPDATE T SET id = 2", 1, "not supported");
  ExpectSyntax("SELECT DISTINCT id FROM T", 8, "DISTINCT");
  ExpectSyntax("SELECT TOP 0 id FROM T", 12, "TOP needs a whole number");
  ExpectSyntax("SELECT TOP 5 PERCENT id FROM T", 14, "PERCENT");
  ExpectSyntax("SELECT id FROM T, U", 17, "only one table");
  ExpectSyntax("SELECT id FROM T INNER JOIN U ON T.id = U.ref", 18, "only one table");
  ExpectSyntax("SELECT SUM(id) FROM T", 8, "function SUM");
  ExpectSyntax("SELECT Year() FROM T", 13, "takes one argument");
  ExpectSyntax("SELECT Month(id, id) FROM T", 16, "takes one argument");
  ExpectSyntax("SELECT id FROM T WHERE id IN (SELECT ref, extra FROM U)", 30, "one column");
  ExpectSyntax("SELECT id FROM T WHERE id IN (SELECT * FROM U)", 30, "one column");
  ExpectSyntax("INSERT INTO T SELECT * FROM U", 15, "expected VALUES");
  // A subquery that looks at the outer row would need running once per row.
  EXPECT_EQ(Refused("SELECT id FROM T WHERE id IN (SELECT ref FROM U WHERE extra = T.id)").first,
            ErrorCode::Unsupported);
  EXPECT_EQ(Refused("SELECT id FROM T WHERE id IN (SELECT ref FROM U WHERE name = 'a')").first,
            ErrorCode::Unsupported);
}

// A grouped query shows only what each group has one value of; aggregates stand only
// where groups exist.
TEST_F(SqlRefusals, GroupingMistakesNameTheExpressionAndClause) {
  for (auto [command, what] : std::initializer_list<std::pair<const char*, const char*>>{
           {"SELECT id, COUNT(*) FROM T", "'id' as part of an aggregate function (select list, position 8)"},
           {"SELECT name, MAX(id) FROM T GROUP BY id", "'name' as part of an aggregate function (select list"},
           {"SELECT COUNT(*) FROM T ORDER BY T.id", "'T.id' as part of an aggregate function (ORDER BY clause"},
           {"SELECT id FROM T GROUP BY id HAVING name = 'a'", "'name' as part of an aggregate function (HAVING"},
           {"SELECT Year(id) FROM T GROUP BY Month(id)", "'id' as part of an aggregate function (select list"},
       }) {
    auto [code, message] = Refused(command);
    EXPECT_EQ(code, ErrorCode::Syntax) << command;
    EXPECT_NE(message.find("does not include the specified expression " + std::string(what)), std::string::npos)
        << command << ": " << message;
  }
  ExpectSyntax("SELECT * FROM T GROUP BY id", 8, "'*'");
  ExpectSyntax("SELECT id FROM T WHERE COUNT(*) > 1", 24, "COUNT cannot be used in the WHERE clause");
  ExpectSyntax("SELECT id FROM T GROUP BY MIN(id)", 27, "MIN cannot be used in the GROUP BY clause");
  ExpectSyntax("SELECT MAX(MIN(id)) FROM T", 12, "argument of an aggregate function");
  ExpectSyntax("SELECT id FROM T WHERE id IN (SELECT COUNT(*) FROM U)", 38, "subquery");
  ExpectSyntax("SELECT id, name FROM T ORDER BY 3", 33, "ORDER BY 3 names no column: the query shows 2 columns");
  auto [code, message] = Refused("SELECT Year(name) FROM T");
  EXPECT_EQ(code, ErrorCode::TypeMismatch);
  EXPECT_NE(message.find("text that is not a date in Year() at position 13"), std::string::npos) << message;
}

TEST_F(SqlRefusals, UnknownNamesAreNamed) {
  auto [code, message] = Refused("DELETE FROM Nowhere WHERE id = 1");
  EXPECT_EQ(code, ErrorCode::UnknownTable);
  EXPECT_NE(message.find("'Nowhere'"), std::string::npos) << message;
  std::tie(code, message) = Refused("SELECT id FROM T WHERE [Valid] = 0");
  EXPECT_EQ(code, ErrorCode::UnknownColumn);
  EXPECT_NE(message.find("'Valid'"), std::string::npos) << message;
  EXPECT_NE(message.find("'T'"), std::string::npos) << message;
  EXPECT_EQ(Refused("SELECT nothing FROM T").first, ErrorCode::UnknownColumn);
  std::tie(code, message) = Refused("SELECT id FROM T ORDER BY nothing");
  EXPECT_EQ(code, ErrorCode::UnknownColumn);
  EXPECT_NE(message.find("'nothing' does not exist in table 'T' (in the ORDER BY clause)"), std::string::npos);
  EXPECT_EQ(Refused("SELECT X.id FROM T").first, ErrorCode::UnknownColumn);
  EXPECT_EQ(Refused("SELECT id FROM T WHERE id IN (SELECT nothing FROM U)").first, ErrorCode::UnknownColumn);
  EXPECT_EQ(Refused("SELECT id FROM T WHERE id IN (SELECT ref FROM Nowhere)").first, ErrorCode::UnknownTable);
  // Nothing was scanned or deleted on the way.
  EXPECT_EQ(table_->scans, 0);
  EXPECT_EQ(table_->delete_calls, 0);
}

TEST_F(SqlRefusals, NestingIsBoundedAndLongChainsAreFine) {
  std::string deep = "SELECT id FROM T WHERE " + std::string(5000, '(') + "id = 1" + std::string(5000, ')');
  EXPECT_EQ(Refused(deep).first, ErrorCode::Syntax);
  EXPECT_EQ(Refused("SELECT id FROM T WHERE " + std::string(5000, '-') + "id = 1").first, ErrorCode::Syntax);
  std::string chain = "SELECT id FROM T WHERE id = 0";
  for (int k = 1; k < 5000; ++k) chain += " OR id = " + std::to_string(k) + " AND id <> 7";
  EXPECT_EQ(sql::Execute(schema_, chain).rows.size(), 1u);
}

TEST_F(SqlRefusals, TimeoutStopsTheStatement) {
  for (int k = 2; k < 10000; ++k) table_->Add({Value::Int(k), Value::Str("x")});
  sql::ExecuteOptions options;
  options.timeout_seconds = 1e-9;
  auto [code, message] = Refused("SELECT id FROM T WHERE name = 'x'", options);
  EXPECT_EQ(code, ErrorCode::Timeout);
  EXPECT_EQ(Refused("DELETE FROM T", options).first, ErrorCode::Timeout);
  EXPECT_EQ(table_->delete_calls, 0);
  EXPECT_EQ(table_->Size(), 9999u);
  options.timeout_seconds = 3600;
  EXPECT_EQ(sql::Execute(schema_, "DELETE FROM T WHERE id > 5000", options).affected, 4999);
}

}  // namespace
}  // namespace jet::sqltest
