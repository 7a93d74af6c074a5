#include "jet/sql.h"

#include <exception>

#include "jet/sql/executor.h"
#include "jet/sql/lexer.h"
#include "jet/sql/parser.h"

namespace jet::sql {

int FindColumn(const TableSource& t, std::string_view name) {
  const auto& cols = t.Columns();
  for (std::size_t k = 0; k < cols.size(); ++k) {
    if (SameName(cols[k].name, name)) return static_cast<int>(k);
  }
  return -1;
}

bool NamesTable(const Scope& s, std::string_view qualifier) {
  return s.table != nullptr && (SameName(qualifier, s.table->Name()) || (!s.alias.empty() && SameName(qualifier, s.alias)));
}

bool IsCondition(Category c) { return c == Category::Null || c == Category::Number || c == Category::Date; }

Value Boolean(Truth t) { return t == Truth::Unknown ? Value::Null() : Value::Bool(t == Truth::True); }

Truth Negated(Truth t) {
  return t == Truth::Unknown ? Truth::Unknown : (t == Truth::True ? Truth::False : Truth::True);
}

Result Executor::Run(Statement& statement) {
  if (auto* s = std::get_if<SelectStmt>(&statement)) return RunSelect(*this, *s);
  if (auto* d = std::get_if<DeleteStmt>(&statement)) return RunDelete(*d);
  return RunInsert(std::get<InsertStmt>(statement));
}

std::string Executor::Position(std::size_t offset) const { return std::to_string(CharacterPosition(command_, offset)); }

void Executor::Mismatch(std::size_t offset, const std::string& what) const {
  throw Error(ErrorCode::TypeMismatch,
              "Data type mismatch in criteria expression (" + what + " at position " + Position(offset) + ")");
}

void Executor::CheckComparable(std::size_t offset, Category a, Category b) const {
  if (!Comparable(a, b)) Mismatch(offset, std::string(CategoryName(a)) + " compared with " + CategoryName(b));
}

void Executor::CheckCondition(const Expr& e, Category c) const {
  if (!IsCondition(c)) Mismatch(e.offset, std::string(CategoryName(c)) + " used as a condition");
}

TableSource& Executor::OpenTable(const TableRef& ref) {
  TableSource* t = schema_.FindTable(ref.name);
  if (t == nullptr) throw Error(ErrorCode::UnknownTable, "Table '" + ref.name + "' does not exist");
  return *t;
}

void Executor::ScanTable(TableSource& t, const std::vector<bool>& wanted,
                         const std::function<bool(RowId, const Row&)>& visit) {
  CheckDeadline();
  std::exception_ptr failure;
  std::size_t count = 0;
  // Failures leave the table's scan by returning false, so that the table never sees
  // an exception go through it.
  t.Scan(wanted, [&](RowId id, const Row& row) {
    try {
      if (++count % kRowsPerClockCheck == 0) CheckDeadline();
      return visit(id, row);
    } catch (...) {
      failure = std::current_exception();
      return false;
    }
  });
  if (failure) std::rethrow_exception(failure);
  CheckDeadline();
}

Result Execute(Schema& schema, std::string_view command, const ExecuteOptions& options) {
  Executor executor(schema, command, options);  // the timeout counts from here
  Statement statement = Parse(command);
  return executor.Run(statement);
}

}  // namespace jet::sql
