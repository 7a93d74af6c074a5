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

std::size_t IndexTreeWriter::Fill::PrefixWith(std::string_view key, const Format& f) const {
  if (count_ == 0) return 0;
  const std::size_t before = count_ == 1 ? std::min(first_.size(), MaxIndexPrefix(f)) : prefix_;
  return std::min(before, SharedLength(first_, key));
}

bool IndexTreeWriter::Fill::Fits(std::string_view key, std::size_t prefix, const Format& f) const {
  return count_ == 0 || sum_ + key.size() + pointer_ - count_ * prefix <= f.page_size - f.index_entries;
}

void IndexTreeWriter::Fill::Take(std::string_view key, std::size_t prefix) {
  if (count_ == 0) first_.assign(key);
  else prefix_ = prefix;
  sum_ += key.size() + pointer_;
  ++count_;
}

IndexTreeWriter::IndexTreeWriter(const Format& format, std::uint32_t tdef_page, std::function<std::uint32_t()> allocate,
                                 std::function<void(std::uint32_t, std::vector<std::uint8_t>&)> put)
    : f_(format), owner_(tdef_page), allocate_(std::move(allocate)), put_(std::move(put)), bytes_(format.page_size) {
  leaf_.owner = tdef_page;
}

void IndexTreeWriter::Add(std::string_view key, RowId row) {
  std::size_t prefix = leaf_fill_.PrefixWith(key, f_);
  if (leaf_.entries.empty()) {
    if (leaf_number_ == 0) leaf_number_ = allocate_();
  } else if (!leaf_fill_.Fits(key, prefix, f_)) {
    const std::uint32_t next = allocate_();
    WriteLeaf(next);
    leaf_number_ = next;
    prefix = 0;
  }
  leaf_fill_.Take(key, prefix);
  leaf_.entries.push_back(IndexEntry{std::string(key), row, 0});
}

void IndexTreeWriter::WriteLeaf(std::uint32_t next) {
  leaf_.next_page = next;
  if (!leaf_.entries.empty()) {
    up_.push_back(leaf_.entries.back());
    up_.back().child_page = leaf_number_;
  }
  leaf_.prefix_length = leaf_fill_.prefix();
  Write(leaf_number_, leaf_);
  leaf_.prev_page = leaf_number_;
  leaf_.entries.clear();
  leaf_fill_ = Fill(IndexPointerSize(true));
}

void IndexTreeWriter::Write(std::uint32_t number, const IndexPage& page) {
  std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0});
  EncodeIndexPage(page, f_, bytes_.data());
  put_(number, bytes_);
  built_.pages.push_back(number);
}

BuiltIndex IndexTreeWriter::Finish() {
  if (leaf_number_ == 0) leaf_number_ = allocate_();
  WriteLeaf(0);
  built_.root = leaf_number_;
  std::vector<IndexEntry> level = std::move(up_);
  while (level.size() > 1) {
    // The level's pages, planned before they are written so that each knows its siblings.
    std::vector<std::size_t> ends;
    Fill fill(IndexPointerSize(false));
    for (std::size_t i = 0; i < level.size(); ++i) {
      std::size_t prefix = fill.PrefixWith(level[i].key, f_);
      if (!fill.Fits(level[i].key, prefix, f_)) {
        ends.push_back(i);
        fill = Fill(IndexPointerSize(false));
        prefix = 0;
      }
      fill.Take(level[i].key, prefix);
    }
    ends.push_back(level.size());
    std::vector<std::uint32_t> numbers(ends.size());
    for (std::uint32_t& n : numbers) n = allocate_();
    std::vector<IndexEntry> up;
    up.reserve(ends.size());
    for (std::size_t k = 0, begin = 0; k < ends.size(); begin = ends[k++]) {
      const bool rightmost = k + 1 == ends.size();
      IndexPage page;
      page.leaf = false;
      page.owner = owner_;
      page.prev_page = k > 0 ? numbers[k - 1] : 0;
      page.next_page = rightmost ? 0 : numbers[k + 1];
      std::size_t end = ends[k];
      up.push_back(level[end - 1]);
      up.back().child_page = numbers[k];
      if (rightmost && end - begin >= 2) page.tail_page = level[--end].child_page;
      page.entries.assign(std::make_move_iterator(level.begin() + static_cast<std::ptrdiff_t>(begin)),
                          std::make_move_iterator(level.begin() + static_cast<std::ptrdiff_t>(end)));
      page.prefix_length = CommonIndexPrefix(page.entries, f_);
      Write(numbers[k], page);
    }
    built_.root = numbers.back();
    level = std::move(up);
  }
  return std::move(built_);
}

BuiltIndex BuildIndexPages(const EntryCollector& entries, std::uint32_t tdef_page, PageEditor& store) {
  IndexTreeWriter writer(
      kJet4Format, tdef_page, [&] { return store.Allocate(); },
      [&](std::uint32_t page, std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t>& out = store.Write(page);
        std::copy(bytes.begin(), bytes.end(), out.begin());
      });
  for (std::size_t i = 0; i < entries.Count(); ++i) {
    const std::string_view entry = entries.Entry(i);
    writer.Add(entry.substr(0, entry.size() - kIndexRowIdSize), IndexRowIdOf(entry));
  }
  return writer.Finish();
}

}  // namespace jet::create
