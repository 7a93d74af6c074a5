#include "jet/write/row_insert.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "jet/create/index_key.h"
#include "jet/create/row_codec.h"
#include "jet/create/text.h"
#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_edit.h"
#include "jet/write/index_edit.h"
#include "jet/write/table_edit.h"

namespace jet::write {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t Get16(const Bytes& p, std::size_t at) { return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8)); }
std::uint32_t Get32(const Bytes& p, std::size_t at) {
  return static_cast<std::uint32_t>(Get16(p, at)) | (static_cast<std::uint32_t>(Get16(p, at + 2)) << 16);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// Jet's "General" sort order, the only one whose text keys this engine can build.
constexpr std::uint32_t kGeneralSortOrder = 0x0409;
// Long values up to this size stay inside the record, as Jet keeps short memos.
constexpr std::size_t kInlineLongValue = 64;

create::ColumnLayout LayoutOf(const ColumnDef& c) {
  create::ColumnLayout l;
  l.spec.name = c.name;
  l.spec.type = c.type;
  l.spec.length = c.type == ColumnType::Text ? c.length / 2 : c.length;
  l.spec.autonumber = c.autonumber();
  l.spec.compressed = false;
  l.number = c.number;
  l.fixed = c.fixed();
  l.fixed_offset = c.fixed_offset;
  l.var_index = c.var_index;
  l.stored_length = c.length;
  l.flags = c.flags;
  return l;
}

class Inserter {
 public:
  Inserter(Database& db, Table& table)
      : db_(db), table_(table), def_(table.definition()), pager_(db.pager()), txn_(db.Editor()),
        format_(pager_.format()) {}

  void Insert(Row values) {
    if (values.size() != def_.columns.size())
      throw Error(ErrorCode::Unsupported, "A row for table '" + table_.Name() + "' needs " +
                                              std::to_string(def_.columns.size()) + " values");
    std::vector<create::ColumnLayout> layouts;
    for (const auto& c : def_.columns) layouts.push_back(LayoutOf(c));
    TakeAutonumbers(&values);
    std::vector<create::Cell> cells;
    for (std::size_t i = 0; i < layouts.size(); ++i) {
      if (def_.columns[i].type == ColumnType::Numeric)
        throw Error(ErrorCode::Unsupported, "Column '" + def_.columns[i].name + "' of table '" + table_.Name() +
                                                "' is a Decimal column, which this engine cannot store yet");
      cells.push_back(create::ToCell(layouts[i], values[i], table_.Name()));
    }
    CheckReferences(values);
    std::string record = Encode(cells);
    RowId id = Place(record);
    AddIndexEntries(layouts, cells, id);
    CountRow();
  }

 private:
  void TakeAutonumbers(Row* values) {
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      Value& v = (*values)[i];
      if (c.flags & kColumnAutoGuid) {
        if (v.IsNull()) {
          std::random_device rd;
          std::string g(16, '\0');
          for (char& ch : g) ch = static_cast<char>(rd() & 0xFF);
          g[7] = static_cast<char>((g[7] & 0x0F) | 0x40);  // a random (version 4) GUID
          g[8] = static_cast<char>((g[8] & 0x3F) | 0x80);
          v = Value::GuidValue(g);
        }
        continue;
      }
      if (!(c.flags & kColumnAutoLong)) continue;
      Bytes& tdef = txn_.Write(def_.page);
      std::uint32_t last = Get32(tdef, format_.tdef_autonumber);
      if (v.IsNull()) {
        if (last >= 0x7FFFFFFFu)
          throw Error(ErrorCode::Unsupported, "Table '" + table_.Name() + "' has run out of autonumbers");
        v = Value::Int(static_cast<std::int64_t>(last) + 1);
      }
      if (v.kind == Value::Kind::Integer && v.i > static_cast<std::int64_t>(last) && v.i <= 0x7FFFFFFF)
        Put32(tdef.data() + format_.tdef_autonumber, static_cast<std::uint32_t>(v.i));
    }
  }

  // Enforced relationships in which this table refers to another: a row may only refer
  // to a row that exists (NULL refers to nothing and is always allowed).
  void CheckReferences(const Row& values) {
    for (const RelationshipInfo& r : db_.Relationships()) {
      if (!r.enforced || !SameName(r.foreign_table, table_.Name())) continue;
      Table* parent = db_.GetTable(r.primary_table);
      if (parent == nullptr) continue;
      std::vector<std::size_t> mine, theirs;
      for (const auto& n : r.foreign_columns) mine.push_back(Position(table_, n));
      for (const auto& n : r.primary_columns) theirs.push_back(Position(*parent, n));
      std::string key, other;
      if (!RelationKey(values, mine, &key)) continue;
      std::vector<bool> wanted(parent->Columns().size(), false);
      for (std::size_t c : theirs) wanted[c] = true;
      bool found = false;
      parent->Scan(wanted, [&](RowId, const Row& row) {
        found = RelationKey(row, theirs, &other) && other == key;
        return !found;
      });
      if (!found)
        throw Error(ErrorCode::Integrity, "You cannot add or change a record because a related record is required in "
                                          "table '" + parent->Name() + "'.");
    }
  }

  static std::size_t Position(const Table& t, const std::string& name) {
    const auto& cols = t.Columns();
    for (std::size_t k = 0; k < cols.size(); ++k)
      if (SameName(cols[k].name, name)) return k;
    ThrowCorrupt("a relationship names column '" + name + "', which table '" + t.Name() + "' does not have");
  }

  std::string LongValue(const std::string& data, const ColumnDef& c) {
    std::string ref(12, '\0');
    auto* r = reinterpret_cast<std::uint8_t*>(ref.data());
    const auto size = static_cast<std::uint32_t>(data.size());
    if (data.size() <= kInlineLongValue) {
      Put32(r, size | kLongValueInline);
      return ref + data;
    }
    if (data.size() > format_.page_size - format_.data_slots - 2)
      throw Error(ErrorCode::Unsupported, "The value for column '" + c.name + "' of table '" + table_.Name() +
                                              "' is longer than this engine stores in a new row (" +
                                              std::to_string(data.size()) + " bytes)");
    // A page of its own: the value is its only row.
    std::uint32_t number = txn_.Allocate();
    Bytes& page = txn_.Write(number);
    const std::uint32_t start = format_.page_size - size;
    page[0] = static_cast<std::uint8_t>(PageType::Data);
    page[1] = 0x01;
    Put16(&page[2], start - format_.data_slots - 2);
    Put32(&page[format_.data_tdef_page], kLongValueOwner);
    Put16(&page[format_.data_row_count], 1);
    Put16(&page[format_.data_slots], start);
    std::memcpy(&page[start], data.data(), data.size());
    Put32(r, size | kLongValueSingle);
    Put32(r + 4, (number << 8) | 0);
    return ref;
  }

  // The Jet 4 record: column count, fixed area, variable data, the variable offsets
  // (last column first, end of data lowest), their count, and the null mask.
  std::string Encode(const std::vector<create::Cell>& cells) {
    std::uint16_t columns = 0, fixed_size = 0, var_count = 0;
    bool has_var = def_.var_columns > 0;
    for (const auto& c : def_.columns) {
      columns = std::max<std::uint16_t>(columns, static_cast<std::uint16_t>(c.number + 1));
      if (c.fixed()) {
        fixed_size = std::max<std::uint16_t>(fixed_size, static_cast<std::uint16_t>(c.fixed_offset + c.length));
      } else {
        has_var = true;
        var_count = std::max<std::uint16_t>(var_count, static_cast<std::uint16_t>(c.var_index + 1));
      }
    }
    columns = std::max(columns, def_.max_columns);
    std::string row(2 + fixed_size, '\0');
    Put16(reinterpret_cast<std::uint8_t*>(row.data()), columns);
    std::string mask((columns + 7) / 8, '\0');
    std::vector<std::string> var(var_count);
    for (std::size_t k = 0; k < cells.size(); ++k) {
      const ColumnDef& c = def_.columns[k];
      const create::Cell& cell = cells[k];
      bool present = c.type == ColumnType::Boolean ? cell.i != 0 : !cell.null;
      if (present) mask[c.number / 8] = static_cast<char>(mask[c.number / 8] | (1 << (c.number % 8)));
      if (cell.null || c.type == ColumnType::Boolean) continue;
      if (c.fixed()) {
        std::size_t at = 2 + c.fixed_offset;
        if (at + c.length > row.size()) ThrowCorrupt("column '" + c.name + "' lies outside the fixed area");
        auto* f = reinterpret_cast<std::uint8_t*>(row.data() + at);
        switch (c.type) {
          case ColumnType::Byte: f[0] = static_cast<std::uint8_t>(cell.i); break;
          case ColumnType::Integer: Put16(f, static_cast<std::uint16_t>(cell.i)); break;
          case ColumnType::Long: Put32(f, static_cast<std::uint32_t>(cell.i)); break;
          case ColumnType::Currency:
            Put32(f, static_cast<std::uint32_t>(cell.i));
            Put32(f + 4, static_cast<std::uint32_t>(static_cast<std::uint64_t>(cell.i) >> 32));
            break;
          case ColumnType::Single: {
            float x = static_cast<float>(cell.d);
            std::memcpy(f, &x, 4);
            break;
          }
          case ColumnType::Double:
          case ColumnType::DateTime: std::memcpy(f, &cell.d, 8); break;
          case ColumnType::Guid:
          case ColumnType::Binary:
            std::memcpy(f, cell.bytes.data(), std::min<std::size_t>(cell.bytes.size(), c.length));
            break;
          default: break;
        }
        continue;
      }
      std::string& out = var.at(c.var_index);
      switch (c.type) {
        case ColumnType::Text: out = create::Ucs2Bytes(cell.text); break;
        case ColumnType::Binary: out = cell.bytes; break;
        case ColumnType::Memo: out = LongValue(create::Ucs2Bytes(cell.text), c); break;
        case ColumnType::Ole: out = LongValue(cell.bytes, c); break;
        default: break;
      }
    }
    if (has_var) {
      std::vector<std::uint16_t> offsets(var_count);
      for (std::size_t v = 0; v < var_count; ++v) {
        offsets[v] = static_cast<std::uint16_t>(row.size());
        row += var[v];
      }
      std::string tail(2 + 2u * var_count + 2, '\0');
      auto* t = reinterpret_cast<std::uint8_t*>(tail.data());
      Put16(t, static_cast<std::uint16_t>(row.size()));
      for (std::size_t v = 0; v < var_count; ++v) Put16(t + 2 + 2 * (var_count - 1 - v), offsets[v]);
      Put16(t + 2 + 2u * var_count, var_count);
      row += tail;
    }
    row += mask;
    if (row.size() > format_.page_size - format_.data_slots - 2)
      throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(row.size()) + " bytes does not fit a page of table '" +
                                              table_.Name() + "'");
    return row;
  }

  // The last data page of the table when the row fits there, else a new page.
  RowId Place(const std::string& record) {
    std::vector<std::uint32_t> pages = table_.reader().DataPages();
    for (auto it = pages.rbegin(); it != pages.rend() && it - pages.rbegin() < 2; ++it) {
      PageRef p = pager_.Read(*it);
      if ((*p)[0] != static_cast<std::uint8_t>(PageType::Data)) continue;
      DataPage page(p, *it, format_);
      if (page.owner() != def_.page || page.row_count() >= 255) continue;
      if (Room(*p) >= record.size() + 2) return Put(*it, record);
    }
    std::uint32_t number = txn_.Allocate();
    Bytes& page = txn_.Write(number);
    page[0] = static_cast<std::uint8_t>(PageType::Data);
    page[1] = 0x01;
    Put16(&page[2], format_.page_size - format_.data_slots);
    Put32(&page[format_.data_tdef_page], def_.page);
    AddToUsageMap(def_.used_pages, number);
    return Put(number, record);
  }

  std::size_t Low(const Bytes& page) const {
    std::size_t low = format_.page_size;
    std::uint16_t count = Get16(page, format_.data_row_count);
    for (std::uint16_t i = 0; i < count; ++i)
      low = std::min<std::size_t>(low, Get16(page, format_.data_slots + 2u * i) & kSlotOffsetMask);
    return low;
  }
  std::size_t Room(const Bytes& page) const {
    std::size_t table_end = format_.data_slots + 2u * Get16(page, format_.data_row_count);
    std::size_t low = Low(page);
    return low > table_end ? low - table_end : 0;
  }

  RowId Put(std::uint32_t number, const std::string& record) {
    Bytes& page = txn_.Write(number);
    const std::uint16_t count = Get16(page, format_.data_row_count);
    const std::size_t at = Low(page) - record.size();
    std::memcpy(&page[at], record.data(), record.size());
    Put16(&page[format_.data_slots + 2u * count], static_cast<std::uint32_t>(at));
    Put16(&page[format_.data_row_count], count + 1u);
    Put16(&page[2], static_cast<std::uint32_t>(at - (format_.data_slots + 2u * (count + 1u))));
    return MakeRowId(number, static_cast<std::uint8_t>(count));
  }

  // Marks `number` in the page map whose row is at `where`: in the bitmap kept in the row
  // when it reaches that far, else in the bitmap pages the row points to (the row turned
  // into such a list if need be).
  void AddToUsageMap(RowPointer where, std::uint32_t number) {
    PageRef keep;
    ByteView current = ReadRowBytes(pager_, where, &keep);
    if (current.empty()) ThrowCorrupt("the page map of table '" + table_.Name() + "' is empty");
    const std::size_t offset = static_cast<std::size_t>(current.data() - keep->data());
    const std::size_t length = current.size();
    std::string row = current.Str();
    auto* r = reinterpret_cast<std::uint8_t*>(row.data());
    const std::uint32_t per_page = (format_.page_size - 4) * 8;
    if (r[0] == 0) {
      const std::uint32_t bits = static_cast<std::uint32_t>((length - 5) * 8);
      std::uint32_t start = current.U32(1);
      if (number < start || number - start >= bits) {
        std::vector<std::uint32_t> pages = ReadUsageMap(pager_, where);
        pages.push_back(number);
        std::sort(pages.begin(), pages.end());
        std::fill(row.begin() + 1, row.end(), '\0');
        if (pages.back() - pages.front() < bits) {
          start = pages.front();
          Put32(r + 1, start);
          for (std::uint32_t pg : pages) r[5 + (pg - start) / 8] |= static_cast<std::uint8_t>(1u << ((pg - start) % 8));
        } else {
          r[0] = 1;
          for (std::uint32_t pg : pages) SetMapBit(r, length, pg, per_page);
        }
      } else {
        r[5 + (number - start) / 8] |= static_cast<std::uint8_t>(1u << ((number - start) % 8));
      }
    } else if (r[0] == 1) {
      SetMapBit(r, length, number, per_page);
    } else {
      ThrowCorrupt("the page map of table '" + table_.Name() + "' has unknown type " + std::to_string(r[0]));
    }
    Bytes& page = txn_.Write(where.page);
    std::memcpy(&page[offset], row.data(), length);
  }

  void SetMapBit(std::uint8_t* r, std::size_t length, std::uint32_t number, std::uint32_t per_page) {
    const std::size_t which = number / per_page;
    if (1 + 4 * which + 4 > length)
      throw Error(ErrorCode::Unsupported, "The page map of table '" + table_.Name() + "' cannot reach page " +
                                              std::to_string(number));
    std::uint8_t* slot = r + 1 + 4 * which;
    std::uint32_t map_page = static_cast<std::uint32_t>(slot[0]) | (static_cast<std::uint32_t>(slot[1]) << 8) |
                             (static_cast<std::uint32_t>(slot[2]) << 16) | (static_cast<std::uint32_t>(slot[3]) << 24);
    if (map_page == 0) {
      map_page = txn_.Allocate();
      Bytes& fresh = txn_.Write(map_page);
      fresh[0] = static_cast<std::uint8_t>(PageType::UsageMap);
      fresh[1] = 0x01;
      Put32(slot, map_page);
    }
    Bytes& bitmap = txn_.Write(map_page);
    if (bitmap[0] != static_cast<std::uint8_t>(PageType::UsageMap))
      ThrowCorrupt("page " + std::to_string(map_page) + " should be a usage map page");
    const std::uint32_t bit = number - static_cast<std::uint32_t>(which) * per_page;
    bitmap[4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
  }

  void AddIndexEntries(const std::vector<create::ColumnLayout>& layouts, const std::vector<create::Cell>& cells,
                       RowId id) {
    for (std::size_t r = 0; r < def_.real_indexes.size(); ++r) {
      const RealIndexDef& index = def_.real_indexes[r];
      std::string name = IndexName(def_, r);
      std::string key;
      bool has_null = false, all_null = true;
      for (const IndexColumnDef& ic : index.columns) {
        std::size_t k = 0;
        while (k < def_.columns.size() && def_.columns[k].number != ic.column_number) ++k;
        if (k == def_.columns.size()) ThrowCorrupt("index '" + name + "' names a column the table does not have");
        const create::Cell& cell = cells[k];
        has_null = has_null || cell.null;
        all_null = all_null && cell.null;
        if (def_.columns[k].type == ColumnType::Text && !cell.null && db_.sort_order() != kGeneralSortOrder)
          throw Error(ErrorCode::Unsupported, "Index '" + name + "' of table '" + table_.Name() +
                                                  "' sorts text in an order this engine cannot write");
        create::AppendKey(&key, layouts[k], cell, !ic.descending,
                          "Index '" + name + "' of table '" + table_.Name() + "'");
      }
      if (has_null && (index.flags & kIndexRequired))
        throw Error(ErrorCode::Integrity, "Index '" + name + "' of table '" + table_.Name() +
                                              "' cannot contain a Null value.");
      if (all_null && (index.flags & kIndexIgnoreNulls)) continue;
      IndexInsertOptions options;
      options.unique = (index.flags & kIndexUnique) != 0 && !has_null;
      options.index_name = name;
      options.table_name = table_.Name();
      const std::size_t before = txn_.allocated().size();
      InsertIndexEntry(txn_, def_.page, index.root_page, key, id, options);
      // Pages a split added belong to the index from now on.
      const std::size_t after = txn_.allocated().size();
      for (std::size_t k = before; k < after; ++k) {
        std::uint32_t added = txn_.allocated()[k];
        if (!index.used_pages.IsNull()) AddToUsageMap(index.used_pages, added);
      }
    }
  }

  void CountRow() {
    Bytes& tdef = txn_.Write(def_.page);
    std::uint32_t rows = Get32(tdef, format_.tdef_row_count) + 1;
    Put32(&tdef[format_.tdef_row_count], rows);
    for (std::size_t r = 0; r < def_.real_indexes.size(); ++r) {
      std::size_t at = format_.tdef_body + r * format_.tdef_real_index_counter + 4;
      if (at + 4 > tdef.size()) break;
      if (def_.real_indexes[r].flags & kIndexUnique) Put32(&tdef[at], std::min(Get32(tdef, at) + 1, rows));
    }
  }

  Database& db_;
  Table& table_;
  const TableDef& def_;
  Pager& pager_;
  Transaction& txn_;
  const Format& format_;
};

}  // namespace

void InsertRow(Database& db, Table& table, const Row& values) {
  if (db.version() != JetVersion::Jet4)
    throw Error(ErrorCode::Unsupported, "Adding rows to table '" + table.Name() + "' of database '" + db.path() +
                                            "' is not supported: it is a Jet 3 (Access 97) file");
  if (table.is_system())
    throw Error(ErrorCode::ReadOnly, "System table '" + table.Name() + "' of database '" + db.path() +
                                         "' cannot be changed");
  Inserter(db, table).Insert(values);
}

}  // namespace jet::write
