// SQL Server texts through the real FreeTDS ODBC driver to a TDS stand-in: what the driver
// sends is what the text said, and the server's answers come back with the right number.

#include <gtest/gtest.h>

#include <chrono>

#include "db/connection.h"
#include "db/error_numbers.h"
#include "db/error_of.h"
#include "db/odbc_text.h"
#include "db/sql_browser.h"
#include "tds/tds_standin.h"

namespace scourex::db {
namespace {

using testing::BrowserStandIn;
using testing::TdsLogin;
using testing::TdsReply;
using testing::TdsStandIn;

class FreeTds : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why_not = testing::WhyNotFreeTds();
    if (!why_not.empty()) GTEST_FAIL() << why_not << "; these tests need FreeTDS";
  }

  static std::string At(const TdsStandIn& server) {
    return "Provider=SQLOLEDB;Data Source=127.0.0.1," + std::to_string(server.port()) + ";";
  }

  static Error OpenFails(const std::string& text) {
    auto connection = CreateConnection();
    return ErrorOf([&] { connection->Open(text, "", ""); });
  }
};

TEST_F(FreeTds, ServersNamedWithoutAPortAreReachedOn1433) {
  TdsStandIn::Options options;
  options.port = kSqlServerPort;
  TdsStandIn server(options);
  ASSERT_NE(server.port(), 0) << "port 1433 of 127.0.0.1 is taken";
  for (const char* source : {"127.0.0.1", "(local)", ".", "localhost"}) {
    auto connection = CreateConnection();
    connection->Open(std::string("Provider=SQLOLEDB;Data Source=") + source + ";User ID=sa;Password=pw;Connect Timeout=5",
                     "", "");
  }
  EXPECT_EQ(server.logins().size(), 4u);
}

TEST_F(FreeTds, CredentialsAndNamesArriveExactlyAsWritten) {
  TdsStandIn server({});
  const std::string port = std::to_string(server.port());
  auto connection = CreateConnection();
  // Network Address wins over a Data Source that names no reachable host.
  connection->Open("Provider=SQLOLEDB.1;Data Source=nosuchhost.invalid;Network Address=127.0.0.1," + port +
                       ";Network Library=DBMSSOCN;User ID=Jürgen Ωmega;Password='p}a;ss} é';"
                       "Initial Catalog=Zutrittsdatenbänk;Application Name=Scourex;Workstation ID=PFÖRTNER-1;"
                       "Current Language=Deutsch;Initial File Name=C:\\Daten\\zutritt.mdf",
                   "", "");
  connection->Open(At(server) + "UID={lead;Pwd=' Жзы ';Database=Журнал", "", "");
  const std::vector<TdsLogin> logins = server.logins();
  ASSERT_EQ(logins.size(), 2u);
  const auto fields = [](const TdsLogin& l) {
    return std::vector<std::string>{l.user_name, l.password, l.database, l.app_name, l.host_name, l.language, l.attach_file};
  };
  EXPECT_EQ(fields(logins[0]), (std::vector<std::string>{"Jürgen Ωmega", "p}a;ss} é", "Zutrittsdatenbänk", "Scourex",
                                                         "PFÖRTNER-1", "Deutsch", "C:\\Daten\\zutritt.mdf"}));
  EXPECT_EQ(logins[0].prelogin_encryption, 0x00) << "nothing said: encryption offered, not required";
  // Without a language of its own the login's language applies, as with the providers.
  const TdsLogin& second = logins[1];
  EXPECT_EQ((std::vector{second.user_name, second.password, second.database, second.language}),
            (std::vector<std::string>{"{lead", " Жзы ", "Журнал", ""}));
}

TEST_F(FreeTds, RefusedLoginsCarryTheAuthenticationNumberAndTheServersWords) {
  for (const auto& [native, message] : {std::pair<long, std::string>{18456, "Ошибка входа пользователя \"sa\"."},
                                        {4060, "Cannot open database \"Gone\" requested by the login. The login failed."}}) {
    TdsStandIn::Options options;
    options.login = TdsReply::Fail(native, message, 14);
    TdsStandIn server(options);
    const Error error = OpenFails(At(server) + "User ID=sa;Password=Secr3t!;Initial Catalog=Gone");
    EXPECT_EQ(error.number(), errnum::kLoginFailed) << native << " " << error.description();
    EXPECT_NE(error.description().find(message), std::string::npos) << error.description();
    EXPECT_EQ(error.description().find("Secr3t!"), std::string::npos) << error.description();
  }
}

