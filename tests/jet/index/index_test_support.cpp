#include "index_test_support.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>
#include <filesystem>
#include <functional>
#include <optional>
#include <unordered_set>

#include "../support.h"
#include "jet/catalog/catalog.h"
#include "jet/create/database_writer.h"
#include "jet/format/table_def.h"
#include "jet/format/header.h"
#include "jet/index/index_edit.h"
#include "jet/index/index_walk.h"
#include "jet/os/env.h"
#include "jet/table/table_reader.h"

namespace index_test {

MemoryEditor::MemoryEditor(std::string bytes, const std::string& password)
    : bytes_(std::move(bytes)), password_(password) {
  pager_ = std::make_unique<jet::Pager>(jet::os::MemoryFile("edited.mdb", bytes_), password_);
  next_page_ = pager_->page_count();
  original_pages_ = next_page_;
}

jet::PageRef MemoryEditor::Read(std::uint32_t n) {
  if (freed_.count(n) != 0) misuse_.push_back("read of freed page " + std::to_string(n));
  auto it = changed_.find(n);
  if (it != changed_.end()) return it->second;  // later writes show through, as they would in the pager
  return pager_->Read(n);
}

std::vector<std::uint8_t>& MemoryEditor::Write(std::uint32_t n) {
  if (freed_.count(n) != 0) misuse_.push_back("write of freed page " + std::to_string(n));
  if (n == 0) misuse_.push_back("write of the header page");
  ++writes_;
  auto it = changed_.find(n);
  if (it != changed_.end()) return *it->second;
  jet::PageRef p = pager_->Read(n);
  return *changed_.emplace(n, std::make_shared<std::vector<std::uint8_t>>(*p)).first->second;
}

std::uint32_t MemoryEditor::Allocate() {
  std::uint32_t n = next_page_++;
  ++allocated_;
  // Filled with junk, like a reused page that was not cleared: nothing may depend on zeros.
  changed_.emplace(n, std::make_shared<std::vector<std::uint8_t>>(pager_->page_size(), 0xA5));
  return n;
}

void MemoryEditor::Free(std::uint32_t n) {
  if (!freed_.insert(n).second) misuse_.push_back("page " + std::to_string(n) + " freed twice");
}

std::string MemoryEditor::Bytes() const {
  std::string out = bytes_;
  const std::size_t size = pager_->page_size();
  out.resize(static_cast<std::size_t>(next_page_) * size, '\0');
  const std::uint32_t key = pager_->header().database_key;
  for (const auto& [n, page] : changed_) {
    std::vector<std::uint8_t> copy = *page;
    if (key != 0) jet::CryptPage(key, n, copy.data(), copy.size());
    std::memcpy(out.data() + static_cast<std::size_t>(n) * size, copy.data(), size);
  }
  return out;
}

std::unique_ptr<jet::Pager> MemoryEditor::Reopen() const {
  return std::make_unique<jet::Pager>(jet::os::MemoryFile("edited.mdb", Bytes()), password_);
}

std::string SortBytes(const Leaf& l) {
  std::string s = l.key;
  std::uint32_t page = jet::RowIdPage(l.row);
  s.push_back(static_cast<char>(page >> 16));
  s.push_back(static_cast<char>(page >> 8));
  s.push_back(static_cast<char>(page));
  s.push_back(static_cast<char>(jet::RowIdSlot(l.row)));
  return s;
}

void SortEntries(std::vector<Leaf>* v) {
  std::sort(v->begin(), v->end(), [](const Leaf& a, const Leaf& b) { return SortBytes(a) < SortBytes(b); });
}

IndexRef FindIndex(const std::string& bytes, const std::string& table, const std::string& index) {
  for (const auto& r : IndexesOf(bytes, ""))
    if (r.table == table && r.index == index) return r;
  throw std::runtime_error("no index " + table + "." + index);
}

namespace {

class Checker {
 public:
  Checker(jet::PageEditor& editor, std::uint32_t table) : ed_(editor), table_(table) {}

  TreeReport Run(std::uint32_t root) {
    std::optional<Leaf> last;
    Visit(root, 0, true, &last);
    for (std::size_t k = 1; k < report_.entries.size(); ++k) {
      if (SortBytes(report_.entries[k - 1]) >= SortBytes(report_.entries[k])) {
        Problem("entries out of order at position " + std::to_string(k));
        break;
      }
    }
    for (auto& [height, pages] : levels_) {
      for (std::size_t k = 0; k < pages.size(); ++k) {
        std::uint32_t want_prev = k > 0 ? pages[k - 1] : 0;
        std::uint32_t want_next = k + 1 < pages.size() ? pages[k + 1] : 0;
        const auto& links = links_[pages[k]];
        if (links.first != want_prev || links.second != want_next)
          Problem("page " + std::to_string(pages[k]) + " links to " + std::to_string(links.first) + "/" +
                  std::to_string(links.second) + " instead of " + std::to_string(want_prev) + "/" +
                  std::to_string(want_next));
      }
      if (height == 0) report_.leaves = pages;
    }
    return std::move(report_);
  }

