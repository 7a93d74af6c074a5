#include "jet/compact/page_copy.h"

#include <algorithm>
#include <cstring>

#include "jet/error.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"
#include "jet/format/index_page.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet/row/record.h"

namespace jet::compact {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kInlineBitmap = 5;          // type byte, first page, then the bits
constexpr std::size_t kRealIndexPointers = 30;    // ten column slots of three bytes
constexpr std::size_t kWriteBatch = 256;          // pages written in one call

void SetBit(std::uint8_t* bitmap, std::uint64_t bit) { bitmap[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8)); }

bool Contains(const std::vector<std::uint32_t>& sorted, std::uint32_t v) {
  return std::binary_search(sorted.begin(), sorted.end(), v);
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
    p = ViewOf(source.Read(p)).U32(4);
  }
  const ByteView b(bytes, "table definition");
  t.used_pages = RowPointer::FromRaw(b.U32(f.tdef_used_pages));
  t.free_pages = RowPointer::FromRaw(b.U32(f.tdef_free_pages));
  t.var_columns = b.U16(f.tdef_var_columns) > 0;
  const std::uint16_t columns = b.U16(f.tdef_columns);
  const std::uint32_t real = b.U32(f.tdef_real_indexes);
  if (real > 1000) ThrowCorrupt("the definition of the table at page " + std::to_string(first) + " is damaged");
  std::size_t pos = f.tdef_body + std::size_t{real} * f.tdef_real_index_counter;
  for (std::uint16_t i = 0; i < columns; ++i, pos += f.col_entry_size) {
    Column c;
    c.type = b.U8(pos + f.col_type);
    c.number = b.U16(pos + f.col_number);
    c.var_index = b.U16(pos + f.col_var_index);
    const bool fixed = (b.U8(pos + f.col_flags) & kColumnFixed) != 0;
    t.var_columns = t.var_columns || !fixed;
    c.long_value = c.type == static_cast<std::uint8_t>(ColumnType::Memo) ||
                   c.type == static_cast<std::uint8_t>(ColumnType::Ole);
    if (c.long_value) t.long_values.push_back(c);
  }
  for (std::uint16_t i = 0; i < columns; ++i)
    pos += f.name_length_size + (f.name_length_size == 1 ? b.U8(pos) : b.U16(pos));
  t.real_indexes_at = pos;
  for (std::uint32_t i = 0; i < real; ++i) {
    const std::size_t e = pos + i * f.real_index_size + f.real_index_lead + kRealIndexPointers;
    if (RowPointer m = RowPointer::FromRaw(b.U32(e)); !m.IsNull()) t.index_maps.push_back(m);
  }
  return t;
}

PageCopy::PageCopy(Pager& source, const std::vector<std::uint32_t>& definition_pages)
    : src_(&source), f_(&source.format()) {
  for (std::uint32_t first : definition_pages) tables_.push_back(ReadTable(source, first));
  Plan();
  for (const Table& t : tables_) FindLongValueChains(t);
  std::sort(chain_rows_.begin(), chain_rows_.end());
}

void PageCopy::Plan() {
  const std::uint32_t n = src_->page_count();
  live_.assign(n, true);
  for (std::uint32_t p : ReadUsageMap(*src_, kFreePageMap))
    if (p > 1) live_[p] = false;

  // Definition pages stay where they are; every other page in use takes the lowest
  // number left, in its old order.
  std::vector<bool> pinned(n, false);
  std::uint32_t end = 0;
  for (const Table& t : tables_)
    for (std::uint32_t p : t.pages) {
      if (p >= n || !live_[p])
        ThrowCorrupt("the definition of the table at page " + std::to_string(t.page) + " continues on page " +
                     std::to_string(p) + ", which the free-page map calls free");
      pinned[p] = true;
      end = std::max(end, p + 1);
    }
  new_.assign(n, kNone);
  std::uint32_t next = 0;
  for (std::uint32_t p = 0; p < n; ++p) {
    if (!live_[p]) continue;
    if (pinned[p]) {
      new_[p] = p;
      continue;
    }
    while (next < n && pinned[next]) ++next;
    new_[p] = next++;
  }
  planned_ = std::max(end, next);
  next_extra_ = planned_;
  filled_.assign(planned_, false);
  for (std::uint32_t p = 0; p < n; ++p)
    if (new_[p] != kNone) filled_[new_[p]] = true;
}

