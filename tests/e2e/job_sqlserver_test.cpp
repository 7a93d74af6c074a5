// The real binary in a temporary installation folder with DBType 2, reaching a TDS
// stand-in through unixODBC and the real FreeTDS driver: what the job sends, what its
// log says, and that no password shows anywhere.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "platform/platform.h"
#include "purge/date_string.h"
#include "support/process.h"
#include "tds/tds_standin.h"

namespace scourex {
namespace {

using testing::TdsReply;
using testing::TdsStandIn;

const char kPassword[] = "Pässwort;}";               // as the stand-in must receive it
const char kPasswordWindows1252[] = "P\xE4sswort;}";  // as a Windows site's options file holds it

class SqlServerJob : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why_not = testing::WhyNotFreeTds();
    if (!why_not.empty()) GTEST_FAIL() << why_not << "; these tests need FreeTDS";
    std::filesystem::copy_file(SCOUREX_BINARY, dir_ / "scourex");
    testing::WriteWholeFile(dir_ / "Orvanta.nam", "");
  }

  // Writes `options` as the options file's bytes and runs the job's folder with `run` (by
  // default as a scheduler does); nothing of `secrets` may show in the log or the output.
  testing::ProcessResult RunWith(const std::string& options, const std::vector<std::string>& secrets,
                                 const std::function<testing::ProcessResult(const std::string&)>& run = testing::RunJob) {
    testing::WriteWholeFile(dir_ / "Orvanta.ini", options);
    std::filesystem::remove(dir_ / "Scourex.log");
    const testing::ProcessResult result = run(dir_.path());
    log_ = testing::ReadWholeFile(dir_ / "Scourex.log");
    for (const std::string& where : {result.out, log_}) {
      for (const std::string& secret : secrets)
        EXPECT_EQ(where.find(secret), std::string::npos) << secret << ": " << where;
    }
    return result;
  }

  // The options file in Windows-1252, as copied from a Windows site.
  testing::ProcessResult Run(const std::string& data_source, const std::string& extra = "",
                             const std::function<testing::ProcessResult(const std::string&)>& run = testing::RunJob) {
    return RunWith("[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source=" + data_source +
                       ";User ID=sa;Password='" + kPasswordWindows1252 + "'\r\n" + extra,
                   {"Pässwort", kPasswordWindows1252}, run);
  }

  testing::TempFolder dir_;
  std::string log_;
};

// Texts as sites paste them from data-link (.udl) files and connection dialogs, through
// FreeTDS to the stand-in: what connects, what is refused and how the log says it.
TEST_F(SqlServerJob, TextsAsDataLinkFilesWriteThem) {
  struct Case {
    const char* provider;
    const char* keys;
    int status;
    const char* logged;  // a piece of the log
    int encryption;      // what every pre-login asked for; -1: no login at all
    unsigned packet;     // the packet size every login asked for; 0: not checked
  };
  const Case cases[] = {
      // The newest provider encrypts unless told otherwise, in any version.
      {"MSOLEDBSQL19.1", "", 1,
       "-2147217805 - The connection text names the provider MSOLEDBSQL19, which encrypts and checks the server's "
       "certificate when the text says nothing about encryption",
       -1, 0},
      {"MSOLEDBSQL19.1", ";TrustServerCertificate=True", 1, "", 0x01, 0},
      {"MSOLEDBSQL19.1", ";Use Encryption for Data=Optional", 0, "", 0x00, 0},
      // A password with a semicolon, unquoted: a password and keywords nobody knows.
      {"SQLOLEDB", ";pa=rt;Qv4z=Wm8Tail", 1,
       "-2147217805 - The connection text's 5th item is not a keyword this job can honour for SQL Server", -1, 0},
      // FreeTDS asks for the size in its login, and for 4096 bytes at least.
      {"SQLOLEDB", ";Packet Size=8192", 0, "", 0x00, 8192},
      {"SQLOLEDB", ";Packet Size=1024", 0, "", 0x00, 4096},
  };
  for (const Case& c : cases) {
    TdsStandIn server({});
    const std::string text = std::string("Provider=") + c.provider + ";Data Source=127.0.0.1," +
                             std::to_string(server.port()) + ";User ID=sa;Password=Kx7Secr3t" + c.keys;
    const std::string options = "[Orvanta]\r\nDBType=2\r\nVisitorMonths=0\r\nSQL_Connect=" + text + "\r\n";
    const testing::ProcessResult result = RunWith(options, {"Kx7Secr3t", "'pa'", "Qv4z", "Wm8Tail"});
    EXPECT_EQ(result.status, c.status) << text << "\n" << log_;
    EXPECT_NE(log_.find(c.logged), std::string::npos) << text << "\n" << log_;
    EXPECT_EQ(log_.find("''"), std::string::npos) << text << "\n" << log_;
    const std::vector<testing::TdsLogin> logins = server.logins();
    EXPECT_EQ(logins.size(), c.status == 0 ? 2u : c.encryption < 0 ? 0u : logins.size()) << text;
    for (const testing::TdsLogin& login : logins) {
      EXPECT_EQ(login.prelogin_encryption, c.encryption) << text;
      EXPECT_EQ(login.packet_size, c.packet == 0 ? login.packet_size : c.packet) << text;
    }
  }
}