 private:
  void Problem(const std::string& s) {
    if (report_.problems.size() < 20) report_.problems.push_back(s);
  }

  // Returns the height of the subtree (leaves 0) and sets *last to its last entry.
  int Visit(std::uint32_t number, int depth, bool root, std::optional<Leaf>* last) {
    if (depth > 40 || !report_.pages.insert(number).second) {
      Problem("page " + std::to_string(number) + " reached twice or too deep");
      return 0;
    }
    report_.levels = std::max(report_.levels, depth + 1);
    jet::PageRef ref = ed_.Read(number);
    const jet::Format& f = ed_.format();
    jet::IndexPage page;
    try {
      page = jet::ParseIndexPage(jet::ViewOf(ref), number, f);
    } catch (const jet::Error& e) {
      Problem(e.what());
      return 0;
    }
    if (page.owner != table_) Problem("page " + std::to_string(number) + " names another table");
    std::size_t end = 0;
    for (std::size_t bit = 0; bit < (f.index_entries - f.index_bitmap) * 8; ++bit)
      if ((*ref)[f.index_bitmap + bit / 8] & (1u << (bit % 8))) end = bit;
    std::size_t free_space = (*ref)[2] | ((*ref)[3] << 8);
    if (free_space != f.page_size - f.index_entries - end)
      Problem("page " + std::to_string(number) + " records " + std::to_string(free_space) + " bytes free, not " +
              std::to_string(f.page_size - f.index_entries - end));
    links_[number] = {page.prev_page, page.next_page};
    if (!root && page.entries.empty() && page.tail_page == 0) Problem("page " + std::to_string(number) + " is empty");
    if (page.leaf) {
      if (page.tail_page != 0) Problem("leaf " + std::to_string(number) + " has a tail");
      for (const auto& e : page.entries) report_.entries.push_back({e.key, jet::MakeRowId(e.data_page, e.data_row)});
      if (!page.entries.empty()) *last = report_.entries.back();
      levels_[0].push_back(number);
      return 0;
    }
    int height = -1;
    auto child = [&](std::uint32_t c, const jet::IndexEntry* entry) {
      std::optional<Leaf> child_last;
      int h = Visit(c, depth + 1, false, &child_last);
      if (height >= 0 && h != height) Problem("leaves of page " + std::to_string(number) + " lie at different depths");
      height = h;
      if (entry != nullptr) {
        Leaf want{entry->key, jet::MakeRowId(entry->data_page, entry->data_row)};
        if (!child_last || !(*child_last == want))
          Problem("node entry on page " + std::to_string(number) + " is not the last entry of child " +
                  std::to_string(c));
      }
      if (child_last) *last = child_last;
    };
    for (const auto& e : page.entries) child(e.child_page, &e);
    if (page.tail_page != 0) {
      if (page.next_page != 0) Problem("node " + std::to_string(number) + " has a tail but is not last on its level");
      child(page.tail_page, nullptr);
    }
    height += 1;
    levels_[height].push_back(number);
    return height;
  }

