// SqlQueries: what comes back, in which order, under which names, and how names and
// keywords may be written.

#include <gtest/gtest.h>

#include "jet/sql/memory_schema.h"
#include "jet/sql/sql.h"
#include "jet/tsv.h"

namespace jet::sqltest {
namespace {

class SqlQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    people_ = &schema_.Add("People", {{"ID", ColumnType::Long, true},
                                      {"First Name", ColumnType::Text},
                                      {"Date", ColumnType::DateTime},
                                      {"Score", ColumnType::Double},
                                      {"Type", ColumnType::Integer}});
    auto add = [&](int id, const char* name, Value date, Value score, int type) {
      people_->Add({Value::Int(id), name ? Value::Str(name) : Value::Null(), std::move(date), std::move(score),
                    Value::Int(type)});
    };
    add(1, "bob", Date(2026, 1, 1), Value::Dbl(3), 1);
    add(2, "Alice", Value::Null(), Value::Dbl(1), 2);
    add(3, nullptr, Date(2025, 1, 1), Value::Null(), 1);
    add(4, "alice", Date(2024, 1, 1), Value::Dbl(2), 1);
    add(5, "Carol", Date(2026, 1, 1), Value::Dbl(3), 2);
  }

  std::vector<std::int64_t> Ids(const std::string& command, std::size_t column = 0) {
    auto r = sql::Execute(schema_, command);
    EXPECT_TRUE(r.is_query);
    std::vector<std::int64_t> out;
    for (const Row& row : r.rows) out.push_back(row.at(column).i);
    return out;
  }

  MemorySchema schema_;
  MemoryTable* people_ = nullptr;
};

TEST_F(SqlQueries, StarNamedColumnsAndCountStar) {
  auto r = sql::Execute(schema_, "SELECT * FROM People");
  EXPECT_TRUE(r.is_query);
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"ID", "First Name", "Date", "Score", "Type"}));
  ASSERT_EQ(r.rows.size(), 5u);
  EXPECT_EQ(r.rows[1][1].s, "Alice");
  EXPECT_TRUE(r.rows[2][1].IsNull());
  EXPECT_EQ(Ids("SELECT p.* FROM People AS p;"), (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
  // Columns are named as the query names them; only what the query reads is decoded.
  r = sql::Execute(schema_, "SELECT [first name], id AS Number, Type = 1 FROM people WHERE id = 2");
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"first name", "Number", "Expr1000"}));
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(FormatTsvRow(r.rows[0]), "Alice\t2\tfalse");
  EXPECT_EQ(people_->last_wanted, (std::vector<bool>{true, true, false, false, true}));
  r = sql::Execute(schema_, "SELECT COUNT(*) FROM People");
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"Expr1000"}));
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0][0].kind, Value::Kind::Integer);
  EXPECT_EQ(r.rows[0][0].i, 5);
  EXPECT_EQ(people_->last_wanted, std::vector<bool>(5, false));
  r = sql::Execute(schema_, "select count(*) as n from People where [Date] is null or Score >= 3");
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"n"}));
  EXPECT_EQ(r.rows[0][0].i, 3);
  EXPECT_EQ(sql::Execute(schema_, "SELECT COUNT(*) FROM People WHERE ID > 99").rows[0][0].i, 0);
}

TEST_F(SqlQueries, OrderByPutsNullsFirstAndKeepsTies) {
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY [First Name]"), (std::vector<std::int64_t>{3, 2, 4, 1, 5}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY [First Name] DESC"), (std::vector<std::int64_t>{5, 1, 2, 4, 3}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY Score"), (std::vector<std::int64_t>{3, 2, 4, 1, 5}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY Score DESC, ID DESC"), (std::vector<std::int64_t>{5, 1, 4, 2, 3}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY Type, [Date] DESC"), (std::vector<std::int64_t>{1, 3, 4, 5, 2}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY [Date] ASC, Type DESC"), (std::vector<std::int64_t>{2, 4, 3, 5, 1}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE Type = 1 ORDER BY Score DESC"), (std::vector<std::int64_t>{1, 4, 3}));
  // Sorting by a column not shown still decodes it.
  EXPECT_EQ(Ids("SELECT [First Name], ID FROM People ORDER BY Score, ID", 1), (std::vector<std::int64_t>{3, 2, 4, 1, 5}));
}

TEST_F(SqlQueries, KeywordsInAnyCaseAndNamesInBrackets) {
  EXPECT_EQ(Ids("sElEcT iD fRoM pEoPlE wHeRe TYPE = 2 oRdEr By Id DeSc"), (std::vector<std::int64_t>{5, 2}));
  EXPECT_EQ(Ids("SELECT [ID] FROM [People] WHERE `First Name` = 'bob'"), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(Ids("SELECT People.ID FROM People WHERE [People].[Type] = 2"), (std::vector<std::int64_t>{2, 5}));
  EXPECT_EQ(Ids("SELECT p.ID FROM People p WHERE [p].[Type] = 1 AND p.Date < #1/1/2026#"), (std::vector<std::int64_t>{3, 4}));
  EXPECT_EQ(Ids("SELECT ID\n\tFROM People\r\nWHERE ID IN (SELECT ID FROM People WHERE Type = 2) ;  "),
            (std::vector<std::int64_t>{2, 5}));
}

TEST_F(SqlQueries, SubqueryInSelectAndDistinct) {
  auto& tags = schema_.Add("Tags", {{"Person", ColumnType::Long}, {"Tag", ColumnType::Text}});
  tags.Add({Value::Int(1), Value::Str("x")});
  tags.Add({Value::Int(1), Value::Str("y")});
  tags.Add({Value::Int(4), Value::Str("x")});
  tags.Add({Value::Null(), Value::Str("x")});
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID IN (SELECT DISTINCT Person FROM Tags WHERE Tag = 'X')"),
            (std::vector<std::int64_t>{1, 4}));
  // The NULL owner makes NOT IN unknown for everyone else.
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID NOT IN (SELECT Person FROM Tags)"), (std::vector<std::int64_t>{}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID NOT IN (SELECT Person FROM Tags WHERE Person IS NOT NULL)"),
            (std::vector<std::int64_t>{2, 3, 5}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID IN (SELECT Person FROM Tags WHERE Tag = 'none')"),
            (std::vector<std::int64_t>{}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID NOT IN (SELECT Person FROM Tags WHERE Tag = 'none')"),
            (std::vector<std::int64_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(tags.scans, 5);
}

}  // namespace
}  // namespace jet::sqltest
