#include "jet/integrity.h"

#include <set>
#include <unordered_set>

namespace jet {
namespace {

void CheckIndex(Table& table, const IndexInfo& index, const std::unordered_set<RowId>& rows,
                std::vector<std::string>* problems) {
  const std::string where = "Index '" + index.name + "' of table '" + table.Name() + "'";
  std::set<RowId> seen;
  std::string last;
  bool first = true, ordered = true, twice = false;
  std::size_t gone = 0;
  table.WalkIndex(index, [&](RowId id, const std::string& key) {
    if (!first && key < last) ordered = false;
    last = key;
    first = false;
    if (!seen.insert(id).second) twice = true;
    if (rows.count(id) == 0) ++gone;
    return true;
  });
  if (!ordered) problems->push_back(where + ": entries out of key order");
  if (twice) problems->push_back(where + ": a row has two entries");
  if (gone > 0) problems->push_back(where + ": " + std::to_string(gone) + " entries for rows that do not exist");
  if (!index.ignore_nulls && seen.size() != rows.size())
    problems->push_back(where + ": " + std::to_string(seen.size()) + " entries for " + std::to_string(rows.size()) +
                        " rows");
}

}  // namespace

std::vector<std::string> CheckIntegrity(Table& table) {
  std::vector<std::string> problems;
  try {
    std::unordered_set<RowId> rows;
    table.Scan(std::vector<bool>(table.Columns().size(), false), [&](RowId id, const Row&) {
      rows.insert(id);
      return true;
    });
    if (table.RecordedRowCount() != rows.size())
      problems.push_back("Table '" + table.Name() + "': " + std::to_string(rows.size()) + " rows, " +
                         std::to_string(table.RecordedRowCount()) + " recorded");
    for (const IndexInfo& index : table.Indexes()) CheckIndex(table, index, rows, &problems);
  } catch (const Error& e) {
    problems.push_back("Table '" + table.Name() + "': " + e.what());
  }
  return problems;
}

std::vector<std::string> CheckIntegrity(Database& db) {
  std::vector<std::string> problems;
  for (const auto& name : db.TableNames()) {
    Table* table = db.GetTable(name);
    if (table == nullptr) continue;
    std::vector<std::string> more = CheckIntegrity(*table);
    problems.insert(problems.end(), more.begin(), more.end());
  }
  return problems;
}

}  // namespace jet
