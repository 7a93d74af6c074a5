// The jetsql tool end to end: listing tables, dumping a table as the expected TSV,
// running a statement, answering an administrator's questions on the sample sites as an
// independent count of the expected rows does, and reporting errors on standard error
// with status 1.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "support.h"

namespace jet {
namespace {

using testing::FixturesDir;

struct Result {
  int status = -1;
  std::string out, err;
};

Result RunJetsql(const std::string& args, const std::string& input = "") {
  testing::TempDir dir;
  std::string err = (dir.path() / "err").string(), in = (dir.path() / "in").string();
  testing::WriteAll(in, input);
  Result r;
  r.out = testing::Shell(std::string(JETSQL_BINARY) + " " + args + " <'" + in + "' 2>'" + err + "'", &r.status);
  r.err = testing::ReadAll(err);
  return r;
}

// The rows of a table's expected TSV as fields, without the header line.
std::vector<std::vector<std::string>> ExpectedRows(const std::string& rel) {
  std::istringstream in(testing::ReadAll(FixturesDir() / "expected" / rel));
  std::vector<std::vector<std::string>> rows;
  std::string line, field;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    rows.emplace_back();
    while (std::getline(fields, field, '\t')) rows.back().push_back(field);
  }
  return rows;
}

class Jetsql : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(std::string(JETSQL_BINARY).empty()) << "jetsql was not built";
    JET_REQUIRE_FIXTURES();
  }
  static std::string Fixture(const char* rel) { return "'" + (FixturesDir() / rel).string() + "'"; }
};

TEST_F(Jetsql, ListsTablesAndDumpsThemAsExpected) {
  Result tables = RunJetsql(Fixture("site-small/Orvanta.mdb") + " -p Morvek3 --tables");
  EXPECT_EQ(tables.status, 0) << tables.err;
  EXPECT_EQ(tables.out, "CRDHLD\nCARD\nJoin_EmpAG\nJoin_EmpAuthLift\nJoin_EmpZoneID\nException\nExceptionAG\n");

  Result dump = RunJetsql(Fixture("site-small/Orvanta.mdb") + " -p Morvek3 --dump crdhld");
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.out, testing::ReadAll(FixturesDir() / "expected/site-small/Orvanta/CRDHLD.tsv"));

  Result check = RunJetsql(Fixture("site-small/Orvanta.mdb") + " -p Morvek3 --check");
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, "ok\n");
}

TEST_F(Jetsql, RunsAStatementFromTheCommandLineOrStandardInput) {
  Result a = RunJetsql(Fixture("access/testV1997.mdb") + " -c 'SELECT * FROM Table1'");
  EXPECT_EQ(a.status, 0) << a.err;
  EXPECT_EQ(a.out, testing::ReadAll(FixturesDir() / "expected/access/testV1997/Table1.tsv"));
  Result b = RunJetsql(Fixture("access/testV1997.mdb"), "SELECT * FROM Table1");
  EXPECT_EQ(b.out, a.out);
}

TEST_F(Jetsql, EventsPerMonthAndTheirRangeAsTheExpectedRowsCountThem) {
  for (const std::string site : {"site-small", "site-ri"}) {
    SCOPED_TRACE(site);
    std::map<std::pair<int, int>, int> months;
    int events = 0, with_card = 0;
    std::string first = "~", last;
    for (const auto& f : ExpectedRows(site + "/Journal/Log.tsv")) {  // ID Date EventType CardNumber Message
      if (f[1] == "\\N" || f[1] >= "2026-09-01") continue;
      ++months[{std::stoi(f[1].substr(0, 4)), std::stoi(f[1].substr(5, 2))}];
      ++events;
      with_card += f[3] != "\\N";
      first = std::min(first, f[1]);
      last = std::max(last, f[1]);
    }
    std::string expected = "Y\tM\tEvents\n";
    for (auto [month, n] : months) {
      expected += std::to_string(month.first) + "\t" + std::to_string(month.second) + "\t" + std::to_string(n) + "\n";
    }
    const std::string select = "SELECT Year([Date]) AS Y, Month([Date]) AS M, COUNT(*) AS Events FROM [Log] ";
    const std::string where = "WHERE [Date] < #2026-09-01# GROUP BY Year([Date]), Month([Date]) ";
    for (const char* order : {"ORDER BY 1, 2", "ORDER BY Year([Date]), Month([Date])", "ORDER BY Y, M"}) {
      Result r = RunJetsql(Fixture((site + "/Journal.mdb").c_str()) + " -c " + testing::ShellQuote(select + where + order));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, expected) << order;
    }
    Result range = RunJetsql(Fixture((site + "/Journal.mdb").c_str()) +
                             " -c 'SELECT COUNT(*), COUNT(CardNumber), MIN([Date]), MAX([Date]) FROM [Log] "
                             "WHERE [Date] < #2026-09-01#'");
    EXPECT_EQ(range.out, "Expr1000\tExpr1001\tExpr1002\tExpr1003\n" + std::to_string(events) + "\t" +
                             std::to_string(with_card) + "\t" + first + "\t" + last + "\n");
  }
}

