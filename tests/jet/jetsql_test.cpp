// The jetsql tool end to end: listing, dumping and checking a file, running a statement
// given either way, changing a file, the examples of its help, and errors on standard
// error with status 1. What the statements answer is the SQL layer's own tests' matter.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <tuple>

#include "write/write_support.h"

namespace jet {
namespace {

using testing::FixturesDir;
using testing::TempDir;

struct Result {
  int status = -1;
  std::string out, err;
};

// jetsql with `args`, the `file` (if any; a relative path names a fixture) first, `input`
// on standard input.
Result RunJetsql(const std::string& file, const std::string& args, const std::string& input = "") {
  testing::TempDir dir;
  std::string err = (dir.path() / "err").string(), in = (dir.path() / "in").string();
  testing::WriteAll(in, input);
  std::string command = std::string(JETSQL_BINARY) + " ";
  if (!file.empty()) command += testing::ShellQuote((FixturesDir() / file).string()) + " ";
  Result r;
  r.out = testing::Shell(command + args + " <'" + in + "' 2>'" + err + "'", &r.status);
  r.err = testing::ReadAll(err);
  return r;
}

class Jetsql : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(std::string(JETSQL_BINARY).empty()) << "jetsql was not built";
    JET_REQUIRE_FIXTURES();
  }
};

TEST_F(Jetsql, ListsDumpsChecksAndRunsStatementsGivenEitherWay) {
  const std::string table1 = testing::ReadAll(FixturesDir() / "expected/access/testV1997/Table1.tsv");
  const std::tuple<const char*, const char*, std::string> cases[] = {
      {"site-small/Orvanta.mdb", "-p Morvek3 --tables",
       "CRDHLD\nCARD\nJoin_EmpAG\nJoin_EmpAuthLift\nJoin_EmpZoneID\nException\nExceptionAG\n"},
      {"site-small/Orvanta.mdb", "-p Morvek3 --dump crdhld",
       testing::ReadAll(FixturesDir() / "expected/site-small/Orvanta/CRDHLD.tsv")},
      {"site-small/Orvanta.mdb", "-p Morvek3 --check", "ok\n"},
      {"access/testV1997.mdb", "-c 'SELECT * FROM Table1'", table1},
  };
  for (const auto& [file, args, expected] : cases) {
    Result r = RunJetsql(file, args);
    EXPECT_EQ(r.status, 0) << args << ": " << r.err;
    EXPECT_EQ(r.out, expected) << args;
  }
  EXPECT_EQ(RunJetsql("access/testV1997.mdb", "", "SELECT * FROM Table1").out, table1);
}

TEST_F(Jetsql, ExamplesOfTheHelpRunAsWritten) {
  Result help = RunJetsql("", "--help");
  EXPECT_EQ(help.status, 0);
  std::string text = std::regex_replace(help.out, std::regex("\\n +"), " ");
  std::smatch m;
  int examples = 0;
  for (auto it = text.cbegin(); std::regex_search(it, text.cend(), m, std::regex("jetsql (\\w+\\.mdb)[^\"]*(\"[^\"]*\")"));
       it = m.suffix().first, ++examples) {
    Result r = RunJetsql("site-small/" + m[1].str(), "-p Morvek3 -c " + m[2].str());
    EXPECT_EQ(r.status, 0) << m[2] << ": " << r.err;
    EXPECT_GT(std::count(r.out.begin(), r.out.end(), '\n'), 2) << m[2];
  }
  EXPECT_EQ(examples, 2);
}

TEST_F(Jetsql, ErrorsGoToStandardErrorWithTheirNumber) {
  Result missing = RunJetsql("", "/nonexistent/x.mdb --tables");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err.rfind("jetsql: error -2147467259: ", 0), 0u) << missing.err;
  EXPECT_NE(missing.err.find("/nonexistent/x.mdb"), std::string::npos);

  Result wrong = RunJetsql("site-ri/Orvanta.mdb", "-p Secret1 --tables");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err.rfind("jetsql: error -2147217843: ", 0), 0u) << wrong.err;
  EXPECT_EQ(wrong.err.find("Secret1"), std::string::npos);

  Result unknown = RunJetsql("access/testV1997.mdb", "--dump NoSuchTable");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("NoSuchTable"), std::string::npos);

  EXPECT_EQ(RunJetsql("", "").status, 2);
}

// A DELETE or INSERT opens the file for writing and commits; a query or a refused
// statement leaves it untouched.
TEST_F(Jetsql, ChangesAreCommittedQueriesLeaveTheFileAlone) {
  TempDir dir;
  const std::string path = testing::MakeEventDatabase(dir.path() / "events.mdb", 300);
  const std::string original = testing::ReadAll(path);
  auto jetsql = [&](const std::string& sql) {
    Result r = RunJetsql(path, "-t 30 -c " + testing::ShellQuote(sql));
    return std::make_pair(r.status, r.out);
  };
  EXPECT_EQ(jetsql("SELECT COUNT(*) FROM Log WHERE ID <= 100"), std::make_pair(0, std::string("Expr1000\n100\n")));
  EXPECT_EQ(testing::ReadAll(path), original);
  Result refused = RunJetsql(path, "-c 'DELETE FROM Log WHERE Nothing = 1'");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Nothing"), std::string::npos) << refused.err;
  EXPECT_EQ(testing::ReadAll(path), original);

  EXPECT_EQ(jetsql("  delete from Log where ID <= 100"), std::make_pair(0, std::string("100\n")));
  EXPECT_EQ(jetsql("INSERT INTO Log (Badge) VALUES ('X1')"), std::make_pair(0, std::string("1\n")));
  EXPECT_EQ(jetsql("SELECT ID, Badge FROM Log WHERE ID > 300").second, "ID\tBadge\n301\tX1\n");
  EXPECT_EQ(jetsql("SELECT COUNT(*) FROM Log").second, "Expr1000\n201\n");
  EXPECT_EQ(testing::FolderContents(dir.path()), std::vector<std::string>{"events.mdb"});
}

}  // namespace
}  // namespace jet
