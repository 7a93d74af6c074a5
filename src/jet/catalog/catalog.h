#pragma once
// The catalogue: MSysObjects (whose definition is always at page 2) lists every object
// of the database; tables among them, user or system, lead to their definitions.
// MSysRelationships holds the relationships, one row per column pair.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/text.h"
#include "jet/pager/pager.h"
#include "jet/table/table_reader.h"

namespace jet {

constexpr std::uint32_t kCatalogPage = 2;
constexpr std::int16_t kObjectTypeTable = 1;
// Flags that mark system tables in a catalogue entry.
constexpr std::uint32_t kObjectSystemFlags = 0x80000002u;

struct CatalogObject {
  std::int32_t id = 0;
  std::int32_t parent_id = 0;
  std::string name;
  std::int16_t type = 0;
  std::uint32_t flags = 0;

  std::uint32_t definition_page() const { return static_cast<std::uint32_t>(id) & 0x00FFFFFFu; }
  bool is_table() const { return type == kObjectTypeTable; }
  bool is_system() const { return (flags & kObjectSystemFlags) != 0; }
};

// DAO relation attributes kept in MSysRelationships.grbit.
constexpr std::uint32_t kRelationUnique = 0x1;
constexpr std::uint32_t kRelationDontEnforce = 0x2;
constexpr std::uint32_t kRelationUpdateCascade = 0x100;
constexpr std::uint32_t kRelationDeleteCascade = 0x1000;



class Catalog {
 public:
  // Reads MSysObjects. Throws FormatError when it cannot be read.
  explicit Catalog(Pager& pager);

  // Tables in catalogue order; system tables only when asked for.
  std::vector<const CatalogObject*> Tables(bool include_system) const;
  const CatalogObject* FindTable(std::string_view name) const;

  // A reader for a table of the catalogue (definition read and checked).
  std::unique_ptr<TableReader> OpenTable(const CatalogObject& table) const;

  // All relationships (empty when the database has no MSysRelationships).
  std::vector<RelationshipInfo> ReadRelationships() const;

 private:
  Pager* pager_;
  std::vector<CatalogObject> objects_;
};

}  // namespace jet
