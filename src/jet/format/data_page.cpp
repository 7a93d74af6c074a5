#include "jet/format/data_page.h"

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

Slot DataPage::slot(std::uint16_t i) const {
  if (i >= count_)
    ThrowCorrupt("row " + std::to_string(i) + " of data page " + std::to_string(number_) + " does not exist");
  Slot s;
  s.raw = view_.U16(format_->data_slots + 2u * i);
  s.offset = s.raw & kSlotOffsetMask;
  std::uint32_t end = i == 0 ? format_->page_size : (view_.U16(format_->data_slots + 2u * (i - 1)) & kSlotOffsetMask);
  std::uint32_t table_end = format_->data_slots + 2u * count_;
  if (s.deleted()) {
    s.length = 0;
    return s;
  }
  if (end > format_->page_size || s.offset < table_end || s.offset > end)
    ThrowCorrupt("row " + std::to_string(i) + " of data page " + std::to_string(number_) +
                 " lies outside the page (offset " + std::to_string(s.offset) + ", end " + std::to_string(end) + ")");
  s.length = static_cast<std::uint16_t>(end - s.offset);
  return s;
}

ByteView ReadRowBytes(Pager& pager, RowPointer at, PageRef* keep) {
  DataPage page(pager.Read(at.page), at.page, pager.format());
  *keep = page.page();
  return page.row(page.slot(at.row));
}

}  // namespace jet
