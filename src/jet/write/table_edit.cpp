#include "jet/write/table_edit.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_set>

#include "jet/format/text.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/row/record.h"
#include "jet/table/row_set.h"
#include "jet/write/data_page_edit.h"
#include "jet/write/index_upkeep.h"

namespace jet::write {
namespace {

// How often, in pages, a long change looks at the clock and lets go of written pages.
constexpr std::size_t kPagesPerCheck = 64;
// Cascades deeper than this are taken for a cycle of relationships.
constexpr int kMaxCascadeDepth = 32;
// Rows marked deleted per batch (the indexes take the whole set in one pass): 2 MiB of ids.
constexpr std::size_t kRowsPerBatch = std::size_t{1} << 18;
// Rows scanned between looks at the clock.
constexpr std::size_t kRowsPerCheck = 4096;

void AppendPart(std::string* key, char tag, const void* data, std::size_t n) {
  key->push_back(tag);
  std::uint32_t len = static_cast<std::uint32_t>(n);
  key->append(reinterpret_cast<const char*>(&len), sizeof len);
  key->append(static_cast<const char*>(data), n);
}

std::vector<std::size_t> Positions(const EditableTable& table, const std::vector<std::string>& names) {
  std::vector<std::size_t> out;
  const auto& cols = table.Columns();
  for (const auto& n : names) {
    std::size_t k = 0;
    while (k < cols.size() && !SameName(cols[k].name, n)) ++k;
    if (k == cols.size())
      ThrowCorrupt("a relationship names column '" + n + "', which table '" + table.Name() + "' does not have");
    out.push_back(k);
  }
  return out;
}

// Rows to delete that lie elsewhere than the rows themselves: the data of moved rows and
// the rows of long values, by page.
using SlotsByPage = std::map<std::uint32_t, std::vector<std::uint16_t>>;

class Deleter {
 public:
  explicit Deleter(EditableDatabase& db) : db_(db), pager_(db.pager()), txn_(db.Editor()), format_(pager_.format()) {}

  // `expected`, tallied from every row of `table` as the statement read them before
  // changing anything, lets the pass over each of its indexes check that the tree holds
  // those rows and no others.
  void Expect(const EditableTable& table, std::vector<IndexRows>& expected) {
    whole_ = &table;
    expected_ = &expected;
  }

  // Deletes `rows`: one pass over each index for the whole set, then the rows themselves,
  // page by page in batches of ids.
  std::int64_t DeleteSet(EditableTable& table, const RowSet& rows, int depth) {
    if (rows.empty()) return 0;
    if (table.is_system())
      throw Error(ErrorCode::ReadOnly, "System table '" + table.Name() + "' of database '" + db_.path() +
                                           "' cannot be changed");
    // Every page this pass changes is used at once; what exceeds the memory budget goes
    // to the file (journaled first) rather than staying in memory until the end.
    Transaction::Spilling spilling(txn_);
    // A cascade back into the statement's own table changes its trees before they are
    // checked against the rows read.
    if (depth > 0 && &table == whole_) expected_ = nullptr;
    std::size_t cursor = 0;
    std::vector<RowId> ids;
    // Rows other tables refer to are checked all together, before anything changes.
    if (Referred(table)) {
      rows.NextBatch(&cursor, rows.size(), &ids);
      Enforce(table, ids, depth);
    } else {
      rows.NextBatch(&cursor, kRowsPerBatch, &ids);
    }
    RemoveIndexEntries(db_, table, txn_, rows, depth == 0 && &table == whole_ ? expected_ : nullptr);
    txn_.Release();
    do {
      MarkDeleted(table, ids);
      txn_.Release();
    } while (rows.NextBatch(&cursor, kRowsPerBatch, &ids));
    UpdateCounts(table, rows.size());
    txn_.Release();
    return static_cast<std::int64_t>(rows.size());
  }

  std::int64_t Delete(EditableTable& table, const std::vector<RowId>& ids, int depth) {
    return DeleteSet(table, RowSet(ids), depth);
  }

