// A statement whose file calls fail: every read, write and sync in turn fails with an
// input/output error, and the disk fills up at every write in turn and stays full. Each
// time the statement reports the failure and the file is exactly as it was before the
// statement, with no journal left, already before it is opened again; a call that fails
// once the change is on disk (reading the changed definitions back) leaves it done and
// reported as done.

#include <gtest/gtest.h>

#include <filesystem>

#include "../fault_env.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using Op = testing::FaultEnv::Op;
using Kind = testing::FaultEnv::Kind;

constexpr const char* kDelete = "DELETE FROM Log WHERE [Date] < 45020 OR Badge LIKE 'B1*'";
constexpr std::size_t kSmallMemory = 64 * 1024;  // changed pages reach the file before commit

struct Fault {
  Op op;
  Kind kind;
  const char* name;
};

TEST(WriteFaults, EveryFailingCallOfAStatementLeavesTheFileAsItWas) {
  testing::TempDir dir;
  const std::string pristine = (dir.path() / "pristine.mdb").string();
  const std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(pristine, 3000);
  const std::string original = testing::ReadAll(pristine);
  testing::FaultEnv env;
  // Removed first: the Windows C++ runtime's copy_file does not overwrite.
  auto reset = [&] {
    fs::remove(path);
    fs::copy_file(pristine, path);
  };
  auto open = [&] {
    return Session::Open(path, {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
  };

  // How many calls of each kind an undisturbed statement makes.
  reset();
  std::uint64_t calls[3];
  std::int64_t deleted = 0;
  {
    auto session = open();
    env.Disarm();
    deleted = session->Execute(kDelete).affected;
    for (Op op : {Op::Read, Op::Write, Op::Sync}) calls[static_cast<int>(op)] = env.Count(op);
  }
  ASSERT_GT(deleted, 0);
  const std::string changed = testing::ReadAll(path);
  ASSERT_GT(calls[static_cast<int>(Op::Write)], 3u);
  ASSERT_GT(calls[static_cast<int>(Op::Sync)], 1u);

  int failures = 0;
  for (const Fault& fault : {Fault{Op::Read, Kind::IoError, "read"}, Fault{Op::Write, Kind::IoError, "write"},
                             Fault{Op::Sync, Kind::IoError, "sync"}, Fault{Op::Write, Kind::DiskFull, "full disk"}}) {
    const std::uint64_t total = calls[static_cast<int>(fault.op)];
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(std::string(fault.name) + " failing at call " + std::to_string(n) + " of " + std::to_string(total));
      reset();
      bool done = false;
      {
        auto session = open();
        env.Arm(fault.op, n, fault.kind);
        try {
          done = session->Execute(kDelete).affected == deleted;
        } catch (const Error& e) {
          ++failures;
          EXPECT_EQ(e.code(), ErrorCode::Io) << e.what();
          EXPECT_NE(std::string(e.what()).find(dir.path().string()), std::string::npos) << e.what();
          // The session goes on working after a failed statement.
          env.Disarm();
          EXPECT_NO_THROW(session->Execute("SELECT COUNT(*) FROM Log"));
        }
      }
      // The disk may still be full: the statement was undone from what the journal had
      // made durable, without writing anything more to it.
      EXPECT_FALSE(fs::exists(path + "-journal"));
      ASSERT_TRUE(testing::ReadAll(path) == (done ? changed : original))
          << (done ? "the statement reported success but its change is not all there"
                   : "the failed statement left the file changed");
      env.Disarm();
    }
  }
  EXPECT_GT(failures, 10);
}

// Where the room a statement needs is known before pages are written, it fails at once.
TEST(WriteFaults, FullDiskIsNamedBeforeAnyPageIsWritten) {
  testing::TempDir dir;
  const std::string path = (dir.path() / "events.mdb").string();
  testing::MakeEventDatabase(path, 3000);
  const std::string original = testing::ReadAll(path);
  testing::FaultEnv env;
  auto session = Session::Open(path, {.password = "", .read_write = true, .change_memory = kSmallMemory, .env = &env});
  env.FillDisk();
  try {
    session->Execute(kDelete);
    ADD_FAILURE() << "the statement went ahead on a full disk";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Not enough free space in folder '" + dir.path().string() + "'", 0), 0u)
        << e.what();
  }
  EXPECT_EQ(testing::ReadAll(path), original);
  EXPECT_FALSE(fs::exists(path + "-journal"));
}

}  // namespace
}  // namespace jet
