#include "jet/database_writer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <limits>

#include "jet/catalog/catalog.h"
#include "jet/create/index_tree.h"
#include "jet/create/page_store.h"
#include "jet/create/system_tables.h"
#include "jet/create/table_layout.h"
#include "jet/error.h"
#include "jet/format/header.h"
#include "jet/format/text.h"
#include "jet/index/index_key.h"
#include "jet/page/usage_map.h"
#include "jet/row/long_value_writer.h"
#include "jet/row/record_encoder.h"
#include "jet/table/row_placement.h"

namespace jet::create {
namespace {

double NowAsJetDate() {
  using namespace std::chrono;
  auto now = floor<seconds>(system_clock::now());
  auto whole_days = floor<days>(now);
  // 1899-12-30 lies 25569 days before 1970-01-01.
  double day_count = static_cast<double>(whole_days.time_since_epoch().count()) + 25569.0;
  return day_count + static_cast<double>((now - whole_days).count()) / 86400.0;
}

// The largest row this writer puts on a data page.
constexpr std::size_t kMaxRowSize = 4060;

// Usage-map rows, on data pages of their own.
class MapRows {
 public:
  explicit MapRows(PageStore* store) : store_(store) {}
  // A new empty map.
  RowId Add() {
    const std::string row = EmptyUsageMapRow();
    if (page_ == 0 || DataPageRoom(*store_->Read(page_), store_->format()) < row.size()) {
      page_ = store_->Allocate();
      InitDataPage(store_->Write(page_), store_->format(), 0);
    }
    return {page_, AddRowToPage(store_->Write(page_), page_, store_->format(), row)};
  }
  // A new map of `pages`, marked in one edit.
  RowId Add(std::vector<std::uint32_t> pages) {
    RowId map = Add();
    std::sort(pages.begin(), pages.end());
    EditUsageMap(*store_, map, pages, true, MapReach::Grow);
    return map;
  }

 private:
  PageStore* store_;
  std::uint32_t page_ = 0;
};

struct RealIndexState {
  std::vector<std::pair<std::size_t, bool>> columns;  // position in the layout, ascending
  std::uint8_t flags = kIndexAlwaysSet;
  std::string first_name;  // for messages
  EntryCollector entries;
  BuiltIndex built;
  RowId usage_map;
};

}  // namespace

struct TableWriter::State {
  std::string name;
  bool system = false;
  TableLayout layout;
  TableDef record_def;  // the columns as the record encoder takes them
  PageStore* store = nullptr;
  std::uint32_t tdef_page = 0;
  std::vector<std::unique_ptr<LongValueWriter>> long_values;  // per column; null unless Memo/OLE
  std::uint32_t rows = 0;
  std::int64_t autonumber = 0;
  std::vector<RealIndexState> real;
  std::vector<LogicalIndexDef> logical;
  char next_reference_letter = 'B';
  RowId used_map, free_map;
  RowPlacement placement;  // for the whole load
  std::vector<ColumnMapsDef> column_maps;

  std::size_t ColumnPosition(const std::string& column, const std::string& context) const {
    for (std::size_t k = 0; k < layout.columns.size(); ++k) {
      if (SameName(layout.columns[k].name, column)) return k;
    }
    throw Error(ErrorCode::UnknownColumn, context + ": table '" + name + "' has no column '" + column + "'");
  }

