#include "db/sql_server_driver.h"

namespace scourex::db {

OdbcTarget MapSqlServerTextForWindows(const ConnectionText& text, const std::vector<std::string>& installed_drivers,
                                      const std::string& user, const std::string& password) {
  SqlServerDrivers drivers;
  drivers.installed = installed_drivers;
  if (UsesMicrosoftDriver(installed_drivers)) return MapSqlServerText(text, drivers, user, password);
  drivers.installed = {std::string(kMsDriver17)};
  OdbcTarget target = MapSqlServerText(text, drivers, user, password);
  const std::string as_17 = "Driver=" + std::string(kMsDriver17);
  if (target.connect_text.rfind(as_17, 0) == 0)
    target.connect_text.replace(0, as_17.size(), std::string("Driver=") + kWindowsSqlServerDriver);
  return target;
}

}  // namespace scourex::db
