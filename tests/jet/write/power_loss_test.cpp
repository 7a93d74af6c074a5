// A power loss at every sync of a statement and at seeded random writes, with what the
// disk kept chosen by seed: the next opening finds the database consistent and as it was
// before or after the statement, never between. (tests/powerloss/powerloss_soak runs
// thousands of these.)

#include <gtest/gtest.h>

#include "../power_loss.h"
#include "write_support.h"

namespace jet {
namespace {

using testing::PowerLossOutcome;

TEST(PowerLoss, EveryOpeningFindsTheStateBeforeOrAfterTheStatement) {
  testing::TempDir dir;
  int checked_by_mdbtools = 0;
  for (testing::PowerLossCase& c : testing::PowerLossCases()) {
    SCOPED_TRACE(c.name);
    const testing::PowerLossRun run(std::move(c));
    int seen[2] = {0, 0};
    auto check = [&](std::uint64_t n, bool at_write, std::uint64_t seed) {
      PowerLossOutcome o = run.Cut(n, at_write, seed);
      if (o.state != PowerLossOutcome::Before && o.state != PowerLossOutcome::After) {
        ADD_FAILURE() << (at_write ? "write " : "sync ") << n << ", seed " << seed << ": " << o.problem;
        return;
      }
      ++seen[o.state];
      if (checked_by_mdbtools < 3 && testing::HaveMdbtools() && n > 2) {
        const std::string file = (dir.path() / "recovered.mdb").string();
        testing::WriteAll(file, o.recovered);
        EXPECT_EQ(testing::MdbExportFirstColumn(file, "Log").size(), o.rows["Log"]);
        ++checked_by_mdbtools;
      }
    };
    // Every sync (and once after the statement ended), then writes spread over the run.
    for (std::uint64_t n = 1; n <= run.syncs() + 1; ++n) check(n, false, n);
    for (std::uint64_t k = 1; k <= 6; ++k) check(1 + (run.writes() * k) / 7, true, 100 + k);
    EXPECT_GT(seen[PowerLossOutcome::Before], 0);
    EXPECT_GT(seen[PowerLossOutcome::After], 0);
  }
}

}  // namespace
}  // namespace jet
