// The jetsql tool end to end: listing tables, dumping a table as the expected TSV,
// running a statement, and reporting errors on standard error with status 1.

#include <gtest/gtest.h>

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
