// The real binary in a temporary installation folder with DBType 2, reaching a TDS
// stand-in through unixODBC and the real FreeTDS driver: what the job sends, what its
// log says, and that no password shows anywhere.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "common/text_encoding.h"
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

  // Writes the options file in Windows-1252, as copied from a Windows site, and runs the job.
  testing::ProcessResult Run(const std::string& data_source, const std::string& extra = "") {
    testing::WriteWholeFile(dir_ / "Orvanta.ini",
                            "[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source=" + data_source +
                                ";User ID=sa;Password='" + kPasswordWindows1252 + "'\r\n" + extra);
    const testing::ProcessResult result = testing::RunJob(dir_.path());
    log_ = testing::ReadWholeFile(dir_ / "Scourex.log");
    for (const std::string& where : {result.out, log_}) {
      EXPECT_EQ(where.find("Pässwort"), std::string::npos) << where;
      EXPECT_EQ(where.find(kPasswordWindows1252), std::string::npos) << where;
    }
    return result;
  }

  // Writes `options` as the options file's bytes and runs the job; nothing of `secrets`
  // may show in the log or the job's output.
  testing::ProcessResult RunWith(const std::string& options, const std::vector<std::string>& secrets) {
    testing::WriteWholeFile(dir_ / "Orvanta.ini", options);
    const testing::ProcessResult result = testing::RunJob(dir_.path());
    log_ = testing::ReadWholeFile(dir_ / "Scourex.log");
    for (const std::string& where : {result.out, log_}) {
      for (const std::string& secret : secrets)
        EXPECT_EQ(where.find(secret), std::string::npos) << secret << ": " << where;
    }
    return result;
  }

  testing::TempFolder dir_;
  std::string log_;
};

