#pragma once
// Long values of a new file on pages of their own ("LVAL" pages): values that fit one row
// share pages, longer ones are split over a chain of pages.

#include <cstdint>
#include <string>
#include <vector>

#include "jet/create/page_store.h"

namespace jet::create {

inline constexpr std::size_t kMaxLongValueRow = 4076;

class LongValueStore {
 public:
  explicit LongValueStore(PageStore* store);
  // The reference to store in the row for a value too long to stay in it.
  std::string Put(const std::string& data);
  std::vector<std::uint32_t> Pages() const;

 private:
  PageStore* store_;
  DataPageBuilder shared_;             // values that fit one row
  std::vector<std::uint32_t> chained_; // pages of values split over several pages
};

}  // namespace jet::create
