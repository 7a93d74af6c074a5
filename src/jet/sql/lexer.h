#pragma once
// Splits a command into tokens. Positions are byte offsets into the command; errors
// report them as 1-based character positions.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "jet/value.h"

namespace jet::sql {

enum class TokenKind {
  End,
  Word,        // a bare name or keyword, as written
  QuotedName,  // [name] or `name`, without the delimiters
  Number,      // `value` holds the literal
  String,      // 'text' or "text"; `value` holds the text without the doubled quotes
  Date,        // #...#; `value` holds the date
  Symbol,      // ( ) , . * = <> < <= > >= + - ;
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;  // Word and QuotedName: the name; Symbol: the symbol
  Value value;
  std::size_t offset = 0;
};

// The tokens of `command`, ending with an End token. Throws a Syntax error for a
// character that starts no token, an unclosed quote or bracket, or a malformed
// number or date.
std::vector<Token> Tokenize(std::string_view command);

// 1-based position of the character that starts at byte `offset`.
std::size_t CharacterPosition(std::string_view command, std::size_t offset);

[[noreturn]] void ThrowSyntax(std::string_view command, std::size_t offset, const std::string& what);

}  // namespace jet::sql
