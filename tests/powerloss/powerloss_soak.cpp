// The long power-loss run: thousands of power losses, at every sync and at random writes
// of each case's statement, each with its own seed for what the disk kept; every state is
// opened (playing back the journal) and checked. Prints how many ended before and after
// the statement, and every state that was neither or did not open. Exit status 1 then.
//
//   powerloss_soak [--losses N] [--seed N]

#include <cstdlib>
#include <iostream>
#include <random>
#include <string>

#include "power_loss.h"

int main(int argc, char** argv) {
  long losses = 1200;
  std::uint64_t seed = 20261207;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--losses" && k + 1 < argc) losses = std::atol(argv[++k]);
    else if (a == "--seed" && k + 1 < argc) seed = std::strtoull(argv[++k], nullptr, 10);
    else {
      std::cerr << "usage: powerloss_soak [--losses N] [--seed N]\n";
      return 2;
    }
  }
  std::mt19937_64 rng(seed);
  std::vector<jet::testing::PowerLossCase> cases = jet::testing::PowerLossCases();
  long total[4] = {0, 0, 0, 0}, done = 0;
  for (std::size_t c = 0; c < cases.size(); ++c) {
    const std::string name = cases[c].name;
    const jet::testing::PowerLossRun run(std::move(cases[c]));
    const long share = losses / static_cast<long>(cases.size()) + (static_cast<long>(c) < losses % static_cast<long>(cases.size()) ? 1 : 0);
    long counts[4] = {0, 0, 0, 0};
    for (long k = 0; k < share; ++k) {
      // Every sync point in turn, the rest at random writes.
      const bool at_write = k >= static_cast<long>(run.syncs()) + 1 && rng() % 4 != 0;
      const std::uint64_t n = at_write ? 1 + rng() % run.writes()
                                       : (k <= static_cast<long>(run.syncs()) ? static_cast<std::uint64_t>(k) + 1
                                                                             : 1 + rng() % (run.syncs() + 1));
      const std::uint64_t s = rng();
      const jet::testing::PowerLossOutcome o = run.Cut(n, at_write, s);
      ++counts[o.state];
      ++total[o.state];
      ++done;
      if (!o.problem.empty())
        std::cout << name << ": power lost at " << (at_write ? "write " : "sync ") << n << ", seed " << s << ": "
                  << o.problem << "\n";
    }
    std::cout << name << " (" << run.syncs() << " syncs, " << run.writes() << " writes): " << share
              << " power losses, " << counts[0] << " before, " << counts[1] << " after, " << counts[2]
              << " between, " << counts[3] << " failed to open or check\n";
  }
  std::cout << "total: " << done << " power losses, " << total[0] + total[1] + total[2] << " states checked, "
            << total[0] << " before, " << total[1] << " after, " << total[2] << " between, " << total[3]
            << " failed to open or check\n";
  return total[2] + total[3] == 0 ? 0 : 1;
}
