// The row decoder and the value printer on hand-built records, for what the fixture
// files do not show: Jet 3 jump tables, damaged records, text that is no valid
// character, the TSV form of values at the edges of their types. (Every column type,
// deleted and added columns and compressed text are read from the Access fixtures.)

#include <gtest/gtest.h>

#include <cstring>

#include "jet/format/header.h"
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

ColumnDef Variable(const char* name, ColumnType t, std::uint16_t number, std::uint16_t var_index) {
  ColumnDef c;
  c.name = name;
  c.type = t;
  c.number = number;
  c.var_index = var_index;
  return c;
}

void Put16(std::string* s, std::uint16_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>(v >> 8));
}

// A Jet 4 record: `fixed` bytes, then `vars` (empty string = NULL), the offset table, the
// mask built from `present`.
std::string Jet4Record(std::uint16_t columns, const std::string& fixed, const std::vector<std::string>& vars,
                       const std::vector<int>& present) {
  std::string r;
  Put16(&r, columns);
  r += fixed;
  std::vector<std::uint16_t> offsets;
  for (const auto& v : vars) {
    offsets.push_back(static_cast<std::uint16_t>(r.size()));
    r += v;
  }
  std::uint16_t eod = static_cast<std::uint16_t>(r.size());
  Put16(&r, eod);
  for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) Put16(&r, *it);
  Put16(&r, static_cast<std::uint16_t>(vars.size()));
  std::string mask((columns + 7) / 8, '\0');
  for (int c : present) mask[static_cast<std::size_t>(c / 8)] = static_cast<char>(mask[c / 8] | (1 << (c % 8)));
  return r + mask;
}

TEST(RecordDecoder, Jet3RecordBeyond256BytesUsesTheJumpTable) {
  auto pager = EmptyPager(JetVersion::Jet3);
  TableDef def;
  for (std::uint16_t i = 0; i < 4; ++i) {
    static const char* names[] = {"a", "b", "c", "d"};
    def.columns.push_back(Variable(names[i], ColumnType::Text, i, i));
  }
  // Four text values of 100 bytes: offsets 1, 101, 201, 301 and end 401, so columns 3 and
  // the end of data cross the 256 boundary once.
  std::string r(1, '\x04');
  std::vector<std::size_t> offsets;
  for (char c : {'w', 'x', 'y', 'z'}) {
    offsets.push_back(r.size());
    r += std::string(100, c);
  }
  offsets.push_back(r.size());
  std::size_t total = r.size() + 5 /* offsets */ + 1 /* jump */ + 1 /* count */ + 1 /* mask */;
  ASSERT_EQ((total - 1) / 256, 1u);
  for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) r.push_back(static_cast<char>(*it & 0xFF));
  r.push_back(3);  // the first column at or beyond 256
  r.push_back(4);
  r.push_back('\x0F');
  ASSERT_EQ(r.size(), total);

  RecordLayout l = ParseRecord(ByteView(r), pager->format(), true);
  EXPECT_EQ(l.var_offsets, (std::vector<std::uint16_t>{1, 101, 201, 301, 401}));
  Row row = RecordDecoder(*pager, def, "T").Decode(ByteView(r), {});
  EXPECT_EQ(row[3].s, std::string(100, 'z'));
  EXPECT_EQ(row[0].s, std::string(100, 'w'));
}

TEST(RecordDecoder, DamagedRecordsAreReportedWithTableAndColumn) {
  auto pager = EmptyPager(JetVersion::Jet4);
  TableDef def;
  def.columns = {Variable("name", ColumnType::Text, 0, 0)};
  RecordDecoder codec(*pager, def, "People");
  std::string record = Jet4Record(1, "", {"abcd"}, {0});
  record[6] = 60;  // end of data past the record
  try {
    codec.Decode(ByteView(record), {});
    ADD_FAILURE() << "no error";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("column 'name' of table 'People'"), std::string::npos) << e.what();
  }
  EXPECT_THROW(codec.Decode(ByteView(std::string("\x01", 1)), {}), FormatError);
}

TEST(TextCodec, CompressionCodePagesAndBadInput) {
  TextCodec text(1252);
  EXPECT_EQ(text.FromCodePage(ByteView(std::string("na\xEFve \x80"))), "na\xC3\xAFve \xE2\x82\xAC");
  // Compressed runs switch to two-byte characters after a zero byte and back.
  std::string mixed("\xFF\xFE" "ab\x00\xAC\x20\x00" "c", 9);
  EXPECT_EQ(text.FromJet4(ByteView(mixed)), "ab\xE2\x82\xAC" "c");
  EXPECT_EQ(text.FromJet4(ByteView(std::string("h\0i\0", 4))), "hi");
  // A lone surrogate is no character: marked, not fatal.
  EXPECT_EQ(text.FromUtf16(ByteView(std::string("\x00\xD8x\x00", 4))), "\xEF\xBF\xBDx");
  TextCodec unknown(9999);  // falls back to 1252
  EXPECT_EQ(unknown.code_page(), 1252);
}

TEST(Tsv, EveryKindOfValue) {
  EXPECT_EQ(FormatTsvValue(Value::Money(35000)), "3.5");
  EXPECT_EQ(FormatTsvValue(Value::Money(-1)), "-0.0001");
  EXPECT_EQ(FormatTsvValue(Value::Dbl(1e20)), "100000000000000000000");
  EXPECT_EQ(FormatTsvValue(Value::Dbl(-0.0)), "0");
  EXPECT_EQ(FormatTsvValue(Value::Dbl(0.000125)), "0.000125");
  EXPECT_EQ(FormatTsvValue(Value::Float(0.1f)), "0.1");
  EXPECT_EQ(FormatTsvValue(Value::Dec(-100, 2)), "-1");
  EXPECT_EQ(FormatTsvValue(Value::Dec(12345, 4)), "1.2345");
  EXPECT_EQ(FormatTsvValue(Value::DateValue(29932.75)), "1981-12-12 18:00:00");
  EXPECT_EQ(FormatTsvValue(Value::Str("a\\b\tc\rd\ne")), "a\\\\b\\tc\\rd\\ne");
  EXPECT_EQ(FormatTsvValue(Value::Bytes(std::string("\x00\xAB\x10", 3))), "0x00ab10");
  EXPECT_EQ(FormatTsvValue(Value::GuidValue(std::string("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16))),
            "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(FormatTsvRow({Value::Int(1), Value::Null()}), "1\t\\N");
}

}  // namespace
}  // namespace jet
