#pragma once
// Jet 4 rows: the column count, the fixed area, variable data, the variable offset table
// (stored backwards) and the null mask, in which Yes/No columns keep their value. Memo and
// OLE values are a 12-byte reference, followed by the data when it is short enough to
// stay in the row, otherwise pointing to long-value pages.

#include <cstdint>
#include <string>
#include <vector>

#include "jet/create/page_store.h"
#include "jet/create/schema.h"
#include "jet/value.h"

namespace jet::create {

// A value checked and converted for one column.
struct Cell {
  bool null = true;
  std::int64_t i = 0;    // Yes/No (0/1), Byte, Integer, Long, Currency (ten-thousandths)
  double d = 0;          // Single, Double, Date/Time
  std::u16string text;   // Text, Memo
  std::string bytes;     // Binary, OLE, GUID
};

// Throws jet::Error (TypeMismatch) naming the table and column when the value does not
// fit the column.
Cell ToCell(const ColumnLayout& column, const Value& value, const std::string& table);

inline constexpr std::size_t kLongValueRefSize = 12;
inline constexpr std::size_t kMaxInlineLongValue = 64;
inline constexpr std::size_t kMaxLongValueRow = 4076;

// Places long values on pages of their own ("LVAL" pages).
class LongValueStore {
 public:
  explicit LongValueStore(PageStore* store);
  // The reference to store in the row, with the data appended when it stays inline.
  std::string Put(const std::string& data);
  std::vector<std::uint32_t> Pages() const;

 private:
  PageStore* store_;
  DataPageBuilder shared_;             // values that fit one row
  std::vector<std::uint32_t> chained_; // pages of values split over several pages
};

// `long_values` has one entry per column: where that column's long values go (null for
// columns that hold none).
std::string EncodeRow(const TableLayout& layout, const std::vector<Cell>& cells,
                      const std::vector<LongValueStore*>& long_values);

}  // namespace jet::create
