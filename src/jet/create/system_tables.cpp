#include "jet/create/system_tables.h"

namespace jet::create {
namespace {

ColumnSpec Col(const char* name, ColumnType type, int length = 0) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.compressed = false;  // Jet keeps catalogue text uncompressed
  return c;
}

IndexSpec Idx(const char* name, std::vector<std::string> columns) {
  IndexSpec i;
  i.name = name;
  i.columns = std::move(columns);
  return i;
}

// The security identifiers Jet writes into a new database: the engine's own objects
// and the creating user.
const std::string kEngineSid("\x65\x89", 2);
const std::string kCreatorSid("\x64\x8b", 2);
const std::string kAdminsSid("\x65\x8e", 2);
const std::string kUsersSid("\x65\x8b", 2);

}  // namespace

std::vector<SystemTableSpec> SystemTables() {
  using T = ColumnType;
  std::vector<SystemTableSpec> out;

  SystemTableSpec objects;
  objects.name = "MSysObjects";
  objects.columns = {Col("Id", T::Long),          Col("ParentId", T::Long),      Col("Name", T::Text, 255),
                     Col("Type", T::Integer),     Col("DateCreate", T::DateTime), Col("DateUpdate", T::DateTime),
                     Col("Owner", T::Binary, 255), Col("Flags", T::Long),         Col("Database", T::Memo),
                     Col("Connect", T::Memo),     Col("ForeignName", T::Text, 255), Col("RmtInfoShort", T::Binary, 255),
                     Col("RmtInfoLong", T::Ole),  Col("Lv", T::Ole),             Col("LvProp", T::Ole),
                     Col("LvModule", T::Ole),     Col("LvExtra", T::Ole)};
  IndexSpec parent_name = Idx("ParentIdName", {"ParentId", "Name"});
  parent_name.unique = true;
  IndexSpec id = Idx("Id", {"Id"});
  id.primary = true;
  objects.indexes = {parent_name, id};
  out.push_back(objects);

  SystemTableSpec aces;
  aces.name = "MSysACEs";
  aces.columns = {Col("ObjectId", T::Long), Col("SID", T::Binary, 255), Col("ACM", T::Long),
                  Col("FInheritable", T::Boolean)};
  IndexSpec object_id = Idx("ObjectId", {"ObjectId"});
  object_id.required = true;
  aces.indexes = {object_id};
  out.push_back(aces);

  SystemTableSpec queries;
  queries.name = "MSysQueries";
  queries.columns = {Col("ObjectId", T::Long),  Col("Attribute", T::Byte),  Col("Order", T::Binary, 255),
                     Col("Name1", T::Text, 255), Col("Name2", T::Text, 255), Col("Expression", T::Memo),
                     Col("Flag", T::Integer),    Col("LvExtra", T::Long)};
  IndexSpec query_key = Idx("ObjectIdAttribute", {"ObjectId", "Attribute", "Order"});
  query_key.primary = true;
  queries.indexes = {query_key};
  out.push_back(queries);

  SystemTableSpec relationships;
  relationships.name = "MSysRelationships";
  relationships.columns = {Col("szRelationship", T::Text, 255), Col("grbit", T::Long),
                           Col("ccolumn", T::Long),              Col("icolumn", T::Long),
                           Col("szObject", T::Text, 255),        Col("szColumn", T::Text, 255),
                           Col("szReferencedObject", T::Text, 255), Col("szReferencedColumn", T::Text, 255)};
  for (const char* name : {"szObject", "szReferencedObject", "szRelationship"}) {
    IndexSpec i = Idx(name, {name});
    i.ignore_nulls = true;
    relationships.indexes.push_back(i);
  }
  out.push_back(relationships);
  return out;
}

Row ObjectRow(std::int32_t id, std::int32_t parent, const std::string& name, std::int16_t type, double created,
              bool engine_owned, std::int32_t flags) {
  Row row(17);
  row[0] = Value::Int(id);
  row[1] = Value::Int(parent);
  row[2] = Value::Str(name);
  row[3] = Value::Int(type);
  row[4] = Value::DateValue(created);
  row[5] = Value::DateValue(created);
  row[6] = Value::Bytes(engine_owned ? kEngineSid : kCreatorSid);
  row[7] = Value::Int(flags);
  return row;
}

std::vector<Row> StandardObjectRows(double created) {
  using namespace catalogue;
  std::vector<Row> rows;
  rows.push_back(ObjectRow(kTablesId, kRootId, "Tables", kTypeContainer, created, true, kSystemFlag));
  rows.push_back(ObjectRow(kDatabasesId, kRootId, "Databases", kTypeContainer, created, true, kSystemFlag));
  rows.push_back(ObjectRow(kRelationshipsId, kRootId, "Relationships", kTypeContainer, created, true, kSystemFlag));
  rows.push_back(ObjectRow(kMSysDbId, kDatabasesId, "MSysDb", kTypeDatabase, created, false, kSystemFlag));
  const char* names[] = {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};
  for (int k = 0; k < 4; ++k) {
    rows.push_back(ObjectRow(2 + k, kTablesId, names[k], kTypeTable, created, true, kSystemFlag));
  }
  return rows;
}

std::vector<Row> DefaultAccessControlRows() {
  using namespace catalogue;
  struct Ace {
    std::int32_t object;
    const std::string* sid;
    std::int32_t rights;
    bool inheritable;
  };
  const Ace aces[] = {
      {2, &kCreatorSid, 393216, false},         {3, &kCreatorSid, 393216, false},
      {4, &kCreatorSid, 393216, false},         {5, &kCreatorSid, 917504, false},
      {kTablesId, &kAdminsSid, 983294, true},   {kTablesId, &kCreatorSid, 393217, false},
      {kRelationshipsId, &kAdminsSid, 983294, true}, {kRelationshipsId, &kCreatorSid, 393217, false},
      {kDatabasesId, &kCreatorSid, 393216, false}, {kMSysDbId, &kCreatorSid, 393230, false},
      {kMSysDbId, &kUsersSid, 14, false},       {4, &kUsersSid, 20, false},
      {5, &kUsersSid, 20, false},               {2, &kUsersSid, 20, false},
      {kTablesId, &kUsersSid, 1048319, true},   {kRelationshipsId, &kUsersSid, 1048575, true},
  };
  std::vector<Row> rows;
  for (const Ace& a : aces) {
    rows.push_back({Value::Int(a.object), Value::Bytes(*a.sid), Value::Int(a.rights), Value::Bool(a.inheritable)});
  }
  return rows;
}

}  // namespace jet::create
