#include "db/odbc_diagnostics.h"

#include <algorithm>
#include <cctype>

#include "common/text.h"
#include "db/connection_text.h"
#include "db/error_numbers.h"

namespace scourex::db {

namespace {

std::string Lowered(std::string_view text) { return LowerAscii(std::string(text)); }

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsWarning(const DiagRecord& record) { return StartsWith(record.sqlstate, "01"); }

// Informational records every successful login or command produces; they are never a
// failure's cause.
bool IsChatter(const DiagRecord& record) {
  return record.native == 5701 || record.native == 5703 || record.native == 5704;
}

// SQL Server's error numbers (and the FreeTDS client's own, 20000 and up) that say which
// class of failure they are whatever SQLSTATE the driver reports with them. The classes
// are the ones ADO reported through the old providers; a number not named here is a
// failure of the server or of the moment (deadlock 1205, lock timeout 1222, full log
// 9002 ...) and gets the general number, not the one that points at the command's text.
long ClassifySqlServerNative(long native) {
  switch (native) {
    case 18456:  // login failed
    case 18452:  // login from an untrusted domain (integrated security)
    case 18470:  // account disabled
    case 18486:  // account locked out
    case 18487:  // password expired
    case 18488:  // password must be changed
    case 4060:   // cannot open the database the login asked for
    case 4064:   // cannot open the login's default database
      return errnum::kLoginFailed;
    case 229:    // permission denied on an object
    case 230:    // permission denied on a column
    case 262:    // permission denied in the database
    case 297:    // the user has no permission for this action
    case 300:    // a permission was denied on an object
    case 15247:  // no permission for this action (system procedures)
      return errnum::kPermissionDenied;
    case 208:  // invalid object name
      return errnum::kUnknownTable;
    case 102:  // incorrect syntax
    case 105:  // unclosed quotation mark
    case 156:  // incorrect syntax near a keyword
    case 170:  // incorrect syntax (older servers)
    case 207:  // invalid column name
      return errnum::kCommandText;
    case 241:  // a date literal the server cannot read
    case 242:  // a date literal out of range (a day read as a month)
    case 8114:
    case 245:
      return errnum::kConversion;
    case 515:   // NULL into a column that refuses it
    case 547:   // a constraint (foreign key, check) conflict
    case 2601:  // a duplicate key in a unique index
    case 2627:  // a duplicate key under a unique or primary key constraint
      return errnum::kIntegrity;
    case 20003:  // FreeTDS: the server did not answer in time
      return errnum::kTimeout;
    default:
      return 0;
  }
}

// A number of the server's own rather than the FreeTDS client's (20000 to 49999).
bool IsServerError(long native) { return (native > 0 && native < 20000) || native >= 50000; }

// The connection itself failed under the command (the server went away, the network
// broke): SQLSTATE 08S01, or FreeTDS's own read, write and end-of-stream errors.
bool IsLostConnection(const DiagRecord& record) {
  if (record.sqlstate == "08S01" || record.sqlstate == "08003" || record.sqlstate == "08007") return true;
  return record.native == 20004 || record.native == 20006 || record.native == 20017 || record.native == 20047;
}

// Drivers that report everything as HY000 (SQLite's among them) still say what went
// wrong in words.
long ClassifyMessage(std::string_view message) {
  const std::string text = Lowered(message);
  auto has = [&](std::string_view words) { return text.find(words) != std::string::npos; };
  if (has("no such table") || has("invalid object name")) return errnum::kUnknownTable;
  if (has("no such column") || has("invalid column name")) return errnum::kUnknownColumn;
  if (has("syntax error") || has("incorrect syntax")) return errnum::kCommandText;
  if (has("constraint failed") || has("constraint violation") || has("violation of primary key") ||
      has("conflicted with the")) {
    return errnum::kIntegrity;
  }
  if (has("login failed")) return errnum::kLoginFailed;
  if (has("timeout expired") || has("query timeout") || has("interrupted")) return errnum::kTimeout;
  return errnum::kGeneral;
}

}  // namespace

long ClassifyDiagnostic(const DiagRecord& record, bool sql_server) {
  if (sql_server) {
    if (const long number = ClassifySqlServerNative(record.native)) return number;
    // Every other error of the server is a failure of the server or of the moment
    // (deadlock 1205, lock timeout 1222, full log 9002 ...), whatever SQLSTATE comes with it.
    if (IsServerError(record.native)) return errnum::kGeneral;
  }
  const std::string_view state = record.sqlstate;
  if (state == "28000") return errnum::kLoginFailed;
  if (state == "HYT00" || state == "HYT01" || state == "S1T00") return errnum::kTimeout;
  if (state == "42S02" || state == "S0002") return errnum::kUnknownTable;
  if (state == "42S22" || state == "S0022") return errnum::kUnknownColumn;
  if (StartsWith(state, "23")) return errnum::kIntegrity;
  if (StartsWith(state, "42") || state == "37000") return errnum::kCommandText;
  if (StartsWith(state, "08") || StartsWith(state, "IM")) return errnum::kGeneral;
  return ClassifyMessage(record.message);
}

std::string CleanDriverMessage(std::string_view message, long native) {
  std::string text = TrimWhitespace(message);
  while (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) break;
    text = TrimWhitespace(std::string_view(text).substr(close + 1));
  }
  const std::string code = "(" + std::to_string(native) + ")";
  if (text.size() > code.size() && text.ends_with(code)) {
    text = TrimWhitespace(std::string_view(text).substr(0, text.size() - code.size()));
  }
  return text;
}

