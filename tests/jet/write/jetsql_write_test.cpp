// jetsql changing a file: a DELETE or INSERT opens it for writing and commits; a query
// leaves it untouched; errors come back as a status of 1 with nothing changed.

#include <gtest/gtest.h>

#include "write_support.h"

namespace jet {
namespace {

using testing::TempDir;

TEST(WriteJetsql, ChangesAreCommittedQueriesLeaveTheFileAlone) {
  ASSERT_FALSE(std::string(JETSQL_BINARY).empty()) << "jetsql was not built";
  TempDir dir, out;
  const std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(path, 300);
  const std::string original = testing::ReadAll(path);
  // Standard output, and the status; standard error in *err.
  auto jetsql = [&](const std::string& sql, std::string* err = nullptr) {
    const std::string err_file = (out.path() / "err.txt").string();
    int status = 0;
    std::string printed = testing::Shell(std::string(JETSQL_BINARY) + " " + testing::ShellQuote(path) + " -t 30 -c " +
                                             testing::ShellQuote(sql) + " 2>" + testing::ShellQuote(err_file) + " </dev/null",
                                         &status);
    if (err != nullptr) *err = testing::ReadAll(err_file);
    return std::make_pair(status, printed);
  };

  EXPECT_EQ(jetsql("SELECT COUNT(*) FROM Log WHERE ID <= 100"), std::make_pair(0, std::string("Expr1000\n100\n")));
  EXPECT_EQ(testing::ReadAll(path), original);
  std::string err;
  EXPECT_EQ(jetsql("DELETE FROM Log WHERE Nothing = 1", &err).first, 1);
  EXPECT_NE(err.find("Nothing"), std::string::npos) << err;
  EXPECT_EQ(testing::ReadAll(path), original);

  EXPECT_EQ(jetsql("  delete from Log where ID <= 100"), std::make_pair(0, std::string("100\n")));
  EXPECT_EQ(jetsql("INSERT INTO Log (Badge) VALUES ('X1')"), std::make_pair(0, std::string("1\n")));
  EXPECT_EQ(jetsql("SELECT ID, Badge FROM Log WHERE ID > 300").second, "ID\tBadge\n301\tX1\n");
  EXPECT_EQ(jetsql("SELECT COUNT(*) FROM Log").second, "Expr1000\n201\n");
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"events.mdb"});
}

}  // namespace
}  // namespace jet
