#include "db/odbc_diagnostics.h"

#include <algorithm>
#include <cctype>

#include "db/connection_text.h"
#include "db/error_numbers.h"

namespace scourex::db {

namespace {

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return lowered;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IsWarning(const DiagRecord& record) { return StartsWith(record.sqlstate, "01"); }

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

long ClassifyDiagnostic(const DiagRecord& record) {
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
  std::string text = TrimSpaces(message);
  while (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) break;
    text = TrimSpaces(std::string_view(text).substr(close + 1));
  }
  const std::string code = "(" + std::to_string(native) + ")";
  if (text.size() > code.size() && text.ends_with(code)) {
    text = TrimSpaces(std::string_view(text).substr(0, text.size() - code.size()));
  }
  return text;
}

Error ErrorFromDiagnostics(const std::vector<DiagRecord>& records, const std::vector<std::string>& secrets,
                           std::string_view context) {
  std::vector<const DiagRecord*> errors;
  for (const DiagRecord& record : records) {
    if (!IsWarning(record)) errors.push_back(&record);
  }
  // A failure reported only through warnings still deserves their words.
  if (errors.empty()) {
    for (const DiagRecord& record : records) errors.push_back(&record);
  }

  long number = errnum::kGeneral;
  for (const DiagRecord* record : errors) {
    const long candidate = ClassifyDiagnostic(*record);
    if (candidate != errnum::kGeneral) {
      number = candidate;
      break;
    }
  }

  std::vector<std::string> messages;
  for (const DiagRecord* record : errors) {
    std::string message = CleanDriverMessage(record->message, record->native);
    if (!message.empty() && std::find(messages.begin(), messages.end(), message) == messages.end()) {
      messages.push_back(std::move(message));
    }
  }
  std::string description;
  for (const std::string& message : messages) {
    if (!description.empty()) description += ' ';
    description += message;
  }
  if (description.empty()) description = "The ODBC driver reported a failure without a message.";
  description = ScrubSecrets(std::move(description), secrets);
  if (!context.empty() && (number == errnum::kGeneral || number == errnum::kTimeout)) {
    description += " (" + ScrubSecrets(std::string(context), secrets) + ")";
  }
  return Error(number, description);
}

}  // namespace scourex::db
