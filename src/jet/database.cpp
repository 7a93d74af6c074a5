#include "jet/database.h"

#include "jet/index/index_walk.h"

namespace jet {

Table::Table(Database* db, std::unique_ptr<TableReader> reader, bool system)
    : db_(db), reader_(std::move(reader)), system_(system) {
  const TableDef& def = reader_->def();
  for (const auto& c : def.columns) columns_.push_back({c.name, c.type, c.autonumber()});
  for (const auto& l : def.indexes) {
    const RealIndexDef& r = def.real_indexes[l.real_index];
    IndexInfo info;
    info.name = l.name;
    for (const auto& ic : r.columns) {
      std::size_t pos = 0;
      while (pos < def.columns.size() && def.columns[pos].number != ic.column_number) ++pos;
      if (pos == def.columns.size())
        ThrowCorrupt("index '" + l.name + "' of table '" + reader_->name() + "' names column number " +
                     std::to_string(ic.column_number) + ", which the table does not have");
      info.columns.push_back({def.columns[pos].name, pos, ic.descending});
    }
    info.primary = l.type == kIndexTypePrimary;
    info.foreign_key = l.type == kIndexTypeForeign;
    info.unique = (r.flags & kIndexUnique) != 0;
    info.required = (r.flags & kIndexRequired) != 0;
    info.ignore_nulls = (r.flags & kIndexIgnoreNulls) != 0;
    info.real_index = l.real_index;
    info.root_page = r.root_page;
    info.related_table_page = l.related_table_page;
    info.related_index = l.related_index;
    info.cascade_updates = l.cascade_updates;
    info.cascade_deletes = l.cascade_deletes;
    indexes_.push_back(std::move(info));
  }
}

void Table::Scan(const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) {
  db_->Guard([&] { reader_->Scan(wanted, visit); });
}

Row Table::ReadRow(RowId id, const std::vector<bool>& wanted) {
  return db_->Guard([&] { return reader_->ReadRow(id, wanted); });
}

const IndexInfo* Table::FindIndex(std::string_view name) const {
  for (const auto& i : indexes_)
    if (SameName(i.name, name)) return &i;
  return nullptr;
}

void Table::WalkIndex(const IndexInfo& index, const std::function<bool(RowId, const std::string&)>& visit) {
  db_->Guard([&] {
    try {
      jet::WalkIndex(db_->pager(), reader_->def().page, index.root_page,
                     [&](const IndexEntry& e) { return visit(MakeRowId(e.data_page, e.data_row), e.key); });
    } catch (const FormatError& e) {
      throw FormatError("index '" + index.name + "' of table '" + Name() + "': " + e.what());
    }
  });
}

std::vector<RowId> Table::IndexRowIds(const IndexInfo& index) {
  std::vector<RowId> ids;
  WalkIndex(index, [&](RowId id, const std::string&) {
    ids.push_back(id);
    return true;
  });
  return ids;
}

Database::Database(std::unique_ptr<os::File> file, const OpenOptions& options) {
  const std::string name = file->Path();
  try {
    pager_ = std::make_unique<Pager>(std::move(file), options.password);
    catalog_ = std::make_unique<Catalog>(*pager_);
  } catch (const FormatError& e) {
    throw Error(ErrorCode::Corrupt, "Database '" + name + "' is damaged: " + e.what());
  }
}

Database::~Database() = default;

std::unique_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options) {
  if (options.read_write)
    throw Error(ErrorCode::ReadOnly, "Database '" + path + "' can only be opened for reading in this version");
  return std::unique_ptr<Database>(new Database(os::OpenFile(path, os::OpenMode::ReadOnly), options));
}

std::unique_ptr<Database> Database::OpenBytes(std::string name, std::string bytes, const OpenOptions& options) {
  if (options.read_write)
    throw Error(ErrorCode::ReadOnly, "Database '" + name + "' can only be opened for reading in this version");
  return std::unique_ptr<Database>(new Database(os::MemoryFile(std::move(name), std::move(bytes)), options));
}

Table* Database::GetTable(std::string_view name) {
  const CatalogObject* object = catalog_->FindTable(name);
  if (object == nullptr) return nullptr;
  for (auto& t : tables_)
    if (t->definition().page == object->definition_page()) return t.get();
  return Guard([&] {
    std::unique_ptr<Table> t(new Table(this, catalog_->OpenTable(*object), object->is_system()));
    tables_.push_back(std::move(t));
    return tables_.back().get();
  });
}

std::vector<std::string> Database::TableNames(bool include_system) const {
  std::vector<std::string> names;
  for (const CatalogObject* o : catalog_->Tables(include_system)) names.push_back(o->name);
  return names;
}

const std::vector<RelationshipInfo>& Database::Relationships() {
  if (relationships_loaded_) return relationships_;
  std::vector<RelationshipDef> defs = Guard([&] { return catalog_->ReadRelationships(); });
  for (auto& d : defs) {
    RelationshipInfo r;
    r.name = d.name;
    r.primary_table = d.primary_table;
    r.primary_columns = d.primary_columns;
    r.foreign_table = d.foreign_table;
    r.foreign_columns = d.foreign_columns;
    r.enforced = d.enforced();
    r.cascade_updates = d.cascade_updates();
    r.cascade_deletes = d.cascade_deletes();
    relationships_.push_back(std::move(r));
  }
  relationships_loaded_ = true;
  return relationships_;
}

}  // namespace jet
