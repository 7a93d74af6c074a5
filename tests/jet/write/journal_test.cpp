// All or nothing: statements interrupted at every durable step (by a failure, by the
// process ending at that step) leave the file with all of the statement or none of it
// once it is opened again; journals that were never completely written are discarded,
// damaged ones and those of a file changed since by another program refused.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "../fault_env.h"
#include "jet/pager/journal.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing::ExpectConsistent;
using testing::Lines;
using testing::RowsOf;
using testing::TempDir;
using Op = testing::FaultEnv::Op;
using Kind = testing::FaultEnv::Kind;

constexpr const char* kDelete = "DELETE FROM Log WHERE [Date] < 45020 OR Badge LIKE 'B1*'";
constexpr std::size_t kSmallMemory = 64 * 1024;  // pages reach the file long before commit

struct Scenario {
  TempDir dir;
  std::string pristine, path;
  std::multiset<std::string> before, after;

  explicit Scenario(int rows) {
    pristine = (dir.path() / "pristine.mdb").string();
    path = (dir.path() / "events.mdb").string();
    testing::MakeEventDatabase(pristine, rows);
    fs::copy_file(pristine, path);
    before = Lines(RowsOf(*Database::Open(pristine), "Log"));
    auto s = Session::Open(path, {.password = "", .read_write = true, .change_memory = kSmallMemory});
    s->Execute(kDelete);
    after = Lines(RowsOf(s->database(), "Log"));
    s.reset();
    EXPECT_LT(after.size(), before.size());
    EXPECT_GT(after.size(), 0u);
  }
  void Reset() { fs::copy_file(pristine, path, fs::copy_options::overwrite_existing); }

