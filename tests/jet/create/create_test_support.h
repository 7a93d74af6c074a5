#pragma once
// Shared helpers of the writer's tests: scratch folders, running the other readers.

#include <filesystem>
#include <string>

namespace create_test {

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs a shell command; returns its standard output, and its exit status in *status.
std::string Run(const std::string& command, int* status);
bool HaveProgram(const std::string& name);
std::string Quote(const std::string& s);
// The folder of the npm cross-check project (tests/js), and whether its packages are installed.
std::filesystem::path JsProject();
bool HaveMdbReader();

}  // namespace create_test
