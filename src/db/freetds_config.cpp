// Where FreeTDS lives on this machine and what its configuration file says: what the
// SQL Server mapping needs to know of the FreeTDS installation.

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "db/connection_text.h"
#include "db/odbc_text.h"

namespace scourex::db {

std::string DefaultFreeTdsLibrary() {
#if defined(__x86_64__)
  constexpr const char* kMultiarch = "x86_64-linux-gnu";
#elif defined(__aarch64__)
  constexpr const char* kMultiarch = "aarch64-linux-gnu";
#elif defined(__i386__)
  constexpr const char* kMultiarch = "i386-linux-gnu";
#elif defined(__arm__)
  constexpr const char* kMultiarch = "arm-linux-gnueabihf";
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
  constexpr const char* kMultiarch = "powerpc64le-linux-gnu";
#elif defined(__s390x__)
  constexpr const char* kMultiarch = "s390x-linux-gnu";
#elif defined(__riscv) && __riscv_xlen == 64
  constexpr const char* kMultiarch = "riscv64-linux-gnu";
#else
  constexpr const char* kMultiarch = nullptr;
#endif
  if (kMultiarch == nullptr) return "/usr/lib/odbc/libtdsodbc.so";
  return std::string("/usr/lib/") + kMultiarch + "/odbc/libtdsodbc.so";
}

bool FreeTdsCaConfigured() {
  std::vector<std::string> candidates;
  if (const char* named = std::getenv("FREETDSCONF"); named != nullptr && *named != '\0') candidates.push_back(named);
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    candidates.push_back(std::string(home) + "/.freetds.conf");
  }
  candidates.push_back("/etc/freetds/freetds.conf");
  for (const std::string& path : candidates) {
    std::ifstream file(path);
    if (!file) continue;
    // FreeTDS reads the first file it finds; its keys are case-blind and spaced freely.
    bool global = false;
    std::string line;
    while (std::getline(file, line)) {
      const std::string trimmed = TrimWhitespace(line);
      if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
      if (trimmed[0] == '[') {
        global = EqualsNoCase(trimmed, "[global]");
        continue;
      }
      const size_t equals = trimmed.find('=');
      if (!global || equals == std::string::npos) continue;
      std::string key;
      for (char c : trimmed.substr(0, equals))
        if (c != ' ' && c != '\t') key += c;
      key = LowerAscii(key);
      if (key == "cafile" && !TrimWhitespace(trimmed.substr(equals + 1)).empty()) return true;
    }
    return false;
  }
  return false;
}

}  // namespace scourex::db
