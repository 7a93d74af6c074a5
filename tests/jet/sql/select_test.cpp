// What comes back, in which order, under which names, grouped and cut to
// TOP n, and how names and keywords may be written.

#include <gtest/gtest.h>

#include <algorithm>

#include "jet/sql.h"
#include "jet/sql/memory_schema.h"
#include "jet/tsv.h"

namespace jet::sqltest {
namespace {

using Ints = std::vector<std::int64_t>;

class SqlQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    people_ = &schema_.Add("People", {{"ID", ColumnType::Long}, {"First Name", ColumnType::Text},
                                      {"Date", ColumnType::DateTime}, {"Score", ColumnType::Double},
                                      {"Type", ColumnType::Integer}});
    auto add = [&](int id, const char* name, Value date, Value score, int type) {
      people_->Add({Value::Int(id), name ? Value::Str(name) : Value::Null(), std::move(date), std::move(score),
                    Value::Int(type)});
    };
    add(1, "bob", Date(2026, 1, 1), Value::Dbl(3), 1);
    add(2, "Alice", Value::Null(), Value::Dbl(1), 2);
    add(3, nullptr, Date(2025, 1, 1), Value::Null(), 1);
    add(4, "alice", Date(2024, 1, 1), Value::Dbl(2), 1);
    add(5, "Carol", Date(2026, 3, 15), Value::Dbl(3), 2);
  }

  Ints Ids(const std::string& command, std::size_t column = 0) {
    Ints out;
    for (const Row& row : sql::Execute(schema_, command).rows) out.push_back(row.at(column).i);
    return out;
  }

  // The rows as TSV lines, each ended by a line feed.
  std::string Tsv(const std::string& command) {
    std::string out;
    for (const Row& row : sql::Execute(schema_, command).rows) out += FormatTsvRow(row) + "\n";
    return out;
  }

  MemorySchema schema_;
  MemoryTable* people_ = nullptr;
};

TEST_F(SqlQueries, StarNamedColumnsAndCountStar) {
  auto r = sql::Execute(schema_, "SELECT * FROM People");
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"ID", "First Name", "Date", "Score", "Type"}));
  ASSERT_EQ(r.rows.size(), 5u);
  EXPECT_TRUE(r.rows[2][1].IsNull());
  EXPECT_EQ(Ids("SELECT p.* FROM People AS p;"), (Ints{1, 2, 3, 4, 5}));
  // Columns are named as the query names them; only what the query reads is decoded.
  r = sql::Execute(schema_, "SELECT [first name], id AS Number, Type = 1 FROM people WHERE id = 2");
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"first name", "Number", "Expr1000"}));
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(FormatTsvRow(r.rows[0]), "Alice\t2\tfalse");
  EXPECT_EQ(people_->last_wanted, (std::vector<bool>{true, true, false, false, true}));
  r = sql::Execute(schema_, "select count(*) as n from People where [Date] is null or Score >= 3");
  EXPECT_EQ(r.column_names, (std::vector<std::string>{"n"}));
  EXPECT_EQ(FormatTsvRow(r.rows.at(0)), "3");
  EXPECT_EQ(people_->last_wanted, (std::vector<bool>{false, false, true, true, false}));
}

TEST_F(SqlQueries, OrderByColumnsExpressionsAliasesAndPositions) {
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY [First Name]"), (Ints{3, 2, 4, 1, 5}));  // NULL first, ties kept
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY [First Name] DESC"), (Ints{5, 1, 2, 4, 3}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY Score DESC, ID DESC"), (Ints{5, 1, 4, 2, 3}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY Type, [Date] DESC"), (Ints{1, 3, 4, 5, 2}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE Type = 1 ORDER BY Score DESC"), (Ints{1, 4, 3}));
  EXPECT_EQ(Ids("SELECT [First Name], ID FROM People ORDER BY Score, ID", 1), (Ints{3, 2, 4, 1, 5}));
  EXPECT_EQ(Ids("SELECT ID, Score AS S FROM People ORDER BY S DESC, 1"), (Ints{1, 5, 4, 2, 3}));
  EXPECT_EQ(Ids("SELECT ID, Type FROM People ORDER BY 2 DESC, 1 DESC"), (Ints{5, 2, 4, 3, 1}));
  EXPECT_EQ(Ids("SELECT ID FROM People ORDER BY Month([Date]) DESC, ID"), (Ints{5, 1, 3, 4, 2}));
  // An alias that is also a column's name means the output column.
  EXPECT_EQ(Ids("SELECT ID, -ID AS Score FROM People ORDER BY Score"), (Ints{5, 4, 3, 2, 1}));
}

