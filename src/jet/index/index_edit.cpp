#include "jet/index/index_edit.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_set>

#include "jet/error.h"
#include "jet/format/bytes.h"
#include "jet/table/table_reader.h"

namespace jet {
namespace {

constexpr int kMaxDepth = 32;

// Entries sort by key and then row pointer, compared byte by byte as stored.
std::string SortBytes(const IndexEntry& e) { return StoredIndexEntry(e, true); }

// Compares the entry's sort bytes (as SortBytes gives them) with `bytes`, without building them.
int CompareSort(const IndexEntry& e, const std::string& bytes) {
  const unsigned char ptr[4] = {static_cast<unsigned char>(e.data_page >> 16), static_cast<unsigned char>(e.data_page >> 8),
                                static_cast<unsigned char>(e.data_page), e.data_row};
  const std::size_t n = e.key.size() + 4;
  for (std::size_t i = 0; i < n && i < bytes.size(); ++i) {
    unsigned char a = i < e.key.size() ? static_cast<unsigned char>(e.key[i]) : ptr[i - e.key.size()];
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (a != b) return a < b ? -1 : 1;
  }
  return n < bytes.size() ? -1 : (n > bytes.size() ? 1 : 0);
}

// The first entry that does not sort before `bytes`.
std::size_t LowerBound(const std::vector<IndexEntry>& es, const std::string& bytes) {
  auto it = std::partition_point(es.begin(), es.end(), [&](const IndexEntry& e) { return CompareSort(e, bytes) < 0; });
  return static_cast<std::size_t>(it - es.begin());
}

bool SameRow(const IndexEntry& a, const IndexEntry& b) {
  return a.key == b.key && a.data_page == b.data_page && a.data_row == b.data_row;
}

IndexEntry LeafPart(const IndexEntry& e) {
  IndexEntry l = e;
  l.child_page = 0;
  return l;
}

std::string PageName(std::uint32_t number) { return "index page " + std::to_string(number); }

// A page that takes the place of a child in its parent after an edit, with the child's
// last entry when it is known to have changed (nullopt: the parent's entry still holds).
struct Piece {
  std::uint32_t page = 0;
  std::optional<IndexEntry> last;
};

// What goes onto one or more pages of one level.
struct Content {
  bool leaf = true;
  std::vector<IndexEntry> entries;
  std::uint32_t tail = 0;
  std::optional<IndexEntry> tail_last;  // the tail child's last entry, when known
};

struct Range {
  std::size_t begin = 0, end = 0;
};

// Common work of the edits: loading checked pages, writing content back onto one page or
// splitting it over several, and replacing a child in its parent by what became of it.
class TreeEditor {
 public:
  TreeEditor(PageEditor& editor, std::uint32_t table_page)
      : ed_(editor), f_(editor.format()), table_(table_page) {}

  IndexPage Load(std::uint32_t number) {
    if (number == 0) ThrowCorrupt("an index refers to page 0");
    PageRef p = ed_.Read(number);
    IndexPage page = ParseIndexPage(ViewOf(p, "index page"), number, f_);
    if (page.owner != table_)
      ThrowCorrupt(PageName(number) + " belongs to the table at page " + std::to_string(page.owner) + ", not " +
                   std::to_string(table_));
    return page;
  }

  // Writes `c` onto page `number` (and new pages after it if it does not fit one), the
  // first page linked back to `prev`, the last forward to `next`. A root that does not fit
  // keeps its page and becomes a node over new pages holding its content. `append` splits
  // off only the last entry, for entries added at the end of the rightmost page, so that
  // rising keys fill pages instead of leaving them half empty.
  std::vector<Piece> Emit(std::uint32_t number, Content c, std::uint32_t prev, std::uint32_t next, bool root,
                          bool append = false) {
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
        numbers[k] = ed_.Allocate();
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
    for (std::size_t k = 0; k + 1 < pieces.size(); ++k) {
      IndexEntry e = *pieces[k].last;
      e.child_page = pieces[k].page;
      top.entries.push_back(std::move(e));
    }
    top.tail = pieces.back().page;
    top.tail_last = pieces.back().last;
    return Emit(number, std::move(top), 0, 0, true);
  }

