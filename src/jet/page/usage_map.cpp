#include "jet/page/usage_map.h"

#include <algorithm>
#include <cstring>

#include "jet/error.h"

namespace jet {
namespace {

// The two layouts. Inline: the type byte, the first page the bitmap stands for, the
// bitmap. Reference: the type byte, then one map page number per stretch of the file
// (0 for none yet), each map page a header and a bitmap over its stretch.
constexpr std::size_t kInlineBitmap = 5;

std::uint32_t PagesPerMapPage(const Format& f) {
  return static_cast<std::uint32_t>((f.page_size - kUsageMapPageHeader) * 8);
}

std::string Where(RowId where) { return "the usage map at page " + std::to_string(where.page); }

void CheckMapPage(const PageData& page, std::uint32_t number) {
  if (page.empty() || page[0] != static_cast<std::uint8_t>(PageType::UsageMap))
    ThrowCorrupt("page " + std::to_string(number) + " should be a usage map page but has type " +
                 (page.empty() ? std::string("none") : std::to_string(page[0])));
}

bool BitSet(const std::uint8_t* bitmap, std::uint64_t bit) { return (bitmap[bit / 8] & (1u << (bit % 8))) != 0; }

void SetBit(std::uint8_t* bitmap, std::uint64_t bit, bool on) {
  const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
  bitmap[bit / 8] = static_cast<std::uint8_t>(on ? bitmap[bit / 8] | mask : bitmap[bit / 8] & ~mask);
}

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

template <typename ReadPage>
std::vector<std::uint32_t> Decode(ByteView map, RowId where, const Format& f, std::uint32_t page_count,
                                  ReadPage read) {
  std::vector<std::uint32_t> pages;
  if (map.empty()) ThrowCorrupt(Where(where) + " is empty");
  const std::uint8_t type = map.U8(0);
  if (type == kUsageMapInline) {
    AddBits(map.From(kInlineBitmap), map.U32(1), page_count, &pages);
  } else if (type == kUsageMapReference) {
    const std::uint32_t per_page = PagesPerMapPage(f);
    for (std::size_t i = 1, n = 0; i + 4 <= map.size(); i += 4, ++n) {
      std::uint32_t map_page = map.U32(i);
      if (map_page == 0) continue;
      PageRef p = read(map_page);
      CheckMapPage(*p, map_page);
      AddBits(ViewOf(p, "usage map page").From(kUsageMapPageHeader), static_cast<std::uint64_t>(n) * per_page,
              page_count, &pages);
    }
  } else {
    ThrowCorrupt(Where(where) + " has unknown type " + std::to_string(type));
  }
  return pages;
}

// A map being changed: its row as the statement sees it, copied, and where the row lies
// on its page. The row goes back to its page once, when it has changed.
class MapEdit {
 public:
  MapEdit(PageEditor& editor, RowId where) : editor_(editor), where_(where) {
    DataPage page(editor.Read(where.page), where.page, editor.format());
    const Slot slot = page.slot(where.row);
    if (slot.deleted() || slot.length == 0) ThrowCorrupt(Where(where) + " is empty");
    const ByteView row = page.row(slot);
    row_.assign(row.data(), row.data() + row.size());
    offset_ = static_cast<std::size_t>(row.data() - page.page()->data());
    if (type() == kUsageMapInline && row_.size() < kInlineBitmap) ThrowCorrupt(Where(where) + " is too short");
    if (type() != kUsageMapInline && type() != kUsageMapReference)
      ThrowCorrupt(Where(where) + " has unknown type " + std::to_string(type()));
  }

  std::size_t Edit(std::span<const std::uint32_t> pages, bool on, MapReach reach) {
    if (pages.empty()) return 0;
    std::size_t reached = 0;
    if (type() == kUsageMapInline) {
      if (on && reach != MapReach::Existing && !(Reaches(pages.front()) && Reaches(pages.back()))) {
        std::vector<std::uint32_t> all = InlinePages();
        all.insert(all.end(), pages.begin(), pages.end());
        std::sort(all.begin(), all.end());
        if (all.back() - all.front() < Width()) {
          MoveStart(all.front(), all);
        } else if (reach == MapReach::Grow) {
          // The pages it marks move to map pages, which reach every page this map must.
          std::fill(row_.begin() + 1, row_.end(), std::uint8_t{0});
          row_[0] = kUsageMapReference;
          changed_ = true;
          EditReferenced(all, true, true);
          Store();
          return pages.size();
        }
      }
      reached = EditInline(pages, on);
    } else {
      reached = EditReferenced(pages, on, on && reach == MapReach::Grow);
    }
    Store();
    return reached;
  }

 private:
  std::uint8_t type() const { return row_[0]; }

  // Inline maps.
  std::uint32_t Start() const { return ByteView(row_).U32(1); }
  std::uint64_t Width() const { return static_cast<std::uint64_t>(row_.size() - kInlineBitmap) * 8; }
  bool Reaches(std::uint32_t page) const { return page >= Start() && page - Start() < Width(); }

