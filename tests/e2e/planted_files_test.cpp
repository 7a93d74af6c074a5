// Objects planted where the job keeps its own files (log, options files, marker): a link,
// a link to nothing, a named pipe, a folder and, where the tests run as root, a device. The job follows none of them, waits on none,
// names each in an error line and ends with status 1; whatever they point at stays as it was.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "support/machine.h"
#include "support/process.h"

namespace scourex {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::TempFolder;

TEST(PlantedFiles, NeitherFollowedNorWaitedOnAndNamed) {
  TempFolder made;
  const std::string model = made / "site";
  fs::create_directory(model);
  ASSERT_EQ(testing::MakeSite(model, "--seed 3 --size 20 --events 200", "VisitorMonths=6\r\nEventMonths=3\r\n"), "");

  const std::string target_bytes = "not the job's file\n";
  struct Case {
    const char* what;  // as the error line says it
    fs::file_type kept;
    std::function<void(const std::string& at, const std::string& target)> plant;
  };
  std::vector<Case> kinds = {
      {"a symbolic link", fs::file_type::symlink,
       [&](const std::string& at, const std::string& target) {
         testing::WriteWholeFile(target, target_bytes);
         fs::create_symlink(target, at);
       }},
      {"a symbolic link", fs::file_type::symlink, [](const std::string& at, const std::string& target) {
         fs::create_symlink(target, at);  // to nothing
       }},
      {"a named pipe", fs::file_type::fifo, [](const std::string& at, const std::string&) {
         ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0);
       }},
      {"a folder", fs::file_type::directory, [](const std::string& at, const std::string&) { fs::create_directory(at); }}};
  // Only root makes device nodes: a copy of the null device, which takes writes harmlessly.
  if (testing::RunningAsRoot()) {
    kinds.push_back({"a device", fs::file_type::character, [](const std::string& at, const std::string&) {
                       ASSERT_EQ(::mknod(at.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
                     }});
  }
  for (const char* place : {"Scourex.log", "scourex.ini", "Orvanta.ini", "Orvanta.nam"}) {
    for (const Case& c : kinds) {
      SCOPED_TRACE(std::string(c.what) + " at " + place);
      TempFolder work;
      const std::string site = work / "site", target = work / "target", at = site + "/" + place;
      fs::copy(model, site, fs::copy_options::recursive);
      fs::remove(at);
      c.plant(at, target);
      const bool target_there = fs::exists(target);

      const testing::ProcessResult run = testing::RunJobWithin(site, 60);
      EXPECT_EQ(run.status, 1) << run.out;
      EXPECT_THAT(run.out, ::testing::HasSubstr(std::string(place) + "' is " + c.what + ", not a regular file"));
      EXPECT_THAT(run.out, ::testing::HasSubstr("Stop Application Scourex"));
      EXPECT_EQ(fs::symlink_status(at).type(), c.kept);
      EXPECT_EQ(fs::exists(fs::symlink_status(target)), target_there);
      EXPECT_EQ(target_there ? ReadWholeFile(target) : target_bytes, target_bytes);
      EXPECT_TRUE(c.kept != fs::file_type::directory || fs::is_empty(at));
    }
  }
}

}  // namespace
}  // namespace scourex
