#include "jet/write/index_upkeep.h"

#include <unordered_set>

#include "jet/format/usage_map.h"
#include "jet/index/index_edit.h"
#include "jet/write/free_pages.h"

namespace jet::write {

std::string IndexName(const TableDef& def, std::size_t real_index) {
  const LogicalIndexDef* best = nullptr;
  auto rank = [](const LogicalIndexDef& l) { return l.type == kIndexTypePrimary ? 0 : l.type == kIndexTypeForeign ? 2 : 1; };
  for (const auto& l : def.indexes)
    if (l.real_index == real_index && (best == nullptr || rank(l) < rank(*best))) best = &l;
  return best == nullptr ? "#" + std::to_string(real_index) : best->name;
}

void RemoveIndexEntries(EditableDatabase& db, EditableTable& table, Transaction& txn, const RowSet& rows,
                        const RowSet* table_rows) {
  const TableDef& def = table.definition();
  for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
    db.CheckDeadline("removing rows of table '" + table.Name() + "' from its indexes");
    const RealIndexDef& index = def.real_indexes[r];
    try {
      IndexRemoval removal = RemoveIndexRows(txn, def.page, index.root_page, rows, table_rows);
      if (removal.rows_without_entry != 0 && (index.flags & kIndexIgnoreNulls) == 0)
        ThrowCorrupt("it has no entry for " + std::to_string(removal.rows_without_entry) + " of the table's " +
                     std::to_string(table_rows->size()) + " rows");
      ReleaseIndexPages(txn, index, removal.freed);
      // A node that outgrew its page while the pass ran took new pages for the index; its
      // map must name them as an insert's splits do, growing if it has to.
      for (std::uint32_t added : removal.added)
        if (!index.used_pages.IsNull()) EditUsageMap(txn, index.used_pages, added, true, MapReach::Grow);
    } catch (const FormatError& e) {
      throw FormatError("index '" + IndexName(def, r) + "' of table '" + table.Name() + "': " + e.what());
    }
    // The pass held its pages only while it ran.
    txn.Release();
  }
}

void ReleaseIndexPages(Transaction& txn, const RealIndexDef& index, const std::vector<std::uint32_t>& pages) {
  for (std::uint32_t page : pages) {
    if (!MarkFree(txn, page, true)) continue;
    if (!index.used_pages.IsNull()) EditUsageMap(txn, index.used_pages, page, false, MapReach::Existing);
  }
}

std::function<std::uint32_t()> IndexPageSource(EditableDatabase& db, Transaction& txn, const TableDef& def) {
  return [&db, &txn, &def]() -> std::uint32_t {
    Pager& pager = db.pager();
    std::unordered_set<std::uint32_t> in_use;
    bool maps_read = false;
    std::vector<std::uint32_t> free;
    try {
      free = ReadUsageMap(pager, kFreePageMap);
    } catch (const FormatError&) {
      // A file without a readable free map still takes new pages at its end.
    }
    for (std::uint32_t page : free) {
      if (page < 3) continue;  // the header, the free map's own page and the catalogue
      PageRef p = txn.Read(page);
      const std::uint8_t type = (*p)[0];
      const bool index_page =
          type == static_cast<std::uint8_t>(PageType::IndexLeaf) || type == static_cast<std::uint8_t>(PageType::IndexNode);
      if (!index_page || ViewOf(p).U32(4) != def.page) continue;
      // A free mark is trusted only for a page no map of the table claims: pages added at
      // the end of a file are not always unmarked by whoever added them.
      if (!maps_read) {
        for (const RealIndexDef& index : def.real_indexes)
          if (!index.used_pages.IsNull())
            for (std::uint32_t used : ReadUsageMap(pager, index.used_pages)) in_use.insert(used);
        if (!def.used_pages.IsNull())
          for (std::uint32_t used : ReadUsageMap(pager, def.used_pages)) in_use.insert(used);
        maps_read = true;
      }
      if (in_use.count(page) != 0) continue;
      MarkFree(txn, page, false);
      return page;
    }
    const std::uint32_t page = txn.Allocate();
    MarkFree(txn, page, false);
    return page;
  };
}

}  // namespace jet::write
