#include "jet/write/deadline.h"

#include <algorithm>
#include <cstdio>

namespace jet {

Deadline::Deadline(double seconds) {
  if (!(seconds > 0)) return;
  seconds_ = std::min(seconds, 1e9);  // beyond that the clock arithmetic would overflow
  end_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds_));
}

void Deadline::Check(const std::string& what) const {
  if (!Passed()) return;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", seconds_);
  std::string text = "The command ran longer than its timeout of " + std::string(buf) + " seconds";
  if (!what.empty()) text += " (" + what + "); nothing was changed";
  throw Error(ErrorCode::Timeout, text);
}

}  // namespace jet
