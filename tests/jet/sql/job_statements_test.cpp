// How the job's statements treat the tables: one scan of each table however many rows
// the subquery meets, only the columns the statement reads decoded, one call to delete,
// and the table's refusal reaching the caller. Which rows they select is checked on the
// sample sites by the job's own tests.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"

namespace jet::sqltest {
namespace {

constexpr const char* kDeleteCards =
    "DELETE FROM CARD Where Owner in (Select ID From CRDHLD Where ([type] = 0) and ([Valid] = 0) and "
    "([From_Date]< #10/01/2026 00:00# or [From_Date] is NULL))";
constexpr const char* kDeleteLog = "DELETE From [Log] where [Date] < #09/01/2026 00:00#";

class SqlJobStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    holders_ = &schema_.Add("CRDHLD", {{"ID", ColumnType::Long, true},
                                       {"Name", ColumnType::Text},
                                       {"Type", ColumnType::Byte},
                                       {"Valid", ColumnType::Boolean},
                                       {"From_Date", ColumnType::DateTime},
                                       {"Loc_Date", ColumnType::DateTime}});
    cards_ = &schema_.Add("CARD", {{"ID", ColumnType::Long, true}, {"Number", ColumnType::Text}, {"Owner", ColumnType::Long}});
    log_ = &schema_.Add("LOG", {{"ID", ColumnType::Long, true}, {"Date", ColumnType::DateTime}, {"Event", ColumnType::Text}});
  }

  MemorySchema schema_;
  MemoryTable* holders_ = nullptr;
  MemoryTable* cards_ = nullptr;
  MemoryTable* log_ = nullptr;
};

TEST_F(SqlJobStatements, CardsOfOldVisitorsGoInOneScanOfEachTable) {
  for (int id = 1; id <= 300; ++id) {
    holders_->Add({Value::Int(id), Value::Str("holder"), Value::Int(id % 3 == 0 ? 1 : 0), Value::Bool(id % 5 == 0),
                   id % 7 == 0 ? Value::Null() : Date(2026, 9, 30, 23, 59, 59), Value::Null()});
  }
  for (int id = 1; id <= 600; ++id) cards_->Add({Value::Int(id), Value::Str("C"), Value::Int((id % 300) + 1)});
  cards_->Add({Value::Int(601), Value::Str("C"), Value::Null()});

  auto r = sql::Execute(schema_, kDeleteCards);
  EXPECT_FALSE(r.is_query);
  // Owners that are visitors (id not a multiple of 3) and not valid (not a multiple of 5).
  std::int64_t expected = 0;
  for (int id = 1; id <= 600; ++id) expected += ((id % 300) + 1) % 3 != 0 && ((id % 300) + 1) % 5 != 0;
  EXPECT_EQ(r.affected, expected);
  EXPECT_EQ(cards_->Size(), 601u - static_cast<std::size_t>(expected));
  EXPECT_EQ(cards_->scans, 1);
  EXPECT_EQ(holders_->scans, 1);
  EXPECT_EQ(cards_->delete_calls, 1);
  EXPECT_EQ(cards_->last_wanted, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(holders_->last_wanted, (std::vector<bool>{true, false, true, true, true, false}));
}

TEST_F(SqlJobStatements, NothingToDeleteAsksTheTableOnceAndFailuresReachTheCaller) {
  EXPECT_EQ(sql::Execute(schema_, kDeleteLog).affected, 0);
  EXPECT_EQ(log_->delete_calls, 1);
  log_->Add({Value::Int(1), Date(2000, 1, 1), Value::Null()});
  log_->Add({Value::Int(2), Date(2026, 9, 1), Value::Null()});
  EXPECT_EQ(sql::Execute(schema_, kDeleteLog).affected, 1);
  EXPECT_EQ(log_->last_wanted, (std::vector<bool>{false, true, false}));
  log_->Add({Value::Int(3), Date(2000, 1, 1), Value::Null()});
  log_->read_only = true;
  EXPECT_EQ(Refusal(schema_, kDeleteLog).first, ErrorCode::ReadOnly);
  EXPECT_EQ(log_->Size(), 2u);
}

}  // namespace
}  // namespace jet::sqltest
