// The tokenizer of Jet SQL: cuts a text into names, literals and operators, validating literals
// (numbers, strings, dates) as it goes. Internal to the JetSql library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace jetsql::detail {

enum class TokenKind : std::uint8_t {
  End,     // after the last token
  Word,    // an unquoted name or keyword: letters, digits, '_', bytes >= 0x80 (a trailing '$' kept)
  Name,    // [bracketed name]; text is the name without brackets
  String,  // 'text' or "text"; text is the value with quotes undoubled
  Number,  // text is the SQLite literal; value the number
  Date,    // #date#; text is the SQLite REAL literal; value the OLE date
  Punct,   // ( ) , . ! ; * + - / \ ^ & = < > <= >= <> ?
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::size_t pos = 0;  // byte offset of the token's first character in the input
  std::size_t len = 0;  // length in the input
  std::string text;
  double value = 0;
  bool integer = false;  // Number: an integer literal (text holds the decimal integer)
};

// Tokenizes the whole text. Throws SyntaxError (with `what` naming the kind of text, e.g.
// "expression") for an unterminated string, name or date, an invalid number or date, or a
// character that Jet SQL does not use. The last token is always End.
std::vector<Token> Tokenize(std::string_view text, const char* what);
// As Tokenize, handing each token to fn instead of collecting them.
void ForEachToken(std::string_view text, const char* what, const std::function<void(Token&&)>& fn);

// The SQLite REAL literal for a double ("43831.0", "0.25", "1e+300"). REQUIRES: finite.
std::string RealLiteral(double value);

}  // namespace jetsql::detail
