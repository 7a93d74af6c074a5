#include "jet/integrity.h"

#include <array>
#include <cstdint>
#include <unordered_set>
#include <utility>

#include "jet/database_internal.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_check.h"
#include "jet/write/index_upkeep.h"

namespace jet {
namespace {

// The rows an index names, as one bit per slot of each page up to the highest page named:
// unlike a delete's RowSet, it takes ids in any order and tells at once whether an id was
// there already (an index naming a row twice).
class SlotBits {
 public:
  // Whether `id` was not in the set yet.
  bool Insert(RowId id) {
    const std::size_t page = id.page, slot = id.row;
    if (page >= bits_.size()) bits_.resize(page + 1);
    std::uint64_t& word = bits_[page][slot / 64];
    const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
    if ((word & bit) != 0) return false;
    word |= bit;
    ++count_;
    return true;
  }
  bool Contains(RowId id) const {
    const std::size_t page = id.page, slot = id.row;
    return page < bits_.size() && (bits_[page][slot / 64] & (std::uint64_t{1} << (slot % 64))) != 0;
  }
  std::size_t size() const { return count_; }

 private:
  std::vector<std::array<std::uint64_t, 4>> bits_;
  std::size_t count_ = 0;
};

void CheckIndex(Table& table, const IndexInfo& index, const SlotBits& rows,
                std::vector<std::string>* problems) {
  const std::string where = "Index '" + index.name + "' of table '" + table.Name() + "'";
  SlotBits seen;
  std::string last;
  bool first = true, ordered = true, twice = false;
  std::size_t gone = 0;
  table.WalkIndex(index, [&](RowId id, const std::string& key) {
    if (!first && key < last) ordered = false;
    last = key;
    first = false;
    if (!seen.Insert(id)) twice = true;
    if (!rows.Contains(id)) ++gone;
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
    SlotBits rows;
    table.Scan(std::vector<bool>(table.Columns().size(), false), [&](RowId id, const Row&) {
      rows.Insert(id);
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

// Each index tree's structure, and the pages of the table against the page maps: a page
// the table's rows or one of its trees use must be claimed by its map (or the engine
// would hand it out again) and not be offered by the database's free-page map (the next
// writer would take it and overwrite the table).
void CheckPages(Database& db, Table& table, const std::unordered_set<std::uint32_t>& free,
                std::vector<std::string>* problems) {
  try {
    Pager& pager = Internal(db).pager();
    const TableDef& def = Internal(table).definition();
    for (std::uint32_t page : Internal(table).reader().DataPages())
      if (free.count(page) != 0)
        problems->push_back("Table '" + table.Name() + "': page " + std::to_string(page) +
                            " holds its rows but is marked free");
    for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
      const RealIndexDef& index = def.real_indexes[r];
      if (index.root_page == 0) continue;
      const std::string where = "Index '" + write::IndexName(def, r) + "' of table '" + table.Name() + "': ";
      IndexTreeReport tree = CheckIndexTree(pager, def.page, index.root_page);
      for (const std::string& problem : tree.problems) problems->push_back(where + problem);
      std::unordered_set<std::uint32_t> claimed;
      if (!index.used_pages.IsNull())
        for (std::uint32_t page : ReadUsageMap(pager, index.used_pages)) claimed.insert(page);
      for (const auto& level : tree.levels)
        for (std::uint32_t page : level) {
          if (!index.used_pages.IsNull() && claimed.count(page) == 0)
            problems->push_back(where + "page " + std::to_string(page) + " is not claimed by the index's page map");
          if (free.count(page) != 0) problems->push_back(where + "page " + std::to_string(page) + " is marked free");
        }
    }
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
    CheckPages(db, *table, free, &problems);
  }
  return problems;
}

}  // namespace jet
