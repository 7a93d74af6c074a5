#include "jet/compact/page_copy.h"

#include <algorithm>
#include <cstring>

#include "jet/error.h"
#include "jet/format/header.h"
#include "jet/page/table_def.h"
#include "jet/page/usage_map.h"
#include "jet/row/record.h"

namespace jet::compact {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kInlineBitmap = 5;        // type byte, first page, then the bits
constexpr std::size_t kWriteBatch = 256;        // pages written in one call

void SetBit(std::uint8_t* bitmap, std::uint64_t bit) { bitmap[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8)); }

bool Contains(const std::vector<std::uint32_t>& sorted, std::uint32_t v) {
  return std::binary_search(sorted.begin(), sorted.end(), v);
}

void SortUnique(std::vector<std::uint32_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// How a map is rebuilt: a map that must name every page it owns, one that only advises
// (pages it cannot reach are merely not offered), and the database's map of free pages.
enum class MapKind { Owned, Advisory, FreePages };

}  // namespace

PageCopy::Table PageCopy::ReadTable(Pager& source, std::uint32_t first) {
  const Format& f = source.format();
  Table t;
  t.page = first;
  const std::string bytes = ReadTableDefBytes(source, first);
  for (std::uint32_t p = first; p != 0;) {
    t.pages.push_back(p);
    p = ViewOf(source.Read(p)).U32(f.tdef_next_page);
  }
  const ByteView b(bytes, "table definition");
  t.used_pages = RowId::FromRaw(b.U32(f.tdef_used_pages));
  t.free_pages = RowId::FromRaw(b.U32(f.tdef_free_pages));
  t.var_columns = b.U16(f.tdef_var_columns) > 0;
  const std::uint16_t columns = b.U16(f.tdef_columns);
  const std::uint32_t real = b.U32(f.tdef_real_indexes);
  if (real > 1000) ThrowCorrupt("the definition of the table at page " + std::to_string(first) + " is damaged");
  std::size_t pos = f.tdef_body + std::size_t{real} * f.tdef_real_index_counter;
  for (std::uint16_t i = 0; i < columns; ++i, pos += f.col_entry_size) {
    const std::uint8_t type = b.U8(pos + f.col_type);
    t.var_columns = t.var_columns || (b.U8(pos + f.col_flags) & kColumnFixed) == 0;
    if (type == static_cast<std::uint8_t>(ColumnType::Memo) || type == static_cast<std::uint8_t>(ColumnType::Ole))
      t.long_values.push_back({b.U16(pos + f.col_number), b.U16(pos + f.col_var_index)});
  }
  for (std::uint16_t i = 0; i < columns; ++i)
    pos += f.name_length_size + (f.name_length_size == 1 ? b.U8(pos) : b.U16(pos));
  t.real_indexes_at = pos;
  for (std::uint32_t i = 0; i < real; ++i, pos += f.real_index_size) {
    t.index_maps.push_back(RowId::FromRaw(b.U32(pos + f.real_index_used_pages)));
    t.roots.push_back(b.U32(pos + f.real_index_root));
  }
  if (f.version != JetVersion::Jet4) return t;
  // The column maps follow the logical indexes and their names, an entry for as long as
  // one names a memo or OLE column.
  const std::uint32_t logical = b.U32(f.tdef_logical_indexes);
  pos += std::size_t{logical} * f.logical_index_size;
  for (std::uint32_t i = 0; i < logical; ++i) pos += f.name_length_size + b.U16(pos);
  t.column_maps_at = pos;
  for (; pos + kColumnMaps.size <= b.size(); pos += kColumnMaps.size) {
    const std::uint16_t number = b.U16(pos + kColumnMaps.column);
    if (std::none_of(t.long_values.begin(), t.long_values.end(), [&](const LongColumn& c) { return c.number == number; }))
      break;
    t.column_maps.push_back(RowId::FromRaw(b.U32(pos + kColumnMaps.used)));
    t.column_maps.push_back(RowId::FromRaw(b.U32(pos + kColumnMaps.free)));
  }
  return t;
}

