#include "jet/index/index_check.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "jet/error.h"
#include "jet/format/index_page.h"

namespace jet {
namespace {

constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxProblems = 20;  // a wrecked tree would otherwise report every page

class TreeChecker {
 public:
  TreeChecker(Pager& pager, std::uint32_t table_page, const std::function<void(const IndexLeafView&)>& leaf)
      : pager_(pager), table_page_(table_page), leaf_visit_(leaf) {}

  IndexTreeReport Run(std::uint32_t root) {
    std::optional<std::string> last;
    Visit(root, 0, &last);
    for (const auto& level : report_.levels)
      for (std::size_t k = 0; k < level.size(); ++k) {
        const std::uint32_t want_prev = k > 0 ? level[k - 1] : 0, want_next = k + 1 < level.size() ? level[k + 1] : 0;
        const auto& [prev, next] = links_[level[k]];
        if (prev != want_prev || next != want_next)
          Problem(level[k], "links to " + std::to_string(prev) + " and " + std::to_string(next) + " instead of " +
                                std::to_string(want_prev) + " and " + std::to_string(want_next));
      }
    return std::move(report_);
  }

 private:
  void Problem(std::uint32_t page, const std::string& what) {
    if (report_.problems.size() < kMaxProblems) report_.problems.push_back("page " + std::to_string(page) + " " + what);
  }

  // The height of the subtree at `number` (leaves 0, -1 when unreadable); sets *last to
  // its last entry in stored leaf form, left as it was for an empty subtree.
  int Visit(std::uint32_t number, std::size_t depth, std::optional<std::string>* last) {
    if (depth > kMaxDepth) {
      Problem(number, "lies deeper than any real index");
      return -1;
    }
    if (!seen_.insert(number).second) {
      Problem(number, "is reached twice");
      return -1;
    }
    IndexPage page;
    std::optional<IndexLeafView> leaf;  // a leaf is read where its entries lie
    PageRef bytes;
    try {
      bytes = pager_.Read(number);
      const ByteView view = ViewOf(bytes, "index page");
      std::size_t used = 0;
      if (view.U8(0) == static_cast<std::uint8_t>(PageType::IndexLeaf)) {
        leaf.emplace(view, number, pager_.format());
        page.owner = leaf->owner();
        page.prev_page = leaf->prev_page();
        page.next_page = leaf->next_page();
        page.tail_page = leaf->tail_page();
        used = leaf->used_bytes();
      } else {
        page = ParseIndexPage(view, number, pager_.format());
        used = IndexEntryBytes(page);
      }
      const std::size_t free_space = view.U16(2);
      const std::size_t want = pager_.format().page_size - pager_.format().index_entries - used;
      if (free_space != want)
        Problem(number, "records " + std::to_string(free_space) + " bytes free instead of " + std::to_string(want));
    } catch (const FormatError& e) {
      Problem(number, std::string("cannot be read: ") + e.what());
      return -1;
    }
    if (page.owner != table_page_) Problem(number, "belongs to the table at page " + std::to_string(page.owner));
    links_[number] = {page.prev_page, page.next_page};
    const bool empty = leaf ? leaf->size() == 0 : page.entries.empty();
    if (depth > 0 && empty && page.tail_page == 0) Problem(number, "is empty");
    int height = 0;
    if (leaf) {
      if (page.tail_page != 0) Problem(number, "is a leaf with a tail");
      if (leaf->size() > 0) {
        // Entries after the first share its prefix, so their own bytes order them; the
        // first is held in full against the last entry of the leaf before.
        const std::string_view first = leaf->Own(0);
        if (!last_leaf_entry_.empty() && first <= last_leaf_entry_) Problem(number, "holds entries out of order");
        std::string_view before = first.substr(std::min(first.size(), leaf->prefix_length()));
        for (std::size_t i = 1; i < leaf->size(); ++i) {
          const std::string_view own = leaf->Own(i);
          if (own <= before) Problem(number, "holds entries out of order");
          before = own;
        }
        leaf->StoredInto(leaf->size() - 1, &last_leaf_entry_);
        *last = last_leaf_entry_;
      }
      if (leaf_visit_) leaf_visit_(*leaf);
    } else {
      height = -1;
      auto child = [&](std::uint32_t child_page, const IndexEntry* entry) {
        std::optional<std::string> child_last;
        const int h = Visit(child_page, depth + 1, &child_last);
        if (h >= 0 && height >= 0 && h != height) Problem(number, "has leaves at different depths below it");
        if (h >= 0) height = h;
        if (entry != nullptr && h >= 0 && child_last != StoredIndexEntry(*entry, true))
          Problem(number, "has an entry that is not the last entry of its child " + std::to_string(child_page));
        if (child_last) *last = std::move(child_last);
      };
      for (const IndexEntry& e : page.entries) child(e.child_page, &e);
      // A tail is the node's last child, kept without an entry of its own; Access puts one
      // on the last node of a level, other writers on any node. Whatever the tail holds
      // lies after the other children (the leaf order shows it) and within the node's own
      // bound in its parent (its last entry counts as the node's last).
      if (page.tail_page != 0) child(page.tail_page, nullptr);
      if (height < 0) return -1;
      ++height;
    }
    if (report_.levels.size() <= depth) report_.levels.resize(depth + 1);
    report_.levels[depth].push_back(number);
    return height;
  }

  Pager& pager_;
  std::uint32_t table_page_;
  IndexTreeReport report_;
  std::unordered_set<std::uint32_t> seen_;
  std::unordered_map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> links_;
  const std::function<void(const IndexLeafView&)>& leaf_visit_;
  std::string last_leaf_entry_;  // empty before the first leaf entry (no stored entry is empty)
};

}  // namespace

IndexTreeReport CheckIndexTree(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
                               const std::function<void(const IndexLeafView&)>& leaf) {
  return TreeChecker(pager, table_page, leaf).Run(root_page);
}

}  // namespace jet
