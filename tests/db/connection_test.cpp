// The connection object end to end: SQLite through unixODBC stands in for a database
// server, a closed local port for an unreachable SQL Server.

#include "db/connection.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "db/error_numbers.h"
#include "db/error_of.h"
#include "db/odbc_backend.h"
#include "support/process.h"

namespace scourex::db {
namespace {

class SqliteConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> drivers = InstalledOdbcDrivers();
    ASSERT_NE(std::find(drivers.begin(), drivers.end(), "SQLite3"), drivers.end())
        << "unixODBC has no SQLite3 driver registered (libsqliteodbc)";
    database_ = dir_ / "x.db";
    connection_ = CreateConnection();
    connection_->Open(Text(), "", "");
    connection_->Execute("CREATE TABLE Visitors (Id INTEGER PRIMARY KEY, Name TEXT NOT NULL, Stamp INTEGER)", nullptr);
    for (int i = 1; i <= 5; ++i) {
      connection_->Execute("INSERT INTO Visitors (Id, Name, Stamp) VALUES (" + std::to_string(i) + ", 'v" +
                               std::to_string(i) + "', " + std::to_string(i) + ")",
                           nullptr);
    }
  }

  std::string Text(const std::string& extra = "") const { return "Driver=SQLite3;Database=" + database_ + extra; }

  testing::TempFolder dir_;
  std::string database_;
  std::unique_ptr<Connection> connection_;
};

TEST_F(SqliteConnection, DeletesCountTheirRowsAndResultSetsAreReleasedAtOnce) {
  long affected = -7;
  connection_->SetCommandTimeout(5);
  connection_->Execute("DELETE FROM Visitors WHERE Stamp < 3", &affected);
  EXPECT_EQ(affected, 2);
  connection_->Execute("DELETE FROM Visitors WHERE Stamp < 3", &affected);
  EXPECT_EQ(affected, 0);
  connection_->Execute("SELECT * FROM Visitors", &affected);
  EXPECT_EQ(affected, -1);
  // A cursor left open would hold SQLite's read lock and make this writer fail as busy.
  auto writer = CreateConnection();
  writer->Open(Text(";Timeout=200"), "", "");
  writer->Execute("DELETE FROM Visitors WHERE Id = 3", &affected);
  EXPECT_EQ(affected, 1);
  connection_->Execute("DELETE FROM Visitors", &affected);
  EXPECT_EQ(affected, 2);
}

TEST_F(SqliteConnection, CommandErrorsAreClassifiedAndClean) {
  Error missing = ErrorOf([&] { connection_->Execute("DELETE FROM Nope WHERE Id = 1", nullptr); });
  EXPECT_EQ(missing.number(), errnum::kUnknownTable);
  EXPECT_NE(missing.description().find("Nope"), std::string::npos) << missing.description();
  EXPECT_EQ(missing.description().find('['), std::string::npos) << missing.description();

  Error column = ErrorOf([&] { connection_->Execute("DELETE FROM Visitors WHERE NoSuchColumn = 1", nullptr); });
  EXPECT_EQ(column.number(), errnum::kUnknownColumn) << column.description();

  Error syntax = ErrorOf([&] { connection_->Execute("DELEET FROM Visitors", nullptr); });
  EXPECT_EQ(syntax.number(), errnum::kCommandText) << syntax.description();

  Error duplicate = ErrorOf([&] { connection_->Execute("INSERT INTO Visitors (Id, Name) VALUES (1, 'x')", nullptr); });
  EXPECT_EQ(duplicate.number(), errnum::kIntegrity) << duplicate.description();

  // The connection stays usable after a failed command.
  long affected = 0;
  connection_->Execute("DELETE FROM Visitors WHERE Id = 2", &affected);
  EXPECT_EQ(affected, 1);
}

TEST_F(SqliteConnection, ReopeningClosesTheFormerDatabase) {
  const std::string second = dir_ / "y.db";
  connection_->Open("Driver=SQLite3;Database=" + second, "", "");
  Error error = ErrorOf([&] { connection_->Execute("DELETE FROM Visitors", nullptr); });
  EXPECT_EQ(error.number(), errnum::kUnknownTable);
  // A failed open leaves it closed, not on the former database.
  ErrorOf([&] { connection_->Open("Driver=NoSuchDriver;Database=" + second, "", ""); });
  Error closed = ErrorOf([&] { connection_->Execute("SELECT 1", nullptr); });
  EXPECT_EQ(closed.number(), errnum::kGeneral);
}

TEST(ConnectionUse, FailsClearlyBeforeOpenAndOnBadSettings) {
  auto connection = CreateConnection();
  Error closed = ErrorOf([&] { connection->Execute("DELETE FROM Visitors", nullptr); });
  EXPECT_EQ(closed.number(), errnum::kGeneral);
  EXPECT_NE(closed.description().find("not open"), std::string::npos);

  EXPECT_EQ(ErrorOf([&] { connection->SetCommandTimeout(-1); }).number(), errnum::kBadArgument);
  connection->SetCommandTimeout(0);

  Error empty = ErrorOf([&] { connection->Open("  ", "", ""); });
  EXPECT_EQ(empty.number(), errnum::kGeneral);
  EXPECT_NE(empty.description().find("empty"), std::string::npos);

  Error provider = ErrorOf([&] { connection->Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=a.accdb", "", ""); });
  EXPECT_EQ(provider.number(), errnum::kProviderNotFound);
  EXPECT_NE(provider.description().find("The provider named in the connection text is not supported"),
            std::string::npos);
  EXPECT_EQ(provider.description().find("ACE"), std::string::npos) << "a value of the text is quoted";
}

TEST(ConnectionUse, UnknownDriversAndDataSourcesFailWithoutPasswords) {
  auto connection = CreateConnection();
  Error driver = ErrorOf([&] { connection->Open("Driver=NoSuchDriver;Database=/tmp/none.db;PWD=Secr3t!", "", ""); });
  EXPECT_EQ(driver.number(), errnum::kGeneral);
  EXPECT_NE(driver.description().find("NoSuchDriver"), std::string::npos) << driver.description();
  EXPECT_EQ(driver.description().find("Secr3t!"), std::string::npos) << driver.description();

  Error dsn = ErrorOf([&] { connection->Open("Provider=MSDASQL;DSN=NoSuchDsn", "u", "Secr3t!"); });
  EXPECT_EQ(dsn.number(), errnum::kGeneral);
  EXPECT_NE(dsn.description().find("NoSuchDsn"), std::string::npos) << dsn.description();
  EXPECT_EQ(dsn.description().find("Secr3t!"), std::string::npos) << dsn.description();
}

TEST(ConnectionUse, JetTextsNameTheFileAndHideThePassword) {
  auto connection = CreateConnection();
  Error error = ErrorOf([&] {
    connection->Open("Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=Morvek3 ;Data Source=/x/Orvanta.mdb",
                     "", "");
  });
  EXPECT_EQ(error.number(), errnum::kGeneral);
  EXPECT_NE(error.description().find("/x/Orvanta.mdb"), std::string::npos) << error.description();
  EXPECT_EQ(error.description().find("Morvek3"), std::string::npos) << error.description();
}

}  // namespace
}  // namespace scourex::db
