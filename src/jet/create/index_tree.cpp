#include "jet/create/index_tree.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "jet/error.h"
#include "jet/format/format.h"
#include "jet/format/index_page.h"
#include "jet/index/index_edit.h"

namespace jet::create {

void EntryCollector::Add(const std::string& key, std::uint32_t page, std::uint8_t slot, bool has_null) {
  if (arena_.size() > 0xffffffffu - 4096) {
    throw Error(ErrorCode::Unsupported, "An index holds more key bytes than this writer can collect");
  }
  offsets_.push_back(static_cast<std::uint32_t>(arena_.size()));
  sizes_.push_back(static_cast<std::uint16_t>(key.size() + kIndexRowIdSize));
  arena_ += key;
  arena_.resize(arena_.size() + kIndexRowIdSize);
  PutIndexRowId(reinterpret_cast<std::uint8_t*>(arena_.data() + arena_.size() - kIndexRowIdSize), {page, slot});
  has_null_.push_back(has_null);
}

std::string_view EntryCollector::Entry(std::size_t i) const {
  return std::string_view(arena_).substr(offsets_[i], sizes_[i]);
}

void EntryCollector::Sort() {
  std::vector<std::uint32_t> order(offsets_.size());
  std::iota(order.begin(), order.end(), 0u);
  auto less = [this](std::uint32_t a, std::uint32_t b) { return Entry(a) < Entry(b); };
  if (std::is_sorted(order.begin(), order.end(), less)) return;  // rows often arrive in key order
  std::sort(order.begin(), order.end(), less);
  std::vector<std::uint32_t> offsets(order.size());
  std::vector<std::uint16_t> sizes(order.size());
  std::vector<bool> has_null(order.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    offsets[k] = offsets_[order[k]];
    sizes[k] = sizes_[order[k]];
    has_null[k] = has_null_[order[k]];
  }
  offsets_.swap(offsets);
  sizes_.swap(sizes);
  has_null_.swap(has_null);
}

std::size_t EntryCollector::FindDuplicate() const {
  for (std::size_t i = 1; i < Count(); ++i) {
    if (!has_null_[i] && Key(i) == Key(i - 1)) return i;
  }
  return Count();
}

namespace {

constexpr const Format& kFormat = kJet4Format;
// Bytes for entries on an index page of a new file.
constexpr std::size_t kIndexSpace = kFormat.page_size - kFormat.index_entries;

// One level of the tree being built: each entry's key, row pointer and (above the
// leaves) child page, as the shared index-page encoder takes them.
using Level = std::vector<IndexEntry>;

struct PagePlan {
  std::size_t begin = 0, end = 0;
};

// Splits a level of `n` entries into pages greedily, each as full as its shared prefix
// allows; `key(i)` is the key of entry i, `pointer` the bytes after each key.
template <typename KeyAt>
std::vector<PagePlan> Pack(std::size_t n, KeyAt key, std::size_t pointer) {
  std::vector<PagePlan> plans;
  std::size_t i = 0;
  while (i < n) {
    PagePlan plan;
    plan.begin = i;
    const std::string_view first = key(i);
    std::size_t prefix = first.size();
    std::size_t raw = first.size() + pointer;
    std::size_t count = 1;
    for (++i; i < n; ++i) {
      const std::string_view next = key(i);
      std::size_t shared = std::min(prefix, SharedLength(first, next));
      std::size_t next_raw = raw + next.size() + pointer;
      if (next_raw - count * shared > kIndexSpace) break;
      prefix = shared;
      raw = next_raw;
      ++count;
    }
    plan.end = i;
    plans.push_back(plan);
  }
  if (plans.empty()) plans.push_back({});  // an empty index: one empty leaf
  return plans;
}

IndexEntry LeafEntry(std::string_view entry) {
  IndexEntry e;
  e.key.assign(entry.substr(0, entry.size() - kIndexRowIdSize));
  e.row = IndexRowIdOf(entry);
  return e;
}

}  // namespace

BuiltIndex BuildIndexPages(const EntryCollector& entries, std::uint32_t tdef_page, PageEditor& store) {
  BuiltIndex built;
  // The leaves are read from `entries` page by page; the levels above are small.
  Level level;
  bool leaf = true;
  for (;;) {
    const std::vector<PagePlan> plans =
        leaf ? Pack(entries.Count(), [&](std::size_t i) { return entries.Key(i); }, IndexPointerSize(true))
             : Pack(level.size(), [&](std::size_t i) { return std::string_view(level[i].key); }, IndexPointerSize(false));
    auto entry = [&](std::size_t i) { return leaf ? LeafEntry(entries.Entry(i)) : std::move(level[i]); };
    std::vector<std::uint32_t> numbers(plans.size());
    for (auto& n : numbers) {
      n = store.Allocate();
      built.pages.push_back(n);
    }
    Level up;
    up.reserve(plans.size());
    for (std::size_t k = 0; k < plans.size(); ++k) {
      const bool rightmost = k + 1 == plans.size();
      IndexPage page;
      page.leaf = leaf;
      page.owner = tdef_page;
      page.prev_page = k > 0 ? numbers[k - 1] : 0;
      page.next_page = rightmost ? 0 : numbers[k + 1];
      // The page's last entry goes up a level, pointing at the page; the last child of
      // the rightmost node page of a level is its tail instead of an entry.
      std::size_t stored_end = plans[k].end;
      if (plans[k].end > plans[k].begin) {
        up.push_back(leaf ? LeafEntry(entries.Entry(plans[k].end - 1)) : level[plans[k].end - 1]);
        up.back().child_page = numbers[k];
        if (!leaf && rightmost && plans[k].end - plans[k].begin >= 2) {
          page.tail_page = level[plans[k].end - 1].child_page;
          --stored_end;
        }
      }
      page.entries.reserve(stored_end - plans[k].begin);
      for (std::size_t i = plans[k].begin; i < stored_end; ++i) page.entries.push_back(entry(i));
      page.prefix_length = CommonIndexPrefix(page.entries, kFormat);
      EncodeIndexPage(page, kFormat, store.Write(numbers[k]).data());
    }
    if (plans.size() == 1) {
      built.root = numbers[0];
      return built;
    }
    level.swap(up);
    leaf = false;
  }
}

}  // namespace jet::create