// TOP n on ORDER BY: NULL dates first (last with DESC), rows tying with the tenth kept.
TEST_F(Jetsql, OldestAndNewestInvalidVisitorsAsTheExpectedRowsSortThem) {
  for (const std::string site : {"site-small", "site-ri"}) {
    std::vector<std::vector<std::string>> visitors;
    for (auto& f : ExpectedRows(site + "/Orvanta/CRDHLD.tsv")) {  // ID type Valid From_Date Loc_Date LastName ...
      if (f[1] == "0" && f[2] == "false") visitors.push_back(f);
    }
    for (bool descending : {false, true}) {
      SCOPED_TRACE(site + (descending ? " newest" : " oldest"));
      auto key = [&](const std::vector<std::string>& f) { return f[3] == "\\N" ? std::string() : f[3]; };
      std::stable_sort(visitors.begin(), visitors.end(), [&](const auto& a, const auto& b) {
        return descending ? key(a) > key(b) : key(a) < key(b);
      });
      std::string expected = "ID\tLastName\tFrom_Date\n";
      for (std::size_t k = 0; k < visitors.size() && (k < 10 || key(visitors[k]) == key(visitors[9])); ++k) {
        expected += visitors[k][0] + "\t" + visitors[k][5] + "\t" + visitors[k][3] + "\n";
      }
      Result r = RunJetsql(Fixture((site + "/Orvanta.mdb").c_str()) +
                           " -p Morvek3 -c 'SELECT TOP 10 ID, LastName, From_Date FROM CRDHLD "
                           "WHERE [type] = 0 AND [Valid] = 0 ORDER BY From_Date" +
                           (descending ? " DESC'" : "'"));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, expected);
    }
  }
}

// The two examples of --help run as they are written there.
TEST_F(Jetsql, HelpTellsTheLanguageWithExamplesThatRun) {
  Result help = RunJetsql("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"TOP n", "GROUP BY", "HAVING", "ORDER BY", "COUNT(*)", "MIN(expr)", "Year(date)"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  std::string text = std::regex_replace(help.out, std::regex("\\n +"), " ");
  std::smatch m;
  int examples = 0;
  for (auto it = text.cbegin(); std::regex_search(it, text.cend(), m, std::regex("jetsql (\\w+\\.mdb)[^\"]*(\"[^\"]*\")"));
       it = m.suffix().first, ++examples) {
    Result r = RunJetsql(Fixture(("site-small/" + m[1].str()).c_str()) + " -p Morvek3 -c " + m[2].str());
    EXPECT_EQ(r.status, 0) << m[2] << ": " << r.err;
    EXPECT_GT(std::count(r.out.begin(), r.out.end(), '\n'), 2) << m[2];
  }
  EXPECT_EQ(examples, 2);
}

TEST_F(Jetsql, ErrorsGoToStandardErrorWithTheirNumber) {
  Result missing = RunJetsql("/nonexistent/x.mdb --tables");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err.rfind("jetsql: error -2147467259: ", 0), 0u) << missing.err;
  EXPECT_NE(missing.err.find("/nonexistent/x.mdb"), std::string::npos);

  Result wrong = RunJetsql(Fixture("site-ri/Orvanta.mdb") + " -p Secret1 --tables");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err.rfind("jetsql: error -2147217843: ", 0), 0u) << wrong.err;
  EXPECT_EQ(wrong.err.find("Secret1"), std::string::npos);

  Result unknown = RunJetsql(Fixture("access/testV1997.mdb") + " --dump NoSuchTable");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("NoSuchTable"), std::string::npos);

  EXPECT_EQ(RunJetsql("").status, 2);
}

}  // namespace
}  // namespace jet
