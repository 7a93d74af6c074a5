// The rows of a table packed into full data pages, and its indexes rebuilt from their
// old entries with the rows' new addresses.

#include <algorithm>
#include <bit>

#include "jet/compact/page_copy.h"
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

namespace {

// Index pages written bottom-up while the entries arrive in order: the leaves as they
// fill, each node level once the level below is complete. Each node entry repeats the last
// entry of its child; the last child of the rightmost node page of a level is its tail,
// as Jet keeps it.
class TreeWriter {
 public:
  TreeWriter(const Format& f, std::uint32_t owner, std::function<std::uint32_t()> allocate,
             std::function<void(std::uint32_t, PageData&)> put)
      : f_(f), owner_(owner), allocate_(std::move(allocate)), put_(std::move(put)) {}

  void Add(IndexEntry e) {
    if (leaf_.empty()) {
      if (leaf_number_ == kNone) leaf_number_ = allocate_();
    } else if (!leaf_fill_.Fits(e.key, f_)) {
      const std::uint32_t next = allocate_();
      WriteLeaf(next);
      leaf_number_ = next;
    }
    leaf_fill_.Take(e.key, f_);
    leaf_.push_back(std::move(e));
  }

  // Returns the root; `pages` gets every page written.
  std::uint32_t Finish(std::vector<std::uint32_t>* pages) {
    if (leaf_number_ == kNone) leaf_number_ = allocate_();
    WriteLeaf(0);
    std::vector<IndexEntry> level = std::move(up_);
    std::uint32_t root = level.size() == 1 ? level[0].child_page : leaf_number_;
    if (level.empty()) root = leaf_number_;
    while (level.size() > 1) {
      // The level's pages, planned before they are written so that each knows its siblings.
      std::vector<std::pair<std::size_t, std::size_t>> plans;
      Fill fill(8);
      std::size_t begin = 0;
      for (std::size_t i = 0; i < level.size(); ++i) {
        if (i > begin && !fill.Fits(level[i].key, f_)) {
          plans.emplace_back(begin, i);
          fill = Fill(8);
          begin = i;
        }
        fill.Take(level[i].key, f_);
      }
      plans.emplace_back(begin, level.size());
      std::vector<std::uint32_t> numbers;
      for (std::size_t k = 0; k < plans.size(); ++k) numbers.push_back(allocate_());
      std::vector<IndexEntry> up;
      for (std::size_t k = 0; k < plans.size(); ++k) {
        const bool rightmost = k + 1 == plans.size();
        IndexPage page;
        page.leaf = false;
        page.owner = owner_;
        page.prev_page = k > 0 ? numbers[k - 1] : 0;
        page.next_page = rightmost ? 0 : numbers[k + 1];
        auto [b, e] = plans[k];
        up.push_back(level[e - 1]);
        up.back().child_page = numbers[k];
        if (rightmost && e - b >= 2) {
          page.tail_page = level[e - 1].child_page;
          --e;
        }
        page.entries.assign(level.begin() + static_cast<std::ptrdiff_t>(b), level.begin() + static_cast<std::ptrdiff_t>(e));
        Write(numbers[k], page);
      }
      if (plans.size() == 1) root = numbers[0];
      level = std::move(up);
    }
    *pages = std::move(pages_);
    return root;
  }

 private:
  // The bytes a page's entries take as they are added, counted as IndexEntryBytes does
  // with the prefix CommonIndexPrefix finds.
  class Fill {
   public:
    explicit Fill(std::size_t pointer) : pointer_(pointer) {}
    bool Fits(const std::string& key, const Format& f) const {
      if (count_ == 0) return true;
      const std::size_t prefix = Prefix(key, f);
      return sum_ + key.size() + pointer_ - count_ * prefix <= f.page_size - f.index_entries;
    }
    void Take(const std::string& key, const Format& f) {
      if (count_ == 0) first_ = key;
      else prefix_ = Prefix(key, f);
      sum_ += key.size() + pointer_;
      ++count_;
    }

