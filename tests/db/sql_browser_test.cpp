// Instance lookups against a stand-in browser on the loopback interface.

#include "db/sql_browser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/error.h"
#include "db/error_numbers.h"
#include "db/error_of.h"
#include "tds/browser_standin.h"

namespace scourex::db {
namespace {

using testing::BrowserStandIn;

std::string Reply(const std::string& text) { return testing::BrowserReply(text); }

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

TEST(InstanceLookup, AsksForTheInstanceAndReadsThePortWhoeverAnswers) {
  BrowserStandIn browser(Reply("ServerName;LOCAL;InstanceName;SQLEXPRESS;IsClustered;No;tcp;14330;;"));
  EXPECT_EQ(ResolveInstancePort("127.0.0.1", "sqlexpress", 5, browser.port()), 14330);
  EXPECT_EQ(browser.requests().at(0), std::string("\x04sqlexpress\0", 12));
  // A cluster's node answers from its own address.
  BrowserStandIn node(Reply("ServerName;NODE2;InstanceName;CLU;IsClustered;Yes;tcp;14331;;"), 0, "127.0.0.2");
  EXPECT_EQ(ResolveInstancePort("127.0.0.1", "CLU", 5, node.port()), 14331);
}

TEST(InstanceLookup, FailsClearlyWithoutAUsableAnswer) {
  {
    BrowserStandIn browser(Reply("ServerName;LOCAL;InstanceName;PIPES;np;\\\\LOCAL\\pipe;;"));
    const Error error = ErrorOf([&] { ResolveInstancePort("127.0.0.1", "PIPES", 5, browser.port()); });
    EXPECT_EQ(error.number(), errnum::kGeneral);
    EXPECT_NE(error.description().find("'PIPES'"), std::string::npos) << error.description();
    EXPECT_NE(error.description().find("TCP"), std::string::npos) << error.description();
  }
  {
    BrowserStandIn browser(Reply("ServerName;LOCAL;InstanceName;OTHER;tcp;1500;;"));
    const Error error = ErrorOf([&] { ResolveInstancePort("127.0.0.1", "MINE", 1, browser.port()); });
    EXPECT_NE(error.description().find("'OTHER' instead"), std::string::npos) << error.description();
  }
  // Nothing listens on a port just given back: the lookup fails rather than waits.
  int free_port = 0;
  {
    BrowserStandIn closed(Reply(""));
    free_port = closed.port();
  }
  const auto start = std::chrono::steady_clock::now();
  const Error gone = ErrorOf([&] { ResolveInstancePort("127.0.0.1", "GONE", 5, free_port); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(gone.number(), errnum::kGeneral);
  EXPECT_NE(gone.description().find("'GONE' on '127.0.0.1'"), std::string::npos) << gone.description();
}

}  // namespace
}  // namespace scourex::db
