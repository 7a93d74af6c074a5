#pragma once
// Table definitions: the columns, the physical indexes (B-trees), the logical indexes
// that users see (several may share one physical index) and where the table's page
// usage maps lie. A definition may continue over several pages. Read here, and written
// here for the tables a new file holds.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/page/data_page.h"
#include "jet/pager/pager.h"
#include "jet/value.h"

namespace jet {

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::Long;
  std::uint8_t raw_type = 0;
  std::uint16_t number = 0;        // includes deleted columns; the null mask bit
  std::uint16_t var_index = 0;     // slot in a row's variable-column table
  std::uint16_t fixed_offset = 0;  // within the fixed part of a row
  std::uint16_t length = 0;        // bytes (0 for memo and OLE)
  std::uint8_t flags = 0;
  std::uint8_t precision = 0;      // Numeric
  std::uint8_t scale = 0;          // Numeric
  std::uint16_t sort_order = 0;    // Text, Memo
  bool compressed = false;         // Text, Memo (Jet 4): stored in the compressed form where shorter

  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool autonumber() const { return (flags & (kColumnAutoLong | kColumnAutoGuid)) != 0; }
};

struct IndexColumnDef {
  std::uint16_t column_number = 0;  // ColumnDef::number
  bool descending = false;
};

// A B-tree.
struct RealIndexDef {
  std::vector<IndexColumnDef> columns;
  RowId used_pages;
  std::uint32_t root_page = 0;
  std::uint8_t flags = 0;
  std::uint32_t row_count = 0;  // as recorded before the column list
};

struct LogicalIndexDef {
  std::string name;
  std::uint32_t number = 0;
  std::uint32_t real_index = 0;  // into TableDef::real_indexes
  std::uint8_t type = 0;         // kIndexTypePrimary, kIndexTypeForeign or 0
  std::uint8_t related_table_type = 0;
  std::uint32_t related_index = 0xFFFFFFFF;
  std::uint32_t related_table_page = 0;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

// Bytes a fixed column of the type takes in a row's fixed area (Yes/No: none, it lives in
// the null mask); -1 for the types kept in the variable area.
int FixedColumnSize(ColumnType type);

// The usage maps of a memo or OLE column's long-value pages (Jet 4).
struct ColumnMapsDef {
  std::uint16_t column_number = 0;
  RowId used_pages;
  RowId free_pages;
};

struct TableDef {
  std::uint32_t page = 0;
  std::uint32_t row_count = 0;
  std::uint32_t last_autonumber = 0;
  std::uint8_t table_type = 0;
  std::uint16_t max_columns = 0;
  std::uint16_t var_columns = 0;
  std::vector<ColumnDef> columns;  // in column-number order
  std::vector<RealIndexDef> real_indexes;
  std::vector<LogicalIndexDef> indexes;
  RowId used_pages;
  RowId free_pages;
  std::vector<ColumnMapsDef> column_maps;

  const ColumnDef* FindColumnByNumber(std::uint16_t number) const;
};

// The definition's bytes joined across its pages (each further page without its header).
std::string ReadTableDefBytes(Pager& pager, std::uint32_t page);

// Throws FormatError for a definition that does not make sense.
TableDef ParseTableDef(ByteView bytes, std::uint32_t page, const Format& format, TextCodec& text);

inline TableDef ReadTableDef(Pager& pager, std::uint32_t page) {
  std::string bytes = ReadTableDefBytes(pager, page);
  return ParseTableDef(ByteView(bytes, "table definition"), page, pager.format(), pager.text());
}

// A Jet 4 definition's bytes as they run on across its pages (the first page's header
// included), for a table whose columns are in column-number order. Throws jet::Error
// naming `table` for a name that cannot be stored.
std::string SerializeTableDef(const TableDef& def, const std::string& table);

// How many pages the definition's bytes take, and page `k` of them (replacing what the
// page held), continuing on `next` (0 on the last).
std::size_t TableDefPageCount(std::string_view bytes, const Format& f);
void PutTableDefPage(PageData& page, std::string_view bytes, std::size_t k, std::uint32_t next, const Format& f);

}  // namespace jet
