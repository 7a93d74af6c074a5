#include "jet/table/table_reader.h"

#include "jet/page/usage_map.h"

namespace jet {

TableReader::TableReader(Pager& pager, std::string name, TableDef def)
    : pager_(&pager), name_(std::move(name)), def_(std::move(def)), codec_(pager, def_, name_) {}

void TableReader::Reset(TableDef def) {
  def_ = std::move(def);
  codec_ = RecordDecoder(*pager_, def_, name_);
}

std::vector<std::uint32_t> TableReader::DataPages() const {
  try {
    return ReadUsageMap(*pager_, def_.used_pages);
  } catch (const FormatError& e) {
    throw FormatError("table '" + name_ + "': " + e.what());
  }
}

[[noreturn]] void TableReader::Rethrow(const FormatError& e) const {
  const std::string what = e.what();
  if (what.find("table '") != std::string::npos) throw e;
  throw FormatError("table '" + name_ + "': " + what);
}

void TableReader::Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) const {
  // One row reused for every record: only the wanted columns are ever filled, and each
  // record overwrites them all.
  const std::size_t ncols = def_.columns.size();
  Row row(ncols);
  RecordLayout layout;
  std::vector<std::size_t> columns;  // the wanted ones
  for (std::size_t i = 0; i < ncols; ++i)
    if (wanted.empty() || (i < wanted.size() && wanted[i])) columns.push_back(i);
  bool has_var = def_.var_columns > 0;
  for (const auto& c : def_.columns)
    if (!c.fixed()) has_var = true;
  ScanRecords([&](RowId id, ByteView record) {
    ParseRecord(record, pager_->format(), has_var, &layout);
    for (std::size_t i : columns) row[i] = codec_.DecodeColumn(layout, record, def_.columns[i]);
    return visit(id, row);
  });
}

void TableReader::ScanRecords(const std::function<bool(RowId, ByteView record)>& visit) const {
  std::vector<std::uint32_t> pages = DataPages();
  try {
    for (std::uint32_t number : pages) {
      PageRef p = pager_->Read(number);
      if ((*p)[0] != static_cast<std::uint8_t>(PageType::Data)) continue;
      DataPage page(p, number, pager_->format());
      if (page.owner() != def_.page) continue;
      std::uint16_t count = page.row_count();
      if (count > 256) ThrowCorrupt("data page " + std::to_string(number) + " claims " + std::to_string(count) + " rows");
      for (std::uint16_t slot = 0; slot < count; ++slot) {
        PageRef keep;
        ByteView record = ResolveRow(*pager_, page, slot, &keep);
        if (record.empty()) continue;
        if (!visit(RowId{number, static_cast<std::uint8_t>(slot)}, record)) return;
      }
    }
  } catch (const FormatError& e) {
    Rethrow(e);
  }
}

ByteView TableReader::Record(RowId id, PageRef* keep) const {
  std::uint32_t number = id.page;
  if (number == 0 || number >= pager_->page_count()) return {};
  PageRef p = pager_->Read(number);
  if ((*p)[0] != static_cast<std::uint8_t>(PageType::Data)) return {};
  DataPage page(p, number, pager_->format());
  if (page.owner() != def_.page || id.row >= page.row_count()) return {};
  *keep = p;
  try {
    return ResolveRow(*pager_, page, id.row, keep);
  } catch (const FormatError& e) {
    Rethrow(e);
  }
}

Row TableReader::ReadRow(RowId id, const std::vector<bool>& wanted) const {
  PageRef keep;
  ByteView record = Record(id, &keep);
  if (record.empty())
    ThrowCorrupt("table '" + name_ + "' has no row at page " + std::to_string(id.page) + " slot " +
                 std::to_string(id.row));
  return codec_.Decode(record, wanted);
}

}  // namespace jet
