#include "jet/create/new_table_def.h"

#include <algorithm>
#include <cstring>

#include "jet/format/text.h"
#include "jet/error.h"

namespace jet::create {
namespace {

class Buffer {
 public:
  std::uint8_t* Grow(std::size_t n) {
    std::size_t at = bytes_.size();
    bytes_.resize(at + n, '\0');
    return reinterpret_cast<std::uint8_t*>(bytes_.data() + at);
  }
  void Name(const std::string& utf8, const std::string& what) {
    std::string ucs2 = Ucs2Bytes(ToUcs2(utf8, what));
    Put16(Grow(2), static_cast<std::uint16_t>(ucs2.size()));
    bytes_ += ucs2;
  }
  std::string& str() { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace

namespace {

void PutHeader(Buffer& b, const NewTableDef& def) {
  const Format& f = kJet4Format;
  const TableLayout& layout = def.layout;
  std::uint8_t* h = b.Grow(f.tdef_body);
  h[0] = static_cast<std::uint8_t>(PageType::TableDef);
  h[1] = 0x01;
  // f.tdef_length: total length, filled in at the end
  Put32(h + 12, kTableMagic);
  Put32(h + f.tdef_row_count, def.rows);
  Put32(h + f.tdef_autonumber, def.last_autonumber);
  h[24] = 0x01;  // Access numbers autonumbers only with this set
  h[f.tdef_table_type] = def.system ? kTableTypeSystem : kTableTypeUser;
  Put16(h + f.tdef_max_columns, static_cast<std::uint16_t>(layout.columns.size()));
  Put16(h + f.tdef_var_columns, layout.var_count);
  Put16(h + f.tdef_columns, static_cast<std::uint16_t>(layout.columns.size()));
  Put32(h + f.tdef_logical_indexes, static_cast<std::uint32_t>(def.logical_indexes.size()));
  Put32(h + f.tdef_real_indexes, static_cast<std::uint32_t>(def.real_indexes.size()));
  Put32(h + f.tdef_used_pages, def.used_map);
  Put32(h + f.tdef_free_pages, def.free_map);
  for (const NewRealIndex& r : def.real_indexes) Put32(b.Grow(f.tdef_real_index_counter) + 4, r.rows);
}

void PutColumns(Buffer& b, const NewTableDef& def) {
  const Format& f = kJet4Format;
  for (const ColumnDef& c : def.layout.columns) {
    std::uint8_t* p = b.Grow(f.col_entry_size);
    p[f.col_type] = c.raw_type;
    Put32(p + 1, kTableMagic);
    Put16(p + f.col_number, c.number);
    Put16(p + f.col_var_index, c.var_index);
    Put16(p + f.col_row_number, c.number);
    Put16(p + f.col_misc, c.sort_order);
    p[f.col_flags] = c.flags;
    p[f.col_flags + 1] = c.compressed ? 0x01 : 0x00;
    Put16(p + f.col_fixed_offset, c.fixed() ? c.fixed_offset : 0);
    Put16(p + f.col_length, c.length);
  }
  for (const ColumnDef& c : def.layout.columns) b.Name(c.name, "Column name in table '" + def.name + "'");
}

void PutIndexes(Buffer& b, const NewTableDef& def) {
  const Format& f = kJet4Format;
  for (const NewRealIndex& r : def.real_indexes) {
    std::uint8_t* p = b.Grow(f.real_index_size);
    Put32(p, kIndexMagic);
    for (std::size_t k = 0; k < kMaxIndexColumns; ++k) {
      std::uint8_t* c = p + f.real_index_lead + 3 * k;
      if (k < r.columns.size()) {
        Put16(c, r.columns[k].first);
        c[2] = r.columns[k].second ? 0x01 : 0x00;
      } else {
        Put16(c, 0xffff);
      }
    }
    std::uint8_t* after = p + f.real_index_lead + 3 * kMaxIndexColumns;
    Put32(after, r.usage_map);
    Put32(after + 4, r.root);
    after[f.real_index_flags] = r.flags;
  }
  for (const NewLogicalIndex& l : def.logical_indexes) {
    std::uint8_t* p = b.Grow(f.logical_index_size);
    Put32(p, kTableMagic);
    std::uint8_t* e = p + f.logical_index_lead;
    Put32(e, l.number);
    Put32(e + 4, l.real);
    e[8] = l.related_table_kind;
    Put32(e + 9, static_cast<std::uint32_t>(l.related_index));
    Put32(e + 13, l.related_tdef);
    e[17] = l.cascade_updates ? 1 : 0;
    e[18] = l.cascade_deletes ? 1 : 0;
    e[19] = l.kind;
  }
  for (const NewLogicalIndex& l : def.logical_indexes) b.Name(l.name, "Index name in table '" + def.name + "'");
}

}  // namespace

std::string SerializeTableDefinition(const NewTableDef& def) {
  Buffer b;
  PutHeader(b, def);
  PutColumns(b, def);
  PutIndexes(b, def);
  for (const LongValueMaps& m : def.long_value_maps) {
    std::uint8_t* p = b.Grow(10);
    Put16(p, m.column);
    Put32(p + 2, m.used);
    Put32(p + 6, m.free);
  }
  Put16(b.Grow(2), 0xffff);
  std::string& out = b.str();
  Put32(reinterpret_cast<std::uint8_t*>(out.data()) + kJet4Format.tdef_length, static_cast<std::uint32_t>(out.size()));
  return out;
}

void StoreTableDefinition(const std::string& bytes, std::uint32_t first_page, PageStore* store) {
  std::size_t pos = 0;
  std::uint32_t page = first_page;
  bool first = true;
  while (true) {
    std::uint8_t* p = store->Write(page).data();
    std::size_t header = first ? 0 : kJet4Format.tdef_continuation_header;
    std::size_t room = kJet4Format.page_size - header;
    std::size_t n = std::min(room, bytes.size() - pos);
    std::memcpy(p + header, bytes.data() + pos, n);
    pos += n;
    p[0] = static_cast<std::uint8_t>(PageType::TableDef);
    p[1] = 0x01;
    // Free space in the page, less the 8 bytes of the page header.
    std::size_t used = header + n;
    Put16(p + 2, static_cast<std::uint16_t>(used + 8 <= kJet4Format.page_size ? kJet4Format.page_size - used - 8 : 0));
    if (pos >= bytes.size()) {
      Put32(p + 4, 0);
      return;
    }
    std::uint32_t next = store->Allocate();
    p = store->Write(page).data();
    Put32(p + 4, next);
    page = next;
    first = false;
  }
}

}  // namespace jet::create
