#include "jet/page/data_page.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace jet {

DataPage::DataPage(PageRef page, std::uint32_t page_number, const Format& format)
    : page_(std::move(page)), view_(ViewOf(page_, "data page")), number_(page_number), format_(&format) {
  if (view_.U8(0) != static_cast<std::uint8_t>(PageType::Data))
    ThrowCorrupt("page " + std::to_string(number_) + " should be a data page but has type " +
                 std::to_string(view_.U8(0)));
  count_ = view_.U16(format.data_row_count);
  if (format.data_slots + 2u * count_ > view_.size())
    ThrowCorrupt("data page " + std::to_string(number_) + " claims " + std::to_string(count_) + " rows");
}

void ThrowBadSlot(std::uint32_t page, std::uint16_t i, std::uint32_t offset, std::uint32_t end) {
  ThrowCorrupt("row " + std::to_string(i) + " of data page " + std::to_string(page) +
               " lies outside the page (offset " + std::to_string(offset) + ", end " + std::to_string(end) + ")");
}
void ThrowNoSlot(std::uint32_t page, std::uint16_t i) {
  ThrowCorrupt("row " + std::to_string(i) + " of data page " + std::to_string(page) + " does not exist");
}

ByteView ReadRowBytes(Pager& pager, RowId at, PageRef* keep) {
  DataPage page(pager.Read(at.page), at.page, pager.format());
  *keep = page.page();
  return page.row(page.slot(at.row));
}

ByteView FollowMovedRow(Pager& pager, const DataPage& page, const Slot& s, PageRef* keep,
                        std::vector<RowId>* moved_to) {
  // Moves do not chain in practice; a few hops are allowed before calling it damage.
  ByteView at = page.row(s);
  for (int hop = 0; hop < 4; ++hop) {
    if (at.size() < 4) ThrowCorrupt("a moved row of data page " + std::to_string(page.number()) + " lost its pointer");
    const RowId to = RowId::FromRaw(at.U32(0));
    const DataPage target(pager.Read(to.page), to.page, pager.format());
    if (target.owner() != page.owner())
      ThrowCorrupt("a moved row of data page " + std::to_string(page.number()) + " points into another table");
    const Slot ts = target.slot(to.row);
    *keep = target.page();
    if (ts.deleted()) return {};
    if (moved_to != nullptr) moved_to->push_back(to);
    if (!ts.lookup()) return target.row(ts);
    at = target.row(ts);
  }
  ThrowCorrupt("a moved row of data page " + std::to_string(page.number()) + " is moved too many times");
}

namespace {

// What an insert needs to know of a page's slots, read in one pass: where the lowest row
// starts, as rows are packed from the end of the page towards the slot table (a deleted
// slot keeps an offset at the edge of the packed rows), and the first slot a delete left
// behind (`count` when there is none). Every slot is looked at, so that a page whose slots
// are out of order never has a row overwritten. A new row takes the first free slot:
// without that, a page that loses and gains rows night after night fills its slot table
// with dead entries and is closed to inserts long before its bytes run out.
struct SlotScan {
  std::size_t low;
  std::uint16_t free_slot;
};

SlotScan ScanSlots(const PageData& page, const Format& format, std::uint16_t count) {
  SlotScan scan{format.page_size, count};
  const ByteView bytes(page);
  for (std::uint16_t i = 0; i < count; ++i) {
    const unsigned raw = bytes.U16(format.data_slots + 2u * i);
    scan.low = std::min<std::size_t>(scan.low, raw & kSlotOffsetMask);
    if ((raw & kSlotDeleted) == kSlotDeleted && scan.free_slot == count) scan.free_slot = i;
  }
  return scan;
}

// The room for one more row when the lowest row starts at `low`: a new slot needs two
// bytes of the gap, a reused one none.
std::size_t Room(const Format& format, std::uint16_t count, std::size_t low, bool reuse) {
  if (!reuse && count >= kMaxRowsPerPage) return 0;
  const std::size_t table_end = format.data_slots + 2u * (count + (reuse ? 0u : 1u));
  return low > table_end ? low - table_end : 0;
}

}  // namespace

