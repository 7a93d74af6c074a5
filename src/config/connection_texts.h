#pragma once
// The connection texts of the main database and the journal, by database type.

#include <string>

#include "config/options.h"

namespace scourex {

// The main Jet database's fixed password.
inline constexpr const char* kMainDatabasePassword = "Morvek3";

struct ConnectionTexts {
  std::string main;
  std::string journal;
};

ConnectionTexts BuildConnectionTexts(const Settings& settings, const std::string& main_database_path,
                                     const std::string& journal_database_path);

}  // namespace scourex
