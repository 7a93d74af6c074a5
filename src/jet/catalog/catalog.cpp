#include "jet/catalog/catalog.h"

#include <algorithm>
#include <map>

namespace jet {
namespace {

int FindColumn(const TableDef& def, std::string_view name) {
  for (std::size_t i = 0; i < def.columns.size(); ++i)
    if (SameName(def.columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::int64_t IntOr(const Row& row, int i, std::int64_t fallback) {
  if (i < 0 || row[static_cast<std::size_t>(i)].kind != Value::Kind::Integer) return fallback;
  return row[static_cast<std::size_t>(i)].i;
}

std::string TextOr(const Row& row, int i) {
  if (i < 0 || row[static_cast<std::size_t>(i)].kind != Value::Kind::Text) return {};
  return row[static_cast<std::size_t>(i)].s;
}

}  // namespace

Catalog::Catalog(Pager& pager) : pager_(&pager) {
  TableReader objects(pager, "MSysObjects", ReadTableDef(pager, kCatalogPage));
  const TableDef& def = objects.def();
  int id = FindColumn(def, "Id"), parent = FindColumn(def, "ParentId"), name = FindColumn(def, "Name"),
      type = FindColumn(def, "Type"), flags = FindColumn(def, "Flags");
  if (id < 0 || name < 0 || type < 0) ThrowCorrupt("the catalogue (MSysObjects) lacks its Id, Name or Type column");
  std::vector<bool> wanted(def.columns.size(), false);
  for (int c : {id, parent, name, type, flags})
    if (c >= 0) wanted[static_cast<std::size_t>(c)] = true;
  objects.Scan(wanted, [&](RowId, const Row& row) {
    CatalogObject o;
    o.id = static_cast<std::int32_t>(IntOr(row, id, 0));
    o.parent_id = static_cast<std::int32_t>(IntOr(row, parent, 0));
    o.name = TextOr(row, name);
    o.type = static_cast<std::int16_t>(IntOr(row, type, 0));
    o.flags = static_cast<std::uint32_t>(IntOr(row, flags, 0));
    objects_.push_back(std::move(o));
    return true;
  });
}

std::vector<const CatalogObject*> Catalog::Tables(bool include_system) const {
  std::vector<const CatalogObject*> out;
  for (const auto& o : objects_)
    if (o.is_table() && (include_system || !o.is_system())) out.push_back(&o);
  return out;
}

const CatalogObject* Catalog::FindTable(std::string_view name) const {
  for (const auto& o : objects_)
    if (o.is_table() && SameName(o.name, name)) return &o;
  return nullptr;
}

std::unique_ptr<TableReader> Catalog::OpenTable(const CatalogObject& table) const {
  try {
    return std::make_unique<TableReader>(*pager_, table.name, ReadTableDef(*pager_, table.definition_page()));
  } catch (const FormatError& e) {
    throw FormatError("table '" + table.name + "': " + e.what());
  }
}

std::vector<RelationshipInfo> Catalog::ReadRelationships() const {
  std::vector<RelationshipInfo> out;
  const CatalogObject* rel = FindTable("MSysRelationships");
  if (rel == nullptr) return out;
  auto reader = OpenTable(*rel);
  const TableDef& def = reader->def();
  int grbit = FindColumn(def, "grbit"), icolumn = FindColumn(def, "icolumn"), column = FindColumn(def, "szColumn"),
      object = FindColumn(def, "szObject"), ref_column = FindColumn(def, "szReferencedColumn"),
      ref_object = FindColumn(def, "szReferencedObject"), name = FindColumn(def, "szRelationship");
  if (name < 0 || object < 0 || ref_object < 0) return out;

  struct Part {
    std::int64_t position;
    std::string column, ref_column;
  };
  std::map<std::string, std::pair<RelationshipInfo, std::vector<Part>>> by_name;
  std::vector<std::string> order;
  reader->Scan({}, [&](RowId, const Row& row) {
    std::string n = TextOr(row, name);
    auto [it, fresh] = by_name.try_emplace(n);
    if (fresh) {
      order.push_back(n);
      it->second.first.name = n;
      it->second.first.foreign_table = TextOr(row, object);
      it->second.first.primary_table = TextOr(row, ref_object);
      const auto flags = static_cast<std::uint32_t>(IntOr(row, grbit, 0));
      it->second.first.enforced = (flags & kRelationDontEnforce) == 0;
      it->second.first.cascade_updates = (flags & kRelationUpdateCascade) != 0;
      it->second.first.cascade_deletes = (flags & kRelationDeleteCascade) != 0;
    }
    it->second.second.push_back({IntOr(row, icolumn, 0), TextOr(row, column), TextOr(row, ref_column)});
    return true;
  });
  for (const auto& n : order) {
    auto& [r, parts] = by_name[n];
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.position < b.position; });
    for (const auto& p : parts) {
      r.foreign_columns.push_back(p.column);
      r.primary_columns.push_back(p.ref_column);
    }
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace jet