void RelayRows(PageData& page, std::uint32_t page_number, const Format& format,
               const std::function<SlotChange(std::uint16_t)>& change) {
  const std::uint32_t size = format.page_size;
  const std::uint16_t count = ByteView(page).U16(format.data_row_count);
  const std::uint32_t table_end = format.data_slots + 2u * count;
  // The rows are moved within the page while each lands no lower than where the rows still
  // to come end: deleting only ever moves rows up. A row that would land lower (one put in
  // that is longer than the rows before it gave up) first copies the page, and the rest
  // come from the copy.
  PageData copy;
  const std::uint8_t* old = page.data();
  std::uint32_t pos = size;  // start of the lowest row laid out so far
  std::uint32_t end = size;  // where the current row ends in the old page
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t at = format.data_slots + 2u * i;
    const std::uint16_t raw = ByteView(old, size).U16(at);
    const std::uint32_t offset = raw & kSlotOffsetMask;
    const bool deleted = (raw & kSlotDeleted) == kSlotDeleted;
    if (!deleted && (offset < table_end || offset > end))
      ThrowCorrupt("row " + std::to_string(i) + " of data page " + std::to_string(page_number) + " lies outside the page");
    const SlotChange c = change(i);
    std::string_view bytes;
    std::uint16_t flags = kSlotDeleted;
    if (c.kind == SlotChange::Kind::Put) {
      bytes = c.row;
      flags = 0;
    } else if (!deleted && c.kind == SlotChange::Kind::Keep) {
      bytes = std::string_view(reinterpret_cast<const char*>(old) + offset, end - offset);
      flags = raw & kSlotDeleted;
    }
    if (bytes.size() > pos - table_end) ThrowCorrupt("a row does not fit data page " + std::to_string(page_number));
    // A deleted slot's offset may still point at the data it once had; the next row ends
    // there all the same.
    if (offset >= table_end && offset <= end) end = offset;
    pos -= static_cast<std::uint32_t>(bytes.size());
    if (pos < end && old == page.data()) {
      copy = page;
      old = copy.data();
    }
    // A row kept in place stays; a row put in is written even over its slot's old bytes.
    if (!bytes.empty() && bytes.data() != reinterpret_cast<const char*>(page.data()) + pos)
      std::memmove(page.data() + pos, bytes.data(), bytes.size());
    Put16(&page[at], static_cast<std::uint16_t>(flags | pos));
  }
  std::memset(page.data() + table_end, 0, pos - table_end);
  Put16(&page[format.data_free_space], static_cast<std::uint16_t>(pos - table_end));
}

void InitDataPage(PageData& page, const Format& format, std::uint32_t owner) {
  page.assign(format.page_size, 0);
  page[0] = static_cast<std::uint8_t>(PageType::Data);
  page[1] = kPageMark;
  Put16(&page[format.data_free_space], static_cast<std::uint16_t>(format.page_size - format.data_slots));
  Put32(&page[format.data_tdef_page], owner);
}

std::size_t DataPageRoom(const PageData& page, const Format& format) {
  const std::uint16_t count = ByteView(page).U16(format.data_row_count);
  const SlotScan scan = ScanSlots(page, format, count);
  return Room(format, count, scan.low, scan.free_slot < count);
}

std::uint8_t AddRowToPage(PageData& page, std::uint32_t page_number, const Format& format, std::string_view row) {
  const std::uint16_t count = ByteView(page).U16(format.data_row_count);
  const SlotScan scan = ScanSlots(page, format, count);
  const std::uint16_t free_slot = scan.free_slot;
  const bool reuse = free_slot < count;
  const std::size_t low = scan.low;
  if (row.size() > Room(format, count, low, reuse)) ThrowCorrupt("a row does not fit the data page chosen for it");
  if (reuse) {
    // A reader takes a row's end from the slot before it, so the new row can only go
    // between its neighbours: the rows are laid out again.
    RelayRows(page, page_number, format, [&](std::uint16_t i) {
      return i == free_slot ? SlotChange{SlotChange::Kind::Put, row} : SlotChange{};
    });
    return static_cast<std::uint8_t>(free_slot);
  }
  const std::size_t at = low - row.size();
  std::memcpy(&page[at], row.data(), row.size());
  Put16(&page[format.data_slots + 2u * count], static_cast<std::uint16_t>(at));
  Put16(&page[format.data_row_count], static_cast<std::uint16_t>(count + 1u));
  Put16(&page[format.data_free_space], static_cast<std::uint16_t>(at - (format.data_slots + 2u * (count + 1u))));
  return static_cast<std::uint8_t>(count);
}

}  // namespace jet
