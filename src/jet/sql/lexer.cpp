#include "jet/sql/lexer.h"

#include <cstdio>

#include "jet/error.h"
#include "jet/sql/values.h"

namespace jet::sql {
namespace {

bool IsNameStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80; }
bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string Shown(std::string_view command, std::size_t offset) {
  auto c = static_cast<unsigned char>(command[offset]);
  if (c < 0x20 || c == 0x7F) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02X", c);
    return std::string("character ") + buf;
  }
  std::size_t len = 1;
  if (c >= 0x80) {
    while (offset + len < command.size() && (static_cast<unsigned char>(command[offset + len]) & 0xC0) == 0x80 &&
           len < 4) {
      ++len;
    }
  }
  return "character '" + std::string(command.substr(offset, len)) + "'";
}

}  // namespace

std::size_t CharacterPosition(std::string_view command, std::size_t offset) {
  std::size_t pos = 1;
  for (std::size_t k = 0; k < offset && k < command.size(); ++k) {
    if ((static_cast<unsigned char>(command[k]) & 0xC0) != 0x80) ++pos;
  }
  return pos;
}

void ThrowSyntax(std::string_view command, std::size_t offset, const std::string& what) {
  throw Error(ErrorCode::Syntax, "Syntax error in the command at position " +
                                     std::to_string(CharacterPosition(command, offset)) + ": " + what);
}

namespace {

// A number starting at *pos; *pos moves past it.
Value LexNumber(std::string_view command, std::size_t* pos) {
  const std::size_t n = command.size();
  std::size_t k = *pos;
  std::size_t start = k;
  while (k < n && IsDigit(command[k])) ++k;
  if (k < n && command[k] == '.') {
    ++k;
    while (k < n && IsDigit(command[k])) ++k;
  }
  if (k < n && (command[k] == 'e' || command[k] == 'E')) {
    std::size_t e = k + 1;
    if (e < n && (command[e] == '+' || command[e] == '-')) ++e;
    if (e < n && IsDigit(command[e])) {
      k = e;
      while (k < n && IsDigit(command[k])) ++k;
    }
  }
  if (k < n && IsNameChar(static_cast<unsigned char>(command[k]))) ThrowSyntax(command, start, "malformed number");
  auto v = ParseNumber(command.substr(start, k - start), false);
  if (!v) ThrowSyntax(command, start, "number out of range");
  *pos = k;
  return std::move(*v);
}

// 'text' or "text" starting at *pos, a doubled quote standing for one; *pos moves past it.
Value LexText(std::string_view command, std::size_t* pos) {
  const std::size_t n = command.size();
  std::size_t k = *pos;
  const char quote = command[k];
  std::string text;
  std::size_t start = k++;
  while (true) {
    if (k >= n) ThrowSyntax(command, start, "the text has no closing quote");
    if (command[k] == quote) {
      if (k + 1 < n && command[k + 1] == quote) {
        text += quote;
        k += 2;
        continue;
      }
      ++k;
      break;
    }
    text += command[k++];
  }
  *pos = k;
  return Value::Str(std::move(text));
}

}  // namespace

std::vector<Token> Tokenize(std::string_view command) {
  std::vector<Token> tokens;
  std::size_t k = 0;
  const std::size_t n = command.size();
  while (true) {
    while (k < n && IsBlank(command[k])) ++k;
    Token tok;
    tok.offset = k;
    if (k == n) {
      tok.kind = TokenKind::End;
      tokens.push_back(std::move(tok));
      return tokens;
    }
    char c = command[k];
    if (IsNameStart(static_cast<unsigned char>(c))) {
      std::size_t start = k;
      while (k < n && IsNameChar(static_cast<unsigned char>(command[k]))) ++k;
      tok.kind = TokenKind::Word;
      tok.text = std::string(command.substr(start, k - start));
    } else if (c == '[' || c == '`') {
      char close = c == '[' ? ']' : '`';
      std::size_t end = command.find(close, k + 1);
      if (end == std::string_view::npos) ThrowSyntax(command, k, std::string("the name has no closing ") + close);
      if (end == k + 1) ThrowSyntax(command, k, "empty name");
      tok.kind = TokenKind::QuotedName;
      tok.text = std::string(command.substr(k + 1, end - k - 1));
      k = end + 1;
    } else if (IsDigit(c) || (c == '.' && k + 1 < n && IsDigit(command[k + 1]))) {
      tok.kind = TokenKind::Number;
      tok.value = LexNumber(command, &k);
    } else if (c == '\'' || c == '"') {
      tok.kind = TokenKind::String;
      tok.value = LexText(command, &k);
    } else if (c == '#') {
      std::size_t end = command.find('#', k + 1);
      if (end == std::string_view::npos) ThrowSyntax(command, k, "the date has no closing #");
      std::string_view inside = command.substr(k + 1, end - k - 1);
      auto d = ParseDate(inside);
      if (!d) ThrowSyntax(command, k, "invalid date #" + std::string(inside) + "#");
      tok.kind = TokenKind::Date;
      tok.value = Value::DateValue(*d);
      k = end + 1;
    } else {
      tok.kind = TokenKind::Symbol;
      std::string_view two = command.substr(k, 2);
      if (two == "<>" || two == "<=" || two == ">=") {
        tok.text = std::string(two);
        k += 2;
      } else if (std::string_view("(),.*=<>+-;").find(c) != std::string_view::npos) {
        tok.text = std::string(1, c);
        ++k;
      } else {
        ThrowSyntax(command, k, "unexpected " + Shown(command, k));
      }
    }
    tokens.push_back(std::move(tok));
  }
}

}  // namespace jet::sql
