// Removing the entries of a set of rows from an index tree in one left-to-right pass.
//
// Leaves are handled on their stored bytes (IndexLeafView): a purge leaves most leaves
// either untouched or emptied, and neither needs the entries decoded. A leaf that loses
// some entries keeps its shared prefix (the entries left still share it) and is compacted
// in place; only its new last entry, which the parent repeats, is decoded.
//
// The pass reads every page of the tree anyway, so it checks on the way what it is about
// to rewrite: each level's pages linked both ways in tree order, leaf entries in rising
// order, each node entry equal to the last entry below it, each page's free-space count
// true; and it tallies the rows the entries point at, for the caller to hold against the
// table's rows. A tree found inconsistent fails the statement rather than having a purge
// build on the damage.

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "jet/error.h"
#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"
#include "jet/index/tree_editor.h"
#include "jet/table/row_set.h"

namespace jet {
namespace {

using namespace index_tree;

// Whether `a` sorts after `b`, byte by byte (entries' own bytes are short and differ early:
// cheaper compared here than through memcmp).
bool After(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) > static_cast<unsigned char>(b[i]);
  return a.size() > b.size();
}

class Remover {
 public:
  Remover(PageEditor& editor, std::uint32_t table_page, const RowSet& rows, RowTally* met, RowSet* may)
      : tree_(editor, table_page),
        f_(editor.format()),
        rows_(rows),
        met_(met),
        may_(may != nullptr && !may->empty() ? may : nullptr) {}

  IndexRemoval Run(std::uint32_t root) {
    PageRef page = Visit(root);
    Process(root, page, 0, true);
    // Leaves linked after the last one the tree leads to (appended before the nodes above
    // learned of them) are cleaned the same way; they have no parent entry to update.
    while (last_leaf_next_ != 0 && !Marked(seen_, last_leaf_next_)) {
      std::uint32_t number = last_leaf_next_;
      PageRef leaf = Visit(number);
      if ((*leaf)[0] != static_cast<std::uint8_t>(PageType::IndexLeaf))
        ThrowCorrupt("index leaf pages link to node " + PageName(number));
      ProcessLeaf(number, leaf, false);
    }
    for (const Link& end : chain_)
      if (end.page != 0 && end.next != 0)
        ThrowCorrupt(PageName(end.page) + " links on to " + std::to_string(end.next) +
                     " after the last page of its level");
    for (auto& [level, link] : levels_)
      if (link.next != 0 && Marked(freed_, link.next)) tree_.SetNext(link.page, 0);
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
    if (Marked(seen_, number)) ThrowCorrupt(PageName(number) + " is reached twice in its index");
    PageRef page = tree_.editor().Read(number);  // a page past the end throws before it is marked
    Mark(seen_, number);
    return page;
  }

