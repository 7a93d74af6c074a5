#include "index_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "jet/database_writer.h"
#include "jet/page/usage_map.h"

namespace index_test {

jet::Row BigTreeRow(int id, double when, int group, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string path;
  for (int n = 0; n < 10; ++n) path += "/" + std::to_string(gen() % 10000000);
  return {jet::Value::Int(id), jet::Value::DateValue(when), jet::Value::Str(path), jet::Value::Int(group)};
}

std::string BigTreeCopy(const jet::testing::TempDir& dir) {
  static const std::string bytes = [] {
    jet::testing::TempDir build;
    const std::string path = (build.path() / "big.mdb").string();
    jet::create::DatabaseWriter db;
    using jet::ColumnType;
    const std::vector<jet::create::ColumnSpec> columns = {
        {"ID", ColumnType::Long}, {"When", ColumnType::DateTime}, {"Path", ColumnType::Text, 120}, {"Group", ColumnType::Long}};
    std::vector<jet::create::IndexSpec> indexes(4);
    for (std::size_t k = 0; k < 4; ++k) {
      indexes[k].name = columns[k].name;
      indexes[k].columns = {columns[k].name};
    }
    indexes[0].name = "PrimaryKey";
    indexes[0].primary = true;
    indexes[3].ignore_nulls = true;
    auto& t = db.AddTable("Event", columns, indexes);
    db.AddTable("Empty", columns, indexes);
    for (int k = 0; k < kBigTreeRows; ++k)
      t.Append(BigTreeRow(2 * k + 1, 40000.0 + k / 97.0, static_cast<int>((k * 7919) % 30), static_cast<std::uint32_t>(k)));
    db.Write(path);
    return jet::testing::ReadAll(path);
  }();
  const std::string path = (dir.path() / "big.mdb").string();
  jet::testing::WriteAll(path, bytes);
  return path;
}

jet::IndexTreeReport Tree(jet::Database& db, const std::string& table, const std::string& index) {
  jet::Table* t = db.GetTable(table);
  const jet::IndexInfo* info = t->FindIndex(index);
  if (info == nullptr) throw std::runtime_error("no index " + table + "." + index);
  return jet::CheckIndexTree(jet::Internal(db).pager(), jet::Internal(*t).definition().page, info->root_page);
}

jet::IndexPage Page(jet::Database& db, std::uint32_t page) {
  jet::Pager& pager = jet::Internal(db).pager();
  return jet::ParseIndexPage(jet::ViewOf(pager.Read(page)), page, pager.format());
}

std::set<std::uint32_t> ExpectMapsMatchTrees(jet::Database& db, const std::string& table) {
  std::set<std::uint32_t> claimed, in_trees;
  for (const auto& index : jet::Internal(*db.GetTable(table)).definition().real_indexes)
    if (!index.used_pages.IsNull())
      for (std::uint32_t p : jet::ReadUsageMap(jet::Internal(db).pager(), index.used_pages)) claimed.insert(p);
  for (const jet::IndexInfo& index : db.GetTable(table)->Indexes())
    for (const auto& level : Tree(db, table, index.name).levels) in_trees.insert(level.begin(), level.end());
  EXPECT_TRUE(claimed == in_trees) << "table " << table << ": " << claimed.size() << " pages claimed, "
                                   << in_trees.size() << " in the trees";
  return claimed;
}

}  // namespace index_test