  void Append(const Row& values) {
    if (values.size() != layout.columns.size()) {
      throw Error(ErrorCode::TypeMismatch, "Table '" + name + "' has " + std::to_string(layout.columns.size()) +
                                               " columns but the row has " + std::to_string(values.size()) +
                                               " values");
    }
    if (rows == std::numeric_limits<std::uint32_t>::max()) {
      throw Error(ErrorCode::Unsupported, "Table '" + name + "' cannot hold more rows");
    }
    std::vector<Cell> cells(values.size());
    std::int64_t next_autonumber = autonumber;
    for (std::size_t k = 0; k < values.size(); ++k) {
      const ColumnDef& c = layout.columns[k];
      const bool numbered = (c.flags & kColumnAutoLong) != 0;
      if (numbered && values[k].IsNull()) {
        if (next_autonumber >= std::numeric_limits<std::int32_t>::max()) {
          throw Error(ErrorCode::Unsupported, "Column '" + c.name + "' of table '" + name +
                                                  "': no autonumber is left");
        }
        cells[k] = ToCell(c, Value::Int(next_autonumber + 1), name);
        next_autonumber = cells[k].i;
      } else {
        cells[k] = ToCell(c, values[k], name);
        if (numbered) next_autonumber = std::max(next_autonumber, cells[k].i);
      }
    }
    // Keys first: a row whose key cannot be made is refused before anything is stored.
    std::vector<std::string> keys(real.size());
    std::vector<bool> key_null(real.size(), false);
    for (std::size_t r = 0; r < real.size(); ++r) {
      const RealIndexState& idx = real[r];
      std::string what = "Index '" + idx.first_name + "' of table '" + name + "'";
      for (const auto& [pos, ascending] : idx.columns) {
        const Cell& cell = cells[pos];
        if (cell.null) {
          key_null[r] = true;
          if (idx.flags & kIndexRequired) {
            throw Error(ErrorCode::Integrity,
                        what + ": column '" + layout.columns[pos].name + "' cannot be NULL");
          }
        }
        AppendKey(&keys[r], layout.columns[pos], cell, ascending, what);
      }
    }
    std::string row = EncodeRecord(record_def, cells, [&](const ColumnDef& c, const std::string& bytes) {
      return long_values.at(c.number)->Put(bytes);
    });
    if (row.size() > kMaxRowSize) {
      throw Error(ErrorCode::Unsupported, "A row of " + std::to_string(row.size()) +
                                              " bytes is larger than a Jet 4 data page can hold");
    }
    const RowId at = placement.Place(*store, {tdef_page, used_map, free_map}, row, store->Count());
    for (std::size_t r = 0; r < real.size(); ++r) real[r].entries.Add(keys[r], at.page, at.row, key_null[r]);
    ++rows;
    autonumber = next_autonumber;
  }

  // Index pages and usage maps, once all rows are in.
  void SortKeys() {
    for (RealIndexState& idx : real) {
      idx.entries.Sort();
      if (idx.flags & kIndexUnique) {
        std::size_t dup = idx.entries.FindDuplicate();
        if (dup < idx.entries.Count()) {
          throw Error(ErrorCode::Integrity, "Index '" + idx.first_name + "' of table '" + name +
                                                "' is unique but two rows have the same key");
        }
      }
    }
  }

  void BuildIndexes() {
    for (RealIndexState& idx : real) idx.built = BuildIndexPages(idx.entries, tdef_page, *store);
  }

  TableDef Definition() const {
    TableDef def = record_def;
    def.page = tdef_page;
    def.row_count = rows;
    def.last_autonumber = static_cast<std::uint32_t>(autonumber);
    def.table_type = system ? kTableTypeSystem : kTableTypeUser;
    def.used_pages = used_map;
    def.free_pages = free_map;
    for (const RealIndexState& idx : real) {
      RealIndexDef r;
      for (const auto& [pos, ascending] : idx.columns) r.columns.push_back({layout.columns[pos].number, !ascending});
      r.used_pages = idx.usage_map;
      r.root_page = idx.built.root;
      r.flags = idx.flags;
      r.row_count = rows;
      def.real_indexes.push_back(std::move(r));
    }
    def.indexes = logical;
    def.column_maps = column_maps;
    return def;
  }
};

TableWriter::TableWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
TableWriter::~TableWriter() = default;
const std::string& TableWriter::Name() const { return state_->name; }
void TableWriter::Append(const Row& values) { state_->Append(values); }
std::uint32_t TableWriter::RowCount() const { return state_->rows; }

struct DatabaseWriter::State {
  DatabaseOptions options;
  PageStore store;
  MapRows maps{&store};
  std::vector<std::unique_ptr<TableWriter>> system_tables;
  std::vector<std::unique_ptr<TableWriter>> tables;
  struct Relationship {
    RelationshipSpec spec;
    std::size_t parent_real = 0, child_real = 0;  // real indexes compared by the integrity check
  };
  std::vector<Relationship> relationships;
  bool written = false;