  // Sets of page numbers, one bit a page (64 KiB for a file at Jet's 2 GiB limit).
  static bool Marked(const std::vector<bool>& set, std::uint32_t number) {
    return number < set.size() && set[number];
  }
  static void Mark(std::vector<bool>& set, std::uint32_t number) {
    if (number >= set.size()) set.resize(std::max<std::size_t>(number + std::size_t{1}, set.size() * 2), false);
    set[number] = true;
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
    Mark(freed_, number);
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
    Chain(depth, number, page.prev_page, page.next_page);
    CheckFreeSpace(number, ViewOf(ref).U16(2), IndexEntryBytes(page));

    Content c;
    c.leaf = false;
    bool changed = false;
    std::vector<IndexEntry> entries = std::move(page.entries);
    for (const IndexEntry& e : entries) {
      std::vector<Piece> pieces = Process(e.child_page, Visit(e.child_page), depth + 1, false);
      if (!IsLastLeafEntry(e))
        ThrowCorrupt(PageName(number) + " has an entry that is not the last entry of its child " +
                     std::to_string(e.child_page));
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

  std::vector<Piece> ProcessLeaf(std::uint32_t number, const PageRef& ref, bool root) {
    const ByteView view = ViewOf(ref, "index page");
    const IndexLeafView leaf(view, number, f_);
    if (leaf.owner() != tree_.table())
      ThrowCorrupt(PageName(number) + " belongs to the table at page " + std::to_string(leaf.owner()) + ", not " +
                   std::to_string(tree_.table()));
    last_leaf_next_ = leaf.next_page();
    Chain(kLeafLevel, number, leaf.prev_page(), leaf.next_page());
    CheckFreeSpace(number, view.U16(2), leaf.used_bytes());
    CheckOrder(number, leaf);

    gone_.assign(leaf.size(), false);
    std::size_t removed = 0;
    for (std::size_t i = 0; i < leaf.size(); ++i) {
      const RowId row = leaf.row(i);
      const std::uint32_t data_page = row.page;
      const std::uint8_t data_row = row.row;
      if (met_ != nullptr && (may_ == nullptr || !may_->Take(data_page, data_row))) met_->Add(row);
      if (data_page != bits_page_) {
        bits_page_ = data_page;
        row_bits_ = rows_.PageBits(data_page);
      }
      if (row_bits_ == nullptr || ((row_bits_[data_row / 32] >> (data_row % 32)) & 1u) == 0) continue;
      gone_[i] = true;
      ++removed;
    }
    result_.entries_removed += removed;
    if (removed == 0) {
      Keep(kLeafLevel, number, leaf.prev_page(), leaf.next_page());
      return {Piece{number, std::nullopt}};
    }
    if (removed == leaf.size() && !root) {
      Release(number);
      return {};
    }
    // The parent repeats the leaf's last entry: a new one when the last goes.
    std::optional<IndexEntry> last;
    if (gone_.back()) {
      std::size_t k = leaf.size();
      while (k > 0 && gone_[k - 1]) --k;
      if (k > 0) last = leaf.Entry(k - 1);
    }
    std::vector<std::uint8_t>& w = tree_.editor().Write(number);
    if (w.size() != f_.page_size) ThrowCorrupt(PageName(number) + " has the wrong size");
    tree_.CountWrite();
    CompactIndexLeaf(leaf, gone_, w.data(), &scratch_);
    Keep(kLeafLevel, number, leaf.prev_page(), leaf.next_page());
    return {Piece{number, last}};
  }

  // `number`, with the stored links `prev` and `next`, comes next on `level`: the page
  // before it there must link to it and it back to that page.
  void Chain(int level, std::uint32_t number, std::uint32_t prev, std::uint32_t next) {
    Link& before = chain_[static_cast<std::size_t>(level - kLeafLevel)];
    if (prev != before.page || (before.page != 0 && before.next != number))
      ThrowCorrupt(PageName(number) + " and the page before it on its level (" + std::to_string(before.page) +
                   ") do not link to each other: they link to " + std::to_string(prev) + " and " +
                   std::to_string(before.next));
    before = Link{number, next};
  }

  void CheckFreeSpace(std::uint32_t number, std::size_t recorded, std::size_t entry_bytes) const {
    const std::size_t want = f_.page_size - f_.index_entries - entry_bytes;
    if (recorded != want)
      ThrowCorrupt(PageName(number) + " records " + std::to_string(recorded) + " bytes free instead of " +
                   std::to_string(want));
  }

  // The leaf's entries rise strictly, from above the last entry of the leaf before. All
  // entries share the prefix, so two neighbours compare as their own bytes do (the first
  // entry's own bytes after the prefix).
  void CheckOrder(std::uint32_t number, const IndexLeafView& leaf) {
    if (leaf.size() == 0) return;
    std::string_view before = leaf.Own(0);
    bool ordered = !have_leaf_entry_ || After(before, last_leaf_entry_);
    before.remove_prefix(leaf.prefix_length());
    for (std::size_t i = 1; i < leaf.size() && ordered; ++i) {
      const std::string_view own = leaf.Own(i);
      ordered = After(own, before);
      before = own;
    }
    if (!ordered) ThrowCorrupt(PageName(number) + " holds entries out of order");
    const std::size_t last = leaf.size() - 1;
    last_leaf_entry_.assign(last == 0 ? std::string_view() : leaf.Prefix());
    last_leaf_entry_.append(leaf.Own(last));
    have_leaf_entry_ = true;
  }

  // Whether the node entry `e` is the last leaf entry read, byte for byte as stored.
  bool IsLastLeafEntry(const IndexEntry& e) const {
    const std::string& s = last_leaf_entry_;
    const std::size_t k = e.key.size();
    if (!have_leaf_entry_ || s.size() != k + kIndexRowIdSize || s.compare(0, k, e.key) != 0) return false;
    return IndexRowIdOf(s) == e.row;
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
  const RowSet& rows_;
  RowTally* met_;
  RowSet* may_;
  // The data page entries last pointed into, and its bitmap in the rows to remove, looked
  // up once for the run of entries that point into it (the rows of a page lie together in
  // most indexes).
  std::uint32_t bits_page_ = 0xFFFFFFFF;
  const std::uint32_t* row_bits_ = nullptr;
  IndexRemoval result_;
  std::map<int, Link> levels_;
  std::array<Link, kMaxDepth + 2> chain_{};  // per level (leaves first), the last page read and its stored next
  std::string last_leaf_entry_;              // the last entry of the last leaf read, as stored
  bool have_leaf_entry_ = false;
  std::vector<bool> seen_;
  std::vector<bool> freed_;
  std::uint32_t last_leaf_next_ = 0;
  std::vector<bool> gone_;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace

IndexRemoval RemoveIndexRows(PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page, const RowSet& rows,
                             RowTally* met, RowSet* may) {
  if (root_page == 0) ThrowCorrupt("an index of the table at page " + std::to_string(table_page) + " has no root page");
  return Remover(editor, table_page, rows, met, may).Run(root_page);
}

}  // namespace jet
