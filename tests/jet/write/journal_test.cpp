// All or nothing when the process ends at any durable step; unfinished journals are
// discarded, damaged ones and those of a file changed since are refused.

#include <gtest/gtest.h>

#include <functional>

#include "../fault_env.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::ExpectJetError;
using testing::Lines;
using testing::RowsOf;
using testing::TempDir;
using Op = testing::FaultEnv::Op;

constexpr const char* kDelete = "DELETE FROM Log WHERE [Date] < 45020 OR Badge LIKE 'B1*'";
constexpr std::size_t kSmallMemory = 64 * 1024;  // pages reach the file long before commit
const OpenOptions kWrite{.password = "", .read_write = true};

// A journal of 3000 events, its rows before and after the delete, and how many steps
// changing the disk the delete takes.
struct Scenario {
  TempDir dir;
  std::string pristine = (dir.path() / "pristine.mdb").string(), path = (dir.path() / "events.mdb").string();
  std::string journal = path + "-journal";
  std::multiset<std::string> before, after;
  std::uint64_t steps = 0;

  Scenario() {
    testing::MakeEventDatabase(pristine, 3000);
    before = Lines(RowsOf(*Database::Open(pristine), "Log"));
    Reset();
    testing::FaultEnv env;
    auto s = Session::Open(path, {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
    env.Disarm();
    s->Execute(kDelete);
    steps = env.Count(Op::Step);
    after = Lines(RowsOf(s->database(), "Log"));
    EXPECT_LT(after.size(), before.size());
    EXPECT_GT(after.size(), 0u);
    EXPECT_GT(steps, 20u);
  }
  void Reset() { fs::copy_file(pristine, path, fs::copy_options::overwrite_existing); }

  // Runs the delete on a fresh copy (through `through`, the file's path by default) in a
  // child process that ends at the `n`-th step changing the disk; the child's exit status.
  int RunChild(std::uint64_t n, const std::string& through = {}) {
    Reset();
    return testing::InChild([&](std::string&) {
      try {
        testing::FaultEnv env;
        auto s = Session::Open(through.empty() ? path : through,
                               {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
        if (n != 0) env.Arm(Op::Step, n, testing::FaultEnv::Kind::Exit);
        s->Execute(kDelete);
      } catch (...) {
        return 1;
      }
      return 0;
    });
  }
};

TEST(WriteJournal, ProcessEndingAtEachDurableStep) {
  Scenario s;
  for (std::uint64_t n = 1; n <= s.steps + 1; n += (n < 12 || n + 12 > s.steps ? 1 : 7)) {
    SCOPED_TRACE("ended at step " + std::to_string(n) + " of " + std::to_string(s.steps));
    EXPECT_EQ(s.RunChild(n), n <= s.steps ? testing::FaultEnv::kExitStatus : 0);
    auto db = Database::Open(s.path, kWrite);
    EXPECT_FALSE(fs::exists(s.journal));
    auto rows = Lines(RowsOf(*db, "Log"));
    EXPECT_TRUE(rows == s.before || rows == s.after) << rows.size() << " rows";
    testing::ExpectConsistent(*db);
  }
  if (testing::HaveMdbtools()) {
    EXPECT_EQ(testing::MdbExportFirstColumn(s.path, "Log").size(), s.after.size());
  }
}

TEST(WriteJournal, UnfinishedJournalsAreDiscardedDamagedOnesRefused) {
  Scenario s;
  const std::string original = testing::ReadAll(s.pristine);
  // Killed while the journal was being written: nothing was relied on.
  for (const std::string& junk : {std::string(), std::string(100, 'x'), std::string("ScxJetJ\x01") + std::string(600, '\0')}) {
    SCOPED_TRACE("junk journal of " + std::to_string(junk.size()) + " bytes");
    s.Reset();
    testing::WriteAll(s.journal, junk);
    EXPECT_EQ(Lines(RowsOf(*Database::Open(s.path, kWrite), "Log")), s.before);
    EXPECT_FALSE(fs::exists(s.journal));
    EXPECT_EQ(testing::ReadAll(s.path), original);
  }

  // Ended right after the journal was sealed (its first header copy, at 64, written),
  // before any page of the database was written: playing it back changes nothing.
  std::string sealed;
  for (std::uint64_t n = 1; n < 60 && sealed.empty(); ++n) {
    s.RunChild(n);
    std::string j = fs::exists(s.journal) ? testing::ReadAll(s.journal) : std::string();
    if (j.size() > 4096 && j.compare(64, 8, "ScxJetJ\x01") == 0) sealed = j;
  }
  ASSERT_FALSE(sealed.empty());
  EXPECT_EQ(testing::ReadAll(s.path), original);
  Database::Open(s.path, kWrite).reset();
  EXPECT_FALSE(fs::exists(s.journal));
  EXPECT_EQ(testing::ReadAll(s.path), original);

  // The same journal with a damaged page record is refused and kept.
  sealed[512 + 100] = static_cast<char>(sealed[512 + 100] ^ 0x55);
  testing::WriteAll(s.journal, sealed);
  ExpectJetError(ErrorCode::Corrupt, s.journal, [&] { Database::Open(s.path, kWrite); });
  EXPECT_EQ(testing::ReadAll(s.journal), sealed);
  EXPECT_EQ(testing::ReadAll(s.path), original);
}

// Through a symbolic link the journal goes beside the real file, where any program finds
// it; opening only to read plays it back first.
TEST(WriteJournal, JournalBesideTheRealFileIsPlayedBackByAReaderToo) {
  Scenario s;
  TempDir elsewhere;
  const std::string link = (elsewhere.path() / "linked.mdb").string();
  fs::create_symlink(s.path, link);
  // Past the first pages written, before the commit.
  ASSERT_EQ(s.RunChild(s.steps - 5, link), testing::FaultEnv::kExitStatus);
  EXPECT_FALSE(fs::exists(link + "-journal"));
  ASSERT_TRUE(fs::exists(s.journal));
  ASSERT_NE(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
  EXPECT_EQ(Lines(RowsOf(*Database::Open(s.path), "Log")), s.before);
  EXPECT_FALSE(fs::exists(s.journal));
  EXPECT_EQ(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
}

// The file changed after an interrupted run (a writer moved the journal aside, or a backup
// was restored): the next opening refuses, names both files and changes neither.
TEST(WriteJournal, JournalOfAFileChangedSinceIsRefused) {
  Scenario s;
  const std::string aside = s.path + "-aside", backup = (s.dir.path() / "backup.mdb").string();
  fs::copy_file(s.pristine, backup);
  Session::Open(backup, kWrite)->Execute("DELETE FROM Log WHERE ID > 2990");
  auto foreign_writer = [&] {
    fs::rename(s.journal, aside);
    Session::Open(s.path, kWrite)->Execute("DELETE FROM Log WHERE ID > 2990");
    fs::rename(aside, s.journal);
  };
  auto backup_restored = [&] { fs::copy_file(backup, s.path, fs::copy_options::overwrite_existing); };
  for (const auto& change : {std::function<void()>(foreign_writer), std::function<void()>(backup_restored)}) {
    ASSERT_EQ(s.RunChild(s.steps - 5), testing::FaultEnv::kExitStatus);
    change();
    const std::string file_bytes = testing::ReadAll(s.path), journal_bytes = testing::ReadAll(s.journal);
    for (bool read_write : {true, false}) {
      ExpectJetError(ErrorCode::Corrupt, "'" + s.path + "' and its journal '" + s.journal + "'",
                     [&] { Database::Open(s.path, {.password = "", .read_write = read_write}); });
      ExpectJetError(ErrorCode::Corrupt, "move the journal away",
                     [&] { Database::Open(s.path, {.password = "", .read_write = read_write}); });
    }
    EXPECT_EQ(testing::ReadAll(s.path), file_bytes);
    EXPECT_EQ(testing::ReadAll(s.journal), journal_bytes);
    fs::remove(s.journal);
  }
}

}  // namespace
}  // namespace jet
