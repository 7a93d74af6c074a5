#include "jet/format/usage_map.h"

#include <algorithm>
#include <cstring>

#include "jet/error.h"
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

std::string Where(RowPointer where) { return "the usage map at page " + std::to_string(where.page); }

template <typename ReadPage>
std::vector<std::uint32_t> Decode(ByteView map, RowPointer where, std::uint32_t page_size, std::uint32_t page_count,
                                  ReadPage read) {
  std::vector<std::uint32_t> pages;
  if (map.empty()) ThrowCorrupt(Where(where) + " is empty");
  const std::uint8_t type = map.U8(0);
  if (type == kUsageMapInline) {
    AddBits(map.From(5), map.U32(1), page_count, &pages);
  } else if (type == kUsageMapReference) {
    const std::uint32_t per_page = (page_size - kUsageMapPageHeader) * 8;
    for (std::size_t i = 1, n = 0; i + 4 <= map.size(); i += 4, ++n) {
      std::uint32_t map_page = map.U32(i);
      if (map_page == 0) continue;
      PageRef p = read(map_page);
      ByteView v = ViewOf(p, "usage map page");
      if (v.U8(0) != static_cast<std::uint8_t>(PageType::UsageMap))
        ThrowCorrupt("page " + std::to_string(map_page) + " should be a usage map page but has type " +
                     std::to_string(v.U8(0)));
      AddBits(v.From(kUsageMapPageHeader), static_cast<std::uint64_t>(n) * per_page, page_count, &pages);
    }
  } else {
    ThrowCorrupt(Where(where) + " has unknown type " + std::to_string(type));
  }
  return pages;
}

// The map's row as the statement sees it, and where it lies on its page.
struct MapRow {
  std::string bytes;
  std::size_t offset = 0;
};

MapRow ReadMapRow(PageEditor& editor, RowPointer where) {
  DataPage page(editor.Read(where.page), where.page, editor.format());
  ByteView row = page.row(page.slot(where.row));
  if (row.size() < 5) ThrowCorrupt(Where(where) + " is too short");
  return {row.Str(), static_cast<std::size_t>(row.data() - page.page()->data())};
}

void StoreMapRow(PageEditor& editor, RowPointer where, const MapRow& row) {
  std::vector<std::uint8_t>& page = editor.Write(where.page);
  std::memcpy(&page[row.offset], row.bytes.data(), row.bytes.size());
}

std::uint8_t* Bytes(MapRow& row) { return reinterpret_cast<std::uint8_t*>(row.bytes.data()); }

// The bitmap page for `page` in a type 1 map, made when `create` and it is missing;
// 0 when it is missing and not made.
std::uint32_t MapPageFor(PageEditor& editor, MapRow& row, RowPointer where, std::uint32_t page, bool create) {
  const std::uint32_t per_page = (editor.format().page_size - kUsageMapPageHeader) * 8;
  const std::size_t which = page / per_page;
  if (1 + 4 * which + 4 > row.bytes.size()) {
    if (!create) return 0;
    throw Error(ErrorCode::Unsupported, Where(where) + " cannot reach page " + std::to_string(page));
  }
  std::uint8_t* slot = Bytes(row) + 1 + 4 * which;
  std::uint32_t map_page = ByteView(slot, 4).U32(0);
  if (map_page == 0 && create) {
    map_page = editor.Allocate();
    std::vector<std::uint8_t>& fresh = editor.Write(map_page);
    fresh.assign(editor.format().page_size, 0);  // a reused page may hold old bytes
    fresh[0] = static_cast<std::uint8_t>(PageType::UsageMap);
    fresh[1] = 0x01;
    Put32(slot, map_page);
  }
  return map_page;
}

// Sets or clears the bit of `page` in a type 1 map.
void SetPageBit(PageEditor& editor, MapRow& row, RowPointer where, std::uint32_t page, bool set) {
  const std::uint32_t map_page = MapPageFor(editor, row, where, page, set);
  if (map_page == 0) return;
  if (editor.Read(map_page)->at(0) != static_cast<std::uint8_t>(PageType::UsageMap))
    ThrowCorrupt("page " + std::to_string(map_page) + " should be a usage map page");
  const std::uint32_t per_page = (editor.format().page_size - kUsageMapPageHeader) * 8;
  const std::uint32_t bit = page % per_page;
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit % 8));
  const std::size_t at = kUsageMapPageHeader + bit / 8;
  const bool is_set = (editor.Read(map_page)->at(at) & mask) != 0;
  if (is_set == set) return;
  std::vector<std::uint8_t>& bitmap = editor.Write(map_page);
  bitmap[at] = static_cast<std::uint8_t>(set ? bitmap[at] | mask : bitmap[at] & ~mask);
}

}  // namespace

std::vector<std::uint32_t> ReadUsageMap(Pager& pager, RowPointer where) {
  PageRef keep;
  ByteView map = ReadRowBytes(pager, where, &keep);
  return Decode(map, where, pager.page_size(), pager.page_count(), [&](std::uint32_t n) { return pager.Read(n); });
}