  // Runs the delete (through `through`, the file's path by default) in a child process
  // that ends at the `n`-th step changing the disk; returns the child's exit status.
  int RunChild(std::uint64_t n, const std::string& through = {}) {
    pid_t pid = fork();
    if (pid == 0) {
      int code = 0;
      try {
        testing::FaultEnv env;
        auto s = Session::Open(through.empty() ? path : through,
                               {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
        if (n != 0) env.Arm(Op::Step, n, Kind::Exit);
        s->Execute(kDelete);
      } catch (...) {
        code = 1;
      }
      _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  // Opened again, the file holds the statement completely or not at all.
  void ExpectAllOrNothing(const std::string& what) {
    SCOPED_TRACE(what);
    auto db = Database::Open(path, {.password = "", .read_write = true});
    EXPECT_FALSE(fs::exists(path + "-journal"));
    auto rows = Lines(RowsOf(*db, "Log"));
    EXPECT_TRUE(rows == before || rows == after) << rows.size() << " rows";
    ExpectConsistent(*db);
  }
};

std::uint64_t StepsOfTheDelete(Scenario& s) {
  s.Reset();
  testing::FaultEnv env;
  auto session = Session::Open(s.path, {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
  env.Disarm();
  session->Execute(kDelete);
  return env.Count(Op::Step);
}

TEST(WriteJournal, ProcessEndingAtEachDurableStep) {
  Scenario s(3000);
  const std::uint64_t steps = StepsOfTheDelete(s);
  ASSERT_GT(steps, 20u);
  int ended = 0;
  for (std::uint64_t n = 1; n <= steps + 1; n += (n < 12 || n + 12 > steps ? 1 : 7)) {
    s.Reset();
    int status = s.RunChild(n);
    if (n <= steps) {
      EXPECT_EQ(status, testing::FaultEnv::kExitStatus) << "step " << n;
      ++ended;
    }
    s.ExpectAllOrNothing("ended at step " + std::to_string(n) + " of " + std::to_string(steps));
  }
  EXPECT_GT(ended, 20);
  if (testing::HaveMdbtools()) {
    EXPECT_EQ(testing::MdbExportFirstColumn(s.path, "Log").size(), s.after.size());
  }
}

TEST(WriteJournal, UnfinishedJournalsAreDiscardedDamagedOnesRefused) {
  Scenario s(3000);
  const std::string original = testing::ReadAll(s.pristine);
  const std::string journal = s.path + "-journal";

  // Killed while the journal was being written: nothing was relied on.
  for (const std::string& junk : {std::string(), std::string(100, 'x'), std::string("ScxJetJ\x01") + std::string(600, '\0')}) {
    s.Reset();
    testing::WriteAll(journal, junk);
    s.ExpectAllOrNothing("junk journal of " + std::to_string(junk.size()) + " bytes");
    EXPECT_EQ(testing::ReadAll(s.path), original);
  }

  // Ended right after the journal was sealed (its first header copy, at 64, written),
  // before any page of the database was written: playing it back changes nothing.
  std::string sealed;
  for (std::uint64_t n = 1; n < 60 && sealed.empty(); ++n) {
    s.Reset();
    s.RunChild(n);
    std::string j = fs::exists(journal) ? testing::ReadAll(journal) : std::string();
    if (j.size() > 4096 && j.compare(64, 8, "ScxJetJ\x01") == 0) sealed = j;
  }
  ASSERT_FALSE(sealed.empty());
  EXPECT_EQ(testing::ReadAll(s.path), original);
  Database::Open(s.path, {.password = "", .read_write = true}).reset();
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_EQ(testing::ReadAll(s.path), original);

  // The same journal with a damaged page record is refused and kept.
  std::string damaged = sealed;
  damaged[512 + 100] = static_cast<char>(damaged[512 + 100] ^ 0x55);
  testing::WriteAll(journal, damaged);
  try {
    Database::Open(s.path, {.password = "", .read_write = true});
    ADD_FAILURE() << "opened through a damaged journal";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ErrorCode::Corrupt);
    EXPECT_NE(std::string(e.what()).find(journal), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::exists(journal));
  EXPECT_EQ(testing::ReadAll(s.path), original);
  fs::remove(journal);
}

TEST(WriteJournal, ReadOnlyOpeningUndoesAnInterruptedStatementFirst) {
  Scenario s(3000);
  const std::uint64_t steps = StepsOfTheDelete(s);
  s.Reset();
  // Past the first pages written, before the commit.
  EXPECT_EQ(s.RunChild(steps - 5), testing::FaultEnv::kExitStatus);
  ASSERT_TRUE(fs::exists(s.path + "-journal"));
  ASSERT_NE(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
  auto db = Database::Open(s.path);
  EXPECT_FALSE(fs::exists(s.path + "-journal"));
  EXPECT_EQ(Lines(RowsOf(*db, "Log")), s.before);
  db.reset();
  EXPECT_EQ(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
}

// A run ended while writing pages, then the file changed by another program: the next
// opening refuses, names both files and changes neither.
TEST(WriteJournal, JournalOfAFileChangedSinceIsRefused) {
  Scenario s(3000);
  const std::uint64_t steps = StepsOfTheDelete(s);
  const std::string journal = s.path + "-journal", aside = s.path + "-aside";
  // An older backup: the file before some other rows went.
  const std::string backup = (s.dir.path() / "backup.mdb").string();
  fs::copy_file(s.pristine, backup);
  Session::Open(backup, {.password = "", .read_write = true})->Execute("DELETE FROM Log WHERE ID > 2990");

  auto foreign_writer = [&] {
    fs::rename(journal, aside);
    Session::Open(s.path, {.password = "", .read_write = true})->Execute("DELETE FROM Log WHERE ID > 2990");
    fs::rename(aside, journal);
  };
  auto backup_restored = [&] { fs::copy_file(backup, s.path, fs::copy_options::overwrite_existing); };
  for (const auto& change : {std::function<void()>(foreign_writer), std::function<void()>(backup_restored)}) {
    s.Reset();
    ASSERT_EQ(s.RunChild(steps - 5), testing::FaultEnv::kExitStatus);
    change();
    const std::string file_bytes = testing::ReadAll(s.path), journal_bytes = testing::ReadAll(journal);
    for (bool read_write : {true, false}) {
      try {
        Database::Open(s.path, {.password = "", .read_write = read_write});
        ADD_FAILURE() << "opened a file changed since its journal was written";
      } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::Corrupt);
        EXPECT_NE(std::string(e.what()).find("'" + s.path + "' and its journal '" + journal + "'"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("move the journal away"), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(testing::ReadAll(s.path), file_bytes);
    EXPECT_EQ(testing::ReadAll(journal), journal_bytes);
  }
  fs::remove(journal);
}

// Reached through a symbolic link, the file keeps its journal beside the real file,
// where a program opening it by its real path finds it.
TEST(WriteJournal, JournalLivesBesideTheRealFile) {
  Scenario s(3000);
  const std::uint64_t steps = StepsOfTheDelete(s);
  s.Reset();
  TempDir elsewhere;
  const std::string link = (elsewhere.path() / "linked.mdb").string();
  fs::create_symlink(s.path, link);
  ASSERT_EQ(s.RunChild(steps - 5, link), testing::FaultEnv::kExitStatus);
  EXPECT_FALSE(fs::exists(link + "-journal"));
  ASSERT_TRUE(fs::exists(s.path + "-journal"));
  EXPECT_EQ(Lines(RowsOf(*Database::Open(s.path), "Log")), s.before);
  EXPECT_FALSE(fs::exists(s.path + "-journal"));
  EXPECT_EQ(testing::ReadAll(s.path), testing::ReadAll(s.pristine));
  if (testing::HaveMdbtools()) {
    EXPECT_EQ(testing::MdbExportFirstColumn(s.path, "Log").size(), s.before.size());
  }
}

TEST(WriteJournal, TimeoutRollsBack) {
  Scenario s(6000);
  s.Reset();
  const std::string original = testing::ReadAll(s.path);
  {
    auto db = Database::Open(s.path, {.password = "", .read_write = true, .change_memory = kSmallMemory});
    Table* log = db->GetTable("Log");
    std::vector<RowId> ids;
    log->Scan({}, [&](RowId id, const Row&) {
      ids.push_back(id);
      return true;
    });
    db->BeginStatement(1e-9);
    try {
      log->DeleteRows(ids);
      ADD_FAILURE() << "no timeout";
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ErrorCode::Timeout);
      EXPECT_EQ(e.number(), -2147217871);
    }
    db->RollbackStatement();
    EXPECT_EQ(Lines(RowsOf(*log)), s.before);
  }
  auto session = Session::Open(s.path, {.password = "", .read_write = true});
  EXPECT_THROW(session->Execute("DELETE FROM Log", {.timeout_seconds = 1e-9}), Error);
  EXPECT_FALSE(fs::exists(s.path + "-journal"));
  session.reset();
  EXPECT_EQ(testing::ReadAll(s.path), original);
}

}  // namespace
}  // namespace jet
