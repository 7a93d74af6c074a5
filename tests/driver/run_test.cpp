// The run sequence from start to end against a fake platform and fake connections:
// what goes out to the databases, and what the log holds afterwards.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "driver/job.h"
#include "support/fake_platform.h"

namespace scourex {
namespace {

using ::testing::ElementsAre;
using testing::FakePlatform;

struct FakeServer {
  std::vector<std::string> opens;     // connection texts
  std::vector<std::string> commands;  // as received
  std::vector<int> timeouts;
  bool refuse_open = false;
  long affected = 3;
  std::string failing;  // commands containing this text fail
};

class FakeConnection : public db::Connection {
 public:
  explicit FakeConnection(FakeServer& server) : server_(server) {}
  void SetCommandTimeout(int seconds) override { server_.timeouts.push_back(seconds); }
  void Open(const std::string& text, const std::string&, const std::string&) override {
    server_.opens.push_back(text);
    if (server_.refuse_open || text.empty()) throw Error(-2147467259, "cannot open '" + text + "'");
    open_ = true;
  }
  void Execute(const std::string& command, long* affected) override {
    server_.commands.push_back(command);
    if (!open_) throw Error(-2147467259, "The connection is not open");
    if (!server_.failing.empty() && command.find(server_.failing) != std::string::npos) {
      throw Error(-2147217865, "no such table");
    }
    if (affected) *affected = server_.affected;
  }

 private:
  FakeServer& server_;
  bool open_ = false;
};

struct RunFixture : ::testing::Test {
  FakePlatform platform;
  FakeServer server;
  int status = -1;

  RunFixture() { platform.files["/opt/site/Orvanta.nam"] = ""; }
  void Options(const std::string& text) { platform.files["/opt/site/Orvanta.ini"] = text; }
  std::vector<std::string> Run() {
    Job job(platform, [this] { return std::make_unique<FakeConnection>(server); });
    status = FormLoad(job);
    std::vector<std::string> lines;
    for (const auto& line : platform.Lines("/opt/site/Scourex.log")) lines.push_back(line.size() >= 20 ? line.substr(20) : line);
    return lines;
  }
};

const char* kMissingOwnOptions = "*** Error #  53 - File not found *** Options ReAdoptions";

TEST_F(RunFixture, SwitchesShapeTheCommands) {
  Options("DBType=2\r\nSQL_Connect=DSN=site\r\nVisitorCheckCreationDate=2\r\nDeleteAlsoCardholder=1\r\n"
          "DatabaseTimeout=-1\r\nEventMonths=0\r\n");
  platform.files["/opt/site/scourex.ini"] = "VisitorMonths=1\r\nLogFile=run.log\r\n";
  platform.now = {2026, 3, 31, 23, 59, 58};
  Run();
  EXPECT_THAT(server.opens, ElementsAre("DSN=site", "DSN=site"));
  EXPECT_TRUE(server.timeouts.empty());
  ASSERT_EQ(server.commands.size(), 7u);
  EXPECT_EQ(server.commands[0],
            "DELETE FROM CARD Where Owner in (Select ID From CRDHLD Where ([Valid] = 0) and ([Loc_Date]< "
            "'2026-02-28 23:59:58' or [Loc_Date] is NULL))");
  EXPECT_EQ(server.commands[6],
            "DELETE From CRDHLD Where ([Valid] = 0) and ([Loc_Date]< '2026-02-28 23:59:58' or [Loc_Date] is NULL)");
  EXPECT_THAT(platform.Lines("/opt/site/run.log")[2], ::testing::EndsWith(" Total Cardholder Deleted 3"));
}

TEST_F(RunFixture, ClosedDatabasesReportEveryStepAndTheRunEnds) {
  Options("DBType=1\r\n");
  server.refuse_open = true;
  auto lines = Run();
  EXPECT_EQ(status, 1);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[1], "*** Error # -2147467259 - cannot open '" + server.opens[0] + "' *** Scourex Form_Load");
  EXPECT_EQ(lines[3], " Start Application Scourex  ");
  EXPECT_EQ(lines[4], "*** Error # -2147467259 - The connection is not open *** Scourex DeleteVisitorsDelete the badges");
  EXPECT_EQ(lines[5], " Total Badges Deleted 0");
  EXPECT_EQ(lines[6], "*** Error # -2147467259 - The connection is not open *** Scourex DeleteVisitorsDelete the Multi AG");
  EXPECT_EQ(lines[9], "*** Error # -2147467259 - The connection is not open *** Scourex DeleteVisitorsDelete the Execptions");
  EXPECT_EQ(lines[11],
            "*** Error # -2147467259 - The connection is not open *** Scourex DeleteVisitorsDelete the Visitors themselves");
  EXPECT_EQ(lines[12], " Total Visitor Deleted 0");
  EXPECT_EQ(lines[13], "*** Error # -2147467259 - The connection is not open *** Scourex DeleteEvents");
  EXPECT_EQ(lines[14], " Total Events Deleted 0");
  EXPECT_EQ(lines[15], " Stop Application Scourex  ");
}

TEST_F(RunFixture, AFailedStepLeavesTheOthersToRun) {
  Options("DBType=1\r\nEventMonths=-1\r\n");
  server.failing = "Join_EmpAuthLift";
  auto lines = Run();
  EXPECT_EQ(status, 1);
  EXPECT_THAT(lines, ElementsAre(kMissingOwnOptions, " Start Application Scourex  ", " Total Badges Deleted 3",
                                 "*** Error # -2147217865 - no such table *** Scourex DeleteVisitorsDelete the Multi Lift",
                                 " Total Visitor Deleted 3", " Stop Application Scourex  ", ""));
  EXPECT_EQ(server.commands.size(), 7u);
  EXPECT_THAT(server.timeouts, ElementsAre(0, 0));  // no limit unless the options set one
}

TEST_F(RunFixture, WithoutOptionsNoConnectionTextIsBuilt) {
  platform.files.clear();  // no marker either: the options file is ".ini"
  auto lines = Run();
  EXPECT_THAT(server.opens, ElementsAre("", ""));
  EXPECT_EQ(lines[0], "*** Error #  53 - File not found *** Options ReAdoptions");
  EXPECT_EQ(lines[1], kMissingOwnOptions);
  EXPECT_EQ(lines[4], " Start Application Scourex  ");
  EXPECT_EQ(status, 1);
}

TEST_F(RunFixture, ACutoffBeforeTheYear100FallsBackToTheZeroDate) {
  Options("DBType=1\r\nVisitorMonths=32767\r\nEventMonths=0\r\n");
  auto lines = Run();
  EXPECT_EQ(lines[2], "*** Error # 5 - Invalid procedure call or argument *** Scourex DeleteVisitors");
  EXPECT_EQ(server.commands[0],
            "DELETE FROM CARD Where Owner in (Select ID From CRDHLD Where ([type] = 0) and ([Valid] = 0) and "
            "([From_Date]< #12/30/1899 00:00# or [From_Date] is NULL))");
}

}  // namespace
}  // namespace scourex
