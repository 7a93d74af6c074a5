#include "jet/os/faults.h"

#include <cerrno>

namespace jet::os::faults {
namespace {

struct State {
  std::uint64_t counts[3] = {0, 0, 0};
  bool armed = false;
  Op op = Op::Read;
  std::uint64_t at = 0;
  Kind kind = Kind::IoError;
};

State& Get() {
  static State state;
  return state;
}

}  // namespace

void Arm(Op op, std::uint64_t n, Kind kind) {
  State& s = Get();
  s = State{};
  s.armed = n > 0;
  s.op = op;
  s.at = n;
  s.kind = kind;
}

void Disarm() { Get() = State{}; }

std::uint64_t Count(Op op) { return Get().counts[static_cast<int>(op)]; }

int Check(Op op) {
  State& s = Get();
  std::uint64_t n = ++s.counts[static_cast<int>(op)];
  if (!s.armed || op != s.op || n != s.at) return 0;
  s.armed = false;
  return op == Op::Write && s.kind == Kind::DiskFull ? ENOSPC : EIO;
}

}  // namespace jet::os::faults
