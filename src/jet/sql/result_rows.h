#pragma once
// A query's rows on their way out: grouped with their aggregates, then sorted as ORDER BY
// asks and cut to TOP n. Both hold what they gather in memory; TOP n with ORDER BY
// keeps only the rows that can still make the first n.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "jet/sql/ast.h"
#include "jet/value.h"

namespace jet::sql {

// Orders two values of one sort key as Jet sorts: NULL before everything, then by
// CompareValues. Throws TypeMismatch for values that do not compare, naming `where`.
int CompareForSort(const Value& a, const Value& b, const char* where);

struct SortKey {
  int output = -1;  // >= 0: the value of that output column; else the value given with the row
  bool descending = false;
};

class SortedRows {
 public:
  // No keys: the rows stay in the order they come. `top` 0: every row.
  SortedRows(std::vector<SortKey> keys, std::int64_t top);

  // One row of the result and its sort values (one per key; those of output keys are
  // not read). False once no later row can enter the result.
  bool Add(Row output, Row values);

  // The result: sorted, then the first `top` rows and every row that ties with the last
  // of them on all the sort keys (Jet's TOP does not choose between equal values).
  std::vector<Row> Take();

 private:
  struct Entry {
    Row output;
    Row values;
    std::size_t seq = 0;  // arrival, so that equal rows keep the order they came in
  };
  const Value& KeyValue(const Entry& e, std::size_t k) const;
  int CompareKeys(const Entry& a, const Entry& b) const;
  void SortAndCut();

  std::vector<SortKey> keys_;
  std::size_t top_;
  std::vector<Entry> entries_;
  std::size_t next_cut_;
  std::size_t seq_ = 0;
};

class Groups {
 public:
  // One accumulator per aggregate. Without GROUP BY (`keyed` false) there is always
  // exactly one group, even over no rows.
  Groups(std::vector<Function> aggregates, bool keyed);

  // Adds a row to the group of `key`: `args` holds each aggregate's argument for the row
  // (ignored for COUNT(*)). Keys compare as WHERE compares them: text without case, NULL
  // with NULL.
  void Add(Row key, const Row& args);

  // One row per group, ordered by the key: the key's values, then each aggregate's
  // result (COUNT as an integer, MIN and MAX as the value found, NULL over no values).
  std::vector<Row> Take();

 private:
  struct KeyHash {
    std::size_t operator()(const Row& r) const;
  };
  struct KeyEqual {
    bool operator()(const Row& a, const Row& b) const;
  };
  struct Accumulator {
    std::int64_t count = 0;
    Value best;
  };
  void Accumulate(std::vector<Accumulator>& acc, const Row& args) const;

  std::vector<Function> aggregates_;
  bool keyed_;
  std::unordered_map<Row, std::vector<Accumulator>, KeyHash, KeyEqual> groups_;
};

}  // namespace jet::sql
