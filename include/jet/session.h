#pragma once
// A connection to one Jet database file for callers that speak SQL: each statement runs
// as one all-or-nothing change with its own timeout.
//
//   auto s = jet::Session::Open("/data/Orvanta.mdb", {.password = "x", .read_write = true});
//   jet::sql::Result r = s->Execute("DELETE FROM CARD WHERE Owner = 12", {.timeout_seconds = 30});
//   // r.affected rows went; on any jet::Error nothing did.
//
// Opening for writing takes an exclusive lock on the file (ErrorCode::Locked when another
// program, or another Session of this process, has it open) and undoes what a statement
// interrupted by a crash left behind. The lock goes with the Session.

#include <memory>
#include <string>
#include <string_view>

#include "jet/database.h"
#include "jet/sql.h"

namespace jet {

class Session {
 public:
  // Throws jet::Error: FileNotFound, AccessDenied, NotJet, Unsupported, Corrupt,
  // WrongPassword, Locked, Io, each naming the file.
  static std::unique_ptr<Session> Open(const std::string& path, const OpenOptions& options = {});

  // Runs one statement (see jet/sql.h for the language). A DELETE or INSERT is
  // committed to disk before this returns, or undone completely when it throws: Syntax,
  // UnknownTable, UnknownColumn, TypeMismatch, Integrity, ReadOnly (the file was opened
  // for reading), Timeout (past `options.timeout_seconds`), Corrupt, Io.
  sql::Result Execute(std::string_view command, const sql::ExecuteOptions& options = {});

  Database& database() { return *db_; }
  const std::string& path() const { return db_->path(); }

 private:
  explicit Session(std::unique_ptr<Database> db) : db_(std::move(db)) {}
  std::unique_ptr<Database> db_;
};

}  // namespace jet