  TableWriter& NewTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                        const std::vector<IndexSpec>& indexes, bool system, std::uint32_t tdef_page = 0) {
    if (written) throw Error(ErrorCode::ReadOnly, "The database has already been written");
    if (name.empty() || name.size() > 64) {
      throw Error(ErrorCode::Unsupported, "Table name '" + name + "' must have 1 to 64 characters");
    }
    for (const auto* list : {&system_tables, &tables}) {
      for (const auto& t : *list) {
        if (SameName(t->Name(), name)) throw Error(ErrorCode::Unsupported, "Table '" + name + "' is defined twice");
      }
    }
    ToUcs2(name, "Table name '" + name + "'");
    auto st = std::make_unique<TableWriter::State>();
    st->name = name;
    st->system = system;
    st->layout = LayOut(name, columns, system);
    st->record_def.columns = st->layout.columns;
    st->record_def.max_columns = static_cast<std::uint16_t>(st->layout.columns.size());
    st->record_def.var_columns = st->layout.var_count;
    for (std::size_t a = 0; a < columns.size(); ++a) {
      for (std::size_t b = a + 1; b < columns.size(); ++b) {
        if (SameName(columns[a].name, columns[b].name)) {
          throw Error(ErrorCode::Unsupported, "Table '" + name + "' has two columns named '" + columns[b].name + "'");
        }
      }
    }
    st->store = &store;
    st->tdef_page = tdef_page != 0 ? tdef_page : store.Allocate();
    st->used_map = maps.Add();
    st->free_map = maps.Add();
    st->long_values.resize(columns.size());
    for (std::size_t k = 0; k < columns.size(); ++k) {
      if (IsLongValue(columns[k].type)) st->long_values[k] = std::make_unique<LongValueWriter>(store);
    }
    if (indexes.size() > 32) throw Error(ErrorCode::Unsupported, "Table '" + name + "' has more than 32 indexes");
    bool has_primary = false;
    for (const IndexSpec& spec : indexes) {
      std::string what = "Index '" + spec.name + "' of table '" + name + "'";
      if (spec.name.empty() || spec.name.size() > 64) throw Error(ErrorCode::Unsupported, what + ": bad name");
      if (spec.columns.empty() || spec.columns.size() > kMaxIndexColumns) {
        throw Error(ErrorCode::Unsupported, what + ": an index has 1 to 10 columns");
      }
      if (!spec.descending.empty() && spec.descending.size() != spec.columns.size()) {
        throw Error(ErrorCode::Unsupported, what + ": one order flag per column is needed");
      }
      if (spec.primary && has_primary) throw Error(ErrorCode::Unsupported, what + ": a second primary key");
      has_primary = has_primary || spec.primary;
      for (const LogicalIndexDef& l : st->logical) {
        if (SameName(l.name, spec.name)) throw Error(ErrorCode::Unsupported, what + ": defined twice");
      }
      RealIndexState idx;
      idx.first_name = spec.name;
      for (std::size_t k = 0; k < spec.columns.size(); ++k) {
        std::size_t pos = st->ColumnPosition(spec.columns[k], what);
        ColumnType type = st->layout.columns[pos].type;
        if (!IsIndexable(type) && !(system && type == ColumnType::Binary)) {
          throw Error(ErrorCode::Unsupported, what + ": column '" + spec.columns[k] + "' cannot be an index key");
        }
        idx.columns.emplace_back(pos, spec.descending.empty() || !spec.descending[k]);
      }
      if (spec.primary || spec.unique) idx.flags |= kIndexUnique;
      if (spec.primary || spec.required) idx.flags |= kIndexRequired;
      if (spec.ignore_nulls) idx.flags |= kIndexIgnoreNulls;
      LogicalIndexDef l;
      l.name = spec.name;
      l.number = static_cast<std::uint32_t>(st->logical.size());
      l.real_index = static_cast<std::uint32_t>(st->real.size());
      l.type = spec.primary ? kIndexTypePrimary : 0;
      st->real.push_back(std::move(idx));
      st->logical.push_back(l);
    }
    auto& list = system ? system_tables : tables;
    list.push_back(std::unique_ptr<TableWriter>(new TableWriter(std::move(st))));
    return *list.back();
  }

  TableWriter::State& Find(std::string_view name) {
    for (const auto* list : {&tables, &system_tables}) {
      for (const auto& t : *list) {
        if (SameName(t->Name(), name)) return *t->state_;
      }
    }
    throw Error(ErrorCode::UnknownTable, "There is no table '" + std::string(name) + "'");
  }

