#include "db/sql_server_driver.h"

#include <gtest/gtest.h>

namespace scourex::db {
namespace {

OdbcTarget OnWindows(const std::string& text, const std::vector<std::string>& drivers) {
  return MapSqlServerTextForWindows(ConnectionText::Parse(text), drivers, "", "");
}

TEST(WindowsSqlServerDriver, NewestMicrosoftDriverElseTheBuiltInOne) {
  const std::string text = "Provider=SQLOLEDB;Data Source=db1\\SITE;Initial Catalog=Orvanta;User ID=sa;Password=x";
  EXPECT_EQ(OnWindows(text, {"SQL Server", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"})
                .connect_text.rfind("Driver=ODBC Driver 18 for SQL Server;Server=db1\\SITE;", 0),
            0u);
  EXPECT_EQ(OnWindows(text, {"SQL Server", "ODBC Driver 17 for SQL Server"})
                .connect_text.rfind("Driver=ODBC Driver 17 for SQL Server;", 0),
            0u);
  // Without them, the driver every Windows ships, with the same keywords and no port
  // lookup of ours (it finds the named instance itself), and without the trust keyword it
  // predates, wherever that would have stood.
  OdbcTarget builtin = OnWindows(text, {"SQL Server", "Microsoft Access Driver (*.mdb)"});
  EXPECT_EQ(builtin.connect_text, "Driver=SQL Server;Server=db1\\SITE;Database=Orvanta;UID=sa;PWD=x;Encrypt=no");
  EXPECT_EQ(OnWindows(text + ";Application Name=Scourex;TrustServerCertificate=no", {"SQL Server"}).connect_text,
            "Driver=SQL Server;Server=db1\\SITE;Database=Orvanta;UID=sa;PWD=x;Encrypt=no;APP=Scourex");
  EXPECT_EQ(builtin.secrets, std::vector<std::string>{"x"});
}

}  // namespace
}  // namespace scourex::db