std::uint32_t PageCopy::Renumber(std::uint32_t page, const char* what) const {
  if (page >= new_.size() || new_[page] == kNone)
    ThrowCorrupt(std::string(what) + " refers to page " + std::to_string(page) +
                 ", which the free-page map calls free or which lies past the end of the file");
  return new_[page];
}

std::uint32_t PageCopy::RenumberRow(std::uint32_t raw, const char* what) const {
  if (raw == 0) return 0;
  RowPointer at = RowPointer::FromRaw(raw);
  at.page = Renumber(at.page, what);
  return at.Raw();
}

// The links of a long value kept in a chain of rows: each row starts with the pointer
// to the next. Such rows look like any other on their page, so they are found from the
// rows that refer to them.
void PageCopy::FindLongValueChains(const Table& t) {
  if (t.long_values.empty()) return;
  for (std::uint32_t p : ReadUsageMap(*src_, t.used_pages)) {
    PageRef ref = src_->Read(p);
    if ((*ref)[0] != static_cast<std::uint8_t>(PageType::Data)) continue;
    DataPage page(ref, p, *f_);
    if (page.owner() != t.page) continue;
    for (std::uint16_t i = 0; i < page.row_count(); ++i) {
      const Slot s = page.slot(i);
      if (s.deleted() || s.lookup() || s.length == 0) continue;
      const ByteView record = page.row(s);
      const RecordLayout l = ParseRecord(record, *f_, t.var_columns);
      for (const Column& c : t.long_values) {
        if (c.number >= l.column_count || !l.NullBit(c.number) || c.var_index >= l.var_count())
          continue;
        const std::uint16_t start = l.var_offsets[c.var_index], stop = l.var_offsets[c.var_index + 1u];
        if (stop < start + kLongValueRefSize) continue;
        const std::uint32_t head = record.U32(start);
        if ((head & (kLongValueInline | kLongValueSingle)) != 0) continue;
        std::uint64_t left = head & kLongValueLengthMask;
        RowPointer at = RowPointer::FromRaw(record.U32(start + 4u));
        for (std::uint64_t hops = 0; left > 0 && !at.IsNull(); ++hops) {
          if (hops > std::uint64_t{src_->page_count()} * 256u)
            ThrowCorrupt("a memo or OLE value's page chain forms a loop");
          PageRef keep;
          const ByteView piece = ReadRowBytes(*src_, at, &keep);
          if (piece.size() < 4) break;
          chain_rows_.push_back(at.Raw());
          left -= std::min<std::uint64_t>(left, piece.size() - 4);
          at = RowPointer::FromRaw(piece.U32(0));
        }
      }
    }
  }
}

void PageCopy::Put(os::File& out, std::uint32_t new_page, PageData& bytes) {
  if (src_->header().database_key != 0) CryptPage(src_->header().database_key, new_page, bytes.data(), bytes.size());
  out.WriteAt(std::uint64_t{new_page} * f_->page_size, bytes.data(), bytes.size());
  if (new_page >= filled_.size()) filled_.resize(new_page + 1u, false);
  filled_[new_page] = true;
}

// Every usage map rebuilt for the new numbers: its row (put in place when its page is
// copied) and its map pages (written now, also those a map needs afresh).
void PageCopy::RewriteMaps(os::File& out) {
  struct Map {
    RowPointer where;
    MapKind kind;
  };
  std::vector<Map> maps;
  for (const Table& t : tables_) {
    maps.push_back({t.used_pages, MapKind::Owned});
    for (RowPointer r : t.index_maps) maps.push_back({r, MapKind::Advisory});
    if (!t.free_pages.IsNull()) maps.push_back({t.free_pages, MapKind::Advisory});
  }
  // The free-page map last: it marks what the others' new map pages leave free.
  maps.push_back({kFreePageMap, MapKind::FreePages});

  const std::uint32_t per_map_page = (f_->page_size - kUsageMapPageHeader) * 8;
  for (const Map& m : maps) {
    if (std::any_of(map_rows_.begin(), map_rows_.end(), [&](const auto& r) { return r.first == m.where.Raw(); }))
      continue;
    std::vector<std::uint32_t> pages;
    if (m.kind != MapKind::FreePages) {
      for (std::uint32_t p : ReadUsageMap(*src_, m.where)) {
        if (m.kind == MapKind::Owned)
          pages.push_back(Renumber(p, "a table's page map"));
        else if (new_[p] != kNone)
          pages.push_back(new_[p]);
      }
      std::sort(pages.begin(), pages.end());
    }
    const std::uint32_t end = next_extra_;
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
          written_map_pages_.push_back(old_map);
        } else if (stop > k && m.kind == MapKind::Owned) {
          target = next_extra_++;
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
  std::sort(written_map_pages_.begin(), written_map_pages_.end());
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
    const std::size_t e = t.real_indexes_at + i * f_->real_index_size + f_->real_index_lead + kRealIndexPointers;
    set(e, RenumberRow(get(e), "an index definition"));
    if (const std::uint32_t root = get(e + 4); root != 0) set(e + 4, Renumber(root, "an index definition"));
  }
  for (std::size_t k = 0; k < pages.size(); ++k) Put(out, t.pages[k], pages[k]);
}

