#pragma once
// Helpers shared by the engine's tests: where the fixtures are, temporary
// folders, whole-file reads and writes, expected errors, the other readers' programs.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "jet/error.h"

namespace jet::testing {

inline std::filesystem::path FixturesDir() { return std::filesystem::path(SCOUREX_FIXTURES_DIR); }

// The fixtures belong to the repository: their absence is a failure, never a skip.
#define JET_REQUIRE_FIXTURES()                                                            \
  do {                                                                                    \
    if (!std::filesystem::is_directory(::jet::testing::FixturesDir()))                    \
      GTEST_FAIL() << "the test fixtures are missing at " << ::jet::testing::FixturesDir(); \
  } while (0)

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A fresh folder removed again at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "jettest-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? std::filesystem::path(tmpl) : std::filesystem::path();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Runs `f`, expecting a jet::Error of `code` whose description contains `fragment`; the
// description.
template <class F>
std::string ExpectJetError(ErrorCode code, const std::string& fragment, F f) {
  try {
    f();
    ADD_FAILURE() << "no error; expected one mentioning " << fragment;
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), code) << e.what();
    EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
    return e.what();
  }
  return "";
}

// Runs a shell command; its standard output, and its exit status in *status.
inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return out;
  }
  char buf[65536];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  int rc = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The other readers (mdbtools, and mdb-reader under node) belong to the suite: on Linux a
// missing one fails the calling test. Under Wine the host's programs cannot be started,
// and the Windows suite goes without them.
inline bool CrossCheckerPresent(bool present, [[maybe_unused]] const std::string& what) {
#ifndef _WIN32
  if (!present) ADD_FAILURE() << what << " is missing; scripts/test.sh installs it";
#endif
  return present;
}

inline bool HaveCommand(const std::string& name) {
  int status = 0;
  Shell("command -v " + name + " >/dev/null 2>&1", &status);
  return CrossCheckerPresent(status == 0, "the program " + name);
}

// tests/js/read_mdb.mjs: prints a file as mdb-reader (npm) reads it, as JSON.
inline std::filesystem::path ReadMdbScript() {
  return FixturesDir().parent_path() / "js" / "read_mdb.mjs";
}
inline bool HaveReadMdb() {
  return HaveCommand("node") &&
         CrossCheckerPresent(
             std::filesystem::exists(ReadMdbScript().parent_path() / "node_modules" / "mdb-reader" / "package.json"),
             "the npm package mdb-reader in tests/js");
}

}  // namespace jet::testing