PageCopy::PageCopy(Pager& source, const std::vector<std::uint32_t>& definition_pages)
    : src_(&source), f_(&source.format()) {
  for (std::uint32_t first : definition_pages) tables_.push_back(ReadTable(source, first));
  Plan();
}

// The pages a record's memo and OLE values lie on; the links of values kept in a chain
// of rows (each row starting with the pointer to the next) are noted, since such rows
// look like any other on their page.
void PageCopy::Visit(const Table& t, ByteView record, std::vector<std::uint32_t>* targets) {
  VisitLongValueRows(*src_, record, t.var_columns, t.long_values, [&](LongValueForm form, RowId at) {
    if (form == LongValueForm::Chain) chain_rows_.push_back(at.Raw());
    targets->push_back(at.page);
  });
}

void PageCopy::Plan() {
  const std::uint32_t n = src_->page_count();
  live_.assign(n, false);
  live_[0] = live_[1] = true;
  std::vector<std::uint32_t> definitions{0, 1};
  std::vector<RowId> maps{kFreePageMap};
  for (const Table& t : tables_) {
    definitions.insert(definitions.end(), t.pages.begin(), t.pages.end());
    maps.push_back(t.used_pages);
    if (!t.free_pages.IsNull()) maps.push_back(t.free_pages);
    for (RowId m : t.index_maps)
      if (!m.IsNull()) maps.push_back(m);
    for (RowId m : t.column_maps)
      if (!m.IsNull()) maps.push_back(m);
  }
  // The pages holding maps, and the map pages they list, are copied whole.
  for (RowId m : maps) {
    map_hosts_.push_back(m.page);
    PageRef keep;
    const ByteView row = ReadRowBytes(*src_, m, &keep);
    if (!row.empty() && row.U8(0) == kUsageMapReference)
      for (std::size_t i = 1; i + 4 <= row.size(); i += 4)
        if (std::uint32_t p = row.U32(i); p != 0 && p < n) live_[p] = true;
  }
  SortUnique(map_hosts_);
  for (std::uint32_t p : map_hosts_) {
    if (p >= n) ThrowCorrupt("a usage map lies on page " + std::to_string(p) + ", past the end of the file");
    live_[p] = true;
  }
  // The data pages of each table, and the pages of the long values their rows hold.
  std::vector<std::uint32_t> targets;
  for (Table& t : tables_) {
    if (t.long_values.empty()) {
      // Read when packed; a page of the map that is no data page of the table is skipped then.
      t.data_pages = ReadUsageMap(*src_, t.used_pages);
      continue;
    }
    for (std::uint32_t p : ReadUsageMap(*src_, t.used_pages)) {
      PageRef ref = src_->Read(p);
      if ((*ref)[0] != static_cast<std::uint8_t>(PageType::Data)) continue;
      DataPage page(ref, p, *f_);
      if (page.owner() != t.page) continue;
      t.data_pages.push_back(p);
      for (std::uint16_t i = 0; i < page.row_count(); ++i) {
        PageRef keep;
        const ByteView record = ResolveRow(*src_, page, i, &keep);
        if (!record.empty()) Visit(t, record, &targets);
      }
    }
  }
  SortUnique(targets);
  SortUnique(chain_rows_);
  for (std::uint32_t p : targets) {
    if (p >= n) ThrowCorrupt("a memo or OLE value refers to page " + std::to_string(p) + ", past the end of the file");
    live_[p] = true;
  }
  // A table whose data pages hold more than its rows is copied page by page.
  for (Table& t : tables_) {
    for (std::uint32_t p : t.data_pages)
      if (Contains(targets, p) || Contains(map_hosts_, p)) t.packed = false;
    if (!t.packed)
      for (std::uint32_t p : t.data_pages) live_[p] = true;
  }

  // Definition pages, the header and page 1 (the free-page map) stay where they are;
  // every other page copied whole takes the lowest number left, in its old order.
  SortUnique(definitions);
  pinned_.assign(definitions.back() + 1u, false);
  for (std::uint32_t p : definitions) {
    if (p >= n) ThrowCorrupt("a table definition continues on page " + std::to_string(p) + ", past the end of the file");
    pinned_[p] = true;
    live_[p] = true;
  }
  new_.assign(n, kNone);
  for (std::uint32_t p = 0; p < n; ++p) {
    if (!live_[p]) continue;
    new_[p] = p < pinned_.size() && pinned_[p] ? p : Allocate();
  }
  filled_.assign(std::max<std::size_t>(next_, pinned_.size()), false);
  for (std::uint32_t p = 0; p < n; ++p)
    if (new_[p] != kNone) filled_[new_[p]] = true;
  // Packed rows take at most the pages they took; rebuilt indexes as many as before at most.
  planned_ = n;
}

