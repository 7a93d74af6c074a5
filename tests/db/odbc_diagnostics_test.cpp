#include "db/odbc_diagnostics.h"

#include <gtest/gtest.h>

#include "db/error_numbers.h"

namespace scourex::db {
namespace {

TEST(DiagnosticClassification, FromSqlStateAndFromWordsForHy000) {
  struct Case {
    const char* state;
    const char* message;
    long number;
  };
  const Case cases[] = {
      {"28000", "[FreeTDS][SQL Server]Login failed for user 'sa'.", errnum::kLoginFailed},
      {"HYT00", "Timeout expired", errnum::kTimeout},
      {"42S02", "Invalid object name 'Visitors'.", errnum::kUnknownTable},
      {"42S22", "Invalid column name 'X'.", errnum::kUnknownColumn},
      {"42000", "Incorrect syntax near 'FORM'.", errnum::kCommandText},
      {"23000", "The DELETE statement conflicted with the REFERENCE constraint", errnum::kIntegrity},
      {"08001", "Unable to connect to data source", errnum::kGeneral},
      {"HY000", "no such table: Visitors (1)", errnum::kUnknownTable},
      {"HY000", "near \"DELET\": syntax error (1)", errnum::kCommandText},
      {"HY000", "FOREIGN KEY constraint failed (19)", errnum::kIntegrity},
      {"HY000", "disk I/O error (10)", errnum::kGeneral},
      {"S1000", "interrupted (9)", errnum::kTimeout},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyDiagnostic({c.state, 0, c.message}), c.number) << c.state << " " << c.message;
  }
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

TEST(DiagnosticClassification, SqlServerNativeErrorsDecideBeforeTheSqlState) {
  // FreeTDS reports a refused login before its SQLSTATE table applies.
  EXPECT_EQ(ClassifyDiagnostic({"42000", 18456, "Login failed for user 'sa'."}, true), errnum::kLoginFailed);
  EXPECT_EQ(ClassifyDiagnostic({"42000", 4060, "Cannot open database \"x\"."}, true), errnum::kLoginFailed);
  EXPECT_EQ(ClassifyDiagnostic({"22007", 242, "out-of-range value"}, true), errnum::kConversion);
  EXPECT_EQ(ClassifyDiagnostic({"42000", 208, "Invalid object name 'T'."}, true), errnum::kUnknownTable);
  // Other drivers' native codes mean something else.
  EXPECT_EQ(ClassifyDiagnostic({"42000", 4060, "x"}, false), errnum::kCommandText);
  EXPECT_EQ(ClassifyDiagnostic({"42000", 1, "x"}, true), errnum::kCommandText);
}

TEST(DiagnosticErrors, MostSpecificNumberAllMessagesNoSecrets) {
  const std::vector<DiagRecord> records = {
      {"01000", 5701, "[FreeTDS][SQL Server]Changed database context to 'x'."},
      {"08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
      {"28000", 18456, "[FreeTDS][SQL Server]Login failed for user 'sa'."},
      {"08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
  };
  DiagnosticContext connecting{{"Secr3t!"}, true, "connecting to SQL Server 'h'", ""};
  const Error error = ErrorFromDiagnostics(records, connecting);
  EXPECT_EQ(error.number(), errnum::kLoginFailed);
  EXPECT_EQ(error.description(), "Unable to connect to data source. Login failed for user 'sa'.");

  // A failed connection keeps the driver's informational records: they hold the cause.
  connecting.hint = "Kerberos hint.";
  const Error cause = ErrorFromDiagnostics({{"08001", 0, "[FreeTDS][SQL Server]Unable to connect to data source"},
                                            {"01000", 20013, "[FreeTDS][SQL Server]Unknown host machine name."},
                                            {"01000", 20002, "[FreeTDS][SQL Server]Adaptive Server connection failed"}},
                                           connecting);
  EXPECT_EQ(cause.number(), errnum::kGeneral);
  EXPECT_EQ(cause.description(),
            "Unable to connect to data source. Unknown host machine name. Adaptive Server connection failed "
            "(connecting to SQL Server 'h') Kerberos hint.");
  // A command's informational records (PRINT output) are not its cause.
  const Error command = ErrorFromDiagnostics(
      {{"01000", 0, "[x]printed"}, {"42S02", 208, "[x]Invalid object name 'T'."}}, DiagnosticContext{{}, true, "", ""});
  EXPECT_EQ(command.description(), "Invalid object name 'T'.");

  const Error general = ErrorFromDiagnostics(
      {{"IM002", 0, "[unixODBC][Driver Manager]Data source name not found (DSN=x;PWD=Secr3t!)"}},
      DiagnosticContext{{"Secr3t!"}, false, "connecting to ODBC data source 'x'", ""});
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
