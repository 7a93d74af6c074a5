// Conditions as Jet evaluates them: three-valued logic, comparisons across types,
// LIKE patterns and date literals. Each condition is asked both plain and negated so
// that True, False and NULL can be told apart.

#include <gtest/gtest.h>

#include "jet/sql.h"
#include "jet/sql/memory_schema.h"

namespace jet::sqltest {
namespace {

class SqlExpressions : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& t = schema_.Add("T", {{"id", ColumnType::Long}, {"b", ColumnType::Boolean}, {"i", ColumnType::Integer},
                                {"l", ColumnType::Long}, {"c", ColumnType::Currency}, {"s", ColumnType::Single},
                                {"d", ColumnType::Double}, {"n", ColumnType::Numeric}, {"dt", ColumnType::DateTime},
                                {"dd", ColumnType::DateTime}, {"t", ColumnType::Text}, {"nl", ColumnType::Long},
                                {"tn", ColumnType::Text}});
    t.Add({Value::Int(1), Value::Bool(true), Value::Int(5), Value::Int(70000), Value::Money(15000), Value::Float(0.1f),
           Value::Dbl(2.5), Value::Dec(12345, 2), Date(1899, 12, 29, 6, 0, 0), Date(2026, 3, 6, 14, 5, 0),
           Value::Str("Hello"), Value::Null(), Value::Null()});
  }

  // "T", "F" or "N" (NULL) for a condition on the one row.
  std::string Ask(const std::string& condition) {
    bool yes = !sql::Execute(schema_, "SELECT id FROM T WHERE " + condition).rows.empty();
    bool no = !sql::Execute(schema_, "SELECT id FROM T WHERE NOT (" + condition + ")").rows.empty();
    EXPECT_FALSE(yes && no) << condition;
    return yes ? "T" : (no ? "F" : "N");
  }

  void Expect(const std::string& answer, std::initializer_list<const char*> conditions) {
    for (const char* c : conditions) EXPECT_EQ(Ask(c), answer) << c;
  }

  void ExpectRefused(const std::string& condition, ErrorCode code, const std::string& fragment = "") {
    sqltest::ExpectRefused(schema_, "SELECT id FROM T WHERE " + condition, code, fragment);
  }

  MemorySchema schema_;
};

TEST_F(SqlExpressions, ThreeValuedLogicInListsAndBetween) {
  // True: i = 5, False: i = 6, NULL: nl = 1.
  Expect("T", {"i = 5 OR nl = 1", "nl = 1 OR i = 5", "NOT NOT i = 5", "nl IS NULL", "NULL IS NULL", "i IN (1, 5)",
               "i IN (NULL, 5)", "i NOT IN (1, 2)", "i IN (5.0, 7)", "i BETWEEN 1 AND 5", "i NOT BETWEEN 6 AND 9",
               "i BETWEEN 1 AND 5 AND i = 5", "dd BETWEEN #3/6/2026# AND #3/7/2026#",
               "i BETWEEN 9 AND 1"});  // the bounds in either order
  Expect("F", {"i = 6 AND nl = 1", "nl = 1 AND i = 6", "i = 5 AND i = 5 AND i = 6", "nl IS NOT NULL", "i IS NULL",
               "i IN (1, 2)", "i BETWEEN 6 AND 9"});
  Expect("N", {"nl = 1", "nl <> 1", "nl = NULL", "i = 5 AND nl = 1", "i = 6 OR nl = 1", "nl = 1 OR nl = 2",
               "nl IN (1, 2)", "i BETWEEN NULL AND 9", "nl BETWEEN 1 AND 9",
               "i IN (1, NULL)", "i NOT IN (1, NULL)"});  // never False once the list holds a NULL
}

