#include "jet/sql/sql.h"

namespace jet::sql {

Result Execute(Schema&, std::string_view, const ExecuteOptions&) {
  throw Error(ErrorCode::Unsupported, "SQL is not available yet");
}

}  // namespace jet::sql
