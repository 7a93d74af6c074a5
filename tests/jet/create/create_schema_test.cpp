// Relationships as Access stores them, and the writer's refusals of bad definitions and
// values: each names what is wrong and leaves nothing half-written.

#include <gtest/gtest.h>

#include <functional>

#include "create_test_support.h"
#include "jet/create/database_writer.h"
#include "jet/error.h"
#include "jet_probe.h"

namespace {

using jet::ColumnType;
using jet::ErrorCode;
using jet::Value;
using jet::create::ColumnSpec;
using jet::create::DatabaseWriter;
using jet::create::IndexSpec;
using jet::create::RelationshipSpec;

ColumnSpec Col(const char* name, ColumnType type, int length = 0) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

IndexSpec Pk(const char* column) {
  IndexSpec i;
  i.name = "PrimaryKey";
  i.columns = {column};
  i.primary = true;
  return i;
}

RelationshipSpec Rel(const char* parent, const char* pcol, const char* child, const char* ccol) {
  RelationshipSpec r;
  r.parent_table = parent;
  r.parent_columns = {pcol};
  r.child_table = child;
  r.child_columns = {ccol};
  return r;
}

void ExpectError(ErrorCode code, const std::string& fragment, const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "no error; expected one mentioning " << fragment;
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.code(), code) << e.what();
    EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
  }
}

TEST(CreateRelationships, EnforcedOnesAddForeignKeyIndexesOnBothSides) {
  create_test::ScratchDir dir;
  std::string path = dir.File("rel.mdb");
  {
    DatabaseWriter db;
    auto& parent = db.AddTable("Holder", {Col("ID", ColumnType::Long), Col("Name", ColumnType::Text, 30)}, {Pk("ID")});
    IndexSpec owner;
    owner.name = "Owner";
    owner.columns = {"Owner"};
    auto& card = db.AddTable("Card", {Col("Owner", ColumnType::Long)}, {owner});
    auto& link = db.AddTable("Link", {Col("Emp", ColumnType::Long), Col("Group", ColumnType::Long)});
    auto cascading = Rel("Holder", "ID", "Card", "Owner");
    cascading.cascade_deletes = true;
    db.AddRelationship(cascading);
    db.AddRelationship(Rel("Holder", "ID", "Link", "Emp"));
    auto loose = Rel("Holder", "ID", "Link", "Group");
    loose.name = "Loose";
    loose.enforced = false;
    db.AddRelationship(loose);
    parent.Append({Value::Int(1), Value::Str("Ann")});
    parent.Append({Value::Int(2), Value::Str("Bo")});
    card.Append({Value::Int(2)});
    card.Append({Value::Null()});  // NULL refers to nothing and is allowed
    link.Append({Value::Int(1), Value::Int(99)});  // 99 is fine: that relationship is not enforced
    db.Write(path);
  }
  jet_probe::File f(path);
  auto holder = f.Definition(f.TablePage("Holder"));
  auto card = f.Definition(f.TablePage("Card"));
  auto link = f.Definition(f.TablePage("Link"));
  ASSERT_EQ(holder.logical.size(), 3u);
  EXPECT_EQ(holder.logical[1].name, ".rB");
  EXPECT_EQ(holder.logical[2].name, ".rC");
  EXPECT_EQ(holder.real.size(), 1u);  // both share the primary key's pages
  EXPECT_EQ(holder.logical[1].real, 0);
  EXPECT_EQ(holder.logical[1].kind, 2);
  EXPECT_EQ(holder.logical[1].related_kind, 1);
  EXPECT_EQ(holder.logical[1].related_tdef, card.page);
  ASSERT_EQ(card.logical.size(), 2u);
  EXPECT_EQ(card.logical[1].name, "HolderCard");
  EXPECT_EQ(card.logical[1].real, 0);  // shares the existing index on Owner
  EXPECT_EQ(card.logical[1].related_kind, 2);
  EXPECT_EQ(card.logical[1].related_index, holder.logical[1].number);
  EXPECT_EQ(holder.logical[1].related_index, card.logical[1].number);
  ASSERT_EQ(link.real.size(), 1u);  // a new index for the foreign key
  EXPECT_EQ(link.logical[0].name, "HolderLink");
  EXPECT_EQ(link.real[0].columns[0].first, 0);
  if (create_test::HaveProgram("mdb-export")) {
    int status = 0;
    std::string rows = create_test::Run("mdb-export " + create_test::Quote(path) + " MSysRelationships", &status);
    EXPECT_NE(rows.find("\"HolderCard\",4096,1,0,\"Card\",\"Owner\",\"Holder\",\"ID\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"HolderLink\",0,1,0,\"Link\",\"Emp\",\"Holder\",\"ID\""), std::string::npos) << rows;
    EXPECT_NE(rows.find("\"Loose\",2,1,0,\"Link\",\"Group\",\"Holder\",\"ID\""), std::string::npos) << rows;
  }
}

