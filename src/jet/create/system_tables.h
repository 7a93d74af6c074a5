#pragma once
// The system tables Jet itself creates for an empty database (MSysObjects, MSysACEs,
// MSysQueries, MSysRelationships), their columns and indexes as Jet defines them, and the
// standard catalogue rows: the Tables, Databases and Relationships containers, the MSysDb
// object, the system tables themselves and the default permissions.

#include <cstdint>
#include <string>
#include <vector>

#include "jet/schema.h"
#include "jet/value.h"

namespace jet::create {

struct SystemTableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
};

// In page order: MSysObjects (whose definition is always page 2), MSysACEs, MSysQueries,
// MSysRelationships.
std::vector<SystemTableSpec> SystemTables();

namespace catalogue {
inline constexpr std::int32_t kRootId = 0x0F000000;
inline constexpr std::int32_t kTablesId = 0x0F000001;
inline constexpr std::int32_t kDatabasesId = 0x0F000002;
inline constexpr std::int32_t kRelationshipsId = 0x0F000003;
inline constexpr std::int32_t kMSysDbId = 0x10000000;
inline constexpr std::int32_t kSystemFlag = static_cast<std::int32_t>(0x80000000u);
inline constexpr std::int16_t kTypeTable = 1;
inline constexpr std::int16_t kTypeDatabase = 2;
inline constexpr std::int16_t kTypeContainer = 3;
inline constexpr std::int16_t kTypeRelationship = 8;
// Relationship flags in MSysRelationships.grbit.
inline constexpr std::int32_t kNotEnforced = 0x00000002;
inline constexpr std::int32_t kCascadeUpdates = 0x00000100;
inline constexpr std::int32_t kCascadeDeletes = 0x00001000;
}  // namespace catalogue

// One MSysObjects row, in the table's column order.
Row ObjectRow(std::int32_t id, std::int32_t parent, const std::string& name, std::int16_t type, double created,
              bool engine_owned, std::int32_t flags);

// The rows of the catalogue that do not depend on user objects (containers, MSysDb, the
// system tables; the system tables' definitions are pages 2 to 5).
std::vector<Row> StandardObjectRows(double created);

// The default permissions of a new database.
std::vector<Row> DefaultAccessControlRows();

}  // namespace jet::create
