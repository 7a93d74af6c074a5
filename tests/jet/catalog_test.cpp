// The catalogue of files others wrote, as the fixtures' README describes it: tables,
// index kinds (primary, unique, required, foreign-key, descending, several logical
// indexes on one B-tree) and relationships.

#include <gtest/gtest.h>

#include <algorithm>

#include "jet/database.h"
#include "support.h"

namespace jet {
namespace {

using testing::FixturesDir;
using Lines = std::vector<std::string>;

Lines Indexes(Database& db, const std::string& table) {
  Lines out;
  for (const auto& i : db.GetTable(table)->Indexes()) {
    std::string s = i.name + "(";
    for (std::size_t k = 0; k < i.columns.size(); ++k)
      s += (k ? "," : "") + i.columns[k].name + (i.columns[k].descending ? " desc" : "");
    out.push_back(s + ")" + (i.primary ? " primary" : "") + (i.unique ? " unique" : "") +
                  (i.required ? " required" : "") + (i.foreign_key ? " fk" : ""));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Catalog, IndexKindsAndRelationshipsOfJet3AndJet4Files) {
  JET_REQUIRE_FIXTURES();
  for (const char* file : {"indexTestV1997.mdb", "indexTestV2000.mdb", "indexTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    auto db = Database::Open((FixturesDir() / "access" / file).string());
    EXPECT_EQ(Indexes(*db, "Table1"), (Lines{"PrimaryKey(id) primary unique required", "Table2Table1(otherfk1) fk",
                                             "Table3Table1(otherfk2) fk", "id(id)"}));
    EXPECT_EQ(Indexes(*db, "Table2"), (Lines{".rC(id) unique required fk", "PrimaryKey(id) primary unique required", "id(id)"}));
    // The foreign-key index of the referenced side shares the primary key's B-tree.
    Table* t2 = db->GetTable("table2");
    ASSERT_NE(t2, nullptr);
    EXPECT_EQ(t2->FindIndex(".rC")->real_index, t2->FindIndex("PrimaryKey")->real_index);

    Lines rels;  // Access adds relationships between its own system tables in later versions
    for (const auto& r : db->Relationships()) {
      if (r.primary_table.rfind("MSys", 0) == 0) continue;
      rels.push_back(r.name + " " + r.primary_table + "(" + r.primary_columns.at(0) + ") " + r.foreign_table + "(" +
                     r.foreign_columns.at(0) + ")" + (r.enforced ? " enforced" : "") +
                     (r.cascade_deletes ? " cascade-deletes" : "") + (r.cascade_updates ? " cascade-updates" : ""));
    }
    std::sort(rels.begin(), rels.end());
    EXPECT_EQ(rels, (Lines{"Table2Table1 Table2(id) Table1(otherfk1) enforced cascade-deletes",
                           "Table3Table1 Table3(id) Table1(otherfk2) enforced cascade-updates"}));
  }
}

TEST(Catalog, DescendingCompositeAndSiteIndexesAndTheHeader) {
  JET_REQUIRE_FIXTURES();
  auto comp = Database::Open((FixturesDir() / "access/compIndexTestV2000.mdb").string());
  EXPECT_EQ(Indexes(*comp, "Table1"), Lines{"CD_AGENTE(CD_AGENTE desc)"});
  auto site = Database::Open((FixturesDir() / "site-small/Orvanta.mdb").string(), {.password = "Morvek3"});
  EXPECT_EQ(Indexes(*site, "Join_EmpAG"), Lines{"PrimaryKey(Emp_ID,AG_ID) primary unique required"});
  EXPECT_EQ(Indexes(*site, "CARD"),
            (Lines{"CardNumber(CardNumber) unique", "Owner(Owner)", "PrimaryKey(CardID) primary unique required"}));
  EXPECT_TRUE(site->Relationships().empty());

  // System tables are found by name but not listed.
  auto db = Database::Open((FixturesDir() / "access/testV1997.mdb").string());
  Lines all = db->TableNames(true);
  EXPECT_NE(std::find(all.begin(), all.end(), "MSysObjects"), all.end());
  EXPECT_NE(db->GetTable("msysobjects"), nullptr);
  EXPECT_EQ(db->version(), JetVersion::Jet3);
  EXPECT_EQ(db->code_page(), 1252);
  EXPECT_EQ(db->sort_order(), 0x409u);
}

}  // namespace
}  // namespace jet
