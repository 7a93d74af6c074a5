// INSERT: values converted to the column types as Jet converts them, and what it refuses.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"

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
    try {
      sql::Execute(schema_, command);
    } catch (const Error& e) {
      if (message != nullptr) *message = e.what();
      return e.code();
    }
    ADD_FAILURE() << "accepted: " << command;
    return ErrorCode::Io;
  }

  MemorySchema schema_;
  MemoryTable* table_ = nullptr;
};

TEST_F(SqlInserts, NumbersTakeTheColumnType) {
  EXPECT_EQ(Stored("Int", "2.5").i, 2);  // halves round to even
  EXPECT_EQ(Stored("Int", "3.5").i, 4);
  EXPECT_EQ(Stored("Int", "-2.5").i, -2);
  EXPECT_EQ(Stored("Int", "'42'").i, 42);
  EXPECT_EQ(Stored("Int", "True").i, -1);
  EXPECT_EQ(Stored("Small", "255").i, 255);
  Value money = Stored("Money", "1.23456");
  EXPECT_EQ(money.kind, Value::Kind::Currency);
  EXPECT_EQ(money.i, 12346);
  EXPECT_EQ(Stored("Money", "-7").i, -70000);
  Value real = Stored("Real", "0.1");
  EXPECT_EQ(real.kind, Value::Kind::Single);
  EXPECT_EQ(static_cast<float>(real.d), 0.1f);
  EXPECT_EQ(Stored("Dbl", "1e-3").d, 0.001);
  EXPECT_EQ(Stored("Dbl", "-5").d, -5.0);
  Value dec = Stored("Dec", "1.50");
  EXPECT_EQ(dec.kind, Value::Kind::Decimal);
  EXPECT_EQ(static_cast<std::int64_t>(dec.dec), 150);
  EXPECT_EQ(dec.scale, 2);
  dec = Stored("Dec", "2.5e0");
  EXPECT_EQ(static_cast<std::int64_t>(dec.dec), 25);
  EXPECT_EQ(dec.scale, 1);
  EXPECT_TRUE(Stored("Flag", "-1").b);
  EXPECT_FALSE(Stored("Flag", "0").b);
  EXPECT_TRUE(Stored("Flag", "'Yes'").b);
  EXPECT_TRUE(Stored("Dbl", "NULL").IsNull());
}

TEST_F(SqlInserts, DatesTextAndGuids) {
  Value when = Stored("When", "#3/6/2026 2:05:59 PM#");
  EXPECT_EQ(when.kind, Value::Kind::Date);
  EXPECT_EQ(when.d, Date(2026, 3, 6, 14, 5, 59).d);
  EXPECT_EQ(Stored("When", "'2026-03-06'").d, Date(2026, 3, 6).d);
  EXPECT_EQ(Stored("When", "2").d, Date(1900, 1, 1).d);
  EXPECT_EQ(Stored("Text", "'it''s'").s, "it's");
  EXPECT_EQ(Stored("Text", "1.5").s, "1.5");
  EXPECT_EQ(Stored("Text", "-12").s, "-12");
  EXPECT_EQ(Stored("Text", "1e20").s, "1E+20");
  EXPECT_EQ(Stored("Text", "#3/6/2026 2:05:59 PM#").s, "3/6/2026 2:05:59 PM");
  EXPECT_EQ(Stored("Text", "#3/6/2026#").s, "3/6/2026");
  Value guid = Stored("Guid", "'{00112233-4455-6677-8899-AABBCCDDEEFF}'");
  EXPECT_EQ(guid.kind, Value::Kind::Guid);
  EXPECT_EQ(guid.s, std::string("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16));
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
  EXPECT_EQ(Refused("INSERT INTO Everything (Small) VALUES (-1)"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Int) VALUES (32768)"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Int) VALUES ('abc')"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Real) VALUES (1e300)"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (When) VALUES ('02/30/2026')"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Flag) VALUES ('maybe')"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Guid) VALUES ('{not a guid}')"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Blob) VALUES ('text')"), ErrorCode::TypeMismatch);
  EXPECT_EQ(Refused("INSERT INTO Everything (Nothing) VALUES (1)"), ErrorCode::UnknownColumn);
  EXPECT_EQ(Refused("INSERT INTO Nowhere (A) VALUES (1)"), ErrorCode::UnknownTable);
  EXPECT_EQ(Refused("INSERT INTO Everything (Int, Text) VALUES (1)", &message), ErrorCode::Syntax);
  EXPECT_NE(message.find("position 36"), std::string::npos) << message;
  EXPECT_EQ(Refused("INSERT INTO Everything (Int, int) VALUES (1, 2)"), ErrorCode::Syntax);
  EXPECT_EQ(Refused("INSERT INTO Everything (Int) VALUES (ID)"), ErrorCode::Syntax);
  EXPECT_EQ(Refused("INSERT INTO Everything VALUES (1)"), ErrorCode::Syntax);
  EXPECT_EQ(table_->Size(), 0u);
  table_->read_only = true;
  EXPECT_EQ(Refused("INSERT INTO Everything (Int) VALUES (1)"), ErrorCode::ReadOnly);
}

}  // namespace
}  // namespace jet::sqltest
