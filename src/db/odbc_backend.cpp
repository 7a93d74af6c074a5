#include "db/odbc_backend.h"

#ifdef _WIN32
#include <windows.h>  // the ODBC headers of Windows build on its types
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "common/error.h"
#include "common/text_encoding.h"
#include "db/error_numbers.h"
#include "db/odbc_diagnostics.h"

namespace scourex::db {

namespace {

constexpr SQLHANDLE kNoHandle = nullptr;

// Asked after a SQL Server statement whose count is wanted: see ExecuteCounted.
constexpr char kOwnCountQuery[] = "\r\nSELECT ROWCOUNT_BIG()";

// Every text crosses the wide interface. SQLWCHAR is a UTF-16 unit on unixODBC (unsigned
// short) and on Windows (wchar_t) alike, so one conversion serves both.
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a UTF-16 code unit");
using WideText = std::basic_string<SQLWCHAR>;

WideText ToWide(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return WideText(units.begin(), units.end());
}

std::string FromWide(const SQLWCHAR* text, size_t length) {
  std::u16string units;
  units.reserve(length);
  for (size_t i = 0; i < length && text[i] != 0; ++i) units += static_cast<char16_t>(text[i]);
  return Utf16ToUtf8(units);
}

// The wide calls take writable buffers.
SQLWCHAR* Writable(WideText& text) { return text.data(); }

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
    SQLWCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handle.type(), handle.get(), index, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRecW(handle.type(), handle.get(), index, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Succeeded(rc)) break;
    DiagRecord record;
    record.sqlstate = FromWide(state, SQL_SQLSTATE_SIZE);
    record.native = native;
    const size_t used = std::min(static_cast<size_t>(length < 0 ? 0 : length), message.size() - 1);
    record.message = FromWide(message.data(), used);
    records.push_back(std::move(record));
  }
  return records;
}

Error Failure(const Handle& handle, const DiagnosticContext& context, std::string_view fallback) {
  std::vector<DiagRecord> records = ReadDiagnostics(handle);
  if (records.empty()) return Error(errnum::kGeneral, std::string(fallback));
  return ErrorFromDiagnostics(records, context);
}

Handle AllocateEnvironment() {
  SQLHANDLE env = kNoHandle;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, kNoHandle, &env))) {
    throw Error(errnum::kGeneral, "The ODBC driver manager could not be initialised.");
  }
  Handle handle(SQL_HANDLE_ENV, env);
  if (!Succeeded(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    throw Failure(handle, {}, "The ODBC driver manager refused ODBC version 3.");
  }
  return handle;
}

class OdbcBackend : public Backend {
 public:
  OdbcBackend(Handle environment, Handle connection, DiagnosticContext diagnostics)
      : environment_(std::move(environment)),
        connection_(std::move(connection)),
        diagnostics_(std::move(diagnostics)) {}

