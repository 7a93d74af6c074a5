// SQL Server texts through the real FreeTDS ODBC driver to a TDS stand-in on 127.0.0.1:
// what the driver sends is what the text said, and what the server answers comes back
// with the right number and words.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "db/connection.h"
#include "db/error_numbers.h"
#include "db/error_of.h"
#include "db/odbc_backend.h"
#include "db/odbc_text.h"
#include "tds/tds_standin.h"

namespace scourex::db {
namespace {

using testing::TdsLogin;
using testing::TdsReply;
using testing::TdsStandIn;

class FreeTds : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> drivers = InstalledOdbcDrivers();
    if (UsesMicrosoftDriver(drivers)) GTEST_FAIL() << "Microsoft's ODBC driver is installed here and takes the SQL Server texts; these tests need FreeTDS";
    if (std::find(drivers.begin(), drivers.end(), "FreeTDS") == drivers.end() &&
        !std::filesystem::exists(DefaultFreeTdsLibrary())) {
      GTEST_FAIL() << "no FreeTDS driver (tdsodbc)";
    }
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
  EXPECT_EQ(logins[0].user_name, "Jürgen Ωmega");
  EXPECT_EQ(logins[0].password, "p}a;ss} é");
  EXPECT_EQ(logins[0].database, "Zutrittsdatenbänk");
  EXPECT_EQ(logins[0].app_name, "Scourex");
  EXPECT_EQ(logins[0].host_name, "PFÖRTNER-1");
  EXPECT_EQ(logins[0].language, "Deutsch");
  EXPECT_EQ(logins[0].attach_file, "C:\\Daten\\zutritt.mdf");
  EXPECT_FALSE(logins[0].integrated_security);
  EXPECT_EQ(logins[0].prelogin_encryption, 0x00) << "nothing said: encryption offered, not required";
  EXPECT_EQ(logins[1].user_name, "{lead");
  EXPECT_EQ(logins[1].password, " Жзы ");
  EXPECT_EQ(logins[1].database, "Журнал");
  // Without a language of its own the login's language applies, as with the providers.
  EXPECT_EQ(logins[1].language, "");
}

TEST_F(FreeTds, RefusedLoginsCarryTheAuthenticationNumberAndTheServersWords) {
  struct Case {
    long native;
    const char* message;
  };
  const Case cases[] = {
      {18456, "Ошибка входа пользователя \"sa\"."},
      {4060, "Cannot open database \"Gone\" requested by the login. The login failed."},
  };
  for (const Case& c : cases) {
    TdsStandIn::Options options;
    options.login = TdsReply::Fail(c.native, c.message, 14);
    TdsStandIn server(options);
    const Error error = OpenFails(At(server) + "User ID=sa;Password=Secr3t!;Initial Catalog=Gone");
    EXPECT_EQ(error.number(), errnum::kLoginFailed) << c.native << " " << error.description();
    EXPECT_NE(error.description().find(c.message), std::string::npos) << error.description();
    EXPECT_EQ(error.description().find("Secr3t!"), std::string::npos) << error.description();
  }
}

TEST_F(FreeTds, CommandsGetRowCountsAndTheServersErrorNumbers) {
  TdsStandIn::Options options;
  options.batch = [](const std::string& sql) {
    if (sql.find("Gone") != std::string::npos) return TdsReply::Fail(208, "Invalid object name 'Gone'.");
    if (sql.find("'2026-31-12") != std::string::npos) {
      return TdsReply::Fail(242, "La conversion d'un type de données varchar en type de données datetime a créé une "
                                 "valeur hors limites.");
    }
    return TdsReply::Rows(7);
  };
  TdsStandIn server(options);
  auto connection = CreateConnection();
  connection->Open(At(server) + "User ID=sa;Password=pw", "", "");
  long affected = 0;
  connection->Execute("DELETE FROM [Log] WHERE Note = 'Größe'", &affected);
  EXPECT_EQ(affected, 7);
  EXPECT_EQ(ErrorOf([&] { connection->Execute("DELETE FROM Gone", nullptr); }).number(), errnum::kUnknownTable);
  const Error conversion = ErrorOf([&] { connection->Execute("DELETE FROM T WHERE D < '2026-31-12'", nullptr); });
  EXPECT_EQ(conversion.number(), errnum::kConversion);
  EXPECT_NE(conversion.description().find("créé une valeur hors limites"), std::string::npos) << conversion.description();
  EXPECT_EQ(server.batches().front(), "DELETE FROM [Log] WHERE Note = 'Größe'");
}

TEST_F(FreeTds, FailedConnectionsSayWhy) {
  const Error unknown = OpenFails("Provider=SQLOLEDB;Data Source=nosuchhost.invalid;User ID=sa;Password=Secr3t!");
  EXPECT_EQ(unknown.number(), errnum::kGeneral);
  EXPECT_NE(unknown.description().find("Unknown host"), std::string::npos) << unknown.description();
  EXPECT_NE(unknown.description().find("nosuchhost.invalid"), std::string::npos) << unknown.description();
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

}  // namespace
}  // namespace scourex::db
