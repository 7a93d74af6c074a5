#include "jet/format/table_def.h"

#include <algorithm>
#include <unordered_set>

namespace jet {
namespace {

bool KnownType(std::uint8_t t) { return (t >= 0x01 && t <= 0x0C) || t == 0x0F || t == 0x10; }

std::string ReadName(ByteView b, std::size_t* pos, const Format& f, TextCodec& text) {
  std::size_t len = f.name_length_size == 1 ? b.U8(*pos) : b.U16(*pos);
  *pos += f.name_length_size;
  ByteView raw = b.Sub(*pos, len);
  *pos += len;
  return f.version == JetVersion::Jet3 ? text.FromCodePage(raw) : text.FromJet4(raw);
}

}  // namespace

int FixedColumnSize(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: return 0;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long:
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    default: return -1;
  }
}

const ColumnDef* TableDef::FindColumnByNumber(std::uint16_t number) const {
  for (const auto& c : columns)
    if (c.number == number) return &c;
  return nullptr;
}

std::string ReadTableDefBytes(Pager& pager, std::uint32_t page) {
  const Format& f = pager.format();
  std::string out;
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t current = page;
  while (current != 0) {
    if (!seen.insert(current).second)
      ThrowCorrupt("the definition pages of the table at page " + std::to_string(page) + " form a loop");
    PageRef p = pager.Read(current);
    ByteView v = ViewOf(p, "table definition page");
    if (v.U8(0) != static_cast<std::uint8_t>(PageType::TableDef))
      ThrowCorrupt("page " + std::to_string(current) + " should hold a table definition but has type " +
                   std::to_string(v.U8(0)));
    if (out.empty())
      out.append(reinterpret_cast<const char*>(v.data()), v.size());
    else
      out.append(reinterpret_cast<const char*>(v.data()) + f.tdef_continuation_header,
                 v.size() - f.tdef_continuation_header);
    current = v.U32(4);
  }
  return out;
}

namespace {

std::string AtPage(std::uint32_t page) { return "the table at page " + std::to_string(page); }

// The column entries, then their names; `pos` ends past the names.
std::vector<ColumnDef> ParseColumns(ByteView b, std::size_t* pos, std::uint16_t count, std::uint32_t page,
                                    const Format& f, TextCodec& text) {
  std::vector<ColumnDef> columns;
  const std::size_t entries_at = *pos;
  b.Need(entries_at, static_cast<std::size_t>(count) * f.col_entry_size);
  *pos += static_cast<std::size_t>(count) * f.col_entry_size;
  for (std::uint16_t i = 0; i < count; ++i) {
    ByteView e = b.Sub(entries_at + static_cast<std::size_t>(i) * f.col_entry_size, f.col_entry_size);
    ColumnDef c;
    c.raw_type = e.U8(f.col_type);
    c.number = e.U16(f.col_number);
    c.var_index = e.U16(f.col_var_index);
    c.flags = e.U8(f.col_flags);
    c.fixed_offset = e.U16(f.col_fixed_offset);
    c.length = e.U16(f.col_length);
    c.precision = e.U8(f.col_misc);
    c.scale = e.U8(f.col_misc + 1);
    c.sort_order = e.U16(f.col_misc);
    c.compressed = f.version == JetVersion::Jet4 && (e.U8(f.col_flags + 1) & 0x01) != 0;
    c.name = ReadName(b, pos, f, text);
    if (!KnownType(c.raw_type))
      ThrowCorrupt("column '" + c.name + "' of " + AtPage(page) + " has unknown type " + std::to_string(c.raw_type));
    c.type = static_cast<ColumnType>(c.raw_type);
    if (c.fixed() && static_cast<int>(c.length) < FixedColumnSize(c.type))
      ThrowCorrupt("column '" + c.name + "' of " + AtPage(page) + " is too short for its type");
    columns.push_back(std::move(c));
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const ColumnDef& a, const ColumnDef& c) { return a.number < c.number; });
  return columns;
}