void PageCopy::RenumberRecord(const Table& t, std::uint8_t* record, std::size_t size) {
  if (t.long_values.empty()) return;
  const ByteView r(record, size, "record");
  const RecordLayout l = ParseRecord(r, *f_, t.var_columns);
  for (const Column& c : t.long_values) {
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
    const std::uint32_t raw = RowPointer{number, static_cast<std::uint8_t>(i)}.Raw();
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

void PageCopy::CopyIndexPage(std::uint32_t number, PageData& bytes) {
  IndexPage page = ParseIndexPage(ByteView(bytes.data(), bytes.size(), "index page"), number, *f_);
  for (std::uint32_t* link : {&page.prev_page, &page.next_page, &page.tail_page})
    if (*link != 0) *link = Renumber(*link, "an index page");
  for (IndexEntry& e : page.entries) {
    if (e.data_page != 0) e.data_page = Renumber(e.data_page, "an index entry");
    if (e.child_page != 0) e.child_page = Renumber(e.child_page, "an index entry");
  }
  page.prefix_length = std::min(page.prefix_length, CommonIndexPrefix(page.entries, *f_));
  if (!IndexPageFits(page, *f_))
    throw Error(ErrorCode::Unsupported, "index page " + std::to_string(number) + " cannot be renumbered in place");
  EncodeIndexPage(page, *f_, bytes.data());
}

std::uint32_t PageCopy::WriteTo(os::File& out) {
  PageData header(f_->page_size);
  if (src_->file().ReadAt(0, header.data(), header.size()) != header.size()) ThrowCorrupt("the header page is cut short");
  out.WriteAt(0, header.data(), header.size());

  RewriteMaps(out);
  std::vector<std::uint32_t> definitions;
  for (const Table& t : tables_) {
    CopyDefinition(t, out);
    definitions.insert(definitions.end(), t.pages.begin(), t.pages.end());
  }
  std::sort(definitions.begin(), definitions.end());

  // Runs of consecutive new pages go out in one write.
  std::vector<std::uint8_t> batch;
  std::uint32_t batch_start = 0;
  auto flush = [&] {
    if (!batch.empty()) out.WriteAt(std::uint64_t{batch_start} * f_->page_size, batch.data(), batch.size());
    batch.clear();
  };
  const std::uint32_t key = src_->header().database_key;
  for (std::uint32_t p = 1; p < src_->page_count(); ++p) {
    if (!live_[p] || Contains(definitions, p) || Contains(written_map_pages_, p)) continue;
    PageData bytes = *src_->Read(p);
    const auto type = static_cast<PageType>(bytes[0]);
    if (type == PageType::Data)
      CopyDataPage(p, bytes);
    else if (type == PageType::IndexNode || type == PageType::IndexLeaf)
      CopyIndexPage(p, bytes);
    const std::uint32_t to = new_[p];
    if (key != 0) CryptPage(key, to, bytes.data(), bytes.size());
    if (!batch.empty() && (to != batch_start + batch.size() / f_->page_size || batch.size() >= kWriteBatch * f_->page_size))
      flush();
    if (batch.empty()) batch_start = to;
    batch.insert(batch.end(), bytes.begin(), bytes.end());
  }
  flush();
  // Places no page took (below a definition page that stays where it is) stay free.
  const PageData blank(f_->page_size, 0);
  for (std::uint32_t q = 0; q < next_extra_; ++q)
    if (q >= filled_.size() || !filled_[q]) out.WriteAt(std::uint64_t{q} * f_->page_size, blank.data(), blank.size());
  return next_extra_;
}

}  // namespace jet::compact
