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
  for (auto [text, where] : {std::pair{"Password=Secr3t;Tail;x=1", "its 2nd item"},
                             std::pair{"Password='Secr3t", "its 1st item"}}) {
    const std::string what = ErrorOf([&] { ConnectionText::Parse(text); }).what();
    EXPECT_EQ(what.find("Secr3t"), std::string::npos) << what;
    EXPECT_NE(what.find(where), std::string::npos) << what;
  }
  EXPECT_TRUE(ConnectionText::Parse("").items().empty());
  EXPECT_TRUE(ConnectionText::Parse(" ; ;; ").items().empty());
}

TEST(ProviderClassification, RecognisesEachFamily) {
  const std::pair<std::optional<std::string>, ProviderKind> cases[] = {
      {"Microsoft.Jet.OLEDB.4.0", ProviderKind::kJet},      {"microsoft.jet.oledb.3.51", ProviderKind::kJet},
      {"Microsoft.Jet.OLEDB", ProviderKind::kJet},          {"Microsoft.Jet.OLEDBX", ProviderKind::kUnknown},
      {"sqloledb.1", ProviderKind::kSqlServer},             {"SQLNCLI", ProviderKind::kSqlServer},
      {"sqlncli11", ProviderKind::kSqlServer},              {"MSOLEDBSQL19", ProviderKind::kSqlServer},
      {"MSOLEDBSQL", ProviderKind::kSqlServer},             {"MSDASQL", ProviderKind::kOdbc},
      {std::nullopt, ProviderKind::kOdbc},                  {" ", ProviderKind::kOdbc},
      {"Microsoft.ACE.OLEDB.12.0", ProviderKind::kUnknown}, {"SQLNCLI12", ProviderKind::kUnknown},
      {"SQLNCLI11.", ProviderKind::kUnknown},               {"msdasql.1", ProviderKind::kOdbc}};
  for (const auto& [name, kind] : cases) EXPECT_EQ(ClassifyProvider(name), kind) << name.value_or("(none)");
  // The versions data-link files write name the same providers.
  for (auto [written, known] : {std::pair{"SQLOLEDB.1", "SQLOLEDB"}, std::pair{"sqlncli.1", "SQLNCLI"},
                                std::pair{"SQLNCLI10.1", "SQLNCLI10"}, std::pair{" SqlNcli11.1 ", "SQLNCLI11"},
                                std::pair{"MSOLEDBSQL.1", "MSOLEDBSQL"}, std::pair{"MSOLEDBSQL19.1", "MSOLEDBSQL19"},
                                std::pair{"MSOLEDBSQL19.x", ""}}) {
    EXPECT_EQ(KnownProvider(written), known) << written;
  }
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
