#include "jet/index/index_walk.h"

#include <unordered_set>

namespace jet {
namespace {

constexpr int kMaxDepth = 32;

class Walker {
 public:
  Walker(Pager& pager, std::uint32_t table_page, const std::function<bool(const IndexEntry&)>& visit)
      : pager_(pager), table_page_(table_page), visit_(visit) {}

  // False once the visitor asked to stop.
  bool Visit(std::uint32_t number, int depth) {
    if (depth > kMaxDepth) ThrowCorrupt("the index at page " + std::to_string(number) + " is deeper than any real one");
    if (!seen_.insert(number).second) return true;  // reached twice through tail or sibling links
    IndexPage page = Load(number);
    if (page.leaf) {
      last_leaf_ = number;
      last_next_ = page.next_page;
      for (const auto& e : page.entries)
        if (!visit_(e)) return false;
      return true;
    }
    for (const auto& e : page.entries)
      if (!Visit(e.child_page, depth + 1)) return false;
    if (page.tail_page != 0 && !Visit(page.tail_page, depth + 1)) return false;
    return true;
  }

  // Leaves linked after the last one the tree led to.
  void FollowSiblings() {
    std::uint32_t next = last_next_;
    while (next != 0 && seen_.insert(next).second) {
      IndexPage page = Load(next);
      if (!page.leaf) ThrowCorrupt("index leaf page " + std::to_string(last_leaf_) + " links to a node page");
      for (const auto& e : page.entries)
        if (!visit_(e)) return;
      last_leaf_ = next;
      next = page.next_page;
    }
  }

 private:
  IndexPage Load(std::uint32_t number) {
    PageRef p = pager_.Read(number);
    IndexPage page = ParseIndexPage(ViewOf(p, "index page"), number, pager_.format());
    if (page.owner != table_page_)
      ThrowCorrupt("index page " + std::to_string(number) + " belongs to the table at page " +
                   std::to_string(page.owner) + ", not " + std::to_string(table_page_));
    return page;
  }

  Pager& pager_;
  std::uint32_t table_page_;
  const std::function<bool(const IndexEntry&)>& visit_;
  std::unordered_set<std::uint32_t> seen_;
  std::uint32_t last_leaf_ = 0;
  std::uint32_t last_next_ = 0;
};

}  // namespace

void WalkIndex(Pager& pager, std::uint32_t table_page, std::uint32_t root_page,
               const std::function<bool(const IndexEntry&)>& visit) {
  if (root_page == 0) return;
  Walker w(pager, table_page, visit);
  if (w.Visit(root_page, 0)) w.FollowSiblings();
}

}  // namespace jet
