#include "db/sql_browser.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
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
  Socket& operator=(Socket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::string> BrowserReplyValue(std::string_view reply, std::string_view key) {
  if (reply.size() < 3 || static_cast<unsigned char>(reply[0]) != 0x05) return std::nullopt;
  const size_t length = static_cast<unsigned char>(reply[1]) | (static_cast<size_t>(static_cast<unsigned char>(reply[2])) << 8);
  const std::string_view text = reply.substr(3, std::min(length, reply.size() - 3));
  // key;value;key;value;...;;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t key_end = text.find(';', pos);
    if (key_end == std::string_view::npos) break;
    const std::string_view name = text.substr(pos, key_end - pos);
    const size_t value_end = std::min(text.find(';', key_end + 1), text.size());
    if (EqualsNoCase(name, key)) return std::string(text.substr(key_end + 1, value_end - key_end - 1));
    pos = value_end + 1;
  }
  return std::nullopt;
}

std::optional<int> TcpPortFromBrowserReply(std::string_view reply) {
  const std::optional<std::string> value = BrowserReplyValue(reply, "tcp");
  if (!value || value->empty() || value->size() > 5) return std::nullopt;
  int port = 0;
  for (char c : *value) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
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

  // One unconnected socket per address of the host, so that an answer from any address
  // is heard. Linux reports a closed browser port to an unconnected socket only when
  // asked to; then a host without a browser fails at once rather than at the deadline.
  struct Asked {
    Socket socket;
    sockaddr_storage address;
    socklen_t length;
    bool refused = false;
  };
  std::vector<Asked> asked;
  for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
    Socket socket(::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol));
    if (socket.fd() < 0 || address->ai_addrlen > sizeof(sockaddr_storage)) continue;
#if defined(IP_RECVERR) && defined(IPV6_RECVERR)
    const int on = 1;
    if (address->ai_family == AF_INET) setsockopt(socket.fd(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    if (address->ai_family == AF_INET6) setsockopt(socket.fd(), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
#endif
    Asked entry{std::move(socket), {}, static_cast<socklen_t>(address->ai_addrlen)};
    std::memcpy(&entry.address, address->ai_addr, address->ai_addrlen);
    asked.push_back(std::move(entry));
  }
  if (asked.empty()) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser cannot be reached.");
  }

  std::string request(1, '\x04');
  request += instance;
  request += '\0';

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait_seconds);
  Clock::time_point next_send = Clock::now();
  std::string other_instance;  // an answer that named another instance
  while (true) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline) break;
    if (now >= next_send) {
      for (Asked& entry : asked) {
        if (!entry.refused) {
          sendto(entry.socket.fd(), request.data(), request.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&entry.address), entry.length);
        }
      }
      next_send = now + kResendInterval;
    }
    std::vector<pollfd> polls;
    std::vector<size_t> owners;
    for (size_t i = 0; i < asked.size(); ++i) {
      if (asked[i].refused) continue;
      polls.push_back(pollfd{asked[i].socket.fd(), POLLIN, 0});
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
      const ssize_t received = recvfrom(polls[p].fd, buffer, sizeof buffer, MSG_DONTWAIT, nullptr, nullptr);
      if (received < 0) {
        if (errno == ECONNREFUSED) asked[owners[p]].refused = true;
#ifdef MSG_ERRQUEUE
        // Take the queued report so that it does not wake the next poll again.
        char discard[512];
        recv(polls[p].fd, discard, sizeof discard, MSG_ERRQUEUE | MSG_DONTWAIT);
#endif
        continue;
      }
      const std::string_view reply(buffer, static_cast<size_t>(received));
      if (reply.empty() || static_cast<unsigned char>(reply[0]) != 0x05) continue;
      const std::optional<std::string> name = BrowserReplyValue(reply, "InstanceName");
      if (!name || !EqualsNoCase(*name, instance)) {
        if (name) other_instance = *name;
        continue;
      }
      if (const std::optional<int> port = TcpPortFromBrowserReply(reply)) return *port;
      throw Error(errnum::kGeneral, "Cannot connect to " + target + ": the instance does not accept TCP/IP connections.");
    }
  }
  if (!other_instance.empty()) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser answered for instance '" +
                                      other_instance + "' instead.");
  }
  throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser did not answer within " +
                                    std::to_string(wait_seconds) + " seconds.");
}

}  // namespace scourex::db