  void Execute(const std::string& command, int timeout_seconds, long* affected) override {
    SQLHANDLE raw = kNoHandle;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection_.get(), &raw))) {
      throw Failure(connection_, diagnostics_, "The ODBC driver could not prepare a statement.");
    }
    Handle statement(SQL_HANDLE_STMT, raw);
    if (timeout_seconds > 0) {
      // A driver that cannot time statements out says so in a diagnostic; the command
      // then runs without a limit, as it would have with the product's own layer.
      SQLSetStmtAttr(raw, SQL_ATTR_QUERY_TIMEOUT,
                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), 0);
    }

    if (diagnostics_.sql_server && affected) {
      *affected = static_cast<long>(ExecuteCounted(statement, command));
      return;
    }

    WideText text = ToWide(command);
    const SQLRETURN rc = SQLExecDirectW(raw, Writable(text), static_cast<SQLINTEGER>(text.size()));
    if (rc == SQL_NO_DATA) {
      // A searched DELETE or UPDATE that matched nothing.
      if (affected) *affected = 0;
      return;
    }
    if (!Succeeded(rc)) throw Failure(statement, diagnostics_, "The command failed without a diagnostic.");

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
        if (!Succeeded(more)) throw Failure(statement, diagnostics_, "The command failed without a diagnostic.");
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
  // SQL Server answers a statement that fires a trigger with the trigger's counts first
  // (a trigger without SET NOCOUNT ON), and drivers disagree on which count they give. The
  // statement goes in a batch that then asks the server for the statement's own count:
  // ROWCOUNT_BIG() after the statement is the rows the statement itself affected, whatever
  // its triggers did. The statement's text is unchanged; every result of the batch is
  // read, so that an error in any of them fails the command.
  long long ExecuteCounted(const Handle& statement, const std::string& command) {
    WideText text = ToWide(command + kOwnCountQuery);
    SQLHANDLE raw = statement.get();
    SQLRETURN step = SQLExecDirectW(raw, Writable(text), static_cast<SQLINTEGER>(text.size()));
    std::optional<long long> own;
    long long first = 0;
    bool first_seen = false;
    while (step != SQL_NO_DATA || !first_seen) {
      if (step != SQL_NO_DATA) {
        if (!Succeeded(step)) throw Failure(statement, diagnostics_, "The command failed without a diagnostic.");
        SQLSMALLINT columns = 0;
        SQLNumResultCols(raw, &columns);
        if (columns > 0) {
          // The batch's last result is the count asked for; a trigger's own rows (one that
          // still returns results) come before it. SQLMoreResults passes over what is
          // left of a result.
          SQLBIGINT value = 0;
          SQLLEN indicator = 0;
          own.reset();
          if (Succeeded(SQLFetch(raw)) && Succeeded(SQLGetData(raw, 1, SQL_C_SBIGINT, &value, sizeof value, &indicator)) &&
              indicator != SQL_NULL_DATA) {
            own = value;
          }
        } else if (!first_seen) {
          SQLLEN rows = -1;
          if (Succeeded(SQLRowCount(raw, &rows)) && rows > 0) first = rows;
        }
      }
      first_seen = true;
      step = SQLMoreResults(raw);
      if (step == SQL_INVALID_HANDLE) break;
    }
    // Without the server's answer (a driver that hides the batch's later results), the
    // first count is the best there is.
    return own.value_or(first);
  }

  Handle environment_;  // declared first: freed after the connection that needs it
  Handle connection_;
  DiagnosticContext diagnostics_;  // for commands: the secrets and the driver's kind, no target
};

}  // namespace

std::vector<std::string> InstalledOdbcDrivers() {
  std::vector<std::string> drivers;
  try {
    Handle environment = AllocateEnvironment();
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (true) {
      SQLWCHAR name[512] = {};
      SQLWCHAR attributes[2048] = {};
      SQLSMALLINT name_length = 0;
      SQLSMALLINT attributes_length = 0;
      const SQLRETURN rc = SQLDriversW(environment.get(), direction, name, std::size(name), &name_length, attributes,
                                       std::size(attributes), &attributes_length);
      if (!Succeeded(rc)) break;
      drivers.push_back(FromWide(name, std::size(name)));
      direction = SQL_FETCH_NEXT;
    }
  } catch (const Error&) {
    // No driver manager: no drivers.
  }
  return drivers;
}

std::unique_ptr<Backend> OpenOdbc(const OdbcTarget& target) {
  DiagnosticContext connecting;
  connecting.secrets = target.secrets;
  connecting.sql_server = target.sql_server;
  connecting.target = "connecting to " + target.display_name;
  connecting.hint = target.failure_hint;

  Handle environment = AllocateEnvironment();
  SQLHANDLE raw = kNoHandle;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment.get(), &raw))) {
    throw Failure(environment, connecting, "The ODBC driver manager could not allocate a connection.");
  }
  Handle connection(SQL_HANDLE_DBC, raw);
  SQLSetConnectAttrW(raw, SQL_ATTR_LOGIN_TIMEOUT,
                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(target.login_timeout_seconds)), 0);
  if (target.packet_size) {
    SQLSetConnectAttrW(raw, SQL_ATTR_PACKET_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(*target.packet_size)),
                       0);
  }

  WideText text = ToWide(target.connect_text);
  SQLWCHAR completed[1024] = {};
  SQLSMALLINT completed_length = 0;
  const SQLRETURN rc = SQLDriverConnectW(raw, nullptr, Writable(text), static_cast<SQLSMALLINT>(text.size()), completed,
                                         std::size(completed), &completed_length, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) {
    throw Failure(connection, connecting, "Cannot connect to " + target.display_name + ".");
  }
  connection.set_connected();
  DiagnosticContext commands;
  commands.secrets = target.secrets;
  commands.sql_server = target.sql_server;
  commands.server = target.display_name;
  return std::make_unique<OdbcBackend>(std::move(environment), std::move(connection), std::move(commands));
}

}  // namespace scourex::db