  // The real index of `t` on exactly these columns, ascending; npos if none.
  static std::size_t MatchingIndex(const TableWriter::State& t, const std::vector<std::size_t>& positions,
                                   bool unique_only) {
    for (std::size_t r = 0; r < t.real.size(); ++r) {
      const RealIndexState& idx = t.real[r];
      if (idx.columns.size() != positions.size()) continue;
      if (unique_only && !(idx.flags & kIndexUnique)) continue;
      bool same = true;
      for (std::size_t k = 0; k < positions.size(); ++k) {
        same = same && idx.columns[k].first == positions[k] && idx.columns[k].second;
      }
      if (same) return r;
    }
    return std::string::npos;
  }

  void AddRelationship(RelationshipSpec spec) {
    if (written) throw Error(ErrorCode::ReadOnly, "The database has already been written");
    TableWriter::State& parent = Find(spec.parent_table);
    TableWriter::State& child = Find(spec.child_table);
    if (spec.name.empty()) spec.name = parent.name + child.name;
    std::string what = "Relationship '" + spec.name + "'";
    for (const Relationship& r : relationships) {
      if (SameName(r.spec.name, spec.name)) throw Error(ErrorCode::Unsupported, what + " is defined twice");
    }
    if (spec.parent_columns.empty() || spec.parent_columns.size() != spec.child_columns.size() ||
        spec.parent_columns.size() > kMaxIndexColumns) {
      throw Error(ErrorCode::Unsupported, what + ": the two sides need the same number of columns (1 to 10)");
    }
    std::vector<std::size_t> parent_pos, child_pos;
    for (std::size_t k = 0; k < spec.parent_columns.size(); ++k) {
      parent_pos.push_back(parent.ColumnPosition(spec.parent_columns[k], what));
      child_pos.push_back(child.ColumnPosition(spec.child_columns[k], what));
      if (parent.layout.columns[parent_pos.back()].type != child.layout.columns[child_pos.back()].type) {
        throw Error(ErrorCode::TypeMismatch, what + ": columns '" + spec.parent_columns[k] + "' and '" +
                                                 spec.child_columns[k] + "' differ in type");
      }
    }
    Relationship rel;
    if (spec.enforced) {
      if (parent.rows > 0 || child.rows > 0) {
        throw Error(ErrorCode::Unsupported, what + ": enforced relationships must be added before any rows");
      }
      rel.parent_real = MatchingIndex(parent, parent_pos, true);
      if (rel.parent_real == std::string::npos) {
        throw Error(ErrorCode::Unsupported, what + ": table '" + parent.name +
                                                "' needs a unique index on the referenced columns");
      }
      rel.child_real = MatchingIndex(child, child_pos, false);
      if (rel.child_real == std::string::npos) {
        RealIndexState idx;
        idx.first_name = spec.name;
        for (std::size_t pos : child_pos) idx.columns.emplace_back(pos, true);
        rel.child_real = child.real.size();
        child.real.push_back(std::move(idx));
      }
      if (parent.next_reference_letter > 'Z') {
        throw Error(ErrorCode::Unsupported, what + ": table '" + parent.name + "' has too many relationships");
      }
      LogicalIndexDef on_child, on_parent;
      on_child.name = spec.name;
      on_child.number = static_cast<std::uint32_t>(child.logical.size());
      on_parent.name = std::string(".r") + parent.next_reference_letter++;
      on_parent.number = static_cast<std::uint32_t>(parent.logical.size() + (&parent == &child ? 1 : 0));
      on_child.real_index = static_cast<std::uint32_t>(rel.child_real);
      on_parent.real_index = static_cast<std::uint32_t>(rel.parent_real);
      on_child.type = on_parent.type = kIndexTypeForeign;
      // 1 on the referenced side, 2 on the referring side.
      on_child.related_table_type = 2;
      on_parent.related_table_type = 1;
      on_child.related_index = on_parent.number;
      on_parent.related_index = on_child.number;
      on_child.related_table_page = parent.tdef_page;
      on_parent.related_table_page = child.tdef_page;
      on_child.cascade_updates = on_parent.cascade_updates = spec.cascade_updates;
      on_child.cascade_deletes = on_parent.cascade_deletes = spec.cascade_deletes;
      if (child.logical.size() + 1 > 32 || parent.logical.size() + 1 > 32) {
        throw Error(ErrorCode::Unsupported, what + ": a table would have more than 32 indexes");
      }
      child.logical.push_back(on_child);
      parent.logical.push_back(on_parent);
    }
    rel.spec = std::move(spec);
    relationships.push_back(std::move(rel));
  }

