#include "jet/index/tree_editor.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "jet/error.h"
#include "jet/format/bytes.h"

namespace jet::index_tree {
namespace {

std::optional<IndexEntry> LastOf(const std::vector<IndexEntry>& entries, std::uint32_t tail,
                                 const std::optional<IndexEntry>& tail_last) {
  if (tail != 0) return tail_last;
  if (entries.empty()) return std::nullopt;
  return LeafPart(entries.back());
}

// Makes `pieces` (each but the last with its last entry known) the last children of a
// node's content: each but the last through an entry repeating its last entry, the last as
// the tail.
void AppendChildren(Content& c, const std::vector<Piece>& pieces) {
  for (std::size_t k = 0; k + 1 < pieces.size(); ++k) {
    IndexEntry e = *pieces[k].last;
    e.child_page = pieces[k].page;
    c.entries.push_back(std::move(e));
  }
  c.tail = pieces.back().page;
  c.tail_last = pieces.back().last;
}

}  // namespace

std::string SortBytes(const IndexEntry& e) { return StoredIndexEntry(e, true); }

int CompareSort(const IndexEntry& e, const std::string& bytes) {
  std::uint8_t ptr[kIndexRowIdSize];
  PutIndexRowId(ptr, e.row);
  const std::size_t n = e.key.size() + kIndexRowIdSize;
  for (std::size_t i = 0; i < n && i < bytes.size(); ++i) {
    unsigned char a = i < e.key.size() ? static_cast<unsigned char>(e.key[i]) : ptr[i - e.key.size()];
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return n < bytes.size() ? -1 : (n > bytes.size() ? 1 : 0);
}

std::size_t LowerBound(const std::vector<IndexEntry>& es, const std::string& bytes) {
  auto it = std::partition_point(es.begin(), es.end(), [&](const IndexEntry& e) { return CompareSort(e, bytes) < 0; });
  return static_cast<std::size_t>(it - es.begin());
}

bool SameRow(const IndexEntry& a, const IndexEntry& b) {
  return a.key == b.key && a.row == b.row;
}

IndexEntry LeafPart(const IndexEntry& e) {
  IndexEntry l = e;
  l.child_page = 0;
  return l;
}

std::string PageName(std::uint32_t number) { return "index page " + std::to_string(number); }

TreeEditor::TreeEditor(PageEditor& editor, std::uint32_t table_page, PageSource new_page)
    : ed_(editor), f_(editor.format()), table_(table_page), new_page_(std::move(new_page)) {
  if (!new_page_) new_page_ = [this] { return ed_.Allocate(); };
}

IndexPage TreeEditor::Load(std::uint32_t number) {
  if (number == 0) ThrowCorrupt("an index refers to page 0");
  return Check(number, ed_.Read(number));
}

IndexPage TreeEditor::Check(std::uint32_t number, const PageRef& p) const {
  IndexPage page = ParseIndexPage(ViewOf(p, "index page"), number, f_);
  if (page.owner != table_)
    ThrowCorrupt(PageName(number) + " belongs to the table at page " + std::to_string(page.owner) + ", not " +
                 std::to_string(table_));
  return page;
}

std::vector<Piece> TreeEditor::Emit(std::uint32_t number, Content c, std::uint32_t prev, std::uint32_t next, bool root,
                                     bool append) {
  IndexPage page;
  page.leaf = c.leaf;
  page.owner = table_;
  page.prev_page = prev;
  page.next_page = next;
  page.tail_page = c.tail;
  page.entries = std::move(c.entries);
  page.prefix_length = CommonIndexPrefix(page.entries, f_);
  if (IndexPageFits(page, f_)) {
    Put(number, page);
    return {Piece{number, LastOf(page.entries, c.tail, c.tail_last)}};
  }
  std::vector<Range> ranges = Split(page.entries, page.leaf, append);
  std::vector<std::uint32_t> numbers(ranges.size());
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    if (k == 0 && !root) {
      numbers[k] = number;
    } else {
      numbers[k] = new_page_();
      added_.push_back(numbers[k]);
    }
  }
  std::vector<Piece> pieces;
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    bool last = k + 1 == ranges.size();
    IndexPage part;
    part.leaf = page.leaf;
    part.owner = table_;
    part.prev_page = k > 0 ? numbers[k - 1] : (root ? 0 : prev);
    part.next_page = last ? (root ? 0 : next) : numbers[k + 1];
    part.tail_page = last ? c.tail : 0;
    part.entries.assign(std::make_move_iterator(page.entries.begin() + static_cast<std::ptrdiff_t>(ranges[k].begin)),
                        std::make_move_iterator(page.entries.begin() + static_cast<std::ptrdiff_t>(ranges[k].end)));
    part.prefix_length = CommonIndexPrefix(part.entries, f_);
    Put(numbers[k], part, numbers[k] != number);
    pieces.push_back(Piece{numbers[k], LastOf(part.entries, part.tail_page, last ? c.tail_last : std::nullopt)});
  }
  if (!root) return pieces;

