#pragma once
// Stand-ins for SQL Server on 127.0.0.1, so that the real ODBC driver runs against
// something that records what it sent: just enough TDS to log in and answer batches, and
// a SQL Server Browser (UDP) with a canned reply. Both stop by themselves after a while.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scourex::testing {

// Why SQL Server texts would not reach FreeTDS on this machine; empty when they do.
std::string WhyNotFreeTds();

// What a driver's LOGIN7 carried, texts as UTF-8, the password de-obfuscated.
struct TdsLogin {
  std::string host_name, user_name, password, app_name, language, database, attach_file;
  std::uint8_t prelogin_encryption = 0xFF;  // what the driver asked for in its pre-login
  std::uint32_t packet_size = 0;            // the packet size the driver asked for
};

// How the stand-in answers a login or a batch. A batch that ends with the job's question
// for the statement's own count (a SELECT of ROWCOUNT_BIG()) gets that count as a one-row
// result after the statement's answer, as SQL Server's batch goes on after a statement.
struct TdsReply {
  // kDrop: the connection is closed in the middle of the statement, nothing answered.
  enum class Kind { kRowCount, kError, kSilence, kDrop } kind = Kind::kRowCount;
  long long rows = 0;
  long number = 0;      // kError: the server's error number
  std::string message{};  // kError: its text, UTF-8
  int severity = 16;
  int state = 1;
  long long trigger_rows = -1;          // >= 0: a trigger's own count (DONEINPROC) comes first
  std::chrono::milliseconds delay{0};   // waited before answering; a cancel ends the wait

  static TdsReply Rows(long long n, long long trigger_rows = -1) { return {.rows = n, .trigger_rows = trigger_rows}; }
  static TdsReply Fail(long number, std::string message, int severity = 16, int state = 1) {
    return {.kind = Kind::kError, .number = number, .message = std::move(message), .severity = severity, .state = state};
  }
  static TdsReply Silence() { return {.kind = Kind::kSilence}; }
  static TdsReply Drop() { return {.kind = Kind::kDrop}; }
  TdsReply After(std::chrono::milliseconds wait) const {
    TdsReply reply = *this;
    reply.delay = wait;
    return reply;
  }
};

// The text the job adds after a statement to learn its own count.
inline constexpr char kOwnCountQuery[] = "\r\nSELECT ROWCOUNT_BIG()";

class TdsStandIn {
 public:
  struct Options {
    // The answer to a login: acknowledged (kRowCount), refused (kError), or none at all,
    // not even to the pre-login (kSilence).
    TdsReply login = TdsReply::Rows(0);
    std::function<TdsReply(const std::string& sql)> batch;  // default: no rows affected
    int port = 0;                                            // 0: any free port
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
  void Serve();
  void Talk(int fd);
  // False when the connection must end.
  bool Answer(int fd, std::uint8_t type, const std::string& payload, std::uint8_t& encryption);

  Options options_;
  int listener_ = -1;
  int port_ = 0;
  std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<TdsLogin> logins_;
  std::vector<std::string> batches_;
  std::thread thread_;
};

// A browser reply (0x05, 16-bit little-endian length, text) around `text`.
std::string BrowserReply(const std::string& text);

class BrowserStandIn {
 public:
  // Answers every instance query with BrowserReply(text), from `answer_from` (another
  // loopback address, as a cluster's node answers for the cluster's address) when given.
  // `port` 0: any free port.
  explicit BrowserStandIn(const std::string& text, int port = 0, const std::string& answer_from = "");
  ~BrowserStandIn();
  BrowserStandIn(const BrowserStandIn&) = delete;
  BrowserStandIn& operator=(const BrowserStandIn&) = delete;

  int port() const { return port_; }  // 0 when the port could not be had
  std::vector<std::string> requests() const;

 private:
  std::string reply_;
  int fd_ = -1;
  int answer_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace scourex::testing
