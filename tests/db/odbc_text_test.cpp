#include "db/odbc_text.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "db/error_numbers.h"
#include "db/error_of.h"

namespace scourex::db {
namespace {

const std::vector<std::string> kFreeTdsOnly = {"FreeTDS", "SQLite3"};
const std::vector<std::string> kMs17 = {"FreeTDS", "ODBC Driver 17 for SQL Server"};
const std::vector<std::string> kMs18 = {"ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server", "FreeTDS"};

OdbcTarget SqlServer(const std::string& text, const std::vector<std::string>& drivers, const std::string& user = "",
                     const std::string& password = "") {
  return MapSqlServerText(ConnectionText::Parse(text), drivers, user, password, "/lib/tds.so");
}

TEST(ServerAddress, ReadsEveryForm) {
  ServerAddress a = ParseServerAddress("db1");
  EXPECT_EQ(a.host, "db1");
  EXPECT_TRUE(a.instance.empty());
  EXPECT_FALSE(a.port);

  a = ParseServerAddress(" db1\\SQLEXPRESS ");
  EXPECT_EQ(a.host, "db1");
  EXPECT_EQ(a.instance, "SQLEXPRESS");

  a = ParseServerAddress("tcp:10.1.2.3, 14330");
  EXPECT_EQ(a.host, "10.1.2.3");
  EXPECT_EQ(a.port, 14330);
  EXPECT_EQ(a.Display(), "10.1.2.3,14330");

  EXPECT_EQ(ParseServerAddress("(local)").host, "localhost");
  EXPECT_EQ(ParseServerAddress(".\\INST").host, "localhost");
  EXPECT_EQ(ParseServerAddress("").host, "localhost");

  for (const char* bad : {"db1,", "db1,0", "db1,70000", "db1,12x"}) {
    const Error error = ErrorOf([&] { ParseServerAddress(bad); });
    EXPECT_EQ(error.number(), errnum::kGeneral) << bad;
    EXPECT_NE(std::string(error.what()).find(bad), std::string::npos) << error.what();
  }
}

TEST(ConnectTimeout, DefaultsToFifteenAndRejectsNonsense) {
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Data Source=x")), 15);
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Connect Timeout= 2 ")), 2);
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Connection Timeout=0")), 0);
  for (const char* bad : {"Connect Timeout=-1", "Connect Timeout=abc", "Connect Timeout=", "Connect Timeout=1.5"}) {
    const Error error = ErrorOf([&] { ConnectTimeoutSeconds(ConnectionText::Parse(bad)); });
    EXPECT_EQ(error.number(), errnum::kBadConnectionText) << bad;
    EXPECT_NE(std::string(error.what()).find("Connect Timeout"), std::string::npos);
  }
}

TEST(SqlServerMapping, FreeTdsGetsHostAndPortApart) {
  const OdbcTarget target = SqlServer(
      "Provider=SQLOLEDB.1;Persist Security Info=False;Data Source=tcp:db1,1500;Initial Catalog=Acme;User ID=sa;"
      "Password='p;w';Connect Timeout=7;Application Name=Scourex",
      kFreeTdsOnly);
  EXPECT_EQ(target.connect_text,
            "Driver=FreeTDS;Server=db1;Port=1500;Database=Acme;UID=sa;PWD={p;w};APP=Scourex;TDS_Version=7.4;ClientCharset=UTF-8");
  EXPECT_EQ(target.login_timeout_seconds, 7);
  EXPECT_EQ(target.display_name, "SQL Server 'db1,1500', database 'Acme'");
  EXPECT_EQ(target.secrets, std::vector<std::string>{"p;w"});
}

TEST(SqlServerMapping, FreeTdsInstancesAndFallbackLibrary) {
  EXPECT_EQ(SqlServer("Provider=SQLNCLI11;Server=(local)\\SQLEXPRESS;Database=A", kFreeTdsOnly).connect_text,
            "Driver=FreeTDS;Server=localhost\\SQLEXPRESS;Database=A;UID=;PWD=;TDS_Version=7.4;ClientCharset=UTF-8");
  // Address says where the named server listens.
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=PAYROLL;Address=10.0.0.5,1433", kFreeTdsOnly).connect_text,
            "Driver=FreeTDS;Server=10.0.0.5;Port=1433;UID=;PWD=;TDS_Version=7.4;ClientCharset=UTF-8");
  // A port makes the instance name irrelevant.
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h\\I,1444", kFreeTdsOnly).connect_text,
            "Driver=FreeTDS;Server=h;Port=1444;UID=;PWD=;TDS_Version=7.4;ClientCharset=UTF-8");
  // A port already looked up for the instance goes to FreeTDS as such.
  EXPECT_EQ(MapSqlServerText(ConnectionText::Parse("Provider=SQLOLEDB;Data Source=h\\I"), kFreeTdsOnly, "", "",
                             "/lib/tds.so", 14330)
                .connect_text,
            "Driver=FreeTDS;Server=h;Port=14330;UID=;PWD=;TDS_Version=7.4;ClientCharset=UTF-8");
  // Without FreeTDS registered the library itself is named.
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h;Integrated Security=SSPI;Encrypt=yes", {}).connect_text,
            "Driver=/lib/tds.so;Server=h;Trusted_Connection=Yes;Encryption=require;TDS_Version=7.4;ClientCharset=UTF-8");
}

