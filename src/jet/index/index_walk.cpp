#include "jet/index/index_walk.h"

#include <unordered_set>

namespace jet {
namespace {

constexpr int kMaxDepth = 32;

class Walker {
 public:
  Walker(Pager& pager, std::uint32_t table_page, const std::function<bool(const IndexLeafView&)>& visit)
      : pager_(pager), table_page_(table_page), visit_(visit) {}

  // False once the visitor asked to stop.
  bool Visit(std::uint32_t number, int depth) {
    if (depth > kMaxDepth) ThrowCorrupt("the index at page " + std::to_string(number) + " is deeper than any real one");
    if (!seen_.insert(number).second) return true;  // reached twice through tail or sibling links
    const PageRef bytes = pager_.Read(number);
    const ByteView view = ViewOf(bytes, "index page");
    if (view.U8(0) == static_cast<std::uint8_t>(PageType::IndexLeaf)) return Leaf(number, view);
    const IndexPage page = ParseIndexPage(view, number, pager_.format());
    CheckOwner(number, page.owner);
    for (const auto& e : page.entries)
      if (!Visit(e.child_page, depth + 1)) return false;
    if (page.tail_page != 0 && !Visit(page.tail_page, depth + 1)) return false;
    return true;
  }

  // Leaves linked after the last one the tree led to.
  void FollowSiblings() {
    while (last_next_ != 0 && seen_.insert(last_next_).second) {
      const std::uint32_t number = last_next_;
      const PageRef bytes = pager_.Read(number);
      const ByteView view = ViewOf(bytes, "index page");
      if (view.U8(0) != static_cast<std::uint8_t>(PageType::IndexLeaf))
        ThrowCorrupt("index leaf page " + std::to_string(last_leaf_) + " links to a node page");
      if (!Leaf(number, view)) return;
    }
  }

 private:
  bool Leaf(std::uint32_t number, ByteView view) {
    const IndexLeafView leaf(view, number, pager_.format());
    CheckOwner(number, leaf.owner());
    last_leaf_ = number;
    last_next_ = leaf.next_page();
    return visit_(leaf);
  }

  void CheckOwner(std::uint32_t number, std::uint32_t owner) const {
    if (owner != table_page_)
      ThrowCorrupt("index page " + std::to_string(number) + " belongs to the table at page " + std::to_string(owner) +
                   ", not " + std::to_string(table_page_));
  }

  Pager& pager_;
  std::uint32_t table_page_;
  const std::function<bool(const IndexLeafView&)>& visit_;
  std::unordered_set<std::uint32_t> seen_;
  std::uint32_t last_leaf_ = 0;
  std::uint32_t last_next_ = 0;
};

}  // namespace

void WalkIndexLeaves(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
                     const std::function<bool(const IndexLeafView&)>& visit) {
  if (root_page == 0) return;
  Walker w(pager, table_page, visit);
  if (w.Visit(root_page, 0)) w.FollowSiblings();
}

void WalkIndex(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
               const std::function<bool(const IndexEntry&)>& visit) {
  WalkIndexLeaves(pager, table_page, root_page, [&](const IndexLeafView& leaf) {
    for (std::size_t i = 0; i < leaf.size(); ++i)
      if (!visit(leaf.Entry(i))) return false;
    return true;
  });
}

}  // namespace jet
