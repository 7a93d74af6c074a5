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

// FreeTDS's fixed tail: the protocol version, UTF-8 and no language of its own.
const std::string kTdsTail = ";Language=;TDS_Version=7.4;ClientCharset=UTF-8";

OdbcTarget SqlServer(const std::string& text, const std::vector<std::string>& drivers, const std::string& user = "",
                     const std::string& password = "", bool ca_configured = false) {
  return MapSqlServerText(ConnectionText::Parse(text), SqlServerDrivers{drivers, "/lib/tds.so", ca_configured}, user,
                          password);
}

// `expected` is the text the driver is given between `head` and `tail`, or "!" and a piece
// of the refusal, which names a keyword.
void ExpectMapped(const std::string& text, const SqlServerDrivers& drivers, const std::string& expected,
                  const std::string& head, const std::string& tail) {
  const auto map = [&] { return MapSqlServerText(ConnectionText::Parse(text), drivers, "", ""); };
  if (expected.starts_with('!')) {
    const Error error = ErrorOf(map);
    EXPECT_EQ(error.number(), errnum::kBadConnectionText) << text;
    EXPECT_NE(error.description().find(expected.substr(1)), std::string::npos) << text << ": " << error.description();
    return;
  }
  EXPECT_EQ(map().connect_text, head + expected + tail) << text;
}

TEST(ServerAddress, ReadsEveryForm) {
  struct Case {
    const char* text;
    const char* host;
    const char* instance;
    std::optional<int> port;
  };
  for (const Case& c : {Case{"db1", "db1", "", {}}, Case{" db1\\SQLEXPRESS ", "db1", "SQLEXPRESS", {}},
                        Case{"tcp:10.1.2.3, 14330", "10.1.2.3", "", 14330}, Case{".\\INST", "localhost", "INST", {}},
                        Case{"", "localhost", "", {}}}) {
    const ServerAddress a = ParseServerAddress(c.text);
    EXPECT_EQ(a.host, c.host) << c.text;
    EXPECT_EQ(a.instance, c.instance) << c.text;
    EXPECT_EQ(a.port, c.port) << c.text;
  }
  for (const char* bad : {"db1,", "db1,0", "db1,70000", "db1,12x", "np:\\\\db1\\pipe\\sql\\query", "lpc:db1"}) {
    const Error error = ErrorOf([&] { ParseServerAddress(bad, "Network Address"); });
    EXPECT_EQ(error.number(), errnum::kGeneral) << bad;
    EXPECT_NE(error.description().find("'Network Address'"), std::string::npos) << error.what();
    EXPECT_EQ(error.description().find("db1"), std::string::npos) << error.what();
  }
}

TEST(ConnectTimeout, DefaultsToFifteenBoundsZeroAndRejectsNonsense) {
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Data Source=x")), 15);
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Connect Timeout= 2 ")), 2);
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Connection Timeout=0")), kUnlimitedConnectTimeoutSeconds);
  EXPECT_EQ(ConnectTimeoutSeconds(ConnectionText::Parse("Connect Timeout=5;Connection Timeout=\"\"")), 15);
  for (const char* bad : {"Connect Timeout=-1", "Connect Timeout=abc7", "Connect Timeout=1.5"}) {
    const Error error = ErrorOf([&] { ConnectTimeoutSeconds(ConnectionText::Parse(bad)); });
    EXPECT_EQ(error.number(), errnum::kBadConnectionText) << bad;
    EXPECT_NE(error.description().find("'Connect Timeout'"), std::string::npos);
    EXPECT_EQ(error.description().find(std::string(bad).substr(16)), std::string::npos) << error.description();
  }
}