// The physical indexes; their row counts come from the counters at the start of the body.
std::vector<RealIndexDef> ParseRealIndexes(ByteView b, std::size_t* pos, const std::vector<std::uint32_t>& row_counts,
                                           const Format& f) {
  std::vector<RealIndexDef> out;
  for (std::uint32_t row_count : row_counts) {
    ByteView e = b.Sub(*pos, f.real_index_size);
    *pos += f.real_index_size;
    RealIndexDef r;
    std::size_t p = f.real_index_lead;
    for (int k = 0; k < 10; ++k, p += 3) {
      std::uint16_t col = e.U16(p);
      if (col == 0xFFFF) continue;
      r.columns.push_back({col, e.U8(p + 2) != 0x01});  // 0x01 ascending, 0x00 descending
    }
    r.used_pages = RowId::FromRaw(e.U32(p));
    r.root_page = e.U32(p + 4);
    r.flags = e.U8(p + f.real_index_flags);
    r.row_count = row_count;
    out.push_back(std::move(r));
  }
  return out;
}

// The logical indexes, then their names.
std::vector<LogicalIndexDef> ParseLogicalIndexes(ByteView b, std::size_t* pos, std::uint32_t count,
                                                 std::uint32_t num_real, std::uint32_t page, const Format& f,
                                                 TextCodec& text) {
  std::vector<LogicalIndexDef> out;
  for (std::uint32_t i = 0; i < count; ++i) {
    ByteView e = b.Sub(*pos, f.logical_index_size);
    *pos += f.logical_index_size;
    LogicalIndexDef l;
    std::size_t p = f.logical_index_lead;
    l.number = e.U32(p);
    l.real_index = e.U32(p + 4);
    l.related_table_type = e.U8(p + 8);
    l.related_index = e.U32(p + 9);
    l.related_table_page = e.U32(p + 13);
    l.cascade_updates = e.U8(p + 17) != 0;
    l.cascade_deletes = e.U8(p + 18) != 0;
    l.type = e.U8(p + 19);
    if (l.real_index >= num_real)
      ThrowCorrupt("an index of " + AtPage(page) + " refers to physical index " + std::to_string(l.real_index) +
                   " of " + std::to_string(num_real));
    out.push_back(std::move(l));
  }
  for (auto& l : out) l.name = ReadName(b, pos, f, text);
  return out;
}

}  // namespace

TableDef ParseTableDef(ByteView b, std::uint32_t page, const Format& f, TextCodec& text) {
  TableDef t;
  t.page = page;
  t.row_count = b.U32(f.tdef_row_count);
  t.next_autonumber = b.U32(f.tdef_autonumber);
  t.table_type = b.U8(f.tdef_table_type);
  t.max_columns = b.U16(f.tdef_max_columns);
  t.var_columns = b.U16(f.tdef_var_columns);
  const std::uint16_t num_columns = b.U16(f.tdef_columns);
  const std::uint32_t num_logical = b.U32(f.tdef_logical_indexes);
  const std::uint32_t num_real = b.U32(f.tdef_real_indexes);
  t.used_pages = RowId::FromRaw(b.U32(f.tdef_used_pages));
  t.free_pages = RowId::FromRaw(b.U32(f.tdef_free_pages));

  // Counts beyond what the bytes could hold are damage, not big tables.
  if (num_real > 1000 || num_logical > 1000 || num_real > num_logical + 1000)
    ThrowCorrupt("the definition of " + AtPage(page) + " claims " + std::to_string(num_logical) + " indexes");
  if (num_columns == 0) ThrowCorrupt(AtPage(page) + " has no columns");

  std::size_t pos = f.tdef_body;
  std::vector<std::uint32_t> real_counts;
  for (std::uint32_t i = 0; i < num_real; ++i) {
    real_counts.push_back(b.U32(pos + 4));
    pos += f.tdef_real_index_counter;
  }
  t.columns = ParseColumns(b, &pos, num_columns, page, f, text);
  t.real_indexes = ParseRealIndexes(b, &pos, real_counts, f);
  t.indexes = ParseLogicalIndexes(b, &pos, num_logical, num_real, page, f, text);
  return t;
}

}  // namespace jet
