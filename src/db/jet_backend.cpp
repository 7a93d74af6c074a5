#include "db/jet_backend.h"

#include "common/error.h"
#include "db/error_numbers.h"

namespace scourex::db {

JetOpenOptions JetOptionsFromText(const ConnectionText& text, const std::string& user, const std::string& password) {
  JetOpenOptions options;
  options.data_source = TrimSpaces(text.Get("Data Source").value_or(""));
  options.mode = TrimSpaces(text.Get("Mode").value_or(""));
  options.database_password = text.Get("Jet OLEDB:Database Password").value_or("");
  options.user = !user.empty() ? user : text.Get("User ID").value_or("");
  if (options.user.empty()) options.user = "Admin";
  options.workgroup_password = !password.empty() ? password : text.Get("Password").value_or("");
  return options;
}

std::unique_ptr<Backend> OpenJet(const JetOpenOptions& options) {
  if (options.data_source.empty()) {
    throw Error(errnum::kGeneral, "The connection text names no Data Source: no Jet database file to open.");
  }
  // The engine under src/jet is not wired to the job yet.
  throw Error(errnum::kGeneral,
              "The Jet engine is not available in this build: cannot open '" + options.data_source + "'.");
}

}  // namespace scourex::db
