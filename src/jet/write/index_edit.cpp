#include "jet/write/index_edit.h"

namespace jet::write {

void RemoveIndexEntries(Database& db, Table& table, Transaction& txn, const std::vector<RowId>& ids) {
  (void)db;
  (void)table;
  (void)txn;
  (void)ids;
}

}  // namespace jet::write
