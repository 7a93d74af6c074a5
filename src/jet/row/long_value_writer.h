#pragma once
// Memo and OLE values too long to stay in their record, written as ReadLongValue reads
// them, for statements and new files alike: on "LVAL" data pages, a value that fits one
// row in a single row on the writer's open page (shared with the values put before it),
// a longer one split over a chain of rows, one page each, every row led by the pointer to
// the next.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/pager/page_editor.h"

namespace jet {

class LongValueWriter {
 public:
  explicit LongValueWriter(PageEditor& editor) : editor_(&editor) {}

  // Stores `data` and returns the 12-byte reference its record keeps. Throws
  // jet::Error(Unsupported) for a value over Jet's 1 GB.
  std::string Put(std::string_view data);
  // The pages taken so far, in the order taken.
  const std::vector<std::uint32_t>& Pages() const { return pages_; }

 private:
  std::uint32_t NewPage();

  PageEditor* editor_;
  std::uint32_t open_ = 0;  // page for the next single-row value; 0 before the first
  std::vector<std::uint32_t> pages_;
};

}  // namespace jet
