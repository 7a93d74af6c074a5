#pragma once
// The table definition ("tdef") of a Jet 4 table: header, per-index row counts, column
// entries and names, real (physical) index entries, logical index entries and names, and
// the usage maps of long-value columns. Longer definitions continue on further pages.

#include <cstdint>
#include <string>
#include <vector>

#include "jet/create/page_store.h"
#include "jet/create/schema.h"

namespace jet::create {

struct NewRealIndex {
  std::vector<std::pair<std::uint16_t, bool>> columns;  // column number, ascending
  std::uint32_t usage_map = 0;  // row pointer of the index's usage map
  std::uint32_t root = 0;
  std::uint8_t flags = 0x80;    // 0x01 unique, 0x02 ignore nulls, 0x08 required
  std::uint32_t rows = 0;
};


struct NewLogicalIndex {
  std::string name;
  std::uint32_t number = 0;
  std::uint32_t real = 0;
  std::uint8_t kind = 0;  // 1 primary key, 2 foreign key (one side of a relationship)
  std::uint8_t related_table_kind = 0;  // 1 on the referenced side, 2 on the referring side
  std::int32_t related_index = -1;
  std::uint32_t related_tdef = 0;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

struct LongValueMaps {
  std::uint16_t column = 0;
  std::uint32_t used = 0, free = 0;  // row pointers
};

struct NewTableDef {
  std::string name;
  bool system = false;
  TableLayout layout;
  std::uint32_t rows = 0;
  std::uint32_t last_autonumber = 0;
  std::uint32_t used_map = 0, free_map = 0;
  std::vector<NewRealIndex> real_indexes;
  std::vector<NewLogicalIndex> logical_indexes;
  std::vector<LongValueMaps> long_value_maps;
};

// The definition as one byte string, starting with the 8-byte page header of its first page.
std::string SerializeTableDefinition(const NewTableDef& def);

// Writes the definition to `first_page`, continuing on newly allocated pages as needed.
void StoreTableDefinition(const std::string& bytes, std::uint32_t first_page, PageStore* store);

}  // namespace jet::create
