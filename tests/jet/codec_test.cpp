// The row decoder, text codec and value printer on what the fixture files do not show:
// Jet 3 jump tables, damaged records, text that is no valid character, values at the
// edges of their types. (Every column type, deleted columns and compressed text are read
// from the Access fixtures.)

#include <gtest/gtest.h>

#include <cstring>

#include "jet/format/header.h"
#include "jet/page/data_page.h"
#include "jet/row/record.h"
#include "jet/tsv.h"

namespace jet {
namespace {

// A pager over an empty database of the given version: a header page and one blank page.
std::unique_ptr<Pager> EmptyPager(JetVersion v) {
  const Format& f = FormatFor(v);
  std::string bytes(2 * f.page_size, '\0');
  std::memcpy(bytes.data(), "\x00\x01\x00\x00Standard Jet DB", 19);
  bytes[0x14] = v == JetVersion::Jet3 ? 0 : 1;
  bytes[kHeaderCodePage] = static_cast<char>(1252 & 0xFF);
  bytes[kHeaderCodePage + 1] = static_cast<char>(1252 >> 8);
  ToggleHeaderEncoding(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size(), v);
  return std::make_unique<Pager>(os::MemoryFile("blank.mdb", bytes), "");
}

ColumnDef Text(const char* name, std::uint16_t number) {
  ColumnDef c;
  c.name = name;
  c.type = ColumnType::Text;
  c.number = number;
  c.var_index = number;
  return c;
}

TEST(RecordDecoder, Jet3RecordBeyond256BytesUsesTheJumpTable) {
  auto pager = EmptyPager(JetVersion::Jet3);
  TableDef def;
  def.columns = {Text("a", 0), Text("b", 1), Text("c", 2), Text("d", 3)};
  // Four text values of 100 bytes at 1, 101, 201 and 301, ending at 401: the fourth
  // value and the end of data lie beyond 256, where the offsets' high byte is implied.
  std::string r(1, '\x04');
  for (char c : {'w', 'x', 'y', 'z'}) r += std::string(100, c);
  r += std::string("\x91\x2D\xC9\x65\x01", 5);  // offsets' low bytes, last first
  r += std::string("\x03\x04\x0F", 3);            // jump table, column count, mask
  Row row = RecordDecoder(*pager, def, "T").Decode(ByteView(r), {});
  EXPECT_EQ(row[3].s, std::string(100, 'z'));
  EXPECT_EQ(row[0].s, std::string(100, 'w'));
}

TEST(RecordDecoder, DamagedRecordsAreReportedWithTableAndColumn) {
  auto pager = EmptyPager(JetVersion::Jet4);
  TableDef def;
  def.columns = {Text("name", 0)};
  RecordDecoder codec(*pager, def, "People");
  // One text column holding "abcd", its end of data (60) past the record's end.
  std::string record("\x01\x00" "abcd" "\x3C\x00" "\x02\x00" "\x01\x00" "\x01", 13);
  try {
    codec.Decode(ByteView(record), {});
    ADD_FAILURE() << "no error";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("column 'name' of table 'People'"), std::string::npos) << e.what();
  }
  EXPECT_THROW(codec.Decode(ByteView(std::string("\x01", 1)), {}), FormatError);
}

// Access leaves a deleted row's bytes where they were; a row of the same length put into
// that slot lands exactly on them and must replace them.
TEST(DataPageRows, RowPutIntoADeletedSlotReplacesItsOldBytes) {
  const Format& f = FormatFor(JetVersion::Jet4);
  PageData page;
  InitDataPage(page, f, 2);
  for (const char* row : {"first row", "second row", "third row"}) AddRowToPage(page, 5, f, row);
  const std::size_t slot1 = f.data_slots + 2;
  Put16(&page[slot1], static_cast<std::uint16_t>(ByteView(page).U16(slot1) | kSlotDeleted));
  EXPECT_EQ(AddRowToPage(page, 5, f, "fresh data"), 1);
  const DataPage read(std::make_shared<const PageData>(page), 5, f);
  EXPECT_EQ(read.row(read.slot(1)).Str(), "fresh data");
  EXPECT_EQ(read.row(read.slot(2)).Str(), "third row");
}

TEST(TextCodec, CompressionCodePagesAndBadInput) {
  TextCodec text(1252);
  EXPECT_EQ(text.FromCodePage(ByteView(std::string("na\xEFve \x80"))), "na\xC3\xAFve \xE2\x82\xAC");
  // Compressed runs switch to two-byte characters after a zero byte and back.
  std::string mixed("\xFF\xFE" "ab\x00\xAC\x20\x00" "c", 9);
  EXPECT_EQ(text.FromJet4(ByteView(mixed)), "ab\xE2\x82\xAC" "c");
  // A lone surrogate is no character: marked, not fatal.
  EXPECT_EQ(text.FromUtf16(ByteView(std::string("\x00\xD8x\x00", 4))), "\xEF\xBF\xBDx");
  TextCodec unknown(9999);  // falls back to 1252
  EXPECT_EQ(unknown.code_page(), 1252);
}

// The forms the fixtures' expected rows do not show.
TEST(Tsv, ValuesAtTheEdgesOfTheirTypes) {
  EXPECT_EQ(FormatTsvValue(Value::Dbl(1e20)), "100000000000000000000");
  EXPECT_EQ(FormatTsvValue(Value::Dbl(-0.0)), "0");
  EXPECT_EQ(FormatTsvValue(Value::Dbl(0.000125)), "0.000125");
  EXPECT_EQ(FormatTsvValue(Value::Dec(-100, 2)), "-1");
  EXPECT_EQ(FormatTsvValue(Value::Dec(12345, 4)), "1.2345");
  EXPECT_EQ(FormatTsvValue(Value::Str("a\\b\tc\rd\ne")), "a\\\\b\\tc\\rd\\ne");
  EXPECT_EQ(FormatTsvValue(Value::GuidValue(std::string("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16))),
            "{00112233-4455-6677-8899-AABBCCDDEEFF}");
}

}  // namespace
}  // namespace jet
