#pragma once
// The journal the benchmarks write, as make-site lays it out: the Log table with its
// primary key and date index, and the row of the k-th event.

#include <cstdio>
#include <string>

#include "jet/database_writer.h"

namespace bench {

inline jet::create::TableWriter& AddLogTable(jet::create::DatabaseWriter& db) {
  using jet::ColumnType;
  jet::create::IndexSpec pk;
  pk.name = "PrimaryKey";
  pk.columns = {"ID"};
  pk.primary = true;
  jet::create::IndexSpec by_date;
  by_date.name = "Date";
  by_date.columns = {"Date"};
  return db.AddTable("Log",
                     {{"ID", ColumnType::Long, 0, true, true}, {"Date", ColumnType::DateTime},
                      {"EventType", ColumnType::Integer}, {"CardNumber", ColumnType::Text, 20},
                      {"Message", ColumnType::Text, 255}},
                     {pk, by_date});
}

// The k-th event at `when` (days since 1899-12-30), its ID left to the autonumber.
inline jet::Row EventRow(int k, double when) {
  char card[16];
  std::snprintf(card, sizeof card, "%08X", static_cast<unsigned>(k * 2654435761u));
  return {jet::Value::Null(), jet::Value::DateValue(when), jet::Value::Int(k % 21 + 1), jet::Value::Str(card),
          jet::Value::Str("Access granted at door " + std::to_string(k % 200))};
}

}  // namespace bench
