// jetsql changing a file: a DELETE or INSERT opens it for writing and commits; a query
// leaves it untouched; errors come back as a status of 1 with nothing changed.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "write_support.h"

namespace jet {
namespace {

using testing::TempDir;

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome Jetsql(const TempDir& dir, const std::string& args) {
  std::string out = (dir.path() / "out.txt").string(), err = (dir.path() / "err.txt").string();
  int raw = std::system((std::string(JETSQL_BINARY) + " " + args + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
  Outcome o;
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  o.out = testing::ReadAll(out);
  o.err = testing::ReadAll(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return o;
}

TEST(WriteJetsql, ChangesAreCommittedQueriesLeaveTheFileAlone) {
  ASSERT_FALSE(std::string(JETSQL_BINARY).empty()) << "jetsql was not built";
  TempDir dir;
  std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(path, 300);
  std::string original = testing::ReadAll(path);
  std::string file = "'" + path + "'";

  Outcome q = Jetsql(dir, file + " -c 'SELECT COUNT(*) FROM Log WHERE ID <= 100'");
  EXPECT_EQ(q.status, 0) << q.err;
  EXPECT_EQ(q.out, "Expr1000\n100\n");
  EXPECT_EQ(testing::ReadAll(path), original);

  Outcome bad = Jetsql(dir, file + " -c 'DELETE FROM Log WHERE Nothing = 1'");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("Nothing"), std::string::npos) << bad.err;
  EXPECT_EQ(testing::ReadAll(path), original);

  Outcome d = Jetsql(dir, file + " -t 30 -c '  delete from Log where ID <= 100'");
  EXPECT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(d.out, "100\n");
  Outcome i = Jetsql(dir, file + " -c \"INSERT INTO Log (Badge) VALUES ('X1')\"");
  EXPECT_EQ(i.status, 0) << i.err;
  EXPECT_EQ(i.out, "1\n");
  Outcome after = Jetsql(dir, file + " -c 'SELECT ID, Badge FROM Log WHERE ID > 300'");
  EXPECT_EQ(after.out, "ID\tBadge\n301\tX1\n");
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"events.mdb"});
}

}  // namespace
}  // namespace jet
