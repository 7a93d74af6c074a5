#include "jet/write/data_page_edit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/format/bytes.h"
#include "jet/page/data_page.h"

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

  RelayRows(page, page_number, format, [&](std::uint16_t i) {
    return doomed[i] ? SlotChange{SlotChange::Kind::Delete, {}} : SlotChange{};
  });
}

}  // namespace jet::write
