#pragma once
// The two purges: invalid visitors (or all invalid cardholders) with every row that
// refers to them, and old journal events.

#include <string>

#include "config/options.h"
#include "db/connection.h"
#include "log/log_error.h"
#include "platform/platform.h"

namespace scourex {

struct PurgeContext {
  const Settings& settings;
  db::Connection* connection;  // null when it could not be created
  Logger& log;
  Platform& platform;
  bool& database_failed;       // set when a command fails
};

void DeleteVisitors(PurgeContext& ctx);
void DeleteEvents(PurgeContext& ctx);

// The commands, for the given date literal; exposed so that tests can check every text.
std::string VisitorSubquery(const Settings& settings, const std::string& date_literal);
std::string CardholderDelete(const Settings& settings, const std::string& date_literal);

}  // namespace scourex
