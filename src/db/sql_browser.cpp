#include "db/sql_browser.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <vector>

#include "common/error.h"
#include "db/connection_text.h"
#include "db/error_numbers.h"

namespace scourex::db {

namespace {

// Waiting for ever on a UDP answer helps nobody: "no limit" still gives up after this.
constexpr int kUnlimitedWaitSeconds = 30;
constexpr auto kResendInterval = std::chrono::seconds(1);

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<int> TcpPortFromBrowserReply(std::string_view reply) {
  if (reply.size() < 3 || static_cast<unsigned char>(reply[0]) != 0x05) return std::nullopt;
  const size_t length = static_cast<unsigned char>(reply[1]) | (static_cast<size_t>(static_cast<unsigned char>(reply[2])) << 8);
  const std::string_view text = reply.substr(3, std::min(length, reply.size() - 3));
  // key;value;key;value;...;; — the first "tcp" key wins.
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t key_end = text.find(';', pos);
    if (key_end == std::string_view::npos) break;
    const std::string_view key = text.substr(pos, key_end - pos);
    const size_t value_end = std::min(text.find(';', key_end + 1), text.size());
    const std::string_view value = text.substr(key_end + 1, value_end - key_end - 1);
    if (EqualsNoCase(key, "tcp")) {
      int port = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || port > 65535) return std::nullopt;
        port = port * 10 + (c - '0');
      }
      if (value.empty() || port < 1 || port > 65535) return std::nullopt;
      return port;
    }
    pos = value_end + 1;
  }
  return std::nullopt;
}

int ResolveInstancePort(const std::string& host, const std::string& instance, int timeout_seconds,
                        int browser_port) {
  const int wait_seconds = timeout_seconds > 0 ? timeout_seconds : kUnlimitedWaitSeconds;
  const std::string target = "SQL Server instance '" + instance + "' on '" + host + "'";

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(browser_port).c_str(), &hints, &found) != 0 || found == nullptr) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the host name cannot be resolved.");
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);

  // Connected UDP sockets learn of a closed browser port from the ICMP answer, so a
  // host without a browser fails at once rather than at the deadline.
  std::vector<Socket> sockets;
  for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
    Socket socket(::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol));
    if (socket.fd() < 0) continue;
    if (connect(socket.fd(), address->ai_addr, address->ai_addrlen) != 0) continue;
    sockets.push_back(std::move(socket));
  }
  if (sockets.empty()) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser cannot be reached.");
  }

  std::string request(1, '\x04');
  request += instance;
  request += '\0';

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait_seconds);
  std::vector<bool> refused(sockets.size(), false);
  Clock::time_point next_send = Clock::now();
  while (true) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    if (now >= next_send) {
      for (size_t i = 0; i < sockets.size(); ++i) {
        if (!refused[i]) send(sockets[i].fd(), request.data(), request.size(), MSG_NOSIGNAL);
      }
      next_send = now + kResendInterval;
    }
    std::vector<pollfd> polls;
    std::vector<size_t> owners;
    for (size_t i = 0; i < sockets.size(); ++i) {
      if (refused[i]) continue;
      polls.push_back(pollfd{sockets[i].fd(), POLLIN, 0});
      owners.push_back(i);
    }
    if (polls.empty()) {
      throw Error(errnum::kGeneral,
                  "Cannot find " + target + ": no SQL Server Browser answers on UDP port " +
                      std::to_string(browser_port) + " of that host.");
    }
    const auto until = std::min(deadline, next_send);
    const auto wait_ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    const int ready = poll(polls.data(), polls.size(), static_cast<int>(std::max<long long>(wait_ms, 0) + 1));
    if (ready < 0 && errno != EINTR) break;
    for (size_t p = 0; p < polls.size(); ++p) {
      if (polls[p].revents == 0) continue;
      char buffer[4096];
      const ssize_t received = recv(polls[p].fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (received < 0) {
        if (errno == ECONNREFUSED) refused[owners[p]] = true;
        continue;
      }
      const std::string_view reply(buffer, static_cast<size_t>(received));
      if (reply.empty() || static_cast<unsigned char>(reply[0]) != 0x05) continue;
      if (const std::optional<int> port = TcpPortFromBrowserReply(reply)) return *port;
      throw Error(errnum::kGeneral, "Cannot connect to " + target + ": the instance does not accept TCP/IP connections.");
    }
  }
  throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser did not answer within " +
                                    std::to_string(wait_seconds) + " seconds.");
}

}  // namespace scourex::db