Error ErrorFromDiagnostics(const std::vector<DiagRecord>& records, const DiagnosticContext& context) {
  const bool connecting = !context.target.empty();
  std::vector<const DiagRecord*> errors;
  std::vector<const DiagRecord*> causes;
  for (const DiagRecord& record : records) {
    if (!IsWarning(record)) {
      errors.push_back(&record);
    } else if (!IsChatter(record)) {
      causes.push_back(&record);
    }
  }
  // A failure reported only through warnings still deserves their words; a connection's
  // warnings say why it failed.
  if (errors.empty()) {
    errors = causes;
    causes.clear();
  } else if (!connecting) {
    causes.clear();
  }

  long number = errnum::kGeneral;
  for (const DiagRecord* record : errors) {
    const long candidate = ClassifyDiagnostic(*record, context.sql_server);
    if (candidate != errnum::kGeneral) {
      number = candidate;
      break;
    }
  }
  // A native error in a cause decides as well (FreeTDS gives a timeout that way).
  if (number == errnum::kGeneral && context.sql_server) {
    for (const DiagRecord* record : causes) {
      if (const long candidate = ClassifySqlServerNative(record->native)) {
        number = candidate;
        break;
      }
    }
  }

  std::vector<std::string> messages;
  for (const auto* group : {&errors, &causes}) {
    for (const DiagRecord* record : *group) {
      std::string message = CleanDriverMessage(record->message, record->native);
      if (!message.empty() && std::find(messages.begin(), messages.end(), message) == messages.end()) {
        messages.push_back(std::move(message));
      }
    }
  }
  std::string description;
  for (const std::string& message : messages) {
    if (!description.empty()) {
      const char last = description.back();
      if (last != '.' && last != '!' && last != '?' && last != ':') description += '.';
      description += ' ';
    }
    description += message;
  }
  if (description.empty()) description = "The ODBC driver reported a failure without a message.";
  if (!connecting && !context.server.empty() &&
      std::any_of(errors.begin(), errors.end(), [](const DiagRecord* record) { return IsLostConnection(*record); })) {
    number = errnum::kGeneral;
    description = "The connection to " + context.server +
                  " was lost during the command, which may or may not have taken effect: " + description;
  }
  if (connecting && (number == errnum::kGeneral || number == errnum::kTimeout)) {
    description += " (" + context.target + ")";
  }
  if (connecting && !context.hint.empty()) description += " " + context.hint;
  return Error(number, ScrubSecrets(std::move(description), context.secrets));
}

}  // namespace scourex::db
