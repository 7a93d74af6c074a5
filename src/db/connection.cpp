#include "db/connection.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "db/backend.h"
#include "db/connection_text.h"
#include "db/error_numbers.h"
#include "db/host_lookup.h"
#include "db/jet_backend.h"
#include "db/odbc_backend.h"
#include "db/odbc_text.h"
#include "db/sql_browser.h"
#include "db/sql_server_driver.h"

namespace scourex::db {

namespace {

// Commands wait this long unless the job says otherwise, as with the product's layer.
constexpr int kDefaultCommandTimeoutSeconds = 30;

// The connect timeout the text allows, less what has been spent since `start`.
int Remaining(int timeout, std::chrono::steady_clock::time_point start) {
  const auto spent = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  return std::max(1, timeout - static_cast<int>(spent.count()));
}

#ifdef _WIN32
// Every Windows SQL Server driver finds a named instance by itself within the login timeout.
std::unique_ptr<Backend> OpenSqlServer(const ConnectionText& text, const std::string& user, const std::string& password,
                                       std::vector<std::string>& /*notes*/) {
  OdbcTarget target = MapSqlServerTextForWindows(text, InstalledOdbcDrivers(), user, password);
  // The drivers' own name lookup is not bounded by the login timeout.
  const int timeout = ConnectTimeoutSeconds(text);
  const auto start = std::chrono::steady_clock::now();
  AwaitHostName(SqlServerAddress(text).host, timeout, target.display_name);
  target.login_timeout_seconds = Remaining(timeout, start);
  return OpenOdbc(target);
}
#else
std::unique_ptr<Backend> OpenSqlServer(const ConnectionText& text, const std::string& user, const std::string& password,
                                       std::vector<std::string>& notes) {
  const auto start = std::chrono::steady_clock::now();
  SqlServerDrivers drivers;
  drivers.installed = InstalledOdbcDrivers();
  if (UsesMicrosoftDriver(drivers.installed)) {
    OdbcTarget target = MapSqlServerText(text, drivers, user, password);
    // The driver's own name lookup is not bounded by the login timeout.
    const int timeout = ConnectTimeoutSeconds(text);
    AwaitHostName(SqlServerAddress(text).host, timeout, target.display_name);
    target.login_timeout_seconds = Remaining(timeout, start);
    return OpenOdbc(target);
  }
  drivers.freetds_ca_configured = FreeTdsCaConfigured();

  // The whole text is checked before anything goes on the network.
  const std::string server = MapSqlServerText(text, drivers, user, password).display_name;
  const ServerAddress address = SqlServerAddress(text);
  const int timeout = ConnectTimeoutSeconds(text);

  // Neither FreeTDS's name lookup nor its instance lookup keeps to the login timeout: both
  // are done here first, within it.
  AwaitHostName(address.host, timeout, server);
  std::optional<int> instance_port;
  if (!address.instance.empty() && !address.port) {
    instance_port = ResolveInstancePort(address.host, address.instance, Remaining(timeout, start));
    notes.push_back("SQL Server instance '" + address.instance + "' on '" + address.host + "' listens on TCP port " +
                    std::to_string(*instance_port) + ".");
  }
  OdbcTarget target = MapSqlServerText(text, drivers, user, password, instance_port);
  target.login_timeout_seconds = Remaining(timeout, start);
  return OpenOdbc(target);
}
#endif

class DispatchingConnection : public Connection {
 public:
  void SetCommandTimeout(int seconds) override {
    if (seconds < 0) {
      throw Error(errnum::kBadArgument,
                  "The command timeout must be 0 (no limit) or more seconds, not " + std::to_string(seconds) + ".");
    }
    timeout_seconds_ = seconds;
  }

  void Open(const std::string& connection_text, const std::string& user, const std::string& password) override {
    // Opening again starts from a closed connection, whatever happens next.
    backend_.reset();
    notes_.clear();
    dialect_ = SqlDialect::kOther;
    if (TrimWhitespace(connection_text).empty()) {
      throw Error(errnum::kGeneral, "The connection text is empty: it names no provider and no data source.");
    }
    const ConnectionText text = ConnectionText::Parse(connection_text);
    const std::optional<std::string> provider = text.Get("Provider");
    switch (ClassifyProvider(provider)) {
      case ProviderKind::kJet:
        backend_ = OpenJet(JetOptionsFromText(text, user, password));
        dialect_ = SqlDialect::kJet;
        break;
      case ProviderKind::kSqlServer:
        backend_ = OpenSqlServer(text, user, password, notes_);
        dialect_ = SqlDialect::kSqlServer;
        break;
      case ProviderKind::kOdbc: {
        const OdbcTarget target = MapOdbcText(text, user, password);
        backend_ = OpenOdbc(target);
        dialect_ = target.sql_server ? SqlDialect::kSqlServer : SqlDialect::kOther;
        break;
      }
      case ProviderKind::kUnknown:
        // Its name is not repeated: it could be a piece of an unquoted password.
        throw Error(errnum::kProviderNotFound,
                    "The provider named in the connection text is not supported: use a Jet (Microsoft.Jet.OLEDB.*), "
                    "SQL Server (SQLOLEDB, SQLNCLI, SQLNCLI10, SQLNCLI11, MSOLEDBSQL, MSOLEDBSQL19, each also with "
                    "its version, as SQLNCLI11.1) or ODBC (MSDASQL) provider.");
    }
  }

  void Execute(const std::string& command, long* affected) override {
    if (!backend_) {
      throw Error(errnum::kGeneral, "The connection is not open: cannot execute a command.");
    }
    backend_->Execute(command, timeout_seconds_, affected);
  }

  std::vector<std::string> TakeNotes() override { return std::exchange(notes_, {}); }
  SqlDialect Dialect() const override { return dialect_; }

 private:
  int timeout_seconds_ = kDefaultCommandTimeoutSeconds;
  std::unique_ptr<Backend> backend_;
  std::vector<std::string> notes_;
  SqlDialect dialect_ = SqlDialect::kOther;
};

}  // namespace

std::unique_ptr<Connection> CreateConnection() { return std::make_unique<DispatchingConnection>(); }

}  // namespace scourex::db
