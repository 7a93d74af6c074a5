#pragma once
// Databases reached through unixODBC: SQL Server through its drivers and any other
// source a DSN or driver name leads to.

#include <memory>
#include <string>
#include <vector>

#include "db/backend.h"
#include "db/odbc_text.h"

namespace scourex::db {

// The driver names registered with unixODBC (odbcinst.ini), in its order. Empty when
// none are registered or the driver manager cannot be asked.
std::vector<std::string> InstalledOdbcDrivers();

// Connects with SQLDriverConnect (no prompt) and the target's login timeout. Throws
// scourex::Error whose description names the target and holds none of its secrets.
std::unique_ptr<Backend> OpenOdbc(const OdbcTarget& target);

}  // namespace scourex::db
