#include "jet/sql/result_rows.h"

#include <algorithm>
#include <string>

#include "jet/error.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

// Rows gathered past the first `top` before those that cannot make it are dropped:
// enough that sorting is paid for by many rows, few enough to keep memory flat.
constexpr std::size_t kSlack = 1024;

int CompareRows(const Row& a, const Row& b, const char* where) {
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
    int c = CompareForSort(a[k], b[k], where);
    if (c != 0) return c;
  }
  return 0;
}

}  // namespace

int CompareForSort(const Value& a, const Value& b, const char* where) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  Category ca = CategoryOf(a.kind), cb = CategoryOf(b.kind);
  if (!Comparable(ca, cb)) {
    throw Error(ErrorCode::TypeMismatch, std::string("Data type mismatch in criteria expression (") + CategoryName(ca) +
                                             " compared with " + CategoryName(cb) + " in the " + where + ")");
  }
  return CompareValues(a, b);
}

SortedRows::SortedRows(std::vector<SortKey> keys, std::int64_t top)
    : keys_(std::move(keys)), top_(static_cast<std::size_t>(top)), next_cut_(2 * top_ + kSlack) {}

const Value& SortedRows::KeyValue(const Entry& e, std::size_t k) const {
  return keys_[k].output >= 0 ? e.output[static_cast<std::size_t>(keys_[k].output)] : e.values[k];
}

int SortedRows::CompareKeys(const Entry& a, const Entry& b) const {
  for (std::size_t k = 0; k < keys_.size(); ++k) {
    int c = CompareForSort(KeyValue(a, k), KeyValue(b, k), "ORDER BY clause");
    if (c != 0) return keys_[k].descending ? -c : c;
  }
  return 0;
}

bool SortedRows::Add(Row output, Row values) {
  entries_.push_back(Entry{std::move(output), std::move(values), seq_++});
  if (top_ == 0) return true;
  if (keys_.empty()) return entries_.size() < top_;
  if (entries_.size() >= next_cut_) {
    SortAndCut();
    // Ties can keep many rows: the next cut waits until as many again have come.
    next_cut_ = std::max(next_cut_, 2 * entries_.size());
  }
  return true;
}

void SortedRows::SortAndCut() {
  if (keys_.empty()) return;
  std::sort(entries_.begin(), entries_.end(), [&](const Entry& a, const Entry& b) {
    int c = CompareKeys(a, b);
    return c != 0 ? c < 0 : a.seq < b.seq;
  });
  if (top_ == 0 || entries_.size() <= top_) return;
  std::size_t end = top_;
  while (end < entries_.size() && CompareKeys(entries_[end], entries_[top_ - 1]) == 0) ++end;
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(end), entries_.end());
}

std::vector<Row> SortedRows::Take() {
  SortAndCut();
  std::vector<Row> rows;
  rows.reserve(entries_.size());
  for (Entry& e : entries_) rows.push_back(std::move(e.output));
  entries_.clear();
  return rows;
}

std::size_t Groups::KeyHash::operator()(const Row& r) const {
  std::size_t h = 0;
  for (const Value& v : r) h = h * 1000003u ^ HashValue(v);
  return h;
}

bool Groups::KeyEqual::operator()(const Row& a, const Row& b) const {
  return CompareRows(a, b, "GROUP BY clause") == 0;
}

Groups::Groups(std::vector<Function> aggregates, bool keyed) : aggregates_(std::move(aggregates)), keyed_(keyed) {}

void Groups::Accumulate(std::vector<Accumulator>& acc, const Row& args) const {
  for (std::size_t k = 0; k < aggregates_.size(); ++k) {
    Function f = aggregates_[k];
    if (f == Function::CountStar) {
      ++acc[k].count;
      continue;
    }
    const Value& v = args[k];
    if (v.IsNull()) continue;
    ++acc[k].count;
    if (f == Function::Count) continue;
    if (acc[k].best.IsNull()) {
      acc[k].best = v;
      continue;
    }
    int c = CompareForSort(v, acc[k].best, f == Function::Min ? "argument of MIN" : "argument of MAX");
    if (f == Function::Min ? c < 0 : c > 0) acc[k].best = v;
  }
}

void Groups::Add(Row key, const Row& args) {
  auto it = groups_.find(key);
  if (it == groups_.end()) it = groups_.emplace(std::move(key), std::vector<Accumulator>(aggregates_.size())).first;
  Accumulate(it->second, args);
}

std::vector<Row> Groups::Take() {
  if (!keyed_ && groups_.empty()) groups_.emplace(Row(), std::vector<Accumulator>(aggregates_.size()));
  std::vector<Row> rows;
  rows.reserve(groups_.size());
  for (auto& [key, acc] : groups_) {
    Row row = key;
    for (std::size_t k = 0; k < aggregates_.size(); ++k) {
      bool counting = aggregates_[k] == Function::CountStar || aggregates_[k] == Function::Count;
      row.push_back(counting ? Value::Int(acc[k].count) : std::move(acc[k].best));
    }
    rows.push_back(std::move(row));
  }
  groups_.clear();
  std::size_t width = rows.empty() ? 0 : rows[0].size() - aggregates_.size();
  std::sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    for (std::size_t k = 0; k < width; ++k) {
      int c = CompareForSort(a[k], b[k], "GROUP BY clause");
      if (c != 0) return c < 0;
    }
    return false;
  });
  return rows;
}

}  // namespace jet::sql
