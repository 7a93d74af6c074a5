#include "jet/tsv.h"

#include <charconv>
#include <cstdio>

#include "jet/datetime.h"

namespace jet {
namespace {

template <class T>
std::string Shortest(T v) {
  if (v == 0) return "0";  // also -0
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (r.ec != std::errc()) return "0";
  return std::string(buf, r.ptr);
}

// `digits` (most significant first) with `scale` of them after the point.
std::string PlainDecimal(bool negative, std::string digits, unsigned scale) {
  while (digits.size() <= scale) digits.insert(digits.begin(), '0');
  std::string whole = digits.substr(0, digits.size() - scale);
  std::string frac = digits.substr(digits.size() - scale);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  bool zero = whole.find_first_not_of('0') == std::string::npos && frac.empty();
  std::string out = (negative && !zero) ? "-" : "";
  out += whole;
  if (!frac.empty()) out += "." + frac;
  return out;
}

std::string Digits(unsigned __int128 v) {
  if (v == 0) return "0";
  std::string s;
  while (v > 0) {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  }
  return s;
}

}  // namespace

std::string EscapeTsvText(const std::string& text) {
  if (text.find_first_of("\\\t\r\n") == std::string::npos) return text;
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string FormatGuid(const std::string& g) {
  if (g.size() != 16) return "{}";
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(g[static_cast<std::size_t>(i)])); };
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b(3), b(2),
                b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13), b(14), b(15));
  return buf;
}

std::string FormatTsvValue(const Value& v) {
  switch (v.kind) {
    case Value::Kind::Null: return "\\N";
    case Value::Kind::Boolean: return v.b ? "true" : "false";
    case Value::Kind::Integer: return std::to_string(v.i);
    case Value::Kind::Currency: {
      bool neg = v.i < 0;
      unsigned __int128 mag = neg ? static_cast<unsigned __int128>(-(static_cast<Int128>(v.i)))
                                  : static_cast<unsigned __int128>(v.i);
      return PlainDecimal(neg, Digits(mag), 4);
    }
    case Value::Kind::Single: return Shortest(static_cast<float>(v.d));
    case Value::Kind::Double: return Shortest(v.d);
    case Value::Kind::Decimal: {
      bool neg = v.dec < 0;
      unsigned __int128 mag = neg ? static_cast<unsigned __int128>(-v.dec) : static_cast<unsigned __int128>(v.dec);
      return PlainDecimal(neg, Digits(mag), v.scale);
    }
    case Value::Kind::Date: return FormatJetDate(v.d);
    case Value::Kind::Text: return EscapeTsvText(v.s);
    case Value::Kind::Binary: {
      static const char* hex = "0123456789abcdef";
      std::string out = "0x";
      for (unsigned char c : v.s) {
        out += hex[c >> 4];
        out += hex[c & 15];
      }
      return out;
    }
    case Value::Kind::Guid: return FormatGuid(v.s);
  }
  return "\\N";
}

std::string FormatTsvRow(const std::vector<Value>& row) {
  std::string out;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i) out += '\t';
    out += FormatTsvValue(row[i]);
  }
  return out;
}

}  // namespace jet
