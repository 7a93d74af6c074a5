#pragma once
// The database's free-page map (the first row of page 1), as statements keep it: Jet
// marks every page nothing uses, the stretch past the end of the file included, and
// takes marked pages when it needs room.

#include <cstdint>

#include "jet/pager/transaction.h"

namespace jet::write {

// Marks `page` free (or in use) where the map reaches it. A map that is not one leaves
// the page as it was rather than failing the statement; returns whether the mark is set
// as asked.
bool MarkFree(Transaction& txn, std::uint32_t page, bool free);

// Takes the free mark off every page the statement added at the end of the file: those
// pages were marked while they lay past the end, and a mark left on a page that holds
// data would let the next writer take it.
void ClaimAppendedPages(Transaction& txn);

}  // namespace jet::write
