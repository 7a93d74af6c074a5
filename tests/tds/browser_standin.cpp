#include "tds/browser_standin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace scourex::testing {

std::string BrowserReply(const std::string& text) {
  std::string reply(1, '\x05');
  reply += static_cast<char>(text.size() & 0xff);
  reply += static_cast<char>(text.size() >> 8);
  return reply + text;
}

namespace {

int BoundUdp(const char* address_text, int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address_text, &address.sin_addr);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

BrowserStandIn::BrowserStandIn(std::string reply, int port, std::string answer_from, std::chrono::seconds lifetime)
    : reply_(std::move(reply)) {
  fd_ = BoundUdp("127.0.0.1", port);
  if (fd_ < 0) return;
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  answer_fd_ = answer_from.empty() ? -1 : BoundUdp(answer_from.c_str(), 0);
  thread_ = std::thread([this, lifetime] { Serve(lifetime); });
}

BrowserStandIn::~BrowserStandIn() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (int fd : {fd_, answer_fd_}) {
    if (fd >= 0) close(fd);
  }
}

std::vector<std::string> BrowserStandIn::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void BrowserStandIn::Serve(std::chrono::seconds lifetime) {
  const auto deadline = std::chrono::steady_clock::now() + lifetime;
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    pollfd poll_fd{fd_, POLLIN, 0};
    if (poll(&poll_fd, 1, 100) <= 0) continue;
    char buffer[512];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (got <= 0) continue;
    {
      std::lock_guard lock(mutex_);
      requests_.emplace_back(buffer, static_cast<size_t>(got));
    }
    sendto(answer_fd_ >= 0 ? answer_fd_ : fd_, reply_.data(), reply_.size(), 0, reinterpret_cast<sockaddr*>(&from),
           from_length);
  }
}

}  // namespace scourex::testing
