#pragma once
// A stand-in for the SQL Server Browser: a UDP socket on 127.0.0.1 that answers every
// instance query with a canned reply, optionally from another loopback address (as a
// cluster's node answers for the cluster's address). It stops by itself after a while.

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace scourex::testing {

// A browser reply (0x05, 16-bit little-endian length, text) around `text`.
std::string BrowserReply(const std::string& text);

class BrowserStandIn {
 public:
  // `port` 0: any free port. `answer_from`: the loopback address to answer from, empty
  // for the one asked.
  explicit BrowserStandIn(std::string reply, int port = 0, std::string answer_from = "",
                          std::chrono::seconds lifetime = std::chrono::seconds(20));
  ~BrowserStandIn();
  BrowserStandIn(const BrowserStandIn&) = delete;
  BrowserStandIn& operator=(const BrowserStandIn&) = delete;

  int port() const { return port_; }  // 0 when the port could not be had
  std::vector<std::string> requests() const;

 private:
  void Serve(std::chrono::seconds lifetime);

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
