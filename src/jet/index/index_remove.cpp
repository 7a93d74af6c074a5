// Removing the entries of a set of rows from an index tree in one left-to-right pass.
//
// Leaves are handled on their stored bytes: a purge leaves most leaves either untouched or
// emptied, and neither needs the entries decoded. A leaf that loses some entries keeps
// its shared prefix (the entries left still share it) and is compacted in place; only its
// new last entry, which the parent repeats, is decoded.

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <unordered_set>

#include "jet/error.h"
#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"
#include "jet/index/tree_editor.h"
#include "jet/table/table_reader.h"

namespace jet {
namespace {

using namespace index_tree;

// The rows to remove, grouped by data page, for a quick test of each entry's pointer.
class RowSet {
 public:
  explicit RowSet(const std::vector<RowId>& sorted) {
    for (RowId id : sorted) {
      const std::uint32_t page = RowIdPage(id);
      if (pages_.empty() || pages_.back().page != page) pages_.push_back({page, {}});
      const std::uint8_t slot = RowIdSlot(id);
      pages_.back().bits[slot / 64] |= std::uint64_t{1} << (slot % 64);
    }
  }

  bool Contains(std::uint32_t page, std::uint8_t slot) const {
    if (last_ == nullptr || last_->page != page) {
      auto it = std::lower_bound(pages_.begin(), pages_.end(), page,
                                 [](const PageRows& p, std::uint32_t n) { return p.page < n; });
      if (it == pages_.end() || it->page != page) return false;
      last_ = &*it;
    }
    return (last_->bits[slot / 64] >> (slot % 64)) & 1u;
  }

 private:
  struct PageRows {
    std::uint32_t page = 0;
    std::array<std::uint64_t, 4> bits{};
  };
  std::vector<PageRows> pages_;
  mutable const PageRows* last_ = nullptr;
};

// A leaf's entries where they lie on the page: each entry's stored bytes run from the end
// of the one before to its own end.
struct LeafBytes {
  std::uint32_t prev = 0, next = 0;
  std::size_t prefix = 0;
  std::vector<std::uint16_t> ends;  // page offsets
};

class Remover {
 public:
  Remover(PageEditor& editor, std::uint32_t table_page, const std::vector<RowId>& rows)
      : tree_(editor, table_page), f_(editor.format()), rows_(rows) {}

