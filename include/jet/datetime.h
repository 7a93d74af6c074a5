#pragma once
// Jet's Date/Time: a double counting days from 30 December 1899, the fraction being the
// time of day. Before that day the integer part counts back while the fraction still
// counts forward: -1.25 is 29 December 1899, 06:00.

#include <cmath>
#include <cstdint>
#include <string>

namespace jet {

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
};

bool IsValidCivil(const CivilTime& t);  // a real calendar date in years 100..9999 and a real time

double ToJetDate(const CivilTime& t);
// To the millisecond, then the fraction of a second dropped; false when the value lies outside years 100..9999.
bool FromJetDate(double v, CivilTime* out);

// A number that grows with time, for comparing Jet dates (the raw double does not
// order correctly before 1899-12-30 when there is a time of day).
inline double JetDateOrdinal(double v) {
  const double whole = std::trunc(v);
  return whole + std::fabs(v - whole);
}
// -1, 0 or 1 as `a` comes before, with or after `b` in time. A value with no place in
// time (NaN, an infinity) equals another such and comes before every other value.
inline int CompareJetDates(double a, double b) {
  a = JetDateOrdinal(a);
  b = JetDateOrdinal(b);
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

// "YYYY-MM-DD HH:MM:SS"; out-of-range values print as the raw number.
std::string FormatJetDate(double v);

}  // namespace jet
