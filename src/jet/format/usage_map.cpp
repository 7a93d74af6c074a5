#include "jet/format/usage_map.h"

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
