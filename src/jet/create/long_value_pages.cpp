#include "jet/create/long_value_pages.h"

#include <cstring>

#include "jet/error.h"

namespace jet::create {

LongValueStore::LongValueStore(PageStore* store) : store_(store), shared_(store, kLongValueOwner) {}

std::vector<std::uint32_t> LongValueStore::Pages() const {
  std::vector<std::uint32_t> pages = shared_.Pages();
  pages.insert(pages.end(), chained_.begin(), chained_.end());
  return pages;
}

std::string LongValueStore::Put(const std::string& data) {
  if (data.size() > 0x3fffffff) throw Error(ErrorCode::Unsupported, "A long value is larger than 1 GB");
  std::string ref(kLongValueRefSize, '\0');
  auto* r = reinterpret_cast<std::uint8_t*>(ref.data());
  auto size = static_cast<std::uint32_t>(data.size());
  if (data.size() <= kMaxLongValueRow) {
    auto bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    int slot = shared_.Add(bytes, data.size());
    if (slot < 0) {
      shared_.Close();
      slot = shared_.Add(bytes, data.size());
    }
    Put32(r, size | kLongValueSingle);
    Put32(r + 4, RowPointer{shared_.PageNumber(), static_cast<std::uint8_t>(slot)}.Raw());
    return ref;
  }
  // Split over pages of their own, each chunk led by a pointer to the next.
  const std::size_t chunk = kMaxLongValueRow - 4;
  std::size_t count = (data.size() + chunk - 1) / chunk;
  std::vector<std::uint32_t> pages;
  for (std::size_t k = 0; k < count; ++k) {
    DataPageBuilder page(store_, kLongValueOwner);
    pages.push_back(page.Open());
  }
  for (std::size_t k = 0; k < count; ++k) {
    std::size_t len = std::min(chunk, data.size() - k * chunk);
    std::string row(4, '\0');
    if (k + 1 < count) Put32(reinterpret_cast<std::uint8_t*>(row.data()), RowPointer{pages[k + 1], 0}.Raw());
    row.append(data, k * chunk, len);
    // Each chunk is the single row of its page.
    std::uint8_t* p = store_->At(pages[k]);
    std::size_t start = kJet4Format.page_size - row.size();
    std::memcpy(p + start, row.data(), row.size());
    Put16(p + kJet4Format.data_slots, static_cast<std::uint16_t>(start));
    Put16(p + kJet4Format.data_row_count, 1);
    Put16(p + kJet4Format.data_free_space, static_cast<std::uint16_t>(start - kJet4Format.data_slots - 2));
  }
  chained_.insert(chained_.end(), pages.begin(), pages.end());
  Put32(r, size);
  Put32(r + 4, RowPointer{pages[0], 0}.Raw());
  return ref;
}

}  // namespace jet::create
