// INSERT: values converted to the column types as Jet converts them, and what it refuses.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"
#include "jet/tsv.h"

namespace jet::sqltest {
namespace {

class SqlInserts : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = &schema_.Add("Everything", {{"ID", ColumnType::Long, true},
                                         {"Flag", ColumnType::Boolean},
                                         {"Small", ColumnType::Byte},
                                         {"Int", ColumnType::Integer},
                                         {"Money", ColumnType::Currency},
                                         {"Real", ColumnType::Single},
                                         {"Dbl", ColumnType::Double},
                                         {"Dec", ColumnType::Numeric},
                                         {"When", ColumnType::DateTime},
                                         {"Text", ColumnType::Text},
                                         {"Guid", ColumnType::Guid},
                                         {"Blob", ColumnType::Ole}});
  }

  // The value stored in `column` by inserting `literal` into it alone.
  Value Stored(const std::string& column, const std::string& literal) {
    auto r = sql::Execute(schema_, "INSERT INTO Everything ([" + column + "]) VALUES (" + literal + ")");
    EXPECT_EQ(r.affected, 1);
    EXPECT_FALSE(r.is_query);
    const auto& cols = table_->Columns();
    std::size_t k = 0;
    while (cols[k].name != column) ++k;
    return table_->RowAt(table_->Size() - 1)[k];
  }

  ErrorCode Refused(const std::string& command, std::string* message = nullptr) {
    auto [code, what] = Refusal(schema_, command);
    if (message != nullptr) *message = what;
    return code;
  }

  MemorySchema schema_;
  MemoryTable* table_ = nullptr;
};

