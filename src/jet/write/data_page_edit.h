#pragma once
// Changing the rows of a data page in place (table rows and long-value rows alike).

#include <cstdint>
#include <vector>

#include "jet/format/format.h"

namespace jet::write {

// Marks the rows in `slots` deleted, as Jet does: the slot keeps its place (row numbers
// of the other rows do not change, indexes point at them), flagged 0xC000 with no data;
// the remaining rows are packed against the end of the page and the space they leave
// is zeroed and counted as free. Slots already deleted stay deleted. Throws FormatError
// for a page whose slot table or rows do not make sense.
void DeleteSlots(std::vector<std::uint8_t>& page, std::uint32_t page_number, const Format& format,
                 const std::vector<std::uint16_t>& slots);

}  // namespace jet::write
