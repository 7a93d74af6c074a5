#pragma once
// Helpers of the index tests: a database with indexes deep enough to have several levels
// of node pages, and the trees of a database's indexes as the engine's check sees them.

#include <cstdint>
#include <set>
#include <string>

#include "../support.h"
#include "jet/database/database_internal.h"
#include "jet/format/index_page.h"
#include "jet/index/index_check.h"

namespace index_test {

// Written once per run by the engine's writer. Table "Event" of kBigTreeRows rows: ID Long
// (index PrimaryKey), When Date/Time (index When), Path Text(120) (index Path: long keys,
// three levels), Group Long (index Group: 30 values, many equal keys, NULL left out);
// table "Empty" with the same columns and indexes.
constexpr int kBigTreeRows = 12000;
// A writable copy of that file in `dir`.
std::string BigTreeCopy(const jet::testing::TempDir& dir);
inline const jet::OpenOptions kWritable{.password = "", .read_write = true};

// A row of those tables: the path is random and long.
jet::Row BigTreeRow(int id, double when, int group, std::uint32_t seed);

// The tree of `index` of `table`, checked by the engine.
jet::IndexTreeReport Tree(jet::Database& db, const std::string& table, const std::string& index);
jet::IndexPage Page(jet::Database& db, std::uint32_t page);

// Expects the page maps of the table's indexes to claim exactly the pages of their trees:
// a page a tree gave up was released. (Only where the free-page map reaches every page:
// the engine keeps a page it cannot mark free claimed.) Returns the claimed pages.
std::set<std::uint32_t> ExpectMapsMatchTrees(jet::Database& db, const std::string& table);

}  // namespace index_test
