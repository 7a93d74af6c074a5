#pragma once
// What a caller asks the writer to create: tables, their columns and indexes, and the
// relationships between tables.

#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::create {

struct ColumnSpec {
  std::string name;
  ColumnType type = ColumnType::Long;
  int length = 0;           // Text: maximum characters (1..255); ignored otherwise
  bool autonumber = false;  // Long only: NULL takes the next number
  bool compressed = true;   // Text and Memo: store with Unicode compression where it helps
};

struct IndexSpec {
  std::string name;
  std::vector<std::string> columns;
  std::vector<bool> descending;  // empty, or one flag per column
  bool primary = false;          // implies unique and required
  bool unique = false;
  bool required = false;         // no NULL in any key column
  bool ignore_nulls = false;
};

struct RelationshipSpec {
  std::string name;  // empty: parent table name followed by child table name
  std::string parent_table;
  std::vector<std::string> parent_columns;
  std::string child_table;
  std::vector<std::string> child_columns;
  bool enforced = true;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

}  // namespace jet::create