TEST(SqlServerMapping, FreeTdsInstancesAddressesAndFallbackLibrary) {
  EXPECT_EQ(SqlServer("Provider=SQLNCLI11;Server=(local)\\SQLEXPRESS;Database=A", kFreeTdsOnly).connect_text,
            "Driver=FreeTDS;Server=localhost\\SQLEXPRESS;Database=A;UID=;PWD=" + kTdsTail);
  // Address says where the named server listens, wherever it stands.
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=PAYROLL;Address=10.0.0.5,1433;Network Library=DBMSSOCN",
                      kFreeTdsOnly)
                .connect_text,
            "Driver=FreeTDS;Server=10.0.0.5;Port=1433;UID=;PWD=" + kTdsTail);
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h\\I,1444", kFreeTdsOnly).connect_text,
            "Driver=FreeTDS;Server=h;Port=1444;UID=;PWD=" + kTdsTail);
  EXPECT_EQ(MapSqlServerText(ConnectionText::Parse("Provider=SQLOLEDB;Data Source=h\\I"),
                             SqlServerDrivers{kFreeTdsOnly, "/lib/tds.so", false}, "", "", 14330)
                .connect_text,
            "Driver=FreeTDS;Server=h;Port=14330;UID=;PWD=" + kTdsTail);
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h;Integrated Security=SSPI", {}).connect_text,
            "Driver=/lib/tds.so;Server=h;Port=1433;Trusted_Connection=Yes" + kTdsTail);
}

TEST(SqlServerMapping, EveryKeywordSitesWriteForBothDrivers) {
  const std::string text =
      "Provider=SQLOLEDB;Server=db1,1500;Database=Acme;UID=sa;PWD=x;Network=DBMSSOCN.dll;Workstation ID=ws;"
      "Application Name=app;Current Language=Deutsch;Initial File Name=C:\\Data\\acme.mdf;Packet Size=8192;"
      "Auto Translate=True;Use Procedure for Prepare=1;OLE DB Services=-2;Tag with column collation when possible=False";
  const OdbcTarget freetds = SqlServer(text, kFreeTdsOnly);
  EXPECT_EQ(freetds.connect_text,
            "Driver=FreeTDS;Server=db1;Port=1500;Database=Acme;UID=sa;PWD=x;APP=app;WSID=ws;Language=Deutsch;"
            "AttachDbFilename=C:\\Data\\acme.mdf;PacketSize=8192;TDS_Version=7.4;ClientCharset=UTF-8");
  EXPECT_EQ(freetds.packet_size, 8192);
  EXPECT_EQ(SqlServer(text, kMs18).connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=tcp:db1,1500;Database=Acme;UID=sa;PWD=x;Encrypt=no;"
            "TrustServerCertificate=yes;APP=app;WSID=ws;Language=Deutsch;AttachDBFileName=C:\\Data\\acme.mdf");
  // The user's synonyms, the last one written winning.
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h,1;User=a;UID=b;Password=p", kMs17).connect_text,
            "Driver=ODBC Driver 17 for SQL Server;Server=tcp:h,1;UID=b;PWD=p;Encrypt=no;TrustServerCertificate=yes");

  // What cannot be honoured is refused by its keyword, never its value.
  struct Refused {
    const char* text;
    const char* key;
  };
  const Refused refusals[] = {
      {"Provider=SQLOLEDB;Data Source=h;Network Library=DBNMPNTW", "'Network Library'"},
      {"Provider=SQLOLEDB;Data Source=h;MultipleActiveResultSets=True", "3rd item"},
      {"Provider=SQLOLEDB;Data Source=h;Failover Partner=h2", "'Failover Partner'"},
      {"Provider=SQLOLEDB;Data Source=h;Integrated Security=Maybe", "'Integrated Security'"},
      {"Provider=SQLOLEDB;Data Source=h;Packet Size=100", "'Packet Size'"},
      {"Provider=SQLOLEDB;Data Source=h;Use Encryption for Data=sometimes", "'Use Encryption for Data'"},
  };
  for (const auto& drivers : {kFreeTdsOnly, kMs18}) {
    for (const Refused& refusal : refusals)
      ExpectMapped(refusal.text, {drivers, "/lib/tds.so", false}, std::string("!") + refusal.key, "", "");
  }
}

