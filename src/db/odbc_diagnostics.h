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

// The error number for one record, from its SQLSTATE and, for drivers that only say
// HY000, from what the message says.
long ClassifyDiagnostic(const DiagRecord& record);

// The message without leading "[vendor][component]" tags, surrounding spaces, and a
// trailing "(<native code>)" that some drivers repeat.
std::string CleanDriverMessage(std::string_view message, long native);

// One error for a failed call: the number of the most specific record, the cleaned
// messages of all error records joined by spaces, with `secrets` and password values
// scrubbed. `context` (what was being opened), when given, is added to connection
// failures and timeouts whose message does not say which server or file they concern.
Error ErrorFromDiagnostics(const std::vector<DiagRecord>& records, const std::vector<std::string>& secrets,
                           std::string_view context = {});

}  // namespace scourex::db
