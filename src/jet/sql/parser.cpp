#include "jet/sql/parser.h"

#include <algorithm>
#include <array>

#include "jet/sql/lexer.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

// Words that cannot be bare names: the language's own and those of constructs this
// engine refuses, so that they fail where they stand rather than as a stray name.
constexpr std::string_view kReserved[] = {
    "ALL",    "AND",   "AS",     "ASC",    "BETWEEN", "BY",     "DELETE", "DESC",  "DISTINCT",
    "FALSE",  "FROM",  "GROUP",  "HAVING", "IN",      "INNER",  "INSERT", "INTO",  "IS",
    "JOIN",   "LEFT",  "LIKE",   "NO",     "NOT",     "NULL",   "ON",     "OR",    "ORDER",
    "RIGHT",  "SELECT", "SET",   "TOP",    "TRUE",    "UNION",  "UPDATE", "VALUES", "WHERE",
    "YES",
};

bool IsReservedWord(std::string_view w) {
  for (std::string_view r : kReserved) {
    if (SameName(w, r)) return true;
  }
  return false;
}

// Deeper nesting than this is refused rather than risking the stack.
constexpr int kMaxDepth = 120;

class Parser {
 public:
  explicit Parser(std::string_view command) : command_(command), tokens_(Tokenize(command)) {}

  Statement ParseStatement() {
    Statement result;
    if (AcceptKeyword("SELECT")) {
      result = ParseSelect(false);
    } else if (AcceptKeyword("DELETE")) {
      result = ParseDelete();
    } else if (AcceptKeyword("INSERT")) {
      result = ParseInsert();
    } else if (IsKeyword(Peek(), "UPDATE") || IsKeyword(Peek(), "CREATE") || IsKeyword(Peek(), "DROP") ||
               IsKeyword(Peek(), "ALTER")) {
      Fail(Peek(), Peek().text + " statements are not supported");
    } else {
      Fail(Peek(), "expected SELECT, DELETE or INSERT");
    }
    AcceptSymbol(";");
    if (Peek().kind != TokenKind::End) Fail(Peek(), "expected end of command");
    return result;
  }

 private:
  class DepthGuard {
   public:
    DepthGuard(Parser* p, const Token& at) : p_(p) {
      if (++p_->depth_ > kMaxDepth) p_->Fail(at, "the expression is nested too deeply");
    }
    ~DepthGuard() { --p_->depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    Parser* p_;
  };

  const Token& Peek(std::size_t ahead = 0) const {
    std::size_t k = pos_ + ahead;
    return k < tokens_.size() ? tokens_[k] : tokens_.back();
  }
  const Token& Next() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  [[noreturn]] void Fail(const Token& at, const std::string& what) const { ThrowSyntax(command_, at.offset, what); }

  static bool IsKeyword(const Token& t, std::string_view kw) { return t.kind == TokenKind::Word && SameName(t.text, kw); }
  static bool IsSymbol(const Token& t, std::string_view s) { return t.kind == TokenKind::Symbol && t.text == s; }
  static bool IsName(const Token& t) {
    return t.kind == TokenKind::QuotedName || (t.kind == TokenKind::Word && !IsReservedWord(t.text));
  }

  bool AcceptKeyword(std::string_view kw) {
    if (!IsKeyword(Peek(), kw)) return false;
    Next();
    return true;
  }
  void ExpectKeyword(std::string_view kw) {
    if (!AcceptKeyword(kw)) Fail(Peek(), "expected " + std::string(kw));
  }
  bool AcceptSymbol(std::string_view s) {
    if (!IsSymbol(Peek(), s)) return false;
    Next();
    return true;
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) Fail(Peek(), "expected " + std::string(s));
  }
  std::string ExpectName(const char* what) {
    if (!IsName(Peek())) Fail(Peek(), std::string("expected ") + what);
    return Next().text;
  }

  TableRef ParseTableRef() {
    TableRef t;
    t.offset = Peek().offset;
    t.name = ExpectName("a table name");
    if (AcceptKeyword("AS")) {
      t.alias = ExpectName("an alias");
    } else if (IsName(Peek())) {
      t.alias = Next().text;
    }
    if (IsSymbol(Peek(), ",") || IsKeyword(Peek(), "JOIN") || IsKeyword(Peek(), "INNER") ||
        IsKeyword(Peek(), "LEFT") || IsKeyword(Peek(), "RIGHT")) {
      Fail(Peek(), "only one table can be named");
    }
    return t;
  }

