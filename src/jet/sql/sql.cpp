#include "jet/sql/sql.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <numeric>
#include <unordered_set>

#include "jet/sql/ast.h"
#include "jet/sql/lexer.h"
#include "jet/sql/like.h"
#include "jet/sql/parser.h"
#include "jet/sql/values.h"
#include "jet/write/deadline.h"

namespace jet::sql {

// The values of a subquery's column, gathered once per statement.
struct ValueSet {
  struct Hash {
    std::size_t operator()(const Value& v) const { return HashValue(v); }
  };
  struct Equal {
    bool operator()(const Value& a, const Value& b) const {
      return Comparable(CategoryOf(a.kind), CategoryOf(b.kind)) && CompareValues(a, b) == 0;
    }
  };
  std::unordered_set<Value, Hash, Equal> values;
  bool has_null = false;
};

namespace {

// The clock is read once per this many rows: often enough to stop within a fraction of
// a second, rarely enough not to show in a scan.
constexpr std::size_t kRowsPerClockCheck = 4096;

struct Scope {
  TableSource* table = nullptr;  // nullptr: no table (the values of an INSERT)
  std::string alias;
  const Scope* outer = nullptr;
  std::vector<bool> used;  // the columns the statement reads
};

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

class Executor {
 public:
  Executor(Schema& schema, std::string_view command, const ExecuteOptions& options)
      : schema_(schema), command_(command), deadline_(options.timeout_seconds) {}

  Result Run(Statement& statement) {
    if (auto* s = std::get_if<SelectStmt>(&statement)) return RunSelect(*s);
    if (auto* d = std::get_if<DeleteStmt>(&statement)) return RunDelete(*d);
    return RunInsert(std::get<InsertStmt>(statement));
  }

 private:
  std::string Position(std::size_t offset) const { return std::to_string(CharacterPosition(command_, offset)); }

  [[noreturn]] void Mismatch(std::size_t offset, const std::string& what) const {
    throw Error(ErrorCode::TypeMismatch,
                "Data type mismatch in criteria expression (" + what + " at position " + Position(offset) + ")");
  }
  void CheckComparable(std::size_t offset, Category a, Category b) const {
    if (!Comparable(a, b)) Mismatch(offset, std::string(CategoryName(a)) + " compared with " + CategoryName(b));
  }
  void CheckCondition(const Expr& e, Category c) const {
    if (!IsCondition(c)) Mismatch(e.offset, std::string(CategoryName(c)) + " used as a condition");
  }

  TableSource& OpenTable(const TableRef& ref) {
    TableSource* t = schema_.FindTable(ref.name);
    if (t == nullptr) throw Error(ErrorCode::UnknownTable, "Table '" + ref.name + "' does not exist");
    return *t;
  }

  // ---- binding: names to columns, subqueries to their values, static type checks

  Category BindColumn(Expr& e, Scope& scope) {
    if (scope.table == nullptr) ThrowSyntax(command_, e.offset, "a value cannot refer to the column '" + e.name + "'");
    std::string shown = e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
    const Scope* outer = scope.outer;
    if (!e.qualifier.empty() && !NamesTable(scope, e.qualifier)) {
      for (const Scope* o = outer; o != nullptr; o = o->outer) {
        if (NamesTable(*o, e.qualifier)) {
          throw Error(ErrorCode::Unsupported,
                      "A subquery cannot refer to the outer table: '" + shown + "' at position " + Position(e.offset));
        }
      }
      throw Error(ErrorCode::UnknownColumn,
                  "Column '" + shown + "' does not exist: the command names no table '" + e.qualifier + "'");
    }
    int idx = FindColumn(*scope.table, e.name);
    if (idx < 0) {
      for (const Scope* o = outer; o != nullptr && e.qualifier.empty(); o = o->outer) {
        if (o->table != nullptr && FindColumn(*o->table, e.name) >= 0) {
          throw Error(ErrorCode::Unsupported, "A subquery cannot refer to the outer table: column '" + e.name +
                                                  "' of '" + o->table->Name() + "' at position " +
                                                  Position(e.offset));
        }
      }
      throw Error(ErrorCode::UnknownColumn,
                  "Column '" + e.name + "' does not exist in table '" + scope.table->Name() + "'");
    }
    e.column = idx;
    scope.used[static_cast<std::size_t>(idx)] = true;
    return CategoryOf(scope.table->Columns()[static_cast<std::size_t>(idx)].type);
  }