  std::vector<std::uint32_t> InlinePages() const {
    std::vector<std::uint32_t> pages;
    AddBits(ByteView(row_).From(kInlineBitmap), Start(), 0xFFFFFFFFu, &pages);
    return pages;
  }

  void MoveStart(std::uint32_t start, const std::vector<std::uint32_t>& marked) {
    std::fill(row_.begin() + kInlineBitmap, row_.end(), std::uint8_t{0});
    Put32(row_.data() + 1, start);
    for (std::uint32_t p : marked) SetBit(row_.data() + kInlineBitmap, p - start, true);
    changed_ = true;
  }

  std::size_t EditInline(std::span<const std::uint32_t> pages, bool on) {
    std::size_t reached = 0;
    const std::uint32_t start = Start();
    for (std::uint32_t p : pages) {
      if (!Reaches(p)) continue;
      ++reached;
      if (BitSet(row_.data() + kInlineBitmap, p - start) == on) continue;
      SetBit(row_.data() + kInlineBitmap, p - start, on);
      changed_ = true;
    }
    return reached;
  }

  // Reference maps: the pages are edited map page by map page, each written only when
  // one of its bits changes.
  std::size_t EditReferenced(std::span<const std::uint32_t> pages, bool on, bool grow) {
    const std::uint32_t per_page = PagesPerMapPage(editor_.format());
    std::size_t reached = 0;
    for (std::size_t k = 0; k < pages.size();) {
      const std::size_t which = pages[k] / per_page;
      std::size_t end = k;
      while (end < pages.size() && pages[end] / per_page == which) ++end;
      std::uint32_t map_page = MapPage(which);
      if (map_page == 0 && grow) map_page = AddMapPage(which, pages[k]);
      if (map_page != 0) {
        const PageRef current = editor_.Read(map_page);
        CheckMapPage(*current, map_page);
        std::vector<std::uint8_t>* written = nullptr;
        for (std::size_t i = k; i < end; ++i) {
          const std::uint64_t bit = pages[i] - static_cast<std::uint64_t>(which) * per_page;
          const std::uint8_t* bitmap = (written != nullptr ? written->data() : current->data()) + kUsageMapPageHeader;
          if (BitSet(bitmap, bit) == on) continue;
          if (written == nullptr) written = &editor_.Write(map_page);
          SetBit(written->data() + kUsageMapPageHeader, bit, on);
        }
        reached += end - k;
      }
      k = end;
    }
    return reached;
  }

  // The map page of stretch `which`; 0 when the map lists none.
  std::uint32_t MapPage(std::size_t which) const {
    const std::size_t at = 1 + 4 * which;
    return at + 4 <= row_.size() ? ByteView(row_).U32(at) : 0;
  }

  std::uint32_t AddMapPage(std::size_t which, std::uint32_t page) {
    const std::size_t at = 1 + 4 * which;
    if (at + 4 > row_.size())
      throw Error(ErrorCode::Unsupported, Where(where_) + " cannot reach page " + std::to_string(page));
    const std::uint32_t map_page = editor_.Allocate();
    std::vector<std::uint8_t>& fresh = editor_.Write(map_page);
    fresh.assign(editor_.format().page_size, 0);  // a reused page may hold old bytes
    fresh[0] = static_cast<std::uint8_t>(PageType::UsageMap);
    fresh[1] = 0x01;
    Put32(row_.data() + at, map_page);
    changed_ = true;
    return map_page;
  }

  void Store() {
    if (!changed_) return;
    std::vector<std::uint8_t>& page = editor_.Write(where_.page);
    std::memcpy(page.data() + offset_, row_.data(), row_.size());
    changed_ = false;
  }

  PageEditor& editor_;
  RowId where_;
  std::vector<std::uint8_t> row_;
  std::size_t offset_ = 0;
  bool changed_ = false;
};

}  // namespace

std::vector<std::uint32_t> ReadUsageMap(Pager& pager, RowId where) {
  PageRef keep;
  ByteView map = ReadRowBytes(pager, where, &keep);
  return Decode(map, where, pager.format(), pager.page_count(), [&](std::uint32_t n) { return pager.Read(n); });
}

std::vector<std::uint32_t> ReadUsageMap(PageEditor& editor, RowId where, std::uint32_t page_count) {
  DataPage page(editor.Read(where.page), where.page, editor.format());
  ByteView map = page.row(page.slot(where.row));
  return Decode(map, where, editor.format(), page_count, [&](std::uint32_t n) { return editor.Read(n); });
}

std::string EmptyUsageMapRow() { return std::string(kUsageMapRowSize, '\0'); }

std::size_t EditUsageMap(PageEditor& editor, RowId where, std::span<const std::uint32_t> pages, bool on,
                         MapReach reach) {
  if (pages.empty()) return 0;
  return MapEdit(editor, where).Edit(pages, on, reach);
}

}  // namespace jet