TEST(SqlServerMapping, BracesOnlyWhereNeededAndFreeTdsLimitsRefusedByKey) {
  // Microsoft's drivers undo "}}" in a braced value (FreeTDS keeps braces as they stand).
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h,1;User ID=a}b;Password='p}a;ss}'", kMs18).connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=tcp:h,1;UID=a}b;PWD={p}}a;ss}}};Encrypt=no;"
            "TrustServerCertificate=yes");
  EXPECT_EQ(SqlServer("Provider=SQLOLEDB;Data Source=h,1;Password='{lead'", kMs18).connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=tcp:h,1;UID=;PWD={{lead};Encrypt=no;TrustServerCertificate=yes");
  const Error error = ErrorOf([] { SqlServer("Provider=SQLOLEDB;Data Source=h;Pwd='Secr};et'", kFreeTdsOnly); });
  EXPECT_EQ(error.number(), errnum::kBadConnectionText);
  EXPECT_NE(error.description().find("'PWD'"), std::string::npos) << error.description();
  EXPECT_EQ(error.description().find("Secr"), std::string::npos) << error.description();
  EXPECT_NO_THROW(SqlServer("Provider=SQLOLEDB;Data Source=h;Pwd='Secr};et'", kMs18));
}

TEST(SqlServerMapping, EncryptionAsAskedNeverWeakerInSilence) {
  struct Case {
    const char* keys;
    const char* ms18;     // Microsoft's Driver 18; "!" and the keyword for a refusal
    const char* ms17;
    const char* freetds;  // without a CA file configured
    const char* freetds_with_ca;
  };
  const Case cases[] = {
      // Nothing said: as the older providers, unencrypted unless the server insists, its certificate then taken as is.
      {"", "Encrypt=no;TrustServerCertificate=yes", "Encrypt=no;TrustServerCertificate=yes", "", ""},
      {"Encrypt=no", "Encrypt=no;TrustServerCertificate=yes", "Encrypt=no;TrustServerCertificate=yes",
       "Encryption=request", "Encryption=request"},
      {"Encrypt=optional;TrustServerCertificate=false", "Encrypt=no;TrustServerCertificate=no",
       "Encrypt=no;TrustServerCertificate=no", "Encryption=request", "Encryption=request"},
      // Encryption with the certificate checked: where FreeTDS cannot check, a refusal.
      {"Use Encryption for Data=True", "Encrypt=yes;TrustServerCertificate=no", "Encrypt=yes;TrustServerCertificate=no",
       "!'Use Encryption for Data'", "Encryption=require"},
      {"Encrypt=mandatory;Trust Server Certificate=False", "Encrypt=yes;TrustServerCertificate=no",
       "Encrypt=yes;TrustServerCertificate=no", "!'Encrypt'", "Encryption=require"},
      // Encryption with the certificate accepted unchecked, as the text says.
      {"Encrypt=yes;TrustServerCertificate=yes", "Encrypt=yes;TrustServerCertificate=yes",
       "Encrypt=yes;TrustServerCertificate=yes", "Encryption=require", "Encryption=require"},
      {"Encrypt=strict", "Encrypt=strict", "!'Encrypt'", "!'Encrypt'", "!'Encrypt'"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string("Provider=SQLOLEDB;Data Source=h,1;UID=u;PWD=p;") + c.keys;
    const auto check = [&](const std::vector<std::string>& drivers, bool ca, const std::string& expected,
                           const std::string& head, const std::string& end) {
      ExpectMapped(text, {drivers, "/lib/tds.so", ca}, expected.empty() || expected[0] == '!' ? expected : ";" + expected,
                   head, end);
    };
    check(kMs18, false, c.ms18, "Driver=ODBC Driver 18 for SQL Server;Server=tcp:h,1;UID=u;PWD=p", "");
    check(kMs17, false, c.ms17, "Driver=ODBC Driver 17 for SQL Server;Server=tcp:h,1;UID=u;PWD=p", "");
    check(kFreeTdsOnly, false, c.freetds, "Driver=FreeTDS;Server=h;Port=1;UID=u;PWD=p", kTdsTail);
    check(kFreeTdsOnly, true, c.freetds_with_ca, "Driver=FreeTDS;Server=h;Port=1;UID=u;PWD=p", kTdsTail);
  }
  // The newest provider encrypted and checked by default, in any version; its texts keep that.
  for (const char* provider : {"MSOLEDBSQL19", "msoledbsql19.1"}) {
    const std::string text = std::string("Provider=") + provider + ";Data Source=db1;UID=u;PWD=p";
    EXPECT_EQ(SqlServer(text, kMs18).connect_text,
              "Driver=ODBC Driver 18 for SQL Server;Server=db1;UID=u;PWD=p;Encrypt=yes;TrustServerCertificate=no");
    EXPECT_EQ(SqlServer(text, kFreeTdsOnly, "", "", true).connect_text,
              "Driver=FreeTDS;Server=db1;Port=1433;UID=u;PWD=p;Encryption=require" + kTdsTail);
  }
}

// What data-link files and connection dialogs write beyond the classic keywords, for
// FreeTDS, Microsoft's Driver 18 on Linux, the driver built into Windows and Driver 18 on
// Windows. A row's entry is the items the driver is given beyond the base text, or "!"
// and the keyword the refusal names.
TEST(SqlServerMapping, DataLinkKeywordsForEachDriver) {
  struct Case {
    const char* keys;
    const char* freetds;
    const char* ms18;
    const char* built_in;
    const char* windows_ms18;
  };
  const Case cases[] = {
      // An empty value means the keyword is absent.
      {"Persist Security Info=True;Initial File Name=\"\";Server SPN=\"\";Integrated Security=\"\";"
       "Failover Partner=;Bogus=''",
       "", "", "", ""},
      {"Server SPN=MSSQLSvc/db1.corp:1433", ";ServerSPN=MSSQLSvc/db1.corp:1433", ";ServerSPN=MSSQLSvc/db1.corp:1433",
       "!'Server SPN'", ";ServerSPN=MSSQLSvc/db1.corp:1433"},
      // FreeTDS tries every address of a name at once by itself.
      {"MultiSubnetFailover=True", "", ";MultiSubnetFailover=Yes", "!'MultiSubnetFailover'",
       ";MultiSubnetFailover=Yes"},
      {"MultiSubnetFailover=False", "", "", "", ""},
      {"Failover Partner=db2", "!'Failover Partner'", "!'Failover Partner'", "!'Failover Partner'",
       ";Failover_Partner=db2"},
      // Accepted without effect.
      {"MARS Connection=True;DataTypeCompatibility=80;Application Intent=READWRITE", "", "", "", ""},
      {"Application Intent=ReadOnly", "!'Application Intent'", "!'Application Intent'", "!'Application Intent'",
       "!'Application Intent'"},
      {"MARS Connection=maybe", "!'MARS Connection'", "!'MARS Connection'", "!'MARS Connection'", "!'MARS Connection'"},
      {"DataTypeCompatibility=65", "!'DataTypeCompatibility'", "!'DataTypeCompatibility'", "!'DataTypeCompatibility'",
       "!'DataTypeCompatibility'"},
  };
  const std::string base = "Provider=SQLOLEDB.1;Data Source=h,1;User ID=u;Password=p;";
  const auto check = [&](const Case& c, const char* expected, const SqlServerDrivers& drivers, const std::string& head,
                         const std::string& tail) { ExpectMapped(base + c.keys, drivers, expected, head, tail); };
  const std::string ms_login = ";Server=tcp:h,1;UID=u;PWD=p;Encrypt=no";
  for (const Case& c : cases) {
    check(c, c.freetds, {kFreeTdsOnly, "/lib/tds.so", false}, "Driver=FreeTDS;Server=h;Port=1;UID=u;PWD=p;Language=",
          ";TDS_Version=7.4;ClientCharset=UTF-8");
    check(c, c.ms18, {kMs18, "", false},
          "Driver=ODBC Driver 18 for SQL Server" + ms_login + ";TrustServerCertificate=yes", "");
    check(c, c.built_in, {{}, "", false, true}, "Driver=SQL Server" + ms_login, "");
    check(c, c.windows_ms18, {kMs18, "", false, true},
          "Driver=ODBC Driver 18 for SQL Server" + ms_login + ";TrustServerCertificate=yes", "");
  }
}

TEST(SqlServerMapping, OpenArgumentsReplaceTheTextsCredentials) {
  const OdbcTarget target =
      SqlServer("Provider=SQLOLEDB;Data Source=h;User ID=textuser;Password=textpw", kMs18, "arguser", "argpw");
  EXPECT_EQ(target.connect_text,
            "Driver=ODBC Driver 18 for SQL Server;Server=h;UID=arguser;PWD=argpw;Encrypt=no;TrustServerCertificate=yes");
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
  EXPECT_FALSE(target.sql_server);
  EXPECT_TRUE(MapOdbcText(ConnectionText::Parse("Driver={ODBC Driver 18 for SQL Server};Server=h"), "", "").sql_server);

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
