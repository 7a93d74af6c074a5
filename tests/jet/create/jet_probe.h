#pragma once
// A small reader of Jet 4 files for the writer's tests: it knows only what the tests need
// (table definitions, usage maps, rows of fixed and text columns, index pages) and checks
// the index trees it walks, independently of the engine's own reader.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace jet_probe {

struct Column {
  std::string name;
  int type = 0;
  int number = 0;
  bool fixed = false;
  int fixed_offset = 0;
  int var_index = 0;
  int length = 0;
};

struct RealIndex {
  std::vector<std::pair<int, bool>> columns;  // column number, ascending
  std::uint32_t root = 0;
  std::uint8_t flags = 0;
  std::uint32_t used_map = 0;
};

struct LogicalIndex {
  std::string name;
  int number = 0, real = 0, kind = 0, related_kind = 0, related_index = -1;
  std::uint32_t related_tdef = 0;
};

struct TableDef {
  std::uint32_t page = 0;
  std::uint32_t rows = 0;
  std::uint32_t autonumber = 0;
  int type = 0;
  int var_count = 0;
  std::vector<Column> columns;  // in column-number order
  std::vector<RealIndex> real;
  std::vector<LogicalIndex> logical;
  std::uint32_t used_map = 0;
};

struct StoredRow {
  std::uint32_t page = 0;
  int slot = 0;
  std::string bytes;
};

// A decoded field: nullopt for NULL; integers, doubles (dates), text (UTF-8) as strings.
using Field = std::optional<std::string>;

struct IndexEntry {
  std::string key;  // without the row pointer
  std::uint32_t page = 0;
  int slot = 0;
};

struct IndexWalk {
  std::vector<IndexEntry> entries;  // leaf entries in tree order
  int levels = 0;
  int pages = 0;
  std::vector<std::string> problems;  // empty when the tree is sound
};

class File {
 public:
  explicit File(const std::string& path);  // throws std::runtime_error
  std::uint32_t PageCount() const { return static_cast<std::uint32_t>(data_.size() / 4096); }
  const std::uint8_t* Page(std::uint32_t n) const;
  TableDef Definition(std::uint32_t tdef_page) const;
  // The table definition page of a user or system table, found through MSysObjects.
  std::uint32_t TablePage(const std::string& name) const;
  std::vector<std::uint32_t> MapPages(std::uint32_t row_pointer) const;
  std::vector<StoredRow> Rows(const TableDef& t) const;
  Field Decode(const TableDef& t, const StoredRow& row, const std::string& column) const;
  IndexWalk Walk(const TableDef& t, const RealIndex& idx) const;
  std::string RowBytes(std::uint32_t page, int slot) const;

 private:
  std::string data_;
};

}  // namespace jet_probe
