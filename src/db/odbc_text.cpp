#include "db/odbc_text.h"

#include <algorithm>
#include <cctype>

#include "common/error.h"
#include "common/text.h"
#include "db/error_numbers.h"
#include "db/sql_server_text.h"

namespace scourex::db {

namespace {

void Append(std::string& text, std::string_view key, std::string_view value) {
  if (!text.empty()) text += ';';
  text += key;
  text += '=';
  text += OdbcQuote(value);
}

bool IsOneOf(std::string_view key, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view name) { return EqualsNoCase(key, name); });
}

bool HasDriver(const std::vector<std::string>& installed, std::string_view name) {
  return std::any_of(installed.begin(), installed.end(), [&](const std::string& d) { return EqualsNoCase(d, name); });
}

void AddSecret(std::vector<std::string>& secrets, const std::string& secret) {
  if (!secret.empty() && std::find(secrets.begin(), secrets.end(), secret) == secrets.end()) secrets.push_back(secret);
}

}  // namespace

std::string ServerAddress::Display() const {
  std::string text = host;
  if (!instance.empty()) text += "\\" + instance;
  if (port) text += "," + std::to_string(*port);
  return text;
}

ServerAddress ParseServerAddress(std::string_view data_source, std::string_view keyword) {
  std::string text = TrimWhitespace(data_source);
  const size_t colon = text.find(':');
  if (colon != std::string::npos && colon > 0 && text.find_first_of("\\,") > colon) {
    const std::string prefix = text.substr(0, colon);
    if (EqualsNoCase(prefix, "tcp")) {
      text = TrimWhitespace(text.substr(colon + 1));
    } else if (EqualsNoCase(prefix, "np") || EqualsNoCase(prefix, "lpc") || EqualsNoCase(prefix, "admin")) {
      throw Error(errnum::kGeneral, "The connection text's '" + std::string(keyword) +
                                        "' asks for a protocol other than TCP/IP (np:, lpc: or admin:): only TCP/IP "
                                        "reaches SQL Server from here.");
    }
  }

  ServerAddress address;
  const size_t comma = text.rfind(',');
  if (comma != std::string::npos) {
    const std::string port_text = TrimWhitespace(std::string_view(text).substr(comma + 1));
    const std::optional<long> port = ParseWhole(port_text);
    if (!port || *port < 1 || *port > 65535) {
      throw Error(errnum::kGeneral, "The connection text's '" + std::string(keyword) +
                                        "' has an invalid port after its comma: expected a number from 1 to 65535.");
    }
    address.port = static_cast<int>(*port);
    text = TrimWhitespace(std::string_view(text).substr(0, comma));
  }
  const size_t backslash = text.find('\\');
  if (backslash != std::string::npos) {
    address.instance = TrimWhitespace(std::string_view(text).substr(backslash + 1));
    text = TrimWhitespace(std::string_view(text).substr(0, backslash));
  }
  if (text.empty() || text == "." || EqualsNoCase(text, "(local)")) {
    text = "localhost";
  }
  address.host = text;
  return address;
}

int ConnectTimeoutSeconds(const ConnectionText& text) {
  // The last one written wins; an empty value means none was written.
  std::optional<std::string> value;
  for (const ConnectionItem& item : text.items()) {
    if (!EqualsNoCase(item.key, "Connect Timeout") && !EqualsNoCase(item.key, "Connection Timeout")) continue;
    value = item.value.empty() ? std::nullopt : std::optional<std::string>(item.value);
  }
  if (!value) return kDefaultConnectTimeoutSeconds;
  const std::optional<long> seconds = ParseWhole(*value);
  if (!seconds || *seconds < 0 || *seconds > 2147483) {
    throw Refused("Connect Timeout", "must be a whole number of seconds (0 or more).");
  }
  return *seconds == 0 ? kUnlimitedConnectTimeoutSeconds : static_cast<int>(*seconds);
}

namespace {

ServerAddress AddressOf(const SqlServerText& read) {
  const Given& given = read.address ? read.address : read.server;
  return ParseServerAddress(given.value, given ? std::string_view(given.key) : std::string_view("Data Source"));
}

}  // namespace

