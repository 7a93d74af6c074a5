#pragma once
// Helpers shared by the engine's tests: where the shared fixtures are, temporary
// folders, whole-file reads and writes.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace jet::testing {

inline std::filesystem::path FixturesDir() { return std::filesystem::path(SCOUREX_SHARED_DIR) / "fixtures"; }

// Skips the calling test when the shared fixtures are absent.
#define JET_REQUIRE_FIXTURES()                                                             \
  do {                                                                                     \
    if (!std::filesystem::is_directory(::jet::testing::FixturesDir()))                     \
      GTEST_SKIP() << "shared fixtures not found at " << ::jet::testing::FixturesDir();    \
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

}  // namespace jet::testing
