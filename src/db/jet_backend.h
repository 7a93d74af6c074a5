#pragma once
// Jet databases (.mdb files) opened with the engine this project brings along.

#include <cstdint>
#include <memory>
#include <string>

#include "db/backend.h"
#include "db/connection_text.h"

namespace scourex::db {

struct JetOpenOptions {
  std::string data_source;        // path of the .mdb file
  std::string mode;               // as written ("Share Deny None", "Read", ...); empty: the default
  std::string database_password;  // never shown in any message
  std::string user;               // workgroup user, "Admin" when none is named
  std::string workgroup_password;
};

// Reads Data Source, Mode, Jet OLEDB:Database Password, User ID and Password; `user` and
// `password`, when not empty, replace the text's User ID and Password.
JetOpenOptions JetOptionsFromText(const ConnectionText& text, const std::string& user, const std::string& password);

// Throws scourex::Error (errnum::kGeneral) naming the file when it cannot be opened.
std::unique_ptr<Backend> OpenJet(const JetOpenOptions& options);

// Compacts the Jet file a connection text names (see jet/compact.h); its sizes in
// bytes before and after. Throws scourex::Error with the engine's number and description.
struct JetCompaction {
  std::string file;
  std::uint64_t size_before = 0;
  std::uint64_t size_after = 0;
};
JetCompaction CompactJet(const std::string& connection_text);

}  // namespace scourex::db