ServerAddress SqlServerAddress(const ConnectionText& text) { return AddressOf(ReadSqlServerText(text)); }

bool UsesMicrosoftDriver(const std::vector<std::string>& installed_drivers) {
  return HasDriver(installed_drivers, kMsDriver18) || HasDriver(installed_drivers, kMsDriver17);
}

namespace {

// Writes `key=value` for a driver. A value goes in braces only when it must: it holds a
// semicolon, starts with a brace, or has spaces at its ends. Microsoft's drivers read a
// doubled closing brace inside braces as one, as ODBC says. FreeTDS (1.3) does not: it
// ends a braced value at the first '}' directly followed by ';' and keeps every other
// brace as it stands. So for FreeTDS the braces go round the value unchanged, every item
// is followed by another, and a value holding "};" cannot reach it intact.
void AppendFor(std::string& out, bool freetds, std::string_view key, const std::string& value,
               std::string_view written_key) {
  std::string quoted = OdbcQuote(value);
  if (freetds && quoted != value) {
    if (value.find("};") != std::string::npos) {
      throw Refused(written_key,
                    "holds '};', which the FreeTDS driver cannot be given intact. Change the value, or install "
                    "Microsoft's ODBC driver.");
    }
    quoted = "{" + value + "}";
  }
  if (!out.empty()) out += ';';
  out += key;
  out += '=';
  out += quoted;
}

constexpr std::string_view kKerberosHint =
    "Integrated Security here means Kerberos: the job's user needs a valid Kerberos ticket for the server's "
    "domain (kinit, or a keytab renewed by the system), and the connection text must name the server by its "
    "host name as registered for SQL Server in that domain, not by an IP address.";

enum class Driver { kMs18, kMs17, kWindowsBuiltIn, kFreeTds };

Driver ChooseDriver(const SqlServerDrivers& drivers) {
  if (HasDriver(drivers.installed, kMsDriver18)) return Driver::kMs18;
  if (HasDriver(drivers.installed, kMsDriver17)) return Driver::kMs17;
  return drivers.windows_built_in ? Driver::kWindowsBuiltIn : Driver::kFreeTds;
}

// Appends items to a driver's connection text.
class DriverText {
 public:
  DriverText(std::string& out, bool freetds) : out_(out), freetds_(freetds) {}
  void operator()(std::string_view key, const std::string& value, std::string_view written_key) {
    AppendFor(out_, freetds_, key, value, written_key);
  }