 private:
  // Enforced relationships in which this table is the referenced side: rows of the other
  // table may not go on referring to rows deleted here.
  void Enforce(EditableTable& table, const std::vector<RowId>& ids, int depth) {
    for (const RelationshipInfo& r : db_.Relationships()) {
      if (!r.enforced || !SameName(r.primary_table, table.Name())) continue;
      EditableTable* child = db_.GetTable(r.foreign_table);
      if (child == nullptr)
        ThrowCorrupt("relationship '" + r.name + "' names table '" + r.foreign_table + "', which does not exist");
      std::vector<std::size_t> parent_cols = Positions(table, r.primary_columns);
      std::vector<std::size_t> child_cols = Positions(*child, r.foreign_columns);
      if (parent_cols.size() != child_cols.size() || parent_cols.empty())
        ThrowCorrupt("relationship '" + r.name + "' pairs its columns unevenly");

      std::vector<bool> wanted(table.Columns().size(), false);
      for (std::size_t c : parent_cols) wanted[c] = true;
      std::unordered_set<std::string> keys;
      std::string key;
      std::size_t n = 0;
      for (RowId id : ids) {
        if (RelationKey(table.ReadRow(id, wanted), parent_cols, &key)) keys.insert(key);
        if (++n % 1024 == 0) db_.CheckDeadline("checking table '" + child->Name() + "'");
      }
      if (keys.empty()) continue;

      const bool same_table = child == &table;
      std::vector<bool> child_wanted(child->Columns().size(), false);
      for (std::size_t c : child_cols) child_wanted[c] = true;
      std::vector<RowId> referring;
      n = 0;
      child->Scan(child_wanted, [&](RowId id, const Row& row) {
        if (++n % 4096 == 0) db_.CheckDeadline("checking table '" + child->Name() + "'");
        if (same_table && std::binary_search(ids.begin(), ids.end(), id)) return true;
        if (RelationKey(row, child_cols, &key) && keys.count(key) != 0) referring.push_back(id);
        return true;
      });
      if (referring.empty()) continue;
      if (!r.cascade_deletes)
        throw Error(ErrorCode::Integrity, "The record cannot be deleted or changed because table '" + child->Name() +
                                              "' includes related records.");
      if (depth >= kMaxCascadeDepth)
        throw Error(ErrorCode::Integrity, "Deleting from table '" + table.Name() +
                                              "' cascades through too many relationships");
      Delete(*child, std::move(referring), depth + 1);
    }
  }

  bool Referred(const EditableTable& table) {
    for (const RelationshipInfo& r : db_.Relationships())
      if (r.enforced && SameName(r.primary_table, table.Name())) return true;
    return false;
  }

  void MarkDeleted(EditableTable& table, const std::vector<RowId>& ids) {
    const TableDef& def = table.definition();
    std::vector<LongColumn> long_columns;
    bool has_var = def.var_columns > 0;
    for (const auto& c : def.columns) {
      if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) long_columns.push_back({c.number, c.var_index});
      if (!c.fixed()) has_var = true;
    }

    SlotsByPage extra;
    std::vector<RowId> moved_to;
    std::vector<std::uint16_t> slots;
    std::vector<std::uint32_t> gained;  // ascending, as the ids
    std::size_t pages = 0;
    for (std::size_t i = 0; i < ids.size();) {
      const std::uint32_t number = ids[i].page;
      slots.clear();
      {
        if (number == 0 || number >= pager_.page_count()) NoRow(table, ids[i]);
        PageRef p = pager_.Read(number);
        if ((*p)[0] != static_cast<std::uint8_t>(PageType::Data)) NoRow(table, ids[i]);
        const DataPage page(p, number, format_);
        if (page.owner() != def.page) NoRow(table, ids[i]);
        for (; i < ids.size() && ids[i].page == number; ++i) {
          const std::uint8_t s = ids[i].row;
          if (s >= page.row_count()) NoRow(table, ids[i]);
          PageRef keep;
          moved_to.clear();
          ByteView record;
          try {
            // A moved row: the data where its slot points goes too.
            record = ResolveRow(pager_, page, s, &keep, &moved_to);
            if (!record.empty() && !long_columns.empty())
              VisitLongValueRows(pager_, record, has_var, long_columns,
                                 [&](LongValueForm, RowId at) { extra[at.page].push_back(at.row); });
          } catch (const FormatError& e) {
            throw FormatError("table '" + table.Name() + "': " + e.what());
          }
          if (record.empty()) NoRow(table, ids[i]);
          for (RowId to : moved_to) extra[to.page].push_back(to.row);
          slots.push_back(s);
        }
      }
      DeleteSlots(txn_.Write(number), number, format_, slots);
      gained.push_back(number);
      if (++pages % kPagesPerCheck == 0) Pause(table);
    }
    for (auto& [number, more] : extra) {
      DeleteSlots(txn_.Write(number), number, format_, more);
      if (++pages % kPagesPerCheck == 0) Pause(table);
    }
    // Jet offers the table's pages with room to its later inserts through the table's
    // free-space map. A page left empty stays the table's, as Jet leaves it until the
    // database is compacted: taking it out would mean finding every map that names it.
    if (!def.free_pages.IsNull()) EditUsageMap(txn_, def.free_pages, gained, true, MapReach::MoveStart);
  }

  void Pause(const EditableTable& table) {
    db_.CheckDeadline("deleting from table '" + table.Name() + "'");
    txn_.Release();
  }