TEST_F(SqlQueries, TopKeepsTiesOnTheLastSortValue) {
  EXPECT_EQ(Ids("SELECT TOP 2 ID FROM People ORDER BY Score"), (Ints{3, 2}));
  EXPECT_EQ(Ids("SELECT TOP 1 ID FROM People ORDER BY Score DESC"), (Ints{1, 5}));
  EXPECT_EQ(Ids("SELECT TOP 1 ID FROM People ORDER BY Score DESC, ID DESC"), (Ints{5}));
  EXPECT_EQ(Ids("SELECT TOP 2 ID FROM People ORDER BY Type"), (Ints{1, 3, 4}));
  EXPECT_EQ(Ids("SELECT TOP 2 ID FROM People"), (Ints{1, 2}));
  EXPECT_EQ(Ids("SELECT TOP 9 ID FROM People ORDER BY ID DESC"), (Ints{5, 4, 3, 2, 1}));

  // Over many rows, where only the rows that can still make the first n are kept: the
  // answer is the first n of the fully sorted rows, plus their ties.
  auto& big = schema_.Add("Big", {{"ID", ColumnType::Long}, {"Score", ColumnType::Long}, {"Kind", ColumnType::Long}});
  std::vector<std::pair<std::int64_t, std::int64_t>> rows;  // score, id
  std::uint32_t seed = 12345;
  for (int id = 0; id < 20000; ++id) {
    seed = seed * 1103515245u + 12345u;
    std::int64_t score = (seed >> 8) % 5000;
    big.Add({Value::Int(id), Value::Int(score), Value::Int(id % 3)});
    rows.emplace_back(-score, id);
  }
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t n : {1u, 10u, 700u}) {
    std::size_t end = n;
    while (end < rows.size() && rows[end].first == rows[n - 1].first) ++end;
    Ints expected;
    for (std::size_t k = 0; k < end; ++k) expected.push_back(rows[k].second);
    EXPECT_EQ(Ids("SELECT TOP " + std::to_string(n) + " ID FROM Big ORDER BY Score DESC"), expected) << n;
  }
  // Ties bigger than the rows kept aside for sorting still all come back.
  EXPECT_EQ(Ids("SELECT TOP 1 ID FROM Big ORDER BY Kind").size(), 6667u);
}

TEST_F(SqlQueries, GroupsAndAggregatesFollowJetsNullRules) {
  // COUNT(col) skips NULLs; MIN and MAX compare as WHERE does (text without case).
  EXPECT_EQ(Tsv("SELECT Type, COUNT(*), COUNT(Score), MIN(Score), MAX([First Name]) FROM People GROUP BY Type"),
            "1\t3\t2\t2\tbob\n2\t2\t2\t1\tCarol\n");
  // Text groups without regard to case; NULL makes a group of its own, sorted first.
  EXPECT_EQ(Tsv("SELECT [First Name], COUNT(*) FROM People GROUP BY [First Name]"),
            "\\N\t1\nAlice\t2\nbob\t1\nCarol\t1\n");
  // Over no rows: one row without GROUP BY (COUNT 0, MIN and MAX NULL), none with it.
  EXPECT_EQ(Tsv("SELECT COUNT(*), COUNT(Score), MIN(Score), MAX([Date]) FROM People WHERE ID > 9"), "0\t0\t\\N\t\\N\n");
  EXPECT_EQ(Tsv("SELECT Type, COUNT(*) FROM People WHERE ID > 9 GROUP BY Type"), "");
  EXPECT_EQ(Tsv("SELECT MIN([First Name]), MAX(Score) FROM People WHERE Score IS NULL"), "\\N\t\\N\n");
  // Year(), Month() and Day(): NULL gives NULL. The GROUP BY expressions may be written
  // differently from the selected ones; ORDER BY and HAVING may use aggregates.
  EXPECT_EQ(Tsv("SELECT Year([Date]) AS Y, COUNT(*) AS N FROM People GROUP BY Year(People.Date) ORDER BY N DESC, 1"),
            "2026\t2\n\\N\t1\n2024\t1\n2025\t1\n");
  EXPECT_EQ(Tsv("SELECT Month([Date]), Day([Date]) FROM People GROUP BY Month([Date]), Day([Date]) "
                "HAVING COUNT(*) = 1 ORDER BY MAX(ID) DESC"),
            "3\t15\n\\N\t\\N\n");
  EXPECT_EQ(Tsv("SELECT TOP 1 Type, MIN([Date]) FROM People GROUP BY Type ORDER BY COUNT(Score)"),
            "1\t2024-01-01 00:00:00\n2\t2026-03-15 00:00:00\n");
  EXPECT_EQ(Tsv("SELECT Year([Date]) FROM People WHERE Month([Date]) = 3 ORDER BY 1"), "2026\n");
}

TEST_F(SqlQueries, KeywordsInAnyCaseAndNamesInBrackets) {
  EXPECT_EQ(Ids("sElEcT iD fRoM pEoPlE wHeRe TYPE = 2 oRdEr By Id DeSc"), (Ints{5, 2}));
  EXPECT_EQ(Ids("SELECT [ID] FROM [People] WHERE `First Name` = 'bob'"), (Ints{1}));
  EXPECT_EQ(Ids("SELECT p.ID FROM People p WHERE [p].[Type] = 1 AND p.Date < #1/1/2026#"), (Ints{3, 4}));
  EXPECT_EQ(Ids("SELECT ID\n\tFROM People\r\nWHERE ID IN (SELECT ID FROM People WHERE Type = 2) ;  "), (Ints{2, 5}));
}

TEST_F(SqlQueries, SubqueryInSelectAndDistinct) {
  auto& tags = schema_.Add("Tags", {{"Person", ColumnType::Long}, {"Tag", ColumnType::Text}});
  tags.Add({Value::Int(1), Value::Str("x")});
  tags.Add({Value::Int(1), Value::Str("y")});
  tags.Add({Value::Int(4), Value::Str("x")});
  tags.Add({Value::Null(), Value::Str("x")});
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID IN (SELECT DISTINCT Person FROM Tags WHERE Tag = 'X')"), (Ints{1, 4}));
  // The NULL owner makes NOT IN unknown for everyone else.
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID NOT IN (SELECT Person FROM Tags)"), (Ints{}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID NOT IN (SELECT Person FROM Tags WHERE Person IS NOT NULL)"),
            (Ints{2, 3, 5}));
  EXPECT_EQ(Ids("SELECT ID FROM People WHERE ID NOT IN (SELECT Person FROM Tags WHERE Tag = 'none')"),
            (Ints{1, 2, 3, 4, 5}));
  EXPECT_EQ(tags.scans, 4);
}

}  // namespace
}  // namespace jet::sqltest
