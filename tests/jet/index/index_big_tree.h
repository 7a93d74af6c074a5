#pragma once
// A database written once per test run by the engine's writer, with indexes deep enough
// to have several levels of node pages.

#include <cstddef>
#include <string>

namespace index_test {

struct BigTreeFile {
  std::string bytes;
  std::size_t rows = 0;
};

// Table "Event": ID Long (PrimaryKey), When Date/Time (index When), Path Text(120)
// (index Path: long keys, three levels), Group Long (index Group: many equal keys); and
// an empty table "Empty" with the same columns and indexes.
const BigTreeFile& BigTree();

}  // namespace index_test
