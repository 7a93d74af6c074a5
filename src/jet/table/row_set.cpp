#include "jet/table/row_set.h"

#include <algorithm>
#include <bit>

namespace jet {

RowSet::RowSet(const std::vector<RowId>& ids) {
  if (std::is_sorted(ids.begin(), ids.end())) {
    for (RowId id : ids) Add(id);
    return;
  }
  std::vector<RowId> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  for (RowId id : sorted) Add(id);
}

void RowSet::Add(RowId id) {
  const std::uint32_t number = id.page;
  const std::uint8_t slot = id.row;
  auto at = pages_.end();
  if (pages_.empty() || pages_.back().number < number) {
    pages_.push_back(Page{number, {}});
    at = std::prev(pages_.end());
  } else if (pages_.back().number == number) {
    at = std::prev(pages_.end());
  } else {
    at = std::lower_bound(pages_.begin(), pages_.end(), number,
                          [](const Page& p, std::uint32_t n) { return p.number < n; });
    if (at == pages_.end() || at->number != number) {
      at = pages_.insert(at, Page{number, {}});
      where_.clear();  // positions moved
    }
  }
  std::uint32_t& word = at->slots[slot / 32];
  const std::uint32_t bit = std::uint32_t{1} << (slot % 32);
  if ((word & bit) == 0) {
    word |= bit;
    ++count_;
  }
}

void RowSet::Place() const {
  std::size_t from = 0;
  if (!where_.empty()) {
    // Pages only appended since: place the new ones.
    from = pages_.size();
    while (from > 0 && pages_[from - 1].number >= where_.size()) --from;
  }
  where_.resize(Reach(), 0);
  for (std::size_t i = from; i < pages_.size(); ++i) where_[pages_[i].number] = static_cast<std::uint32_t>(i + 1);
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
      for (std::uint32_t bits = p.slots[w]; bits != 0; bits &= bits - 1)
        out->push_back(RowId{p.number, static_cast<std::uint8_t>(w * 32 + std::countr_zero(bits))});
    ++*cursor;
  }
  return !out->empty();
}

}  // namespace jet