  // The root keeps its page: it becomes a node over the pages just written, the last one
  // its tail.
  Content top;
  top.leaf = false;
  AppendChildren(top, pieces);
  return Emit(number, std::move(top), 0, 0, true);
}

bool TreeEditor::Place(Content& c, const IndexEntry* old, std::uint32_t old_child, const std::vector<Piece>& pieces) {
  if (old != nullptr) {
    bool changed = pieces.size() != 1 || pieces[0].page != old_child;
    for (const Piece& p : pieces) {
      IndexEntry e = p.last ? *p.last : *old;
      if (p.last && !SameRow(*p.last, *old)) changed = true;
      e.child_page = p.page;
      c.entries.push_back(std::move(e));
    }
    return changed;
  }
  if (pieces.empty()) {
    c.tail = 0;
    c.tail_last.reset();
    return true;
  }
  AppendChildren(c, pieces);
  return pieces.size() != 1 || pieces[0].page != old_child;
}

void TreeEditor::SetPrev(std::uint32_t page, std::uint32_t prev) {
  std::vector<std::uint8_t>& w = ed_.Write(page);
  Put32(w.data() + f_.index_prev_page, prev);
  ++written_;
}

void TreeEditor::SetNext(std::uint32_t page, std::uint32_t next) {
  std::vector<std::uint8_t>& w = ed_.Write(page);
  Put32(w.data() + f_.index_next_page, next);
  ++written_;
}

void TreeEditor::Put(std::uint32_t number, const IndexPage& page, bool fresh) {
  std::vector<std::uint8_t>& w = ed_.Write(number);
  if (w.size() != f_.page_size) ThrowCorrupt(PageName(number) + " has the wrong size");
  if (fresh) std::fill(w.begin(), w.end(), std::uint8_t{0});
  EncodeIndexPage(page, f_, w.data());
  ++written_;
}

std::size_t TreeEditor::RangeBytes(const std::vector<IndexEntry>& e, std::size_t begin, std::size_t end, bool leaf) const {
  std::size_t raw = 0, prefix = std::min(e[begin].key.size(), MaxIndexPrefix(f_));
  for (std::size_t i = begin; i < end; ++i) {
    raw += e[i].key.size() + IndexPointerSize(leaf);
    if (i > begin) prefix = std::min(prefix, SharedLength(e[begin].key, e[i].key));
  }
  return end - begin < 2 ? raw : raw - (end - begin - 1) * prefix;
}

std::size_t TreeEditor::RunEnd(const std::vector<IndexEntry>& e, std::size_t begin, bool leaf) const {
  const std::size_t space = f_.page_size - f_.index_entries;
  std::size_t raw = e[begin].key.size() + IndexPointerSize(leaf), prefix = std::min(e[begin].key.size(), MaxIndexPrefix(f_));
  std::size_t end = begin + 1;
  while (end < e.size()) {
    std::size_t p = std::min(prefix, SharedLength(e[begin].key, e[end].key));
    std::size_t r = raw + e[end].key.size() + IndexPointerSize(leaf);
    if (r - (end - begin) * p > space) break;
    prefix = p;
    raw = r;
    ++end;
  }
  return end;
}

std::vector<TreeEditor::Range> TreeEditor::Split(const std::vector<IndexEntry>& e, bool leaf, bool append) const {
  const std::size_t space = f_.page_size - f_.index_entries;
  const std::size_t n = e.size();
  for (const auto& x : e)
    if (x.key.size() + IndexPointerSize(leaf) > space) ThrowCorrupt("an index key is too long for an index page");
  // The rightmost page grows at its end: keep it full and start the next page with the
  // newest entry (in a node, the one beside the tail).
  if (append && n > 1 && RangeBytes(e, 0, n - 1, leaf) <= space) return {{0, n - 1}, {n - 1, n}};
  std::vector<Range> greedy;
  for (std::size_t i = 0; i < n;) {
    std::size_t j = RunEnd(e, i, leaf);
    greedy.push_back({i, j});
    i = j;
  }
  // The same number of pages with about equal shares of the bytes.
  const std::size_t pages = greedy.size();
  std::size_t raw = 0;
  for (const auto& x : e) raw += x.key.size() + IndexPointerSize(leaf);
  std::vector<Range> ranges;
  std::size_t begin = 0, acc = 0;
  for (std::size_t i = 0; i + 1 < n && ranges.size() + 1 < pages; ++i) {
    acc += e[i].key.size() + IndexPointerSize(leaf);
    if (acc >= raw * (ranges.size() + 1) / pages) {
      ranges.push_back({begin, i + 1});
      begin = i + 1;
    }
  }
  ranges.push_back({begin, n});
  bool ok = ranges.size() == pages;
  for (const Range& r : ranges) ok = ok && r.end > r.begin && RangeBytes(e, r.begin, r.end, leaf) <= space;
  return ok ? ranges : greedy;
}

}  // namespace jet::index_tree
