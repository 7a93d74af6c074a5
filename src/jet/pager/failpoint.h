#pragma once
// Crash testing: every durable step of a statement (a write to the journal or to the
// database, a sync, a removal) is counted, and the step chosen here fails or ends the
// process on the spot. Set from a test, or for a whole program through the environment:
//   SCOUREX_JET_FAILPOINT=<n>       the process ends (_exit) at step n
//   SCOUREX_JET_FAILPOINT=fail:<n>  step n fails with an input/output error
// Steps are counted from the moment the failpoint is set (or the program starts).

#include <cstdint>

namespace jet::failpoint {

enum class Action { None, Fail, Exit };

// The exit status of a process ended by the failpoint.
inline constexpr int kExitStatus = 86;

// Arms the failpoint at the `n`-th step from now (n >= 1); Action::None disarms it.
void Set(std::uint64_t n, Action action);
// Steps taken since the failpoint was last set.
std::uint64_t Steps();

// Called by the pager before each durable step; `what` names it in the error.
void Step(const char* what);

}  // namespace jet::failpoint