std::uint32_t PageCopy::Allocate() {
  while (next_ < pinned_.size() && pinned_[next_]) ++next_;
  return next_++;
}

std::uint32_t PageCopy::Renumber(std::uint32_t page, const char* what) const {
  if (page >= new_.size() || new_[page] == kNone)
    ThrowCorrupt(std::string(what) + " refers to page " + std::to_string(page) +
                 ", which nothing in the file uses or which lies past the end of the file");
  return new_[page];
}

std::uint32_t PageCopy::RenumberRow(std::uint32_t raw, const char* what) const {
  if (raw == 0) return 0;
  RowId at = RowId::FromRaw(raw);
  at.page = Renumber(at.page, what);
  return at.Raw();
}

void PageCopy::Put(os::File& out, std::uint32_t new_page, PageData& bytes) {
  if (src_->header().database_key != 0) CryptPage(src_->header().database_key, new_page, bytes.data(), bytes.size());
  // Pages that follow one another go out in one write.
  if (!pending_.empty() && (new_page != pending_start_ + pending_.size() / f_->page_size ||
                            pending_.size() >= kWriteBatch * f_->page_size))
    Flush(out);
  if (pending_.empty()) {
    pending_start_ = new_page;
    pending_.reserve(kWriteBatch * f_->page_size);
  }
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  if (new_page >= filled_.size()) filled_.resize(new_page + 1u, false);
  filled_[new_page] = true;
}

void PageCopy::Flush(os::File& out) {
  if (!pending_.empty()) out.WriteAt(std::uint64_t{pending_start_} * f_->page_size, pending_.data(), pending_.size());
  pending_.clear();
}

