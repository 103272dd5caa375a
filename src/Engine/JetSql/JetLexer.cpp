// Tokenizer of Jet SQL (see JetLexer.h).
#include "Engine/JetSql/JetLexer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>

#include "Engine/JetSql/JetDate.h"
#include "Engine/JetSql/JetSql.h"

namespace jetsql::detail {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsWordStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) {
  return IsWordStart(c) || IsDigit(c);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Lexer {
 public:
  Lexer(std::string_view text, const char* what) : m_text(text), m_what(what) {}

  // Calls fn(Token&&) for every token in order, the End token last.
  template <typename Fn>
  void Scan(Fn&& fn) {
    std::size_t i = 0;
    std::size_t prevEnd = 0;
    bool prevClosable = false;  // the previous token was a name or a ')'
    while (true) {
      while (i < m_text.size() && IsSpace(m_text[i])) ++i;
      if (i >= m_text.size()) break;
      // ".5" is a number, but "t.[x]" and "t.x" qualify a name: a '.' right after a name or a
      // ')' is the qualifier.
      Token t = Lex(i, prevClosable && prevEnd == i);
      i = prevEnd = t.pos + t.len;
      prevClosable = t.kind == TokenKind::Word || t.kind == TokenKind::Name ||
                     (t.kind == TokenKind::Punct && t.text == ")");
      fn(std::move(t));
    }
    Token end;
    end.kind = TokenKind::End;
    end.pos = m_text.size();
    fn(std::move(end));
  }

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    tokens.reserve(m_text.size() / 3 + 2);  // a token per three bytes is typical SQL
    Scan([&](Token&& t) { tokens.push_back(std::move(t)); });
    return tokens;
  }

 private:
  [[noreturn]] void Fail(std::size_t pos, const std::string& what) const {
    throw SyntaxError(what + " at position " + std::to_string(pos + 1), pos + 1, m_text);
  }

  std::string Excerpt(std::size_t pos, std::size_t len) const {
    std::string s(m_text.substr(pos, len));
    if (s.size() > 40) s = s.substr(0, 37) + "...";
    return s;
  }

  Token Lex(std::size_t i, bool prevCloses) {
    const char c = m_text[i];
    Token t;
    t.pos = i;
    if (c == '\0') Fail(i, std::string("character 0x00 not allowed in ") + m_what);
    if (IsWordStart(c)) return LexWord(i);
    if (IsDigit(c) || (c == '.' && !prevCloses && i + 1 < m_text.size() && IsDigit(m_text[i + 1])))
      return LexNumber(i);
    if (c == '\'' || c == '"') return LexString(i);
    if (c == '[') return LexName(i);
    if (c == '#') return LexDate(i);
    if (c == '&' && i + 2 < m_text.size() &&
        ((m_text[i + 1] == 'H' || m_text[i + 1] == 'h') && HexDigit(m_text[i + 2]) >= 0))
      return LexRadix(i, 16);
    if (c == '&' && i + 2 < m_text.size() &&
        ((m_text[i + 1] == 'O' || m_text[i + 1] == 'o') && m_text[i + 2] >= '0' &&
         m_text[i + 2] <= '7'))
      return LexRadix(i, 8);
    t.kind = TokenKind::Punct;
    if (i + 1 < m_text.size()) {
      const std::string_view two = m_text.substr(i, 2);
      if (two == "<=" || two == ">=" || two == "<>") {
        t.text = std::string(two);
        t.len = 2;
        return t;
      }
    }
    switch (c) {
      case '(':
      case ')':
      case ',':
      case '.':
      case '!':
      case ';':
      case '*':
      case '+':
      case '-':
      case '/':
      case '\\':
      case '^':
      case '&':
      case '=':
      case '<':
      case '>':
      case '?':
        t.text = std::string(1, c);
        t.len = 1;
        return t;
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      std::string code = "0x";
      code.push_back(kHex[(static_cast<unsigned char>(c) >> 4) & 0xF]);
      code.push_back(kHex[static_cast<unsigned char>(c) & 0xF]);
      Fail(i, "character " + code + " not allowed in " + m_what);
    }
    Fail(i, std::string("syntax error in ") + m_what + ": unexpected character '" + c + "'");
  }

  Token LexWord(std::size_t i) {
    Token t;
    t.kind = TokenKind::Word;
    t.pos = i;
    std::size_t j = i;
    while (j < m_text.size() && IsWordChar(m_text[j])) ++j;
    if (j < m_text.size() && m_text[j] == '$') ++j;  // Left$, Mid$, ...
    t.len = j - i;
    t.text = std::string(m_text.substr(i, t.len));
    return t;
  }

  // A number must not run into a name ("12abc") or a second decimal point ("1.2.3").
  void CheckNumberEnd(std::size_t start, std::size_t j) const {
    if (j < m_text.size() &&
        (IsWordChar(m_text[j]) || m_text[j] == '.' || m_text[j] == '$' || m_text[j] == '#' ||
         m_text[j] == '!' || m_text[j] == '@' || m_text[j] == '%')) {
      std::size_t k = j;
      while (k < m_text.size() && (IsWordChar(m_text[k]) || m_text[k] == '.')) ++k;
      if (k == j) ++k;
      Fail(start, std::string("invalid number '") + Excerpt(start, k - start) + "' in " + m_what);
    }
  }