TEST_F(SqlServerJob, PurgesWithACutoffThatMeansTheSameInstantUnderEveryLoginLanguage) {
  TdsStandIn::Options options;
  options.batch = [](const std::string&) { return TdsReply::Rows(3); };
  TdsStandIn server(options);
  const testing::ProcessResult result = Run("127.0.0.1," + std::to_string(server.port()));
  EXPECT_EQ(result.status, 0) << result.out << log_;
  EXPECT_NE(log_.find(" Total Visitor Deleted 3"), std::string::npos) << log_;
  EXPECT_NE(log_.find(" Total Events Deleted 3"), std::string::npos) << log_;

  ASSERT_EQ(server.logins().size(), 2u);
  for (const testing::TdsLogin& login : server.logins()) EXPECT_EQ(login.password, kPassword);
  // Only the unseparated yyyymmdd is read as year, month, day whatever the login's
  // language; yyyy-mm-dd is year, day, month under a German or French login.
  const std::string head = "DELETE From [Log] where [Date] < ";
  std::string literal;
  for (const std::string& sql : server.batches()) {
    if (sql.rfind(head, 0) == 0) literal = sql.substr(head.size());
  }
  std::smatch m;
  ASSERT_TRUE(std::regex_match(literal, m, std::regex(R"('(\d{8}) \d\d:\d\d:\d\d')"))) << literal;
  EXPECT_EQ(m[1].str(), FormatDate(AddMonths(CreateSystemPlatform()->Now(), -3), "yyyymmdd")) << literal;
}

TEST_F(SqlServerJob, LogsThePortANamedInstanceWasFoundOn) {
  TdsStandIn server({});
  testing::BrowserStandIn browser("ServerName;STANDIN;InstanceName;ZUTRITT;IsClustered;No;Version;15.0.2000.5;tcp;" +
                                      std::to_string(server.port()) + ";;",
                                  1434);
  ASSERT_NE(browser.port(), 0) << "UDP port 1434 of 127.0.0.1 is taken";
  const testing::ProcessResult result = Run("127.0.0.1\\ZUTRITT", "EventMonths=0\r\nVisitorMonths=0\r\n");
  EXPECT_EQ(result.status, 0) << log_;
  EXPECT_NE(log_.find(" SQL Server instance 'ZUTRITT' on '127.0.0.1' listens on TCP port " +
                      std::to_string(server.port()) + "."),
            std::string::npos)
      << log_;
  EXPECT_EQ(server.logins().size(), 2u);
  // Both purges off: nothing is sent, nothing counted.
  EXPECT_TRUE(server.batches().empty());
  EXPECT_EQ(log_.find(" Total "), std::string::npos) << log_;
}

// What a site sees when the server answers the purges' statements in its ways: the counts
// of the statements themselves, the numbers ADO gave each class of failure with the
// server's own words, a command that outlasts the timeout, a connection that breaks.
TEST_F(SqlServerJob, EachAnswerOfTheServerIsLoggedWithItsCountOrNumber) {
  struct Case {
    const char* what;
    TdsReply events;  // the answer to the event purge's DELETE; the visitor purge deletes 1 each
    const char* extra;
    int status;
    std::string line;  // what the log must hold
  };
  using std::chrono::milliseconds;
  const Case cases[] = {
      {"a trigger counts first", TdsReply::Rows(7, 99), "", 0, " Total Events Deleted 7\r\n"},
      {"a trigger counts, the statement none", TdsReply::Rows(0, 5), "", 0, " Total Events Deleted 0\r\n"},
      {"nothing to delete", TdsReply::Rows(0), "", 0, " Total Events Deleted 0\r\n"},
      {"permission", TdsReply::Fail(229, "The DELETE permission was denied on the object 'Log'.", 14, 5), "", 1,
       "Error # -2147217911 - The DELETE permission was denied on the object 'Log'."},
      {"deadlock",
       TdsReply::Fail(1205, "Transaction (Process ID 53) was deadlocked on lock resources with another process.", 13,
                      51),
       "", 1, "Error # -2147467259 - Transaction (Process ID 53) was deadlocked"},
      {"lock timeout", TdsReply::Fail(1222, "Lock request time out period exceeded.", 16, 56), "", 1,
       "Error # -2147467259 - Lock request time out period exceeded."},
      {"log full", TdsReply::Fail(9002, "The transaction log for database 'Zutritt' is full.", 17, 4), "", 1,
       "Error # -2147467259 - The transaction log for database 'Zutritt' is full."},
      {"duplicate key", TdsReply::Fail(2627, "Violation of PRIMARY KEY constraint 'PK_Log'.", 14, 1), "", 1,
       "Error # -2147217873 - Violation of PRIMARY KEY constraint 'PK_Log'."},
      {"missing table", TdsReply::Fail(208, "Invalid object name 'Log'.", 16, 1), "", 1,
       "Error # -2147217865 - Invalid object name 'Log'."},
      {"syntax", TdsReply::Fail(102, "Incorrect syntax near 'Log'.", 15, 1), "", 1,
       "Error # -2147217900 - Incorrect syntax near 'Log'."},
      {"date out of range",
       TdsReply::Fail(242, "La conversion d'un type de données varchar en type de données datetime a créé une valeur "
                           "hors limites.", 16, 3),
       "", 1, "Error # -2147217913 - La conversion d'un type de données varchar"},
      {"command timeout", TdsReply::Rows(5).After(milliseconds(20000)), "DatabaseTimeout=1\r\n", 1,
       "Error # -2147217871 - "},
      {"connection lost", TdsReply::Drop(), "", 1, "Error # -2147467259 - The connection to SQL Server '127.0.0.1,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TdsStandIn::Options options;
    options.batch = [&](const std::string& sql) {
      return sql.find("[Log]") != std::string::npos ? c.events : TdsReply::Rows(1, 40);
    };
    TdsStandIn server(options);
    const auto start = std::chrono::steady_clock::now();
    const testing::ProcessResult result = Run("127.0.0.1," + std::to_string(server.port()), c.extra);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result.status, c.status) << log_;
    EXPECT_NE(log_.find(c.line), std::string::npos) << log_;
    EXPECT_NE(log_.find(" Total Visitor Deleted 1\r\n"), std::string::npos) << log_;
    EXPECT_EQ(log_.find("Unknown error"), std::string::npos) << log_;
  }
}

