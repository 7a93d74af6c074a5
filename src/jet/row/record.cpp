#include "jet/row/record.h"

#include <algorithm>

namespace jet {

RecordLayout ParseRecord(ByteView r, const Format& f, bool has_var_columns) {
  RecordLayout l;
  ParseRecord(r, f, has_var_columns, &l);
  return l;
}

void ThrowRecordTooShort(std::size_t size, std::uint16_t columns) {
  ThrowCorrupt("a record of " + std::to_string(size) + " bytes is too short for " + std::to_string(columns) +
               " columns");
}

void ParseRecord(ByteView r, const Format& f, bool has_var_columns, RecordLayout* layout) {
  RecordLayout& l = *layout;
  const bool jet3 = f.version == JetVersion::Jet3;
  l.fixed_start = f.row_int_size;
  l.column_count = RecordColumnCount(r, f);
  std::size_t mask_at = r.size() - (l.column_count + 7u) / 8u;
  l.null_mask = r.Sub(mask_at, r.size() - mask_at);

  if (!has_var_columns) {
    l.var_offsets.assign(1, static_cast<std::uint16_t>(mask_at));
  } else if (!jet3) {
    std::size_t count_at = mask_at - 2;
    std::uint16_t var_count = r.U16(count_at);
    if (2u * (var_count + 1u) > count_at) ThrowCorrupt("a record claims more variable columns than it can hold");
    l.var_offsets.resize(var_count + 1u);
    for (std::size_t i = 0; i <= var_count; ++i) l.var_offsets[i] = r.U16(count_at - 2 * (i + 1));
  } else {
    std::size_t count_at = mask_at - 1;
    std::uint8_t var_count = r.U8(count_at);
    // One jump entry per 256 bytes of record; the last may be a filler that counts nothing.
    std::size_t jumps = (r.size() - 1) / 256;
    if (jumps + var_count + 1u > count_at) ThrowCorrupt("a record claims more variable columns than it can hold");
    std::size_t table_at = count_at - jumps - 1;  // offset of variable column 0
    std::size_t usable = jumps;
    if (usable > 0 && (table_at - var_count) / 256 < usable) --usable;
    l.var_offsets.resize(var_count + 1u);
    std::size_t used = 0;
    for (std::size_t i = 0; i <= var_count; ++i) {
      while (used < usable && r.U8(count_at - 1 - used) == i) ++used;
      l.var_offsets[i] = static_cast<std::uint16_t>(r.U8(table_at - i) + 256 * used);
    }
  }
}

void WalkLongValue(Pager& pager, ByteView field,
                   const std::function<void(LongValueForm form, RowId at, ByteView piece)>& visit) {
  if (field.size() < kLongValueRefSize) ThrowCorrupt("a memo or OLE field is shorter than its 12-byte header");
  const std::uint32_t head = field.U32(0);
  const std::uint32_t length = head & kLongValueLengthMask;
  if (head & kLongValueInline) {
    if (length > field.size() - kLongValueRefSize) ThrowCorrupt("an inline memo or OLE value runs past its record");
    visit(LongValueForm::Inline, RowId{}, field.Sub(kLongValueRefSize, length));
    return;
  }
  RowId at = RowId::FromRaw(field.U32(4));
  PageRef keep;
  if (head & kLongValueSingle) {
    const ByteView data = ReadRowBytes(pager, at, &keep);
    if (data.size() < length) ThrowCorrupt("a memo or OLE value is shorter than its recorded length");
    visit(LongValueForm::Single, at, data.Sub(0, length));
    return;
  }
  std::uint32_t left = length;
  std::uint64_t hops = 0;
  while (left > 0) {
    if (at.IsNull()) ThrowCorrupt("a memo or OLE value's page chain ends before its recorded length");
    if (++hops > std::uint64_t{pager.page_count()} * 256u) ThrowCorrupt("a memo or OLE value's page chain forms a loop");
    const ByteView piece = ReadRowBytes(pager, at, &keep);
    if (piece.size() < 4) ThrowCorrupt("a memo or OLE value's page chain holds a row too short for its link");
    const std::uint32_t take = static_cast<std::uint32_t>(std::min<std::size_t>(piece.size() - 4, left));
    visit(LongValueForm::Chain, at, piece.Sub(4, take));
    left -= take;
    at = RowId::FromRaw(piece.U32(0));
  }
}

std::string ReadLongValue(Pager& pager, ByteView field) {
  std::string out;
  WalkLongValue(pager, field, [&](LongValueForm, RowId, ByteView piece) {
    out.append(reinterpret_cast<const char*>(piece.data()), piece.size());
  });
  return out;
}

void VisitLongValueRows(Pager& pager, ByteView record, bool has_var_columns, const std::vector<LongColumn>& columns,
                        const std::function<void(LongValueForm form, RowId at)>& visit) {
  if (columns.empty()) return;
  const RecordLayout l = ParseRecord(record, pager.format(), has_var_columns);
  for (const LongColumn& c : columns) {
    if (c.number >= l.column_count || !l.NullBit(c.number) || c.var_index >= l.var_count()) continue;
    const std::uint16_t start = l.var_offsets[c.var_index], end = l.var_offsets[c.var_index + 1u];
    if (end < start) ThrowCorrupt("a memo or OLE value ends before it starts");
    if (end == start) continue;
    WalkLongValue(pager, record.Sub(start, end - start), [&](LongValueForm form, RowId at, ByteView) {
      if (form != LongValueForm::Inline) visit(form, at);
    });
  }
}

RecordDecoder::RecordDecoder(Pager& pager, const TableDef& def, std::string table_name)
    : pager_(&pager), def_(&def), table_name_(std::move(table_name)), has_var_columns_(def.var_columns > 0) {
  for (const auto& c : def.columns)
    if (!c.fixed()) has_var_columns_ = true;
}

Value RecordDecoder::DecodeBytes(const ColumnDef& c, ByteView b) const {
  const bool jet3 = pager_->version() == JetVersion::Jet3;
  auto need = [&](std::size_t n) {
    if (b.size() < n)
      ThrowCorrupt("column '" + c.name + "' of table '" + table_name_ + "' holds " + std::to_string(b.size()) +
                   " bytes, too few for its type");
  };
  switch (c.type) {
    case ColumnType::Boolean: return Value::Null();  // handled by the caller
    case ColumnType::Byte: need(1); return Value::Int(b.U8(0));
    case ColumnType::Integer: need(2); return Value::Int(static_cast<std::int16_t>(b.U16(0)));
    case ColumnType::Long: need(4); return Value::Int(static_cast<std::int32_t>(b.U32(0)));
    case ColumnType::Currency: need(8); return Value::Money(static_cast<std::int64_t>(b.U64(0)));
    case ColumnType::Single: need(4); return Value::Float(b.F32(0));
    case ColumnType::Double: need(8); return Value::Dbl(b.F64(0));
    case ColumnType::DateTime: need(8); return Value::DateValue(b.F64(0));
    case ColumnType::Guid: need(16); return Value::GuidValue(b.Sub(0, 16).Str());
    case ColumnType::Numeric: {
      need(17);
      Int128 v = 0;
      for (int k = 0; k < 4; ++k) v = (v << 32) | static_cast<Int128>(b.U32(1 + 4 * k));
      if (b.U8(0) & 0x80) v = -v;
      return Value::Dec(v, c.scale);
    }
    case ColumnType::Text:
      return Value::Str(jet3 ? pager_->text().FromCodePage(b) : pager_->text().FromJet4(b));
    case ColumnType::Binary: return Value::Bytes(b.Str());
    case ColumnType::Memo: {
      std::string raw = ReadLongValue(*pager_, b);
      ByteView rv(raw);
      return Value::Str(jet3 ? pager_->text().FromCodePage(rv) : pager_->text().FromJet4(rv));
    }
    case ColumnType::Ole: return Value::Bytes(ReadLongValue(*pager_, b));
  }
  return Value::Null();
}

Value RecordDecoder::DecodeColumn(const RecordLayout& l, ByteView r, const ColumnDef& c) const {
  if (c.type == ColumnType::Boolean) return Value::Bool(l.NullBit(c.number));
  if (c.number >= l.column_count || !l.NullBit(c.number)) return Value::Null();
  try {
    if (c.fixed()) {
      std::size_t at = l.fixed_start + c.fixed_offset;
      return DecodeBytes(c, r.Sub(at, c.length));
    }
    if (c.var_index >= l.var_count()) return Value::Null();
    std::uint16_t start = l.var_offsets[c.var_index];
    std::uint16_t end = l.var_offsets[c.var_index + 1u];
    if (end < start) ThrowCorrupt("its value ends before it starts");
    return DecodeBytes(c, r.Sub(start, end - start));
  } catch (const FormatError& e) {
    std::string what = e.what();
    if (what.find("column '") != std::string::npos) throw;
    throw FormatError("column '" + c.name + "' of table '" + table_name_ + "': " + what);
  }
}

Row RecordDecoder::Decode(ByteView record, const std::vector<bool>& wanted) const {
  RecordLayout l;
  try {
    l = ParseRecord(record, pager_->format(), has_var_columns_);
  } catch (const FormatError& e) {
    throw FormatError("table '" + table_name_ + "': " + e.what());
  }
  Row row(def_->columns.size());
  for (std::size_t i = 0; i < def_->columns.size(); ++i) {
    if (!wanted.empty() && (i >= wanted.size() || !wanted[i])) continue;
    row[i] = DecodeColumn(l, record, def_->columns[i]);
  }
  return row;
}

}  // namespace jet
