#pragma once
// Turns a command into a statement tree. Keywords are recognised in any letter case;
// names are bare words or [bracketed] / `quoted` (which allows spaces and reserved
// words). Throws a Syntax error naming the position of the first token it cannot use.

#include <string_view>

#include "jet/sql/ast.h"

namespace jet::sql {

Statement Parse(std::string_view command);

}  // namespace jet::sql
