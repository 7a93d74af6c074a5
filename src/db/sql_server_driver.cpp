#include "db/sql_server_driver.h"

namespace scourex::db {

OdbcTarget MapSqlServerTextForWindows(const ConnectionText& text, const std::vector<std::string>& installed_drivers,
                                      const std::string& user, const std::string& password) {
  SqlServerDrivers drivers;
  drivers.installed = installed_drivers;
  drivers.windows_built_in = true;
  return MapSqlServerText(text, drivers, user, password);
}

}  // namespace scourex::db
