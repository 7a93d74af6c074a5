#include "db/odbc_text.h"

#include <algorithm>
#include <charconv>

#include "common/error.h"
#include "db/error_numbers.h"

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

bool IsTrue(std::string_view value) {
  const std::string trimmed = TrimSpaces(value);
  return EqualsNoCase(trimmed, "true") || EqualsNoCase(trimmed, "yes") || trimmed == "1" ||
         EqualsNoCase(trimmed, "sspi");
}

bool IsFalse(std::string_view value) {
  const std::string trimmed = TrimSpaces(value);
  return EqualsNoCase(trimmed, "false") || EqualsNoCase(trimmed, "no") || trimmed == "0";
}

bool HasDriver(const std::vector<std::string>& installed, std::string_view name) {
  return std::any_of(installed.begin(), installed.end(), [&](const std::string& d) { return EqualsNoCase(d, name); });
}

// The whole number in `text` (surrounding spaces allowed), or nothing.
std::optional<long> ParseWhole(std::string_view text) {
  const std::string trimmed = TrimSpaces(text);
  long number = 0;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  auto [stop, status] = std::from_chars(begin, end, number);
  if (trimmed.empty() || status != std::errc() || stop != end) return std::nullopt;
  return number;
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

ServerAddress ParseServerAddress(std::string_view data_source) {
  std::string text = TrimSpaces(data_source);
  if (text.size() >= 4 && EqualsNoCase(std::string_view(text).substr(0, 4), "tcp:")) text = TrimSpaces(text.substr(4));

  ServerAddress address;
  const size_t comma = text.rfind(',');
  if (comma != std::string::npos) {
    const std::string port_text = TrimSpaces(std::string_view(text).substr(comma + 1));
    const std::optional<long> port = ParseWhole(port_text);
    if (!port || *port < 1 || *port > 65535) {
      throw Error(errnum::kGeneral, "The server name '" + std::string(TrimSpaces(data_source)) +
                                        "' has an invalid port: expected a number from 1 to 65535.");
    }
    address.port = static_cast<int>(*port);
    text = TrimSpaces(std::string_view(text).substr(0, comma));
  }
  const size_t backslash = text.find('\\');
  if (backslash != std::string::npos) {
    address.instance = TrimSpaces(std::string_view(text).substr(backslash + 1));
    text = TrimSpaces(std::string_view(text).substr(0, backslash));
  }
  if (text.empty() || text == "." || EqualsNoCase(text, "(local)")) {
    text = "localhost";
  }
  address.host = text;
  return address;
}

int ConnectTimeoutSeconds(const ConnectionText& text) {
  const std::optional<std::string> value = text.GetAny({"Connect Timeout", "Connection Timeout"});
  if (!value) return kDefaultConnectTimeoutSeconds;
  const std::optional<long> seconds = ParseWhole(*value);
  if (!seconds || *seconds < 0 || *seconds > 2147483) {
    throw Error(errnum::kBadConnectionText,
                "The connection text's 'Connect Timeout' must be a whole number of seconds (0 or more), not '" +
                    TrimSpaces(*value) + "'.");
  }
  return static_cast<int>(*seconds);
}

std::string DefaultFreeTdsLibrary() {
#if defined(__x86_64__)
  constexpr const char* kMultiarch = "x86_64-linux-gnu";
#elif defined(__aarch64__)
  constexpr const char* kMultiarch = "aarch64-linux-gnu";
#elif defined(__i386__)
  constexpr const char* kMultiarch = "i386-linux-gnu";
#elif defined(__arm__)
  constexpr const char* kMultiarch = "arm-linux-gnueabihf";
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
  constexpr const char* kMultiarch = "powerpc64le-linux-gnu";
#elif defined(__s390x__)
  constexpr const char* kMultiarch = "s390x-linux-gnu";
#elif defined(__riscv) && __riscv_xlen == 64
  constexpr const char* kMultiarch = "riscv64-linux-gnu";
#else
  constexpr const char* kMultiarch = nullptr;
#endif
  if (kMultiarch == nullptr) return "/usr/lib/odbc/libtdsodbc.so";
  return std::string("/usr/lib/") + kMultiarch + "/odbc/libtdsodbc.so";
}

ServerAddress SqlServerAddress(const ConnectionText& text) {
  // Address, when given, is where the server named by Data Source actually listens.
  return ParseServerAddress(text.GetAny({"Address", "Addr", "Data Source", "Server"}).value_or(""));
}

bool UsesMicrosoftDriver(const std::vector<std::string>& installed_drivers) {
  return HasDriver(installed_drivers, kMsDriver18) || HasDriver(installed_drivers, kMsDriver17);
}

OdbcTarget MapSqlServerText(const ConnectionText& text, const std::vector<std::string>& installed_drivers,
                            const std::string& user, const std::string& password,
                            const std::string& freetds_library, std::optional<int> instance_port) {
  OdbcTarget target;
  target.login_timeout_seconds = ConnectTimeoutSeconds(text);

  const ServerAddress address = SqlServerAddress(text);
  const std::optional<std::string> database = text.GetAny({"Initial Catalog", "Database"});
  const std::string uid = !user.empty() ? user : text.GetAny({"User ID", "UID", "User"}).value_or("");
  const std::string pwd = !password.empty() ? password : text.GetAny({"Password", "PWD"}).value_or("");
  const std::optional<std::string> integrated = text.GetAny({"Integrated Security", "Trusted_Connection"});
  const bool trusted = integrated && IsTrue(*integrated);
  const std::optional<std::string> encrypt = text.Get("Encrypt");
  const std::optional<std::string> trust_certificate = text.Get("TrustServerCertificate");
  const std::optional<std::string> application = text.GetAny({"Application Name", "APP"});
  const std::optional<std::string> workstation = text.GetAny({"Workstation ID", "WSID"});

  target.display_name = "SQL Server '" + address.Display() + "'";
  if (database && !database->empty()) target.display_name += ", database '" + *database + "'";
  AddSecret(target.secrets, pwd);
  for (const ConnectionItem& item : text.items()) {
    if (IsPasswordKey(item.key)) AddSecret(target.secrets, item.value);
  }

  std::string& out = target.connect_text;
  const bool ms18 = HasDriver(installed_drivers, kMsDriver18);
  const bool ms17 = !ms18 && HasDriver(installed_drivers, kMsDriver17);
  if (ms18 || ms17) {
    Append(out, "Driver", ms18 ? kMsDriver18 : kMsDriver17);
    std::string server;
    if (address.port) {
      server = "tcp:" + address.host + "," + std::to_string(*address.port);
    } else if (!address.instance.empty()) {
      server = address.host + "\\" + address.instance;
    } else {
      server = address.host;
    }
    Append(out, "Server", server);
    if (database) Append(out, "Database", *database);
    if (trusted) {
      Append(out, "Trusted_Connection", "yes");
    } else {
      Append(out, "UID", uid);
      Append(out, "PWD", pwd);
    }
    // Driver 18 encrypts and checks the certificate unless told otherwise; the older
    // providers did neither, and only MSOLEDBSQL19 shares the newer default.
    std::optional<std::string> encrypt_value;
    if (encrypt) {
      const std::string wanted = TrimSpaces(*encrypt);
      if (IsTrue(wanted) || EqualsNoCase(wanted, "mandatory")) {
        encrypt_value = "yes";
      } else if (IsFalse(wanted) || EqualsNoCase(wanted, "optional")) {
        encrypt_value = "no";
      } else if (EqualsNoCase(wanted, "strict")) {
        encrypt_value = ms18 ? "strict" : "yes";
      } else {
        encrypt_value = wanted;
      }
    } else if (!EqualsNoCase(TrimSpaces(text.Get("Provider").value_or("")), "MSOLEDBSQL19")) {
      encrypt_value = "no";
    }
    if (encrypt_value) Append(out, "Encrypt", *encrypt_value);
    if (trust_certificate) Append(out, "TrustServerCertificate", IsTrue(*trust_certificate) ? "yes" : "no");
    if (application) Append(out, "APP", *application);
    if (workstation) Append(out, "WSID", *workstation);
    return target;
  }

  // FreeTDS: the port goes apart from the host; an instance is looked up through the
  // server's browser service unless a port is given.
  const bool freetds_registered = HasDriver(installed_drivers, kFreeTdsDriver);
  Append(out, "Driver", freetds_registered ? std::string(kFreeTdsDriver) : freetds_library);
  const std::optional<int> port = address.port ? address.port : address.instance.empty() ? std::nullopt : instance_port;
  if (port || address.instance.empty()) {
    Append(out, "Server", address.host);
  } else {
    Append(out, "Server", address.host + "\\" + address.instance);
  }
  if (port) Append(out, "Port", std::to_string(*port));
  if (database) Append(out, "Database", *database);
  if (trusted) {
    Append(out, "Trusted_Connection", "Yes");
  } else {
    Append(out, "UID", uid);
    Append(out, "PWD", pwd);
  }
  if (encrypt) {
    const std::string wanted = TrimSpaces(*encrypt);
    if (IsTrue(wanted) || EqualsNoCase(wanted, "mandatory") || EqualsNoCase(wanted, "strict")) {
      Append(out, "Encryption", "require");
    } else if (IsFalse(wanted) || EqualsNoCase(wanted, "optional")) {
      Append(out, "Encryption", "request");
    }
  }
  if (application) Append(out, "APP", *application);
  if (workstation) Append(out, "WSID", *workstation);
  // FreeTDS's automatic version choice falls back to the Sybase protocol when a server
  // does not answer in time, and that path can wait for ever. SQL Server answers a 7.4
  // login with the version it speaks, so naming 7.4 loses nothing with older servers.
  Append(out, "TDS_Version", "7.4");
  // Messages and names come back as UTF-8 rather than the server's code page.
  Append(out, "ClientCharset", "UTF-8");
  return target;
}

OdbcTarget MapOdbcText(const ConnectionText& text, const std::string& user, const std::string& password) {
  OdbcTarget target;
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
