#include "create_test_support.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <sys/wait.h>

namespace create_test {

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("jetcreate-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return out;
  }
  std::array<char, 65536> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  int rc = ::pclose(pipe);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool HaveProgram(const std::string& name) {
  int status = 0;
  Run("command -v " + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c);
  }
  return out + "'";
}

std::filesystem::path JsProject() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "js";
}

bool HaveMdbReader() {
  return HaveProgram("node") && std::filesystem::exists(JsProject() / "node_modules" / "mdb-reader" / "package.json");
}

}  // namespace create_test
