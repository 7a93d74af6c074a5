#include "jet/write/row_insert.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "jet/format/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_edit.h"
#include "jet/index/index_key.h"
#include "jet/row/cell.h"
#include "jet/row/record_encoder.h"
#include "jet/write/index_upkeep.h"
#include "jet/write/table_edit.h"

namespace jet::write {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Inserter {
 public:
  Inserter(EditableDatabase& db, EditableTable& table)
      : db_(db), table_(table), def_(table.definition()), pager_(db.pager()), txn_(db.Editor()),
        format_(pager_.format()) {}

  void Insert(Row values) {
    if (values.size() != def_.columns.size())
      throw Error(ErrorCode::Unsupported, "A row for table '" + table_.Name() + "' needs " +
                                              std::to_string(def_.columns.size()) + " values");
    TakeAutonumbers(&values);
    std::vector<Cell> cells;
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
      if (def_.columns[i].type == ColumnType::Numeric)
        throw Error(ErrorCode::Unsupported, "Column '" + def_.columns[i].name + "' of table '" + table_.Name() +
                                                "' is a Decimal column, which this engine cannot store yet");
      cells.push_back(ToCell(def_.columns[i], values[i], table_.Name()));
    }
    CheckReferences(values);
    std::string record = EncodeRecord(def_, cells, [this](const ColumnDef& c, const std::string& data) {
      return LongValue(data, c);
    });
    if (record.size() > format_.page_size - format_.data_slots - 2)
      throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(record.size()) +
                                              " bytes does not fit a page of table '" + table_.Name() + "'");
    RowId id = Place(record);
    AddIndexEntries(cells, id);
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
      std::uint32_t last = ByteView(tdef).U32(format_.tdef_autonumber);
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
      EditableTable* parent = db_.GetTable(r.primary_table);
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

  static std::size_t Position(const EditableTable& t, const std::string& name) {
    const auto& cols = t.Columns();
    for (std::size_t k = 0; k < cols.size(); ++k)
      if (SameName(cols[k].name, name)) return k;
    ThrowCorrupt("a relationship names column '" + name + "', which table '" + t.Name() + "' does not have");
  }

  // A long value too long to stay in the record: a page of its own, the value its only row.
  std::string LongValue(const std::string& data, const ColumnDef& c) {
    std::string ref(kLongValueRefSize, '\0');
    auto* r = reinterpret_cast<std::uint8_t*>(ref.data());
    const auto size = static_cast<std::uint32_t>(data.size());
    if (data.size() > format_.page_size - format_.data_slots - 2)
      throw Error(ErrorCode::Unsupported, "The value for column '" + c.name + "' of table '" + table_.Name() +
                                              "' is longer than this engine stores in a new row (" +
                                              std::to_string(data.size()) + " bytes)");
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
    const ByteView view(page);
    std::uint16_t count = view.U16(format_.data_row_count);
    for (std::uint16_t i = 0; i < count; ++i)
      low = std::min<std::size_t>(low, view.U16(format_.data_slots + 2u * i) & kSlotOffsetMask);
    return low;
  }
  std::size_t Room(const Bytes& page) const {
    std::size_t table_end = format_.data_slots + 2u * ByteView(page).U16(format_.data_row_count);
    std::size_t low = Low(page);
    return low > table_end ? low - table_end : 0;
  }

  RowId Put(std::uint32_t number, const std::string& record) {
    Bytes& page = txn_.Write(number);
    const std::uint16_t count = ByteView(page).U16(format_.data_row_count);
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

  void AddIndexEntries(const std::vector<Cell>& cells, RowId id) {
    for (std::size_t r = 0; r < def_.real_indexes.size(); ++r) {
      const RealIndexDef& index = def_.real_indexes[r];
      std::string name = IndexName(def_, r);
      std::string key;
      bool has_null = false, all_null = true;
      for (const IndexColumnDef& ic : index.columns) {
        std::size_t k = 0;
        while (k < def_.columns.size() && def_.columns[k].number != ic.column_number) ++k;
        if (k == def_.columns.size()) ThrowCorrupt("index '" + name + "' names a column the table does not have");
        const Cell& cell = cells[k];
        has_null = has_null || cell.null;
        all_null = all_null && cell.null;
        if (def_.columns[k].type == ColumnType::Text && !cell.null && db_.sort_order() != kSortGeneral)
          throw Error(ErrorCode::Unsupported, "Index '" + name + "' of table '" + table_.Name() +
                                                  "' sorts text in an order this engine cannot write");
        AppendKey(&key, def_.columns[k], cell, !ic.descending,
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
    std::uint32_t rows = ByteView(tdef).U32(format_.tdef_row_count) + 1;
    Put32(&tdef[format_.tdef_row_count], rows);
    for (std::size_t r = 0; r < def_.real_indexes.size(); ++r) {
      std::size_t at = format_.tdef_body + r * format_.tdef_real_index_counter + 4;
      if (at + 4 > tdef.size()) break;
      if (def_.real_indexes[r].flags & kIndexUnique) Put32(&tdef[at], std::min(ByteView(tdef).U32(at) + 1, rows));
    }
  }

  EditableDatabase& db_;
  EditableTable& table_;
  const TableDef& def_;
  Pager& pager_;
  Transaction& txn_;
  const Format& format_;
};

}  // namespace

void InsertRow(EditableDatabase& db, EditableTable& table, const Row& values) {
  if (db.version() != JetVersion::Jet4)
    throw Error(ErrorCode::Unsupported, "Adding rows to table '" + table.Name() + "' of database '" + db.path() +
                                            "' is not supported: it is a Jet 3 (Access 97) file");
  if (table.is_system())
    throw Error(ErrorCode::ReadOnly, "System table '" + table.Name() + "' of database '" + db.path() +
                                         "' cannot be changed");
  Inserter(db, table).Insert(values);
}

}  // namespace jet::write
