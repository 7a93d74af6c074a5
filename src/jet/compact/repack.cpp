// The rows of a table packed into full data pages, and its indexes rebuilt from their
// old entries with the rows' new addresses.

#include <algorithm>
#include <bit>

#include "jet/compact/page_copy.h"
#include "jet/create/index_tree.h"
#include "jet/error.h"
#include "jet/index/index_walk.h"

namespace jet::compact {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

}  // namespace

// The room DataPageRoom finds on a page that only ever had rows added below the others,
// read from its recorded free space rather than from every slot.
std::size_t PageCopy::Room(const PageData& page) const {
  const ByteView v(page);
  if (v.U16(f_->data_row_count) >= kMaxRowsPerPage) return 0;
  const std::size_t free = v.U16(f_->data_free_space);
  return free > 2 ? free - 2 : 0;
}

void PageCopy::PackRows(Table& t, os::File& out) {
  moved_.assign(t.data_pages.size(), Moved{});
  new_firsts_.clear();
  std::uint32_t ordinal = 0;
  PageData page;
  std::uint32_t number = kNone;
  for (std::size_t k = 0; k < t.data_pages.size(); ++k) {
    const std::uint32_t old = t.data_pages[k];
    moved_[k].first = ordinal;
    const PageRef ref = src_->Read(old);
    if ((*ref)[0] != static_cast<std::uint8_t>(PageType::Data)) continue;
    const DataPage source(ref, old, *f_);
    if (source.owner() != t.page) continue;
    for (std::uint16_t i = 0; i < source.row_count() && i < kMaxRowsPerPage; ++i) {
      const Slot s = source.slot(i);
      if (s.deleted() || s.moved()) continue;
      PageRef keep;
      const ByteView record = s.lookup() ? ResolveRow(*src_, source, i, &keep) : source.row(s);
      if (record.empty()) continue;
      std::string renumbered;
      std::string_view row(reinterpret_cast<const char*>(record.data()), record.size());
      if (!t.long_values.empty()) {
        renumbered = record.Str();
        RenumberRecord(t, reinterpret_cast<std::uint8_t*>(renumbered.data()), renumbered.size());
        row = renumbered;
      }
      if (number == kNone || Room(page) < row.size()) {
        if (number != kNone) Put(out, number, page);
        number = Allocate();
        page.assign(f_->page_size, 0);
        InitDataPage(page, *f_, t.page);
        if (DataPageRoom(page, *f_) < row.size())
          ThrowCorrupt("a row of data page " + std::to_string(old) + " is larger than a page");
        new_firsts_.push_back(ordinal);
        t.new_data_pages.push_back(number);
      }
      AddRowToPage(page, number, *f_, row);
      moved_[k].rows[i / 64] |= std::uint64_t{1} << (i % 64);
      ++ordinal;
    }
  }
  if (number != kNone) Put(out, number, page);
}

void PageCopy::RebuildIndexes(Table& t, os::File& out) {
  // Where a row went: a packed table's rows by their order, the others with their page.
  // Entries mostly follow the rows' order, so the pages found last are tried first.
  std::size_t from = 0, to = 0;
  auto moved = [&](std::uint32_t page, std::uint8_t row) -> RowId {
    if (!t.packed) return {Renumber(page, "an index entry"), row};
    if (from >= t.data_pages.size() || t.data_pages[from] != page)
      from = static_cast<std::size_t>(std::lower_bound(t.data_pages.begin(), t.data_pages.end(), page) -
                                      t.data_pages.begin());
    const Moved* m = from < t.data_pages.size() && t.data_pages[from] == page ? &moved_[from] : nullptr;
    if (m == nullptr || (m->rows[row / 64] & (std::uint64_t{1} << (row % 64))) == 0)
      ThrowCorrupt("an index of the table at page " + std::to_string(t.page) + " has an entry for row " +
                   std::to_string(row) + " of page " + std::to_string(page) + ", which is not a row of the table");
    std::uint32_t ordinal = m->first;
    for (int w = 0; w < row / 64; ++w) ordinal += static_cast<std::uint32_t>(std::popcount(m->rows[w]));
    ordinal += static_cast<std::uint32_t>(std::popcount(m->rows[row / 64] & ((std::uint64_t{1} << (row % 64)) - 1)));
    if (new_firsts_[to] > ordinal || (to + 1 < new_firsts_.size() && new_firsts_[to + 1] <= ordinal))
      to = static_cast<std::size_t>(std::upper_bound(new_firsts_.begin(), new_firsts_.end(), ordinal) -
                                    new_firsts_.begin()) - 1;
    return {t.new_data_pages[to], static_cast<std::uint8_t>(ordinal - new_firsts_[to])};
  };
  t.new_roots.assign(t.roots.size(), 0);
  t.new_index_pages.assign(t.roots.size(), {});
  std::string stored;
  for (std::size_t r = 0; r < t.roots.size(); ++r) {
    if (t.roots[r] == 0) continue;
    create::IndexTreeWriter tree(*f_, t.page, [&] { return Allocate(); },
                                 [&](std::uint32_t n, PageData& bytes) { Put(out, n, bytes); });
    WalkIndexLeaves(*src_, t.page, t.roots[r], [&](const IndexLeafView& leaf) {
      for (std::size_t i = 0; i < leaf.size(); ++i) {
        leaf.StoredInto(i, &stored);
        const RowId row = leaf.row(i);
        tree.Add(std::string_view(stored).substr(0, stored.size() - kIndexRowIdSize), moved(row.page, row.row));
      }
      return true;
    });
    create::BuiltIndex built = tree.Finish();
    t.new_roots[r] = built.root;
    t.new_index_pages[r] = std::move(built.pages);
  }
}

}  // namespace jet::compact
