// The catalogue as the fixtures' README describes it: tables, index kinds (primary,
// unique, required, foreign-key, descending, shared physical indexes) and relationships.

#include <gtest/gtest.h>

#include <algorithm>

#include "jet/database_internal.h"
#include "support.h"

namespace jet {
namespace {

using testing::FixturesDir;

std::string Describe(const IndexInfo& i) {
  std::string s = i.name + "(";
  for (std::size_t k = 0; k < i.columns.size(); ++k)
    s += (k ? "," : "") + i.columns[k].name + (i.columns[k].descending ? " desc" : "");
  s += ")";
  if (i.primary) s += " primary";
  if (i.unique) s += " unique";
  if (i.required) s += " required";
  if (i.foreign_key) s += " fk";
  return s;
}

std::vector<std::string> Indexes(Database& db, const std::string& table) {
  std::vector<std::string> out;
  for (const auto& i : db.GetTable(table)->Indexes()) out.push_back(Describe(i));
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Catalog, IndexKindsOfJet3AndJet4Files) {
  JET_REQUIRE_FIXTURES();
  for (const char* file : {"indexTestV1997.mdb", "indexTestV2000.mdb", "indexTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    auto db = Database::Open((FixturesDir() / "access" / file).string());
    EXPECT_EQ(db->TableNames(), (std::vector<std::string>{"Table1", "Table2", "Table3"}));
    EXPECT_EQ(Indexes(*db, "Table1"),
              (std::vector<std::string>{"PrimaryKey(id) primary unique required", "Table2Table1(otherfk1) fk",
                                        "Table3Table1(otherfk2) fk", "id(id)"}));
    EXPECT_EQ(Indexes(*db, "Table2"), (std::vector<std::string>{".rC(id) unique required fk",
                                                                "PrimaryKey(id) primary unique required", "id(id)"}));
    // The foreign-key index of the referenced side shares the primary key's B-tree.
    Table* t2 = db->GetTable("table2");
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->FindIndex(".rC")->real_index, t2->FindIndex("PrimaryKey")->real_index);

    // Access adds relationships between its own system tables in later versions.
    std::vector<RelationshipInfo> rels;
    for (const auto& r : db->Relationships())
      if (r.primary_table.rfind("MSys", 0) != 0) rels.push_back(r);
    ASSERT_EQ(rels.size(), 2u);
    auto find = [&](const std::string& n) {
      return *std::find_if(rels.begin(), rels.end(), [&](const RelationshipInfo& r) { return r.name == n; });
    };
    RelationshipInfo a = find("Table2Table1"), b = find("Table3Table1");
    EXPECT_EQ(a.primary_table, "Table2");
    EXPECT_EQ(a.primary_columns, std::vector<std::string>{"id"});
    EXPECT_EQ(a.foreign_table, "Table1");
    EXPECT_EQ(a.foreign_columns, std::vector<std::string>{"otherfk1"});
    EXPECT_TRUE(a.enforced);
    EXPECT_TRUE(a.cascade_deletes);
    EXPECT_FALSE(a.cascade_updates);
    EXPECT_TRUE(b.enforced);
    EXPECT_TRUE(b.cascade_updates);
    EXPECT_FALSE(b.cascade_deletes);
  }
}

TEST(Catalog, DescendingCompositeAndSiteIndexes) {
  JET_REQUIRE_FIXTURES();
  auto comp = Database::Open((FixturesDir() / "access/compIndexTestV2000.mdb").string());
  EXPECT_EQ(Indexes(*comp, "Table1"), std::vector<std::string>{"CD_AGENTE(CD_AGENTE desc)"});

  auto site = Database::Open((FixturesDir() / "site-small/Orvanta.mdb").string(), {.password = "Morvek3"});
  EXPECT_EQ(Indexes(*site, "Join_EmpAG"), std::vector<std::string>{"PrimaryKey(Emp_ID,AG_ID) primary unique required"});
  EXPECT_EQ(Indexes(*site, "CARD"),
            (std::vector<std::string>{"CardNumber(CardNumber) unique", "Owner(Owner)", "PrimaryKey(CardID) primary unique required"}));
  EXPECT_TRUE(site->Relationships().empty());
  const auto& card_columns = site->GetTable("CARD")->Columns();
  EXPECT_TRUE(card_columns[0].autonumber);
  EXPECT_FALSE(card_columns[1].autonumber);

  auto ri = Database::Open((FixturesDir() / "site-ri/Orvanta.mdb").string(), {.password = "Morvek3"});
  const auto& rels = ri->Relationships();
  ASSERT_EQ(rels.size(), 6u);
  for (const auto& r : rels) {
    EXPECT_EQ(r.primary_table, "CRDHLD");
    EXPECT_EQ(r.primary_columns, std::vector<std::string>{"ID"});
    EXPECT_EQ(r.name, "CRDHLD" + r.foreign_table);
    EXPECT_TRUE(r.enforced);
    EXPECT_FALSE(r.cascade_deletes || r.cascade_updates);
    const IndexInfo* fk = ri->GetTable(r.foreign_table)->FindIndex(r.name);
    ASSERT_NE(fk, nullptr) << r.name;
    EXPECT_TRUE(fk->foreign_key);
  }
  int referenced = 0;
  for (const auto& i : ri->GetTable("CRDHLD")->Indexes()) referenced += i.foreign_key;
  EXPECT_EQ(referenced, 6);
}

TEST(Catalog, SystemTablesAreFoundButNotListed) {
  JET_REQUIRE_FIXTURES();
  auto db = Database::Open((FixturesDir() / "access/testV1997.mdb").string());
  std::vector<std::string> all = db->TableNames(true);
  EXPECT_NE(std::find(all.begin(), all.end(), "MSysObjects"), all.end());
  EXPECT_EQ(db->TableNames().size(), 4u);
  Table* objects = db->GetTable("msysobjects");
  ASSERT_NE(objects, nullptr);
  EXPECT_TRUE(Internal(*objects).is_system());
  EXPECT_EQ(db->FindTable("NoSuchTable"), nullptr);
  EXPECT_EQ(db->version(), JetVersion::Jet3);
  EXPECT_EQ(db->code_page(), 1252);
  EXPECT_EQ(db->sort_order(), 0x409u);
}

}  // namespace
}  // namespace jet