// Every usage map rebuilt for the new numbers: its row (put in place when its page is
// copied) and its map pages (written now, also those a map needs afresh).
void PageCopy::RewriteMaps(os::File& out) {
  struct Map {
    RowId where;
    MapKind kind;
    std::vector<std::uint32_t> pages;  // new numbers
  };
  auto renumbered = [&](RowId where) {
    std::vector<std::uint32_t> pages;
    for (std::uint32_t p : ReadUsageMap(*src_, where))
      if (new_[p] != kNone) pages.push_back(new_[p]);
    return pages;
  };
  std::vector<Map> maps;
  for (const Table& t : tables_) {
    std::vector<std::uint32_t> used = renumbered(t.used_pages);
    used.insert(used.end(), t.new_data_pages.begin(), t.new_data_pages.end());
    maps.push_back({t.used_pages, MapKind::Owned, std::move(used)});
    for (std::size_t r = 0; r < t.index_maps.size(); ++r)
      if (!t.index_maps[r].IsNull()) maps.push_back({t.index_maps[r], MapKind::Owned, t.new_index_pages[r]});
    if (!t.free_pages.IsNull()) {
      std::vector<std::uint32_t> room;
      if (!t.packed) room = renumbered(t.free_pages);
      else if (!t.new_data_pages.empty()) room.push_back(t.new_data_pages.back());
      maps.push_back({t.free_pages, MapKind::Advisory, std::move(room)});
    }
    // A column's long values are copied whole: its maps keep the pages kept.
    for (std::size_t k = 0; k < t.column_maps.size(); ++k) {
      const RowId where = t.column_maps[k];
      if (!where.IsNull()) maps.push_back({where, k % 2 == 0 ? MapKind::Owned : MapKind::Advisory, renumbered(where)});
    }
  }
  // The free-page map last: it marks what the others' new map pages leave free.
  maps.push_back({kFreePageMap, MapKind::FreePages, {}});

  const std::uint32_t per_map_page = (f_->page_size - kUsageMapPageHeader) * 8;
  for (Map& m : maps) {
    if (std::any_of(map_rows_.begin(), map_rows_.end(), [&](const auto& r) { return r.first == m.where.Raw(); }))
      continue;
    std::vector<std::uint32_t>& pages = m.pages;
    SortUnique(pages);
    const std::uint32_t end = std::max<std::uint32_t>(next_, static_cast<std::uint32_t>(pinned_.size()));
    auto is_free = [&](std::uint64_t q) { return q >= end || !filled_[q]; };

    PageRef keep;
    const ByteView old_row = ReadRowBytes(*src_, m.where, &keep);
    std::vector<std::uint8_t> row(old_row.data(), old_row.data() + old_row.size());
    if (row.empty()) ThrowCorrupt("the usage map at page " + std::to_string(m.where.page) + " is empty");
    const std::uint64_t width = row.size() > kInlineBitmap ? (row.size() - kInlineBitmap) * 8 : 0;

    bool as_reference = row[0] == kUsageMapReference;
    if (row[0] == kUsageMapInline) {
      std::uint32_t start = ByteView(row).U32(1);
      if (!pages.empty() && (pages.front() < start || pages.back() - start >= width)) {
        if (pages.back() - pages.front() < width || m.kind != MapKind::Owned)
          start = pages.front();
        else
          as_reference = true;
      }
      if (!as_reference) {
        std::fill(row.begin() + kInlineBitmap, row.end(), std::uint8_t{0});
        Put32(row.data() + 1, start);
        if (m.kind == MapKind::FreePages) {
          for (std::uint64_t bit = 0; bit < width; ++bit)
            if (is_free(start + bit)) SetBit(row.data() + kInlineBitmap, bit);
        } else {
          for (std::uint32_t p : pages)
            if (p >= start && p - start < width) SetBit(row.data() + kInlineBitmap, p - start);
        }
      } else {
        std::fill(row.begin(), row.end(), std::uint8_t{0});
        row[0] = kUsageMapReference;
      }
    } else if (row[0] != kUsageMapReference) {
      ThrowCorrupt("the usage map at page " + std::to_string(m.where.page) + " has unknown type " +
                   std::to_string(row[0]));
    }

    if (as_reference) {
      const std::size_t slots = (row.size() - 1) / 4;
      std::size_t k = 0;
      for (std::size_t which = 0; which < slots; ++which) {
        const std::uint64_t first = std::uint64_t{which} * per_map_page;
        std::size_t stop = k;
        while (stop < pages.size() && pages[stop] < first + per_map_page) ++stop;
        std::uint32_t old_map = ByteView(row).U32(1 + 4 * which);
        std::uint32_t target = kNone;
        PageData bitmap(f_->page_size, 0);
        bitmap[0] = static_cast<std::uint8_t>(PageType::UsageMap);
        bitmap[1] = 0x01;
        if (old_map != 0) {
          target = Renumber(old_map, "a usage map");
          PageRef old_page = src_->Read(old_map);
          if ((*old_page)[0] != static_cast<std::uint8_t>(PageType::UsageMap))
            ThrowCorrupt("page " + std::to_string(old_map) + " should be a usage map page");
          std::memcpy(bitmap.data(), old_page->data(), kUsageMapPageHeader);
        } else if (stop > k && m.kind == MapKind::Owned) {
          target = Allocate();
          Put32(row.data() + 1 + 4 * which, target);
        }
        if (target != kNone) {
          if (old_map != 0) Put32(row.data() + 1 + 4 * which, target);
          if (m.kind == MapKind::FreePages) {
            for (std::uint64_t bit = 0; bit < per_map_page; ++bit)
              if (is_free(first + bit)) SetBit(bitmap.data() + kUsageMapPageHeader, bit);
          } else {
            for (std::size_t i = k; i < stop; ++i) SetBit(bitmap.data() + kUsageMapPageHeader, pages[i] - first);
          }
          Put(out, target, bitmap);
        }
        k = stop;
      }
      if (k < pages.size() && m.kind == MapKind::Owned)
        throw Error(ErrorCode::Unsupported, "the usage map at page " + std::to_string(m.where.page) +
                                                " cannot reach page " + std::to_string(pages[k]));
    }
    map_rows_.emplace_back(m.where.Raw(), std::move(row));
  }
  std::sort(map_rows_.begin(), map_rows_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

void PageCopy::CopyDefinition(const Table& t, os::File& out) {
  std::vector<PageData> pages;
  for (std::uint32_t p : t.pages) pages.push_back(*src_->Read(p));
  const std::size_t ps = f_->page_size, more = ps - f_->tdef_continuation_header;
  auto at = [&](std::size_t off) -> std::uint8_t& {
    if (off < ps) return pages[0][off];
    const std::size_t k = 1 + (off - ps) / more;
    if (k >= pages.size()) ThrowCorrupt("the definition of the table at page " + std::to_string(t.page) + " is cut short");
    return pages[k][f_->tdef_continuation_header + (off - ps) % more];
  };
  auto get = [&](std::size_t off) {
    return std::uint32_t{at(off)} | std::uint32_t{at(off + 1)} << 8 | std::uint32_t{at(off + 2)} << 16 |
           std::uint32_t{at(off + 3)} << 24;
  };
  auto set = [&](std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
  };
  set(f_->tdef_used_pages, RenumberRow(get(f_->tdef_used_pages), "a table definition"));
  set(f_->tdef_free_pages, RenumberRow(get(f_->tdef_free_pages), "a table definition"));
  const std::uint32_t real = get(f_->tdef_real_indexes);
  for (std::size_t i = 0; i < real; ++i) {
    const std::size_t e = t.real_indexes_at + i * f_->real_index_size;
    set(e + f_->real_index_used_pages, RenumberRow(get(e + f_->real_index_used_pages), "an index definition"));
    if (get(e + f_->real_index_root) != 0) set(e + f_->real_index_root, t.new_roots[i]);
  }
  for (std::size_t k = 0; k < t.column_maps.size(); ++k) {
    const std::size_t e = t.column_maps_at + k / 2 * kColumnMaps.size;
    const std::size_t map = e + (k % 2 == 0 ? kColumnMaps.used : kColumnMaps.free);
    set(map, RenumberRow(get(map), "a memo or OLE column's definition"));
  }
  for (std::size_t k = 0; k < pages.size(); ++k) Put(out, t.pages[k], pages[k]);
}

void PageCopy::RenumberRecord(const Table& t, std::uint8_t* record, std::size_t size) {
  if (t.long_values.empty()) return;
  const ByteView r(record, size, "record");
  const RecordLayout l = ParseRecord(r, *f_, t.var_columns);
  for (const LongColumn& c : t.long_values) {
    if (c.number >= l.column_count || !l.NullBit(c.number) || c.var_index >= l.var_count()) continue;
    const std::uint16_t start = l.var_offsets[c.var_index], stop = l.var_offsets[c.var_index + 1u];
    if (stop < start + kLongValueRefSize || (r.U32(start) & kLongValueInline) != 0) continue;
    Put32(record + start + 4, RenumberRow(r.U32(start + 4u), "a memo or OLE value"));
  }
}

void PageCopy::CopyDataPage(std::uint32_t number, PageData& bytes) {
  // The slots are read from the page as it was; rows are changed in `bytes` in place,
  // never in length.
  auto original = std::make_shared<const PageData>(bytes);
  DataPage page(original, number, *f_);
  const Table* owner = nullptr;
  for (const Table& t : tables_)
    if (t.page == page.owner()) owner = &t;
  for (std::uint16_t i = 0; i < page.row_count(); ++i) {
    const Slot s = page.slot(i);
    if (s.deleted() || s.length == 0) continue;
    std::uint8_t* row = bytes.data() + s.offset;
    const std::uint32_t raw = RowId{number, static_cast<std::uint8_t>(i)}.Raw();
    auto map = std::lower_bound(map_rows_.begin(), map_rows_.end(), raw,
                                [](const auto& entry, std::uint32_t key) { return entry.first < key; });
    if (map != map_rows_.end() && map->first == raw) {
      if (map->second.size() != s.length) ThrowCorrupt("a usage map changed its length");
      std::memcpy(row, map->second.data(), s.length);
    } else if (s.lookup()) {
      if (s.length >= 4) Put32(row, RenumberRow(ByteView(row, 4, "row").U32(0), "a moved row"));
    } else if (Contains(chain_rows_, raw)) {
      const std::uint32_t next = ByteView(row, 4, "row").U32(0);
      if (next != 0 && (next >> 8) < new_.size() && new_[next >> 8] != kNone)
        Put32(row, RenumberRow(next, "a memo or OLE value"));
    } else if (owner != nullptr) {
      RenumberRecord(*owner, row, s.length);
    }
  }
}

std::uint32_t PageCopy::WriteTo(os::File& out) {
  PageData header(f_->page_size);
  if (src_->file().ReadAt(0, header.data(), header.size()) != header.size()) ThrowCorrupt("the header page is cut short");
  out.WriteAt(0, header.data(), header.size());

  // The pages copied whole; the pages holding maps wait for the maps.
  for (std::uint32_t p = 1; p < src_->page_count(); ++p) {
    if (!live_[p] || (p < pinned_.size() && pinned_[p]) || Contains(map_hosts_, p)) continue;
    PageData bytes = *src_->Read(p);
    if (bytes[0] == static_cast<std::uint8_t>(PageType::UsageMap)) continue;  // written with its map
    if (bytes[0] == static_cast<std::uint8_t>(PageType::Data)) CopyDataPage(p, bytes);
    Put(out, new_[p], bytes);
  }

  for (Table& t : tables_) {
    if (t.packed) PackRows(t, out);
    RebuildIndexes(t, out);
  }
  RewriteMaps(out);
  for (std::uint32_t p : map_hosts_) {
    if (p < pinned_.size() && pinned_[p] && p != 1) continue;  // a definition page: never a map's
    PageData bytes = *src_->Read(p);
    CopyDataPage(p, bytes);
    Put(out, new_[p], bytes);
  }
  for (const Table& t : tables_) CopyDefinition(t, out);
  Flush(out);

  // Places no page took (below a definition page that stays where it is) stay free.
  const std::uint32_t count = std::max<std::uint32_t>(next_, static_cast<std::uint32_t>(pinned_.size()));
  const PageData blank(f_->page_size, 0);
  for (std::uint32_t q = 1; q < count; ++q)
    if (q >= filled_.size() || !filled_[q]) out.WriteAt(std::uint64_t{q} * f_->page_size, blank.data(), blank.size());
  return count;
}

}  // namespace jet::compact
