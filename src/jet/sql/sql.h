#pragma once
// SQL on a Jet database: the statements the maintenance job sends and those an
// administrator needs to look at a database before a purge.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/table_source.h"
#include "jet/value.h"

namespace jet::sql {

struct Result {
  bool is_query = false;                  // SELECT: the rows below; otherwise `affected`
  std::vector<std::string> column_names;  // as the query names them
  std::vector<Row> rows;
  std::int64_t affected = 0;              // rows deleted or inserted
};

struct ExecuteOptions {
  double timeout_seconds = 0;  // 0: no limit; past it the statement fails with ErrorCode::Timeout
};

// Parses and runs one statement. Throws jet::Error: Syntax (with the position) for text
// outside the supported language, UnknownTable / UnknownColumn, TypeMismatch, and
// whatever the tables report.
Result Execute(Schema& schema, std::string_view command, const ExecuteOptions& options = {});

}  // namespace jet::sql
