// Instance lookups against a stand-in browser on the loopback interface.

#include "db/sql_browser.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/error.h"
#include "db/error_numbers.h"
#include "db/error_of.h"

namespace scourex::db {
namespace {

std::string Reply(const std::string& text) {
  std::string reply(1, '\x05');
  reply += static_cast<char>(text.size() & 0xff);
  reply += static_cast<char>(text.size() >> 8);
  return reply + text;
}

// A UDP socket on 127.0.0.1 that answers one instance query with a canned reply.
class FakeBrowser {
 public:
  explicit FakeBrowser(std::string reply) : reply_(std::move(reply)) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeBrowser() {
    thread_.join();
    close(fd_);
  }
  int port() const { return port_; }
  const std::string& request() const { return request_; }

 private:
  void Serve() {
    pollfd poll_fd{fd_, POLLIN, 0};
    if (poll(&poll_fd, 1, 10000) <= 0) return;
    char buffer[512];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t got = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (got <= 0) return;
    request_.assign(buffer, static_cast<size_t>(got));
    sendto(fd_, reply_.data(), reply_.size(), 0, reinterpret_cast<sockaddr*>(&from), from_length);
  }

  std::string reply_;
  std::string request_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(BrowserReply, FindsTheTcpPortOrNothing) {
  EXPECT_EQ(TcpPortFromBrowserReply(Reply("ServerName;DB1;InstanceName;INST;IsClustered;No;Version;15.0.2000.5;"
                                          "tcp;14330;np;\\\\DB1\\pipe\\sql\\query;;")),
            14330);
  EXPECT_EQ(TcpPortFromBrowserReply(Reply("ServerName;DB1;InstanceName;INST;np;\\\\DB1\\pipe;;")), std::nullopt);
  EXPECT_EQ(TcpPortFromBrowserReply(Reply("ServerName;DB1;tcp;99999;;")), std::nullopt);
  EXPECT_EQ(TcpPortFromBrowserReply(Reply("tcp;;;")), std::nullopt);
  EXPECT_EQ(TcpPortFromBrowserReply(std::string("\x04xx", 3)), std::nullopt);
  EXPECT_EQ(TcpPortFromBrowserReply(std::string("\x05", 1)), std::nullopt);
  // A length past the end is cut to what arrived.
  EXPECT_EQ(TcpPortFromBrowserReply(std::string("\x05\xff\xff", 3) + "tcp;1500;;"), 1500);
}

TEST(InstanceLookup, AsksForTheInstanceAndReadsThePort) {
  FakeBrowser browser(Reply("ServerName;LOCAL;InstanceName;SQLEXPRESS;IsClustered;No;tcp;14330;;"));
  EXPECT_EQ(ResolveInstancePort("127.0.0.1", "SQLEXPRESS", 5, browser.port()), 14330);
  EXPECT_EQ(browser.request(), std::string("\x04SQLEXPRESS\0", 12));
}

TEST(InstanceLookup, FailsClearlyWithoutAUsableAnswer) {
  {
    FakeBrowser browser(Reply("ServerName;LOCAL;InstanceName;PIPES;np;\\\\LOCAL\\pipe;;"));
    const Error error = ErrorOf([&] { ResolveInstancePort("127.0.0.1", "PIPES", 5, browser.port()); });
    EXPECT_EQ(error.number(), errnum::kGeneral);
    EXPECT_NE(error.description().find("'PIPES'"), std::string::npos) << error.description();
    EXPECT_NE(error.description().find("TCP"), std::string::npos) << error.description();
  }
  // Nothing listens on a port just given back: the lookup fails rather than waits.
  int free_port = 0;
  {
    FakeBrowser closed(Reply(""));
    free_port = closed.port();
    EXPECT_THROW(ResolveInstancePort("127.0.0.1", "ANY", 5, free_port), Error);  // lets the stand-in finish
  }
  const Error gone = ErrorOf([&] { ResolveInstancePort("127.0.0.1", "GONE", 2, free_port); });
  EXPECT_EQ(gone.number(), errnum::kGeneral);
  EXPECT_NE(gone.description().find("'GONE' on '127.0.0.1'"), std::string::npos) << gone.description();
}

}  // namespace
}  // namespace scourex::db
