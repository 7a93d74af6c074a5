// The job under stress: started twice on one installation at once, and on a disk that
// fills up. (Statements ended at every durable step are the engine's journal tests.)

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <regex>

#include "support/machine.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::TempFolder;

// On a file system with too little room for the purge's journal the job fails the
// statement and names the error; the database stays byte for byte as it was and no
// journal is left. Needs a small file system of its own: mounted when running as root.
TEST(Reliability, FullDiskLeavesTheDatabaseAsItWas) {
  TempFolder mount_point;
  SCOUREX_SKIP_UNLESS_ROOT("mounts a small file system");
  ASSERT_EQ(::mount("tmpfs", mount_point.path().c_str(), "tmpfs", 0, "size=256m"), 0)
      << "cannot mount a tmpfs: " << std::strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount_point.path()};
  const fs::path site = fs::path(mount_point.path()) / "site";
  fs::create_directory(site);
  ASSERT_EQ(testing::MakeSite(site, "--seed 23 --size 200 --events 60000", "VisitorMonths=6\r\nEventMonths=3\r\n"), "");
  const std::string journal_before = ReadWholeFile(site / "Journal.mdb");

  // Leave about 256 KiB: room for the log, not for the journal of the event purge.
  struct statvfs sv {};
  ASSERT_EQ(statvfs(site.c_str(), &sv), 0);
  const std::uint64_t free_bytes = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
  ASSERT_GT(free_bytes, 512u * 1024);
  {
    int fd = open((site / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(posix_fallocate(fd, 0, static_cast<off_t>(free_bytes - 256 * 1024)), 0);
    close(fd);
  }
  EXPECT_EQ(testing::RunJob(site).status, 1);
  EXPECT_EQ(ReadWholeFile(site / "Journal.mdb"), journal_before);
  EXPECT_FALSE(fs::exists(site / "Journal.mdb-journal"));
  EXPECT_FALSE(fs::exists(site / "Orvanta.mdb-journal"));
  std::string log = ReadWholeFile(site / "Scourex.log");
  EXPECT_THAT(log, ::testing::ContainsRegex("Error # -?[0-9]+ - .*(free space|No space left)"));
}

TEST(Reliability, TwoRunsOnOneInstallation) {
  TempFolder site;
  ASSERT_EQ(testing::MakeSite(site.path(), "--seed 22 --size 2000 --events 200000", "VisitorMonths=6\r\nEventMonths=3\r\n"),
            "");
  // Two runs at once: one purges, the other fails its opens; the log's lines stay whole.
  const std::string job = testing::ShellQuote(site / "scourex") + " >/dev/null 2>&1; echo $?";
  const std::string statuses = testing::RunCommand("cd / && { (" + job + ") & (" + job + ") & wait; }").out;
  EXPECT_TRUE(statuses == "0\n1\n" || statuses == "1\n0\n") << statuses;
  std::string log = ReadWholeFile(site / "Scourex.log");
  const std::regex line_layout(
      "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d( \\*\\*\\* Error # -?\\d+ - .* \\*\\*\\* .*|  .*)?");
  int lines = 0, refusals = 0;
  for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2, ++lines) {
    std::string line = log.substr(at, end - at);
    EXPECT_TRUE(line.empty() || std::regex_match(line, line_layout)) << "torn or mixed line: " << line;
    refusals += line.find("Another run of Scourex") != std::string::npos;
  }
  EXPECT_EQ(refusals, 2);
  EXPECT_THAT(log, ::testing::HasSubstr(" Total Events Deleted 0\r\n"));  // the refused run's
  EXPECT_EQ(lines, 6 + 16);  // a full run's lines, and a refused run's
}

}  // namespace
}  // namespace scourex
