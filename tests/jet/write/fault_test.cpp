// Every read, write and sync of a statement failing in turn, and the disk filling up: the
// statement is reported failed with the file as it was and no journal, or done and whole.

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

class WriteFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::MakeEventDatabase(pristine_, 3000);
    original_ = testing::ReadAll(pristine_);
    Reset();
  }
  // Removed first: the Windows C++ runtime's copy_file does not overwrite.
  void Reset() {
    fs::remove(path_);
    fs::copy_file(pristine_, path_);
  }
  std::unique_ptr<Session> Open() {
    // A small budget for changed pages: they reach the file before the commit.
    return Session::Open(path_, {.password = "", .read_write = true, .change_memory = 64 * 1024, .env = &env_});
  }

  testing::TempDir dir_;
  const std::string pristine_ = (dir_.path() / "pristine.mdb").string(), path_ = (dir_.path() / "events.mdb").string();
  std::string original_;
  testing::FaultEnv env_;
};

TEST_F(WriteFaults, EveryFailingCallOfAStatementLeavesTheFileAsItWas) {
  // How many calls of each kind an undisturbed statement makes.
  std::uint64_t calls[3];
  std::int64_t deleted = 0;
  {
    auto session = Open();
    env_.Disarm();
    deleted = session->Execute(kDelete).affected;
    for (Op op : {Op::Read, Op::Write, Op::Sync}) calls[static_cast<int>(op)] = env_.Count(op);
  }
  ASSERT_GT(deleted, 0);
  const std::string changed = testing::ReadAll(path_);
  ASSERT_GT(calls[static_cast<int>(Op::Write)], 3u);
  ASSERT_GT(calls[static_cast<int>(Op::Sync)], 1u);

  const struct {
    Op op;
    Kind kind;
    const char* name;
  } faults[] = {{Op::Read, Kind::IoError, "read"},
                {Op::Write, Kind::IoError, "write"},
                {Op::Sync, Kind::IoError, "sync"},
                {Op::Write, Kind::DiskFull, "full disk"}};
  int failures = 0;
  for (const auto& fault : faults) {
    const std::uint64_t total = calls[static_cast<int>(fault.op)];
    for (std::uint64_t n = 1; n <= total; ++n) {
      SCOPED_TRACE(std::string(fault.name) + " failing at call " + std::to_string(n) + " of " + std::to_string(total));
      Reset();
      bool done = false;
      {
        auto session = Open();
        env_.Arm(fault.op, n, fault.kind);
        try {
          done = session->Execute(kDelete).affected == deleted;
        } catch (const Error& e) {
          ++failures;
          EXPECT_EQ(e.code(), ErrorCode::Io) << e.what();
          EXPECT_NE(std::string(e.what()).find(dir_.path().string()), std::string::npos) << e.what();
          // The session goes on working after a failed statement.
          env_.Disarm();
          EXPECT_NO_THROW(session->Execute("SELECT COUNT(*) FROM Log"));
        }
      }
      // The disk may still be full: the statement was undone from what the journal had
      // made durable, without writing anything more to it.
      EXPECT_FALSE(fs::exists(path_ + "-journal"));
      ASSERT_TRUE(testing::ReadAll(path_) == (done ? changed : original_))
          << (done ? "the statement reported success but its change is not all there"
                   : "the failed statement left the file changed");
      env_.Disarm();
    }
  }
  EXPECT_GT(failures, 10);
}

// Where the room a statement needs is known before pages are written, it fails at once.
TEST_F(WriteFaults, FullDiskIsNamedBeforeAnyPageIsWritten) {
  auto session = Open();
  env_.FillDisk();
  testing::ExpectJetError(ErrorCode::Io, "Not enough free space in folder '" + dir_.path().string() + "'",
                          [&] { session->Execute(kDelete); });
  session.reset();
  EXPECT_EQ(testing::ReadAll(path_), original_);
  EXPECT_FALSE(fs::exists(path_ + "-journal"));
}

}  // namespace
}  // namespace jet
