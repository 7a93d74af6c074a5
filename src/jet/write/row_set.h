#pragma once
// The rows a statement takes, held as one bitmap of slots per data page that has any:
// a page has at most 256 slots, so the set never takes more than 40 bytes per page of
// the file, however many rows match (about 20 MiB for a Jet 4 file at its 2 GiB limit).

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "jet/table_source.h"

namespace jet::write {

class RowSet {
 public:
  // Ids arrive in scan order, ascending; any other order is accepted, more slowly.
  void Add(RowId id);
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  bool Contains(RowId id) const;

  // Fills `out` with the next ids after `*cursor` (ascending), at most `limit` of them;
  // returns false when none are left. `*cursor` starts at 0.
  bool NextBatch(std::size_t* cursor, std::size_t limit, std::vector<RowId>* out) const;

 private:
  struct Page {
    std::uint32_t number;
    std::array<std::uint64_t, 4> slots;
  };
  // A deque grows without copying what it holds: no moment with the set twice in memory.
  std::deque<Page> pages_;
  std::size_t count_ = 0;
  mutable const Page* last_ = nullptr;  // the page Contains found last (a deque keeps its place)
};

}  // namespace jet::write