TEST(CreateRelationships, OrphansAndLateDefinitionsAreRefused) {
  create_test::ScratchDir dir;
  DatabaseWriter db;
  auto& parent = db.AddTable("P", {Col("ID", ColumnType::Long), Col("Other", ColumnType::Long)}, {Pk("ID")});
  auto& child = db.AddTable("C", {Col("PID", ColumnType::Long), Col("Text", ColumnType::Text, 5)});
  ExpectError(ErrorCode::Unsupported, "needs a unique index", [&] { db.AddRelationship(Rel("P", "Other", "C", "PID")); });
  ExpectError(ErrorCode::TypeMismatch, "differ in type", [&] { db.AddRelationship(Rel("P", "ID", "C", "Text")); });
  ExpectError(ErrorCode::UnknownTable, "'Nope'", [&] { db.AddRelationship(Rel("Nope", "ID", "C", "PID")); });
  db.AddRelationship(Rel("P", "ID", "C", "PID"));
  parent.Append({Value::Int(1), Value::Null()});
  child.Append({Value::Int(1), Value::Null()});
  child.Append({Value::Int(5), Value::Null()});
  ExpectError(ErrorCode::Unsupported, "before any rows", [&] {
    auto again = Rel("P", "ID", "C", "PID");
    again.name = "Again";
    db.AddRelationship(again);
  });
  ExpectError(ErrorCode::Integrity, "Relationship 'PC'", [&] { db.Write(dir.File("orphan.mdb")); });
}

TEST(CreateSchema, BadDefinitionsAreRefusedByName) {
  DatabaseWriter db;
  ExpectError(ErrorCode::Unsupported, "reserved", [&] { db.AddTable("MSysThing", {Col("A", ColumnType::Long)}); });
  ExpectError(ErrorCode::Unsupported, "no columns", [&] { db.AddTable("Empty", {}); });
  ExpectError(ErrorCode::Unsupported, "length must be 1 to 255", [&] { db.AddTable("T", {Col("A", ColumnType::Text, 0)}); });
  ExpectError(ErrorCode::Unsupported, "two columns named 'a'",
              [&] { db.AddTable("T", {Col("A", ColumnType::Long), Col("a", ColumnType::Long)}); });
  ExpectError(ErrorCode::UnknownColumn, "no column 'B'", [&] { db.AddTable("T", {Col("A", ColumnType::Long)}, {Pk("B")}); });
  ExpectError(ErrorCode::Unsupported, "cannot be an index key",
              [&] { db.AddTable("T", {Col("M", ColumnType::Memo)}, {Pk("M")}); });
  ColumnSpec auto_text = Col("A", ColumnType::Text, 5);
  auto_text.autonumber = true;
  ExpectError(ErrorCode::Unsupported, "autonumbers", [&] { db.AddTable("T", {auto_text}); });
  db.AddTable("T", {Col("A", ColumnType::Long)});
  ExpectError(ErrorCode::Unsupported, "defined twice", [&] { db.AddTable("t", {Col("A", ColumnType::Long)}); });
  ExpectError(ErrorCode::UnknownTable, "'Missing'", [&] { db.Table("Missing"); });
  jet::create::DatabaseOptions long_password;
  long_password.password = std::string(21, 'x');
  ExpectError(ErrorCode::Unsupported, "20 characters", [&] { DatabaseWriter w(long_password); });
}

TEST(CreateSchema, BadValuesAreRefusedAndTheRowIsNotAdded) {
  create_test::ScratchDir dir;
  DatabaseWriter db;
  auto& t = db.AddTable("V", {Col("I", ColumnType::Integer), Col("B", ColumnType::Byte), Col("S", ColumnType::Text, 3),
                              Col("D", ColumnType::DateTime), Col("L", ColumnType::Long)},
                        {Pk("L")});
  auto row = [](Value i, Value b, Value s, Value d, Value l) { return jet::Row{i, b, s, d, l}; };
  ExpectError(ErrorCode::TypeMismatch, "'I' of table 'V'",
              [&] { t.Append(row(Value::Int(40000), Value::Null(), Value::Null(), Value::Null(), Value::Int(1))); });
  ExpectError(ErrorCode::TypeMismatch, "'B'",
              [&] { t.Append(row(Value::Null(), Value::Int(-1), Value::Null(), Value::Null(), Value::Int(1))); });
  ExpectError(ErrorCode::TypeMismatch, "longer than 3",
              [&] { t.Append(row(Value::Null(), Value::Null(), Value::Str("abcd"), Value::Null(), Value::Int(1))); });
  ExpectError(ErrorCode::TypeMismatch, "not a date",
              [&] { t.Append(row(Value::Null(), Value::Null(), Value::Null(), Value::Str("x"), Value::Int(1))); });
  ExpectError(ErrorCode::TypeMismatch, "not valid UTF-8",
              [&] { t.Append(row(Value::Null(), Value::Null(), Value::Str("\xff"), Value::Null(), Value::Int(1))); });
  ExpectError(ErrorCode::Integrity, "cannot be NULL",
              [&] { t.Append(row(Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null())); });
  ExpectError(ErrorCode::TypeMismatch, "has 5 columns", [&] { t.Append({Value::Int(1)}); });
  EXPECT_EQ(t.RowCount(), 0u);
  t.Append(row(Value::Int(-5), Value::Int(9), Value::Str("abc"), Value::DateValue(1.5), Value::Int(3)));
  ExpectError(ErrorCode::Io, "/no/such/folder/x.mdb", [&] { db.Write("/no/such/folder/x.mdb"); });
  ExpectError(ErrorCode::ReadOnly, "already been written", [&] { db.Write(dir.File("again.mdb")); });
}

}  // namespace