std::vector<std::uint32_t> ReadUsageMap(PageEditor& editor, RowPointer where, std::uint32_t page_count) {
  DataPage page(editor.Read(where.page), where.page, editor.format());
  ByteView map = page.row(page.slot(where.row));
  return Decode(map, where, editor.format().page_size, page_count,
                [&](std::uint32_t n) { return editor.Read(n); });
}

std::string EmptyUsageMapRow() { return std::string(kUsageMapRowSize, '\0'); }

void AddToUsageMap(PageEditor& editor, RowPointer where, std::uint32_t page) {
  MapRow row = ReadMapRow(editor, where);
  std::uint8_t* r = Bytes(row);
  if (r[0] == kUsageMapReference) {
    SetPageBit(editor, row, where, page, true);
    StoreMapRow(editor, where, row);
    return;
  }
  if (r[0] != kUsageMapInline) ThrowCorrupt(Where(where) + " has unknown type " + std::to_string(r[0]));
  const auto bits = static_cast<std::uint32_t>((row.bytes.size() - 5) * 8);
  std::uint32_t start = ByteView(r, row.bytes.size()).U32(1);
  if (page >= start && page - start < bits) {
    r[5 + (page - start) / 8] |= static_cast<std::uint8_t>(1u << ((page - start) % 8));
    StoreMapRow(editor, where, row);
    return;
  }
  // Out of the bitmap's reach: move its start, or make the row a list of map pages.
  std::vector<std::uint32_t> pages;
  AddBits(ByteView(r + 5, row.bytes.size() - 5), start, 0xFFFFFFFFu, &pages);
  pages.push_back(page);
  std::sort(pages.begin(), pages.end());
  std::fill(row.bytes.begin() + 1, row.bytes.end(), '\0');
  if (pages.back() - pages.front() < bits) {
    start = pages.front();
    Put32(r + 1, start);
    for (std::uint32_t pg : pages) r[5 + (pg - start) / 8] |= static_cast<std::uint8_t>(1u << ((pg - start) % 8));
  } else {
    r[0] = kUsageMapReference;
    for (std::uint32_t pg : pages) SetPageBit(editor, row, where, pg, true);
  }
  StoreMapRow(editor, where, row);
}

void RemoveFromUsageMap(PageEditor& editor, RowPointer where, std::uint32_t page) {
  MapRow row = ReadMapRow(editor, where);
  std::uint8_t* r = Bytes(row);
  if (r[0] == kUsageMapReference) {
    SetPageBit(editor, row, where, page, false);
    return;
  }
  if (r[0] != kUsageMapInline) ThrowCorrupt(Where(where) + " has unknown type " + std::to_string(r[0]));
  const auto bits = static_cast<std::uint32_t>((row.bytes.size() - 5) * 8);
  const std::uint32_t start = ByteView(r, row.bytes.size()).U32(1);
  if (page < start || page - start >= bits) return;
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << ((page - start) % 8));
  if ((r[5 + (page - start) / 8] & mask) == 0) return;
  r[5 + (page - start) / 8] = static_cast<std::uint8_t>(r[5 + (page - start) / 8] & ~mask);
  StoreMapRow(editor, where, row);
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

#include "jet/pager/page_editor.h"

namespace jet {

bool SetUsageMapBit(PageEditor& editor, RowPointer where, std::uint32_t page, bool on) {
  const Format& f = editor.format();
  DataPage holder(editor.Read(where.page), where.page, f);
  const Slot slot = holder.slot(where.row);
  const ByteView map = holder.row(slot);
  if (map.empty()) ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " is empty");
  auto flip = [on](std::uint8_t& byte, std::uint32_t bit) {
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    byte = static_cast<std::uint8_t>(on ? byte | mask : byte & ~mask);
  };
  const std::uint8_t type = map.U8(0);
  if (type == kUsageMapInline) {
    if (map.size() < 5) ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " is too short");
    const std::uint32_t start = map.U32(1);
    const std::uint64_t bits = static_cast<std::uint64_t>(map.size() - 5) * 8;
    if (page < start || page - start >= bits) return false;
    std::vector<std::uint8_t>& w = editor.Write(where.page);
    const std::uint32_t bit = page - start;
    flip(w[slot.offset + 5 + bit / 8], bit);
    return true;
  }
  if (type != kUsageMapReference)
    ThrowCorrupt("the usage map at page " + std::to_string(where.page) + " has unknown type " + std::to_string(type));
  const std::uint32_t per_page = static_cast<std::uint32_t>((f.page_size - kUsageMapPageHeader) * 8);
  const std::size_t at = 1 + 4 * static_cast<std::size_t>(page / per_page);
  if (at + 4 > map.size()) return false;
  const std::uint32_t map_page = map.U32(at);
  if (map_page == 0) return false;
  std::vector<std::uint8_t>& w = editor.Write(map_page);
  if (w.empty() || w[0] != static_cast<std::uint8_t>(PageType::UsageMap))
    ThrowCorrupt("page " + std::to_string(map_page) + " should be a usage map page");
  const std::uint32_t bit = page % per_page;
  flip(w[kUsageMapPageHeader + bit / 8], bit);
  return true;
}

}  // namespace jet
