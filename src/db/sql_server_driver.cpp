#include "db/sql_server_driver.h"

#include <string_view>

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
  // With encryption off, trusting the certificate means nothing; the built-in driver
  // predates that keyword, so it is not sent there.
  const std::string_view trust = ";TrustServerCertificate=yes";
  if (target.connect_text.ends_with(std::string(";Encrypt=no") + std::string(trust)))
    target.connect_text.resize(target.connect_text.size() - trust.size());
  return target;
}

}  // namespace scourex::db