  // Referring rows must have a referenced row, unless a key column is NULL.
  void CheckReferences() {
    for (const Relationship& rel : relationships) {
      if (!rel.spec.enforced) continue;
      const EntryCollector& parent = Find(rel.spec.parent_table).real[rel.parent_real].entries;
      const EntryCollector& child = Find(rel.spec.child_table).real[rel.child_real].entries;
      std::size_t p = 0;
      for (std::size_t c = 0; c < child.Count(); ++c) {
        if (child.HasNull(c)) continue;
        std::string_view key = child.Key(c);
        while (p < parent.Count() && parent.Key(p) < key) ++p;
        if (p == parent.Count() || parent.Key(p) != key) {
          throw Error(ErrorCode::Integrity, "Relationship '" + rel.spec.name + "': a row of table '" +
                                                rel.spec.child_table + "' refers to no row of table '" +
                                                rel.spec.parent_table + "'");
        }
      }
    }
  }

  void FillCatalogue(double created) {
    TableWriter& objects = *system_tables[0];
    for (const Row& row : StandardObjectRows(created)) objects.Append(row);
    for (const auto& t : tables) {
      objects.Append(ObjectRow(static_cast<std::int32_t>(t->state_->tdef_page), catalogue::kTablesId, t->Name(),
                               catalogue::kTypeTable, created, false, 0));
    }
    std::int32_t next_id = static_cast<std::int32_t>(0x80000000u);
    TableWriter& relationship_rows = *system_tables[3];
    for (const Relationship& rel : relationships) {
      objects.Append(ObjectRow(next_id++, catalogue::kRelationshipsId, rel.spec.name, catalogue::kTypeRelationship,
                               created, false, 0));
      std::int32_t grbit = (rel.spec.enforced ? 0 : catalogue::kNotEnforced) |
                           (rel.spec.cascade_updates ? catalogue::kCascadeUpdates : 0) |
                           (rel.spec.cascade_deletes ? catalogue::kCascadeDeletes : 0);
      const auto& parent = Find(rel.spec.parent_table);
      const auto& child = Find(rel.spec.child_table);
      auto n = static_cast<std::int64_t>(rel.spec.child_columns.size());
      for (std::int64_t k = 0; k < n; ++k) {
        auto col = static_cast<std::size_t>(k);
        const std::string& child_col = child.layout.columns[child.ColumnPosition(rel.spec.child_columns[col], "")].name;
        const std::string& parent_col =
            parent.layout.columns[parent.ColumnPosition(rel.spec.parent_columns[col], "")].name;
        relationship_rows.Append({Value::Str(rel.spec.name), Value::Int(grbit), Value::Int(n), Value::Int(k),
                                  Value::Str(child.name), Value::Str(child_col), Value::Str(parent.name),
                                  Value::Str(parent_col)});
      }
    }
    for (const Row& row : DefaultAccessControlRows()) system_tables[1]->Append(row);
  }

  // The definition on `first`, continuing on pages taken at the end of the file.
  void StoreDefinition(const std::string& bytes, std::uint32_t first) {
    const Format& f = store.format();
    std::vector<std::uint32_t> pages{first};
    while (pages.size() < TableDefPageCount(bytes, f)) pages.push_back(store.Allocate());
    for (std::size_t k = 0; k < pages.size(); ++k)
      PutTableDefPage(store.Write(pages[k]), bytes, k, k + 1 < pages.size() ? pages[k + 1] : 0, f);
  }