 private:
  std::string& out_;
  bool freetds_;
};

void AppendLogin(DriverText& append, const SqlServerText& read, const Request& r, const char* trusted_yes) {
  if (r.trusted) {
    append("Trusted_Connection", trusted_yes, read.integrated.key);
  } else {
    append("UID", r.uid, r.user_key);
    append("PWD", r.pwd, r.password_key);
  }
}

// What Microsoft's drivers 17 and 18 take beyond the built-in driver's keywords: the
// server's SPN, connecting to every address of a name at once, and (on Windows only) a
// mirroring partner.
void AppendMicrosoftOnly(DriverText& append, Driver driver, const SqlServerText& read, const Request& r,
                         bool on_windows) {
  const bool built_in = driver == Driver::kWindowsBuiltIn;
  constexpr const char* kNeedsDriver = "needs Microsoft's ODBC Driver 17 or 18 for SQL Server, which is not installed.";
  if (read.server_spn) {
    if (built_in) throw Refused(read.server_spn.key, kNeedsDriver);
    append("ServerSPN", read.server_spn.value, read.server_spn.key);
  }
  if (r.multi_subnet_failover) {
    if (built_in) throw Refused(read.multi_subnet_failover.key, kNeedsDriver);
    append("MultiSubnetFailover", "Yes", read.multi_subnet_failover.key);
  }
  if (read.failover_partner) {
    if (!on_windows) {
      throw Refused(read.failover_partner.key,
                    "names a mirroring partner, which Microsoft's ODBC driver follows only on Windows: connect to the "
                    "principal server, or to an availability group listener.");
    }
    if (built_in) throw Refused(read.failover_partner.key, kNeedsDriver);
    append("Failover_Partner", read.failover_partner.value, read.failover_partner.key);
  }
}

// Microsoft's drivers, and the built-in Windows driver, which shares driver 17's keywords.
void WriteForMicrosoft(DriverText& append, Driver driver, const SqlServerText& read, const ServerAddress& address,
                       const Request& r, bool on_windows) {
  const char* name = driver == Driver::kMs18   ? kMsDriver18.data()
                     : driver == Driver::kMs17 ? kMsDriver17.data()
                                               : kWindowsSqlServerDriver.data();
  append("Driver", name, "Driver");
  std::string server;
  if (address.port) {
    server = "tcp:" + address.host + "," + std::to_string(*address.port);
  } else if (!address.instance.empty()) {
    server = address.host + "\\" + address.instance;
  } else {
    server = address.host;
  }
  append("Server", server, "Data Source");
  if (read.database) append("Database", read.database.value, read.database.key);
  AppendLogin(append, read, r, "yes");
  // Driver 18 encrypts and checks the certificate unless told otherwise, and fails on
  // the self-signed certificate of a server that forces encryption. A text that says
  // nothing asks for what the older providers did: no encryption of its own, and the
  // server's certificate taken as it is when the server encrypts anyway. The built-in
  // driver predates the trust keyword, which means nothing without encryption: it is not
  // sent there then.
  switch (r.encryption) {
    case Encryption::kUnsaid:
    case Encryption::kOff:
      append("Encrypt", "no", read.encrypt.key);
      if (driver != Driver::kWindowsBuiltIn)
        append("TrustServerCertificate", (r.trust_said ? r.trust_certificate : true) ? "yes" : "no", read.trust.key);
      break;
    case Encryption::kOn:
      append("Encrypt", "yes", read.encrypt.key);
      append("TrustServerCertificate", r.trust_certificate ? "yes" : "no", read.trust.key);
      break;
    case Encryption::kStrict:
      if (driver != Driver::kMs18) {
        throw Refused(read.encrypt.key, "asks for strict encryption, which needs Microsoft's ODBC Driver 18, "
                                        "which is not installed.");
      }
      append("Encrypt", "strict", read.encrypt.key);
      break;
  }
  if (read.application) append("APP", read.application.value, read.application.key);
  if (read.workstation) append("WSID", read.workstation.value, read.workstation.key);
  if (read.language) append("Language", read.language.value, read.language.key);
  if (read.attach_file) append("AttachDBFileName", read.attach_file.value, read.attach_file.key);
  AppendMicrosoftOnly(append, driver, read, r, on_windows);
}

void AppendFreeTdsEncryption(DriverText& append, const SqlServerText& read, const Request& r,
                             const SqlServerDrivers& drivers) {
  switch (r.encryption) {
    case Encryption::kUnsaid:
      break;
    case Encryption::kOff:
      // The older providers encrypted when the server insisted; so does "request".
      append("Encryption", "request", read.encrypt.key);
      break;
    case Encryption::kOn:
      if (!r.trust_certificate && !drivers.freetds_ca_configured && r.encryption_by_provider) {
        throw Error(errnum::kBadConnectionText,
                    "The connection text names the provider MSOLEDBSQL19, which encrypts and checks the server's "
                    "certificate when the text says nothing about encryption, and the FreeTDS driver checks "
                    "certificates only against a CA file named in its configuration ('ca file' in the [global] "
                    "section of freetds.conf), which names none. Name the CA there, say "
                    "TrustServerCertificate=True to accept the certificate unchecked, or Use Encryption for "
                    "Data=Optional to encrypt only when the server asks for it.");
      }
      if (!r.trust_certificate && !drivers.freetds_ca_configured) {
        throw Refused(read.encrypt.key,
                      "asks for encryption with the server's certificate checked, and the FreeTDS driver checks "
                      "certificates only against a CA file named in its configuration ('ca file' in the [global] "
                      "section of freetds.conf), which names none. Name the CA there, or say "
                      "TrustServerCertificate=True to accept the certificate unchecked.");
      }
      append("Encryption", "require", read.encrypt.key);
      break;
    case Encryption::kStrict:
      throw Refused(read.encrypt.key,
                    "asks for strict encryption, which the FreeTDS driver cannot make: install Microsoft's ODBC "
                    "Driver 18.");
  }
}

void WriteForFreeTds(DriverText& append, const SqlServerText& read, const ServerAddress& address, const Request& r,
                     const SqlServerDrivers& drivers, std::optional<int> instance_port) {
  // FreeTDS takes the port apart from the host and knows no default port of its own
  // outside its configuration file: a server named without one listens on 1433. A named
  // instance's port was looked up through the server's browser service.
  const bool registered = HasDriver(drivers.installed, kFreeTdsDriver);
  append("Driver", registered ? std::string(kFreeTdsDriver) : drivers.freetds_library, "Driver");
  std::optional<int> port = address.port;
  if (!port && !address.instance.empty()) port = instance_port;
  if (!port && address.instance.empty()) port = kSqlServerPort;
  append("Server", port ? address.host : address.host + "\\" + address.instance, "Data Source");
  if (port) append("Port", std::to_string(*port), "Data Source");
  if (read.database) append("Database", read.database.value, read.database.key);
  AppendLogin(append, read, r, "Yes");
  AppendFreeTdsEncryption(append, read, r, drivers);
  if (read.application) append("APP", read.application.value, read.application.key);
  if (read.workstation) append("WSID", read.workstation.value, read.workstation.key);
  // FreeTDS logs in as us_english unless told; the providers sent no language, so the
  // server used the login's own, which the site's date patterns and messages assume.
  append("Language", read.language ? read.language.value : std::string(), read.language ? read.language.key : "Language");
  if (read.attach_file) append("AttachDbFilename", read.attach_file.value, read.attach_file.key);
  if (read.server_spn) append("ServerSPN", read.server_spn.value, read.server_spn.key);
  // Given as an attribute, FreeTDS (1.3) keeps the size and never sends it; from the text it
  // asks for it in its login, and for 4096 bytes when the size is smaller.
  if (r.packet_size) append("PacketSize", std::to_string(*r.packet_size), "Packet Size");
  // FreeTDS tries every address of a name at once by itself, as MultiSubnetFailover asks
  // of Microsoft's drivers; it cannot follow a mirroring partner.
  if (read.failover_partner) {
    throw Refused(read.failover_partner.key,
                  "names a mirroring partner, which the FreeTDS driver cannot follow: connect to the principal "
                  "server, or to an availability group listener.");
  }
  // FreeTDS's automatic version choice falls back to the Sybase protocol when a server
  // does not answer in time, and that path can wait for ever. SQL Server answers a 7.4
  // login with the version it speaks, so naming 7.4 loses nothing with older servers.
  append("TDS_Version", "7.4", "TDS_Version");
  // Messages and names come back as UTF-8 rather than the server's code page.
  append("ClientCharset", "UTF-8", "ClientCharset");
}

}  // namespace

