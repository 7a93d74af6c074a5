#pragma once
// Which driver reaches SQL Server on Windows: Microsoft's ODBC Driver 18 or 17 when
// installed, else the "SQL Server" driver that every Windows ships. All of them find a
// named instance by themselves and honour the login timeout, so no port lookup is needed.

#include <string>
#include <vector>

#include "db/connection_text.h"
#include "db/odbc_text.h"

namespace scourex::db {

// The same mapping as for Microsoft's drivers on Linux; without them, the built-in
// driver takes the keywords of driver 17, which it shares.
OdbcTarget MapSqlServerTextForWindows(const ConnectionText& text, const std::vector<std::string>& installed_drivers,
                                      const std::string& user, const std::string& password);

}  // namespace scourex::db
