#pragma once
// Turning a parsed connection text into what the ODBC driver manager's SQLDriverConnect
// needs: SQL Server texts are rewritten for whichever SQL Server driver is registered,
// plain ODBC texts are passed on with the provider-level keys removed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection_text.h"

namespace scourex::db {

inline constexpr int kDefaultConnectTimeoutSeconds = 15;  // as the product's layer waited
// "Connect Timeout=0" asks to wait for ever. An unattended job that waits for ever also
// keeps every later run off the installation, so it waits this long at most.
inline constexpr int kUnlimitedConnectTimeoutSeconds = 30;

struct OdbcTarget {
  std::string connect_text;          // holds the password: never show it
  int login_timeout_seconds = kDefaultConnectTimeoutSeconds;
  std::optional<int> packet_size;    // bytes, set before connecting
  std::string display_name;          // names the target in messages; holds no secret
  std::vector<std::string> secrets;  // passwords to keep out of every message
  bool sql_server = false;           // the driver reports SQL Server's own error numbers
  std::string failure_hint;          // added to the description of a failed connection
};

struct ServerAddress {
  std::string host;       // "(local)", "." and an empty name become "localhost"
  std::string instance;   // empty: the default instance
  std::optional<int> port;
  std::string Display() const;  // host[\instance][,port]
};

// Reads host, host\instance, host,port and tcp:host,port. Throws scourex::Error
// (errnum::kGeneral) naming `keyword`, never the value, for a port that is not
// a number from 1 to 65535, and for another protocol prefix (np:, lpc:, admin:): only TCP
// reaches SQL Server from here.
ServerAddress ParseServerAddress(std::string_view data_source, std::string_view keyword = "Data Source");

// "Connect Timeout" / "Connection Timeout" in seconds, 15 when absent, and
// kUnlimitedConnectTimeoutSeconds for 0. Throws scourex::Error
// (errnum::kBadConnectionText) for a value that is not a whole number >= 0.
int ConnectTimeoutSeconds(const ConnectionText& text);

inline constexpr int kSqlServerPort = 1433;
inline constexpr std::string_view kMsDriver18 = "ODBC Driver 18 for SQL Server";
inline constexpr std::string_view kMsDriver17 = "ODBC Driver 17 for SQL Server";
inline constexpr std::string_view kFreeTdsDriver = "FreeTDS";
// The driver every Windows ships; it shares driver 17's keywords but knows no port lookup
// of ours: it finds a named instance by itself.
inline constexpr std::string_view kWindowsSqlServerDriver = "SQL Server";

// Where Debian's tdsodbc puts the FreeTDS driver on this architecture.
std::string DefaultFreeTdsLibrary();

// What decides how a SQL Server text is rewritten.
struct SqlServerDrivers {
  std::vector<std::string> installed;  // the driver names registered with the driver manager
  std::string freetds_library = DefaultFreeTdsLibrary();  // used when FreeTDS is not registered by name
  // FreeTDS checks a server's certificate only against a CA file named in its own
  // configuration ("ca file" in freetds.conf); without one it cannot check at all.
  bool freetds_ca_configured = false;
  // Windows: without Microsoft's drivers, the built-in one rather than FreeTDS.
  bool windows_built_in = false;
};

// Whether FreeTDS's configuration file (FREETDSCONF, else ~/.freetds.conf, else
// /etc/freetds/freetds.conf) names a CA file in its [global] section.
bool FreeTdsCaConfigured();

// The server a SQL Server text names: Network Address (or Address, Addr) wins over Data
// Source (or Server), as with the OLE DB providers.
ServerAddress SqlServerAddress(const ConnectionText& text);

// Whether a SQL Server text goes to one of Microsoft's drivers rather than FreeTDS.
bool UsesMicrosoftDriver(const std::vector<std::string>& installed_drivers);

// Rewrites a SQL Server text for Microsoft's driver (18, else 17) when one is registered,
// else for FreeTDS (on Windows, the built-in driver). Every keyword is honoured, accepted
// without effect, or refused (see sql_server_text.h): a keyword, or a value, that cannot
// be carried to the driver is a scourex::Error (errnum::kBadConnectionText) that names
// the keyword and never its value. `drivers.windows_built_in` also says the job runs on
// Windows, where Microsoft's drivers follow a mirroring partner. `user` and `password`, when not empty, replace
// the text's. `instance_port`, the port already found for a named instance, spares
// FreeTDS its own lookup.
OdbcTarget MapSqlServerText(const ConnectionText& text, const SqlServerDrivers& drivers, const std::string& user,
                            const std::string& password, std::optional<int> instance_port = std::nullopt);

// Passes a plain ODBC text on (DSN=..., Driver=...) without its Provider and timeout
// keys; the generic keys Data Source, User ID, Password and Initial Catalog become DSN,
// UID, PWD and DATABASE, and Extended Properties is spliced in as it stands. Throws
// scourex::Error (errnum::kGeneral) when the text names no data source and no driver.
OdbcTarget MapOdbcText(const ConnectionText& text, const std::string& user, const std::string& password);

// Whether a plain ODBC text goes to a SQL Server driver (FreeTDS or one of Microsoft's).
bool NamesSqlServerDriver(const ConnectionText& text);

}  // namespace scourex::db
