// Adding one entry to an index tree: down to its leaf, into the leaf (split when full),
// and up again while parents learn of new pages or a new last entry.

#include <unordered_set>

#include "jet/error.h"
#include "jet/index/index_edit.h"
#include "jet/index/tree_editor.h"
#include "jet/table/table_reader.h"

namespace jet {
namespace {

using namespace index_tree;

struct Frame {
  std::uint32_t number = 0;
  IndexPage page;
  std::size_t slot = 0;  // the entry descended through; entries.size() for the tail
};

struct Descent {
  std::vector<Frame> path;  // the nodes above the leaf, root first
  std::uint32_t leaf_number = 0;
  IndexPage leaf;
};

std::string IndexDescription(const IndexInsertOptions& o) {
  std::string s = o.index_name.empty() ? std::string("a unique index") : "the unique index '" + o.index_name + "'";
  if (!o.table_name.empty()) s += " of table '" + o.table_name + "'";
  return s;
}

// The way from the root down to the leaf where `wanted` (sort bytes) belongs.
Descent Descend(TreeEditor& tree, std::uint32_t root_page, const std::string& wanted) {
  Descent d;
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t number = root_page;
  for (;;) {
    if (d.path.size() > static_cast<std::size_t>(kMaxDepth))
      ThrowCorrupt("the index at " + PageName(root_page) + " is deeper than any real one");
    if (!seen.insert(number).second) ThrowCorrupt(PageName(number) + " is reached twice in its index");
    IndexPage page = tree.Load(number);
    if (page.leaf) {
      d.leaf_number = number;
      d.leaf = std::move(page);
      return d;
    }
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
    d.path.push_back(Frame{number, std::move(page), slot});
    number = child;
  }
}

// Whether the first entry of the nearest non-empty leaf beside `leaf` (after it when
// `forward`, else its last entry before it) has `key`.
bool NeighbourHasKey(TreeEditor& tree, const IndexPage& leaf, const std::string& key, bool forward) {
  std::uint32_t link = forward ? leaf.next_page : leaf.prev_page;
  for (int hops = 0; link != 0 && hops < 64; ++hops) {
    IndexPage other = tree.Load(link);
    if (!other.entries.empty()) return (forward ? other.entries.front() : other.entries.back()).key == key;
    link = forward ? other.next_page : other.prev_page;
  }
  return false;
}

// Refuses a key a unique index already holds; equal keys sit next to the new entry's
// place `pos`, perhaps on a neighbouring leaf.
void RefuseRepeat(TreeEditor& tree, const IndexPage& leaf, std::size_t pos, const std::string& key,
                  const IndexInsertOptions& options) {
  const auto& es = leaf.entries;
  const bool before = pos > 0 ? es[pos - 1].key == key : NeighbourHasKey(tree, leaf, key, false);
  const bool after = pos < es.size() ? es[pos].key == key : NeighbourHasKey(tree, leaf, key, true);
  if (before || after) throw Error(ErrorCode::Integrity, "The row would repeat a key in " + IndexDescription(options));
}

// Puts `entry` into the leaf at `pos` and writes it back (split when full). The pieces
// carry a new last entry only where the leaf's last entry changed.
std::vector<Piece> InsertIntoLeaf(TreeEditor& tree, Descent& d, std::size_t pos, IndexEntry entry) {
  auto& es = d.leaf.entries;
  const bool at_end = pos == es.size();
  es.insert(es.begin() + static_cast<std::ptrdiff_t>(pos), std::move(entry));
  Content c;
  c.leaf = true;
  c.entries = std::move(es);
  const std::uint32_t next = d.leaf.next_page;
  std::vector<Piece> pieces =
      tree.Emit(d.leaf_number, std::move(c), d.leaf.prev_page, next, d.path.empty(), at_end && next == 0);
  if (!d.path.empty() && pieces.size() > 1 && next != 0) tree.SetPrev(next, pieces.back().page);
  if (!at_end && pieces.size() == 1) pieces[0].last.reset();  // the leaf's last entry stands
  return pieces;
}

// Puts `pieces` in place of the child the descent went through in `fr`'s node and writes
// the node back when its bytes change. Returns what the node's own parent must learn.
std::vector<Piece> UpdateParent(TreeEditor& tree, Frame& fr, std::vector<Piece> pieces, bool root) {
  IndexPage& parent = fr.page;
  Content pc;
  pc.leaf = false;
  bool changed = false;
  const bool via_tail = fr.slot == parent.entries.size();
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
  // Bytes unchanged (a tail child grew): the parent's own last entry may still have moved.
  if (!changed) return {Piece{fr.number, last}};
  const std::uint32_t next = parent.next_page;
  const bool append = via_tail && next == 0 && pieces.size() > 1;
  pc.tail_last = via_tail ? pieces.back().last : std::nullopt;
  std::vector<Piece> up = tree.Emit(fr.number, std::move(pc), parent.prev_page, next, root, append);
  if (!root && up.size() > 1 && next != 0) tree.SetPrev(next, up.back().page);
  if (!child_was_last && up.size() == 1) up[0].last.reset();
  return up;
}

IndexEntry MakeEntry(const std::string& key, RowId row) {
  IndexEntry entry;
  entry.key = key;
  entry.row = row;
  if (entry.row.page > 0xFFFFFF) ThrowCorrupt("a row pointer does not fit an index entry");
  return entry;
}

}  // namespace

IndexInsertion InsertIndexEntry(PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page,
                                const std::string& key, RowId row, const IndexInsertOptions& options) {
  if (root_page == 0) ThrowCorrupt("an index of the table at page " + std::to_string(table_page) + " has no root page");
  if (key.empty()) ThrowCorrupt("an index key is empty");
  const Format& f = editor.format();
  if (key.size() + 8 > f.page_size - f.index_entries) ThrowCorrupt("an index key is too long for an index page");
  TreeEditor tree(editor, table_page, options.new_page);
  IndexEntry entry = MakeEntry(key, row);
  const std::string wanted = SortBytes(entry);

  Descent d = Descend(tree, root_page, wanted);
  const std::size_t pos = LowerBound(d.leaf.entries, wanted);
  if (pos < d.leaf.entries.size() && CompareSort(d.leaf.entries[pos], wanted) == 0)
    ThrowCorrupt(PageName(d.leaf_number) + " already holds an entry for row " + std::to_string(entry.row.page) + ":" +
                 std::to_string(entry.row.row));
  if (options.unique) RefuseRepeat(tree, d.leaf, pos, key, options);

  std::vector<Piece> pieces = InsertIntoLeaf(tree, d, pos, std::move(entry));
  while (!d.path.empty() && !(pieces.size() == 1 && !pieces[0].last)) {
    Frame fr = std::move(d.path.back());
    d.path.pop_back();
    pieces = UpdateParent(tree, fr, std::move(pieces), d.path.empty());
  }

  IndexInsertion result;
  result.root_page = root_page;
  result.added = tree.added();
  result.pages_added = result.added.size();
  return result;
}

}  // namespace jet
