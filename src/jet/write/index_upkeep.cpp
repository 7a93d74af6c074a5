#include "jet/write/index_upkeep.h"

#include <optional>
#include <random>
#include <unordered_set>

#include "jet/index/index_edit.h"
#include "jet/page/usage_map.h"
#include "jet/write/free_pages.h"

namespace jet::write {

std::string IndexName(const TableDef& def, std::size_t real_index) {
  const LogicalIndexDef* best = nullptr;
  auto rank = [](const LogicalIndexDef& l) { return l.type == kIndexTypePrimary ? 0 : l.type == kIndexTypeForeign ? 2 : 1; };
  for (const auto& l : def.indexes)
    if (l.real_index == real_index && (best == nullptr || rank(l) < rank(*best))) best = &l;
  return best == nullptr ? "#" + std::to_string(real_index) : best->name;
}

std::size_t KeyColumnPosition(const TableDef& def, std::size_t real_index, const IndexColumnDef& column) {
  std::size_t k = 0;
  while (k < def.columns.size() && def.columns[k].number != column.column_number) ++k;
  if (k == def.columns.size())
    ThrowCorrupt("index '" + IndexName(def, real_index) + "' names a column the table does not have");
  return k;
}

namespace {

std::uint64_t RandomSeed() {
  std::random_device rd;
  return (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
}

}  // namespace

IndexRowsTally::IndexRowsTally(const TableDef& def) : indexes_(def.real_indexes.size()), all_(RandomSeed()) {
  for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
    const RealIndexDef& index = def.real_indexes[r];
    if ((index.flags & kIndexIgnoreNulls) == 0) continue;
    IgnoringNulls& in = ignoring_.emplace_back(IgnoringNulls{r, {}, {all_.Empty(), {}}});
    for (const IndexColumnDef& ic : index.columns) in.columns.push_back(KeyColumnPosition(def, r, ic));
  }
}

std::vector<bool> IndexRowsTally::Wanted(std::vector<bool> wanted) const {
  if (wanted.empty() || ignoring_.empty()) return wanted;  // empty: every column
  for (const IgnoringNulls& in : ignoring_)
    for (std::size_t k : in.columns) {
      if (k >= wanted.size()) wanted.resize(k + 1, false);
      wanted[k] = true;
    }
  return wanted;
}

void IndexRowsTally::Add(RowId id, const Row& row) {
  all_.Add(id);
  for (IgnoringNulls& in : ignoring_) {
    bool null = false;
    for (std::size_t k : in.columns) null = null || row.at(k).IsNull();
    if (null) in.rows.may.Add(id);
    else in.rows.must.Add(id);
  }
}

std::vector<IndexRows> IndexRowsTally::Take() {
  std::vector<IndexRows> out(indexes_, IndexRows{all_, {}});
  for (IgnoringNulls& in : ignoring_) out[in.index] = std::move(in.rows);
  return out;
}

void RemoveIndexEntries(EditableDatabase& db, EditableTable& table, Transaction& txn, const RowSet& rows,
                        std::vector<IndexRows>* expected) {
  const TableDef& def = table.definition();
  for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
    db.CheckDeadline("removing rows of table '" + table.Name() + "' from its indexes");
    const RealIndexDef& index = def.real_indexes[r];
    try {
      std::optional<RowTally> met;
      if (expected != nullptr) met = (*expected)[r].must.Empty();
      IndexRemoval removal = RemoveIndexRows(txn, def.page, index.root_page, rows, met ? &*met : nullptr,
                                             met ? &(*expected)[r].may : nullptr);
      if (met && *met != (*expected)[r].must)
        ThrowCorrupt("its " + std::to_string(met->count()) + " entries are not one for each of the " +
                     std::to_string((*expected)[r].must.count()) +
                     " rows it must hold: an entry points at a row the table does not have, two entries at one "
                     "row, or none at a row");
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
