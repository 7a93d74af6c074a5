#include "jet/integrity.h"

#include <set>
#include <unordered_set>
#include <utility>

#include "jet/database_internal.h"
#include "jet/format/usage_map.h"

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

namespace {

// Pages the table's page maps claim that the database's free-page map offers: the next
// writer would take them and overwrite the table.
void CheckClaimedPages(Database& db, Table& table, const std::unordered_set<std::uint32_t>& free,
                       std::vector<std::string>* problems) {
  try {
    const TableDef& def = Internal(table).definition();
    std::vector<std::pair<std::string, std::vector<std::uint32_t>>> maps;
    maps.emplace_back("its rows", Internal(table).reader().DataPages());
    for (const RealIndexDef& index : def.real_indexes)
      if (!index.used_pages.IsNull()) maps.emplace_back("an index", ReadUsageMap(Internal(db).pager(), index.used_pages));
    for (const auto& [what, pages] : maps)
      for (std::uint32_t page : pages)
        if (free.count(page) != 0)
          problems->push_back("Table '" + table.Name() + "': page " + std::to_string(page) + " holds " + what +
                              " but is marked free");
  } catch (const Error& e) {
    problems->push_back("Table '" + table.Name() + "': " + e.what());
  }
}

}  // namespace

std::vector<std::string> CheckIntegrity(Database& db) {
  std::vector<std::string> problems;
  std::unordered_set<std::uint32_t> free;
  try {
    for (std::uint32_t page : ReadUsageMap(Internal(db).pager(), kFreePageMap)) free.insert(page);
  } catch (const Error&) {
    // A file without a readable free-page map: nothing is on offer to check against.
  }
  for (const auto& name : db.TableNames()) {
    Table* table = db.GetTable(name);
    if (table == nullptr) continue;
    std::vector<std::string> more = CheckIntegrity(*table);
    problems.insert(problems.end(), more.begin(), more.end());
    CheckClaimedPages(db, *table, free, &problems);
  }
  return problems;
}

}  // namespace jet
