#include "jet/table/row_placement.h"

#include "jet/error.h"
#include "jet/page/usage_map.h"

namespace jet {
namespace {

// Whether `number` is a data page of the table with room for a record of `size` bytes.
bool Fits(PageEditor& editor, const TablePages& table, std::uint32_t number, std::size_t size) {
  PageRef page = editor.Read(number);
  const Format& f = editor.format();
  if (page->size() != f.page_size || (*page)[0] != static_cast<std::uint8_t>(PageType::Data)) return false;
  if (ByteView(*page).U32(f.data_tdef_page) != table.definition) return false;
  return DataPageRoom(*page, f) >= size;
}

// The first page of the free-space map with room, the pages before it taken out of the
// map; without a free-space map the last data page when it has room; 0 for none.
std::uint32_t PageWithRoom(PageEditor& editor, const TablePages& table, std::size_t size, std::uint32_t page_count) {
  if (table.free.IsNull()) {
    const std::vector<std::uint32_t> pages = ReadUsageMap(editor, table.used, page_count);
    return !pages.empty() && Fits(editor, table, pages.back(), size) ? pages.back() : 0;
  }
  for (std::uint32_t number : ReadUsageMap(editor, table.free, page_count)) {
    if (Fits(editor, table, number, size)) return number;
    EditUsageMap(editor, table.free, number, false, MapReach::Existing);
  }
  return 0;
}

std::uint32_t NewDataPage(PageEditor& editor, const TablePages& table) {
  const std::uint32_t number = editor.Allocate();
  InitDataPage(editor.Write(number), editor.format(), table.definition);
  EditUsageMap(editor, table.used, number, true, MapReach::Grow);
  if (!table.free.IsNull()) EditUsageMap(editor, table.free, number, true, MapReach::Grow);
  return number;
}

}  // namespace

RowId RowPlacement::Place(PageEditor& editor, const TablePages& table, std::string_view record,
                               std::uint32_t page_count) {
  const Format& f = editor.format();
  if (record.size() > f.page_size - f.data_slots - 2)
    throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(record.size()) + " bytes is larger than a page holds");
  const std::uint32_t last = table_ == table.definition ? last_ : 0;
  table_ = table.definition;
  last_ = 0;
  std::uint32_t number = 0;
  if (last != 0 && last < page_count) {
    if (Fits(editor, table, last, record.size())) {
      number = last;
    } else if (!table.free.IsNull()) {
      // The map's first page cannot take the row: it leaves the map like any other.
      EditUsageMap(editor, table.free, last, false, MapReach::Existing);
    }
  }
  if (number == 0) number = PageWithRoom(editor, table, record.size(), page_count);
  if (number == 0) number = NewDataPage(editor, table);
  const RowId at{number, AddRowToPage(editor.Write(number), number, f, record)};
  last_ = number;
  return at;
}

}  // namespace jet