  SelectStmt ParseSelect(bool subquery) {
    SelectStmt s;
    s.offset = Peek().offset;
    if (IsKeyword(Peek(), "DISTINCT")) {
      if (!subquery) Fail(Peek(), "DISTINCT is not supported");
      Next();
      s.distinct = true;
    }
    if (IsKeyword(Peek(), "TOP")) {
      if (subquery) Fail(Peek(), "TOP cannot be used in a subquery");
      Next();
      const Token& n = Peek();
      if (n.kind != TokenKind::Number || n.value.kind != Value::Kind::Integer || n.value.i < 1) {
        Fail(n, "TOP needs a whole number of rows, at least 1");
      }
      s.top = Next().value.i;
      if (IsKeyword(Peek(), "PERCENT")) Fail(Peek(), "TOP n PERCENT is not supported");
    }
    do {
      SelectItem item;
      item.offset = Peek().offset;
      if (AcceptSymbol("*")) {
        item.kind = SelectItem::Kind::AllColumns;
      } else if (IsName(Peek()) && IsSymbol(Peek(1), ".") && IsSymbol(Peek(2), "*")) {
        item.kind = SelectItem::Kind::AllColumns;
        item.qualifier = Next().text;
        Next();
        Next();
      } else {
        item.expr = ParseExpr();
        if (AcceptKeyword("AS")) item.alias = ExpectName("a column alias");
      }
      s.items.push_back(std::move(item));
    } while (AcceptSymbol(","));
    ExpectKeyword("FROM");
    s.table = ParseTableRef();
    if (AcceptKeyword("WHERE")) s.where = ParseExpr();
    if (subquery) return s;
    if (AcceptKeyword("GROUP")) {
      ExpectKeyword("BY");
      do {
        s.group.push_back(ParseExpr());
      } while (AcceptSymbol(","));
    }
    if (AcceptKeyword("HAVING")) s.having = ParseExpr();
    if (AcceptKeyword("ORDER")) {
      ExpectKeyword("BY");
      do {
        OrderKey key;
        key.expr = ParseExpr();
        if (AcceptKeyword("DESC")) {
          key.descending = true;
        } else {
          AcceptKeyword("ASC");
        }
        s.order.push_back(std::move(key));
      } while (AcceptSymbol(","));
    }
    return s;
  }

  DeleteStmt ParseDelete() {
    DeleteStmt d;
    // DELETE * FROM t and DELETE t.* FROM t mean the same as DELETE FROM t.
    if (!AcceptSymbol("*") && IsName(Peek()) && IsSymbol(Peek(1), ".") && IsSymbol(Peek(2), "*")) {
      Next();
      Next();
      Next();
    }
    ExpectKeyword("FROM");
    d.table = ParseTableRef();
    if (AcceptKeyword("WHERE")) d.where = ParseExpr();
    return d;
  }

  InsertStmt ParseInsert() {
    InsertStmt ins;
    ExpectKeyword("INTO");
    ins.table = ParseTableRef();
    if (AcceptSymbol("(")) {
      ins.has_columns = true;
      do {
        std::size_t at = Peek().offset;
        ins.columns.emplace_back(ExpectName("a column name"), at);
      } while (AcceptSymbol(","));
      ExpectSymbol(")");
    }
    ins.values_offset = Peek().offset;
    ExpectKeyword("VALUES");
    ExpectSymbol("(");
    do {
      ins.values.push_back(ParseExpr());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return ins;
  }

  static ExprPtr Node(Expr::Kind kind, std::size_t offset) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    e->offset = offset;
    return e;
  }

  ExprPtr ParseExpr() {
    DepthGuard guard(this, Peek());
    return ParseLogical(true);
  }

  // OR over ANDs, each flattened into one node so that long chains stay shallow.
  ExprPtr ParseLogical(bool is_or) {
    ExprPtr first = is_or ? ParseLogical(false) : ParseNot();
    const char* word = is_or ? "OR" : "AND";
    if (!IsKeyword(Peek(), word)) return first;
    ExprPtr node = Node(is_or ? Expr::Kind::Or : Expr::Kind::And, first->offset);
    node->args.push_back(std::move(first));
    while (AcceptKeyword(word)) node->args.push_back(is_or ? ParseLogical(false) : ParseNot());
    return node;
  }

  ExprPtr ParseNot() {
    if (IsKeyword(Peek(), "NOT")) {
      DepthGuard guard(this, Peek());
      ExprPtr node = Node(Expr::Kind::Not, Next().offset);
      node->args.push_back(ParseNot());
      return node;
    }
    return ParsePredicate();
  }

