// The statements the maintenance job sends, verbatim, against tables shaped like the
// product's: which rows go and which stay, and how the tables are read.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"

namespace jet::sqltest {
namespace {

constexpr const char* kDeleteCards =
    "DELETE FROM CARD Where Owner in (Select ID From CRDHLD Where ([type] = 0) and ([Valid] = 0) and "
    "([From_Date]< #10/01/2026 00:00# or [From_Date] is NULL))";
constexpr const char* kDeleteHolders =
    "DELETE From CRDHLD Where ([Valid] = 0) and ([Loc_Date]< #06/01/2026 00:00# or [Loc_Date] is NULL)";
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

  void Holder(int id, int type, bool valid, Value from, Value loc) {
    holders_->Add({Value::Int(id), Value::Str("holder " + std::to_string(id)), Value::Int(type), Value::Bool(valid),
                   std::move(from), std::move(loc)});
  }
  void Card(int id, Value owner) { cards_->Add({Value::Int(id), Value::Str("C" + std::to_string(id)), std::move(owner)}); }

  MemorySchema schema_;
  MemoryTable* holders_ = nullptr;
  MemoryTable* cards_ = nullptr;
  MemoryTable* log_ = nullptr;
};

TEST_F(SqlJobStatements, CardsOfOldVisitorsGoInOneScanOfEachTable) {
  Holder(1, 0, false, Date(2026, 9, 15), Value::Null());           // old visitor
  Holder(2, 0, false, Value::Null(), Value::Null());               // visitor without a date: taken
  Holder(3, 0, true, Date(2026, 1, 1), Value::Null());             // still valid: kept
  Holder(4, 1, false, Date(2026, 1, 1), Value::Null());            // not a visitor: kept
  Holder(5, 0, false, Date(2026, 10, 1), Value::Null());           // exactly on the limit: kept
  Holder(6, 0, false, Date(2026, 9, 30, 23, 59, 59), Value::Null());
  Holder(7, 0, false, Date(1899, 12, 29, 6, 0, 0), Value::Null());  // before 1899-12-30 with a time
  for (int owner : {1, 1, 2, 3, 4, 5, 6, 7, 99}) Card(100 + static_cast<int>(cards_->Size()), Value::Int(owner));
  Card(200, Value::Null());

  auto r = sql::Execute(schema_, kDeleteCards);
  EXPECT_FALSE(r.is_query);
  EXPECT_EQ(r.affected, 5);
  EXPECT_EQ(cards_->Column("Owner"), (std::vector<std::int64_t>{3, 4, 5, 99, -999999}));
  EXPECT_EQ(holders_->Size(), 7u);
  EXPECT_EQ(cards_->scans, 1);
  EXPECT_EQ(holders_->scans, 1);
  EXPECT_EQ(cards_->delete_calls, 1);
  // The outer scan decodes the owner only.
  EXPECT_EQ(cards_->last_wanted, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(holders_->last_wanted, (std::vector<bool>{true, false, true, true, true, false}));
}

TEST_F(SqlJobStatements, SubqueryRunsOnceHoweverManyOuterRows) {
  for (int id = 1; id <= 3000; ++id) Holder(id, id % 3 == 0 ? 1 : 0, id % 5 == 0, Date(2025, 1, 1), Value::Null());
  for (int id = 1; id <= 6000; ++id) Card(id, Value::Int((id % 3000) + 1));

  auto r = sql::Execute(schema_, kDeleteCards);
  EXPECT_EQ(holders_->scans, 1);
  EXPECT_EQ(cards_->scans, 1);
  // Owners that are visitors (id not a multiple of 3) and not valid (not a multiple of 5).
  std::int64_t expected = 0;
  for (int id = 1; id <= 6000; ++id) {
    int owner = (id % 3000) + 1;
    if (owner % 3 != 0 && owner % 5 != 0) ++expected;
  }
  EXPECT_EQ(r.affected, expected);
  for (std::int64_t owner : cards_->Column("Owner")) EXPECT_TRUE(owner % 3 == 0 || owner % 5 == 0) << owner;
}

TEST_F(SqlJobStatements, CardholdersGoWhenInvalidAndOldOrUndated) {
  Holder(1, 0, false, Value::Null(), Date(2026, 5, 31, 23, 59, 59));
  Holder(2, 1, false, Value::Null(), Date(2026, 6, 1));
  Holder(3, 1, false, Value::Null(), Value::Null());
  Holder(4, 0, true, Value::Null(), Value::Null());
  Holder(5, 0, true, Value::Null(), Date(2020, 1, 1));
  Holder(6, 1, false, Value::Null(), Date(1890, 1, 1, 12, 0, 0));

  // As the job sends it: every kind of cardholder.
  auto r = sql::Execute(schema_, kDeleteHolders);
  EXPECT_EQ(r.affected, 3);
  EXPECT_EQ(holders_->Column("ID"), (std::vector<std::int64_t>{2, 4, 5}));
  // Visitors only when the type is asked.
  Holder(7, 0, false, Value::Null(), Value::Null());
  Holder(8, 1, false, Value::Null(), Value::Null());
  r = sql::Execute(schema_,
                   "DELETE From CRDHLD Where ([type] = 0) and ([Valid] = 0) and ([Loc_Date]< #06/01/2026 00:00# "
                   "or [Loc_Date] is NULL)");
  EXPECT_EQ(r.affected, 1);
  EXPECT_EQ(holders_->Column("ID"), (std::vector<std::int64_t>{2, 4, 5, 8}));
}

TEST_F(SqlJobStatements, JournalEventsBeforeTheLimitGo) {
  log_->Add({Value::Int(1), Date(2026, 8, 31, 23, 59, 59), Value::Str("door")});
  log_->Add({Value::Int(2), Date(2026, 9, 1), Value::Str("door")});
  log_->Add({Value::Int(3), Value::Null(), Value::Str("undated")});
  log_->Add({Value::Int(4), Date(1899, 12, 29, 6, 0, 0), Value::Str("ancient")});
  log_->Add({Value::Int(5), Date(2027, 1, 1), Value::Str("future")});
  auto r = sql::Execute(schema_, kDeleteLog);
  EXPECT_EQ(r.affected, 2);
  EXPECT_EQ(log_->Column("ID"), (std::vector<std::int64_t>{2, 3, 5}));
  EXPECT_EQ(log_->last_wanted, (std::vector<bool>{false, true, false}));
}

TEST_F(SqlJobStatements, NothingToDeleteAsksTheTableOnceAndFailuresReachTheCaller) {
  EXPECT_EQ(sql::Execute(schema_, kDeleteLog).affected, 0);
  EXPECT_EQ(log_->delete_calls, 1);
  log_->Add({Value::Int(1), Date(2000, 1, 1), Value::Null()});
  log_->read_only = true;
  try {
    sql::Execute(schema_, kDeleteLog);
    FAIL() << "the delete went through a read-only table";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::ReadOnly);
  }
  EXPECT_EQ(log_->Size(), 1u);
}

}  // namespace
}  // namespace jet::sqltest
