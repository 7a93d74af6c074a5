#include "index_big_tree.h"

#include <random>

#include "../support.h"
#include "jet/create/database_writer.h"

namespace index_test {
namespace {

jet::create::ColumnSpec Col(const char* name, jet::ColumnType type, int length = 0) {
  jet::create::ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

jet::create::IndexSpec Idx(const char* name, const char* column, bool primary = false) {
  jet::create::IndexSpec i;
  i.name = name;
  i.columns = {column};
  i.primary = primary;
  i.unique = primary;
  return i;
}

BigTreeFile Build() {
  BigTreeFile out;
  out.rows = 12000;
  jet::testing::TempDir dir;
  std::string path = (dir.path() / "big.mdb").string();
  jet::create::DatabaseWriter db;
  std::vector<jet::create::ColumnSpec> columns = {Col("ID", jet::ColumnType::Long), Col("When", jet::ColumnType::DateTime),
                                                  Col("Path", jet::ColumnType::Text, 120),
                                                  Col("Group", jet::ColumnType::Long)};
  std::vector<jet::create::IndexSpec> indexes = {Idx("PrimaryKey", "ID", true), Idx("When", "When"), Idx("Path", "Path"),
                                                 Idx("Group", "Group")};
  auto& t = db.AddTable("Event", columns, indexes);
  db.AddTable("Empty", columns, indexes);
  std::mt19937 gen(5);
  for (std::size_t k = 0; k < out.rows; ++k) {
    std::string path_text;
    for (int n = 0; n < 10; ++n) path_text += "/" + std::to_string(gen() % 10000000);
    t.Append({jet::Value::Int(static_cast<int>(k) * 2 + 1), jet::Value::DateValue(40000.0 + static_cast<double>(k) / 97.0),
              jet::Value::Str(path_text), jet::Value::Int(static_cast<int>(gen() % 30))});
  }
  db.Write(path);
  out.bytes = jet::testing::ReadAll(path);
  return out;
}

}  // namespace

const BigTreeFile& BigTree() {
  static const BigTreeFile file = Build();
  return file;
}

}  // namespace index_test
