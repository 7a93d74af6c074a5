#pragma once
// What a SQL Server connection text asks for, read as the OLE DB providers read it and
// checked before any driver sees it: every keyword is one the job honours, accepts
// without effect, or refuses. An empty value means the keyword is absent, as in the texts
// data-link (.udl) files write. Messages name keywords by their canonical names and
// unknown items by their position, never quoting what the text holds.

#include <optional>
#include <string>
#include <string_view>

#include "common/error.h"
#include "db/connection_text.h"

namespace scourex::db {

// A value as given, under the canonical name of the keyword it was written with.
struct Given {
  std::string key;  // empty: absent
  std::string value;
  explicit operator bool() const { return !key.empty(); }
};

struct SqlServerText {
  Given server, address, network_library, database, user, password, integrated, encrypt, trust, application,
      workstation, language, attach_file, packet_size, server_spn, multi_subnet_failover, failover_partner;
  std::string provider;  // KnownProvider's name, or empty
};

// Throws scourex::Error (errnum::kBadConnectionText) for an unknown keyword with a value,
// and for a value of a keyword accepted without effect that the job cannot accept (a
// read-only application intent, which cannot purge).
SqlServerText ReadSqlServerText(const ConnectionText& text);

// The refusal of a keyword's value; `key` is a canonical name.
Error Refused(std::string_view key, const std::string& why);

// A switch given as true/yes/1/SSPI or false/no/0; `absent` when not given.
bool ReadSwitch(const Given& given, bool absent);

enum class Encryption { kUnsaid, kOff, kOn, kStrict };
Encryption ReadEncryption(const Given& given);

// Only TCP/IP (DBMSSOCN) reaches SQL Server from here.
void CheckNetworkLibrary(const Given& network_library);

// The text's settings that do not depend on the driver, checked, with the login that
// `user` and `password` override.
struct Request {
  bool trusted = false;
  Encryption encryption = Encryption::kUnsaid;
  bool encryption_by_provider = false;  // MSOLEDBSQL19's default, the text saying nothing
  bool trust_said = false;
  bool trust_certificate = false;
  bool multi_subnet_failover = false;
  std::optional<int> packet_size;
  std::string uid, pwd;
  std::string_view user_key, password_key;  // canonical names, for errors
};

Request ReadRequest(const SqlServerText& read, const std::string& user, const std::string& password);

// The whole number in `text` (surrounding spaces allowed), or nothing.
std::optional<long> ParseWhole(std::string_view text);

}  // namespace scourex::db
