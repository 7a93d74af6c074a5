// Arbitrary bytes as a command against a small in-memory database: the SQL layer may
// refuse them with a jet::Error, never crash, hang or leak.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "../tests/jet/sql/memory_schema.h"
#include "jet/error.h"
#include "jet/sql.h"

namespace {

void Fill(jet::sqltest::MemorySchema& schema) {
  using jet::ColumnType;
  using jet::Value;
  auto& holders = schema.Add("CRDHLD", {{"ID", ColumnType::Long, true},
                                        {"Type", ColumnType::Byte},
                                        {"Valid", ColumnType::Boolean},
                                        {"From_Date", ColumnType::DateTime},
                                        {"Name", ColumnType::Text},
                                        {"Money", ColumnType::Currency},
                                        {"Ratio", ColumnType::Double},
                                        {"Amount", ColumnType::Numeric},
                                        {"Key", ColumnType::Guid},
                                        {"Photo", ColumnType::Ole}});
  holders.Add({Value::Int(1), Value::Int(0), Value::Bool(false), jet::sqltest::Date(2026, 9, 1), Value::Str("Ann"),
               Value::Money(12345), Value::Dbl(0.5), Value::Dec(-150, 2), Value::GuidValue(std::string(16, '\x01')),
               Value::Bytes("\x89PNG")});
  holders.Add({Value::Int(2), Value::Null(), Value::Bool(true), Value::Null(), Value::Str("b\xC3\xA9"), Value::Null(),
               Value::Dbl(-1e300), Value::Null(), Value::Null(), Value::Null()});
  holders.Add({Value::Int(3), Value::Int(1), Value::Null(), jet::sqltest::Date(1899, 12, 29, 6), Value::Null(),
               Value::Money(INT64_MIN), Value::Float(0.1f), Value::Dec(1, 28), Value::Null(), Value::Null()});
  auto& cards = schema.Add("CARD", {{"ID", ColumnType::Long, true}, {"Owner", ColumnType::Long}});
  for (int k = 1; k <= 4; ++k) cards.Add({Value::Int(k), k == 4 ? Value::Null() : Value::Int(k)});
  schema.Add("Log", {{"Date", ColumnType::DateTime}, {"Event", ColumnType::Memo}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  jet::sqltest::MemorySchema schema;
  Fill(schema);
  std::string_view command(reinterpret_cast<const char*>(data), size);
  try {
    jet::sql::Execute(schema, command);
  } catch (const jet::Error&) {
    // Refusals are expected; only crashes and sanitizer reports are findings.
  }
  return 0;
}
