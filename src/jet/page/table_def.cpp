#include "jet/page/table_def.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "jet/format/text.h"

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
    current = v.U32(f.tdef_next_page);
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
    c.compressed = f.col_compressed != 0 && (e.U8(f.col_compressed) & kColumnCompressed) != 0;
    c.name = ReadName(b, pos, f, text);
    if (!KnownType(c.raw_type))
      ThrowCorrupt("column '" + c.name + "' of " + AtPage(page) + " has unknown type " + std::to_string(c.raw_type));
    c.type = static_cast<ColumnType>(c.raw_type);
    if (c.type == ColumnType::Numeric) {
      c.precision = e.U8(f.col_precision);
      c.scale = e.U8(f.col_scale);
    } else {
      c.sort_order = e.U16(f.col_sort_order);
    }
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
    for (std::size_t k = 0; k < kMaxIndexColumns; ++k) {
      const std::size_t slot = f.real_index_columns + k * kIndexColumnSlot.size;
      std::uint16_t col = e.U16(slot);
      if (col == kIndexColumnSlot.unused) continue;
      r.columns.push_back({col, e.U8(slot + kIndexColumnSlot.order) != kIndexColumnSlot.ascending});
    }
    r.used_pages = RowId::FromRaw(e.U32(f.real_index_used_pages));
    r.root_page = e.U32(f.real_index_root);
    r.flags = e.U8(f.real_index_flags);
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
    LogicalIndexDef l{.name = {},  // after all the entries
                      .number = e.U32(f.logical_index_number),
                      .real_index = e.U32(f.logical_index_real),
                      .type = e.U8(f.logical_index_type),
                      .related_table_type = e.U8(f.logical_index_related_type),
                      .related_index = e.U32(f.logical_index_related_index),
                      .related_table_page = e.U32(f.logical_index_related_page),
                      .cascade_updates = e.U8(f.logical_index_cascade_updates) != 0,
                      .cascade_deletes = e.U8(f.logical_index_cascade_deletes) != 0};
    if (l.real_index >= num_real)
      ThrowCorrupt("an index of " + AtPage(page) + " refers to physical index " + std::to_string(l.real_index) +
                   " of " + std::to_string(num_real));
    out.push_back(std::move(l));
  }
  for (auto& l : out) l.name = ReadName(b, pos, f, text);
  return out;
}

// The usage maps of the memo and OLE columns (Jet 4). The bytes run on to the end of the
// last page, whatever it holds, so an entry counts only if it names such a column.
std::vector<ColumnMapsDef> ParseColumnMaps(ByteView b, std::size_t pos, const TableDef& t) {
  std::vector<ColumnMapsDef> out;
  for (; pos + kColumnMaps.size <= b.size(); pos += kColumnMaps.size) {
    const ColumnDef* c = t.FindColumnByNumber(b.U16(pos + kColumnMaps.column));
    if (c == nullptr || (c->type != ColumnType::Memo && c->type != ColumnType::Ole)) break;
    out.push_back({c->number, RowId::FromRaw(b.U32(pos + kColumnMaps.used)),
                   RowId::FromRaw(b.U32(pos + kColumnMaps.free))});
  }
  return out;
}

}  // namespace

TableDef ParseTableDef(ByteView b, std::uint32_t page, const Format& f, TextCodec& text) {
  TableDef t;
  t.page = page;
  t.row_count = b.U32(f.tdef_row_count);
  t.last_autonumber = b.U32(f.tdef_autonumber);
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
    real_counts.push_back(b.U32(pos + f.tdef_real_index_rows));
    pos += f.tdef_real_index_counter;
  }
  t.columns = ParseColumns(b, &pos, num_columns, page, f, text);
  t.real_indexes = ParseRealIndexes(b, &pos, real_counts, f);
  t.indexes = ParseLogicalIndexes(b, &pos, num_logical, num_real, page, f, text);
  if (f.version == JetVersion::Jet4) t.column_maps = ParseColumnMaps(b, pos, t);
  return t;
}