TEST_F(FreeTds, FailedConnectionsSayWhy) {
  const Error unknown =
      OpenFails("Provider=SQLOLEDB;Data Source=nosuchhost.invalid,1500;Initial Catalog=Acme;User ID=sa;Password=Secr3t!");
  EXPECT_EQ(unknown.number(), errnum::kGeneral);
  EXPECT_NE(unknown.description().find("Unknown host"), std::string::npos) << unknown.description();
  EXPECT_NE(unknown.description().find("SQL Server 'nosuchhost.invalid,1500', database 'Acme'"), std::string::npos)
      << unknown.description();
  EXPECT_EQ(unknown.description().find("Secr3t!"), std::string::npos) << unknown.description();

  // Integrated Security is Kerberos here; without a ticket the error says what is needed.
  TdsStandIn server({});
  const Error kerberos = OpenFails(At(server) + "Integrated Security=SSPI;Connect Timeout=5");
  EXPECT_NE(kerberos.description().find("Kerberos ticket"), std::string::npos) << kerberos.description();
  EXPECT_NE(kerberos.description().find("host name"), std::string::npos) << kerberos.description();
}

TEST_F(FreeTds, ASilentServerEndsTheOpenAtTheJobsBoundEvenWithoutALimit) {
  TdsStandIn::Options options;
  options.login = TdsReply::Silence();
  options.lifetime = std::chrono::seconds(kUnlimitedConnectTimeoutSeconds + 20);
  TdsStandIn server(options);
  for (int seconds : {1, 0}) {
    const auto start = std::chrono::steady_clock::now();
    const Error error =
        OpenFails(At(server) + "User ID=sa;Password=Secr3t!;Connect Timeout=" + std::to_string(seconds));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error.number(), errnum::kTimeout) << error.description();
    EXPECT_EQ(error.description().find("Secr3t!"), std::string::npos) << error.description();
    const auto bound = std::chrono::seconds(seconds == 0 ? kUnlimitedConnectTimeoutSeconds : seconds);
    EXPECT_GE(waited, bound - std::chrono::milliseconds(500));
    EXPECT_LT(waited, bound + std::chrono::seconds(10));
  }
}

TEST(BrowserReply, FindsTheTcpPortOrNothing) {
  const std::pair<std::string, std::optional<int>> cases[] = {
      {testing::BrowserReply("ServerName;DB1;InstanceName;INST;IsClustered;No;Version;15.0.2000.5;tcp;14330;"
                             "np;\\\\DB1\\pipe\\sql\\query;;"),
       14330},
      {testing::BrowserReply("ServerName;DB1;tcp;99999;;"), std::nullopt},
      {testing::BrowserReply("tcp;;;"), std::nullopt},
      {std::string("\x04xx", 3), std::nullopt},
      {std::string("\x05", 1), std::nullopt},
      {std::string("\x05\xff\xff", 3) + "tcp;1500;;", 1500},  // a length past the end is cut to what arrived
  };
  for (const auto& [reply, port] : cases) EXPECT_EQ(TcpPortFromBrowserReply(reply), port) << reply;
}

TEST(InstanceLookup, AsksForTheInstanceAndReadsThePortWhoeverAnswers) {
  BrowserStandIn browser("ServerName;LOCAL;InstanceName;SQLEXPRESS;IsClustered;No;tcp;14330;;");
  EXPECT_EQ(ResolveInstancePort("127.0.0.1", "sqlexpress", 5, browser.port()), 14330);
  EXPECT_EQ(browser.requests().at(0), std::string("\x04sqlexpress\0", 12));
  // A cluster's node answers from its own address.
  BrowserStandIn node("ServerName;NODE2;InstanceName;CLU;IsClustered;Yes;tcp;14331;;", 0, "127.0.0.2");
  EXPECT_EQ(ResolveInstancePort("127.0.0.1", "CLU", 5, node.port()), 14331);
}

TEST(InstanceLookup, FailsClearlyWithoutAUsableAnswer) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"ServerName;LOCAL;InstanceName;PIPES;np;\\\\LOCAL\\pipe;;", "PIPES",
       "'PIPES' on '127.0.0.1': the instance does not accept TCP"},
      {"ServerName;LOCAL;InstanceName;OTHER;tcp;1500;;", "MINE", "'OTHER' instead"}};
  for (const auto& [reply, instance, said] : cases) {
    BrowserStandIn browser(reply);
    const Error error = ErrorOf([&] { ResolveInstancePort("127.0.0.1", instance, 1, browser.port()); });
    EXPECT_EQ(error.number(), errnum::kGeneral);
    EXPECT_NE(error.description().find(said), std::string::npos) << error.description();
  }
  // Nothing listens on a port just given back: the lookup fails rather than waits.
  int free_port = 0;
  {
    BrowserStandIn closed("");
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
