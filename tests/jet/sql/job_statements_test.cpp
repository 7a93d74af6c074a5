// How the job's badge purge treats the tables: one scan of each table however many rows
// the subquery meets, only the columns the statement reads asked for, one call to delete.
// Which rows the job's statements take is checked on the sample sites by the job's tests.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"

namespace jet::sqltest {
namespace {

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
