#pragma once
// How the SQL layer treats values: which kinds compare with which, in what order, how
// they read as text, and how a literal becomes the type of the column it goes into.
//
// Text compares the way Jet's General sort order does for the characters the job meets:
// ASCII letters without regard to case, every other UTF-8 byte by its value. Accents
// and the finer points of the Windows collation are not modelled.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "jet/datetime.h"
#include "jet/format/text.h"
#include "jet/table_source.h"
#include "jet/value.h"

namespace jet::sql {

// Families of values that may be compared with each other. Numbers (Yes/No included)
// and dates compare with each other; every other family only with itself.
enum class Category { Null, Number, Date, Text, Binary, Guid };

Category CategoryOf(Value::Kind kind);
Category CategoryOf(ColumnType type);
bool Comparable(Category a, Category b);  // Null is comparable with everything
const char* CategoryName(Category c);

int CompareText(std::string_view a, std::string_view b);

// Orders two non-NULL values of comparable categories (<0, 0, >0). Integers and
// fixed-point values compare exactly; once a Single or Double is involved, as doubles.
// Dates compare by the moment they stand for, a number with a date as a day count.
int CompareValues(const Value& a, const Value& b);

// Agrees with CompareValues: values that compare equal hash alike.
std::size_t HashValue(const Value& v);

// The numeric value of a number, Yes/No (-1 / 0) or date (its day count).
double ToDouble(const Value& v);

// A value as Jet shows it in text: numbers in their shortest form, Yes/No as -1 / 0,
// dates as month/day/year with the time in 12-hour form. Binary and GUID values yield
// nullopt.
std::optional<std::string> ToText(const Value& v);

enum class Truth { False, True, Unknown };
// NULL is Unknown; numbers, Yes/No and dates are True when non-zero. Text has no truth
// value (nullopt).
std::optional<Truth> TruthOf(const Value& v);

// A numeric literal: digits with an optional fraction and exponent, no sign. Whole
// numbers become Integer when they fit, exact fractions Decimal, the rest Double.
// Accepts an optional sign and surrounding blanks when `lenient` (text converted to a
// number). nullopt when the text is not such a number.
std::optional<Value> ParseNumber(std::string_view text, bool lenient);

// A date as Jet reads it in #...# or in text: month/day/year or year-month-day,
// optionally followed by a time h:mm[:ss] [AM|PM], or a time alone. Two-digit years
// fall in 1930..2029. nullopt when not a real date and time.
std::optional<double> ParseDate(std::string_view text);

// -v, for numbers, Yes/No (as -1 / 0) and dates (a Double); nullopt for other kinds.
// Integers and Currency that have no negative of their own kind become Decimal.
std::optional<Value> Negative(const Value& v);

// The calendar date and time a value stands for, as Year() and Month() read it: a date,
// a number as a day count, or text holding a date. nullopt when it stands for none.
std::optional<CivilTime> CivilOf(const Value& v);

// The value as SQL reads it for a column of the given type, before the table makes it
// the column's cell (jet/row/cell.h): text read as the number, date, Yes/No or GUID the
// column takes, other values written as text for a text column, and a Decimal column's
// value converted by SQL, as no table stores one. nullopt for text that reads as none of
// them. NULL stays NULL.
std::optional<Value> ReadForColumn(const Value& v, ColumnType type);

}  // namespace jet::sql