  ExprPtr ParsePredicate() {
    ExprPtr left = ParseUnary();
    const Token& t = Peek();
    if (t.kind == TokenKind::Symbol) {
      static const std::array<std::pair<std::string_view, CompareOp>, 6> ops = {{
          {"=", CompareOp::Eq},
          {"<>", CompareOp::Ne},
          {"<", CompareOp::Lt},
          {"<=", CompareOp::Le},
          {">", CompareOp::Gt},
          {">=", CompareOp::Ge},
      }};
      for (const auto& [sym, op] : ops) {
        if (t.text != sym) continue;
        ExprPtr node = Node(Expr::Kind::Compare, left->offset);
        node->op = op;
        Next();
        node->args.push_back(std::move(left));
        node->args.push_back(ParseUnary());
        return node;
      }
      return left;
    }
    if (AcceptKeyword("IS")) {
      ExprPtr node = Node(Expr::Kind::IsNull, left->offset);
      node->negated = AcceptKeyword("NOT");
      ExpectKeyword("NULL");
      node->args.push_back(std::move(left));
      return node;
    }
    bool negated = false;
    if (IsKeyword(t, "NOT") &&
        (IsKeyword(Peek(1), "IN") || IsKeyword(Peek(1), "BETWEEN") || IsKeyword(Peek(1), "LIKE"))) {
      Next();
      negated = true;
    }
    if (AcceptKeyword("IN")) {
      std::size_t paren = Peek().offset;
      ExpectSymbol("(");
      ExprPtr node;
      if (AcceptKeyword("SELECT")) {
        DepthGuard guard(this, Peek());
        node = Node(Expr::Kind::InSubquery, left->offset);
        node->subquery = std::make_unique<SelectStmt>(ParseSelect(true));
        node->subquery->offset = paren;
        node->args.push_back(std::move(left));
      } else {
        node = Node(Expr::Kind::InList, left->offset);
        node->args.push_back(std::move(left));
        do {
          node->args.push_back(ParseExpr());
        } while (AcceptSymbol(","));
      }
      ExpectSymbol(")");
      node->negated = negated;
      return node;
    }
    if (AcceptKeyword("BETWEEN")) {
      ExprPtr node = Node(Expr::Kind::Between, left->offset);
      node->negated = negated;
      node->args.push_back(std::move(left));
      node->args.push_back(ParseUnary());
      ExpectKeyword("AND");
      node->args.push_back(ParseUnary());
      return node;
    }
    if (AcceptKeyword("LIKE")) {
      ExprPtr node = Node(Expr::Kind::Like, left->offset);
      node->negated = negated;
      node->args.push_back(std::move(left));
      node->args.push_back(ParseUnary());
      return node;
    }
    return left;
  }

  ExprPtr ParseUnary() {
    if (IsSymbol(Peek(), "-") || IsSymbol(Peek(), "+")) {
      DepthGuard guard(this, Peek());
      const Token& sign = Next();
      ExprPtr operand = ParseUnary();
      if (sign.text == "+") return operand;
      ExprPtr node = Node(Expr::Kind::Negate, sign.offset);
      node->args.push_back(std::move(operand));
      return node;
    }
    return ParsePrimary();
  }

  ExprPtr ParsePrimary() {
    const Token& t = Peek();
    switch (t.kind) {
      case TokenKind::Number:
      case TokenKind::String:
      case TokenKind::Date: {
        ExprPtr node = Node(Expr::Kind::Literal, t.offset);
        node->literal = Next().value;
        return node;
      }
      case TokenKind::Symbol:
        if (IsSymbol(t, "(")) {
          Next();
          ExprPtr inner = ParseExpr();
          ExpectSymbol(")");
          return inner;
        }
        Fail(t, "expected an expression");
      case TokenKind::Word:
        if (IsKeyword(t, "TRUE") || IsKeyword(t, "YES") || IsKeyword(t, "FALSE") || IsKeyword(t, "NO") ||
            IsKeyword(t, "NULL")) {
          ExprPtr node = Node(Expr::Kind::Literal, t.offset);
          if (!IsKeyword(t, "NULL")) node->literal = Value::Bool(IsKeyword(t, "TRUE") || IsKeyword(t, "YES"));
          Next();
          return node;
        }
        if (IsSymbol(Peek(1), "(")) return ParseCall();
        if (IsReservedWord(t.text)) Fail(t, "expected an expression");
        return ParseColumn();
      case TokenKind::QuotedName: return ParseColumn();
      case TokenKind::End: Fail(t, "expected an expression");
    }
    Fail(t, "expected an expression");
  }

  ExprPtr ParseCall() {
    static const std::array<std::pair<std::string_view, Function>, 6> functions = {{
        {"COUNT", Function::Count},
        {"MIN", Function::Min},
        {"MAX", Function::Max},
        {"YEAR", Function::Year},
        {"MONTH", Function::Month},
        {"DAY", Function::Day},
    }};
    const Token& name = Next();
    ExprPtr node = Node(Expr::Kind::Call, name.offset);
    auto known = std::find_if(functions.begin(), functions.end(),
                              [&](const auto& f) { return SameName(name.text, f.first); });
    if (known == functions.end()) Fail(name, "the function " + name.text + " is not supported");
    node->function = known->second;
    node->name = name.text;
    Next();  // (
    if (node->function == Function::Count && AcceptSymbol("*")) {
      node->function = Function::CountStar;
    } else {
      if (IsSymbol(Peek(), ")")) Fail(Peek(), "the function " + name.text + " takes one argument");
      node->args.push_back(ParseExpr());
      if (IsSymbol(Peek(), ",")) Fail(Peek(), "the function " + name.text + " takes one argument");
    }
    ExpectSymbol(")");
    return node;
  }

  ExprPtr ParseColumn() {
    ExprPtr node = Node(Expr::Kind::Column, Peek().offset);
    node->name = Next().text;
    if (AcceptSymbol(".")) {
      node->qualifier = std::move(node->name);
      node->name = ExpectName("a column name");
    }
    return node;
  }

  std::string_view command_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

Statement Parse(std::string_view command) { return Parser(command).ParseStatement(); }

}  // namespace jet::sql