  // Replaces, in `c`, the child reached through `old` (an entry; nullptr for the tail) by
  // `pieces`. Returns whether the page's bytes change.
  bool Place(Content& c, const IndexEntry* old, std::uint32_t old_child, const std::vector<Piece>& pieces) {
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
    for (std::size_t k = 0; k + 1 < pieces.size(); ++k) {
      IndexEntry e = *pieces[k].last;
      e.child_page = pieces[k].page;
      c.entries.push_back(std::move(e));
    }
    c.tail = pieces.back().page;
    c.tail_last = pieces.back().last;
    return pieces.size() != 1 || pieces[0].page != old_child;
  }

  void SetPrev(std::uint32_t page, std::uint32_t prev) {
    std::vector<std::uint8_t>& w = ed_.Write(page);
    Put32(w.data() + f_.index_prev_page, prev);
    ++written_;
  }
  void SetNext(std::uint32_t page, std::uint32_t next) {
    std::vector<std::uint8_t>& w = ed_.Write(page);
    Put32(w.data() + f_.index_next_page, next);
    ++written_;
  }

  PageEditor& editor() { return ed_; }
  const Format& format() const { return f_; }
  std::size_t written() const { return written_; }
  const std::vector<std::uint32_t>& added() const { return added_; }

 private:
  static std::optional<IndexEntry> LastOf(const std::vector<IndexEntry>& entries, std::uint32_t tail,
                                          const std::optional<IndexEntry>& tail_last) {
    if (tail != 0) return tail_last;
    if (entries.empty()) return std::nullopt;
    return LeafPart(entries.back());
  }

  // `fresh`: a page just allocated, whose bytes of unknown meaning start at zero (a reused
  // page may hold anything).
  void Put(std::uint32_t number, const IndexPage& page, bool fresh = false) {
    std::vector<std::uint8_t>& w = ed_.Write(number);
    if (w.size() != f_.page_size) ThrowCorrupt(PageName(number) + " has the wrong size");
    if (fresh) std::fill(w.begin(), w.end(), std::uint8_t{0});
    EncodeIndexPage(page, f_, w.data());
    ++written_;
  }

  // The bytes entries [begin, end) take on one page, their shared prefix stored once.
  std::size_t RangeBytes(const std::vector<IndexEntry>& e, std::size_t begin, std::size_t end, bool leaf) const {
    std::size_t raw = 0, prefix = std::min(e[begin].key.size(), MaxIndexPrefix(f_));
    for (std::size_t i = begin; i < end; ++i) {
      raw += e[i].key.size() + IndexPointerSize(leaf);
      if (i > begin) prefix = std::min(prefix, SharedLength(e[begin].key, e[i].key));
    }
    return end - begin < 2 ? raw : raw - (end - begin - 1) * prefix;
  }

