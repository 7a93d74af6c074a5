#pragma once
// Who runs the tests is the one thing that differs between the machines this suite runs on
// (a developer's account, root in CI), and so the only reason a test may skip: every other
// missing prerequisite is a failure. scripts/check-skips.sh holds the suite to that.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace scourex::testing {

inline bool RunningAsRoot() {
#ifdef _WIN32
  return false;
#else
  return geteuid() == 0;
#endif
}

}  // namespace scourex::testing

#define SCOUREX_SKIP_AS_ROOT(why) \
  if (::scourex::testing::RunningAsRoot()) GTEST_SKIP() << "Runs only as a user other than root: " << why
#define SCOUREX_SKIP_UNLESS_ROOT(why) \
  if (!::scourex::testing::RunningAsRoot()) GTEST_SKIP() << "Runs only as root: " << why
