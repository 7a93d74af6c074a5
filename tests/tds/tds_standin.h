#pragma once
// A stand-in for SQL Server on 127.0.0.1, speaking just enough TDS for a real ODBC driver
// to log in and send SQL batches: pre-login (never offering encryption), LOGIN7 decoded
// and recorded, the login acknowledged or refused, batches answered with a row count or
// an error, or no answer at all. It serves a bounded number of connections for a bounded
// time and then stops by itself, so a test that goes wrong cannot leave it behind.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scourex::testing {

// What a driver's LOGIN7 carried, texts as UTF-8, the password de-obfuscated.
struct TdsLogin {
  std::uint32_t tds_version = 0;
  std::string host_name, user_name, password, app_name, server_name, library_name, language, database,
      attach_file;
  bool integrated_security = false;
  std::uint8_t prelogin_encryption = 0xFF;  // what the driver asked for in its pre-login
};

struct TdsReply {
  enum class Kind { kRowCount, kError, kSilence };
  Kind kind = Kind::kRowCount;
  long long rows = 0;
  long number = 0;       // kError: the server's error number
  std::string message;   // kError: its text, UTF-8
  int severity = 16;

  static TdsReply Rows(long long n) { return {Kind::kRowCount, n, 0, {}, 0}; }
  static TdsReply Fail(long number, std::string message, int severity = 16) {
    return {Kind::kError, 0, number, std::move(message), severity};
  }
  static TdsReply Silence() { return {Kind::kSilence, 0, 0, {}, 0}; }
};

class TdsStandIn {
 public:
  struct Options {
    // The answer to a login: acknowledged (kRowCount), refused (kError), or none at all,
    // not even to the pre-login (kSilence).
    TdsReply login = TdsReply::Rows(0);
    std::function<TdsReply(const std::string& sql)> batch;  // default: no rows affected
    int port = 0;  // 0: any free port
    int max_connections = 8;
    std::chrono::seconds lifetime{60};
  };

  explicit TdsStandIn(Options options);
  ~TdsStandIn();
  TdsStandIn(const TdsStandIn&) = delete;
  TdsStandIn& operator=(const TdsStandIn&) = delete;

  int port() const { return port_; }  // 0 when the port could not be had
  std::vector<TdsLogin> logins() const;
  std::vector<std::string> batches() const;  // the SQL text of each batch, UTF-8

 private:
  struct Client;
  void Serve();
  bool Handle(Client& client, std::uint8_t type, const std::string& payload);  // false: close it

  Options options_;
  int listener_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  mutable std::mutex mutex_;
  std::vector<TdsLogin> logins_;
  std::vector<std::string> batches_;
  std::thread thread_;
};

}  // namespace scourex::testing
