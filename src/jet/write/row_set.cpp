#include "jet/write/row_set.h"

#include <algorithm>
#include <bit>

#include "jet/table/table_reader.h"

namespace jet::write {

void RowSet::Add(RowId id) {
  last_ = nullptr;  // an insert may move the pages
  const std::uint32_t number = RowIdPage(id);
  const std::uint8_t slot = RowIdSlot(id);
  auto at = pages_.end();
  if (pages_.empty() || pages_.back().number < number) {
    pages_.push_back(Page{number, {}});
    at = std::prev(pages_.end());
  } else if (pages_.back().number == number) {
    at = std::prev(pages_.end());
  } else {
    at = std::lower_bound(pages_.begin(), pages_.end(), number,
                          [](const Page& p, std::uint32_t n) { return p.number < n; });
    if (at == pages_.end() || at->number != number) at = pages_.insert(at, Page{number, {}});
  }
  std::uint64_t& word = at->slots[slot / 64];
  const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
  if ((word & bit) == 0) {
    word |= bit;
    ++count_;
  }
}

bool RowSet::Contains(RowId id) const {
  const std::uint32_t number = RowIdPage(id);
  if (last_ == nullptr || last_->number != number) {
    auto at = std::lower_bound(pages_.begin(), pages_.end(), number,
                               [](const Page& p, std::uint32_t n) { return p.number < n; });
    if (at == pages_.end() || at->number != number) return false;
    last_ = &*at;
  }
  const std::uint8_t slot = RowIdSlot(id);
  return ((last_->slots[slot / 64] >> (slot % 64)) & 1u) != 0;
}

bool RowSet::NextBatch(std::size_t* cursor, std::size_t limit, std::vector<RowId>* out) const {
  out->clear();
  // A page's rows go into one batch together, so that a batch may run over `limit` by
  // less than one page's rows: room for that from the start, so that the batch never
  // grows by doubling.
  out->reserve(std::min(limit, count_) + 256);
  while (*cursor < pages_.size() && out->size() < limit) {
    const Page& p = pages_[*cursor];
    for (std::size_t w = 0; w < p.slots.size(); ++w)
      for (std::uint64_t bits = p.slots[w]; bits != 0; bits &= bits - 1)
        out->push_back(MakeRowId(p.number, static_cast<std::uint8_t>(w * 64 + std::countr_zero(bits))));
    ++*cursor;
  }
  return !out->empty();
}

}  // namespace jet::write
