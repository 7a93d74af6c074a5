#pragma once
// Data pages: a slot table after the header, rows packed from the end of the page
// towards it, each row running up to where the previous slot's row begins.

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"
#include "jet/pager/pager.h"

namespace jet {

struct Slot {
  std::uint16_t raw = 0;
  std::uint16_t offset = 0;  // within the page
  std::uint16_t length = 0;
  bool deleted() const { return (raw & kSlotDeleted) == kSlotDeleted; }
  bool lookup() const { return (raw & kSlotDeleted) == kSlotLookup; }
  bool moved() const { return (raw & kSlotDeleted) == kSlotMoved; }
};

class DataPage {
 public:
  // Throws FormatError when `page` is not a data page or its slot table does not fit.
  DataPage(PageRef page, std::uint32_t page_number, const Format& format);

  std::uint32_t number() const { return number_; }
  std::uint32_t owner() const { return view_.U32(format_->data_tdef_page); }
  std::uint16_t free_space() const { return view_.U16(2); }
  std::uint16_t row_count() const { return count_; }
  // Throws FormatError for a slot out of range or whose row lies outside the page.
  Slot slot(std::uint16_t i) const;
  ByteView row(const Slot& s) const { return view_.Sub(s.offset, s.length); }
  const PageRef& page() const { return page_; }

 private:
  PageRef page_;
  ByteView view_;
  std::uint32_t number_;
  const Format* format_;
  std::uint16_t count_;
};

// Out of line, as the slot's checks' rare ends.
[[noreturn, gnu::noinline, gnu::cold]] void ThrowBadSlot(std::uint32_t page, std::uint16_t i, std::uint32_t offset,
                                                         std::uint32_t end);
[[noreturn, gnu::noinline, gnu::cold]] void ThrowNoSlot(std::uint32_t page, std::uint16_t i);

// Inline: a slot is looked at for every row read.
inline Slot DataPage::slot(std::uint16_t i) const {
  if (i >= count_) ThrowNoSlot(number_, i);
  Slot s;
  s.raw = view_.U16(format_->data_slots + 2u * i);
  s.offset = s.raw & kSlotOffsetMask;
  if (s.deleted()) return s;
  const std::uint32_t end =
      i == 0 ? format_->page_size : (view_.U16(format_->data_slots + 2u * (i - 1)) & kSlotOffsetMask);
  const std::uint32_t table_end = format_->data_slots + 2u * count_;
  if (end > format_->page_size || s.offset < table_end || s.offset > end) ThrowBadSlot(number_, i, s.offset, end);
  s.length = static_cast<std::uint16_t>(end - s.offset);
  return s;
}

// The bytes of one row (page, slot), whatever the slot's flags.
ByteView ReadRowBytes(Pager& pager, RowId at, PageRef* keep);

// The record slot `slot` of `page` stands for: the slot's own row, or for a moved row (its
// slot holds where the data went) the row that pointer leads to, whose address (and those
// of any rows passed on the way) go to `moved_to` when given. Empty for a deleted slot, for
// moved data (reached from its own slot) and for a moved row whose data is deleted. `keep`
// holds the page the record lies on when it is not `page` (which the caller keeps alive).
// Throws FormatError for a pointer cut short, one into another table's pages, or a chain of
// more than a few moves.
// ResolveRow's rare part: the slot `s` of `page` holds where its row went.
ByteView FollowMovedRow(Pager& pager, const DataPage& page, const Slot& s, PageRef* keep,
                        std::vector<RowId>* moved_to);
inline ByteView ResolveRow(Pager& pager, const DataPage& page, std::uint16_t slot, PageRef* keep,
                           std::vector<RowId>* moved_to = nullptr) {
  const Slot s = page.slot(slot);
  if (s.deleted() || s.moved()) return {};
  if (!s.lookup()) return page.row(s);
  return FollowMovedRow(pager, page, s, keep, moved_to);
}

// ---- Adding rows: statements and new files place rows through these alone ----

// Makes `page` (page_size bytes) an empty data page of the table whose definition is at
// `owner`, or of long values when `owner` is kLongValueOwner.
void InitDataPage(PageData& page, const Format& format, std::uint32_t owner);

// The most bytes one more row may take on the page, its slot counted (a slot a delete
// left is taken again before a new one); 0 when every slot is taken. Counted from where the rows really lie, not from the recorded free space.
std::size_t DataPageRoom(const PageData& page, const Format& format);

// Stores `row` in the first slot a delete left, laying the rows out again in slot order,
// or else below the lowest row in a new slot; brings the row count and free space up to
// date and returns the slot. The caller checked DataPageRoom.
std::uint8_t AddRowToPage(PageData& page, std::uint32_t page_number, const Format& format, std::string_view row);

// What becomes of one slot when a page's rows are laid out again.
struct SlotChange {
  enum class Kind { Keep, Delete, Put } kind = Kind::Keep;
  std::string_view row;  // Put: the slot's new bytes
};

// Lays the rows of data page `page_number` out again from the end of the page, in slot
// order (a reader takes a row's end from the slot before it), each slot changed as
// `change` says; a deleted slot keeps its place, flagged deleted with no data. Brings the
// free space up to date. Throws FormatError for a row outside the page or one that does
// not fit.
void RelayRows(PageData& page, std::uint32_t page_number, const Format& format,
               const std::function<SlotChange(std::uint16_t)>& change);

}  // namespace jet