  Category Bind(Expr& e, Scope& scope) {
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
      case Expr::Kind::CountStar:
        ThrowSyntax(command_, e.offset, "COUNT(*) can only stand alone in the column list of a SELECT");
    }
    return Category::Null;
  }

  std::shared_ptr<const LikePattern> CompilePattern(const Value& v, std::size_t offset) const {
    auto text = ToText(v);
    if (!text) Mismatch(offset, "binary data as a LIKE pattern");
    std::string problem;
    auto p = LikePattern::Compile(*text, &problem);
    if (!p) ThrowSyntax(command_, offset, "invalid LIKE pattern: " + problem);
    return std::make_shared<const LikePattern>(std::move(*p));
  }

  // Runs a one-column subquery into a set, once for the whole statement.
  std::pair<std::shared_ptr<const ValueSet>, Category> RunSubquery(SelectStmt& s, Scope& outer) {
    TableSource& t = OpenTable(s.table);
    Scope scope{&t, s.table.alias, &outer, std::vector<bool>(t.Columns().size(), false)};
    if (s.items.size() != 1 ||
        (s.items[0].kind == SelectItem::Kind::AllColumns && t.Columns().size() != 1)) {
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

  // ---- evaluation

  void ScanTable(TableSource& t, const std::vector<bool>& wanted, const std::function<bool(RowId, const Row&)>& visit) {
    deadline_.Check();
    std::exception_ptr failure;
    std::size_t count = 0;
    // Failures leave the table's scan by returning false, so that the table never sees
    // an exception go through it.
    t.Scan(wanted, [&](RowId id, const Row& row) {
      try {
        if (++count % kRowsPerClockCheck == 0) deadline_.Check();
        return visit(id, row);
      } catch (...) {
        failure = std::current_exception();
        return false;
      }
    });
    if (failure) std::rethrow_exception(failure);
    deadline_.Check();
  }

  static const Value& ColumnValue(const Row& row, int column) {
    static const Value kNull;
    auto k = static_cast<std::size_t>(column);
    return column >= 0 && k < row.size() ? row[k] : kNull;
  }

  const Value& Operand(const Expr& e, const Row& row, Value& scratch) const {
    if (e.kind == Expr::Kind::Column) return ColumnValue(row, e.column);
    if (e.kind == Expr::Kind::Literal) return e.literal;
    scratch = Eval(e, row);
    return scratch;
  }

  int Compare(const Value& a, const Value& b, std::size_t offset) const {
    Category ca = CategoryOf(a.kind), cb = CategoryOf(b.kind);
    CheckComparable(offset, ca, cb);
    return CompareValues(a, b);
  }

  Truth Condition(const Expr& e, const Row& row) const {
    Value scratch;
    const Value& v = Operand(e, row, scratch);
    auto t = TruthOf(v);
    if (!t) Mismatch(e.offset, std::string(CategoryName(CategoryOf(v.kind))) + " used as a condition");
    return *t;
  }

  Value Negate(const Value& v, std::size_t offset) const {
    switch (v.kind) {
      case Value::Kind::Null: return v;
      case Value::Kind::Boolean: return Value::Int(v.b ? 1 : 0);
      case Value::Kind::Integer:
        if (v.i == INT64_MIN) return Value::Dec(-static_cast<Int128>(v.i), 0);
        return Value::Int(-v.i);
      case Value::Kind::Currency:
        if (v.i == INT64_MIN) return Value::Dec(-static_cast<Int128>(v.i), 4);
        return Value::Money(-v.i);
      case Value::Kind::Decimal: return Value::Dec(-v.dec, v.scale);
      case Value::Kind::Single: {
        Value out = v;
        out.d = -v.d;
        return out;
      }
      case Value::Kind::Double:
      case Value::Kind::Date: return Value::Dbl(-v.d);
      default: Mismatch(offset, std::string("minus applied to ") + CategoryName(CategoryOf(v.kind)));
    }
  }

  Truth EvalIn(const Expr& e, const Row& row) const {
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

  Truth EvalBetween(const Expr& e, const Row& row) const {
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

  Truth EvalLike(const Expr& e, const Row& row) const {
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

  Value Eval(const Expr& e, const Row& row) const {
    switch (e.kind) {
      case Expr::Kind::Literal: return e.literal;
      case Expr::Kind::Column: return ColumnValue(row, e.column);
      case Expr::Kind::Negate: {
        Value scratch;
        return Negate(Operand(*e.args[0], row, scratch), e.offset);
      }
      case Expr::Kind::Not: return Boolean(Negated(Condition(*e.args[0], row)));
      case Expr::Kind::And:
      case Expr::Kind::Or: {
        // Three-valued: one False decides an AND, one True an OR; otherwise any
        // Unknown makes the whole Unknown.
        Truth decisive = e.kind == Expr::Kind::And ? Truth::False : Truth::True;
        bool unknown = false;
        for (const auto& a : e.args) {
          Truth t = Condition(*a, row);
          if (t == decisive) return Boolean(decisive);
          if (t == Truth::Unknown) unknown = true;
        }
        return Boolean(unknown ? Truth::Unknown : Negated(decisive));
      }
      case Expr::Kind::Compare: {
        Value s0, s1;
        const Value& a = Operand(*e.args[0], row, s0);
        const Value& b = Operand(*e.args[1], row, s1);
        if (a.IsNull() || b.IsNull()) return Value::Null();
        int c = Compare(a, b, e.args[1]->offset);
        bool r = false;
        switch (e.op) {
          case CompareOp::Eq: r = c == 0; break;
          case CompareOp::Ne: r = c != 0; break;
          case CompareOp::Lt: r = c < 0; break;
          case CompareOp::Le: r = c <= 0; break;
          case CompareOp::Gt: r = c > 0; break;
          case CompareOp::Ge: r = c >= 0; break;
        }
        return Value::Bool(r);
      }
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
      case Expr::Kind::CountStar: break;
    }
    ThrowSyntax(command_, e.offset, "COUNT(*) can only stand alone in the column list of a SELECT");
  }

  // ---- statements

  Result RunSelect(SelectStmt& s) {
    TableSource& t = OpenTable(s.table);
    const auto& columns = t.Columns();
    Scope scope{&t, s.table.alias, nullptr, std::vector<bool>(columns.size(), false)};
    Result result;
    result.is_query = true;

    bool counting = std::any_of(s.items.begin(), s.items.end(), [](const SelectItem& i) {
      return i.kind == SelectItem::Kind::Expression && i.expr->kind == Expr::Kind::CountStar;
    });
    std::vector<ExprPtr> expanded;  // the columns a * stands for
    std::vector<const Expr*> outputs;
    int unnamed = 1000;
    for (SelectItem& item : s.items) {
      if (counting && (item.kind != SelectItem::Kind::Expression || item.expr->kind != Expr::Kind::CountStar)) {
        ThrowSyntax(command_, item.offset, "COUNT(*) cannot be combined with other columns (GROUP BY is not supported)");
      }
      if (item.kind == SelectItem::Kind::AllColumns) {
        if (!item.qualifier.empty() && !NamesTable(scope, item.qualifier)) {
          throw Error(ErrorCode::UnknownTable, "Table '" + item.qualifier + "' is not named in the FROM clause");
        }
        for (std::size_t k = 0; k < columns.size(); ++k) {
          auto col = std::make_unique<Expr>();
          col->kind = Expr::Kind::Column;
          col->column = static_cast<int>(k);
          scope.used[k] = true;
          outputs.push_back(col.get());
          expanded.push_back(std::move(col));
          result.column_names.push_back(columns[k].name);
        }
        continue;
      }
      if (item.expr->kind != Expr::Kind::CountStar) Bind(*item.expr, scope);
      outputs.push_back(item.expr.get());
      if (!item.alias.empty()) {
        result.column_names.push_back(item.alias);
      } else if (item.expr->kind == Expr::Kind::Column) {
        result.column_names.push_back(item.expr->name);
      } else {
        result.column_names.push_back("Expr" + std::to_string(unnamed++));
      }
    }
    if (counting && !s.order.empty()) {
      ThrowSyntax(command_, s.order[0].expr->offset, "ORDER BY cannot be used with COUNT(*)");
    }
    if (s.where) CheckCondition(*s.where, Bind(*s.where, scope));
    for (OrderKey& key : s.order) Bind(*key.expr, scope);

    const Expr* where = s.where.get();
    if (counting) {
      std::int64_t count = 0;
      ScanTable(t, scope.used, [&](RowId, const Row& row) {
        if (where == nullptr || Condition(*where, row) == Truth::True) ++count;
        return true;
      });
      result.rows.push_back(Row(outputs.size(), Value::Int(count)));
      return result;
    }

    std::vector<Row> keys;
    ScanTable(t, scope.used, [&](RowId, const Row& row) {
      if (where != nullptr && Condition(*where, row) != Truth::True) return true;
      Row out;
      out.reserve(outputs.size());
      for (const Expr* e : outputs) out.push_back(Eval(*e, row));
      result.rows.push_back(std::move(out));
      if (!s.order.empty()) {
        Row key;
        key.reserve(s.order.size());
        for (const OrderKey& k : s.order) key.push_back(Eval(*k.expr, row));
        keys.push_back(std::move(key));
      }
      return true;
    });
    if (!s.order.empty()) Sort(s.order, keys, &result.rows);
    return result;
  }

  void Sort(const std::vector<OrderKey>& order, const std::vector<Row>& keys, std::vector<Row>* rows) {
    std::vector<std::size_t> index(rows->size());
    std::iota(index.begin(), index.end(), 0);
    std::stable_sort(index.begin(), index.end(), [&](std::size_t x, std::size_t y) {
      for (std::size_t k = 0; k < order.size(); ++k) {
        const Value& a = keys[x][k];
        const Value& b = keys[y][k];
        int c;
        if (a.IsNull() || b.IsNull()) {
          c = a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);  // NULL first, as Jet
        } else {
          c = Compare(a, b, order[k].expr->offset);
        }
        if (c != 0) return order[k].descending ? c > 0 : c < 0;
      }
      return false;
    });
    std::vector<Row> sorted;
    sorted.reserve(rows->size());
    for (std::size_t k : index) sorted.push_back(std::move((*rows)[k]));
    *rows = std::move(sorted);
    deadline_.Check();
  }

  Result RunDelete(DeleteStmt& d) {
    TableSource& t = OpenTable(d.table);
    Scope scope{&t, d.table.alias, nullptr, std::vector<bool>(t.Columns().size(), false)};
    if (d.where) CheckCondition(*d.where, Bind(*d.where, scope));
    const Expr* where = d.where.get();
    deadline_.Check();
    std::size_t count = 0;
    Result result;
    result.affected = t.DeleteWhere(scope.used, [&](const Row& row) {
      if (++count % kRowsPerClockCheck == 0) deadline_.Check();
      return where == nullptr || Condition(*where, row) == Truth::True;
    });
    return result;
  }

  Result RunInsert(InsertStmt& ins) {
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
    Scope none;
    Row row(columns.size());
    for (std::size_t k = 0; k < targets.size(); ++k) {
      Expr& e = *ins.values[k];
      Bind(e, none);
      Value v = Eval(e, Row());
      const ColumnInfo& col = columns[targets[k]];
      auto converted = ConvertForColumn(v, col.type);
      if (!converted) {
        throw Error(ErrorCode::TypeMismatch, "Data type mismatch: the value at position " + Position(e.offset) +
                                                 " cannot be stored in column '" + col.name + "' (" +
                                                 ColumnTypeName(col.type) + ") of table '" + t.Name() + "'");
      }
      row[targets[k]] = std::move(*converted);
    }
    deadline_.Check();
    t.InsertRow(row);
    Result result;
    result.affected = 1;
    return result;
  }

  Schema& schema_;
  std::string_view command_;
  Deadline deadline_;
};

}  // namespace

Result Execute(Schema& schema, std::string_view command, const ExecuteOptions& options) {
  Executor executor(schema, command, options);  // the timeout counts from here
  Statement statement = Parse(command);
  return executor.Run(statement);
}

}  // namespace jet::sql