TEST(SqlServerMapping, MicrosoftDriverPreferredNewestFirst) {
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=db1,1500;Initial Catalog=Acme;User ID=sa;Password=x", kMs18)
                .connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=tcp:db1,1500;Database=Acme;UID=sa;PWD=x;Encrypt=no");
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=.\\SQLEXPRESS;Integrated Security=true;"
                      "TrustServerCertificate=True;Workstation ID=ws",
                      kMs17)
                .connect_text,
            "Driver=ODBC Driver 17 for SQL Server;Server=localhost\\SQLEXPRESS;Trusted_Connection=yes;Encrypt=no;"
            "TrustServerCertificate=yes;WSID=ws");
  // The newest provider leaves Driver 18's own encryption default alone.
  EXPECT_EQ(SqlServer("Provider=MSOLEDBSQL19;Data Source=db1;UID=u;PWD=p", kMs18).connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=db1;UID=u;PWD=p");
  EXPECT_EQ(SqlServer("Provider=MSOLEDBSQL;Data Source=db1;Encrypt=strict", kMs17).connect_text,
            "Driver=ODBC Driver 17 for SQL Server;Server=db1;UID=;PWD=;Encrypt=yes");
}

TEST(SqlServerMapping, OpenArgumentsReplaceTheTextsCredentials) {
  const OdbcTarget target =
      SqlServer("Provider=SQLOLEDB;Data Source=h;User ID=textuser;Password=textpw", kMs18, "arguser", "argpw");
  EXPECT_EQ(target.connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=h;UID=arguser;PWD=argpw;Encrypt=no");
  EXPECT_EQ(target.secrets, (std::vector<std::string>{"argpw", "textpw"}));
}

TEST(OdbcMapping, PassesTheTextOnWithoutProviderKeys) {
  OdbcTarget target = MapOdbcText(
      ConnectionText::Parse("Provider=MSDASQL;Driver={SQLite3};Database=/tmp/x.db;Connect Timeout=3;"
                            "Persist Security Info=False;Note='a;b'"),
      "", "");
  EXPECT_EQ(target.connect_text, "Driver={SQLite3};Database=/tmp/x.db;Note={a;b}");
  EXPECT_EQ(target.login_timeout_seconds, 3);
  EXPECT_EQ(target.display_name, "ODBC driver '{SQLite3}', database '/tmp/x.db'");

  target = MapOdbcText(ConnectionText::Parse("Data Source=Sales;User ID=u;Password=pw1;Initial Catalog=c"), "", "");
  EXPECT_EQ(target.connect_text, "DSN=Sales;UID=u;PWD=pw1;DATABASE=c");
  EXPECT_EQ(target.display_name, "ODBC data source 'Sales', database 'c'");
  EXPECT_EQ(target.secrets, std::vector<std::string>{"pw1"});

  target = MapOdbcText(ConnectionText::Parse("DSN=Sales;UID=u;PWD=old"), "v", "new");
  EXPECT_EQ(target.connect_text, "DSN=Sales;UID=v;PWD=new");

  target = MapOdbcText(ConnectionText::Parse("Provider=MSDASQL;Extended Properties=\"DSN=Sales;PWD=inner\""), "", "");
  EXPECT_EQ(target.connect_text, "DSN=Sales;PWD=inner");
  EXPECT_EQ(target.display_name, "ODBC data source 'Sales'");
  EXPECT_EQ(target.secrets, std::vector<std::string>{"inner"});
}

TEST(OdbcMapping, RequiresADataSourceOrDriver) {
  for (const char* text : {"Provider=MSDASQL", "Database=x;UID=u"})
    EXPECT_EQ(ErrorOf([&] { MapOdbcText(ConnectionText::Parse(text), "", ""); }).number(), errnum::kGeneral) << text;
}

}  // namespace
}  // namespace scourex::db
