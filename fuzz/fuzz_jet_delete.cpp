// libFuzzer: any bytes as a database file, changed in memory. DELETE statements with
// conditions on every user table (index upkeep, relationships enforced or cascaded, the
// journal written and played back through small statement memory) may fail only with
// jet::Error, and a failed statement leaves the bytes exactly as they were.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jet/memory_env.h"
#include "jet/session.h"

namespace {

const std::string kPath = "/fuzz/site.mdb";

// The statements for one table: rows by a condition on a column, rows whose other
// column is set, then all of them (where relationships decide).
std::vector<std::string> StatementsFor(const std::string& table, const std::vector<jet::ColumnInfo>& columns,
                                       std::uint8_t pick) {
  std::vector<std::string> out;
  if (columns.empty()) return out;
  const std::string first = "[" + columns[pick % columns.size()].name + "]";
  const std::string last = "[" + columns[(pick / 7) % columns.size()].name + "]";
  const std::string from = "DELETE FROM [" + table + "] WHERE ";
  out.push_back(from + first + " IS NULL OR " + first + " < " + std::to_string(pick % 50));
  out.push_back(from + last + " IS NOT NULL AND " + first + " LIKE '" + static_cast<char>('A' + pick % 26) + "*'");
  out.push_back("DELETE FROM [" + table + "]");
  return out;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  jet::os::MemoryEnv env;
  env.Put(kPath, std::string(reinterpret_cast<const char*>(data), size));
  std::unique_ptr<jet::Session> session;
  // Without a password, then with the one the site fixtures carry.
  for (const char* password : {"", "Morvek3"}) {
    try {
      session = jet::Session::Open(kPath, {.password = password, .read_write = true, .change_memory = 8192, .env = &env});
      break;
    } catch (const jet::Error&) {
    }
  }
  if (!session) return 0;
  std::vector<std::string> statements;
  try {
    jet::Database& db = session->database();
    std::size_t n = 0;
    for (const std::string& name : db.TableNames(false)) {
      if (++n > 8) break;
      jet::Table* table = db.GetTable(name);
      if (table == nullptr) continue;
      for (auto& s : StatementsFor(name, table->Columns(), data[n % size])) statements.push_back(std::move(s));
    }
  } catch (const jet::Error&) {
    return 0;
  }
  for (const std::string& sql : statements) {
    const std::string before = *env.Get(kPath);
    try {
      session->Execute(sql);
    } catch (const jet::Error&) {
      Check(*env.Get(kPath) == before);
    }
    Check(env.Get(kPath + "-journal") == nullptr);
  }
  return 0;
}
