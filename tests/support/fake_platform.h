#pragma once
// An in-memory operating system for the job's tests: files, a settable clock, and a
// record of what went to the diagnostic channel and how often the beep sounded.

#include <map>
#include <string>
#include <vector>

#include "common/error.h"
#include "platform/platform.h"

namespace scourex::testing {

class FakePlatform : public Platform {
 public:
  std::string current_dir;
  std::map<std::string, std::string> files;  // full path -> contents
  std::vector<std::string> folders = {"/opt/site"};
  LocalDateTime now{2026, 12, 1, 0, 0, 0};
  std::vector<std::string> debug;
  int beeps = 0;
  std::vector<std::string> events;  // "beep" and "append:<path>" in the order they happened

  std::string ExecutableFolder() override { return "/opt/site"; }
  std::string ExecutableName() override { return "scourex"; }
  char PathSeparator() const override { return '/'; }

  void SetCurrentDirectory(const std::string& folder) override {
    std::string f = folder;
    if (f.size() > 1 && f.back() == '/') f.pop_back();
    if (!HasFolder(f)) throw runtime::Make(runtime::kPathNotFound);
    current_dir = f;
  }
  std::vector<std::string> ListFiles() override {
    std::vector<std::string> names;
    for (const auto& [path, _] : files) {
      auto slash = path.find_last_of('/');
      if (path.substr(0, slash) == current_dir && path[slash + 1] != '.') names.push_back(path.substr(slash + 1));
    }
    return names;
  }
  std::vector<std::string> ListOtherEntries() override { return {}; }
  void RequireRegularFile(const std::string&) override {}  // holds only regular files
  std::string ReadFile(const std::string& path) override {
    std::string full = Resolve(path);
    auto it = files.find(full);
    if (it != files.end()) return it->second;
    if (!HasFolder(full.substr(0, full.find_last_of('/')))) throw runtime::Make(runtime::kPathNotFound);
    throw runtime::Make(runtime::kFileNotFound);
  }
  void AppendToFile(const std::string& path, const std::string& line) override {
    std::string full = Resolve(path);
    if (!HasFolder(full.substr(0, full.find_last_of('/')))) throw runtime::Make(runtime::kPathNotFound);
    files[full] += line;
    events.push_back("append:" + full);
  }
  bool LockInstallation(const std::string&) override { return true; }
  LocalDateTime Now() override { return now; }
  void Debug(const std::string& line) override { debug.push_back(line); }
  void Beep() override {
    ++beeps;
    events.push_back("beep");
  }

  std::string Resolve(const std::string& path) const {
    return !path.empty() && path[0] == '/' ? path : current_dir + "/" + path;
  }
  bool HasFolder(const std::string& f) const {
    for (const auto& known : folders) {
      if (known == f) return true;
    }
    return false;
  }
  // The file's lines without their CR LF ends.
  std::vector<std::string> Lines(const std::string& path) const {
    std::vector<std::string> lines;
    auto it = files.find(path);
    if (it == files.end()) return lines;
    std::string::size_type start = 0, end;
    while ((end = it->second.find("\r\n", start)) != std::string::npos) {
      lines.push_back(it->second.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
};

}  // namespace scourex::testing
