#pragma once
// What the connection object hands its commands to once a text has been opened: one
// implementation per kind of provider.

#include <string>

namespace scourex::db {

class Backend {
 public:
  virtual ~Backend() = default;
  // `timeout_seconds` 0: no limit. `affected`, when not null, receives the rows changed
  // (-1 for a command that returned rows). Throws scourex::Error.
  virtual void Execute(const std::string& command, int timeout_seconds, long* affected) = 0;
};

}  // namespace scourex::db