  void Write(const std::string& path) {
    if (written) throw Error(ErrorCode::ReadOnly, "The database has already been written");
    double created = options.created != 0 ? options.created : NowAsJetDate();
    FillCatalogue(created);
    std::vector<TableWriter::State*> all;
    for (auto& t : system_tables) all.push_back(t->state_.get());
    for (auto& t : tables) all.push_back(t->state_.get());
    for (TableWriter::State* t : all) t->SortKeys();
    CheckReferences();
    for (TableWriter::State* t : all) t->BuildIndexes();

    for (TableWriter::State* t : all) {
      for (RealIndexState& idx : t->real) idx.usage_map = maps.Add(idx.built.pages);
      for (std::size_t k = 0; k < t->layout.columns.size(); ++k) {
        if (!t->long_values[k]) continue;
        const RowId used = maps.Add(t->long_values[k]->Pages());
        t->column_maps.push_back({t->layout.columns[k].number, used, maps.Add()});
      }
    }
    for (TableWriter::State* t : all) StoreDefinition(SerializeTableDef(t->Definition(), t->name), t->tdef_page);

    // Page 1: the database's own map of free pages (none below the end of the file).
    std::uint8_t* global = store.Write(1).data();
    global[0] = static_cast<std::uint8_t>(PageType::Data);
    global[1] = kPageMark;
    Put32(global + kJet4Format.data_tdef_page, 1);
    std::uint32_t pages = store.Count();
    std::size_t low = kJet4Format.page_size;
    for (int r = 0; r < 2; ++r) {
      low -= kUsageMapRowSize;
      Put16(global + kJet4Format.data_slots + 2 * r, static_cast<std::uint16_t>(low));
    }
    std::uint8_t* free_map = global + kJet4Format.page_size - kUsageMapRowSize;
    for (std::uint32_t pg = pages; pg < (kUsageMapRowSize - 5) * 8; ++pg) {
      free_map[5 + pg / 8] = static_cast<std::uint8_t>(free_map[5 + pg / 8] | (1u << (pg % 8)));
    }
    Put16(global + kJet4Format.data_row_count, 2);
    Put16(global + kJet4Format.data_free_space, static_cast<std::uint16_t>(low - kJet4Format.data_slots - 4));

    Header header;
    header.code_page = kCodePage1252;
    header.sort_order = kSortGeneral;
    header.creation_date = created;
    header.password_bytes = Ucs2Bytes(ToUcs2(options.password, "The database password"));
    const std::vector<std::uint8_t> page0 = EncodeHeader(header);
    std::memcpy(store.Write(0).data(), page0.data(), page0.size());
    written = true;
    store.Save(options.env != nullptr ? *options.env : os::Env::Default(), path);
  }
};

DatabaseWriter::DatabaseWriter(DatabaseOptions options) : state_(std::make_unique<State>()) {
  if (options.password.size() > 80) {
    throw Error(ErrorCode::Unsupported, "The database password is longer than the 20 characters Jet 4 allows");
  }
  if (ToUcs2(options.password, "The database password").size() > 20) {
    throw Error(ErrorCode::Unsupported, "The database password is longer than the 20 characters Jet 4 allows");
  }
  state_->options = std::move(options);
  state_->store.Allocate();  // header
  state_->store.Allocate();  // free-page map
  // The system tables' definitions come first, on the pages the catalogue names them by.
  const std::vector<SystemTableSpec> specs = SystemTables();
  std::vector<std::uint32_t> tdef_pages;
  for (std::size_t k = 0; k < specs.size(); ++k) tdef_pages.push_back(state_->store.Allocate());
  for (std::size_t k = 0; k < specs.size(); ++k) {
    state_->NewTable(specs[k].name, specs[k].columns, specs[k].indexes, true, tdef_pages[k]);
  }
}

DatabaseWriter::~DatabaseWriter() = default;

TableWriter& DatabaseWriter::AddTable(const std::string& name, const std::vector<ColumnSpec>& columns,
                                      const std::vector<IndexSpec>& indexes) {
  if (name.size() >= 4 && SameName(name.substr(0, 4), "MSys")) {
    throw Error(ErrorCode::Unsupported, "Table name '" + name + "' is reserved for system tables");
  }
  return state_->NewTable(name, columns, indexes, false);
}

TableWriter& DatabaseWriter::Table(std::string_view name) {
  for (auto& t : state_->tables) {
    if (SameName(t->Name(), name)) return *t;
  }
  throw Error(ErrorCode::UnknownTable, "There is no table '" + std::string(name) + "'");
}

void DatabaseWriter::AddRelationship(const RelationshipSpec& relationship) { state_->AddRelationship(relationship); }

void DatabaseWriter::Write(const std::string& path) { state_->Write(path); }

}  // namespace jet::create
