// The statements that change a table: DELETE and INSERT.

#include <numeric>
#include <optional>

#include "jet/sql/executor.h"
#include "jet/sql/lexer.h"

namespace jet::sql {
namespace {

const char* ColumnTypeName(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: return "Yes/No";
    case ColumnType::Byte: return "Byte";
    case ColumnType::Integer: return "Integer";
    case ColumnType::Long: return "Long Integer";
    case ColumnType::Currency: return "Currency";
    case ColumnType::Single: return "Single";
    case ColumnType::Double: return "Double";
    case ColumnType::DateTime: return "Date/Time";
    case ColumnType::Binary: return "Binary";
    case ColumnType::Text: return "Text";
    case ColumnType::Ole: return "OLE Object";
    case ColumnType::Memo: return "Memo";
    case ColumnType::Guid: return "Replication ID";
    case ColumnType::Numeric: return "Decimal";
  }
  return "unknown";
}

// A WHERE that compares a Date/Time column with a constant date or number: the table may
// test it on its stored rows. Any other condition is judged on each row's values.
std::optional<DateComparison> AsDateComparison(const Expr* where, const TableSource& t) {
  if (where == nullptr || where->kind != Expr::Kind::Compare) return std::nullopt;
  const Expr* column = where->args[0].get();
  const Expr* constant = where->args[1].get();
  CompareOp op = where->op;
  if (column->kind != Expr::Kind::Column) {
    std::swap(column, constant);
    // c < x is x > c.
    if (op == CompareOp::Lt) op = CompareOp::Gt;
    else if (op == CompareOp::Gt) op = CompareOp::Lt;
    else if (op == CompareOp::Le) op = CompareOp::Ge;
    else if (op == CompareOp::Ge) op = CompareOp::Le;
  }
  if (column->kind != Expr::Kind::Column || constant->kind != Expr::Kind::Literal || column->column < 0)
    return std::nullopt;
  const auto k = static_cast<std::size_t>(column->column);
  if (k >= t.Columns().size() || t.Columns()[k].type != ColumnType::DateTime) return std::nullopt;
  const Category category = CategoryOf(constant->literal.kind);
  if (category != Category::Date && category != Category::Number) return std::nullopt;
  using Op = DateComparison::Op;
  static constexpr Op kOps[] = {Op::Eq, Op::Ne, Op::Lt, Op::Le, Op::Gt, Op::Ge};  // CompareOp's order
  return DateComparison{k, kOps[static_cast<int>(op)], ToDouble(constant->literal)};
}

}  // namespace

Result Executor::RunDelete(DeleteStmt& d) {
  TableSource& t = OpenTable(d.table);
  Scope scope{&t, d.table.alias, nullptr, std::vector<bool>(t.Columns().size(), false)};
  if (d.where) CheckCondition(*d.where, Bind(*d.where, scope));
  const Expr* where = d.where.get();
  CheckDeadline();
  std::size_t count = 0;
  const std::optional<DateComparison> same = AsDateComparison(where, t);
  Result result;
  result.affected = t.DeleteWhere(
      scope.used,
      [&](const Row& row) {
        if (++count % kRowsPerClockCheck == 0) CheckDeadline();
        return where == nullptr || Condition(*where, row) == Truth::True;
      },
      same ? &*same : nullptr);
  return result;
}

Result Executor::RunInsert(InsertStmt& ins) {
  TableSource& t = OpenTable(ins.table);
  const auto& columns = t.Columns();
  std::vector<std::size_t> targets;
  if (ins.has_columns) {
    std::vector<bool> named(columns.size(), false);
    for (const auto& [name, offset] : ins.columns) {
      int idx = FindColumn(t, name);
      if (idx < 0) throw Error(ErrorCode::UnknownColumn, "Column '" + name + "' does not exist in table '" + t.Name() + "'");
      auto k = static_cast<std::size_t>(idx);
      if (named[k]) ThrowSyntax(command_, offset, "the column " + name + " is named twice");
      named[k] = true;
      targets.push_back(k);
    }
  } else {
    targets.resize(columns.size());
    std::iota(targets.begin(), targets.end(), 0);
  }
  if (ins.values.size() != targets.size()) {
    ThrowSyntax(command_, ins.values_offset,
                "the command gives " + std::to_string(ins.values.size()) + " values for " +
                    std::to_string(targets.size()) + " columns");
  }
  std::vector<std::size_t> value_of(columns.size(), 0);  // which value goes into each column
  for (std::size_t k = 0; k < targets.size(); ++k) value_of[targets[k]] = k;
  auto misfit = [&](std::size_t column) {
    const ColumnInfo& col = columns[column];
    throw Error(ErrorCode::TypeMismatch, "Data type mismatch: the value at position " +
                                             Position(ins.values[value_of[column]]->offset) +
                                             " cannot be stored in column '" + col.name + "' (" +
                                             ColumnTypeName(col.type) + ") of table '" + t.Name() + "'");
  };
  Scope none;
  none.clause = "VALUES list";
  Row row(columns.size());
  for (std::size_t k = 0; k < targets.size(); ++k) {
    Expr& e = *ins.values[k];
    Bind(e, none);
    auto read = ReadForColumn(Eval(e, Row()), columns[targets[k]].type);
    if (!read) misfit(targets[k]);
    row[targets[k]] = std::move(*read);
  }
  CheckDeadline();
  t.InsertRow(row, misfit);
  Result result;
  result.affected = 1;
  return result;
}

}  // namespace jet::sql
