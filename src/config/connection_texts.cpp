#include "config/connection_texts.h"

namespace scourex {

ConnectionTexts BuildConnectionTexts(const Settings& settings, const std::string& main_database_path,
                                     const std::string& journal_database_path) {
  const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Mode=ReadWrite;Persist Security Info=False;";
  if (settings.DBType == 1) {
    return {jet + "Jet OLEDB:Database Password=" + kMainDatabasePassword + " ;Data Source=" + main_database_path,
            jet + "Data Source=" + journal_database_path};
  }
  if (settings.DBType == 2) return {settings.SQL_Connect, settings.SQL_Connect};
  return {};
}

}  // namespace scourex
