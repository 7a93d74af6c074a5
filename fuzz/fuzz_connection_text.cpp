// Arbitrary connection texts through the parser and every mapping built on it (and the
// browser reply reader used for named instances): whatever the bytes, the layer either
// maps them or reports a scourex::Error.

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/error.h"
#include "db/connection_text.h"
#include "db/jet_backend.h"
#include "db/odbc_text.h"
#include "db/sql_browser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  using namespace scourex::db;
  // The same bytes as a SQL Server Browser reply, which comes from the network.
  TcpPortFromBrowserReply(input);
  try {
    const ConnectionText text = ConnectionText::Parse(input);
    ClassifyProvider(text.Get("Provider"));
    std::vector<std::string> secrets;
    for (const ConnectionItem& item : text.items()) secrets.push_back(item.value);
    ScrubSecrets(input, secrets);
    JetOptionsFromText(text, "", "");
    for (const std::vector<std::string>& drivers :
         {std::vector<std::string>{}, std::vector<std::string>{"FreeTDS"},
          std::vector<std::string>{"ODBC Driver 17 for SQL Server"}, std::vector<std::string>{"ODBC Driver 18 for SQL Server"}}) {
      for (bool on_windows : {false, true}) {
        try {
          MapSqlServerText(text, SqlServerDrivers{drivers, "/lib/tds.so", false, on_windows}, "", "");
        } catch (const scourex::Error&) {
        }
      }
    }
    MapOdbcText(text, "u", "p");
  } catch (const scourex::Error&) {
  }
  return 0;
}