  IndexRemoval Run(std::uint32_t root) {
    PageRef page = Visit(root);
    Process(root, page, 0, true);
    // Leaves linked after the last one the tree leads to (appended before the nodes above
    // learned of them) are cleaned the same way; they have no parent entry to update.
    while (last_leaf_next_ != 0 && seen_.count(last_leaf_next_) == 0) {
      std::uint32_t number = last_leaf_next_;
      PageRef leaf = Visit(number);
      if ((*leaf)[0] != static_cast<std::uint8_t>(PageType::IndexLeaf))
        ThrowCorrupt("index leaf pages link to node " + PageName(number));
      ProcessLeaf(number, leaf, false);
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

  PageRef Visit(std::uint32_t number) {
    if (number == 0) ThrowCorrupt("an index refers to page 0");
    if (!seen_.insert(number).second) ThrowCorrupt(PageName(number) + " is reached twice in its index");
    return tree_.editor().Read(number);
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

  std::vector<Piece> Process(std::uint32_t number, const PageRef& ref, int depth, bool root) {
    if (depth > kMaxDepth) ThrowCorrupt("the index at " + PageName(number) + " is deeper than any real one");
    if ((*ref)[0] == static_cast<std::uint8_t>(PageType::IndexLeaf)) return ProcessLeaf(number, ref, root);
    IndexPage page = tree_.Check(number, ref);

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
      if (root) return tree_.Emit(number, Content{}, 0, 0, true);
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

  // Where the entries of leaf `number` end, checked as ParseIndexPage checks them.
  LeafBytes Locate(std::uint32_t number, ByteView v) const {
    LeafBytes leaf;
    const std::uint32_t owner = v.U32(4);
    if (owner != tree_.table())
      ThrowCorrupt(PageName(number) + " belongs to the table at page " + std::to_string(owner) + ", not " +
                   std::to_string(tree_.table()));
    leaf.prev = v.U32(f_.index_prev_page);
    leaf.next = v.U32(f_.index_next_page);
    leaf.prefix = f_.index_prefix_length_size == 1 ? v.U8(f_.index_prefix_length) : v.U16(f_.index_prefix_length);
    const std::size_t bitmap_bytes = f_.index_entries - f_.index_bitmap;
    std::size_t start = f_.index_entries;
    for (std::size_t byte = 0; byte < bitmap_bytes; ++byte) {
      unsigned bits = v.U8(f_.index_bitmap + byte);
      while (bits != 0) {
        const std::size_t end = f_.index_entries + byte * 8 + static_cast<std::size_t>(__builtin_ctz(bits));
        bits &= bits - 1;
        if (end <= start || end > v.size()) ThrowCorrupt(PageName(number) + " has an entry outside the page");
        const std::size_t full = end - start + (leaf.ends.empty() ? 0 : leaf.prefix);
        if (leaf.ends.empty() && leaf.prefix > end - start)
          ThrowCorrupt(PageName(number) + " shares a prefix longer than its first entry");
        if (full < 5) ThrowCorrupt(PageName(number) + " has an entry too short for its key");
        leaf.ends.push_back(static_cast<std::uint16_t>(end));
        start = end;
      }
    }
    return leaf;
  }

  // Entry `i` of the leaf in full: the shared prefix (from the first entry) and its own bytes.
  static std::string FullEntry(const std::uint8_t* page, const LeafBytes& leaf, std::size_t i, std::size_t first_start) {
    const std::size_t start = i == 0 ? first_start : leaf.ends[i - 1];
    std::string s;
    if (i > 0) s.assign(reinterpret_cast<const char*>(page + first_start), leaf.prefix);
    s.append(reinterpret_cast<const char*>(page + start), leaf.ends[i] - start);
    return s;
  }

  std::vector<Piece> ProcessLeaf(std::uint32_t number, const PageRef& ref, bool root) {
    const ByteView view = ViewOf(ref, "index page");
    const LeafBytes leaf = Locate(number, view);
    last_leaf_next_ = leaf.next;
    const std::uint8_t* bytes = ref->data();
    const std::size_t first_start = f_.index_entries;

    // Which entries go: the row pointer is an entry's last four bytes, which the shared
    // prefix covers only in entries shorter than it allows (then the full entry is built).
    std::vector<bool> gone(leaf.ends.size());
    std::size_t removed = 0;
    for (std::size_t i = 0; i < leaf.ends.size(); ++i) {
      const std::size_t start = i == 0 ? first_start : leaf.ends[i - 1];
      const std::uint8_t* p = bytes + leaf.ends[i] - 4;
      std::string full;
      if (leaf.ends[i] - start < 4) {
        full = FullEntry(bytes, leaf, i, first_start);
        p = reinterpret_cast<const std::uint8_t*>(full.data() + full.size() - 4);
      }
      const RowPointer row = IndexRowPointerAt(p);
      gone[i] = rows_.Contains(row.page, row.row);
      removed += gone[i] ? 1 : 0;
    }
    result_.entries_removed += removed;
    if (removed == 0) {
      Keep(kLeafLevel, number, leaf.prev, leaf.next);
      return {Piece{number, std::nullopt}};
    }
    if (removed == leaf.ends.size() && !root) {
      Release(number);
      return {};
    }
    const bool last_gone = gone.back();
    std::string last;
    if (last_gone) {
      std::size_t k = leaf.ends.size();
      while (k > 0 && gone[k - 1]) --k;
      if (k > 0) last = FullEntry(bytes, leaf, k - 1, first_start);
    }
    Compact(number, leaf, gone, removed);
    Keep(kLeafLevel, number, leaf.prev, leaf.next);
    if (!last_gone || last.empty()) return {Piece{number, std::nullopt}};
    IndexEntry e;
    const std::size_t key = last.size() - 4;
    e.key = last.substr(0, key);
    e.row = IndexRowPointerOf(last);
    return {Piece{number, e}};
  }

  // Rewrites the leaf with the entries not `gone`, in one pass: the first kept entry in
  // full, the others as stored. The prefix stays, except on a leaf left with one entry
  // or none, which shares nothing.
  void Compact(std::uint32_t number, const LeafBytes& leaf, const std::vector<bool>& gone, std::size_t removed) {
    std::vector<std::uint8_t>& w = tree_.editor().Write(number);
    if (w.size() != f_.page_size) ThrowCorrupt(PageName(number) + " has the wrong size");
    tree_.CountWrite();
    const std::size_t kept = leaf.ends.size() - removed;
    const std::size_t first_start = f_.index_entries;
    const std::size_t prefix = kept < 2 ? 0 : leaf.prefix;
    scratch_.clear();
    std::vector<std::uint16_t> ends;
    ends.reserve(kept);
    for (std::size_t i = 0; i < leaf.ends.size(); ++i) {
      if (gone[i]) continue;
      const std::size_t start = i == 0 ? first_start : leaf.ends[i - 1];
      if (ends.empty() && i > 0) scratch_.insert(scratch_.end(), w.begin() + first_start, w.begin() + first_start + leaf.prefix);
      scratch_.insert(scratch_.end(), w.begin() + start, w.begin() + leaf.ends[i]);
      ends.push_back(static_cast<std::uint16_t>(scratch_.size()));
    }
    const std::size_t space = f_.page_size - f_.index_entries;
    if (!scratch_.empty()) std::memcpy(w.data() + first_start, scratch_.data(), scratch_.size());
    std::memset(w.data() + first_start + scratch_.size(), 0, space - scratch_.size());
    std::memset(w.data() + f_.index_bitmap, 0, f_.index_entries - f_.index_bitmap);
    for (std::uint16_t end : ends) w[f_.index_bitmap + end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
    Put16(w.data() + 2, static_cast<std::uint16_t>(space - scratch_.size()));
    if (f_.index_prefix_length_size == 1) {
      w[f_.index_prefix_length] = static_cast<std::uint8_t>(prefix);
    } else {
      Put16(w.data() + f_.index_prefix_length, static_cast<std::uint16_t>(prefix));
    }
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
  const Format& f_;
  RowSet rows_;
  IndexRemoval result_;
  std::map<int, Link> levels_;
  std::unordered_set<std::uint32_t> seen_;
  std::unordered_set<std::uint32_t> freed_;
  std::uint32_t last_leaf_next_ = 0;
  std::vector<std::uint8_t> scratch_;
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

}  // namespace jet
