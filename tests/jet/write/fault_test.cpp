// A statement whose file calls fail one at a time: every read, write and sync in turn
// fails with an input/output error, and every write in turn meets a full disk that takes
// half of it. Each time the statement reports the failure, and after reopening the file
// is exactly as it was before the statement; a call that fails once the change is on disk
// (reading the changed definitions back) leaves it done and reported as done.

#include <gtest/gtest.h>

#include <filesystem>

#include "jet/os/faults.h"
#include "jet/session.h"
#include "write_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using os::faults::Kind;
using os::faults::Op;

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
  // Removed first: the Windows C++ runtime's copy_file does not overwrite.
  auto reset = [&] {
    fs::remove(path);
    fs::copy_file(pristine, path);
  };
  auto open = [&] { return Session::Open(path, {.password = "", .read_write = true, .change_memory = kSmallMemory}); };

  // How many calls of each kind an undisturbed statement makes.
  reset();
  std::uint64_t calls[3];
  std::int64_t deleted = 0;
  {
    auto session = open();
    os::faults::Disarm();
    deleted = session->Execute(kDelete).affected;
    for (Op op : {Op::Read, Op::Write, Op::Sync}) calls[static_cast<int>(op)] = os::faults::Count(op);
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
        os::faults::Arm(fault.op, n, fault.kind);
        try {
          done = session->Execute(kDelete).affected == deleted;
        } catch (const Error& e) {
          ++failures;
          EXPECT_EQ(e.code(), ErrorCode::Io) << e.what();
          EXPECT_NE(std::string(e.what()).find(dir.path().string()), std::string::npos) << e.what();
        }
        os::faults::Disarm();
      }
      // The next opening undoes whatever the failed statement left behind.
      open().reset();
      EXPECT_FALSE(fs::exists(path + "-journal"));
      ASSERT_TRUE(testing::ReadAll(path) == (done ? changed : original))
          << (done ? "the statement reported success but its change is not all there"
                   : "the failed statement left the file changed");
    }
  }
  EXPECT_GT(failures, 10);
}

}  // namespace
}  // namespace jet
