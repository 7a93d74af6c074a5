// SELECT: the select list, grouping with aggregates, ORDER BY and TOP.

#include <algorithm>

#include "jet/sql/executor.h"
#include "jet/sql/lexer.h"
#include "jet/sql/result_rows.h"

namespace jet::sql {
namespace {

bool HasAggregate(const Expr& e) {
  if (e.kind == Expr::Kind::Call && IsAggregate(e.function)) return true;
  return std::any_of(e.args.begin(), e.args.end(), [](const ExprPtr& a) { return HasAggregate(*a); });
}

// Whether two bound expressions compute the same thing, as a selected Year([Date]) and
// the Year(Date) of the GROUP BY clause do.
bool SameExpr(const Expr& a, const Expr& b) {
  if (a.kind != b.kind || a.args.size() != b.args.size() || a.negated != b.negated) return false;
  switch (a.kind) {
    case Expr::Kind::Literal:
      if (a.literal.kind != b.literal.kind) return false;
      if (!a.literal.IsNull() && CompareValues(a.literal, b.literal) != 0) return false;
      break;
    case Expr::Kind::Column:
    case Expr::Kind::Slot:
      if (a.column != b.column) return false;
      break;
    case Expr::Kind::Compare:
      if (a.op != b.op) return false;
      break;
    case Expr::Kind::Call:
      if (a.function != b.function) return false;
      break;
    case Expr::Kind::InSubquery: return &a == &b;
    default: break;
  }
  for (std::size_t k = 0; k < a.args.size(); ++k) {
    if (!SameExpr(*a.args[k], *b.args[k])) return false;
  }
  return true;
}

class SelectRun {
 public:
  SelectRun(Executor& x, SelectStmt& s) : x_(x), s_(s), table_(x.OpenTable(s.table)) {
    scope_.table = &table_;
    scope_.alias = s.table.alias;
    scope_.used.assign(table_.Columns().size(), false);
  }

  Result Run() {
    grouped_ = !s_.group.empty() || s_.having ||
               std::any_of(s_.items.begin(), s_.items.end(),
                           [](const SelectItem& i) { return i.expr && HasAggregate(*i.expr); }) ||
               std::any_of(s_.order.begin(), s_.order.end(), [](const OrderKey& k) { return HasAggregate(*k.expr); });
    Result result;
    result.is_query = true;
    BindItems(&result.column_names);
    BindClauses();
    BindOrder();
    if (grouped_) GroundAll();
    SortedRows rows(sort_keys_, s_.top);
    if (grouped_) {
      CollectGroups(rows);
    } else {
      Collect(rows);
    }
    result.rows = rows.Take();
    x_.CheckDeadline();
    return result;
  }

 private:
  void BindItems(std::vector<std::string>* names) {
    const auto& columns = table_.Columns();
    scope_.clause = "select list";
    scope_.aggregates = grouped_;
    int unnamed = 1000;
    for (SelectItem& item : s_.items) {
      if (item.kind == SelectItem::Kind::AllColumns) {
        if (grouped_) ThrowSyntax(x_.command(), item.offset, "cannot group on the columns selected with '*'");
        if (!item.qualifier.empty() && !NamesTable(scope_, item.qualifier)) {
          throw Error(ErrorCode::UnknownTable, "Table '" + item.qualifier + "' is not named in the FROM clause");
        }
        for (std::size_t k = 0; k < columns.size(); ++k) {
          auto col = std::make_unique<Expr>();
          col->kind = Expr::Kind::Column;
          col->column = static_cast<int>(k);
          scope_.used[k] = true;
          outputs_.push_back(col.get());
          expanded_.push_back(std::move(col));
          names->push_back(columns[k].name);
        }
        continue;
      }
      x_.Bind(*item.expr, scope_);
      outputs_.push_back(item.expr.get());
      if (!item.alias.empty()) {
        aliases_.emplace_back(item.alias, outputs_.size() - 1);
        names->push_back(item.alias);
      } else if (item.expr->kind == Expr::Kind::Column) {
        names->push_back(item.expr->name);
      } else {
        names->push_back("Expr" + std::to_string(unnamed++));
      }
    }
  }

  void BindClauses() {
    scope_.aggregates = false;
    if (s_.where) {
      scope_.clause = "WHERE clause";
      x_.CheckCondition(*s_.where, x_.Bind(*s_.where, scope_));
    }
    scope_.clause = "GROUP BY clause";
    for (ExprPtr& g : s_.group) x_.Bind(*g, scope_);
    if (s_.having) {
      scope_.clause = "HAVING clause";
      scope_.aggregates = true;
      x_.CheckCondition(*s_.having, x_.Bind(*s_.having, scope_));
    }
  }

  // ORDER BY names an output column by its position (ORDER BY 1) or its alias, or gives
  // an expression of its own.
  void BindOrder() {
    scope_.clause = "ORDER BY clause";
    scope_.aggregates = grouped_;
    for (OrderKey& key : s_.order) {
      SortKey sort;
      sort.descending = key.descending;
      sort.output = OutputNamed(*key.expr);
      if (sort.output < 0) x_.Bind(*key.expr, scope_);
      sort_exprs_.push_back(sort.output < 0 ? key.expr.get() : nullptr);
      sort_keys_.push_back(sort);
    }
  }

