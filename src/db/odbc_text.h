#pragma once
// Turning a parsed connection text into what unixODBC's SQLDriverConnect needs: SQL
// Server texts are rewritten for whichever SQL Server driver is registered, plain ODBC
// texts are passed on with the provider-level keys removed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection_text.h"

namespace scourex::db {

inline constexpr int kDefaultConnectTimeoutSeconds = 15;  // as the product's layer waited

struct OdbcTarget {
  std::string connect_text;          // holds the password: never show it
  int login_timeout_seconds = kDefaultConnectTimeoutSeconds;  // 0: no limit
  std::string display_name;          // names the target in messages; holds no secret
  std::vector<std::string> secrets;  // passwords to keep out of every message
};

struct ServerAddress {
  std::string host;       // "(local)", "." and an empty name become "localhost"
  std::string instance;   // empty: the default instance
  std::optional<int> port;
  std::string Display() const;  // host[\instance][,port]
};

// Reads host, host\instance, host,port and tcp:host,port. Throws scourex::Error
// (errnum::kGeneral) for a port that is not a number from 1 to 65535.
ServerAddress ParseServerAddress(std::string_view data_source);

// "Connect Timeout" / "Connection Timeout" in seconds, 15 when absent. Throws
// scourex::Error (errnum::kBadConnectionText) for a value that is not a whole number >= 0.
int ConnectTimeoutSeconds(const ConnectionText& text);

inline constexpr std::string_view kMsDriver18 = "ODBC Driver 18 for SQL Server";
inline constexpr std::string_view kMsDriver17 = "ODBC Driver 17 for SQL Server";
inline constexpr std::string_view kFreeTdsDriver = "FreeTDS";

// Where Debian's tdsodbc puts the FreeTDS driver on this architecture.
std::string DefaultFreeTdsLibrary();

// The server a SQL Server text names (Address or Addr, else Data Source or Server).
ServerAddress SqlServerAddress(const ConnectionText& text);

// Whether a SQL Server text goes to one of Microsoft's drivers rather than FreeTDS.
bool UsesMicrosoftDriver(const std::vector<std::string>& installed_drivers);

// Rewrites a SQL Server text for Microsoft's driver (18, else 17) when `installed_drivers`
// lists one, else for FreeTDS (by name when registered, else by `freetds_library`).
// `user` and `password`, when not empty, replace the text's User ID and Password.
// `instance_port`, the port already found for a named instance, spares FreeTDS its own
// lookup.
OdbcTarget MapSqlServerText(const ConnectionText& text, const std::vector<std::string>& installed_drivers,
                            const std::string& user, const std::string& password,
                            const std::string& freetds_library = DefaultFreeTdsLibrary(),
                            std::optional<int> instance_port = std::nullopt);

// Passes a plain ODBC text on (DSN=..., Driver=...) without its Provider and timeout
// keys; the generic keys Data Source, User ID, Password and Initial Catalog become DSN,
// UID, PWD and DATABASE, and Extended Properties is spliced in as it stands. Throws
// scourex::Error (errnum::kGeneral) when the text names no data source and no driver.
OdbcTarget MapOdbcText(const ConnectionText& text, const std::string& user, const std::string& password);

}  // namespace scourex::db
