#include "db/odbc_backend.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "common/error.h"
#include "db/error_numbers.h"
#include "db/odbc_diagnostics.h"

namespace scourex::db {

namespace {

constexpr SQLHANDLE kNoHandle = nullptr;

// One ODBC handle, freed with its owner. A connection handle is disconnected first.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept
      : type_(other.type_),
        handle_(std::exchange(other.handle_, kNoHandle)),
        connected_(std::exchange(other.connected_, false)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      type_ = other.type_;
      handle_ = std::exchange(other.handle_, kNoHandle);
      connected_ = std::exchange(other.connected_, false);
    }
    return *this;
  }
  ~Handle() { Reset(); }

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }
  void set_connected() { connected_ = true; }

 private:
  void Reset() {
    if (handle_ == kNoHandle) return;
    if (connected_) SQLDisconnect(handle_);
    SQLFreeHandle(type_, handle_);
    handle_ = kNoHandle;
    connected_ = false;
  }

  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = kNoHandle;
  bool connected_ = false;
};

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::vector<DiagRecord> ReadDiagnostics(const Handle& handle) {
  std::vector<DiagRecord> records;
  for (SQLSMALLINT index = 1;; ++index) {
    SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER native = 0;
    std::vector<SQLCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle.type(), handle.get(), index, state, &native, message.data(),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRec(handle.type(), handle.get(), index, state, &native, message.data(),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Succeeded(rc)) break;
    DiagRecord record;
    record.sqlstate = reinterpret_cast<const char*>(state);
    record.native = native;
    const size_t used = std::min(static_cast<size_t>(length < 0 ? 0 : length), message.size() - 1);
    record.message.assign(reinterpret_cast<const char*>(message.data()), used);
    records.push_back(std::move(record));
  }
  return records;
}

Error Failure(const Handle& handle, const std::vector<std::string>& secrets, std::string_view context,
              std::string_view fallback) {
  std::vector<DiagRecord> records = ReadDiagnostics(handle);
  if (records.empty()) return Error(errnum::kGeneral, std::string(fallback));
  return ErrorFromDiagnostics(records, secrets, context);
}

Handle AllocateEnvironment() {
  SQLHANDLE env = kNoHandle;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, kNoHandle, &env))) {
    throw Error(errnum::kGeneral, "The ODBC driver manager could not be initialised.");
  }
  Handle handle(SQL_HANDLE_ENV, env);
  if (!Succeeded(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    throw Failure(handle, {}, {}, "The ODBC driver manager refused ODBC version 3.");
  }
  return handle;
}

class OdbcBackend : public Backend {
 public:
  OdbcBackend(Handle environment, Handle connection, std::vector<std::string> secrets)
      : environment_(std::move(environment)), connection_(std::move(connection)), secrets_(std::move(secrets)) {}

  void Execute(const std::string& command, int timeout_seconds, long* affected) override {
    SQLHANDLE raw = kNoHandle;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection_.get(), &raw))) {
      throw Failure(connection_, secrets_, {}, "The ODBC driver could not prepare a statement.");
    }
    Handle statement(SQL_HANDLE_STMT, raw);
    if (timeout_seconds > 0) {
      // A driver that cannot time statements out says so in a diagnostic; the command
      // then runs without a limit, as it would have with the product's own layer.
      SQLSetStmtAttr(raw, SQL_ATTR_QUERY_TIMEOUT,
                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), 0);
    }

    std::vector<SQLCHAR> text(command.begin(), command.end());
    text.push_back(0);
    const SQLRETURN rc = SQLExecDirect(raw, text.data(), SQL_NTS);
    if (rc == SQL_NO_DATA) {
      // A searched DELETE or UPDATE that matched nothing.
      if (affected) *affected = 0;
      return;
    }
    if (!Succeeded(rc)) throw Failure(statement, secrets_, {}, "The command failed without a diagnostic.");

    SQLSMALLINT columns = 0;
    SQLNumResultCols(raw, &columns);
    SQLLEN rows = -1;
    if (columns > 0) {
      rows = -1;
      // The rows are not wanted: give the cursor back now rather than read them.
      SQLFreeStmt(raw, SQL_CLOSE);
    } else {
      if (!Succeeded(SQLRowCount(raw, &rows))) rows = -1;
      // Later results of the same command may carry its errors (SQL Server reports a
      // failing trigger there).
      while (true) {
        const SQLRETURN more = SQLMoreResults(raw);
        if (more == SQL_NO_DATA || more == SQL_INVALID_HANDLE) break;
        if (!Succeeded(more)) throw Failure(statement, secrets_, {}, "The command failed without a diagnostic.");
        SQLSMALLINT more_columns = 0;
        SQLNumResultCols(raw, &more_columns);
        if (more_columns > 0) {
          SQLFreeStmt(raw, SQL_CLOSE);
          break;
        }
      }
    }
    if (affected) *affected = static_cast<long>(rows);
  }

 private:
  Handle environment_;  // declared first: freed after the connection that needs it
  Handle connection_;
  std::vector<std::string> secrets_;
};

}  // namespace

std::vector<std::string> InstalledOdbcDrivers() {
  std::vector<std::string> drivers;
  try {
    Handle environment = AllocateEnvironment();
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (true) {
      SQLCHAR name[512] = {};
      SQLCHAR attributes[2048] = {};
      SQLSMALLINT name_length = 0;
      SQLSMALLINT attributes_length = 0;
      const SQLRETURN rc = SQLDrivers(environment.get(), direction, name, sizeof name, &name_length, attributes,
                                      sizeof attributes, &attributes_length);
      if (!Succeeded(rc)) break;
      drivers.emplace_back(reinterpret_cast<const char*>(name));
      direction = SQL_FETCH_NEXT;
    }
  } catch (const Error&) {
    // No driver manager: no drivers.
  }
  return drivers;
}

std::unique_ptr<Backend> OpenOdbc(const OdbcTarget& target) {
  Handle environment = AllocateEnvironment();
  SQLHANDLE raw = kNoHandle;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment.get(), &raw))) {
    throw Failure(environment, target.secrets, target.display_name, "The ODBC driver manager could not allocate a connection.");
  }
  Handle connection(SQL_HANDLE_DBC, raw);
  SQLSetConnectAttr(raw, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(target.login_timeout_seconds)), 0);

  std::vector<SQLCHAR> text(target.connect_text.begin(), target.connect_text.end());
  text.push_back(0);
  SQLCHAR completed[1024] = {};
  SQLSMALLINT completed_length = 0;
  const SQLRETURN rc = SQLDriverConnect(raw, nullptr, text.data(), SQL_NTS, completed, sizeof completed,
                                        &completed_length, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) {
    throw Failure(connection, target.secrets, "connecting to " + target.display_name,
                  "Cannot connect to " + target.display_name + ".");
  }
  connection.set_connected();
  return std::make_unique<OdbcBackend>(std::move(environment), std::move(connection), target.secrets);
}

}  // namespace scourex::db