OdbcTarget MapSqlServerText(const ConnectionText& text, const SqlServerDrivers& drivers, const std::string& user,
                            const std::string& password, std::optional<int> instance_port) {
  const SqlServerText read = ReadSqlServerText(text);
  OdbcTarget target;
  target.sql_server = true;
  target.login_timeout_seconds = ConnectTimeoutSeconds(text);
  CheckNetworkLibrary(read.network_library);
  const Request request = ReadRequest(read, user, password);
  target.packet_size = request.packet_size;

  const ServerAddress address = AddressOf(read);
  target.display_name = "SQL Server '" + address.Display() + "'";
  if (read.database && !read.database.value.empty()) target.display_name += ", database '" + read.database.value + "'";
  AddSecret(target.secrets, request.pwd);
  for (const ConnectionItem& item : text.items()) {
    if (IsPasswordKey(item.key)) AddSecret(target.secrets, item.value);
  }
  if (request.trusted) target.failure_hint = kKerberosHint;

  const Driver driver = ChooseDriver(drivers);
  DriverText append(target.connect_text, driver == Driver::kFreeTds);
  if (driver == Driver::kFreeTds) {
    WriteForFreeTds(append, read, address, request, drivers, instance_port);
  } else {
    WriteForMicrosoft(append, driver, read, address, request, drivers.windows_built_in);
  }
  return target;
}

