#pragma once
// Turning ODBC diagnostic records into the job's errors: a number for the class of
// failure and the driver's own words, without the driver-manager and driver tags and
// without any password.

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace scourex::db {

struct DiagRecord {
  std::string sqlstate;  // five characters, e.g. "42S02"
  long native = 0;       // the driver's own code
  std::string message;   // as the driver manager returned it
};

// What the records of one failed call are read against.
struct DiagnosticContext {
  std::vector<std::string> secrets;  // kept out of every description
  // The records come from a SQL Server driver: their native codes are SQL Server's error
  // numbers (and FreeTDS's own), which say more than the SQLSTATE the driver picked.
  bool sql_server = false;
  // Set while connecting: what was being opened. A connection's failure keeps the
  // driver's informational records, which hold its cause, and names the target when the
  // messages do not.
  std::string target;
  std::string hint;  // added to a failed connection's description (what the site must provide)
  // For commands: names the server (no secret) when the connection to it is lost.
  std::string server;
};

// The error number for one record: from a SQL Server native error when `sql_server`,
// else from its SQLSTATE, and for drivers that only say HY000, from what it says.
long ClassifyDiagnostic(const DiagRecord& record, bool sql_server = false);

// The message without leading "[vendor][component]" tags, surrounding spaces, and a
// trailing "(<native code>)" that some drivers repeat.
std::string CleanDriverMessage(std::string_view message, long native);

// One error for a failed call: the number of the most specific record, and the cleaned
// messages (errors first, then the causes a connection's informational records give)
// joined as sentences, with the secrets and password values scrubbed.
Error ErrorFromDiagnostics(const std::vector<DiagRecord>& records, const DiagnosticContext& context);

}  // namespace scourex::db
