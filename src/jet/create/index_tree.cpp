#include "jet/create/index_tree.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "jet/format/bytes.h"
#include "jet/format/format.h"
#include "jet/error.h"

namespace jet::create {

// Bytes for entries on an index page of a new file.
constexpr std::size_t kIndexSpace = kJet4Format.page_size - kJet4Format.index_entries;

void IndexEntries::Add(const std::string& key, std::uint32_t page, std::uint8_t slot, bool has_null) {
  if (arena_.size() > 0xffffffffu - 4096) {
    throw Error(ErrorCode::Unsupported, "An index holds more key bytes than this writer can collect");
  }
  offsets_.push_back(static_cast<std::uint32_t>(arena_.size()));
  sizes_.push_back(static_cast<std::uint16_t>(key.size() + 4));
  arena_ += key;
  arena_.push_back(static_cast<char>(page >> 16));
  arena_.push_back(static_cast<char>(page >> 8));
  arena_.push_back(static_cast<char>(page));
  arena_.push_back(static_cast<char>(slot));
  has_null_.push_back(has_null);
}

std::string_view IndexEntries::Entry(std::size_t i) const {
  return std::string_view(arena_).substr(offsets_[i], sizes_[i]);
}

void IndexEntries::Sort() {
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

std::size_t IndexEntries::FindDuplicate() const {
  for (std::size_t i = 1; i < Count(); ++i) {
    if (!has_null_[i] && Key(i) == Key(i - 1)) return i;
  }
  return Count();
}

namespace {

struct PagePlan {
  std::size_t begin = 0, end = 0, prefix = 0;
};

std::size_t CommonPrefix(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size()), k = 0;
  while (k < n && a[k] == b[k]) ++k;
  return k;
}

std::vector<PagePlan> Pack(const std::vector<std::string_view>& e) {
  std::vector<PagePlan> plans;
  std::size_t i = 0;
  while (i < e.size()) {
    PagePlan plan;
    plan.begin = i;
    plan.prefix = e[i].size();
    std::size_t raw = e[i].size();
    std::size_t count = 1;
    ++i;
    while (i < e.size()) {
      std::size_t prefix = std::min(plan.prefix, CommonPrefix(e[plan.begin], e[i]));
      std::size_t next_raw = raw + e[i].size();
      if (next_raw - count * prefix > kIndexSpace) break;
      plan.prefix = prefix;
      raw = next_raw;
      ++count;
      ++i;
    }
    if (count == 1) plan.prefix = 0;
    plan.end = i;
    plans.push_back(plan);
  }
  return plans;
}

void WritePage(std::uint8_t* p, bool leaf, std::uint32_t tdef_page, const std::vector<std::string_view>& e,
               const PagePlan& plan, std::size_t stored_end, std::uint32_t prev, std::uint32_t next,
               std::uint32_t tail) {
  p[0] = leaf ? static_cast<std::uint8_t>(PageType::IndexLeaf) : static_cast<std::uint8_t>(PageType::IndexNode);
  p[1] = 0x01;
  Put32(p + 4, tdef_page);
  Put32(p + 12, prev);
  Put32(p + 16, next);
  Put32(p + 20, tail);
  std::size_t prefix = stored_end - plan.begin > 1 ? plan.prefix : 0;
  Put16(p + kJet4Format.index_prefix_length, static_cast<std::uint16_t>(prefix));
  std::size_t pos = 0;
  for (std::size_t k = plan.begin; k < stored_end; ++k) {
    std::string_view part = k == plan.begin ? e[k] : e[k].substr(prefix);
    std::memcpy(p + kJet4Format.index_entries + pos, part.data(), part.size());
    pos += part.size();
    p[kJet4Format.index_bitmap + pos / 8] = static_cast<std::uint8_t>(p[kJet4Format.index_bitmap + pos / 8] | (1u << (pos % 8)));
  }
  Put16(p + 2, static_cast<std::uint16_t>(kIndexSpace - pos));
}

}  // namespace

BuiltIndex BuildIndexPages(const IndexEntries& entries, std::uint32_t tdef_page, PageStore* store) {
  BuiltIndex built;
  if (entries.Count() == 0) {
    built.root = store->Allocate();
    std::uint8_t* p = store->At(built.root);
    p[0] = static_cast<std::uint8_t>(PageType::IndexLeaf);
    p[1] = 0x01;
    Put32(p + 4, tdef_page);
    Put16(p + 2, static_cast<std::uint16_t>(kIndexSpace));
    built.pages.push_back(built.root);
    return built;
  }
  std::vector<std::string_view> level(entries.Count());
  for (std::size_t i = 0; i < entries.Count(); ++i) level[i] = entries.Entry(i);
  bool leaf = true;
  std::vector<std::string> node_storage;  // keeps the node entries of the level being built
  std::vector<std::uint32_t> children;    // child page of each entry of a node level
  for (;;) {
    std::vector<PagePlan> plans = Pack(level);
    std::vector<std::uint32_t> numbers(plans.size());
    for (auto& n : numbers) {
      n = store->Allocate();
      built.pages.push_back(n);
    }
    for (std::size_t k = 0; k < plans.size(); ++k) {
      std::size_t stored_end = plans[k].end;
      std::uint32_t tail = 0;
      bool rightmost = k + 1 == plans.size();
      if (!leaf && rightmost && plans[k].end - plans[k].begin >= 2) {
        tail = children[plans[k].end - 1];
        stored_end = plans[k].end - 1;
      }
      WritePage(store->At(numbers[k]), leaf, tdef_page, level, plans[k], stored_end, k > 0 ? numbers[k - 1] : 0,
                rightmost ? 0 : numbers[k + 1], tail);
    }
    if (plans.size() == 1) {
      built.root = numbers[0];
      return built;
    }
    // The next level up: the last entry of each page, with the page number after it.
    std::vector<std::string> next_storage;
    next_storage.reserve(plans.size());
    for (std::size_t k = 0; k < plans.size(); ++k) {
      std::string_view last = level[plans[k].end - 1];
      std::string node(leaf ? last : last.substr(0, last.size() - 4));
      node.push_back(static_cast<char>(numbers[k] >> 24));
      node.push_back(static_cast<char>(numbers[k] >> 16));
      node.push_back(static_cast<char>(numbers[k] >> 8));
      node.push_back(static_cast<char>(numbers[k]));
      next_storage.push_back(std::move(node));
    }
    node_storage.swap(next_storage);
    children = numbers;
    level.assign(node_storage.begin(), node_storage.end());
    leaf = false;
  }
}

}  // namespace jet::create
