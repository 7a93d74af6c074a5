#include "jet/table/row_placement.h"

#include "jet/error.h"
#include "jet/format/usage_map.h"

namespace jet {
namespace {

// Whether `number` is a data page of the table, and whether the record fits there.
struct Candidate {
  bool ours = false;
  bool fits = false;
};

Candidate Look(PageEditor& editor, const TablePages& table, std::uint32_t number, std::size_t size) {
  PageRef page = editor.Read(number);
  const Format& f = editor.format();
  if (page->size() != f.page_size || (*page)[0] != static_cast<std::uint8_t>(PageType::Data)) return {};
  if (ByteView(*page).U32(f.data_tdef_page) != table.definition) return {};
  return {true, DataPageRoom(*page, f) >= size};
}

RowPointer Put(PageEditor& editor, std::uint32_t number, std::string_view record) {
  return {number, AddRowToPage(editor.Write(number), number, editor.format(), record)};
}

}  // namespace

RowPointer PlaceRow(PageEditor& editor, const TablePages& table, std::string_view record, std::uint32_t page_count) {
  const Format& f = editor.format();
  if (record.size() > f.page_size - f.data_slots - 2)
    throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(record.size()) + " bytes is larger than a page holds");
  if (!table.free.IsNull()) {
    for (std::uint32_t number : ReadUsageMap(editor, table.free, page_count)) {
      Candidate c = Look(editor, table, number, record.size());
      if (c.fits) return Put(editor, number, record);
      EditUsageMap(editor, table.free, number, false, MapReach::Existing);
    }
  } else {
    const std::vector<std::uint32_t> pages = ReadUsageMap(editor, table.used, page_count);
    if (!pages.empty() && Look(editor, table, pages.back(), record.size()).fits)
      return Put(editor, pages.back(), record);
  }
  const std::uint32_t number = editor.Allocate();
  InitDataPage(editor.Write(number), f, table.definition);
  EditUsageMap(editor, table.used, number, true, MapReach::Grow);
  if (!table.free.IsNull()) EditUsageMap(editor, table.free, number, true, MapReach::Grow);
  return Put(editor, number, record);
}

}  // namespace jet