TEST_F(SqlServerJob, AHostNameTheNameServiceNeverAnswersFailsWithinTheConnectTimeout) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the job runs with a resolver configuration of its own";
  // A name server that never answers: a UDP socket of this test that reads nothing.
  const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(53);
  inet_pton(AF_INET, "127.0.0.153", &address.sin_addr);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << "127.0.0.153:53 is taken";
  testing::TempFolder etc;
  testing::WriteWholeFile(etc / "resolv.conf", "nameserver 127.0.0.153\noptions timeout:5 attempts:2\n");
  // The job alone sees that configuration, in a mount namespace of its own.
  auto with_silent_dns = [&](const std::string& folder) {
    return testing::RunCommand("cd / && timeout 60 unshare -m sh -c " +
                               testing::ShellQuote("mount --bind " + testing::ShellQuote(etc / "resolv.conf") +
                                                   " /etc/resolv.conf && exec " +
                                                   testing::ShellQuote(folder + "/scourex")) +
                               " 2>&1");
  };
  const auto start = std::chrono::steady_clock::now();
  const testing::ProcessResult result = Run("zutritt-db.example.com;Connect Timeout=2", "", with_silent_dns);
  const auto waited = std::chrono::steady_clock::now() - start;
  close(silent);
  EXPECT_EQ(result.status, 1) << result.out;
  // Both opens, each within its 2 seconds rather than the resolver's 10.
  EXPECT_LT(waited, std::chrono::seconds(8));
  const std::string said = "the name service (DNS) did not answer for the host 'zutritt-db.example.com' within the "
                           "connect timeout of 2 seconds";
  EXPECT_NE(log_.find(said), std::string::npos) << log_;
  EXPECT_EQ(log_.find("Unknown host"), std::string::npos) << log_;
}

TEST_F(SqlServerJob, ARunFindingTheInstallationHeldSaysWhichProcessHoldsItSinceWhen) {
  TdsStandIn server({});
  auto local = [](std::time_t t) {
    char text[32];
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return std::string(text);
  };
  const std::string before = local(std::time(nullptr) - 2);
  // Another process holds the installation as a stuck run would.
  const std::string holder =
      testing::RunCommand("flock -x -n " + testing::ShellQuote(dir_.path()) + " sleep 30 >/dev/null 2>&1 & echo $!").out;
  const pid_t pid = std::stoi(holder);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the lock taken
  const testing::ProcessResult result = Run("127.0.0.1," + std::to_string(server.port()));
  kill(pid, SIGTERM);
  EXPECT_EQ(result.status, 1) << log_;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log_, m,
                                std::regex("Another run of Scourex is working on the installation '[^']*': its "
                                           "databases are left to that run\\. It is held by process (\\d+), running "
                                           "since (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\\.")))
      << log_;
  EXPECT_EQ(m[1].str(), std::to_string(pid));
  EXPECT_GE(m[2].str(), before);
  EXPECT_LE(m[2].str(), local(std::time(nullptr)));
  EXPECT_TRUE(server.logins().empty());
}

}  // namespace
}  // namespace scourex
