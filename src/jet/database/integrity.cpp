#include "jet/integrity.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "jet/database/database_internal.h"
#include "jet/index/index_check.h"
#include "jet/page/usage_map.h"
#include "jet/table/row_set.h"
#include "jet/write/index_upkeep.h"

namespace jet {
namespace {

// One bit per slot of every page up to the last page holding a row, made once per table:
// which rows an index has named so far.
class SlotBits {
 public:
  explicit SlotBits(std::size_t pages) : words_(pages * 8) {}
  void Clear() { std::fill(words_.begin(), words_.end(), 0u); }
  // Whether the slot was not marked yet; the caller keeps `page` below the set's pages.
  bool Mark(std::uint32_t page, std::uint8_t slot) {
    std::uint32_t& word = words_[std::size_t{page} * 8 + slot / 32];
    const std::uint32_t bit = std::uint32_t{1} << (slot % 32);
    if ((word & bit) != 0) return false;
    word |= bit;
    return true;
  }

 private:
  std::vector<std::uint32_t> words_;
};

// What one walk of an index's leaves found against the table's rows.
struct EntryCount {
  std::size_t entries = 0, gone = 0;
  bool twice = false;
};

// Pages as a bitmap over the file, for asking of each page of a tree whether a map holds it.
std::vector<bool> PageBitmap(Pager& pager, RowId map) {
  std::vector<bool> pages(pager.page_count(), false);
  for (std::uint32_t page : ReadUsageMap(pager, map))
    if (page < pages.size()) pages[page] = true;
  return pages;
}

bool Holds(const std::vector<bool>& pages, std::uint32_t page) { return page < pages.size() && pages[page]; }

// The usage maps the definition names, each of which must be one: the table's, its
// free-space map, its indexes' and (Jet 4) its memo and OLE columns', whose pages must be
// long-value pages (data pages marked "LVAL", or the table's own). Access finds the pages
// it writes to through these maps.
void CheckMaps(Pager& pager, const TableDef& def, const std::string& table, std::vector<std::string>* problems) {
  const auto map = [&](RowId where, const std::string& what) {
    try {
      return ReadUsageMap(pager, where);
    } catch (const Error& e) {
      problems->push_back("Table '" + table + "': " + what + ": " + e.what());
      return std::vector<std::uint32_t>{};
    }
  };
  map(def.used_pages, "the page map");
  if (!def.free_pages.IsNull()) map(def.free_pages, "the free-space map");
  for (const RealIndexDef& index : def.real_indexes)
    if (!index.used_pages.IsNull()) map(index.used_pages, "an index's page map");
  for (const ColumnMapsDef& c : def.column_maps) {
    const std::string what = "the page maps of column '" + def.FindColumnByNumber(c.column_number)->name + "'";
    for (RowId where : {c.used_pages, c.free_pages}) {
      if (where.IsNull()) continue;
      for (std::uint32_t page : map(where, what)) {
        const PageRef ref = pager.Read(page);
        const bool data = (*ref)[0] == static_cast<std::uint8_t>(PageType::Data);
        const std::uint32_t owner = data ? DataPage(ref, page, pager.format()).owner() : 0;
        if (owner != kLongValueOwner && owner != def.page)
          problems->push_back("Table '" + table + "': " + what + " list page " + std::to_string(page) +
                              ", which holds no long values");
      }
    }
  }
}

// The table's rows against its recorded count; each real index walked once, its tree's
// structure checked while its entries are held against the rows (in key order, each row
// once, none for a row that is gone, every row unless the index leaves NULL keys out);
// and with `free` (the database-wide check), the usage maps the definition names, and the
// pages of rows and trees against the page maps: a page the table's rows or one of its
// trees use must be claimed by its map (or the engine would hand it out again) and not be
// offered by the database's free-page map (the next writer would take it and overwrite the
// table).
void CheckTable(Table& table, const std::vector<bool>* free, std::vector<std::string>* problems) {
  try {
    Pager& pager = Internal(table).db().pager();
    const TableDef& def = Internal(table).definition();
    RowSet rows;
    table.Scan(std::vector<bool>(table.Columns().size(), false), [&](RowId id, const Row&) {
      rows.Add(id);
      return true;
    });
    if (table.RecordedRowCount() != rows.size())
      problems->push_back("Table '" + table.Name() + "': " + std::to_string(rows.size()) + " rows, " +
                          std::to_string(table.RecordedRowCount()) + " recorded");
    if (free != nullptr) {
      CheckMaps(pager, def, table.Name(), problems);
      for (std::uint32_t page : Internal(table).reader().DataPages())
        if (Holds(*free, page))
          problems->push_back("Table '" + table.Name() + "': page " + std::to_string(page) +
                              " holds its rows but is marked free");
    }

    SlotBits seen(rows.Reach());
    const auto leaf_rows = [&](EntryCount* count) {
      return [&rows, &seen, count](const IndexLeafView& leaf) {
        for (std::size_t i = 0; i < leaf.size(); ++i) {
          const RowId row = leaf.row(i);
          ++count->entries;
          if (!rows.Contains(row.page, row.row)) ++count->gone;
          else if (!seen.Mark(row.page, row.row)) count->twice = true;
        }
      };
    };
    for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
      const RealIndexDef& index = def.real_indexes[r];
      EntryCount count;
      if (index.root_page != 0) {
        const std::string where = "Index '" + write::IndexName(def, r) + "' of table '" + table.Name() + "': ";
        seen.Clear();
        const IndexTreeReport tree = CheckIndexTree(pager, def.page, index.root_page, leaf_rows(&count));
        for (const std::string& problem : tree.problems) problems->push_back(where + problem);
        if (free != nullptr) {
          const std::vector<bool> claimed =
              index.used_pages.IsNull() ? std::vector<bool>{} : PageBitmap(pager, index.used_pages);
          for (const auto& level : tree.levels)
            for (std::uint32_t page : level) {
              if (!index.used_pages.IsNull() && !Holds(claimed, page))
                problems->push_back(where + "page " + std::to_string(page) + " is not claimed by the index's page map");
              if (Holds(*free, page)) problems->push_back(where + "page " + std::to_string(page) + " is marked free");
            }
        }
      }
      for (const IndexInfo& info : table.Indexes()) {
        if (info.real_index != r) continue;
        const std::string where = "Index '" + info.name + "' of table '" + table.Name() + "'";
        if (count.twice) problems->push_back(where + ": a row has two entries");
        if (count.gone > 0)
          problems->push_back(where + ": " + std::to_string(count.gone) + " entries for rows that do not exist");
        if (!info.ignore_nulls && count.entries != rows.size())
          problems->push_back(where + ": " + std::to_string(count.entries) + " entries for " +
                              std::to_string(rows.size()) + " rows");
      }
    }
  } catch (const Error& e) {
    problems->push_back("Table '" + table.Name() + "': " + e.what());
  }
}

}  // namespace

std::vector<std::string> CheckIntegrity(Table& table) {
  std::vector<std::string> problems;
  CheckTable(table, nullptr, &problems);
  return problems;
}

std::vector<std::string> CheckIntegrity(Database& db) {
  std::vector<std::string> problems;
  std::vector<bool> free;
  try {
    free = PageBitmap(Internal(db).pager(), kFreePageMap);
  } catch (const Error&) {
    // A file without a readable free-page map: nothing is on offer to check against.
  }
  for (const auto& name : db.TableNames()) {
    Table* table = db.GetTable(name);
    if (table != nullptr) CheckTable(*table, &free, &problems);
  }
  return problems;
}

}  // namespace jet