TEST_F(SqlInserts, ValuesTakeTheColumnType) {
  struct Case {
    const char* column;
    const char* literal;
    Value::Kind kind;
    const char* stored;  // as TSV
  } cases[] = {
      {"Int", "2.5", Value::Kind::Integer, "2"},  // halves round to even
      {"Int", "3.5", Value::Kind::Integer, "4"},
      {"Int", "-2.5", Value::Kind::Integer, "-2"},
      {"Int", "'42'", Value::Kind::Integer, "42"},
      {"Int", "True", Value::Kind::Integer, "-1"},
      {"Small", "255", Value::Kind::Integer, "255"},
      {"Money", "1.23456", Value::Kind::Currency, "1.2346"},
      {"Money", "-7", Value::Kind::Currency, "-7"},
      {"Money", "900719925474099.123", Value::Kind::Currency, "900719925474099.123"},  // exact, not via a double
      {"Real", "0.1", Value::Kind::Single, "0.1"},
      {"Dbl", "1e-3", Value::Kind::Double, "0.001"},
      {"Dbl", "-5", Value::Kind::Double, "-5"},
      {"Dbl", "90532.79", Value::Kind::Double, "90532.79"},  // the nearest double, rounded once
      {"Dec", "1.50", Value::Kind::Decimal, "1.5"},
      {"Dec", "2.5e0", Value::Kind::Decimal, "2.5"},
      {"Flag", "-1", Value::Kind::Boolean, "true"},
      {"Flag", "0", Value::Kind::Boolean, "false"},
      {"Flag", "'Yes'", Value::Kind::Boolean, "true"},
      {"Dbl", "NULL", Value::Kind::Null, "\\N"},
      {"When", "#3/6/2026 2:05:59 PM#", Value::Kind::Date, "2026-03-06 14:05:59"},
      {"When", "'2026-03-06'", Value::Kind::Date, "2026-03-06 00:00:00"},
      {"When", "2", Value::Kind::Date, "1900-01-01 00:00:00"},
      {"Text", "'it''s'", Value::Kind::Text, "it's"},
      {"Text", "1.5", Value::Kind::Text, "1.5"},
      {"Text", "-12", Value::Kind::Text, "-12"},
      {"Text", "1e20", Value::Kind::Text, "1E+20"},
      {"Text", "#3/6/2026 2:05:59 PM#", Value::Kind::Text, "3/6/2026 2:05:59 PM"},
      {"Text", "#3/6/2026#", Value::Kind::Text, "3/6/2026"},
      {"Guid", "'{00112233-4455-6677-8899-AABBCCDDEEFF}'", Value::Kind::Guid, "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
  };
  for (const Case& c : cases) {
    Value v = Stored(c.column, c.literal);
    EXPECT_EQ(v.kind, c.kind) << c.column << " " << c.literal;
    EXPECT_EQ(FormatTsvValue(v), c.stored) << c.column << " " << c.literal;
  }
  // Stored as the column's type, not as the literal was written.
  EXPECT_EQ(static_cast<float>(Stored("Real", "0.1").d), 0.1f);
  EXPECT_EQ(Stored("Money", "1.23456").i, 12346);
  EXPECT_EQ(Stored("Dec", "1.50").scale, 2);
  EXPECT_EQ(Stored("Guid", "'{00112233-4455-6677-8899-AABBCCDDEEFF}'").s,
            std::string("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16));
}

TEST_F(SqlInserts, RowsGetAutonumbersAndNullsWhereNotNamed) {
  sql::Execute(schema_, "insert into everything (Text, [Int]) values ('a', 1)");
  sql::Execute(schema_, "INSERT INTO Everything (Text) VALUES ('b')");
  ASSERT_EQ(table_->Size(), 2u);
  EXPECT_EQ(table_->Column("ID"), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(table_->Column("Int"), (std::vector<std::int64_t>{1, -999999}));
  EXPECT_TRUE(table_->RowAt(1)[1].IsNull());
  auto& pair = schema_.Add("Pair", {{"A", ColumnType::Long}, {"B", ColumnType::Text}});
  EXPECT_EQ(sql::Execute(schema_, "INSERT INTO Pair VALUES (-3, 'x');").affected, 1);
  EXPECT_EQ(pair.Column("A"), (std::vector<std::int64_t>{-3}));
}

TEST_F(SqlInserts, RefusedValuesLeaveTheTableAlone) {
  std::string message;
  EXPECT_EQ(Refused("INSERT INTO Everything (Small) VALUES (256)", &message), ErrorCode::TypeMismatch);
  EXPECT_NE(message.find("'Small'"), std::string::npos) << message;
  EXPECT_NE(message.find("'Everything'"), std::string::npos) << message;
  for (const char* bad : {"(Small) VALUES (-1)", "(Int) VALUES (32768)", "(Int) VALUES ('abc')", "(Real) VALUES (1e300)",
                          "(When) VALUES ('02/30/2026')", "(Flag) VALUES ('maybe')", "(Guid) VALUES ('{not a guid}')",
                          "(Blob) VALUES ('text')"})
    EXPECT_EQ(Refused(std::string("INSERT INTO Everything ") + bad), ErrorCode::TypeMismatch) << bad;
  EXPECT_EQ(Refused("INSERT INTO Everything (Nothing) VALUES (1)"), ErrorCode::UnknownColumn);
  EXPECT_EQ(Refused("INSERT INTO Nowhere (A) VALUES (1)"), ErrorCode::UnknownTable);
  EXPECT_EQ(Refused("INSERT INTO Everything (Int, Text) VALUES (1)", &message), ErrorCode::Syntax);
  EXPECT_NE(message.find("position 36"), std::string::npos) << message;
  for (const char* bad : {"(Int, int) VALUES (1, 2)", "(Int) VALUES (ID)", "VALUES (1)"})
    EXPECT_EQ(Refused(std::string("INSERT INTO Everything ") + bad), ErrorCode::Syntax) << bad;
  EXPECT_EQ(table_->Size(), 0u);
  table_->read_only = true;
  EXPECT_EQ(Refused("INSERT INTO Everything (Int) VALUES (1)"), ErrorCode::ReadOnly);
}

}  // namespace
}  // namespace jet::sqltest
