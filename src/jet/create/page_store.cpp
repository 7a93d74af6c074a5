#include "jet/create/page_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "jet/error.h"

namespace jet::create {

std::uint32_t PageStore::Allocate() {
  // A Jet 4 file holds at most 2 GiB.
  if ((pages_.size() + 1) * kJet4Format.page_size > (std::size_t{2} << 30)) {
    throw Error(ErrorCode::Unsupported, "The database would grow past 2 GiB, the most a Jet 4 file can hold");
  }
  pages_.push_back(std::make_unique<Page>());
  pages_.back()->fill(0);
  return static_cast<std::uint32_t>(pages_.size() - 1);
}

void PageStore::Save(const std::string& path) const {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    throw Error(ErrorCode::Io, "Cannot create '" + path + "': " + std::strerror(errno));
  }
  bool ok = true;
  for (const auto& page : pages_) {
    if (std::fwrite(page->data(), 1, page->size(), f) != page->size()) {
      ok = false;
      break;
    }
  }
  int err = errno;
  if (std::fclose(f) != 0) ok = false;
  if (!ok) throw Error(ErrorCode::Io, "Cannot write '" + path + "': " + std::strerror(err));
}

DataPageBuilder::DataPageBuilder(PageStore* store, std::uint32_t owner) : store_(store), owner_(owner) {}

std::uint32_t DataPageBuilder::Open() {
  if (open_) return page_;
  page_ = store_->Allocate();
  open_ = true;
  rows_ = 0;
  low_ = kJet4Format.page_size;
  pages_.push_back(page_);
  std::uint8_t* p = store_->At(page_);
  p[0] = static_cast<std::uint8_t>(PageType::Data);
  p[1] = 0x01;
  Put16(p + kJet4Format.data_free_space, static_cast<std::uint16_t>(kJet4Format.page_size - kJet4Format.data_slots));
  Put32(p + kJet4Format.data_tdef_page, owner_);
  return page_;
}

bool DataPageBuilder::Fits(std::size_t size) const {
  if (!open_) return size <= kJet4Format.page_size - kJet4Format.data_slots - 2;
  std::size_t slots_end = kJet4Format.data_slots + 2 * (rows_ + 1);
  return rows_ < kMaxRowsPerPage && low_ >= slots_end + size;
}

int DataPageBuilder::Add(const std::uint8_t* row, std::size_t size) {
  Open();
  if (!Fits(size)) return -1;
  std::uint8_t* p = store_->At(page_);
  low_ -= size;
  std::memcpy(p + low_, row, size);
  Put16(p + kJet4Format.data_slots + 2 * rows_, static_cast<std::uint16_t>(low_));
  ++rows_;
  Put16(p + kJet4Format.data_row_count, static_cast<std::uint16_t>(rows_));
  Put16(p + kJet4Format.data_free_space, static_cast<std::uint16_t>(low_ - (kJet4Format.data_slots + 2 * rows_)));
  return static_cast<int>(rows_ - 1);
}

std::string BuildUsageMapRow(std::vector<std::uint32_t> pages, PageStore* store) {
  std::string row(kUsageMapRowSize, '\0');
  auto* r = reinterpret_cast<std::uint8_t*>(row.data());
  std::sort(pages.begin(), pages.end());
  if (pages.empty() || pages.back() - pages.front() < kInlineMapBits) {
    r[0] = 0x00;
    std::uint32_t start = pages.empty() ? 0 : pages.front();
    Put32(r + 1, start);
    for (std::uint32_t pg : pages) {
      std::uint32_t bit = pg - start;
      r[5 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    }
    return row;
  }
  r[0] = 0x01;
  std::uint32_t current_map = 0xffffffff;
  std::uint32_t map_page = 0;
  for (std::uint32_t pg : pages) {
    std::uint32_t which = pg / kBitmapPageBits;
    if (which >= kReferenceMapPages) {
      throw Error(ErrorCode::Unsupported, "A usage map cannot describe page " + std::to_string(pg));
    }
    if (which != current_map) {
      current_map = which;
      map_page = store->Allocate();
      std::uint8_t* mp = store->At(map_page);
      mp[0] = static_cast<std::uint8_t>(PageType::UsageMap);
      mp[1] = 0x01;
      Put32(r + 1 + 4 * which, map_page);
    }
    std::uint32_t bit = pg - which * static_cast<std::uint32_t>(kBitmapPageBits);
    store->At(map_page)[4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
  }
  return row;
}

}  // namespace jet::create
