#pragma once
// Fault injection under the engine: the n-th read, write or sync of any file fails as the
// system would fail it (an input/output error, or a full disk that took part of a write).
// Tests arm it to prove that every statement survives every failing call.

#include <cstdint>

namespace jet::os::faults {

enum class Op { Read, Write, Sync };
enum class Kind { IoError, DiskFull };

// The `n`-th call of `op` from now (n >= 1) fails once. DiskFull applies to writes.
void Arm(Op op, std::uint64_t n, Kind kind = Kind::IoError);
void Disarm();
// Calls of `op` since the last Arm or Disarm.
std::uint64_t Count(Op op);

// For the file layer: the errno the current call of `op` must fail with, or 0.
int Check(Op op);

}  // namespace jet::os::faults
