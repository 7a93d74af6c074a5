#include "jet/index/index_key.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "jet/error.h"
#include "jet/format/bytes.h"

namespace jet {
namespace {

// Sort codes of the General order for U+0020..U+007E; 0 marks characters that are not
// simple one-code characters. Upper and lower case letters share a code. Codes above
// 0xff are two bytes (0x2b followed by the low byte).
constexpr std::uint16_t kGeneralCodes[95] = {
    0x07,   0x09,   0x0a,   0x0c,   0x0e,   0x10,   0x12,   0,      // space ! " # $ % & '
    0x14,   0x16,   0x18,   0x2c,   0x1a,   0,      0x1c,   0x1e,   // ( ) * + , - . /
    0x36,   0x38,   0x3a,   0x3c,   0x3e,   0x40,   0x42,   0x44,   // 0-7
    0x46,   0x48,   0x20,   0x22,   0x2e,   0x30,   0x32,   0x24,   // 8 9 : ; < = > ?
    0x26,   0x4a,   0x4c,   0x4d,   0x4f,   0x51,   0x53,   0x55,   // @ A-G
    0x57,   0x59,   0x5b,   0x5c,   0x5e,   0x60,   0x62,   0x64,   // H-O
    0x66,   0x68,   0x69,   0x6b,   0x6d,   0x6f,   0x71,   0x73,   // P-W
    0x75,   0x76,   0x78,   0x27,   0x29,   0x2a,   0x2b02, 0x2b03, // X Y Z [ \ ] ^ _
    0x2b07, 0x4a,   0x4c,   0x4d,   0x4f,   0x51,   0x53,   0x55,   // ` a-g
    0x57,   0x59,   0x5b,   0x5c,   0x5e,   0x60,   0x62,   0x64,   // h-o
    0x66,   0x68,   0x69,   0x6b,   0x6d,   0x6f,   0x71,   0x73,   // p-w
    0x75,   0x76,   0x78,   0x2b09, 0x2b0b, 0x2b0d, 0x2b0f,         // x y z { | } ~
};

void PutBigEndian(std::string* key, std::uint64_t v, int bytes, bool flip_sign, bool ascending) {
  std::uint8_t b[8];
  PutBig(b, v, static_cast<std::size_t>(bytes));
  if (flip_sign) b[0] ^= 0x80;
  for (int k = 0; k < bytes; ++k) key->push_back(static_cast<char>(ascending ? b[k] : ~b[k]));
}

}  // namespace

std::optional<std::uint8_t> GeneralTextCode(char16_t c, std::uint8_t* second) {
  *second = 0;
  if (c < 0x20 || c > 0x7e) return std::nullopt;
  std::uint16_t code = kGeneralCodes[c - 0x20];
  if (code == 0) return std::nullopt;
  if (code > 0xff) {
    *second = static_cast<std::uint8_t>(code & 0xff);
    return static_cast<std::uint8_t>(code >> 8);
  }
  return static_cast<std::uint8_t>(code);
}

bool IsIndexable(ColumnType type) {
  switch (type) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Text: return true;
    default: return false;
  }
}

void AppendKey(std::string* key, const ColumnDef& column, const Cell& cell, bool ascending, const std::string& what) {
  if (cell.null) {
    key->push_back(static_cast<char>(ascending ? 0x00 : 0xff));
    return;
  }
  key->push_back(static_cast<char>(ascending ? 0x7f : 0x80));
  switch (column.type) {
    case ColumnType::Byte: PutBigEndian(key, static_cast<std::uint64_t>(cell.i), 1, false, ascending); break;
    case ColumnType::Integer: PutBigEndian(key, static_cast<std::uint64_t>(cell.i), 2, true, ascending); break;
    case ColumnType::Long: PutBigEndian(key, static_cast<std::uint64_t>(cell.i), 4, true, ascending); break;
    case ColumnType::Currency: PutBigEndian(key, static_cast<std::uint64_t>(cell.i), 8, true, ascending); break;
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime: {
      std::uint64_t bits;
      int bytes = 8;
      if (column.type == ColumnType::Single) {
        float f = static_cast<float>(cell.d);
        std::uint32_t b32;
        std::memcpy(&b32, &f, 4);
        bits = b32;
        bytes = 4;
      } else {
        std::memcpy(&bits, &cell.d, 8);
      }
      std::uint64_t sign = std::uint64_t{1} << (8 * bytes - 1);
      // Positive numbers: set the sign bit. Negative: invert every bit, so that larger
      // magnitudes sort first.
      if (bits & sign) {
        bits = ~bits;
        if (bytes == 4) bits &= 0xffffffffu;
      } else {
        bits |= sign;
      }
      PutBigEndian(key, bits, bytes, false, ascending);
      break;
    }
    case ColumnType::Text: {
      std::size_t len = std::min<std::size_t>(cell.text.size(), 255);
      while (len > 0 && cell.text[len - 1] == u' ') --len;  // trailing spaces do not count
      std::string part;
      for (std::size_t k = 0; k < len; ++k) {
        std::uint8_t second = 0;
        auto code = GeneralTextCode(cell.text[k], &second);
        if (!code) {
          throw Error(ErrorCode::Unsupported,
                      what + ": the text holds a character (U+" + [&] {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(cell.text[k]));
                        return std::string(buf);
                      }() + ") that this writer cannot place in an index key");
        }
        part.push_back(static_cast<char>(*code));
        if (second) part.push_back(static_cast<char>(second));
      }
      part.push_back(0x01);  // end of the text
      if (ascending) {
        *key += part;
      } else {
        part.push_back(0x00);
        for (char& ch : part) ch = static_cast<char>(~ch);
        *key += part;
      }
      key->push_back(0x00);
      break;
    }
    default:
      throw Error(ErrorCode::Unsupported, what + ": columns of this type cannot be index keys in this writer");
  }
}

}  // namespace jet
