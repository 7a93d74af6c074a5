#include <cstdio>

#include "platform/platform.h"

#include "common/error.h"

namespace scourex {

std::string IsoDateTime(const LocalDateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return buf;
}

Error NotRegularFile(const std::string& path, const std::string& what) {
  return Error(runtime::kPathFileAccess,
               "Path/File access error: '" + path + "' is " + what + ", not a regular file; it is left untouched");
}

}  // namespace scourex
