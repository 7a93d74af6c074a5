#include "jet/pager/failpoint.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jet/error.h"

namespace jet::failpoint {
namespace {

struct State {
  std::atomic<std::uint64_t> steps{0};
  std::atomic<std::uint64_t> at{0};
  std::atomic<Action> action{Action::None};

  State() {
    const char* env = std::getenv("SCOUREX_JET_FAILPOINT");
    if (env == nullptr || *env == '\0') return;
    Action a = Action::Exit;
    if (std::strncmp(env, "fail:", 5) == 0) {
      a = Action::Fail;
      env += 5;
    }
    char* end = nullptr;
    unsigned long long n = std::strtoull(env, &end, 10);
    if (end == env || *end != '\0' || n == 0) return;
    at = n;
    action = a;
  }
};

State& Get() {
  static State state;
  return state;
}

}  // namespace

void Set(std::uint64_t n, Action action) {
  State& s = Get();
  s.action = Action::None;
  s.steps = 0;
  s.at = n;
  s.action = n == 0 ? Action::None : action;
}

std::uint64_t Steps() { return Get().steps; }

void Step(const char* what) {
  State& s = Get();
  std::uint64_t n = ++s.steps;
  Action a = s.action;
  if (a == Action::None || n != s.at) return;
  if (a == Action::Exit) ::_exit(kExitStatus);
  throw Error(ErrorCode::Io, std::string("Simulated failure at step ") + std::to_string(n) + " (" + what + ")");
}

}  // namespace jet::failpoint
