#pragma once
// Records (stored rows), Jet 3 and Jet 4 layouts:
//   column count | fixed columns | variable columns | [Jet 3: jump table]
//   variable-column offsets (reversed, end-of-data last) | variable count | null mask
// Offsets are one byte in Jet 3 (the jump table adds 256 per crossed boundary) and two
// bytes in Jet 4. A set null-mask bit means "has a value"; Yes/No columns keep their
// value there.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format/bytes.h"
#include "jet/format/format.h"
#include "jet/page/table_def.h"
#include "jet/pager/pager.h"
#include "jet/value.h"

namespace jet {

struct RecordLayout {
  std::uint16_t column_count = 0;       // columns the record was written with
  std::size_t fixed_start = 0;          // 1 (Jet 3) or 2 (Jet 4)
  ByteView null_mask;
  std::vector<std::uint16_t> var_offsets;  // one per variable column, then end of data

  bool NullBit(std::uint16_t column_number) const {
    std::size_t byte = column_number / 8u;
    return byte < null_mask.size() && (null_mask.data()[byte] & (1u << (column_number % 8))) != 0;
  }
  std::size_t var_count() const { return var_offsets.empty() ? 0 : var_offsets.size() - 1; }
};

// Throws FormatError when the record's own bookkeeping does not fit in it. Records of a
// table without variable columns have no variable-column table at all.
RecordLayout ParseRecord(ByteView record, const Format& format, bool has_var_columns);
// The same into `layout`, whose memory is reused: for a scan, one per table rather than one per row.
void ParseRecord(ByteView record, const Format& format, bool has_var_columns, RecordLayout* layout);

[[noreturn, gnu::noinline, gnu::cold]] void ThrowRecordTooShort(std::size_t size, std::uint16_t columns);

// The record's column count, once it is known to hold its null mask and a column count.
inline std::uint16_t RecordColumnCount(ByteView r, const Format& f) {
  const std::uint16_t count = f.version == JetVersion::Jet3 ? r.U8(0) : r.U16(0);
  if (r.size() < 2u * f.row_int_size + (count + 7u) / 8u) ThrowRecordTooShort(r.size(), count);
  return count;
}

// The bytes of a fixed-length column (of a length above zero) in a record, or an empty view
// when the record holds NULL there, found without reading the record's variable part.
// Throws FormatError as ParseRecord does, and when the value lies outside the record.
inline ByteView FixedColumnBytes(ByteView record, const Format& format, const ColumnDef& column) {
  const std::uint16_t count = RecordColumnCount(record, format);
  if (column.number >= count) return {};
  const std::uint8_t mask = record.data()[record.size() - (count + 7u) / 8u + column.number / 8u];
  if ((mask & (1u << (column.number % 8))) == 0) return {};
  return record.Sub(format.row_int_size + column.fixed_offset, column.length);
}

// Memo and OLE fields: a 12-byte header (length with flags, then a row pointer), the
// data inline after it, in one row elsewhere, or in a chain of rows each starting with
// the pointer to the next.
enum class LongValueForm { Inline, Single, Chain };

// Calls `visit` with each piece of the value in order: its form, the row holding it (null
// for an inline value) and the value's bytes there. Throws FormatError for a header cut
// short, a value longer than what holds it, and a chain that ends early, loops or holds a
// row too short for its link.
void WalkLongValue(Pager& pager, ByteView field,
                   const std::function<void(LongValueForm form, RowId at, ByteView piece)>& visit);

std::string ReadLongValue(Pager& pager, ByteView field);

// A memo or OLE column as its table's records place it.
struct LongColumn {
  std::uint16_t number = 0;
  std::uint16_t var_index = 0;
};

// Calls `visit` for each row outside `record` that holds a piece of one of its values in
// `columns` (memo and OLE columns of its table); an empty value has none. Throws
// FormatError as ParseRecord and WalkLongValue do.
void VisitLongValueRows(Pager& pager, ByteView record, bool has_var_columns, const std::vector<LongColumn>& columns,
                        const std::function<void(LongValueForm form, RowId at)>& visit);

// Turns records of one table into values (in TableDef::columns order); EncodeRecord
// (record_encoder.h) writes them.
class RecordDecoder {
 public:
  RecordDecoder(Pager& pager, const TableDef& def, std::string table_name);

  // Columns whose `wanted` flag is false stay NULL (an empty `wanted` asks for all).
  // Throws FormatError naming the table and column.
  Row Decode(ByteView record, const std::vector<bool>& wanted) const;

  Value DecodeColumn(const RecordLayout& layout, ByteView record, const ColumnDef& column) const;

 private:
  Value DecodeBytes(const ColumnDef& column, ByteView bytes) const;
  Pager* pager_;
  const TableDef* def_;
  std::string table_name_;
  bool has_var_columns_;
};

}  // namespace jet
