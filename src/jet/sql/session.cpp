#include "jet/session.h"

namespace jet {

std::unique_ptr<Session> Session::Open(const std::string& path, const OpenOptions& options) {
  return std::unique_ptr<Session>(new Session(Database::Open(path, options)));
}

sql::Result Session::Execute(std::string_view command, const sql::ExecuteOptions& options) {
  db_->BeginStatement(options.timeout_seconds);
  try {
    // The statement has one deadline, the database's; the statement's layer looks at it
    // through the schema.
    sql::ExecuteOptions within = options;
    within.timeout_seconds = 0;
    sql::Result result = sql::Execute(*db_, command, within);
    db_->CommitStatement();
    return result;
  } catch (...) {
    db_->RollbackStatement();
    throw;
  }
}

}  // namespace jet
