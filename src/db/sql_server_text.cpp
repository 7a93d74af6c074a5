#include "db/sql_server_text.h"

#include <charconv>

#include "db/error_numbers.h"

namespace scourex::db {

namespace {

// What each keyword of a SQL Server text means. Synonyms share a meaning; within one
// meaning the last keyword written wins.
enum class Meaning {
  kProvider, kServer, kAddress, kNetworkLibrary, kDatabase, kUser, kPassword, kIntegrated, kEncrypt,
  kTrustCertificate, kApplication, kWorkstation, kLanguage, kAttachFile, kConnectTimeout, kPacketSize,
  kServerSpn, kMultiSubnetFailover, kFailoverPartner,
  // Accepted without effect once their value is checked: the job runs one statement at a
  // time on each connection (MARS), reads no result columns (type compatibility), and
  // must be able to write (intent).
  kMars, kDataTypeCompatibility, kApplicationIntent,
  kNoEffect,  // settings of the OLE DB layer that change nothing in how the job connects or what it sends
};

struct Keyword {
  std::string_view name;
  Meaning meaning;
};

constexpr Keyword kSqlServerKeywords[] = {
    {"Provider", Meaning::kProvider},
    {"Data Source", Meaning::kServer},
    {"Server", Meaning::kServer},
    {"Network Address", Meaning::kAddress},
    {"Address", Meaning::kAddress},
    {"Addr", Meaning::kAddress},
    {"Network Library", Meaning::kNetworkLibrary},
    {"Network", Meaning::kNetworkLibrary},
    {"Net", Meaning::kNetworkLibrary},
    {"Initial Catalog", Meaning::kDatabase},
    {"Database", Meaning::kDatabase},
    {"User ID", Meaning::kUser},
    {"UID", Meaning::kUser},
    {"User", Meaning::kUser},
    {"Password", Meaning::kPassword},
    {"PWD", Meaning::kPassword},
    {"Integrated Security", Meaning::kIntegrated},
    {"Trusted_Connection", Meaning::kIntegrated},
    {"Encrypt", Meaning::kEncrypt},
    {"Use Encryption for Data", Meaning::kEncrypt},
    {"TrustServerCertificate", Meaning::kTrustCertificate},
    {"Trust Server Certificate", Meaning::kTrustCertificate},
    {"Application Name", Meaning::kApplication},
    {"APP", Meaning::kApplication},
    {"Workstation ID", Meaning::kWorkstation},
    {"WSID", Meaning::kWorkstation},
    {"Current Language", Meaning::kLanguage},
    {"Language", Meaning::kLanguage},
    {"Initial File Name", Meaning::kAttachFile},
    {"AttachDBFileName", Meaning::kAttachFile},
    {"Connect Timeout", Meaning::kConnectTimeout},
    {"Connection Timeout", Meaning::kConnectTimeout},
    {"Packet Size", Meaning::kPacketSize},
    {"Server SPN", Meaning::kServerSpn},
    {"ServerSPN", Meaning::kServerSpn},
    {"MultiSubnetFailover", Meaning::kMultiSubnetFailover},
    {"Failover Partner", Meaning::kFailoverPartner},
    {"FailoverPartner", Meaning::kFailoverPartner},
    {"Failover_Partner", Meaning::kFailoverPartner},
    {"MARS Connection", Meaning::kMars},
    {"MarsConn", Meaning::kMars},
    {"DataTypeCompatibility", Meaning::kDataTypeCompatibility},
    {"Application Intent", Meaning::kApplicationIntent},
    {"ApplicationIntent", Meaning::kApplicationIntent},
    {"Persist Security Info", Meaning::kNoEffect},
    {"Auto Translate", Meaning::kNoEffect},  // every text crosses as Unicode
    {"Use Procedure for Prepare", Meaning::kNoEffect},  // the job prepares nothing
    {"OLE DB Services", Meaning::kNoEffect},
    {"Tag with column collation when possible", Meaning::kNoEffect},
};

const Keyword* FindKeyword(std::string_view key) {
  for (const Keyword& candidate : kSqlServerKeywords) {
    if (EqualsNoCase(key, candidate.name)) return &candidate;
  }
  return nullptr;
}

// The slot of `read` that a meaning fills, or nothing for those that fill none.
Given* SlotOf(SqlServerText& read, Meaning meaning) {
  switch (meaning) {
    case Meaning::kServer: return &read.server;
    case Meaning::kAddress: return &read.address;
    case Meaning::kNetworkLibrary: return &read.network_library;
    case Meaning::kDatabase: return &read.database;
    case Meaning::kUser: return &read.user;
    case Meaning::kPassword: return &read.password;
    case Meaning::kIntegrated: return &read.integrated;
    case Meaning::kEncrypt: return &read.encrypt;
    case Meaning::kTrustCertificate: return &read.trust;
    case Meaning::kApplication: return &read.application;
    case Meaning::kWorkstation: return &read.workstation;
    case Meaning::kLanguage: return &read.language;
    case Meaning::kAttachFile: return &read.attach_file;
    case Meaning::kPacketSize: return &read.packet_size;
    case Meaning::kServerSpn: return &read.server_spn;
    case Meaning::kMultiSubnetFailover: return &read.multi_subnet_failover;
    case Meaning::kFailoverPartner: return &read.failover_partner;
    default: return nullptr;
  }
}

void CheckAcceptedValue(const Keyword& keyword, const std::string& value) {
  const std::string wanted = TrimWhitespace(value);
  switch (keyword.meaning) {
    case Meaning::kMars:
      ReadSwitch(Given{std::string(keyword.name), value}, false);
      break;
    case Meaning::kDataTypeCompatibility:
      if (wanted != "0" && wanted != "80") throw Refused(keyword.name, "must be 0 or 80.");
      break;
    case Meaning::kApplicationIntent:
      if (EqualsNoCase(wanted, "ReadOnly")) {
        throw Refused(keyword.name,
                      "asks for a read-only connection, on which the job cannot delete anything: remove it, or "
                      "say ReadWrite.");
      }
      if (!EqualsNoCase(wanted, "ReadWrite")) throw Refused(keyword.name, "must be ReadWrite or ReadOnly.");
      break;
    default:
      break;
  }
}

bool IsTrue(std::string_view value) {
  const std::string trimmed = TrimWhitespace(value);
  return EqualsNoCase(trimmed, "true") || EqualsNoCase(trimmed, "yes") || trimmed == "1" ||
         EqualsNoCase(trimmed, "sspi");
}

bool IsFalse(std::string_view value) {
  const std::string trimmed = TrimWhitespace(value);
  return EqualsNoCase(trimmed, "false") || EqualsNoCase(trimmed, "no") || trimmed == "0";
}

}  // namespace

Error Refused(std::string_view key, const std::string& why) {
  return Error(errnum::kBadConnectionText, "The connection text's '" + std::string(key) + "' " + why);
}

std::optional<long> ParseWhole(std::string_view text) {
  const std::string trimmed = TrimWhitespace(text);
  long number = 0;
  const char* begin = trimmed.data();
  const char* end = begin + trimmed.size();
  auto [stop, status] = std::from_chars(begin, end, number);
  if (trimmed.empty() || status != std::errc() || stop != end) return std::nullopt;
  return number;
}

SqlServerText ReadSqlServerText(const ConnectionText& text) {
  SqlServerText read;
  bool provider_read = false;
  for (const ConnectionItem& item : text.items()) {
    const Keyword* keyword = FindKeyword(item.key);
    // An empty value means the keyword is absent, known or not.
    const bool absent = item.value.empty();
    if (keyword == nullptr) {
      if (absent) continue;
      throw Error(errnum::kBadConnectionText,
                  "The connection text's " + Ordinal(item.position) +
                      " item is not a keyword this job can honour for SQL Server: remove it, or write it as one of "
                      "the keywords of the SQLOLEDB provider.");
    }
    if (keyword->meaning == Meaning::kProvider) {
      if (!provider_read) read.provider = KnownProvider(item.value);
      provider_read = true;
      continue;
    }
    if (Given* slot = SlotOf(read, keyword->meaning)) {
      *slot = absent ? Given{} : Given{std::string(keyword->name), item.value};
    } else if (!absent) {
      CheckAcceptedValue(*keyword, item.value);
    }
  }
  return read;
}

bool ReadSwitch(const Given& given, bool absent) {
  if (!given) return absent;
  if (IsTrue(given.value)) return true;
  if (IsFalse(given.value)) return false;
  throw Refused(given.key, "must be true or false (yes or no).");
}

Encryption ReadEncryption(const Given& given) {
  if (!given) return Encryption::kUnsaid;
  const std::string wanted = TrimWhitespace(given.value);
  if (IsTrue(wanted) || EqualsNoCase(wanted, "mandatory")) return Encryption::kOn;
  if (IsFalse(wanted) || EqualsNoCase(wanted, "optional")) return Encryption::kOff;
  if (EqualsNoCase(wanted, "strict")) return Encryption::kStrict;
  throw Refused(given.key, "must be true, false, mandatory, optional or strict.");
}

void CheckNetworkLibrary(const Given& network_library) {
  if (!network_library) return;
  std::string library = TrimWhitespace(network_library.value);
  if (library.size() > 4 && EqualsNoCase(std::string_view(library).substr(library.size() - 4), ".dll"))
    library.resize(library.size() - 4);
  if (!EqualsNoCase(library, "DBMSSOCN")) {
    throw Refused(network_library.key,
                  "names a network library other than TCP/IP (DBMSSOCN): only TCP/IP reaches SQL Server from here.");
  }
}

namespace {

// Bytes from 512 to 32767, as the providers took them.
std::optional<int> ReadPacketSize(const Given& packet_size) {
  if (!packet_size) return std::nullopt;
  const std::optional<long> size = ParseWhole(packet_size.value);
  if (!size || *size < 512 || *size > 32767)
    throw Refused(packet_size.key, "must be a number of bytes from 512 to 32767.");
  return static_cast<int>(*size);
}

}  // namespace

Request ReadRequest(const SqlServerText& read, const std::string& user, const std::string& password) {
  Request r;
  r.trusted = ReadSwitch(read.integrated, false);  // SSPI counts as true
  r.encryption = ReadEncryption(read.encrypt);
  r.trust_said = static_cast<bool>(read.trust);
  r.trust_certificate = ReadSwitch(read.trust, false);
  r.multi_subnet_failover = ReadSwitch(read.multi_subnet_failover, false);
  r.packet_size = ReadPacketSize(read.packet_size);
  // The newest provider encrypted and checked the certificate unless told otherwise.
  if (r.encryption == Encryption::kUnsaid && read.provider == "MSOLEDBSQL19") {
    r.encryption = Encryption::kOn;
    r.encryption_by_provider = true;
  }
  r.uid = !user.empty() ? user : read.user.value;
  r.pwd = !password.empty() ? password : read.password.value;
  r.user_key = !user.empty() || !read.user ? std::string_view("User ID") : std::string_view(read.user.key);
  r.password_key =
      !password.empty() || !read.password ? std::string_view("Password") : std::string_view(read.password.key);
  return r;
}

}  // namespace scourex::db
