#pragma once
// The pages of a file being written, numbered as they are handed out. Pages live in
// memory until the file is saved; a page keeps its address while others are added.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/format.h"

namespace jet::create {

// The largest row this writer puts on a data page.
inline constexpr std::size_t kMaxRowSize = 4060;
// Pages a usage map row of a new table covers inline (after the type and first page), and
// pages each bitmap page of a reference map covers; a reference row points to this many.
inline constexpr std::size_t kInlineMapBits = (kUsageMapRowSize - 5) * 8;
inline constexpr std::size_t kBitmapPageBits = (kJet4Format.page_size - kUsageMapPageHeader) * 8;
inline constexpr std::size_t kReferenceMapPages = (kUsageMapRowSize - 1) / 4;

class PageStore {
 public:
  using Page = std::array<std::uint8_t, kJet4Format.page_size>;

  // A new zeroed page; returns its number.
  std::uint32_t Allocate();
  std::uint8_t* At(std::uint32_t number) { return pages_.at(number)->data(); }
  std::uint32_t Count() const { return static_cast<std::uint32_t>(pages_.size()); }
  // Writes every page to `path` (replacing it). Throws jet::Error (Io) naming the file.
  void Save(const std::string& path) const;

 private:
  std::vector<std::unique_ptr<Page>> pages_;
};

// Fills one data page with rows from its end towards its slot table.
class DataPageBuilder {
 public:
  // `owner` is the table definition page, or the bytes "LVAL" for long-value pages.
  DataPageBuilder(PageStore* store, std::uint32_t owner);
  // Opens a new page if none is open; returns its number.
  std::uint32_t Open();
  // The slot of the row, or -1 when it does not fit on the open page.
  int Add(const std::uint8_t* row, std::size_t size);
  bool Fits(std::size_t size) const;
  // Closes the open page (it is already in the store); further rows open a new one.
  void Close() { page_ = 0; open_ = false; }
  bool IsOpen() const { return open_; }
  std::uint32_t PageNumber() const { return page_; }
  const std::vector<std::uint32_t>& Pages() const { return pages_; }

 private:
  PageStore* store_;
  std::uint32_t owner_;
  std::uint32_t page_ = 0;
  bool open_ = false;
  std::size_t rows_ = 0;
  std::size_t low_ = kJet4Format.page_size;  // start of the lowest row
  std::vector<std::uint32_t> pages_;
};

// The row that describes a set of pages (a table's data pages, an index's pages): the
// bitmap inline when all pages lie within 512 of the first, otherwise pointers to bitmap
// pages allocated here.
std::string BuildUsageMapRow(std::vector<std::uint32_t> pages, PageStore* store);

}  // namespace jet::create