TEST_F(SqlExpressions, NumbersDatesAndTextCompareAcrossTypes) {
  // Yes/No: True is -1. Currency and Numeric compare exactly, not as doubles.
  Expect("T", {"b = -1", "b = True", "b <> No", "b < 0", "b", "i = 5.0", "i = 5e0", "i < 5.5", "i = -(-5)", "-i = -5",
               "l > 32767", "i > d", "d = 2.5", "c = 1.5", "c > 1.4999", "c < d", "n = 123.45",
               "n > 123.449999999999999999", "n > c", "9007199254740993 > 9007199254740992",
               "99999999999999999999999 > 99999999999999999999998", "1.5 = 1.50"});
  Expect("F", {"b = 1", "c = 1.50001"});
  // A Single holds 0.1 only approximately and Jet widens it as it is.
  Expect("F", {"s = 0.1"});
  Expect("T", {"s > 0.1"});
  // dt is 29 December 1899, 06:00: stored as -1.25, whose raw double orders wrongly.
  Expect("T", {"dt < #12/30/1899#", "dt > #12/29/1899#", "dt = #12/29/1899 06:00#", "dt > #12/29/1899 05:00#",
               "dt < #12/29/1899 07:00#", "dt < dd", "dt < 0", "dt = -1.25", "#1/1/1900# = 2", "dd > 46000"});
  // Text without regard to case (ASCII letters only), both quote styles.
  Expect("T", {"t = 'hello'", "t = \"HELLO\"", "t < 'help'", "t > 'Hell'", "t <> 'Hello '", "'it''s' = \"it's\"",
               "\"say \"\"hi\"\"\" = 'say \"hi\"'"});
  Expect("F", {"'\xC3\x89' = '\xC3\xA9'"});
  Expect("N", {"tn = 'x'"});
}

TEST_F(SqlExpressions, MismatchedTypesAreErrorsNotAnswers) {
  ExpectRefused("t = 5", ErrorCode::TypeMismatch, "Data type mismatch in criteria expression");
  for (const char* condition : {"dd = '2026-03-06'", "t > #1/1/2000#", "i IN (1, 'x')", "i BETWEEN 'a' AND 'z'",
                                "tn = 5" /* even when the text is NULL */, "t", "-t = 1", "i IN (SELECT t FROM T)"})
    ExpectRefused(condition, ErrorCode::TypeMismatch);
}

TEST_F(SqlExpressions, LikePatterns) {
  Expect("T", {"t LIKE 'H*'", "t LIKE 'h*'", "t LIKE '*LL*'", "t LIKE 'H?llo'", "t LIKE '[GH]ello'",
               "t LIKE '[a-z]ello'", "t LIKE 'Hello*'", "t LIKE '*'", "t LIKE t", "'a*a' LIKE 'a[*]a'",
               "'a1a' LIKE 'a#a'", "'aBBBa' LIKE 'a*a'", "'a-b' LIKE 'a[-x]b'", "'a!b' LIKE 'a!b'", "'ab' LIKE 'a[]b'",
               "'h\xC3\xA9llo' LIKE 'h?llo'",  // ? is one character, not one byte
               "'mississippi' LIKE '*sip*'", "'mississippi' LIKE 'm*iss*ppi'",
               "i LIKE '5'"});  // numbers match as their text
  Expect("F", {"t LIKE 'H?lo'", "t LIKE '[!GH]ello'", "t LIKE ''", "t NOT LIKE 'H*'", "'aaa' LIKE 'a[*]a'",
               "'a10a' LIKE 'a#a'", "'aBC' LIKE 'a*a'", "'mississippi' LIKE '*ss*ss*ss*'"});
  Expect("N", {"nl LIKE '*'", "t LIKE NULL"});
  ExpectRefused("t LIKE 'a[Z-A]'", ErrorCode::Syntax, "position 31");
  ExpectRefused("t LIKE '[abc'", ErrorCode::Syntax);
}

TEST_F(SqlExpressions, DateLiteralForms) {
  // dd is 6 March 2026, 14:05:00.
  Expect("T", {"dd = #03/06/2026 14:05#", "dd = #3/6/2026 2:05:00 PM#", "dd = #3/6/2026 2:05 pm#",
               "dd = #2026-03-06 14:05:00#", "dd > #2026-03-06#", "dd < #2026/3/7#", "dd < #3/6/2026 2:05:59 PM#",
               "#3/6/26# = #2026-03-06#", "#3/6/99# = #1999-03-06#", "# 2/29/2024 # = #2024-02-29#",
               "#14:05# = #12/30/1899 14:05#", "#12:00 AM# = #00:00#", "#12:30 PM# = #12:30#"});
  for (const char* bad : {"#02/30/2026#", "#13/01/2026#", "#2/29/2025#", "#25:00#", "#1/1/2026 13:00 PM#", "#abc#",
                          "#1/1/2026 10#", "##", "#1/1/2026", "#1/1/10000#", "#1/1/2026 10:00 XM#"})
    ExpectRefused(std::string("dd = ") + bad, ErrorCode::Syntax, "position 29");
}

}  // namespace
}  // namespace jet::sqltest
