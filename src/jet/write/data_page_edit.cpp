#include "jet/write/data_page_edit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/format/bytes.h"
#include "jet/format/data_page.h"

namespace jet::write {

void DeleteSlots(std::vector<std::uint8_t>& page, std::uint32_t page_number, const Format& format,
                 const std::vector<std::uint16_t>& slots) {
  const std::uint32_t size = format.page_size;
  auto where = [&] { return "data page " + std::to_string(page_number); };
  if (page.size() != size || page[0] != static_cast<std::uint8_t>(PageType::Data))
    ThrowCorrupt(where() + " is not a data page");
  const std::uint16_t count = ByteView(page).U16(format.data_row_count);
  const std::uint32_t table_end = format.data_slots + 2u * count;
  if (count > 256 || table_end > size) ThrowCorrupt(where() + " claims " + std::to_string(count) + " rows");
  std::vector<bool> doomed(count, false);
  for (std::uint16_t s : slots) {
    if (s >= count) ThrowCorrupt("row " + std::to_string(s) + " of " + where() + " does not exist");
    doomed[s] = true;
  }

  const std::vector<std::uint8_t> old = page;
  std::uint32_t pos = size;    // new start of the lowest row so far
  std::uint32_t end = size;    // where the current row ends in the old page
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t at = format.data_slots + 2u * i;
    const std::uint16_t raw = ByteView(old).U16(at);
    const std::uint32_t offset = raw & kSlotOffsetMask;
    const bool deleted = (raw & kSlotDeleted) == kSlotDeleted;
    if (!deleted && (offset < table_end || offset > end))
      ThrowCorrupt("row " + std::to_string(i) + " of " + where() + " lies outside the page");
    if (deleted || doomed[i]) {
      Put16(&page[at], static_cast<std::uint16_t>(kSlotDeleted | pos));
    } else {
      const std::uint32_t length = end - offset;
      pos -= length;
      if (pos != offset) std::memcpy(page.data() + pos, old.data() + offset, length);
      Put16(&page[at], static_cast<std::uint16_t>((raw & kSlotDeleted) | pos));
    }
    // A deleted slot's offset may still point at the data it once had; the next row ends
    // there all the same.
    if (offset >= table_end && offset <= end) end = offset;
  }
  std::memset(page.data() + table_end, 0, pos - table_end);
  Put16(&page[format.data_free_space], static_cast<std::uint16_t>(pos - table_end));
}

}  // namespace jet::write
