#include "db/jet_backend.h"

#include <cctype>

#include "common/error.h"
#include "common/text.h"
#include "db/error_numbers.h"
#include "db/jet_error_numbers.h"
#include "jet/compact.h"
#include "jet/error.h"
#include "jet/session.h"

namespace scourex::db {

JetOpenOptions JetOptionsFromText(const ConnectionText& text, const std::string& user, const std::string& password) {
  JetOpenOptions options;
  options.data_source = TrimWhitespace(text.Get("Data Source").value_or(""));
  options.mode = TrimWhitespace(text.Get("Mode").value_or(""));
  options.database_password = text.Get("Jet OLEDB:Database Password").value_or("");
  options.user = !user.empty() ? user : text.Get("User ID").value_or("");
  if (options.user.empty()) options.user = "Admin";
  options.workgroup_password = !password.empty() ? password : text.Get("Password").value_or("");
  return options;
}

namespace {

// The engine's failures reach the log with the numbers the product's data access layer gave them.
Error FromJet(const jet::Error& e) { return Error(JetErrorNumber(e.code()), e.what()); }

// "Read" alone opens for reading; every other mode (ReadWrite, Share Deny …, none given)
// lets the job change the file, as the Jet provider does.
bool ModeWrites(const std::string& mode) {
  const std::string lower = LowerAscii(mode);
  return lower.find("write") != std::string::npos || lower.find("read") == std::string::npos;
}

class JetBackend : public Backend {
 public:
  explicit JetBackend(std::unique_ptr<jet::Session> session) : session_(std::move(session)) {}

  void Execute(const std::string& command, int timeout_seconds, long* affected) override {
    try {
      jet::sql::Result r = session_->Execute(command, {.timeout_seconds = static_cast<double>(timeout_seconds)});
      if (affected) *affected = r.is_query ? -1 : static_cast<long>(r.affected);
    } catch (const jet::Error& e) {
      throw FromJet(e);
    }
  }

 private:
  std::unique_ptr<jet::Session> session_;
};

}  // namespace

std::unique_ptr<Backend> OpenJet(const JetOpenOptions& options) {
  if (options.data_source.empty()) {
    throw Error(errnum::kGeneral, "The connection text names no Data Source: no Jet database file to open.");
  }
  try {
    return std::make_unique<JetBackend>(jet::Session::Open(
        options.data_source, {.password = options.database_password, .read_write = ModeWrites(options.mode)}));
  } catch (const jet::Error& e) {
    throw FromJet(e);
  }
}

JetCompaction CompactJet(const std::string& connection_text) {
  const JetOpenOptions options = JetOptionsFromText(ConnectionText::Parse(connection_text), "", "");
  if (options.data_source.empty()) {
    throw Error(errnum::kGeneral, "The connection text names no Data Source: no Jet database file to compact.");
  }
  try {
    const jet::CompactResult r = jet::CompactDatabase(options.data_source, {.password = options.database_password});
    return {options.data_source, r.size_before, r.size_after};
  } catch (const jet::Error& e) {
    throw FromJet(e);
  }
}

}  // namespace scourex::db
