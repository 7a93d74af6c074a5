#include "jet/write/row_insert.h"

#include <algorithm>
#include <random>

#include "jet/format/bytes.h"
#include "jet/index/index_edit.h"
#include "jet/index/index_key.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/row/cell.h"
#include "jet/row/long_value_writer.h"
#include "jet/row/record_encoder.h"
#include "jet/table/row_placement.h"
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

  void Insert(const Row& values, const std::function<void(std::size_t)>& misfit) {
    if (values.size() != def_.columns.size())
      throw Error(ErrorCode::Unsupported, "A row for table '" + table_.Name() + "' needs " +
                                              std::to_string(def_.columns.size()) + " values");
    std::vector<Cell> cells;
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
      const ColumnDef& column = def_.columns[i];
      if (column.type == ColumnType::Numeric)
        throw Error(ErrorCode::Unsupported, "Column '" + column.name + "' of table '" + table_.Name() +
                                                "' is a Decimal column, which this engine cannot store yet");
      try {
        cells.push_back(ToCellOfType(column, values[i], table_.Name()));
      } catch (const Error& e) {
        if (e.code() == ErrorCode::TypeMismatch && misfit) misfit(i);
        throw;
      }
      CheckCellLength(column, cells.back(), table_.Name());
    }
    TakeAutonumbers(&cells);
    CheckReferences(values, cells);
    LongValueWriter long_values(txn_);
    std::string record = EncodeRecord(def_, cells, [&](const ColumnDef&, const std::string& data) {
      return long_values.Put(data);
    });
    if (record.size() > format_.page_size - format_.data_slots - 2)
      throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(record.size()) +
                                              " bytes does not fit a page of table '" + table_.Name() + "'");
    const RowId id = table_.placement().Place(txn_, {def_.page, def_.used_pages, def_.free_pages}, record,
                                              pager_.page_count());
    AddIndexEntries(cells, id);
    CountRow();
  }

 private:
  void TakeAutonumbers(std::vector<Cell>* cells) {
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      Cell& cell = (*cells)[i];
      if (c.flags & kColumnAutoGuid) {
        if (cell.null) {
          std::random_device rd;
          std::string g(16, '\0');
          for (char& ch : g) ch = static_cast<char>(rd() & 0xFF);
          g[7] = static_cast<char>((g[7] & 0x0F) | 0x40);  // a random (version 4) GUID
          g[8] = static_cast<char>((g[8] & 0x3F) | 0x80);
          cell = ToCell(c, Value::GuidValue(g), table_.Name());
        }
        continue;
      }
      if (!(c.flags & kColumnAutoLong)) continue;
      Bytes& tdef = txn_.Write(def_.page);
      std::uint32_t last = ByteView(tdef).U32(format_.tdef_autonumber);
      if (cell.null) {
        if (last >= 0x7FFFFFFFu)
          throw Error(ErrorCode::Unsupported, "Table '" + table_.Name() + "' has run out of autonumbers");
        cell = ToCell(c, Value::Int(static_cast<std::int64_t>(last) + 1), table_.Name());
      }
      if (c.type == ColumnType::Long && cell.i > static_cast<std::int64_t>(last))
        Put32(tdef.data() + format_.tdef_autonumber, static_cast<std::uint32_t>(cell.i));
    }
  }

  // Enforced relationships in which this table refers to another: a row may only refer
  // to a row that exists (NULL refers to nothing and is always allowed).
  void CheckReferences(const Row& values, const std::vector<Cell>& cells) {
    for (const RelationshipInfo& r : db_.Relationships()) {
      if (!r.enforced || !SameName(r.foreign_table, table_.Name())) continue;
      EditableTable* parent = db_.GetTable(r.primary_table);
      if (parent == nullptr) continue;
      std::vector<std::size_t> mine, theirs;
      for (const auto& n : r.foreign_columns) mine.push_back(Position(table_, n));
      for (const auto& n : r.primary_columns) theirs.push_back(Position(*parent, n));
      Row stored(values.size());
      for (std::size_t k : mine) stored[k] = StoredValue(def_.columns[k], cells[k], values[k]);
      std::string key, other;
      if (!RelationKey(stored, mine, &key)) continue;
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

  // The value a cell reads back as, which relationship keys compare: of the column's own
  // kind; a text is the text given, which its cell holds in UCS-2.
  static Value StoredValue(const ColumnDef& column, const Cell& cell, const Value& given) {
    if (cell.null) return Value::Null();
    switch (column.type) {
      case ColumnType::Boolean: return Value::Bool(cell.i != 0);
      case ColumnType::Byte:
      case ColumnType::Integer:
      case ColumnType::Long: return Value::Int(cell.i);
      case ColumnType::Currency: return Value::Money(cell.i);
      case ColumnType::Single: return Value::Float(static_cast<float>(cell.d));
      case ColumnType::Double: return Value::Dbl(cell.d);
      case ColumnType::DateTime: return Value::DateValue(cell.d);
      case ColumnType::Guid: return Value::GuidValue(cell.bytes);
      case ColumnType::Binary:
      case ColumnType::Ole: return Value::Bytes(cell.bytes);
      default: return given;
    }
  }

  static std::size_t Position(const EditableTable& t, const std::string& name) {
    const auto& cols = t.Columns();
    for (std::size_t k = 0; k < cols.size(); ++k)
      if (SameName(cols[k].name, name)) return k;
    ThrowCorrupt("a relationship names column '" + name + "', which table '" + t.Name() + "' does not have");
  }

  void AddIndexEntries(const std::vector<Cell>& cells, RowId id) {
    for (std::size_t r = 0; r < def_.real_indexes.size(); ++r) {
      const RealIndexDef& index = def_.real_indexes[r];
      std::string name = IndexName(def_, r);
      std::string key;
      bool has_null = false, all_null = true;
      for (const IndexColumnDef& ic : index.columns) {
        const std::size_t k = KeyColumnPosition(def_, r, ic);
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
      options.new_page = IndexPageSource(db_, txn_, def_);
      IndexInsertion inserted = InsertIndexEntry(txn_, def_.page, index.root_page, key, id, options);
      // Pages a split took belong to the index from now on.
      for (std::uint32_t added : inserted.added)
        if (!index.used_pages.IsNull()) EditUsageMap(txn_, index.used_pages, added, true, MapReach::Grow);
    }
  }

  void CountRow() {
    Bytes& tdef = txn_.Write(def_.page);
    std::uint32_t rows = ByteView(tdef).U32(format_.tdef_row_count) + 1;
    Put32(&tdef[format_.tdef_row_count], rows);
    for (std::size_t r = 0; r < def_.real_indexes.size(); ++r) {
      std::size_t at = format_.tdef_body + r * format_.tdef_real_index_counter + format_.tdef_real_index_rows;
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

void InsertRow(EditableDatabase& db, EditableTable& table, const Row& values,
               const std::function<void(std::size_t)>& misfit) {
  if (db.version() != JetVersion::Jet4)
    throw Error(ErrorCode::Unsupported, "Adding rows to table '" + table.Name() + "' of database '" + db.path() +
                                            "' is not supported: it is a Jet 3 (Access 97) file");
  if (table.is_system())
    throw Error(ErrorCode::ReadOnly, "System table '" + table.Name() + "' of database '" + db.path() +
                                         "' cannot be changed");
  Inserter(db, table).Insert(values, misfit);
}

}  // namespace jet::write
