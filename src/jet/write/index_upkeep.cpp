#include "jet/write/index_upkeep.h"

#include "jet/index/index_edit.h"

namespace jet::write {

std::string IndexName(const TableDef& def, std::size_t real_index) {
  const LogicalIndexDef* best = nullptr;
  auto rank = [](const LogicalIndexDef& l) { return l.type == kIndexTypePrimary ? 0 : l.type == kIndexTypeForeign ? 2 : 1; };
  for (const auto& l : def.indexes)
    if (l.real_index == real_index && (best == nullptr || rank(l) < rank(*best))) best = &l;
  return best == nullptr ? "#" + std::to_string(real_index) : best->name;
}

void RemoveIndexEntries(EditableDatabase& db, EditableTable& table, Transaction& txn, const std::vector<RowId>& ids) {
  const TableDef& def = table.definition();
  for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
    db.CheckDeadline("removing rows of table '" + table.Name() + "' from its indexes");
    try {
      RemoveIndexRows(txn, def.page, def.real_indexes[r].root_page, ids);
    } catch (const FormatError& e) {
      std::string name = IndexName(def, r);
      throw FormatError("index '" + name + "' of table '" + table.Name() + "': " + e.what());
    }
    // The pass held its pages only while it ran.
    txn.Release();
  }
}

}  // namespace jet::write