bool NamesSqlServerDriver(const ConnectionText& text) {
  std::string driver = TrimWhitespace(text.Get("Driver").value_or(""));
  if (driver.size() >= 2 && driver.front() == '{' && driver.back() == '}') driver = driver.substr(1, driver.size() - 2);
  const std::string lowered = LowerAscii(driver);
  return lowered.find("sql server") != std::string::npos || lowered.find("freetds") != std::string::npos ||
         lowered.find("tdsodbc") != std::string::npos || lowered.find("sql native client") != std::string::npos;
}

OdbcTarget MapOdbcText(const ConnectionText& text, const std::string& user, const std::string& password) {
  OdbcTarget target;
  target.sql_server = NamesSqlServerDriver(text);
  target.login_timeout_seconds = ConnectTimeoutSeconds(text);

  std::string& out = target.connect_text;
  auto append_raw = [&](std::string_view key, const ConnectionItem& item) {
    if (!out.empty()) out += ';';
    out += key;
    out += '=';
    out += item.quoting == ConnectionItem::Quoting::kQuoted ? OdbcQuote(item.value) : item.raw_value;
  };
  bool names_source = false;
  std::string dsn;
  std::string driver;
  for (const ConnectionItem& item : text.items()) {
    const std::string_view key = item.key;
    if (IsOneOf(key, {"Provider", "Persist Security Info", "Connect Timeout", "Connection Timeout"})) continue;
    if (IsPasswordKey(key)) AddSecret(target.secrets, item.value);
    if (IsOneOf(key, {"Extended Properties"})) {
      // Its value is itself an ODBC text; whatever it names counts as the source.
      if (!item.value.empty()) {
        if (!out.empty()) out += ';';
        out += item.value;
        const ConnectionText inner = ConnectionText::Parse(item.value);
        for (const ConnectionItem& inner_item : inner.items()) {
          if (IsPasswordKey(inner_item.key)) AddSecret(target.secrets, inner_item.value);
        }
        if (auto inner_dsn = inner.GetAny({"DSN", "FILEDSN"})) dsn = *inner_dsn;
        if (auto inner_driver = inner.Get("Driver")) driver = *inner_driver;
        names_source = names_source || !dsn.empty() || !driver.empty();
      }
      continue;
    }
    if (!user.empty() && IsOneOf(key, {"User ID", "UID"})) continue;
    if (!password.empty() && IsOneOf(key, {"Password", "PWD"})) continue;

    std::string_view odbc_key = key;
    if (EqualsNoCase(key, "Data Source")) odbc_key = "DSN";
    else if (EqualsNoCase(key, "User ID")) odbc_key = "UID";
    else if (EqualsNoCase(key, "Password")) odbc_key = "PWD";
    else if (EqualsNoCase(key, "Initial Catalog")) odbc_key = "DATABASE";
    if (EqualsNoCase(odbc_key, "DSN") || EqualsNoCase(odbc_key, "FILEDSN")) {
      dsn = item.value;
      names_source = true;
    } else if (EqualsNoCase(odbc_key, "Driver")) {
      driver = item.value;
      names_source = true;
    }
    append_raw(odbc_key, item);
  }
  if (!user.empty()) Append(out, "UID", user);
  if (!password.empty()) {
    Append(out, "PWD", password);
    AddSecret(target.secrets, password);
  }
  if (!names_source) {
    throw Error(errnum::kGeneral,
                "The connection text names no ODBC data source or driver: it needs DSN=... or Driver=...");
  }
  if (!dsn.empty()) {
    target.display_name = "ODBC data source '" + dsn + "'";
  } else {
    target.display_name = "ODBC driver '" + driver + "'";
  }
  if (auto database = text.GetAny({"Database", "Initial Catalog"})) {
    target.display_name += ", database '" + *database + "'";
  }
  return target;
}

}  // namespace scourex::db
