#include "db/connection_text.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "db/error_numbers.h"
#include "db/error_of.h"

namespace scourex::db {
namespace {

long ParseErrorNumber(const std::string& text) { return ErrorOf([&] { ConnectionText::Parse(text); }).number(); }

TEST(ConnectionTextParse, ReadsKeysAndValuesTheOleDbWay) {
  const ConnectionText text = ConnectionText::Parse(
      "  Provider = SQLOLEDB ;; data source=srv\\inst,1433;  ;Initial Catalog=  Acme Db  ;"
      "Password='a;b''c';User ID=\"x\"\"y\";Key==Name=v=w;Empty=;");
  EXPECT_EQ(text.Get("PROVIDER"), "SQLOLEDB");
  EXPECT_EQ(text.Get("Data Source"), "srv\\inst,1433");
  EXPECT_EQ(text.Get("initial catalog"), "Acme Db");
  EXPECT_EQ(text.Get("Password"), "a;b'c");
  EXPECT_EQ(text.Get("User ID"), "x\"y");
  EXPECT_EQ(text.Get("Key=Name"), "v=w");
  EXPECT_EQ(text.Get("Empty"), "");
  EXPECT_FALSE(text.Get("Missing").has_value());
  EXPECT_EQ(text.items().size(), 7u);
}

TEST(ConnectionTextParse, JobJetTextDropsTheSpaceBeforeDataSource) {
  const ConnectionText text = ConnectionText::Parse(
      "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=Morvek3 ;Data Source=/x/Orvanta.mdb");
  EXPECT_EQ(text.Get("Jet OLEDB:Database Password"), "Morvek3");
  EXPECT_EQ(text.Get("Data Source"), "/x/Orvanta.mdb");
  // Quoted values keep their spaces.
  EXPECT_EQ(ConnectionText::Parse("Password=' Morvek3 ' ;").Get("Password"), " Morvek3 ");
}

TEST(ConnectionTextParse, LastValueWinsExceptForProvider) {
  const ConnectionText text =
      ConnectionText::Parse("Provider=SQLOLEDB;Data Source=a;Provider=MSDASQL;data source=b");
  EXPECT_EQ(text.Get("Provider"), "SQLOLEDB");
  EXPECT_EQ(text.Get("Data Source"), "b");
  EXPECT_EQ(text.GetAny({"Server", "Data Source"}), "b");
}

TEST(ConnectionTextParse, OdbcBracesKeepSemicolonsAndStayInTheValue) {
  const ConnectionText text = ConnectionText::Parse("Driver={SQLite3};PWD={a;b}}c} ;Other={open;Next=1");
  EXPECT_EQ(text.Get("Driver"), "{SQLite3}");
  EXPECT_EQ(text.items()[0].quoting, ConnectionItem::Quoting::kBraced);
  EXPECT_EQ(text.Get("PWD"), "{a;b}}c}");
  // An opening brace that never closes is just a character.
  EXPECT_EQ(text.Get("Other"), "{open");
  EXPECT_EQ(text.Get("Next"), "1");
}

TEST(ConnectionTextParse, RejectsMalformedTextWithoutShowingValues) {
  for (const char* bad : {"Data Source=x;Password='Secr3t;", "Password=\"Secr3t", "Password='abc'def;x=1", "=value",
                          "Data Source=a;JustAWord"})
    EXPECT_EQ(ParseErrorNumber(bad), errnum::kBadConnectionText) << bad;
  // The description says where, never what.
  for (auto [text, where] : {std::pair{"Password=Secr3t;Tail;x=1", "item 2"}, std::pair{"Password='Secr3t", "'Password'"}}) {
    const std::string what = ErrorOf([&] { ConnectionText::Parse(text); }).what();
    EXPECT_EQ(what.find("Secr3t"), std::string::npos) << what;
    EXPECT_NE(what.find(where), std::string::npos) << what;
  }
  EXPECT_TRUE(ConnectionText::Parse("").items().empty());
  EXPECT_TRUE(ConnectionText::Parse(" ; ;; ").items().empty());
}

TEST(ProviderClassification, RecognisesEachFamily) {
  EXPECT_EQ(ClassifyProvider("Microsoft.Jet.OLEDB.4.0"), ProviderKind::kJet);
  EXPECT_EQ(ClassifyProvider("microsoft.jet.oledb.3.51"), ProviderKind::kJet);
  EXPECT_EQ(ClassifyProvider("Microsoft.Jet.OLEDB"), ProviderKind::kJet);
  EXPECT_EQ(ClassifyProvider("Microsoft.Jet.OLEDBX"), ProviderKind::kUnknown);
  for (const char* name : {"SQLOLEDB", "sqloledb.1", "SQLNCLI", "SQLNCLI10", "sqlncli11", "MSOLEDBSQL", "MSOLEDBSQL19"}) {
    EXPECT_EQ(ClassifyProvider(std::string(name)), ProviderKind::kSqlServer) << name;
  }
  EXPECT_EQ(ClassifyProvider("MSDASQL"), ProviderKind::kOdbc);
  EXPECT_EQ(ClassifyProvider(std::nullopt), ProviderKind::kOdbc);
  EXPECT_EQ(ClassifyProvider(" "), ProviderKind::kOdbc);
  EXPECT_EQ(ClassifyProvider("Microsoft.ACE.OLEDB.12.0"), ProviderKind::kUnknown);
}

TEST(OdbcQuoting, BracesOnlyWhatOdbcWouldMisread) {
  EXPECT_EQ(OdbcQuote("plain value"), "plain value");
  EXPECT_EQ(OdbcQuote("a;b"), "{a;b}");
  EXPECT_EQ(OdbcQuote("x}y"), "x}y");
  EXPECT_EQ(OdbcQuote("x}y;"), "{x}}y;}");
  EXPECT_EQ(OdbcQuote("{x"), "{{x}");
  EXPECT_EQ(OdbcQuote(" lead"), "{ lead}");
  EXPECT_EQ(OdbcQuote(""), "");
  // What OdbcQuote writes, the braced reading gives back.
  const ConnectionText round = ConnectionText::Parse("PWD=" + OdbcQuote("p}w;d") + ";X=1");
  EXPECT_EQ(round.Get("PWD"), "{p}}w;d}");
  EXPECT_EQ(round.Get("X"), "1");
}

TEST(SecretScrubbing, RemovesPasswordValuesAndEchoedSecrets) {
  EXPECT_EQ(ScrubSecrets("failed for DSN=x;UID=sa;PWD=Secr3t!;Server=y", {}), "failed for DSN=x;UID=sa;PWD=***;Server=y");
  EXPECT_EQ(ScrubSecrets("text 'Jet OLEDB:Database Password = Morvek3'", {}),
            "text 'Jet OLEDB:Database Password = ***'");
  EXPECT_EQ(ScrubSecrets("PWD={a;b}};c};rest", {}), "PWD=***;rest");
  EXPECT_EQ(ScrubSecrets("the password is wrong", {}), "the password is wrong");
  EXPECT_EQ(ScrubSecrets("user typed Secr3t! here and Secr3t! there", {"Secr3t!"}), "user typed *** here and *** there");
  EXPECT_TRUE(IsPasswordKey("Jet OLEDB:Database Password"));
  EXPECT_TRUE(IsPasswordKey(" pwd "));
  EXPECT_FALSE(IsPasswordKey("Persist Security Info"));
}

}  // namespace
}  // namespace scourex::db
