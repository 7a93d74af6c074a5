#include "jet/write/free_pages.h"

#include "jet/page/usage_map.h"

namespace jet::write {

bool MarkFree(Transaction& txn, std::uint32_t page, bool free) {
  try {
    return EditUsageMap(txn, kFreePageMap, page, free, MapReach::Existing);
  } catch (const FormatError&) {
    return false;
  }
}

void ClaimAppendedPages(Transaction& txn) {
  for (std::uint32_t page : txn.allocated()) MarkFree(txn, page, false);
}

}  // namespace jet::write