  // The end of the longest run of entries from `begin` that fits one page.
  std::size_t RunEnd(const std::vector<IndexEntry>& e, std::size_t begin, bool leaf) const {
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

  // Cuts entries into runs that each fit a page: as few as possible, of about equal size.
  std::vector<Range> Split(const std::vector<IndexEntry>& e, bool leaf, bool append) const {
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

  PageEditor& ed_;
  const Format& f_;
  std::uint32_t table_;
  std::size_t written_ = 0;
  std::vector<std::uint32_t> added_;
};

// One left-to-right pass removing the entries of a set of rows.
class Remover {
 public:
  Remover(PageEditor& editor, std::uint32_t table_page, const std::vector<RowId>& rows)
      : tree_(editor, table_page), rows_(rows) {}

  IndexRemoval Run(std::uint32_t root) {
    IndexPage page = Visit(root);
    Process(root, std::move(page), 0, true);
    // Leaves linked after the last one the tree leads to (appended before the nodes above
    // learned of them) are cleaned the same way; they have no parent entry to update.
    while (last_leaf_next_ != 0 && seen_.count(last_leaf_next_) == 0) {
      std::uint32_t number = last_leaf_next_;
      IndexPage leaf = Visit(number);
      if (!leaf.leaf) ThrowCorrupt("index leaf pages link to node " + PageName(number));
      ProcessLeaf(number, std::move(leaf), false);
    }
    for (auto& [level, link] : levels_)
      if (link.next != 0 && freed_.count(link.next) != 0) tree_.SetNext(link.page, 0);
    if (result_.entries_removed > 0) Collapse(root);
    result_.pages_written = tree_.written();
    result_.root_page = root;
    result_.added = tree_.added();
    return result_;
  }

 private:
  struct Link {
    std::uint32_t page = 0;
    std::uint32_t next = 0;  // the page's stored next pointer
  };
  static constexpr int kLeafLevel = -1;

  IndexPage Visit(std::uint32_t number) {
    if (!seen_.insert(number).second) ThrowCorrupt(PageName(number) + " is reached twice in its index");
    return tree_.Load(number);
  }

  bool Removed(const IndexEntry& e) const {
    return std::binary_search(rows_.begin(), rows_.end(), MakeRowId(e.data_page, e.data_row));
  }

  // The last page kept on the level so far, to which the next kept page links back.
  std::uint32_t PrevOnLevel(int level) const {
    auto it = levels_.find(level);
    return it == levels_.end() ? 0 : it->second.page;
  }

  // `number` is kept on `level` after the pages kept before it: join the two.
  void Keep(int level, std::uint32_t number, std::uint32_t stored_prev, std::uint32_t stored_next) {
    std::uint32_t prev = PrevOnLevel(level);
    if (stored_prev != prev) tree_.SetPrev(number, prev);
    auto it = levels_.find(level);
    if (it != levels_.end() && it->second.next != number) tree_.SetNext(it->second.page, number);
    levels_[level] = Link{number, stored_next};
  }

  void Release(std::uint32_t number) {
    tree_.editor().Free(number);
    freed_.insert(number);
    result_.freed.push_back(number);
    ++result_.pages_freed;
  }

  std::vector<Piece> Emit(int level, std::uint32_t number, Content c, std::uint32_t next, bool root) {
    std::vector<Piece> pieces = tree_.Emit(number, std::move(c), PrevOnLevel(level), next, root);
    if (root) return pieces;
    // The pages written are linked among themselves; join the first to the level.
    auto it = levels_.find(level);
    if (it != levels_.end() && it->second.next != pieces.front().page) tree_.SetNext(it->second.page, pieces.front().page);
    levels_[level] = Link{pieces.back().page, next};
    return pieces;
  }

  std::vector<Piece> Process(std::uint32_t number, IndexPage page, int depth, bool root) {
    if (depth > kMaxDepth) ThrowCorrupt("the index at " + PageName(number) + " is deeper than any real one");
    if (page.leaf) return ProcessLeaf(number, std::move(page), root);

    Content c;
    c.leaf = false;
    bool changed = false;
    std::vector<IndexEntry> entries = std::move(page.entries);
    for (const IndexEntry& e : entries) {
      std::vector<Piece> pieces = Process(e.child_page, Visit(e.child_page), depth + 1, false);
      changed = tree_.Place(c, &e, e.child_page, pieces) || changed;
    }
    if (page.tail_page != 0) {
      std::vector<Piece> pieces = Process(page.tail_page, Visit(page.tail_page), depth + 1, false);
      changed = tree_.Place(c, nullptr, page.tail_page, pieces) || changed;
      if (c.tail == 0 && !c.entries.empty()) {
        // The tail emptied: the last child left takes its place.
        c.tail = c.entries.back().child_page;
        c.tail_last = LeafPart(c.entries.back());
        c.entries.pop_back();
      }
    }
    if (c.entries.empty() && c.tail == 0) {
      if (root) {
        Content empty;
        return tree_.Emit(number, std::move(empty), 0, 0, true);
      }
      Release(number);
      return {};
    }
    if (!changed) {
      Keep(depth, number, page.prev_page, page.next_page);
      if (c.tail != 0) return {Piece{number, c.tail_last}};
      return {Piece{number, std::nullopt}};
    }
    return Emit(depth, number, std::move(c), page.next_page, root);
  }

  std::vector<Piece> ProcessLeaf(std::uint32_t number, IndexPage page, bool root) {
    last_leaf_next_ = page.next_page;
    const std::size_t before = page.entries.size();
    auto end = std::remove_if(page.entries.begin(), page.entries.end(), [&](const IndexEntry& e) { return Removed(e); });
    page.entries.erase(end, page.entries.end());
    const std::size_t removed = before - page.entries.size();
    result_.entries_removed += removed;
    if (removed == 0) {
      Keep(kLeafLevel, number, page.prev_page, page.next_page);
      return {Piece{number, std::nullopt}};
    }
    if (page.entries.empty() && !root) {
      Release(number);
      return {};
    }
    Content c;
    c.leaf = true;
    c.entries = std::move(page.entries);
    return Emit(kLeafLevel, number, std::move(c), page.next_page, root);
  }

  // A root node left with a single child takes that child's content; the child's page is
  // freed. The child is then the only page of its level, so nothing else links to it.
  void Collapse(std::uint32_t root) {
    for (int guard = 0; guard <= kMaxDepth; ++guard) {
      IndexPage page = tree_.Load(root);
      if (page.leaf) return;
      std::uint32_t child = 0;
      if (page.entries.size() == 1 && page.tail_page == 0) child = page.entries[0].child_page;
      else if (page.entries.empty() && page.tail_page != 0) child = page.tail_page;
      if (child == 0) return;
      IndexPage below = tree_.Load(child);
      Content c;
      c.leaf = below.leaf;
      c.entries = std::move(below.entries);
      c.tail = below.tail_page;
      tree_.Emit(root, std::move(c), 0, 0, true);
      Release(child);
    }
  }

  TreeEditor tree_;
  const std::vector<RowId>& rows_;
  IndexRemoval result_;
  std::map<int, Link> levels_;
  std::unordered_set<std::uint32_t> seen_;
  std::unordered_set<std::uint32_t> freed_;
  std::uint32_t last_leaf_next_ = 0;
};

}  // namespace

IndexRemoval RemoveIndexRows(PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page,
                             const std::vector<RowId>& rows) {
  if (root_page == 0) ThrowCorrupt("an index of the table at page " + std::to_string(table_page) + " has no root page");
  if (std::is_sorted(rows.begin(), rows.end())) return Remover(editor, table_page, rows).Run(root_page);
  std::vector<RowId> sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  return Remover(editor, table_page, sorted).Run(root_page);
}

namespace {

struct Frame {
  std::uint32_t number = 0;
  IndexPage page;
  std::size_t slot = 0;  // the entry descended through; entries.size() for the tail
};

std::string IndexDescription(const IndexInsertOptions& o) {
  std::string s = o.index_name.empty() ? std::string("a unique index") : "the unique index '" + o.index_name + "'";
  if (!o.table_name.empty()) s += " of table '" + o.table_name + "'";
  return s;
}

}  // namespace

IndexInsertion InsertIndexEntry(PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page,
                                const std::string& key, RowId row, const IndexInsertOptions& options) {
  if (root_page == 0) ThrowCorrupt("an index of the table at page " + std::to_string(table_page) + " has no root page");
  if (key.empty()) ThrowCorrupt("an index key is empty");
  TreeEditor tree(editor, table_page);
  const Format& f = editor.format();
  if (key.size() + 8 > f.page_size - f.index_entries) ThrowCorrupt("an index key is too long for an index page");

  IndexEntry entry;
  entry.key = key;
  entry.data_page = RowIdPage(row);
  entry.data_row = RowIdSlot(row);
  if (entry.data_page > 0xFFFFFF) ThrowCorrupt("a row pointer does not fit an index entry");
  const std::string wanted = SortBytes(entry);

  // Down to the leaf, remembering the way.
  std::vector<Frame> path;
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t number = root_page;
  IndexPage page;
  for (;;) {
    if (path.size() > static_cast<std::size_t>(kMaxDepth))
      ThrowCorrupt("the index at " + PageName(root_page) + " is deeper than any real one");
    if (!seen.insert(number).second) ThrowCorrupt(PageName(number) + " is reached twice in its index");
    page = tree.Load(number);
    if (page.leaf) break;
    const auto& es = page.entries;
    std::size_t slot = LowerBound(es, wanted);
    std::uint32_t child;
    if (slot < es.size()) {
      child = es[slot].child_page;
    } else if (page.tail_page != 0) {
      child = page.tail_page;
    } else if (!es.empty()) {
      slot = es.size() - 1;  // beyond the last entry of a page without a tail: its last child grows
      child = es[slot].child_page;
    } else {
      ThrowCorrupt(PageName(number) + " is a node without children");
    }
    path.push_back(Frame{number, std::move(page), slot});
    number = child;
  }

  auto& es = page.entries;
  std::size_t pos = LowerBound(es, wanted);
  if (pos < es.size() && CompareSort(es[pos], wanted) == 0)
    ThrowCorrupt(PageName(number) + " already holds an entry for row " + std::to_string(entry.data_page) + ":" +
                 std::to_string(entry.data_row));

  if (options.unique) {
    // Equal keys sit next to the new entry's place, perhaps on a neighbouring leaf.
    auto neighbour_has_key = [&](bool forward) {
      std::uint32_t link = forward ? page.next_page : page.prev_page;
      for (int hops = 0; link != 0 && hops < 64; ++hops) {
        IndexPage other = tree.Load(link);
        if (!other.entries.empty()) return (forward ? other.entries.front() : other.entries.back()).key == key;
        link = forward ? other.next_page : other.prev_page;
      }
      return false;
    };
    bool before = pos > 0 ? es[pos - 1].key == key : neighbour_has_key(false);
    bool after = pos < es.size() ? es[pos].key == key : neighbour_has_key(true);
    if (before || after)
      throw Error(ErrorCode::Integrity, "The row would repeat a key in " + IndexDescription(options));
  }

  const bool at_end = pos == es.size();
  es.insert(es.begin() + static_cast<std::ptrdiff_t>(pos), entry);
  Content c;
  c.leaf = true;
  c.entries = std::move(es);
  std::uint32_t next = page.next_page;
  std::vector<Piece> pieces = tree.Emit(number, std::move(c), page.prev_page, next, path.empty(), at_end && next == 0);
  if (!path.empty() && pieces.size() > 1 && next != 0) tree.SetPrev(next, pieces.back().page);
  if (!at_end && pieces.size() == 1) pieces[0].last.reset();  // the leaf's last entry stands

  // Up again while parents learn something new.
  while (!path.empty()) {
    Frame fr = std::move(path.back());
    path.pop_back();
    if (pieces.size() == 1 && !pieces[0].last) break;
    IndexPage& parent = fr.page;
    Content pc;
    pc.leaf = false;
    bool changed = false;
    bool via_tail = fr.slot == parent.entries.size();
    for (std::size_t i = 0; i < parent.entries.size(); ++i) {
      if (i == fr.slot) {
        changed = tree.Place(pc, &parent.entries[i], parent.entries[i].child_page, pieces) || changed;
      } else {
        pc.entries.push_back(std::move(parent.entries[i]));
      }
    }
    if (via_tail) {
      changed = tree.Place(pc, nullptr, parent.tail_page, pieces) || changed;
    } else {
      pc.tail = parent.tail_page;
    }
    const bool child_was_last = via_tail || (parent.tail_page == 0 && fr.slot + 1 == parent.entries.size());
    std::optional<IndexEntry> last = child_was_last ? pieces.back().last : std::nullopt;
    if (!changed) {
      // Bytes unchanged (a tail child grew): the parent's own last entry may still have moved.
      pieces = {Piece{fr.number, last}};
      continue;
    }
    std::uint32_t pnext = parent.next_page;
    bool append = via_tail && pnext == 0 && pieces.size() > 1;
    pc.tail_last = via_tail ? pieces.back().last : std::nullopt;
    pieces = tree.Emit(fr.number, std::move(pc), parent.prev_page, pnext, path.empty(), append);
    if (!path.empty() && pieces.size() > 1 && pnext != 0) tree.SetPrev(pnext, pieces.back().page);
    if (!child_was_last && pieces.size() == 1) pieces[0].last.reset();
  }

  IndexInsertion result;
  result.root_page = root_page;
  result.added = tree.added();
  result.pages_added = result.added.size();
  return result;
}

}  // namespace jet
