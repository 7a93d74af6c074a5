#pragma once
// A set of a table's rows, held as one bitmap of slots per data page that has any: a page
// has at most 256 slots, so the set never takes more than 36 bytes per page of the file,
// however many rows it holds, plus 4 bytes per page up to the last page it names once it
// is asked what it contains (together at most 20 MiB for a Jet 4 file at its 2 GiB limit).
// And a tally of rows, which stands in 16 bytes for the rows it counted.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "jet/table/table_reader.h"

namespace jet {

class RowSet {
 public:
  RowSet() = default;
  explicit RowSet(const std::vector<RowId>& ids);

  // Ids arrive in scan order, ascending; any other order is accepted, more slowly.
  void Add(RowId id);
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  // Whether slot `slot` of data page `page` is in the set, at the cost of an array look-up.
  bool Contains(std::uint32_t page, std::uint8_t slot) const {
    if (page >= where_.size()) {
      if (where_.size() == Reach()) return false;
      Place();
      if (page >= where_.size()) return false;
    }
    const std::uint32_t at = where_[page];
    return at != 0 && ((pages_[at - 1].slots[slot / 32] >> (slot % 32)) & 1u) != 0;
  }
  bool Contains(RowId id) const { return Contains(id.page, id.row); }
  // One past the highest page that holds a row of the set.
  std::size_t Reach() const { return pages_.empty() ? 0 : pages_.back().number + std::size_t{1}; }

  // The set's bitmap of data page `page` (slot s is bit s % 32 of word s / 32), nullptr
  // when the set holds none of the page's rows: for asking about many slots of one page at
  // the cost of one look-up. Valid until the set changes.
  const std::uint32_t* PageBits(std::uint32_t page) const {
    if (page >= where_.size()) {
      if (where_.size() == Reach()) return nullptr;
      Place();
      if (page >= where_.size()) return nullptr;
    }
    const std::uint32_t at = where_[page];
    return at == 0 ? nullptr : pages_[at - 1].slots.data();
  }

  // Takes slot `slot` of page `page` out of the set; returns whether it was in it.
  bool Take(std::uint32_t page, std::uint8_t slot) {
    const std::uint32_t* bits = PageBits(page);
    if (bits == nullptr) return false;
    std::uint32_t& word = pages_[where_[page] - 1].slots[slot / 32];
    const std::uint32_t bit = std::uint32_t{1} << (slot % 32);
    if ((word & bit) == 0) return false;
    word &= ~bit;
    --count_;
    return true;
  }

  // Fills `out` with the next ids after `*cursor` (ascending), at most `limit` of them;
  // returns false when none are left. `*cursor` starts at 0.
  bool NextBatch(std::size_t* cursor, std::size_t limit, std::vector<RowId>* out) const;

 private:
  struct Page {
    std::uint32_t number;
    std::array<std::uint32_t, 8> slots;  // 32-bit words: 36 bytes a page, no padding
  };
  void Place() const;

  // A deque grows without copying what it holds: no moment with the set twice in memory.
  std::deque<Page> pages_;
  std::size_t count_ = 0;
  // Per page number up to the last page held, its position in `pages_` plus one (0: none);
  // made on the first look-up after a change.
  mutable std::vector<std::uint32_t> where_;
};

// A count of rows and a sum standing for which rows they are, for checking that two walks
// (a table's rows, an index's entries) meet the same rows once each without holding
// either. Two tallies of one seed that count the same rows agree. Ones that do not
// disagree: certainly when one row stands in for another (the mix is one to one), and
// otherwise but for a chance of one in 2^64.
class RowTally {
 public:
  explicit RowTally(std::uint64_t seed) : seed_(seed) {}
  // A tally of no rows, to be compared with this one.
  RowTally Empty() const { return RowTally(seed_); }
  void Add(RowId id) {
    ++count_;
    sum_ += Mix(std::uint64_t{id.Raw()} ^ seed_);
  }
  std::size_t count() const { return count_; }
  bool operator==(const RowTally&) const = default;

 private:
  static std::uint64_t Mix(std::uint64_t x) {
    x = (x ^ (x >> 33)) * 0xff51afd7ed558ccdULL;
    x = (x ^ (x >> 33)) * 0xc4ceb9fe1a85ec53ULL;
    return x ^ (x >> 33);
  }
  std::uint64_t seed_;
  std::size_t count_ = 0;
  std::uint64_t sum_ = 0;
};

}  // namespace jet