  // The table definition counts the table's rows, and per index the distinct keys. Jet
  // uses the latter only as an estimate (Access itself lets it drift): a unique index
  // loses one per row, any other is kept no larger than the row count.
  void UpdateCounts(EditableTable& table, std::size_t removed) {
    const TableDef& def = table.definition();
    std::vector<std::uint8_t>& tdef = txn_.Write(def.page);
    const ByteView page(tdef, "table definition");
    std::uint32_t rows = page.U32(format_.tdef_row_count);
    rows = rows >= removed ? static_cast<std::uint32_t>(rows - removed) : 0;
    Put32(tdef.data() + format_.tdef_row_count, rows);
    for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
      std::size_t at = format_.tdef_body + r * format_.tdef_real_index_counter + format_.tdef_real_index_rows;
      if (at + 4 > tdef.size()) break;
      std::uint32_t keys = page.U32(at);
      if (def.real_indexes[r].flags & kIndexUnique) keys = keys >= removed ? static_cast<std::uint32_t>(keys - removed) : 0;
      Put32(tdef.data() + at, std::min(keys, rows));
    }
  }

  [[noreturn]] void NoRow(const EditableTable& table, RowId id) {
    ThrowCorrupt("table '" + table.Name() + "' has no row at page " + std::to_string(id.page) + " slot " +
                 std::to_string(id.row) + " to delete");
  }

  EditableDatabase& db_;
  Pager& pager_;
  Transaction& txn_;
  const Format& format_;
  const EditableTable* whole_ = nullptr;  // the table whose indexes `expected_` describes
  std::vector<IndexRows>* expected_ = nullptr;
};

}  // namespace

bool RelationKey(const Row& row, const std::vector<std::size_t>& positions, std::string* key) {
  key->clear();
  for (std::size_t p : positions) {
    const Value& v = row.at(p);
    switch (v.kind) {
      case Value::Kind::Null: return false;
      case Value::Kind::Boolean: {
        std::int64_t i = v.b ? -1 : 0;
        AppendPart(key, 'i', &i, sizeof i);
        break;
      }
      case Value::Kind::Integer:
      case Value::Kind::Currency:
        AppendPart(key, v.kind == Value::Kind::Integer ? 'i' : 'c', &v.i, sizeof v.i);
        break;
      case Value::Kind::Single:
      case Value::Kind::Double:
      case Value::Kind::Date: {
        double d = v.d == 0 ? 0.0 : v.d;  // one zero
        AppendPart(key, v.kind == Value::Kind::Date ? 'd' : 'f', &d, sizeof d);
        break;
      }
      case Value::Kind::Decimal: {
        Int128 dec = v.dec;
        std::uint8_t scale = v.scale;
        while (scale > 0 && dec % 10 == 0) {
          dec /= 10;
          --scale;
        }
        char buf[sizeof dec + 1];
        std::memcpy(buf, &dec, sizeof dec);
        buf[sizeof dec] = static_cast<char>(scale);
        AppendPart(key, 'n', buf, sizeof buf);
        break;
      }
      case Value::Kind::Text: {
        const std::string text = KeyText(v.s);
        AppendPart(key, 't', text.data(), text.size());
        break;
      }
      case Value::Kind::Binary:
      case Value::Kind::Guid: AppendPart(key, 'b', v.s.data(), v.s.size()); break;
    }
  }
  return true;
}

std::int64_t DeleteRows(EditableDatabase& db, EditableTable& table, const std::vector<RowId>& ids) {
  if (ids.empty()) return 0;
  Deleter deleter(db);
  return deleter.Delete(table, ids, 0);
}

std::int64_t DeleteWhere(EditableDatabase& db, EditableTable& table, const std::vector<bool>& wanted,
                         const std::function<bool(const Row&)>& matches, const DateComparison* same) {
  RowSet rows;
  IndexRowsTally tally(table.definition());
  std::size_t n = 0;
  auto check_deadline = [&] {
    if (++n % kRowsPerCheck == 0) db.CheckDeadline("reading table '" + table.Name() + "'");
  };
  const TableDef& def = table.definition();
  if (same != nullptr && !tally.NeedsValues() && same->column < def.columns.size() &&
      def.columns[same->column].type == ColumnType::DateTime) {
    const ColumnDef& column = def.columns[same->column];
    const Format& format = db.pager().format();
    const Row none;
    table.reader().ScanRecords([&](RowId id, ByteView record) {
      check_deadline();
      tally.Add(id, none);
      const ByteView stored = FixedColumnBytes(record, format, column);
      if (!stored.empty() && same->Holds(stored.F64(0))) rows.Add(id);
      return true;
    });
  } else {
    table.Scan(tally.Wanted(wanted), [&](RowId id, const Row& row) {
      check_deadline();
      tally.Add(id, row);
      if (matches(row)) rows.Add(id);
      return true;
    });
  }
  if (rows.empty()) return 0;
  std::vector<IndexRows> expected = tally.Take();
  Deleter deleter(db);
  deleter.Expect(table, expected);
  return deleter.DeleteSet(table, rows, 0);
}

}  // namespace jet::write
