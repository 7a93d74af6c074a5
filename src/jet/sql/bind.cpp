// Binding: names to columns, subqueries to their values, and the type checks that can be
// made before a row is read.

#include "jet/sql/executor.h"
#include "jet/sql/lexer.h"

namespace jet::sql {

Category Executor::BindColumn(Expr& e, Scope& scope) {
  if (scope.table == nullptr) ThrowSyntax(command_, e.offset, "a value cannot refer to the column '" + e.name + "'");
  std::string shown = e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
  std::string where = std::string(" (in the ") + scope.clause + ")";
  const Scope* outer = scope.outer;
  if (!e.qualifier.empty() && !NamesTable(scope, e.qualifier)) {
    for (const Scope* o = outer; o != nullptr; o = o->outer) {
      if (NamesTable(*o, e.qualifier)) {
        throw Error(ErrorCode::Unsupported,
                    "A subquery cannot refer to the outer table: '" + shown + "' at position " + Position(e.offset));
      }
    }
    throw Error(ErrorCode::UnknownColumn,
                "Column '" + shown + "' does not exist: the command names no table '" + e.qualifier + "'" + where);
  }
  int idx = FindColumn(*scope.table, e.name);
  if (idx < 0) {
    for (const Scope* o = outer; o != nullptr && e.qualifier.empty(); o = o->outer) {
      if (o->table != nullptr && FindColumn(*o->table, e.name) >= 0) {
        throw Error(ErrorCode::Unsupported, "A subquery cannot refer to the outer table: column '" + e.name + "' of '" +
                                                o->table->Name() + "' at position " + Position(e.offset));
      }
    }
    throw Error(ErrorCode::UnknownColumn,
                "Column '" + e.name + "' does not exist in table '" + scope.table->Name() + "'" + where);
  }
  e.column = idx;
  scope.used[static_cast<std::size_t>(idx)] = true;
  return CategoryOf(scope.table->Columns()[static_cast<std::size_t>(idx)].type);
}

Category Executor::BindCall(Expr& e, Scope& scope) {
  if (!IsAggregate(e.function)) {
    Category c = Bind(*e.args[0], scope);
    if (c == Category::Binary || c == Category::Guid) {
      Mismatch(e.offset, std::string(CategoryName(c)) + " in " + e.name + "()");
    }
    return c == Category::Null ? Category::Null : Category::Number;
  }
  if (!scope.aggregates) {
    ThrowSyntax(command_, e.offset, "the aggregate function " + e.name + " cannot be used in the " + scope.clause);
  }
  if (e.function == Function::CountStar) return Category::Number;
  // An aggregate's argument is read row by row: no aggregate can stand inside it.
  const char* clause = scope.clause;
  scope.aggregates = false;
  scope.clause = "argument of an aggregate function";
  Category c = Bind(*e.args[0], scope);
  scope.aggregates = true;
  scope.clause = clause;
  return e.function == Function::Count ? Category::Number : c;
}

Category Executor::Bind(Expr& e, Scope& scope) {
  switch (e.kind) {
    case Expr::Kind::Literal: return CategoryOf(e.literal.kind);
    case Expr::Kind::Column: return BindColumn(e, scope);
    case Expr::Kind::Negate: {
      Category c = Bind(*e.args[0], scope);
      if (!IsCondition(c)) Mismatch(e.offset, std::string("minus applied to ") + CategoryName(c));
      return c == Category::Null ? Category::Null : Category::Number;
    }
    case Expr::Kind::Not:
    case Expr::Kind::And:
    case Expr::Kind::Or:
      for (auto& a : e.args) CheckCondition(*a, Bind(*a, scope));
      return Category::Number;
    case Expr::Kind::Compare:
    case Expr::Kind::InList:
    case Expr::Kind::Between: {
      Category first = Bind(*e.args[0], scope);
      for (std::size_t k = 1; k < e.args.size(); ++k) CheckComparable(e.args[k]->offset, first, Bind(*e.args[k], scope));
      return Category::Number;
    }
    case Expr::Kind::IsNull: Bind(*e.args[0], scope); return Category::Number;
    case Expr::Kind::InSubquery: {
      Category first = Bind(*e.args[0], scope);
      auto [set, category] = RunSubquery(*e.subquery, scope);
      CheckComparable(e.subquery->offset, first, category);
      e.set = std::move(set);
      return Category::Number;
    }
    case Expr::Kind::Like: {
      for (auto& a : e.args) {
        Category c = Bind(*a, scope);
        if (c == Category::Binary || c == Category::Guid) Mismatch(a->offset, std::string(CategoryName(c)) + " in LIKE");
      }
      const Expr& p = *e.args[1];
      if (p.kind == Expr::Kind::Literal && !p.literal.IsNull()) e.pattern = CompilePattern(p.literal, p.offset);
      return Category::Number;
    }
    case Expr::Kind::Call: return BindCall(e, scope);
    case Expr::Kind::Slot: break;
  }
  return Category::Null;
}

std::shared_ptr<const LikePattern> Executor::CompilePattern(const Value& v, std::size_t offset) const {
  auto text = ToText(v);
  if (!text) Mismatch(offset, "binary data as a LIKE pattern");
  std::string problem;
  auto p = LikePattern::Compile(*text, &problem);
  if (!p) ThrowSyntax(command_, offset, "invalid LIKE pattern: " + problem);
  return std::make_shared<const LikePattern>(std::move(*p));
}

// Runs a one-column subquery into a set, once for the whole statement.
std::pair<std::shared_ptr<const ValueSet>, Category> Executor::RunSubquery(SelectStmt& s, Scope& outer) {
  TableSource& t = OpenTable(s.table);
  Scope scope{&t, s.table.alias, &outer, std::vector<bool>(t.Columns().size(), false)};
  if (s.items.size() != 1 || (s.items[0].kind == SelectItem::Kind::AllColumns && t.Columns().size() != 1)) {
    ThrowSyntax(command_, s.offset, "a subquery in IN must return exactly one column");
  }
  SelectItem& item = s.items[0];
  if (item.kind == SelectItem::Kind::AllColumns) {
    item.kind = SelectItem::Kind::Expression;
    item.expr = std::make_unique<Expr>();
    item.expr->kind = Expr::Kind::Column;
    item.expr->name = t.Columns()[0].name;
    item.expr->offset = item.offset;
  }
  scope.clause = "subquery";
  Category category = Bind(*item.expr, scope);
  if (s.where) CheckCondition(*s.where, Bind(*s.where, scope));

  auto set = std::make_shared<ValueSet>();
  const Expr& value = *item.expr;
  const Expr* where = s.where.get();
  ScanTable(t, scope.used, [&](RowId, const Row& row) {
    if (where != nullptr && Condition(*where, row) != Truth::True) return true;
    Value scratch;
    const Value& v = Operand(value, row, scratch);
    if (v.IsNull()) {
      set->has_null = true;
    } else {
      set->values.insert(v);
    }
    return true;
  });
  return {std::move(set), category};
}

}  // namespace jet::sql
