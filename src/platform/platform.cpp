#include <cstdio>

#include "platform/platform.h"

namespace scourex {

std::string IsoDateTime(const LocalDateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return buf;
}

}  // namespace scourex
