#pragma once
// The database access layer as the job uses it: a connection is created closed, may get
// a command timeout, is opened with a connection text, and executes commands. Every
// failure is a scourex::Error with a number and a description.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace scourex::db {

// Whose SQL the database behind an open connection speaks, as far as the commands' date
// literals care: Jet's, SQL Server's (its providers, or ODBC through a SQL Server driver),
// or another source's (also a DSN, whose driver is not known here, and a closed connection).
enum class SqlDialect { kOther, kJet, kSqlServer };

class Connection {
 public:
  virtual ~Connection() = default;
  // Seconds, zero or more; 0 means no limit. Applies to every later command.
  virtual void SetCommandTimeout(int seconds) = 0;
  // Chooses the backend from the text's provider (Jet files, SQL Server, any ODBC source).
  virtual void Open(const std::string& connection_text, const std::string& user, const std::string& password) = 0;
  // Runs one command; `affected`, when not null, receives the number of rows it changed.
  // Any result set that comes back is released at once.
  virtual void Execute(const std::string& command, long* affected) = 0;
  // What the last open found out that an operator should read (the port a named SQL
  // Server instance was found on), as information lines; empty once taken.
  virtual std::vector<std::string> TakeNotes() { return {}; }
  // The dialect of the database the last open reached.
  virtual SqlDialect Dialect() const { return SqlDialect::kOther; }
};

std::unique_ptr<Connection> CreateConnection();

}  // namespace scourex::db
