// Objects planted where the job keeps its own files (log, options files, marker): a link,
// a link to nothing, a named pipe, a folder and, where the tests run as root, a device. The job follows none of them, waits on none,
// names each in an error line and ends with status 1; whatever they point at stays as it was.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <vector>

#include "support/machine.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::TempFolder;

enum class Planted { kLink, kDanglingLink, kPipe, kFolder, kDevice };

TEST(PlantedFiles, NeitherFollowedNorWaitedOnAndNamed) {
  TempFolder made;
  const std::string model = made / "site";
  fs::create_directory(model);
  ASSERT_EQ(testing::MakeSite(model, "--seed 3 --size 20 --events 200", "VisitorMonths=6\r\nEventMonths=3\r\n"), "");

  struct Case {
    const char* name;
    Planted planted;
    const char* what;  // as the error line says it
  };
  std::vector<Case> kinds = {{"a link", Planted::kLink, "a symbolic link"},
                             {"a dangling link", Planted::kDanglingLink, "a symbolic link"},
                             {"a named pipe", Planted::kPipe, "a named pipe"},
                             {"a folder", Planted::kFolder, "a folder"}};
  // Only root makes device nodes: a copy of the null device, which takes writes harmlessly.
  if (testing::RunningAsRoot()) kinds.push_back({"a device", Planted::kDevice, "a device"});
  for (const char* place : {"Scourex.log", "scourex.ini", "Orvanta.ini", "Orvanta.nam"}) {
    for (const Case& c : kinds) {
      SCOPED_TRACE(std::string(c.name) + " at " + place);
      TempFolder work;
      const std::string site = work / "site";
      fs::copy(model, site, fs::copy_options::recursive);
      const std::string at = site + "/" + place;
      fs::remove(at);
      const std::string target = work / "target";
      const std::string target_bytes = "not the job's file\n";
      switch (c.planted) {
        case Planted::kLink:
          testing::WriteWholeFile(target, target_bytes);
          fs::create_symlink(target, at);
          break;
        case Planted::kDanglingLink:
          fs::create_symlink(target, at);
          break;
        case Planted::kPipe:
          ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0);
          break;
        case Planted::kFolder:
          fs::create_directory(at);
          break;
        case Planted::kDevice:
          ASSERT_EQ(::mknod(at.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
          break;
      }

      const testing::ProcessResult run = testing::RunJobWithin(site, 60);
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_THAT(run.out, ::testing::HasSubstr(std::string(place) + "' is " + c.what + ", not a regular file"));
      EXPECT_THAT(run.out, ::testing::HasSubstr("Stop Application Scourex"));
      if (c.planted == Planted::kLink) {
        EXPECT_EQ(ReadWholeFile(target), target_bytes);
      }
      if (c.planted == Planted::kDanglingLink) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
      }
      const fs::file_type kept = fs::symlink_status(at).type();
      EXPECT_EQ(kept, c.planted == Planted::kPipe     ? fs::file_type::fifo
                      : c.planted == Planted::kFolder ? fs::file_type::directory
                      : c.planted == Planted::kDevice ? fs::file_type::character
                                                      : fs::file_type::symlink);
      if (c.planted == Planted::kFolder) {
        EXPECT_TRUE(fs::is_empty(at));
      }
    }
  }
}

}  // namespace
}  // namespace scourex
