// INSERT reading each value for its column and naming one that does not fit; the job's
// badge DELETE in one scan of each table, reading only the columns it needs, in one call.

#include <gtest/gtest.h>

#include "jet/sql.h"
#include "jet/sql/memory_schema.h"
#include "jet/tsv.h"

namespace jet::sqltest {
namespace {

class SqlInserts : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = &schema_.Add("Everything", {{"ID", ColumnType::Long}, {"Flag", ColumnType::Boolean}, {"Small", ColumnType::Byte},
                                         {"Int", ColumnType::Integer}, {"Money", ColumnType::Currency},
                                         {"Real", ColumnType::Single}, {"Dbl", ColumnType::Double},
                                         {"Dec", ColumnType::Numeric}, {"When", ColumnType::DateTime},
                                         {"Text", ColumnType::Text}, {"Guid", ColumnType::Guid}, {"Blob", ColumnType::Ole}});
  }

  MemorySchema schema_;
  MemoryTable* table_ = nullptr;
};

// What SQL hands the table, which makes each value its column's cell by the row layer's
// one rule: text read as the column's kind, other values written as text for a text
// column, and a Decimal column's value converted by SQL itself.
TEST_F(SqlInserts, ValuesAreReadForTheColumnType) {
  struct Case {
    const char* column;
    const char* literal;
    Value::Kind kind;
    const char* stored;  // as TSV
  } cases[] = {
      {"Int", "'42'", Value::Kind::Integer, "42"},
      {"Money", "900719925474099.123", Value::Kind::Decimal, "900719925474099.123"},  // exact, not via a double
      {"Dec", "1.50", Value::Kind::Decimal, "1.5"},
      {"Dec", "2.5e0", Value::Kind::Decimal, "2.5"},
      {"Flag", "'Yes'", Value::Kind::Boolean, "true"},
      {"When", "#3/6/2026 2:05:59 PM#", Value::Kind::Date, "2026-03-06 14:05:59"},
      {"When", "'2026-03-06'", Value::Kind::Date, "2026-03-06 00:00:00"},
      {"Text", "'it''s'", Value::Kind::Text, "it's"},
      {"Text", "1.5", Value::Kind::Text, "1.5"},
      {"Text", "-12", Value::Kind::Text, "-12"},
      {"Text", "1e20", Value::Kind::Text, "1E+20"},
      {"Text", "#3/6/2026 2:05:59 PM#", Value::Kind::Text, "3/6/2026 2:05:59 PM"},
      {"Text", "#3/6/2026#", Value::Kind::Text, "3/6/2026"},
      {"Guid", "'{00112233-4455-6677-8899-AABBCCDDEEFF}'", Value::Kind::Guid, "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " " + c.literal);
    auto r = sql::Execute(schema_, std::string("INSERT INTO Everything ([") + c.column + "]) VALUES (" + c.literal + ")");
    EXPECT_EQ(r.affected, 1);
    std::size_t k = 0;
    while (table_->Columns()[k].name != c.column) ++k;
    const Value& v = table_->RowAt(table_->Size() - 1)[k];
    EXPECT_EQ(v.kind, c.kind);
    EXPECT_EQ(FormatTsvValue(v), c.stored);
  }
}

TEST_F(SqlInserts, ColumnsNotNamedStayNull) {
  sql::Execute(schema_, "insert into everything (Text, [int]) values ('a', 1)");
  ASSERT_EQ(table_->Size(), 1u);
  EXPECT_EQ(FormatTsvRow(table_->RowAt(0)), "\\N\t\\N\t\\N\t1\t\\N\t\\N\t\\N\t\\N\t\\N\ta\t\\N\t\\N");
  auto& pair = schema_.Add("Pair", {{"A", ColumnType::Long}, {"B", ColumnType::Text}});
  EXPECT_EQ(sql::Execute(schema_, "INSERT INTO Pair VALUES (-3, 'x');").affected, 1);
  EXPECT_EQ(FormatTsvRow(pair.RowAt(0)), "-3\tx");
}

TEST_F(SqlInserts, RefusedValuesLeaveTheTableAlone) {
  ExpectRefused(schema_, "INSERT INTO Everything (Int) VALUES ('abc')", ErrorCode::TypeMismatch,
                "position 38 cannot be stored in column 'Int' (Integer) of table 'Everything'");
  for (const char* bad : {"(When) VALUES ('02/30/2026')", "(Flag) VALUES ('maybe')", "(Guid) VALUES ('{not a guid}')"})
    ExpectRefused(schema_, std::string("INSERT INTO Everything ") + bad, ErrorCode::TypeMismatch);
  ExpectRefused(schema_, "INSERT INTO Everything (Nothing) VALUES (1)", ErrorCode::UnknownColumn);
  ExpectRefused(schema_, "INSERT INTO Nowhere (A) VALUES (1)", ErrorCode::UnknownTable);
  ExpectRefused(schema_, "INSERT INTO Everything (Int, Text) VALUES (1)", ErrorCode::Syntax, "position 36");
  for (const char* bad : {"(Int, int) VALUES (1, 2)", "(Int) VALUES (ID)", "VALUES (1)"})
    ExpectRefused(schema_, std::string("INSERT INTO Everything ") + bad, ErrorCode::Syntax);
  EXPECT_EQ(table_->Size(), 0u);
}

TEST(SqlJobStatements, CardsOfOldVisitorsGoInOneScanOfEachTable) {
  MemorySchema schema;
  auto& holders = schema.Add("CRDHLD", {{"ID", ColumnType::Long}, {"Name", ColumnType::Text}, {"Type", ColumnType::Byte},
                                        {"Valid", ColumnType::Boolean}, {"From_Date", ColumnType::DateTime},
                                        {"Loc_Date", ColumnType::DateTime}});
  auto& cards = schema.Add("CARD", {{"ID", ColumnType::Long}, {"Number", ColumnType::Text}, {"Owner", ColumnType::Long}});
  for (int id = 1; id <= 300; ++id) {
    holders.Add({Value::Int(id), Value::Str("holder"), Value::Int(id % 3 == 0 ? 1 : 0), Value::Bool(id % 5 == 0),
                 id % 7 == 0 ? Value::Null() : Date(2026, 9, 30, 23, 59, 59), Value::Null()});
  }
  for (int id = 1; id <= 600; ++id) cards.Add({Value::Int(id), Value::Str("C"), Value::Int((id % 300) + 1)});
  cards.Add({Value::Int(601), Value::Str("C"), Value::Null()});

  auto r = sql::Execute(schema,
                        "DELETE FROM CARD Where Owner in (Select ID From CRDHLD Where ([type] = 0) and ([Valid] = 0) and "
                        "([From_Date]< #10/01/2026 00:00# or [From_Date] is NULL))");
  // Owners that are visitors (id not a multiple of 3) and not valid (not a multiple of 5).
  std::int64_t expected = 0;
  for (int id = 1; id <= 600; ++id) expected += ((id % 300) + 1) % 3 != 0 && ((id % 300) + 1) % 5 != 0;
  EXPECT_EQ(r.affected, expected);
  EXPECT_EQ(cards.Size(), 601u - static_cast<std::size_t>(expected));
  EXPECT_EQ(cards.scans, 1);
  EXPECT_EQ(holders.scans, 1);
  EXPECT_EQ(cards.delete_calls, 1);
  EXPECT_EQ(cards.last_wanted, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(holders.last_wanted, (std::vector<bool>{true, false, true, true, true, false}));
}

}  // namespace
}  // namespace jet::sqltest
