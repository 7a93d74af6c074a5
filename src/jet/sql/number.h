#pragma once
// Exact numbers for the SQL layer: integers, Currency and Decimal values held as a
// 128-bit unscaled value and a scale, so that they compare and convert without the
// rounding a double would bring.

#include <optional>
#include <string>

#include "jet/value.h"

namespace jet::sql {

__extension__ typedef unsigned __int128 UInt128;

constexpr Int128 kInt128Max = static_cast<Int128>(~static_cast<UInt128>(0) >> 1);
constexpr int kMaxPow10 = 38;  // 10^38 still fits in a signed 128-bit integer

Int128 Pow10(int k);

// A value held exactly: unscaled / 10^scale.
struct Exact {
  Int128 v = 0;
  int scale = 0;
};

// Yes/No, integers, Currency and Decimal; nullopt for every other kind.
std::optional<Exact> AsExact(const Value& x);
// v * 10^k into *out; false when it does not fit.
bool ScaleUp(Int128 v, int k, Int128* out);
// v / 10^k rounded half to even, as Jet rounds when a value loses digits.
Int128 ScaleDown(Int128 v, int k);
// The decimal text of unscaled / 10^scale; `trim` drops trailing zeros of the fraction.
std::string ExactText(Int128 v, int scale, bool trim);
double ExactToDouble(const Exact& e);

inline bool IsFloating(Value::Kind k) { return k == Value::Kind::Single || k == Value::Kind::Double; }

}  // namespace jet::sql
