#pragma once
// The moment a statement has to be finished by. The SQL layer looks at the clock every
// few thousand rows it reads, the storage layer every few hundred rows or pages while it
// changes a table.

#include <chrono>
#include <string>

#include "jet/error.h"

namespace jet {

class Deadline {
 public:
  Deadline() = default;
  // `seconds` <= 0: no limit.
  explicit Deadline(double seconds);

  bool limited() const { return seconds_ > 0; }
  bool Passed() const { return limited() && Clock::now() > end_; }
  // Throws jet::Error(Timeout) once the moment has passed, naming `what` (a change under
  // way, which is then undone) when given.
  void Check(const std::string& what = {}) const;

 private:
  using Clock = std::chrono::steady_clock;
  double seconds_ = 0;
  Clock::time_point end_{};
};

}  // namespace jet