  jet::PageEditor& ed_;
  std::uint32_t table_;
  TreeReport report_;
  std::map<int, std::vector<std::uint32_t>> levels_;
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> links_;
};

}  // namespace

TreeReport CheckTree(jet::PageEditor& editor, std::uint32_t table_page, std::uint32_t root_page) {
  return Checker(editor, table_page).Run(root_page);
}

std::vector<Leaf> Walk(jet::Pager& pager, std::uint32_t table_page, std::uint32_t root_page) {
  std::vector<Leaf> out;
  jet::WalkIndex(pager, table_page, root_page, [&](const jet::IndexEntry& e) {
    out.push_back({e.key, jet::MakeRowId(e.data_page, e.data_row)});
    return true;
  });
  return out;
}

std::uint32_t BuildTree(MemoryEditor& ed, std::uint32_t table_page, const std::vector<std::vector<Leaf>>& leaves,
                        std::size_t fanout) {
  struct Child {
    std::uint32_t page;
    Leaf last;
  };
  auto entry = [](const Leaf& l, std::uint32_t child) {
    jet::IndexEntry e;
    e.key = l.key;
    e.data_page = jet::RowIdPage(l.row);
    e.data_row = jet::RowIdSlot(l.row);
    e.child_page = child;
    return e;
  };
  std::vector<jet::IndexPage> pages;
  std::vector<std::uint32_t> numbers;
  std::vector<Child> level;
  for (const auto& run : leaves) {
    jet::IndexPage p;
    p.owner = table_page;
    for (const auto& l : run) p.entries.push_back(entry(l, 0));
    pages.push_back(std::move(p));
    numbers.push_back(ed.Allocate());
    level.push_back({numbers.back(), run.back()});
  }
  auto flush = [&]() {
    for (std::size_t k = 0; k < pages.size(); ++k) {
      pages[k].prev_page = k > 0 ? numbers[k - 1] : 0;
      pages[k].next_page = k + 1 < pages.size() ? numbers[k + 1] : 0;
      pages[k].prefix_length = jet::CommonIndexPrefix(pages[k].entries, ed.format());
      jet::EncodeIndexPage(pages[k], ed.format(), ed.Write(numbers[k]).data());
    }
    pages.clear();
    numbers.clear();
  };
  flush();
  while (level.size() > 1) {
    std::vector<Child> up;
    for (std::size_t begin = 0; begin < level.size(); begin += fanout) {
      std::size_t end = std::min(level.size(), begin + fanout);
      jet::IndexPage p;
      p.leaf = false;
      p.owner = table_page;
      bool last_node = end == level.size();
      for (std::size_t k = begin; k < end; ++k) {
        if (last_node && k + 1 == end && end - begin >= 2) p.tail_page = level[k].page;
        else p.entries.push_back(entry(level[k].last, level[k].page));
      }
      pages.push_back(std::move(p));
      numbers.push_back(ed.Allocate());
      up.push_back({numbers.back(), level[end - 1].last});
    }
    flush();
    level = std::move(up);
  }
  return level.front().page;
}

std::vector<IndexRef> IndexesOf(const std::string& bytes, const std::string& password) {
  // Definitions read directly: some system tables have columns the row reader refuses,
  // but their indexes are ordinary.
  jet::Pager pager(jet::os::MemoryFile("fixture.mdb", bytes), password);
  jet::Catalog catalog(pager);
  std::vector<IndexRef> out;
  for (const jet::CatalogObject* table : catalog.Tables(true)) {
    jet::TableDef def;
    try {
      def = jet::ReadTableDef(pager, table->definition_page());
    } catch (const jet::Error&) {
      continue;
    }
    for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
      IndexRef ref;
      ref.table = table->name;
      ref.table_page = def.page;
      ref.root_page = def.real_indexes[r].root_page;
      ref.unique = (def.real_indexes[r].flags & 0x01) != 0;
      for (const auto& l : def.indexes)
        if (l.real_index == r) {
          ref.index = l.name;
          break;
        }
      if (ref.root_page != 0) out.push_back(ref);
    }
  }
  return out;
}

std::vector<FixtureFile> IndexFixtures() {
  auto dir = jet::testing::FixturesDir();
  std::vector<FixtureFile> out;
  for (const char* name : {"access/compIndexTestV2000.mdb", "access/compIndexTestV1997.mdb", "access/indexTestV1997.mdb",
                           "access/indexTestV2000.mdb", "access/indexTestV2003.mdb", "access/testV1997.mdb",
                           "access/test2V2000.mdb", "access/delTestV2003.mdb", "site-small/Journal.mdb",
                           "site-ri/Journal.mdb"})
    out.push_back({(dir / name).string(), ""});
  for (const char* name : {"site-small/Orvanta.mdb", "site-ri/Orvanta.mdb"})
    out.push_back({(dir / name).string(), "Morvek3"});
  return out;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

namespace {

jet::create::ColumnSpec BigCol(const char* name, jet::ColumnType type, int length = 0) {
  jet::create::ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

jet::create::IndexSpec BigIdx(const char* name, const char* column, bool primary = false) {
  jet::create::IndexSpec i;
  i.name = name;
  i.columns = {column};
  i.primary = primary;
  i.unique = primary;
  return i;
}

BigTreeFile Build() {
  BigTreeFile out;
  out.rows = 12000;
  jet::testing::TempDir dir;
  std::string path = (dir.path() / "big.mdb").string();
  jet::create::DatabaseWriter db;
  std::vector<jet::create::ColumnSpec> columns = {BigCol("ID", jet::ColumnType::Long), BigCol("When", jet::ColumnType::DateTime),
                                                  BigCol("Path", jet::ColumnType::Text, 120),
                                                  BigCol("Group", jet::ColumnType::Long)};
  std::vector<jet::create::IndexSpec> indexes = {BigIdx("PrimaryKey", "ID", true), BigIdx("When", "When"), BigIdx("Path", "Path"),
                                                 BigIdx("Group", "Group")};
  auto& t = db.AddTable("Event", columns, indexes);
  db.AddTable("Empty", columns, indexes);
  std::mt19937 gen(5);
  for (std::size_t k = 0; k < out.rows; ++k) {
    std::string path_text;
    for (int n = 0; n < 10; ++n) path_text += "/" + std::to_string(gen() % 10000000);
    t.Append({jet::Value::Int(static_cast<int>(k) * 2 + 1), jet::Value::DateValue(40000.0 + static_cast<double>(k) / 97.0),
              jet::Value::Str(path_text), jet::Value::Int(static_cast<int>(gen() % 30))});
  }
  db.Write(path);
  out.bytes = jet::testing::ReadAll(path);
  return out;
}

}  // namespace

const BigTreeFile& BigTree() {
  static const BigTreeFile file = Build();
  return file;
}

}  // namespace index_test