  int OutputNamed(const Expr& e) const {
    if (e.kind == Expr::Kind::Literal && e.literal.kind == Value::Kind::Integer) {
      if (e.literal.i < 1 || e.literal.i > static_cast<std::int64_t>(outputs_.size())) {
        ThrowSyntax(x_.command(), e.offset,
                    "ORDER BY " + std::to_string(e.literal.i) + " names no column: the query shows " +
                        std::to_string(outputs_.size()) + (outputs_.size() == 1 ? " column" : " columns"));
      }
      return static_cast<int>(e.literal.i - 1);
    }
    if (e.kind != Expr::Kind::Column || !e.qualifier.empty()) return -1;
    for (const auto& [alias, output] : aliases_) {
      if (SameName(alias, e.name)) return static_cast<int>(output);
    }
    return -1;
  }

  // Turns what a grouped query shows into values of its groups: each aggregate, and each
  // expression the GROUP BY clause names, becomes a slot of the group's row.
  void GroundAll() {
    for (Expr* e : outputs_) Ground(*e, "select list");
    for (Expr* e : sort_exprs_) {
      if (e != nullptr) Ground(*e, "ORDER BY clause");
    }
    if (s_.having) Ground(*s_.having, "HAVING clause");
  }

  void Ground(Expr& e, const char* clause) {
    if (e.kind == Expr::Kind::Call && IsAggregate(e.function)) {
      aggregate_functions_.push_back(e.function);
      aggregate_args_.push_back(e.args.empty() ? nullptr : std::move(e.args[0]));
      MakeSlot(e, s_.group.size() + aggregate_args_.size() - 1);
      return;
    }
    for (std::size_t k = 0; k < s_.group.size(); ++k) {
      if (SameExpr(e, *s_.group[k])) return MakeSlot(e, k);
    }
    if (e.kind == Expr::Kind::Column) {
      std::string shown = e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
      throw Error(ErrorCode::Syntax, "You tried to execute a query that does not include the specified expression '" +
                                         shown + "' as part of an aggregate function (" + clause + ", position " +
                                         x_.Position(e.offset) + ")");
    }
    std::size_t n = e.kind == Expr::Kind::InSubquery ? 1 : e.args.size();
    for (std::size_t k = 0; k < n; ++k) Ground(*e.args[k], clause);
  }

  static void MakeSlot(Expr& e, std::size_t column) {
    e.kind = Expr::Kind::Slot;
    e.column = static_cast<int>(column);
    e.args.clear();
  }

  Row Evaluate(const std::vector<Expr*>& exprs, const Row& row) const {
    Row out;
    out.reserve(exprs.size());
    for (const Expr* e : exprs) out.push_back(e != nullptr ? x_.Eval(*e, row) : Value());
    return out;
  }

  void Collect(SortedRows& rows) {
    const Expr* where = s_.where.get();
    x_.ScanTable(table_, scope_.used, [&](RowId, const Row& row) {
      if (where != nullptr && x_.Condition(*where, row) != Truth::True) return true;
      return rows.Add(Evaluate(outputs_, row), Evaluate(sort_exprs_, row));
    });
  }

  void CollectGroups(SortedRows& rows) {
    const Expr* where = s_.where.get();
    std::vector<Expr*> keys, args;
    for (const ExprPtr& g : s_.group) keys.push_back(g.get());
    for (const ExprPtr& a : aggregate_args_) args.push_back(a.get());
    Groups groups(aggregate_functions_, !s_.group.empty());
    x_.ScanTable(table_, scope_.used, [&](RowId, const Row& row) {
      if (where == nullptr || x_.Condition(*where, row) == Truth::True) {
        groups.Add(Evaluate(keys, row), Evaluate(args, row));
      }
      return true;
    });
    for (const Row& group : groups.Take()) {
      if (s_.having && x_.Condition(*s_.having, group) != Truth::True) continue;
      if (!rows.Add(Evaluate(outputs_, group), Evaluate(sort_exprs_, group))) break;
    }
  }

  Executor& x_;
  SelectStmt& s_;
  TableSource& table_;
  Scope scope_;
  bool grouped_ = false;
  std::vector<ExprPtr> expanded_;  // the columns a * stands for
  std::vector<Expr*> outputs_;
  std::vector<std::pair<std::string, std::size_t>> aliases_;  // AS names and their output
  std::vector<SortKey> sort_keys_;
  std::vector<Expr*> sort_exprs_;  // per sort key: its expression, nullptr for an output column
  std::vector<Function> aggregate_functions_;
  std::vector<ExprPtr> aggregate_args_;  // nullptr for COUNT(*)
};

}  // namespace

Result RunSelect(Executor& x, SelectStmt& s) { return SelectRun(x, s).Run(); }

}  // namespace jet::sql