namespace {

// Appends zeroed space and hands out where it starts.
std::uint8_t* Grow(std::string& out, std::size_t n) {
  const std::size_t at = out.size();
  out.resize(at + n, '\0');
  return reinterpret_cast<std::uint8_t*>(out.data() + at);
}

void PutName(std::string& out, const std::string& utf8, const std::string& what) {
  const std::string ucs2 = Ucs2Bytes(ToUcs2(utf8, what));
  Put16(Grow(out, kJet4Format.name_length_size), static_cast<std::uint16_t>(ucs2.size()));
  out += ucs2;
}

void PutColumn(std::uint8_t* p, const ColumnDef& c, const Format& f) {
  p[f.col_type] = c.raw_type;
  Put32(p + f.col_magic, kTableMagic);
  Put16(p + f.col_number, c.number);
  Put16(p + f.col_var_index, c.var_index);
  Put16(p + f.col_row_number, c.number);
  if (c.type == ColumnType::Numeric) {
    p[f.col_precision] = c.precision;
    p[f.col_scale] = c.scale;
  } else {
    Put16(p + f.col_sort_order, c.sort_order);
  }
  p[f.col_flags] = c.flags;
  p[f.col_compressed] = c.compressed ? kColumnCompressed : 0;
  Put16(p + f.col_fixed_offset, c.fixed_offset);
  Put16(p + f.col_length, c.length);
}

void PutRealIndex(std::uint8_t* p, const RealIndexDef& r, const Format& f) {
  Put32(p, kIndexMagic);
  for (std::size_t k = 0; k < kMaxIndexColumns; ++k) {
    std::uint8_t* slot = p + f.real_index_columns + k * kIndexColumnSlot.size;
    if (k < r.columns.size()) {
      Put16(slot, r.columns[k].column_number);
      slot[kIndexColumnSlot.order] = r.columns[k].descending ? 0 : kIndexColumnSlot.ascending;
    } else {
      Put16(slot, kIndexColumnSlot.unused);
    }
  }
  Put32(p + f.real_index_used_pages, r.used_pages.Raw());
  Put32(p + f.real_index_root, r.root_page);
  p[f.real_index_flags] = r.flags;
}

void PutLogicalIndex(std::uint8_t* p, const LogicalIndexDef& l, const Format& f) {
  Put32(p, kTableMagic);
  Put32(p + f.logical_index_number, l.number);
  Put32(p + f.logical_index_real, l.real_index);
  p[f.logical_index_related_type] = l.related_table_type;
  Put32(p + f.logical_index_related_index, l.related_index);
  Put32(p + f.logical_index_related_page, l.related_table_page);
  p[f.logical_index_cascade_updates] = l.cascade_updates ? 1 : 0;
  p[f.logical_index_cascade_deletes] = l.cascade_deletes ? 1 : 0;
  p[f.logical_index_type] = l.type;
}

}  // namespace

std::string SerializeTableDef(const TableDef& def, const std::string& table) {
  const Format& f = kJet4Format;
  std::string out;
  std::uint8_t* h = Grow(out, f.tdef_body);
  h[0] = static_cast<std::uint8_t>(PageType::TableDef);
  h[1] = kPageMark;
  Put32(h + f.tdef_magic, kTableMagic);
  Put32(h + f.tdef_row_count, def.row_count);
  Put32(h + f.tdef_autonumber, def.last_autonumber);
  h[f.tdef_autonumber_on] = 0x01;
  h[f.tdef_table_type] = def.table_type;
  Put16(h + f.tdef_max_columns, def.max_columns);
  Put16(h + f.tdef_var_columns, def.var_columns);
  Put16(h + f.tdef_columns, static_cast<std::uint16_t>(def.columns.size()));
  Put32(h + f.tdef_logical_indexes, static_cast<std::uint32_t>(def.indexes.size()));
  Put32(h + f.tdef_real_indexes, static_cast<std::uint32_t>(def.real_indexes.size()));
  Put32(h + f.tdef_used_pages, def.used_pages.Raw());
  Put32(h + f.tdef_free_pages, def.free_pages.Raw());
  for (const RealIndexDef& r : def.real_indexes)
    Put32(Grow(out, f.tdef_real_index_counter) + f.tdef_real_index_rows, r.row_count);
  for (const ColumnDef& c : def.columns) PutColumn(Grow(out, f.col_entry_size), c, f);
  for (const ColumnDef& c : def.columns) PutName(out, c.name, "Column name in table '" + table + "'");
  for (const RealIndexDef& r : def.real_indexes) PutRealIndex(Grow(out, f.real_index_size), r, f);
  for (const LogicalIndexDef& l : def.indexes) PutLogicalIndex(Grow(out, f.logical_index_size), l, f);
  for (const LogicalIndexDef& l : def.indexes) PutName(out, l.name, "Index name in table '" + table + "'");
  for (const ColumnMapsDef& m : def.column_maps) {
    std::uint8_t* p = Grow(out, kColumnMaps.size);
    Put16(p + kColumnMaps.column, m.column_number);
    Put32(p + kColumnMaps.used, m.used_pages.Raw());
    Put32(p + kColumnMaps.free, m.free_pages.Raw());
  }
  Put16(Grow(out, sizeof kTableDefEnd), kTableDefEnd);
  Put32(reinterpret_cast<std::uint8_t*>(out.data()) + f.tdef_length, static_cast<std::uint32_t>(out.size()));
  return out;
}

std::size_t TableDefPageCount(std::string_view bytes, const Format& f) {
  const std::size_t more = f.page_size - f.tdef_continuation_header;
  return bytes.size() <= f.page_size ? 1 : 1 + (bytes.size() - f.page_size + more - 1) / more;
}

void PutTableDefPage(PageData& page, std::string_view bytes, std::size_t k, std::uint32_t next, const Format& f) {
  const std::size_t more = f.page_size - f.tdef_continuation_header;
  const std::size_t start = k == 0 ? 0 : f.page_size + (k - 1) * more;
  const std::size_t header = k == 0 ? 0 : f.tdef_continuation_header;
  const std::size_t n = std::min(f.page_size - header, bytes.size() - start);
  page.assign(f.page_size, 0);
  std::memcpy(page.data() + header, bytes.data() + start, n);
  page[0] = static_cast<std::uint8_t>(PageType::TableDef);
  page[1] = kPageMark;
  // The free space leaves out the page's 8-byte header.
  const std::size_t used = header + n + 8;
  Put16(&page[f.tdef_free_space], static_cast<std::uint16_t>(used <= f.page_size ? f.page_size - used : 0));
  Put32(&page[f.tdef_next_page], next);
}

}  // namespace jet
