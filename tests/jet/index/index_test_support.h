#pragma once
// Helpers of the index editing tests: a page editor over a file held in memory, a checker
// of index trees that reads through that editor, and the indexes of a database file.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/format/index_page.h"
#include "jet/pager/page_editor.h"
#include "jet/pager/pager.h"
#include "jet/table_source.h"

namespace index_test {

// Pages of a database file in memory: reads come from the file (decrypted by a Pager) or
// from the copies writes made; freed pages are remembered and must not be touched again.
// Allocated pages start filled with junk.
class MemoryEditor : public jet::PageEditor {
 public:
  MemoryEditor(std::string bytes, const std::string& password = "");

  const jet::Format& format() const override { return pager_->format(); }
  jet::PageRef Read(std::uint32_t page_number) override;
  std::vector<std::uint8_t>& Write(std::uint32_t page_number) override;
  std::uint32_t Allocate() override;
  void Free(std::uint32_t page_number) override;

  const std::set<std::uint32_t>& freed() const { return freed_; }
  std::size_t allocated() const { return allocated_; }
  std::uint32_t original_pages() const { return original_pages_; }
  std::size_t writes() const { return writes_; }
  // Touches of freed pages and other misuse seen so far.
  const std::vector<std::string>& misuse() const { return misuse_; }
  // The file with every change applied (pages encrypted again where the file is).
  std::string Bytes() const;
  // A pager over Bytes().
  std::unique_ptr<jet::Pager> Reopen() const;

 private:
  std::string bytes_;
  std::string password_;
  std::unique_ptr<jet::Pager> pager_;
  std::map<std::uint32_t, std::shared_ptr<std::vector<std::uint8_t>>> changed_;
  std::set<std::uint32_t> freed_;
  std::uint32_t next_page_ = 0;
  std::uint32_t original_pages_ = 0;
  std::size_t allocated_ = 0;
  std::size_t writes_ = 0;
  std::vector<std::string> misuse_;
};

struct Leaf {
  std::string key;
  jet::RowId row = 0;
  bool operator==(const Leaf& o) const { return key == o.key && row == o.row; }
};

struct TreeReport {
  std::vector<Leaf> entries;        // in tree order
  std::set<std::uint32_t> pages;    // every page of the tree
  std::vector<std::uint32_t> leaves;  // leaf pages, left to right
  int levels = 0;
  std::vector<std::string> problems;  // empty when the tree is sound
};

// Walks the tree through the editor and checks: every page an index page of the table
// with a true free-space count; entries in strictly rising order of key and row; each
// node entry equal to the last entry of its child; tails only on the last page of a
// level and without an entry of their own; all leaves at one depth; every level chained
// through prev/next in tree order; no page reached twice; no empty page but the root.
TreeReport CheckTree(jet::PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page);

// The entries of the index as jet::WalkIndex reads them.
std::vector<Leaf> Walk(jet::Pager& pager, std::uint32_t table_page, std::uint32_t root_page);

// Writes a tree over `leaves` (each the entries of one leaf, all in order) onto new pages:
// leaves linked, node levels of at most `fanout` children, the last child of each level's
// last node kept as its tail. Returns the root page.
std::uint32_t BuildTree(MemoryEditor& editor, std::uint32_t table_page, const std::vector<std::vector<Leaf>>& leaves,
                        std::size_t fanout);

struct IndexRef {
  std::string table;
  std::string index;  // the first logical index over the physical one
  std::uint32_t table_page = 0;
  std::uint32_t root_page = 0;
  bool unique = false;
};

// Every physical index of every table (system tables too) of a database file.
std::vector<IndexRef> IndexesOf(const std::string& bytes, const std::string& password);

// The fixture files that hold indexes, and their passwords.
struct FixtureFile {
  std::string path;
  std::string password;
};
std::vector<FixtureFile> IndexFixtures();

std::string Hex(const std::string& s);

// The bytes entries sort by: the key, then the row pointer.
std::string SortBytes(const Leaf& l);
void SortEntries(std::vector<Leaf>* entries);
// The index `index` of `table`; throws std::runtime_error when there is none.
IndexRef FindIndex(const std::string& bytes, const std::string& table, const std::string& index);

// A database written once per test run by the engine's writer, with indexes deep enough
// to have several levels of node pages. Table "Event": ID Long (PrimaryKey), When
// Date/Time (index When), Path Text(120) (index Path: long keys, three levels), Group Long
// (index Group: many equal keys); and an empty table "Empty" with the same columns and
// indexes.
struct BigTreeFile {
  std::string bytes;
  std::size_t rows = 0;
};
const BigTreeFile& BigTree();

}  // namespace index_test
