#pragma once
// A value as the engine hands it around: what a row holds in one column, what a
// literal in a command stands for, and what an expression yields.

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

// Column types as stored in a table definition.
enum class ColumnType : std::uint8_t {
  Boolean = 0x01,
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
  Guid = 0x0F,
  Numeric = 0x10,
};

__extension__ typedef __int128 Int128;

struct Value {
  enum class Kind : std::uint8_t {
    Null,
    Boolean,   // b
    Integer,   // i: Byte, Integer, Long (and integer literals)
    Currency,  // i: ten-thousandths
    Single,    // d, held as double, printed with float precision
    Double,    // d
    Decimal,   // dec / 10^scale
    Date,      // d: days since 1899-12-30, Jet's encoding (see datetime.h)
    Text,      // s: UTF-8
    Binary,    // s: raw bytes (Binary and OLE columns)
    Guid,      // s: the 16 bytes as stored
  };

  Kind kind = Kind::Null;
  bool b = false;
  std::int64_t i = 0;
  double d = 0;
  Int128 dec = 0;
  std::uint8_t scale = 0;
  std::string s;

  bool IsNull() const { return kind == Kind::Null; }

  static Value Null() { return {}; }
  static Value Bool(bool v) { Value x; x.kind = Kind::Boolean; x.b = v; return x; }
  static Value Int(std::int64_t v) { Value x; x.kind = Kind::Integer; x.i = v; return x; }
  static Value Money(std::int64_t ten_thousandths) { Value x; x.kind = Kind::Currency; x.i = ten_thousandths; return x; }
  static Value Float(float v) { Value x; x.kind = Kind::Single; x.d = v; return x; }
  static Value Dbl(double v) { Value x; x.kind = Kind::Double; x.d = v; return x; }
  static Value Dec(Int128 unscaled, std::uint8_t sc) { Value x; x.kind = Kind::Decimal; x.dec = unscaled; x.scale = sc; return x; }
  static Value DateValue(double jet_days) { Value x; x.kind = Kind::Date; x.d = jet_days; return x; }
  static Value Str(std::string v) { Value x; x.kind = Kind::Text; x.s = std::move(v); return x; }
  static Value Bytes(std::string v) { Value x; x.kind = Kind::Binary; x.s = std::move(v); return x; }
  static Value GuidValue(std::string sixteen) { Value x; x.kind = Kind::Guid; x.s = std::move(sixteen); return x; }
};

using Row = std::vector<Value>;

}  // namespace jet
