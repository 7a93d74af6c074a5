#include "jet/format/usage_map.h"

#include <algorithm>
#include <cstring>

#include "jet/pager/page_editor.h"

namespace jet {
namespace {

void AddBits(ByteView bitmap, std::uint64_t first_page, std::uint32_t page_count, std::vector<std::uint32_t>* out) {
  for (std::size_t i = 0; i < bitmap.size(); ++i) {
    std::uint8_t byte = bitmap.data()[i];
    if (byte == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if ((byte & (1u << bit)) == 0) continue;
      std::uint64_t page = first_page + i * 8 + static_cast<unsigned>(bit);
      if (page < page_count) out->push_back(static_cast<std::uint32_t>(page));
    }
  }
}

}  // namespace

std::vector<std::uint32_t> ReadUsageMap(Pager& pager, RowPointer where) {
  PageRef keep;
  ByteView map = ReadRowBytes(pager, where, &keep);
  std::vector<std::uint32_t> pages;
  if (map.empty()) ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " is empty");
  std::uint8_t type = map.U8(0);
  if (type == 0) {
    AddBits(map.From(5), map.U32(1), pager.page_count(), &pages);
  } else if (type == 1) {
    const std::uint32_t per_page = (pager.page_size() - 4) * 8;
    for (std::size_t i = 1, n = 0; i + 4 <= map.size(); i += 4, ++n) {
      std::uint32_t map_page = map.U32(i);
      if (map_page == 0) continue;
      PageRef p = pager.Read(map_page);
      ByteView v = ViewOf(p, "usage map page");
      if (v.U8(0) != static_cast<std::uint8_t>(PageType::UsageMap))
        ThrowCorrupt("page " + std::to_string(map_page) + " should be a usage map page but has type " +
                     std::to_string(v.U8(0)));
      AddBits(v.From(4), static_cast<std::uint64_t>(n) * per_page, pager.page_count(), &pages);
    }
  } else {
    ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " has unknown type " + std::to_string(type));
  }
  return pages;
}

}  // namespace jet

namespace jet {

std::size_t MarkInUsageMap(PageEditor& editor, RowPointer where, const std::vector<std::uint32_t>& pages) {
  if (pages.empty()) return 0;
  const Format& f = editor.format();
  std::size_t offset = 0, length = 0;
  std::vector<std::uint8_t> row;
  {
    DataPage holder(editor.Read(where.page), where.page, f);
    Slot s = holder.slot(where.row);
    if (s.deleted() || s.length == 0) ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " is empty");
    offset = s.offset;
    length = s.length;
    ByteView bytes = holder.row(s);
    row.assign(bytes.data(), bytes.data() + bytes.size());
  }
  std::size_t marked = 0;
  if (row[0] == 0) {
    if (length < 5) ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " is cut short");
    const std::uint64_t bits = (length - 5) * 8;
    std::uint32_t start = ByteView(row).U32(1);
    auto reaches = [&](std::uint32_t p) { return p >= start && p - start < bits; };
    if (!reaches(pages.front()) || !reaches(pages.back())) {
      // The map moves only when its pages, old and new, all lie within its width.
      std::vector<std::uint32_t> all = pages;
      for (std::size_t i = 0; i < length - 5; ++i)
        for (int b = 0; b < 8; ++b)
          if (row[5 + i] & (1u << b)) all.push_back(static_cast<std::uint32_t>(start + i * 8 + static_cast<unsigned>(b)));
      const auto [lo, hi] = std::minmax_element(all.begin(), all.end());
      if (*hi - *lo < bits) {
        std::fill(row.begin() + 5, row.end(), std::uint8_t{0});
        start = *lo;
        Put32(row.data() + 1, start);
        for (std::uint32_t p : all) row[5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
      }
    }
    for (std::uint32_t p : pages) {
      if (!reaches(p)) continue;
      row[5 + (p - start) / 8] |= static_cast<std::uint8_t>(1u << ((p - start) % 8));
      ++marked;
    }
    std::vector<std::uint8_t>& page = editor.Write(where.page);
    std::memcpy(page.data() + offset, row.data(), length);
    return marked;
  }
  if (row[0] != 1)
    ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " has unknown type " + std::to_string(row[0]));
  const std::uint32_t per_page = (f.page_size - 4) * 8;
  for (std::size_t k = 0; k < pages.size();) {
    const std::size_t which = pages[k] / per_page;
    std::size_t end = k;
    while (end < pages.size() && pages[end] / per_page == which) ++end;
    const std::uint32_t map_page = 1 + 4 * which + 4 <= length ? ByteView(row).U32(1 + 4 * which) : 0;
    if (map_page != 0) {
      std::vector<std::uint8_t>& bitmap = editor.Write(map_page);
      if (bitmap[0] != static_cast<std::uint8_t>(PageType::UsageMap))
        ThrowCorrupt("page " + std::to_string(map_page) + " should be a usage map page but has type " +
                     std::to_string(bitmap[0]));
      for (std::size_t i = k; i < end; ++i) {
        const std::uint32_t bit = pages[i] - static_cast<std::uint32_t>(which) * per_page;
        bitmap[4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
      }
      marked += end - k;
    }
    k = end;
  }
  return marked;
}

}  // namespace jet