   private:
    std::size_t Prefix(const std::string& key, const Format& f) const {
      const std::size_t before = count_ == 1 ? std::min(first_.size(), MaxIndexPrefix(f)) : prefix_;
      return std::min(before, SharedLength(first_, key));
    }
    std::size_t pointer_;
    std::string first_;
    std::size_t prefix_ = 0, sum_ = 0, count_ = 0;
  };

  void WriteLeaf(std::uint32_t next) {
    IndexPage page;
    page.leaf = true;
    page.owner = owner_;
    page.prev_page = leaf_prev_;
    page.next_page = next;
    page.entries = std::move(leaf_);
    leaf_.clear();
    leaf_fill_ = Fill(4);
    if (!page.entries.empty()) {
      up_.push_back(page.entries.back());
      up_.back().child_page = leaf_number_;
    }
    Write(leaf_number_, page);
    leaf_prev_ = leaf_number_;
  }

  void Write(std::uint32_t number, IndexPage& page) {
    page.prefix_length = CommonIndexPrefix(page.entries, f_);
    PageData bytes(f_.page_size, 0);
    EncodeIndexPage(page, f_, bytes.data());
    put_(number, bytes);
    pages_.push_back(number);
  }

  const Format& f_;
  std::uint32_t owner_;
  std::function<std::uint32_t()> allocate_;
  std::function<void(std::uint32_t, PageData&)> put_;
  std::vector<IndexEntry> leaf_;
  Fill leaf_fill_{4};
  std::uint32_t leaf_number_ = kNone;
  std::uint32_t leaf_prev_ = 0;
  std::vector<IndexEntry> up_;
  std::vector<std::uint32_t> pages_;
};

}  // namespace

void PageCopy::RebuildIndexes(Table& t, os::File& out) {
  // Where a row went: a packed table's rows by their order, the others with their page.
  auto moved = [&](std::uint32_t page, std::uint8_t row) -> RowId {
    if (!t.packed) return {Renumber(page, "an index entry"), row};
    auto it = std::lower_bound(t.data_pages.begin(), t.data_pages.end(), page);
    const Moved* m = it != t.data_pages.end() && *it == page ? &moved_[static_cast<std::size_t>(it - t.data_pages.begin())] : nullptr;
    if (m == nullptr || (m->rows[row / 64] & (std::uint64_t{1} << (row % 64))) == 0)
      ThrowCorrupt("an index of the table at page " + std::to_string(t.page) + " has an entry for row " +
                   std::to_string(row) + " of page " + std::to_string(page) + ", which is not a row of the table");
    std::uint32_t ordinal = m->first;
    for (int w = 0; w < row / 64; ++w) ordinal += static_cast<std::uint32_t>(std::popcount(m->rows[w]));
    ordinal += static_cast<std::uint32_t>(std::popcount(m->rows[row / 64] & ((std::uint64_t{1} << (row % 64)) - 1)));
    const auto at = std::upper_bound(new_firsts_.begin(), new_firsts_.end(), ordinal) - 1;
    const auto k = static_cast<std::size_t>(at - new_firsts_.begin());
    return {t.new_data_pages[k], static_cast<std::uint8_t>(ordinal - *at)};
  };
  t.new_roots.assign(t.roots.size(), 0);
  t.new_index_pages.assign(t.roots.size(), {});
  for (std::size_t r = 0; r < t.roots.size(); ++r) {
    if (t.roots[r] == 0) continue;
    TreeWriter tree(*f_, t.page, [&] { return Allocate(); },
                    [&](std::uint32_t n, PageData& bytes) { Put(out, n, bytes); });
    WalkIndex(*src_, t.page, t.roots[r], [&](const IndexEntry& e) {
      IndexEntry copy = e;
      copy.row = moved(e.row.page, e.row.row);
      copy.child_page = 0;
      tree.Add(std::move(copy));
      return true;
    });
    t.new_roots[r] = tree.Finish(&t.new_index_pages[r]);
  }
}

}  // namespace jet::compact