  Token LexNumber(std::size_t i) {
    Token t;
    t.kind = TokenKind::Number;
    t.pos = i;
    std::size_t j = i;
    bool isInteger = true;
    while (j < m_text.size() && IsDigit(m_text[j])) ++j;
    if (j < m_text.size() && m_text[j] == '.') {
      isInteger = false;
      ++j;
      while (j < m_text.size() && IsDigit(m_text[j])) ++j;
    }
    if (j < m_text.size() && (m_text[j] == 'e' || m_text[j] == 'E')) {
      std::size_t k = j + 1;
      if (k < m_text.size() && (m_text[k] == '+' || m_text[k] == '-')) ++k;
      if (k >= m_text.size() || !IsDigit(m_text[k])) {
        std::size_t e = k;
        while (e < m_text.size() && IsWordChar(m_text[e])) ++e;
        Fail(i, std::string("invalid number '") + Excerpt(i, e - i) + "' in " + m_what);
      }
      while (k < m_text.size() && IsDigit(m_text[k])) ++k;
      isInteger = false;
      j = k;
    }
    CheckNumberEnd(i, j);
    t.len = j - i;
    const std::string_view digits = m_text.substr(i, t.len);
    if (isInteger) {
      std::int64_t v = 0;
      const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
      if (res.ec == std::errc() && res.ptr == digits.data() + digits.size()) {
        t.integer = true;
        t.value = static_cast<double>(v);
        t.text = std::to_string(v);
        return t;
      }
    }
    double d = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), d);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || !std::isfinite(d))
      Fail(i, "number '" + Excerpt(i, t.len) + "' out of range in " + m_what);
    t.value = d;
    t.text = RealLiteral(d);
    return t;
  }

  // &H1F, &O17: hexadecimal and octal integers as VBA reads them: up to 4 hex digits (or an
  // octal value up to &O177777) make a 16-bit Integer, more a 32-bit Long; a trailing '&' makes a
  // Long.
  Token LexRadix(std::size_t i, int radix) {
    Token t;
    t.kind = TokenKind::Number;
    t.pos = i;
    std::size_t j = i + 2;
    std::uint64_t v = 0;
    int digits = 0;
    while (j < m_text.size()) {
      const int d = HexDigit(m_text[j]);
      if (d < 0 || d >= radix) break;
      v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(d);
      ++digits;
      if (v > 0xFFFFFFFFull || digits > 11)
        Fail(i, "number '" + Excerpt(i, j + 1 - i) + "' out of range in " + m_what);
      ++j;
    }
    bool longSuffix = false;
    if (j < m_text.size() && m_text[j] == '&') {
      longSuffix = true;
      ++j;
    }
    CheckNumberEnd(i, j);
    std::int64_t value;
    if (!longSuffix && v <= 0xFFFF && (radix == 8 || digits <= 4)) {
      value = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
    } else {
      value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    t.len = j - i;
    t.integer = true;
    t.value = static_cast<double>(value);
    t.text = std::to_string(value);
    return t;
  }

  Token LexString(std::size_t i) {
    const char quote = m_text[i];
    Token t;
    t.kind = TokenKind::String;
    t.pos = i;
    std::size_t j = i + 1;
    while (true) {
      if (j >= m_text.size())
        Fail(i, std::string("unterminated string in ") + m_what + ": missing closing " +
                    (quote == '\'' ? "'" : "\""));
      const char c = m_text[j];
      if (c == '\0') Fail(j, std::string("character 0x00 not allowed in ") + m_what);
      if (c == quote) {
        if (j + 1 < m_text.size() && m_text[j + 1] == quote) {
          t.text.push_back(quote);
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      t.text.push_back(c);
      ++j;
    }
    t.len = j - i;
    return t;
  }

  Token LexName(std::size_t i) {
    Token t;
    t.kind = TokenKind::Name;
    t.pos = i;
    std::size_t j = i + 1;
    while (j < m_text.size() && m_text[j] != ']') {
      if (m_text[j] == '\0') Fail(j, std::string("character 0x00 not allowed in ") + m_what);
      if (m_text[j] == '[')
        Fail(j, std::string("'[' inside the name opened at position ") + std::to_string(i + 1) +
                    " in " + m_what);
      ++j;
    }
    if (j >= m_text.size())
      Fail(i, std::string("missing ']' for the name '[") + Excerpt(i + 1, j - i - 1) + "' in " +
                  m_what);
    t.text = std::string(m_text.substr(i + 1, j - i - 1));
    if (t.text.empty()) Fail(i, std::string("empty name '[]' in ") + m_what);
    t.len = j + 1 - i;
    return t;
  }

  Token LexDate(std::size_t i) {
    Token t;
    t.kind = TokenKind::Date;
    t.pos = i;
    const std::size_t close = m_text.find('#', i + 1);
    if (close == std::string_view::npos)
      Fail(i, std::string("missing '#' to close the date '") + Excerpt(i, m_text.size() - i) +
                  "' in " + m_what);
    t.len = close + 1 - i;
    std::string why;
    double ole = 0;
    if (!ParseDateText(m_text.substr(i + 1, close - i - 1), ole, &why))
      Fail(i, "invalid date '" + Excerpt(i, t.len) + "' in " + m_what + ": " + why);
    t.value = ole;
    t.text = RealLiteral(ole);
    return t;
  }

  std::string_view m_text;
  const char* m_what;
};

}  // namespace

std::string RealLiteral(double value) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, res.ptr);
  if (s.find_first_of(".eE") == std::string::npos) s += ".0";
  return s;
}

std::vector<Token> Tokenize(std::string_view text, const char* what) {
  return Lexer(text, what).Run();
}

void ForEachToken(std::string_view text, const char* what, const std::function<void(Token&&)>& fn) {
  Lexer(text, what).Scan(fn);
}

}  // namespace jetsql::detail
