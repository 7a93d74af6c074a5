#include "jet/create/table_def.h"

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

std::string SerializeTableDefinition(const TableDefinition& def) {
  Buffer b;
  const TableLayout& layout = def.layout;
  std::uint8_t* h = b.Grow(kJet4Format.tdef_body);
  h[0] = static_cast<std::uint8_t>(PageType::TableDef);
  h[1] = 0x01;
  // 8: total length, filled in at the end
  Put32(h + 12, kTableMagic);
  Put32(h + 16, def.rows);
  Put32(h + 20, def.last_autonumber);
  h[24] = 0x01;  // Access numbers autonumbers only with this set
  h[40] = def.system ? 0x53 : 0x4e;
  Put16(h + 41, static_cast<std::uint16_t>(layout.columns.size()));
  Put16(h + 43, layout.var_count);
  Put16(h + 45, static_cast<std::uint16_t>(layout.columns.size()));
  Put32(h + 47, static_cast<std::uint32_t>(def.logical_indexes.size()));
  Put32(h + 51, static_cast<std::uint32_t>(def.real_indexes.size()));
  Put32(h + 55, def.used_map);
  Put32(h + 59, def.free_map);

  for (const RealIndexDef& r : def.real_indexes) {
    std::uint8_t* p = b.Grow(12);
    Put32(p + 4, r.rows);
  }
  for (const ColumnDef& c : layout.columns) {
    std::uint8_t* p = b.Grow(kJet4Format.col_entry_size);
    p[0] = c.raw_type;
    Put32(p + 1, kTableMagic);
    Put16(p + 5, c.number);
    Put16(p + 7, c.var_index);
    Put16(p + 9, c.number);
    Put16(p + 11, c.sort_order);
    p[15] = c.flags;
    p[16] = c.compressed ? 0x01 : 0x00;
    Put16(p + 21, c.fixed() ? c.fixed_offset : 0);
    Put16(p + 23, c.length);
  }
  for (const ColumnDef& c : layout.columns) {
    b.Name(c.name, "Column name in table '" + def.name + "'");
  }
  for (const RealIndexDef& r : def.real_indexes) {
    std::uint8_t* p = b.Grow(kJet4Format.real_index_size);
    Put32(p, kIndexMagic);
    for (std::size_t k = 0; k < kMaxIndexColumns; ++k) {
      std::uint8_t* c = p + 4 + 3 * k;
      if (k < r.columns.size()) {
        Put16(c, r.columns[k].first);
        c[2] = r.columns[k].second ? 0x01 : 0x00;
      } else {
        Put16(c, 0xffff);
      }
    }
    Put32(p + 34, r.usage_map);
    Put32(p + 38, r.root);
    p[46] = r.flags;
  }
  for (const LogicalIndexDef& l : def.logical_indexes) {
    std::uint8_t* p = b.Grow(kJet4Format.logical_index_size);
    Put32(p, kTableMagic);
    Put32(p + 4, l.number);
    Put32(p + 8, l.real);
    p[12] = l.related_table_kind;
    Put32(p + 13, static_cast<std::uint32_t>(l.related_index));
    Put32(p + 17, l.related_tdef);
    p[21] = l.cascade_updates ? 1 : 0;
    p[22] = l.cascade_deletes ? 1 : 0;
    p[23] = l.kind;
  }
  for (const LogicalIndexDef& l : def.logical_indexes) {
    b.Name(l.name, "Index name in table '" + def.name + "'");
  }
  for (const LongValueMaps& m : def.long_value_maps) {
    std::uint8_t* p = b.Grow(10);
    Put16(p, m.column);
    Put32(p + 2, m.used);
    Put32(p + 6, m.free);
  }
  Put16(b.Grow(2), 0xffff);
  std::string& out = b.str();
  Put32(reinterpret_cast<std::uint8_t*>(out.data()) + 8, static_cast<std::uint32_t>(out.size()));
  return out;
}

void StoreTableDefinition(const std::string& bytes, std::uint32_t first_page, PageStore* store) {
  std::size_t pos = 0;
  std::uint32_t page = first_page;
  bool first = true;
  while (true) {
    std::uint8_t* p = store->At(page);
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
    p = store->At(page);
    Put32(p + 4, next);
    page = next;
    first = false;
  }
}

}  // namespace jet::create
