#include "db/odbc_diagnostics.h"

#include <gtest/gtest.h>

#include <tuple>

#include "db/error_numbers.h"

namespace scourex::db {
namespace {

// What the drivers the suite runs (FreeTDS against the stand-in, SQLite) never report.
TEST(DiagnosticClassification, FromSqlStateNativeNumberAndWords) {
  const std::tuple<const char*, long, const char*, long> cases[] = {
      {"08001", 0, "Unable to connect to data source", errnum::kGeneral},
      {"HY000", 0, "disk I/O error (10)", errnum::kGeneral},
      {"S1000", 0, "interrupted (9)", errnum::kTimeout},
      // SQL Server's own numbers mean something only from SQL Server.
      {"42000", 4060, "x", errnum::kCommandText},
  };
  for (const auto& [state, native, message, number] : cases)
    EXPECT_EQ(ClassifyDiagnostic({state, native, message}, false), number) << state << " " << message;
}

TEST(DiagnosticMessages, LoseTheirTagsAndRepeatedCode) {
  EXPECT_EQ(CleanDriverMessage("[unixODBC][FreeTDS][SQL Server]Login failed for user 'x'.", 18456),
            "Login failed for user 'x'.");
  EXPECT_EQ(CleanDriverMessage("  [unixODBC][Driver Manager] Data source name not found ", 0),
            "Data source name not found");
  EXPECT_EQ(CleanDriverMessage("no such table: t (1)", 1), "no such table: t");
  EXPECT_EQ(CleanDriverMessage("value (1)", 2), "value (1)");
  EXPECT_EQ(CleanDriverMessage("[unclosed tag", 0), "[unclosed tag");
}

TEST(DiagnosticErrors, MostSpecificNumberAllMessagesNoSecrets) {
  const std::vector<DiagRecord> records = {
      {"01000", 5701, "[FreeTDS][SQL Server]Changed database context to 'x'."},
      {"08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
      {"28000", 18456, "[FreeTDS][SQL Server]Login failed for user 'sa'."},
      {"08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
  };
  const Error error = ErrorFromDiagnostics(records, {{"Secr3t!"}, true, "connecting to SQL Server 'h'", "", ""});
  EXPECT_EQ(error.number(), errnum::kLoginFailed);
  EXPECT_EQ(error.description(), "Unable to connect to data source. Login failed for user 'sa'.");

  // A command's informational records (PRINT output) are not its cause.
  const Error command = ErrorFromDiagnostics(
      {{"01000", 0, "[x]printed"}, {"42S02", 208, "[x]Invalid object name 'T'."}}, DiagnosticContext{{}, true, "", "", ""});
  EXPECT_EQ(command.description(), "Invalid object name 'T'.");

  const Error general = ErrorFromDiagnostics(
      {{"IM002", 0, "[unixODBC][Driver Manager]Data source name not found (DSN=x;PWD=Secr3t!)"}},
      DiagnosticContext{{"Secr3t!"}, false, "connecting to ODBC data source 'x'", "", ""});
  EXPECT_EQ(general.number(), errnum::kGeneral);
  EXPECT_EQ(general.description(),
            "Data source name not found (DSN=x;PWD=***) (connecting to ODBC data source 'x')");

  const Error warnings_only = ErrorFromDiagnostics({{"01S00", 0, "[drv]Invalid attribute"}}, {});
  EXPECT_EQ(warnings_only.description(), "Invalid attribute");
  EXPECT_EQ(ErrorFromDiagnostics({{"HY000", 0, "[x]"}}, {}).description(),
            "The ODBC driver reported a failure without a message.");
}

}  // namespace
}  // namespace scourex::db
