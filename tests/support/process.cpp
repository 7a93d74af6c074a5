#include "support/process.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace scourex::testing {

ProcessResult RunCommand(const std::string& command) {
  ProcessResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.out.append(buf, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

ProcessResult RunJob(const std::string& folder) {
  return RunCommand("cd / && " + ShellQuote(folder + "/scourex") + " 2>&1");
}

ProcessResult RunJobWithin(const std::string& folder, int seconds) {
  return RunCommand("cd / && timeout -k 5 " + std::to_string(seconds) + " " + ShellQuote(folder + "/scourex") +
                    " 2>&1");
}

std::string MakeSite(const std::string& folder, const std::string& args, const std::string& own_options) {
  const ProcessResult made = RunCommand(std::string(MAKE_SITE_BINARY) + " " + ShellQuote(folder) + " " + args + " 2>&1");
  if (made.status != 0) return made.out.empty() ? "make-site failed" : made.out;
  std::filesystem::copy_file(SCOUREX_BINARY, folder + "/scourex");
  WriteWholeFile(folder + "/scourex.ini", own_options);
  return "";
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "scourex-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

}  // namespace scourex::testing
