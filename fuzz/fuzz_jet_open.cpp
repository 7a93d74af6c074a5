// libFuzzer: any bytes as a database file. Opening, listing, scanning every table (system
// ones too), reading rows back by id, walking every index and reading relationships may
// fail only with a jet::Error that names the file: damage, not a Jet file, unsupported, or a
// wrong password.

#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/database.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    auto db = jet::Database::OpenBytes("fuzz.mdb", std::string(reinterpret_cast<const char*>(data), size),
                                       {.password = ""});
    for (const auto& name : db->TableNames(true)) {
      jet::Table* table = db->GetTable(name);
      if (table == nullptr) continue;
      std::size_t rows = 0;
      jet::RowId last;
      table->Scan({}, [&](jet::RowId id, const jet::Row&) {
        last = id;
        return ++rows < 100000;
      });
      if (rows > 0) table->ReadRow(last);
      for (const auto& index : table->Indexes()) table->IndexRowIds(index);
    }
    db->Relationships();
  } catch (const jet::Error& e) {
    const jet::ErrorCode c = e.code();
    if (std::string(e.what()).find("fuzz.mdb") == std::string::npos ||
        (c != jet::ErrorCode::Corrupt && c != jet::ErrorCode::NotJet && c != jet::ErrorCode::Unsupported &&
         c != jet::ErrorCode::WrongPassword))
      __builtin_trap();
  }
  return 0;
}