// The options file as PowerShell's ">" and Notepad's "Unicode" save it: UTF-16 LE with its mark.
std::string Utf16Le(const std::string& utf8, bool marked = true) {
  std::string bytes = marked ? "\xFF\xFE" : "";
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Texts as sites paste them from data-link (.udl) files and connection dialogs, through
// FreeTDS to the stand-in: what connects, what is refused and how the log says it.
TEST_F(SqlServerJob, TextsAsDataLinkFilesWriteThem) {
  const std::string at = "Data Source=127.0.0.1,{port};";
  struct Case {
    std::string text;
    int status;
    std::string logged;  // a piece of the log
    std::function<void(const std::vector<testing::TdsLogin>&)> logins;
  };
  const auto none = [](const std::vector<testing::TdsLogin>& logins) { EXPECT_TRUE(logins.empty()); };
  const Case cases[] = {
      {"Provider=SQLNCLI11.1;" + at + "User ID=sa;Password=Kx7Secr3t", 0, "", {}},
      {"Provider=\"msoledbsql.1\";" + at + "User ID=sa;Password=Kx7Secr3t", 0, "", {}},
      {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=Kx7Secr3t;Initial Catalog=Zutritt;" + at +
           "Initial File Name=\"\";Server SPN=\"\";Integrated Security=\"\"",
       0, "", [](const std::vector<testing::TdsLogin>& logins) {
         for (const testing::TdsLogin& login : logins) {
           EXPECT_EQ(login.user_name, "sa");
           EXPECT_EQ(login.password, "Kx7Secr3t");
           EXPECT_EQ(login.database, "Zutritt");
           EXPECT_EQ(login.attach_file, "");
         }
       }},
      // The newest provider encrypts unless told otherwise, in any version.
      {"Provider=MSOLEDBSQL19.1;" + at + "User ID=sa;Password=Kx7Secr3t", 1,
       "-2147217805 - The connection text names the provider MSOLEDBSQL19, which encrypts and checks the server's "
       "certificate when the text says nothing about encryption",
       none},
      {"Provider=MSOLEDBSQL19.1;" + at + "User ID=sa;Password=Kx7Secr3t;TrustServerCertificate=True", 1, "",
       [](const std::vector<testing::TdsLogin>& logins) {
         for (const testing::TdsLogin& login : logins) EXPECT_EQ(login.prelogin_encryption, 0x01);
       }},
      {"Provider=MSOLEDBSQL19.1;" + at + "User ID=sa;Password=Kx7Secr3t;Use Encryption for Data=Optional", 0, "",
       [](const std::vector<testing::TdsLogin>& logins) {
         for (const testing::TdsLogin& login : logins) EXPECT_EQ(login.prelogin_encryption, 0x00);
       }},
      // A password with a semicolon, unquoted: a password and keywords nobody knows.
      {"Provider=SQLOLEDB;" + at + "User ID=sa;Password=Kx7Secr3t;pa=rt;Qv4z=Wm8Tail", 1,
       "-2147217805 - The connection text's 5th item is not a keyword this job can honour for SQL Server", none},
      {"Provider=SQLOLEDB;" + at + "User ID=sa;Password=Kx7Secr3t;Application Intent=ReadOnly", 1,
       "The connection text's 'Application Intent' asks for a read-only connection", none},
      // FreeTDS asks for the size in its login, and for 4096 bytes at least.
      {"Provider=SQLOLEDB;" + at + "User ID=sa;Password=Kx7Secr3t;Packet Size=8192", 0, "",
       [](const std::vector<testing::TdsLogin>& logins) {
         for (const testing::TdsLogin& login : logins) EXPECT_EQ(login.packet_size, 8192u);
       }},
      {"Provider=SQLOLEDB;" + at + "User ID=sa;Password=Kx7Secr3t;Packet Size=1024", 0, "",
       [](const std::vector<testing::TdsLogin>& logins) {
         for (const testing::TdsLogin& login : logins) EXPECT_EQ(login.packet_size, 4096u);
       }},
  };
  for (const Case& c : cases) {
    TdsStandIn server({});
    std::string text = c.text;
    text.replace(text.find("{port}"), 6, std::to_string(server.port()));
    const std::string options = "[Orvanta]\r\nDBType=2\r\nVisitorMonths=0\r\nSQL_Connect=" + text + "\r\n";
    const testing::ProcessResult result = RunWith(options, {"Kx7Secr3t", "'pa'", "Qv4z", "Wm8Tail"});
    EXPECT_EQ(result.status, c.status) << text << "\n" << log_;
    EXPECT_NE(log_.find(c.logged), std::string::npos) << text << "\n" << log_;
    EXPECT_EQ(log_.find("''"), std::string::npos) << text << "\n" << log_;
    if (c.status == 0) {
      EXPECT_EQ(server.logins().size(), 2u) << text;
    }
    if (c.logins) c.logins(server.logins());
    std::filesystem::remove(dir_ / "Scourex.log");
  }
}

// An options file saved by PowerShell is read; one that cannot be text is an error line
// naming it, and the job goes on without its settings.
TEST_F(SqlServerJob, OptionsFilesInUtf16AndOnesThatAreNoText) {
  TdsStandIn server({});
  const std::string options = "[Orvanta]\r\nDBType=2\r\nSQL_Connect=Provider=SQLOLEDB;Data Source=127.0.0.1," +
                              std::to_string(server.port()) + ";User ID=sa;Password=Kx7Secr3t\r\n";
  testing::ProcessResult result = RunWith(Utf16Le(options), {"Kx7Secr3t"});
  EXPECT_EQ(result.status, 0) << log_;
  EXPECT_EQ(server.logins().size(), 2u);

  std::filesystem::remove(dir_ / "Scourex.log");
  result = RunWith(Utf16Le(options, false), {"Kx7Secr3t"});
  EXPECT_EQ(result.status, 1) << log_;
  EXPECT_NE(log_.find(" *** Error #  321 - The options file '" + dir_ / "Orvanta.ini" + "' is not text"),
            std::string::npos)
      << log_;
  EXPECT_NE(log_.find(" Start Application Scourex "), std::string::npos) << log_;
  EXPECT_EQ(server.logins().size(), 2u);
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

}  // namespace
}  // namespace scourex
