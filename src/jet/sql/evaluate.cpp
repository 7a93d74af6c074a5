// Expressions on one row, with NULL in three-valued logic as Jet has it.

#include "jet/sql/executor.h"
#include "jet/sql/lexer.h"

namespace jet::sql {
namespace {

const Value& ColumnValue(const Row& row, int column) {
  static const Value kNull;
  auto k = static_cast<std::size_t>(column);
  return column >= 0 && k < row.size() ? row[k] : kNull;
}

}  // namespace

const Value& Executor::Operand(const Expr& e, const Row& row, Value& scratch) const {
  if (e.kind == Expr::Kind::Column || e.kind == Expr::Kind::Slot) return ColumnValue(row, e.column);
  if (e.kind == Expr::Kind::Literal) return e.literal;
  scratch = Eval(e, row);
  return scratch;
}

int Executor::Compare(const Value& a, const Value& b, std::size_t offset) const {
  CheckComparable(offset, CategoryOf(a.kind), CategoryOf(b.kind));
  return CompareValues(a, b);
}

Truth Executor::Condition(const Expr& e, const Row& row) const {
  // A comparison, the usual condition, without making a value of its answer.
  if (e.kind == Expr::Kind::Compare) return CompareTruth(e, row);
  Value scratch;
  const Value& v = Operand(e, row, scratch);
  auto t = TruthOf(v);
  if (!t) Mismatch(e.offset, std::string(CategoryName(CategoryOf(v.kind))) + " used as a condition");
  return *t;
}

Truth Executor::EvalIn(const Expr& e, const Row& row) const {
  Value scratch;
  const Value& x = Operand(*e.args[0], row, scratch);
  if (e.kind == Expr::Kind::InSubquery) {
    const ValueSet& set = *e.set;
    if (set.values.empty() && !set.has_null) return Truth::False;
    if (x.IsNull()) return Truth::Unknown;
    if (!set.values.empty()) {
      // The set holds one column's values; checking against any one of them tells
      // whether the two kinds compare at all.
      CheckComparable(e.offset, CategoryOf(x.kind), CategoryOf(set.values.begin()->kind));
    }
    if (set.values.count(x) != 0) return Truth::True;
    return set.has_null ? Truth::Unknown : Truth::False;
  }
  if (x.IsNull()) return Truth::Unknown;
  bool saw_null = false;
  for (std::size_t k = 1; k < e.args.size(); ++k) {
    Value item_scratch;
    const Value& item = Operand(*e.args[k], row, item_scratch);
    if (item.IsNull()) {
      saw_null = true;
    } else if (Compare(x, item, e.args[k]->offset) == 0) {
      return Truth::True;
    }
  }
  return saw_null ? Truth::Unknown : Truth::False;
}

Truth Executor::EvalBetween(const Expr& e, const Row& row) const {
  Value s0, s1, s2;
  const Value& x = Operand(*e.args[0], row, s0);
  const Value* lo = &Operand(*e.args[1], row, s1);
  const Value* hi = &Operand(*e.args[2], row, s2);
  if (x.IsNull() || lo->IsNull() || hi->IsNull()) return Truth::Unknown;
  // Jet takes the two bounds in either order.
  if (Compare(*lo, *hi, e.args[2]->offset) > 0) std::swap(lo, hi);
  bool in = Compare(x, *lo, e.args[1]->offset) >= 0 && Compare(x, *hi, e.args[2]->offset) <= 0;
  return in ? Truth::True : Truth::False;
}

Truth Executor::EvalLike(const Expr& e, const Row& row) const {
  Value s0, s1;
  const Value& x = Operand(*e.args[0], row, s0);
  const Value& p = Operand(*e.args[1], row, s1);
  if (x.IsNull() || p.IsNull()) return Truth::Unknown;
  auto text = ToText(x);
  if (!text) Mismatch(e.offset, std::string(CategoryName(CategoryOf(x.kind))) + " in LIKE");
  std::shared_ptr<const LikePattern> pattern = e.pattern;
  if (!pattern) pattern = CompilePattern(p, e.args[1]->offset);
  return pattern->Matches(*text) ? Truth::True : Truth::False;
}

Value Executor::EvalCompare(const Expr& e, const Row& row) const { return Boolean(CompareTruth(e, row)); }

Truth Executor::CompareTruth(const Expr& e, const Row& row) const {
  Value s0, s1;
  const Value& a = Operand(*e.args[0], row, s0);
  const Value& b = Operand(*e.args[1], row, s1);
  if (a.IsNull() || b.IsNull()) return Truth::Unknown;
  const int c = Compare(a, b, e.args[1]->offset);
  bool holds = false;
  switch (e.op) {
    case CompareOp::Eq: holds = c == 0; break;
    case CompareOp::Ne: holds = c != 0; break;
    case CompareOp::Lt: holds = c < 0; break;
    case CompareOp::Le: holds = c <= 0; break;
    case CompareOp::Gt: holds = c > 0; break;
    case CompareOp::Ge: holds = c >= 0; break;
  }
  return holds ? Truth::True : Truth::False;
}

Value Executor::EvalLogical(const Expr& e, const Row& row) const {
  // Three-valued: one False decides an AND, one True an OR; otherwise any Unknown
  // makes the whole Unknown.
  Truth decisive = e.kind == Expr::Kind::And ? Truth::False : Truth::True;
  bool unknown = false;
  for (const auto& a : e.args) {
    Truth t = Condition(*a, row);
    if (t == decisive) return Boolean(decisive);
    if (t == Truth::Unknown) unknown = true;
  }
  return Boolean(unknown ? Truth::Unknown : Negated(decisive));
}

Value Executor::EvalCall(const Expr& e, const Row& row) const {
  // Aggregates were turned into their group's values before any row is read.
  if (IsAggregate(e.function)) {
    ThrowSyntax(command_, e.offset, "the aggregate function " + e.name + " cannot be used here");
  }
  Value scratch;
  const Value& v = Operand(*e.args[0], row, scratch);
  if (v.IsNull()) return Value::Null();
  auto t = CivilOf(v);
  if (!t) {
    std::string what = CategoryName(CategoryOf(v.kind));
    Mismatch(e.args[0]->offset, what + " that is not a date in " + e.name + "()");
  }
  switch (e.function) {
    case Function::Year: return Value::Int(t->year);
    case Function::Month: return Value::Int(t->month);
    default: return Value::Int(t->day);
  }
}

Value Executor::Eval(const Expr& e, const Row& row) const {
  switch (e.kind) {
    case Expr::Kind::Literal: return e.literal;
    case Expr::Kind::Column:
    case Expr::Kind::Slot: return ColumnValue(row, e.column);
    case Expr::Kind::Negate: {
      Value scratch;
      const Value& v = Operand(*e.args[0], row, scratch);
      auto negative = Negative(v);
      if (!negative) Mismatch(e.offset, std::string("minus applied to ") + CategoryName(CategoryOf(v.kind)));
      return std::move(*negative);
    }
    case Expr::Kind::Not: return Boolean(Negated(Condition(*e.args[0], row)));
    case Expr::Kind::And:
    case Expr::Kind::Or: return EvalLogical(e, row);
    case Expr::Kind::Compare: return EvalCompare(e, row);
    case Expr::Kind::IsNull: {
      Value scratch;
      return Value::Bool(Operand(*e.args[0], row, scratch).IsNull() != e.negated);
    }
    case Expr::Kind::InList:
    case Expr::Kind::InSubquery: {
      Truth t = EvalIn(e, row);
      return Boolean(e.negated ? Negated(t) : t);
    }
    case Expr::Kind::Between: {
      Truth t = EvalBetween(e, row);
      return Boolean(e.negated ? Negated(t) : t);
    }
    case Expr::Kind::Like: {
      Truth t = EvalLike(e, row);
      return Boolean(e.negated ? Negated(t) : t);
    }
    case Expr::Kind::Call: return EvalCall(e, row);
  }
  return Value::Null();
}

}  // namespace jet::sql
