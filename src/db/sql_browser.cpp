#include "db/sql_browser.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "common/error.h"
#include "db/connection_text.h"
#include "db/error_numbers.h"

namespace scourex::db {

namespace {

// Waiting for ever on a UDP answer helps nobody: "no limit" still gives up after this.
constexpr int kUnlimitedWaitSeconds = 30;
constexpr auto kResendInterval = std::chrono::seconds(1);

// The few socket calls the lookup needs, on POSIX and on Windows.
#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
constexpr int kSocketFlags = 0;
constexpr int kSendFlags = 0;
constexpr int kReceiveFlags = 0;
void CloseSocket(SocketHandle handle) { closesocket(handle); }
int Poll(pollfd* polls, size_t count, int milliseconds) {
  return WSAPoll(polls, static_cast<ULONG>(count), milliseconds);
}
// Windows reports an ICMP "port unreachable" to the next receive on the socket.
bool LastReceiveRefused() { return WSAGetLastError() == WSAECONNRESET; }
bool Interrupted() { return false; }
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
constexpr int kSocketFlags = SOCK_CLOEXEC;
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kReceiveFlags = MSG_DONTWAIT;
void CloseSocket(SocketHandle handle) { close(handle); }
int Poll(pollfd* polls, size_t count, int milliseconds) { return poll(polls, count, milliseconds); }
bool LastReceiveRefused() { return errno == ECONNREFUSED; }
bool Interrupted() { return errno == EINTR; }
void StartSockets() {}
#endif

class Socket {
 public:
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : handle_(std::exchange(other.handle_, kNoSocket)) {}
  Socket& operator=(Socket&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~Socket() {
    if (handle_ != kNoSocket) CloseSocket(handle_);
  }
  bool valid() const { return handle_ != kNoSocket; }
  SocketHandle handle() const { return handle_; }

 private:
  SocketHandle handle_;
};

using Clock = std::chrono::steady_clock;

// One unconnected socket per address of the host, so that an answer from any address
// is heard. Linux reports a closed browser port to an unconnected socket only when
// asked to; then a host without a browser fails at once rather than at the deadline.
struct Asked {
  Socket socket;
  sockaddr_storage address;
  socklen_t length;
  bool refused = false;
};

std::vector<Asked> AskEveryAddress(const std::string& host, int browser_port, const std::string& target) {
  StartSockets();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(browser_port).c_str(), &hints, &found) != 0 || found == nullptr) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the host name cannot be resolved.");
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);
  std::vector<Asked> asked;
  for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
    Socket socket(::socket(address->ai_family, address->ai_socktype | kSocketFlags, address->ai_protocol));
    if (!socket.valid() || address->ai_addrlen > sizeof(sockaddr_storage)) continue;
#ifdef __linux__
    const int on = 1;
    if (address->ai_family == AF_INET) setsockopt(socket.handle(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    if (address->ai_family == AF_INET6) setsockopt(socket.handle(), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
#endif
    Asked entry{std::move(socket), {}, static_cast<socklen_t>(address->ai_addrlen)};
    std::memcpy(&entry.address, address->ai_addr, address->ai_addrlen);
    asked.push_back(std::move(entry));
  }
  if (asked.empty()) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser cannot be reached.");
  }
  return asked;
}

// The browser's query for one instance: 0x04, then its name ended by a zero byte.
std::string InstanceQuery(const std::string& instance) {
  std::string query(1, '\x04');
  query += instance;
  query += '\0';
  return query;
}

void SendQuery(std::vector<Asked>& asked, const std::string& query) {
  for (Asked& entry : asked) {
    if (!entry.refused) {
      sendto(entry.socket.handle(), query.data(), static_cast<int>(query.size()), kSendFlags,
             reinterpret_cast<const sockaddr*>(&entry.address), entry.length);
    }
  }
}

enum class Wait { Done, AllRefused, Failed };

// Waits until `until` at most for datagrams on the sockets still asked and adds those that
// came to `replies`; a socket whose address refuses the query is asked no more.
Wait ReceiveReplies(std::vector<Asked>& asked, Clock::time_point until, std::vector<std::string>* replies) {
  std::vector<pollfd> polls;
  std::vector<size_t> owners;
  for (size_t i = 0; i < asked.size(); ++i) {
    if (asked[i].refused) continue;
    polls.push_back(pollfd{asked[i].socket.handle(), POLLIN, 0});
    owners.push_back(i);
  }
  if (polls.empty()) return Wait::AllRefused;
  const auto wait_ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  const int ready = Poll(polls.data(), polls.size(), static_cast<int>(std::max<long long>(wait_ms, 0) + 1));
  if (ready < 0 && !Interrupted()) return Wait::Failed;
  for (size_t p = 0; p < polls.size(); ++p) {
    if (polls[p].revents == 0) continue;
    char buffer[4096];
    const auto received = recvfrom(polls[p].fd, buffer, sizeof buffer, kReceiveFlags, nullptr, nullptr);
    if (received >= 0) {
      replies->emplace_back(buffer, static_cast<size_t>(received));
      continue;
    }
    if (LastReceiveRefused()) asked[owners[p]].refused = true;
#ifdef __linux__
    // Take the queued report so that it does not wake the next poll again.
    char discard[512];
    recv(polls[p].fd, discard, sizeof discard, MSG_ERRQUEUE | MSG_DONTWAIT);
#endif
  }
  return Wait::Done;
}

// The port in a reply that names `instance`; nothing for any other datagram (the name of
// another instance answering is kept in `other_instance`).
std::optional<int> PortInReply(std::string_view reply, const std::string& instance, const std::string& target,
                               std::string* other_instance) {
  if (reply.empty() || static_cast<unsigned char>(reply[0]) != 0x05) return std::nullopt;
  const std::optional<std::string> name = BrowserReplyValue(reply, "InstanceName");
  if (!name || !EqualsNoCase(*name, instance)) {
    if (name) *other_instance = *name;
    return std::nullopt;
  }
  if (const std::optional<int> port = TcpPortFromBrowserReply(reply)) return port;
  throw Error(errnum::kGeneral, "Cannot connect to " + target + ": the instance does not accept TCP/IP connections.");
}

[[noreturn]] void ThrowNoAnswer(const std::string& target, const std::string& other_instance, int wait_seconds) {
  if (!other_instance.empty()) {
    throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser answered for instance '" +
                                      other_instance + "' instead.");
  }
  throw Error(errnum::kGeneral, "Cannot find " + target + ": the SQL Server Browser did not answer within " +
                                    std::to_string(wait_seconds) + " seconds.");
}

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
  std::vector<Asked> asked = AskEveryAddress(host, browser_port, target);
  const std::string query = InstanceQuery(instance);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait_seconds);
  std::string other_instance;  // an answer that named another instance
  for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
    SendQuery(asked, query);
    const Clock::time_point until = std::min(deadline, now + kResendInterval);
    while (Clock::now() < until) {
      std::vector<std::string> replies;
      const Wait wait = ReceiveReplies(asked, until, &replies);
      if (wait == Wait::AllRefused) {
        throw Error(errnum::kGeneral,
                    "Cannot find " + target + ": no SQL Server Browser answers on UDP port " +
                        std::to_string(browser_port) + " of that host.");
      }
      for (const std::string& reply : replies) {
        if (const std::optional<int> port = PortInReply(reply, instance, target, &other_instance)) return *port;
      }
      if (wait == Wait::Failed) ThrowNoAnswer(target, other_instance, wait_seconds);
    }
  }
  ThrowNoAnswer(target, other_instance, wait_seconds);
}

}  // namespace scourex::db
