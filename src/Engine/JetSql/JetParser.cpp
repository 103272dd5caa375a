// The recursive-descent parser of Jet SQL and criteria. Each parse function reads one construct
// and returns its SQLite form; nothing is copied from the input to the output except through a
// token the lexer validated (names are re-quoted, strings re-escaped, numbers and dates
// re-written).
//
// Emission rules:
// - Every compound expression is wrapped in parentheses, so SQLite's operator precedence never
//   matters; binary operators are written with spaces on both sides, so no "--" or "/*" can form.
// - Booleans: comparisons and logical operators yield SQLite's 1/0/NULL ("Bool"); where such a
//   value is used as a value (arithmetic, argument, result column) it is negated to Jet's -1/0.
// - Text comparisons: a comparison where neither side is a plain column gets COLLATE JETNOCASE on
//   its left side (a column brings its declared collation, which the engine makes JETNOCASE).
// - SQLite's parser has a fixed stack (about 100 entries in 3.40): every emitted expression
//   carries an estimate of the entries it needs (measured per construct, rounded up) and of its
//   tree height, and a text whose translation would exceed the budget is refused as too complex.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Engine/JetSql/JetLexer.h"
#include "Engine/JetSql/JetSql.h"
#include "Engine/JetSql/JetText.h"

namespace jetsql {

SyntaxError::SyntaxError(const std::string& message, std::size_t position, std::string_view text)
    : std::runtime_error(message), m_position(position), m_text(text) {}

UndefinedFunction::UndefinedFunction(const std::string& message, std::size_t position,
                                     std::string_view text, std::string functionName)
    : SyntaxError(message, position, text), m_functionName(std::move(functionName)) {}

namespace detail {

namespace {

// Budgets of SQLite's parser stack (entries) and expression height (SQLite: 1000). Criteria and
// sort texts get a smaller budget than whole statements, since the engine embeds them into
// statements of its own.
constexpr int kMaxCriteriaStack = 60;
constexpr int kMaxStatementStack = 80;
constexpr int kMaxCriteriaHeight = 400;
constexpr int kMaxStatementHeight = 600;
constexpr int kMaxNesting = 100;            // recursion of this parser
constexpr std::size_t kMaxListItems = 255;  // select list, ORDER BY, GROUP BY, SET, VALUES
constexpr std::size_t kMaxTables = 32;
constexpr std::size_t kMaxConcatArgs = 100;  // per jet_concat call (SQLite allows 127)
constexpr std::size_t kMaxParameters = 999;  // further literals stay in the SQL
constexpr std::size_t kNoLiteral = static_cast<std::size_t>(-1);

enum class Type : std::uint8_t { Unknown, Number, Text, Bool, Null };

// The open flat chain an expression's SQL ends with: "(A AND B)" can take " AND C" before its
// closing parenthesis, which keeps SQLite's parser stack flat for long left-associative chains.
enum class Chain : std::uint8_t { None, And, Or, AddSub, Mul, Concat };

struct Expr {
  std::string sql;
  Type type = Type::Unknown;
  Chain chain = Chain::None;
  bool column = false;               // a plain column reference
  bool literal = false;              // a constant literal
  std::size_t ordinal = kNoLiteral;  // literal emitted as a parameter: its literal ordinal
  double number = 0;                 // literal Number: its value
  std::string text;                  // literal Text: its value
  bool aggregate = false;            // contains an aggregate function (outside subqueries)
  std::size_t aggPos = 0;            // 1-based position of the first aggregate
  int stack = 1;                     // SQLite parser stack entries needed
  int height = 1;                    // SQLite expression tree height
  std::size_t deepPos = 0;           // 1-based position of the part that needs the most stack
};

std::string QuoteIdent(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out.push_back('"');
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string QuoteString(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  out.push_back('\'');
  for (char c : value) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  out.push_back('\'');
  return out;
}

// Merges a child's costs into a parent that places it `offset` stack entries deep.
void Absorb(Expr& parent, const Expr& child, int offset) {
  if (child.stack + offset > parent.stack) {
    parent.stack = child.stack + offset;
    parent.deepPos = child.deepPos;
  }
  parent.height = std::max(parent.height, child.height + 1);
  if (child.aggregate && !parent.aggregate) {
    parent.aggregate = true;
    parent.aggPos = child.aggPos;
  }
}

Expr Binary(const Expr& a, std::string_view op, const Expr& b, Type type) {
  Expr e;
  e.sql.reserve(a.sql.size() + b.sql.size() + op.size() + 4);
  e.sql += '(';
  e.sql += a.sql;
  e.sql += ' ';
  e.sql += op;
  e.sql += ' ';
  e.sql += b.sql;
  e.sql += ')';
  e.type = type;
  e.deepPos = a.deepPos;
  Absorb(e, a, 1);
  Absorb(e, b, 3);
  return e;
}

Expr Unary(std::string_view op, const Expr& x, Type type) {
  Expr e;
  e.sql = "(" + std::string(op) + " " + x.sql + ")";
  e.type = type;
  e.deepPos = x.deepPos;
  Absorb(e, x, 2);
  return e;
}

Expr Call(std::string_view name, const std::vector<Expr>& args, Type type, std::size_t pos) {
  Expr e;
  e.sql = std::string(name) + "(";
  e.type = type;
  e.stack = 3;
  e.deepPos = pos;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i) e.sql += ", ";
    e.sql += args[i].sql;
    Absorb(e, args[i], i == 0 ? 3 : 5);
  }
  e.sql += ')';
  return e;
}

// Extends an open chain "(A op B)" of the same kind by " op C", or starts a new one.
Expr ChainWith(Expr left, Chain chain, std::string_view op, const Expr& right, Type type) {
  if (left.chain == chain) {
    left.sql.pop_back();  // the chain's closing ')'
    left.sql += ' ';
    left.sql += op;
    left.sql += ' ';
    left.sql += right.sql;
    left.sql += ')';
    left.column = left.literal = false;
    left.type = type;
    Absorb(left, right, 3);
    left.height += 1;
    return left;
  }
  Expr e = Binary(left, op, right, type);
  e.chain = chain;
  return e;
}

// A Bool used as a value becomes Jet's -1/0.
Expr Value(Expr x) {
  if (x.type != Type::Bool) return x;
  return Unary("-", x, Type::Number);
}

// Non-column text-like expressions compare with the Jet collation.
Expr Collated(Expr x) {
  if (x.column || x.type == Type::Number || x.type == Type::Bool || x.type == Type::Null) return x;
  x.sql += " COLLATE JETNOCASE";
  x.chain = Chain::None;
  x.literal = false;
  x.height += 1;
  return x;
}

bool EqualsKeyword(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    char c = word[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != upper[i]) return false;
  }
  return true;
}

constexpr std::array<std::string_view, 51> kReserved = {
    "ALL",    "AND",   "ANY",      "AS",          "ASC",       "BETWEEN",    "BY",     "CROSS",
    "DELETE", "DESC",  "DISTINCT", "DISTINCTROW", "EQV",       "EXISTS",     "FALSE",  "FROM",
    "FULL",   "GROUP", "HAVING",   "IMP",         "IN",        "INNER",      "INSERT", "INTO",
    "IS",     "JOIN",  "LEFT",     "LIKE",        "MOD",       "NO",         "NOT",    "NULL",
    "OFF",    "ON",    "OR",       "ORDER",       "OUTER",     "PARAMETERS", "PIVOT",  "RIGHT",
    "SELECT", "SET",   "SOME",     "TOP",         "TRANSFORM", "TRUE",       "UNION",  "UPDATE",
    "VALUES", "WHERE", "XOR"};

bool IsReserved(std::string_view word) {
  for (std::string_view r : kReserved) {
    if (EqualsKeyword(word, r)) return true;
  }
  return EqualsKeyword(word, "YES");
}

enum class Special : std::uint8_t { Plain, IIf, Nz, IsNull, Switch, Aggregate };

struct FunctionInfo {
  std::string_view name;  // upper case
  std::string_view sql;
  int minArgs;
  int maxArgs;
  Type type;
  Special special;
  bool dollar;  // a "Name$" form exists
};

constexpr FunctionInfo kFunctions[] = {
    {"UCASE", "jet_ucase", 1, 1, Type::Text, Special::Plain, true},
    {"LCASE", "jet_lcase", 1, 1, Type::Text, Special::Plain, true},
    {"LEN", "jet_len", 1, 1, Type::Number, Special::Plain, false},
    {"LEFT", "jet_left", 2, 2, Type::Text, Special::Plain, true},
    {"RIGHT", "jet_right", 2, 2, Type::Text, Special::Plain, true},
    {"MID", "jet_mid", 2, 3, Type::Text, Special::Plain, true},
    {"TRIM", "jet_trim", 1, 1, Type::Text, Special::Plain, true},
    {"LTRIM", "jet_ltrim", 1, 1, Type::Text, Special::Plain, true},
    {"RTRIM", "jet_rtrim", 1, 1, Type::Text, Special::Plain, true},
    {"INSTR", "jet_instr", 2, 4, Type::Number, Special::Plain, false},
    {"STRCOMP", "jet_strcomp", 2, 3, Type::Number, Special::Plain, false},
    {"SPACE", "jet_space", 1, 1, Type::Text, Special::Plain, true},
    {"ASC", "jet_asc", 1, 1, Type::Number, Special::Plain, false},
    {"ASCW", "jet_ascw", 1, 1, Type::Number, Special::Plain, false},
    {"CHR", "jet_chr", 1, 1, Type::Text, Special::Plain, true},
    {"CHRW", "jet_chrw", 1, 1, Type::Text, Special::Plain, true},
    {"VAL", "jet_val", 1, 1, Type::Number, Special::Plain, false},
    {"CSTR", "jet_cstr", 1, 1, Type::Text, Special::Plain, false},
    {"CLNG", "jet_clng", 1, 1, Type::Number, Special::Plain, false},
    {"CINT", "jet_cint", 1, 1, Type::Number, Special::Plain, false},
    {"CDBL", "jet_cdbl", 1, 1, Type::Number, Special::Plain, false},
    {"CSNG", "jet_csng", 1, 1, Type::Number, Special::Plain, false},
    {"CBOOL", "jet_cbool", 1, 1, Type::Number, Special::Plain, false},
    {"CDATE", "jet_cdate", 1, 1, Type::Number, Special::Plain, false},
    {"YEAR", "jet_year", 1, 1, Type::Number, Special::Plain, false},
    {"MONTH", "jet_month", 1, 1, Type::Number, Special::Plain, false},
    {"DAY", "jet_day", 1, 1, Type::Number, Special::Plain, false},
    {"HOUR", "jet_hour", 1, 1, Type::Number, Special::Plain, false},
    {"MINUTE", "jet_minute", 1, 1, Type::Number, Special::Plain, false},
    {"SECOND", "jet_second", 1, 1, Type::Number, Special::Plain, false},
    {"WEEKDAY", "jet_weekday", 1, 2, Type::Number, Special::Plain, false},
    {"DATESERIAL", "jet_dateserial", 3, 3, Type::Number, Special::Plain, false},
    {"TIMESERIAL", "jet_timeserial", 3, 3, Type::Number, Special::Plain, false},
    {"NOW", "jet_now", 0, 0, Type::Number, Special::Plain, false},
    {"DATE", "jet_date", 0, 0, Type::Number, Special::Plain, true},
    {"TIME", "jet_time", 0, 0, Type::Number, Special::Plain, true},
    {"ABS", "jet_abs", 1, 1, Type::Number, Special::Plain, false},
    {"INT", "jet_int", 1, 1, Type::Number, Special::Plain, false},
    {"FIX", "jet_fix", 1, 1, Type::Number, Special::Plain, false},
    {"SGN", "jet_sgn", 1, 1, Type::Number, Special::Plain, false},
    {"SQR", "jet_sqr", 1, 1, Type::Number, Special::Plain, false},
    {"ROUND", "jet_round", 1, 2, Type::Number, Special::Plain, false},
    {"IIF", "", 3, 3, Type::Unknown, Special::IIf, false},
    {"NZ", "coalesce", 1, 2, Type::Unknown, Special::Nz, false},
    {"ISNULL", "", 1, 1, Type::Bool, Special::IsNull, false},
    {"SWITCH", "", 2, 64, Type::Unknown, Special::Switch, false},
    {"COUNT", "count", 1, 1, Type::Number, Special::Aggregate, false},
    {"SUM", "sum", 1, 1, Type::Number, Special::Aggregate, false},
    {"AVG", "avg", 1, 1, Type::Number, Special::Aggregate, false},
    {"MIN", "min", 1, 1, Type::Unknown, Special::Aggregate, false},
    {"MAX", "max", 1, 1, Type::Unknown, Special::Aggregate, false},
};

const FunctionInfo* FindFunction(std::string_view name) {
  bool dollar = false;
  if (!name.empty() && name.back() == '$') {
    dollar = true;
    name.remove_suffix(1);
  }
  for (const FunctionInfo& f : kFunctions) {
    if (EqualsKeyword(name, f.name)) return (!dollar || f.dollar) ? &f : nullptr;
  }
  return nullptr;
}

struct SelectResult {
  Statement statement;
  int stack = 0;
  int height = 0;
  std::size_t deepPos = 0;
};

class Parser {
 public:
  Parser(std::string_view text, const char* what, bool withParameters = false)
      : m_text(text),
        m_what(what),
        m_tokens(Tokenize(text, what)),
        m_withParameters(withParameters) {
    if (!withParameters) return;
    m_ordinals.reserve(m_tokens.size());
    std::size_t n = 0;
    for (const Token& t : m_tokens) {
      m_ordinals.push_back(n);
      if (IsLiteral(t)) ++n;
    }
  }

  std::string Criteria() {
    if (Peek().kind == TokenKind::End) FailAt(Peek(), "empty " + std::string(m_what));
    ClauseScope scope(*this, false, "a criteria expression");
    Expr e = ParseExpr();
    ExpectEnd();
    CheckBudget(e.stack, e.height, e.deepPos, kMaxCriteriaStack, kMaxCriteriaHeight);
    return Checked(std::move(e.sql));
  }

  std::string SortList() {
    if (Peek().kind == TokenKind::End) FailAt(Peek(), "empty " + std::string(m_what));
    ClauseScope scope(*this, false, "a sort list");
    Expr e = ParseOrderList();
    ExpectEnd();
    CheckBudget(e.stack, e.height, e.deepPos, kMaxCriteriaStack, kMaxCriteriaHeight);
    return Checked(std::move(e.sql));
  }

  Statement WholeStatement() {
    const Token& first = Peek();
    SelectResult r;
    if (IsKeyword(first, "SELECT")) {
      r = ParseSelect();
    } else if (IsKeyword(first, "DELETE")) {
      r = ParseDelete();
    } else if (IsKeyword(first, "UPDATE")) {
      r = ParseUpdate();
    } else if (IsKeyword(first, "INSERT")) {
      r = ParseInsert();
    } else if (first.kind == TokenKind::End) {
      FailAt(first, "empty statement");
    } else if (first.kind == TokenKind::Word) {
      FailAt(first, "statement '" + first.text + "' not supported");
    } else {
      FailSyntax(first, "SELECT, INSERT, UPDATE or DELETE expected");
    }
    if (IsPunct(Peek(), ";")) {
      Next();
      if (Peek().kind != TokenKind::End) {
        const Token& t = Peek();
        throw SyntaxError("only one statement allowed: text after ';' near '" + Excerpt(t) +
                              "' at position " + std::to_string(t.pos + 1),
                          t.pos + 1, m_text);
      }
    }
    ExpectEnd();
    CheckBudget(r.stack + 2, r.height, r.deepPos, kMaxStatementStack, kMaxStatementHeight);
    r.statement.sql = Checked(std::move(r.statement.sql));
    r.statement.parameters = std::move(m_parameters);
    r.statement.pinned = std::move(m_pinned);
    return std::move(r.statement);
  }

 private:
  // Aggregates are allowed in some clauses only; the scope names the clause for messages.
  struct ClauseScope {
    ClauseScope(Parser& p, bool aggregates, const char* clause)
        : parser(p),
          savedAllowed(p.m_aggAllowed),
          savedClause(p.m_clause),
          savedInAggregate(p.m_inAggregate) {
      p.m_aggAllowed = aggregates;
      p.m_clause = clause;
      p.m_inAggregate = false;
    }
    ~ClauseScope() {
      parser.m_aggAllowed = savedAllowed;
      parser.m_clause = savedClause;
      parser.m_inAggregate = savedInAggregate;
    }
    ClauseScope(const ClauseScope&) = delete;
    ClauseScope& operator=(const ClauseScope&) = delete;
    Parser& parser;
    bool savedAllowed;
    const char* savedClause;
    bool savedInAggregate;
  };

  // Sets a flag for the lifetime of the scope.
  struct FlagScope {
    FlagScope(bool& flag, bool value) : flag(flag), saved(flag) { flag = value; }
    ~FlagScope() { flag = saved; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;
    bool& flag;
    bool saved;
  };

  struct DepthGuard {
    DepthGuard(Parser& p, const Token& at) : parser(p) {
      if (++p.m_depth > kMaxNesting) p.FailAt(at, std::string(p.m_what) + " nested too deeply");
    }
    ~DepthGuard() { --parser.m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    Parser& parser;
  };

  // ---- tokens ----

  const Token& Peek(std::size_t ahead = 0) const {
    const std::size_t i = std::min(m_pos + ahead, m_tokens.size() - 1);
    return m_tokens[i];
  }
  const Token& Next() {
    const Token& t = m_tokens[m_pos];
    if (m_pos + 1 < m_tokens.size()) ++m_pos;
    return t;
  }
  static bool IsKeyword(const Token& t, std::string_view upper) {
    return t.kind == TokenKind::Word && EqualsKeyword(t.text, upper);
  }
  static bool IsPunct(const Token& t, std::string_view p) {
    return t.kind == TokenKind::Punct && t.text == p;
  }
  bool AcceptKeyword(std::string_view upper) {
    if (!IsKeyword(Peek(), upper)) return false;
    Next();
    return true;
  }
  bool AcceptPunct(std::string_view p) {
    if (!IsPunct(Peek(), p)) return false;
    Next();
    return true;
  }
  void ExpectKeyword(std::string_view upper) {
    if (!AcceptKeyword(upper)) FailSyntax(Peek(), std::string(upper) + " expected");
  }
  void ExpectPunct(std::string_view p) {
    if (!AcceptPunct(p)) FailSyntax(Peek(), "'" + std::string(p) + "' expected");
  }
  void ExpectEnd() {
    const Token& t = Peek();
    if (t.kind == TokenKind::End) return;
    if (IsPunct(t, ";")) FailAt(t, "only one statement allowed; ';' may only end the text");
    FailSyntax(t, "end of text expected");
  }

  // ---- errors ----

  std::string Excerpt(const Token& t) const {
    std::string s(m_text.substr(t.pos, t.len));
    if (s.size() > 40) s = s.substr(0, 37) + "...";
    return s;
  }
  [[noreturn]] void FailAt(const Token& t, const std::string& what) const {
    throw SyntaxError(what + " at position " + std::to_string(t.pos + 1), t.pos + 1, m_text);
  }
  [[noreturn]] void FailSyntax(const Token& t, const std::string& detail) const {
    std::string msg = "syntax error in " + std::string(m_what);
    if (t.kind == TokenKind::End) {
      msg += ": unexpected end of text at position " + std::to_string(t.pos + 1);
    } else {
      msg += " near '" + Excerpt(t) + "' at position " + std::to_string(t.pos + 1);
    }
    if (!detail.empty()) msg += ": " + detail;
    throw SyntaxError(msg, t.pos + 1, m_text);
  }
  void CheckBudget(int stack, int height, std::size_t deepPos, int maxStack, int maxHeight) const {
    if (stack > maxStack || height > maxHeight) {
      const std::size_t pos = deepPos ? deepPos : 1;
      throw SyntaxError(std::string(m_what) + " too complex (nested too deeply) near position " +
                            std::to_string(pos),
                        pos, m_text);
    }
  }

  // Emitted SQL never holds a comment opener, a statement separator or a NUL outside literals
  // and quoted names; this is checked, not assumed.
  static std::string Checked(std::string sql) {
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
      const char c = sql[i];
      if (quote) {
        if (c == quote) quote = 0;  // a doubled quote re-enters at once
        continue;
      }
      if (c == '\'' || c == '"') {
        quote = c;
        continue;
      }
      const bool comment = i + 1 < sql.size() &&
                           ((c == '-' && sql[i + 1] == '-') || (c == '/' && sql[i + 1] == '*'));
      if (comment || c == ';' || c == '\0')
        throw std::logic_error("JetSql emitted unsafe SQL: " + sql);
    }
    if (quote) throw std::logic_error("JetSql emitted an unterminated literal: " + sql);
    return sql;
  }

  // ---- names ----

  bool IsNameToken(const Token& t) const {
    return t.kind == TokenKind::Name || (t.kind == TokenKind::Word && !IsReserved(t.text));
  }
  std::string ExpectName(const char* what) {
    const Token& t = Peek();
    if (!IsNameToken(t)) FailSyntax(t, std::string(what) + " expected");
    Next();
    return t.text;
  }
  // After '.' or '!' any word is a name (t.[Order] and t.Order alike).
  std::string ExpectMemberName(const std::string& separator) {
    const Token& t = Peek();
    if (t.kind != TokenKind::Name && t.kind != TokenKind::Word)
      FailSyntax(t, "name expected after '" + separator + "'");
    Next();
    return t.text;
  }

  // ---- expressions ----

  Expr ParseExpr() { return ParseImp(); }

  Expr LogicCall(std::string_view fn, const Expr& a, const Expr& b) {
    return Call(fn, {a, b}, Type::Bool, a.deepPos);
  }

  Expr ParseImp() {
    Expr left = ParseEqv();
    while (AcceptKeyword("IMP")) left = LogicCall("jet_imp", left, ParseEqv());
    return left;
  }
  Expr ParseEqv() {
    Expr left = ParseXor();
    while (AcceptKeyword("EQV")) left = LogicCall("jet_eqv", left, ParseXor());
    return left;
  }
  Expr ParseXor() {
    Expr left = ParseOr();
    while (AcceptKeyword("XOR")) left = LogicCall("jet_xor", left, ParseOr());
    return left;
  }
  Expr ParseOr() {
    Expr left = ParseAnd();
    while (AcceptKeyword("OR"))
      left = ChainWith(std::move(left), Chain::Or, "OR", ParseAnd(), Type::Bool);
    return left;
  }
  Expr ParseAnd() {
    Expr left = ParseNot();
    while (AcceptKeyword("AND"))
      left = ChainWith(std::move(left), Chain::And, "AND", ParseNot(), Type::Bool);
    return left;
  }
  Expr ParseNot() {
    if (IsKeyword(Peek(), "NOT")) {
      DepthGuard guard(*this, Next());
      return Unary("NOT", ParseNot(), Type::Bool);
    }
    return ParseCompare();
  }

  Expr Compare(Expr a, std::string_view op, Expr b) {
    a = Value(std::move(a));
    b = Value(std::move(b));
    if (!a.column && !b.column && !(a.type == Type::Number && b.type == Type::Number))
      a = Collated(std::move(a));
    return Binary(a, op, b, Type::Bool);
  }

  Expr ParseCompare() {
    Expr left = ParseConcat();
    while (true) {
      const Token& t = Peek();
      if (t.kind == TokenKind::Punct && (t.text == "=" || t.text == "<>" || t.text == "<" ||
                                         t.text == ">" || t.text == "<=" || t.text == ">=")) {
        const std::string op = Next().text;
        left = Compare(std::move(left), op, ParseConcat());
        continue;
      }
      if (IsKeyword(t, "IS")) {
        Next();
        const bool negated = AcceptKeyword("NOT");
        if (!AcceptKeyword("NULL")) FailSyntax(Peek(), "NULL expected after IS");
        Expr x = Value(std::move(left));
        Expr e;
        e.sql = "(" + x.sql + (negated ? " IS NOT NULL)" : " IS NULL)");
        e.type = Type::Bool;
        e.deepPos = x.deepPos;
        Absorb(e, x, 1);
        left = std::move(e);
        continue;
      }
      bool negated = false;
      if (IsKeyword(t, "NOT") && (IsKeyword(Peek(1), "LIKE") || IsKeyword(Peek(1), "BETWEEN") ||
                                  IsKeyword(Peek(1), "IN"))) {
        Next();
        negated = true;
      }
      if (AcceptKeyword("LIKE")) {
        left = ParseLike(std::move(left), negated);
      } else if (AcceptKeyword("BETWEEN")) {
        left = ParseBetween(std::move(left), negated);
      } else if (AcceptKeyword("IN")) {
        left = ParseIn(std::move(left), negated);
      } else {
        return left;
      }
    }
  }

  Expr ParseLike(Expr left, bool negated) {
    const Token& patternToken = Peek();
    Expr pattern = Value(ParseConcat());
    if (pattern.literal && pattern.type == Type::Text) {
      Pin(pattern);
      LikePattern compiled;
      std::string why;
      if (!compiled.Compile(pattern.text, &why))
        FailAt(patternToken, "invalid Like pattern '" + Excerpt(patternToken) + "' in " +
                                 std::string(m_what) + ": " + why + " of the pattern;");
    }
    Expr e = Call("jet_like", {Value(std::move(left)), pattern}, Type::Bool, pattern.deepPos);
    return negated ? Unary("NOT", e, Type::Bool) : e;
  }

  Expr ParseBetween(Expr left, bool negated) {
    Expr x = Value(std::move(left));
    Expr lo = Value(ParseConcat());
    ExpectKeyword("AND");
    Expr hi = Value(ParseConcat());
    // Jet accepts the bounds in either order.
    if (lo.literal && hi.literal && lo.type == hi.type &&
        (lo.type == Type::Number || lo.type == Type::Text)) {
      Pin(lo);
      Pin(hi);
      const bool swap =
          lo.type == Type::Number ? lo.number > hi.number : CompareNoCase(lo.text, hi.text) > 0;
      if (swap) std::swap(lo, hi);
    } else if (lo.sql.size() + hi.sql.size() <= 200) {
      Expr loC = Collated(lo);
      Expr min = Call("min", {loC, hi}, lo.type == hi.type ? lo.type : Type::Unknown, lo.deepPos);
      Expr max = Call("max", {loC, hi}, min.type, lo.deepPos);
      lo = std::move(min);
      hi = std::move(max);
    } else {
      Expr e = Call("jet_between", {x, lo, hi}, Type::Bool, x.deepPos);
      return negated ? Unary("NOT", e, Type::Bool) : e;
    }
    if (!x.column) x = Collated(std::move(x));
    Expr e;
    e.sql =
        "(" + x.sql + (negated ? " NOT BETWEEN " : " BETWEEN ") + lo.sql + " AND " + hi.sql + ")";
    e.type = Type::Bool;
    e.deepPos = x.deepPos;
    Absorb(e, x, 1);
    Absorb(e, lo, 4);
    Absorb(e, hi, 6);
    return e;
  }

  Expr ParseIn(Expr left, bool negated) {
    Expr x = Value(std::move(left));
    if (!x.column) x = Collated(std::move(x));
    const Token& open = Peek();
    ExpectPunct("(");
    DepthGuard guard(*this, open);
    Expr e;
    e.type = Type::Bool;
    e.deepPos = x.deepPos;
    Absorb(e, x, 1);
    e.sql = "(" + x.sql + (negated ? " NOT IN (" : " IN (");
    const int extra = negated ? 1 : 0;
    if (IsKeyword(Peek(), "SELECT")) {
      SelectResult sub = ParseSelect();
      e.sql += sub.statement.sql;
      Expr s;
      s.stack = sub.stack;
      s.height = sub.height;
      s.deepPos = sub.deepPos;
      Absorb(e, s, 5 + extra);
    } else {
      std::size_t count = 0;
      do {
        Expr item = Value(ParseExpr());
        if (count) e.sql += ", ";
        e.sql += item.sql;
        Absorb(e, item, (count ? 7 : 6) + extra);
        ++count;
      } while (AcceptPunct(","));
    }
    ExpectPunct(")");
    e.sql += "))";
    return e;
  }

  Expr ParseConcat() {
    Expr first = ParseAdd();
    if (!IsPunct(Peek(), "&")) return first;
    std::vector<Expr> parts;
    parts.push_back(Value(std::move(first)));
    while (AcceptPunct("&")) parts.push_back(Value(ParseAdd()));
    // One jet_concat per run of at most kMaxConcatArgs; longer runs nest (left-associative, which
    // keeps Jet's rule: the result is Null only when every part is Null).
    Expr acc;
    std::size_t i = 0;
    bool haveAcc = false;
    while (i < parts.size()) {
      std::vector<Expr> args;
      if (haveAcc) args.push_back(std::move(acc));
      while (i < parts.size() && args.size() < kMaxConcatArgs)
        args.push_back(std::move(parts[i++]));
      acc = Call("jet_concat", args, Type::Text, args.front().deepPos);
      haveAcc = true;
    }
    return acc;
  }

  Expr ParseAdd() {
    Expr left = ParseMod();
    while (true) {
      const Token& t = Peek();
      if (!IsPunct(t, "+") && !IsPunct(t, "-")) return left;
      const bool plus = Next().text == "+";
      Expr right = Value(ParseMod());
      left = Value(std::move(left));
      if (!plus) {
        left = ChainWith(std::move(left), Chain::AddSub, "-", right, Type::Number);
        continue;
      }
      // Jet's '+' adds numbers and joins two texts (Null if either is Null).
      const auto numeric = [](const Expr& e) {
        return e.type == Type::Number || e.type == Type::Bool || e.type == Type::Null;
      };
      if (numeric(left) || numeric(right)) {
        left = ChainWith(std::move(left), Chain::AddSub, "+", right, Type::Number);
      } else if (left.type == Type::Text && right.type == Type::Text) {
        left = ChainWith(std::move(left), Chain::Concat, "||", right, Type::Text);
      } else {
        left = Call("jet_add", {left, right}, Type::Unknown, left.deepPos);
      }
    }
  }

  Expr ParseMod() {
    Expr left = ParseIntDiv();
    while (AcceptKeyword("MOD"))
      left = Call("jet_mod", {Value(std::move(left)), Value(ParseIntDiv())}, Type::Number,
                  left.deepPos);
    return left;
  }

  Expr ParseIntDiv() {
    Expr left = ParseMul();
    while (AcceptPunct("\\"))
      left =
          Call("jet_idiv", {Value(std::move(left)), Value(ParseMul())}, Type::Number, left.deepPos);
    return left;
  }

  Expr ParseMul() {
    Expr left = ParseUnary();
    while (true) {
      if (AcceptPunct("*")) {
        Expr right = Value(ParseUnary());
        left = ChainWith(Value(std::move(left)), Chain::Mul, "*", right, Type::Number);
      } else if (AcceptPunct("/")) {
        Expr right = Value(ParseUnary());
        left = Call("jet_div", {Value(std::move(left)), right}, Type::Number, left.deepPos);
      } else {
        return left;
      }
    }
  }

  Expr ParseUnary() {
    const Token& t = Peek();
    if (IsPunct(t, "-")) {
      DepthGuard guard(*this, Next());
      return Unary("-", Value(ParseUnary()), Type::Number);
    }
    if (IsPunct(t, "+")) {
      DepthGuard guard(*this, Next());
      return ParseUnary();
    }
    return ParsePower();
  }

  Expr ParseExponent() {
    const Token& t = Peek();
    if (IsPunct(t, "-")) {
      DepthGuard guard(*this, Next());
      return Unary("-", Value(ParseExponent()), Type::Number);
    }
    if (IsPunct(t, "+")) {
      DepthGuard guard(*this, Next());
      return ParseExponent();
    }
    return ParsePrimary();
  }

  Expr ParsePower() {
    Expr left = ParsePrimary();
    while (AcceptPunct("^"))
      left = Call("jet_pow", {Value(std::move(left)), Value(ParseExponent())}, Type::Number,
                  left.deepPos);
    return left;
  }

  static Expr Literal(std::string sql, Type type, const Token& t) {
    Expr e;
    e.sql = std::move(sql);
    e.type = type;
    e.literal = true;
    e.deepPos = t.pos + 1;
    return e;
  }

  static bool IsLiteral(const Token& t) {
    return t.kind == TokenKind::Number || t.kind == TokenKind::Date || t.kind == TokenKind::String;
  }

  // A literal token in a WHERE condition translated with parameters becomes the next "?n".
  bool AsParameter(const Token& t, Expr& e) {
    if (!m_paramsOn || m_parameters.size() >= kMaxParameters) return false;
    const auto index = static_cast<std::size_t>(&t - m_tokens.data());
    e.sql = "?" + std::to_string(m_parameters.size() + 1);
    e.ordinal = m_ordinals[index];
    m_parameters.push_back(e.ordinal);
    return true;
  }

  // The translation depends on the value of literal `e`.
  void Pin(const Expr& e) {
    if (e.ordinal != kNoLiteral) m_pinned.push_back(e.ordinal);
  }

  Expr ParsePrimary() {
    const Token& t = Peek();
    switch (t.kind) {
      case TokenKind::Number:
      case TokenKind::Date: {
        Next();
        Expr e = Literal(t.value < 0 ? "(" + t.text + ")" : t.text, Type::Number, t);
        AsParameter(t, e);
        e.number = t.value;
        return e;
      }
      case TokenKind::String: {
        Next();
        Expr e = Literal(QuoteString(t.text), Type::Text, t);
        AsParameter(t, e);
        e.text = t.text;
        return e;
      }
      case TokenKind::Name:
        return ParseColumn();
      case TokenKind::Punct:
        if (t.text == "(") {
          DepthGuard guard(*this, Next());
          if (IsKeyword(Peek(), "SELECT")) {
            SelectResult sub = ParseSelect();
            ExpectPunct(")");
            Expr e;
            e.sql = "(" + sub.statement.sql + ")";
            e.deepPos = sub.deepPos;
            Expr s;
            s.stack = sub.stack;
            s.height = sub.height;
            s.deepPos = sub.deepPos;
            Absorb(e, s, 2);
            return e;
          }
          Expr inner = ParseExpr();
          ExpectPunct(")");
          // The inner expression is already parenthesized if compound; a chain stays extendable
          // only inside its own loop, so close it here.
          inner.chain = Chain::None;
          return inner;
        }
        if (t.text == "?")
          FailAt(t, "parameter marker '?' not supported in " + std::string(m_what));
        FailSyntax(t, "");
      case TokenKind::Word:
        break;
      case TokenKind::End:
        FailSyntax(t, "expression expected");
    }
    // Words: literals, EXISTS, function calls, column names.
    if (IsKeyword(t, "TRUE") || IsKeyword(t, "YES") || IsKeyword(t, "ON")) {
      Next();
      Expr e = Literal("(-1)", Type::Number, t);
      e.number = -1;
      return e;
    }
    if (IsKeyword(t, "FALSE") || IsKeyword(t, "NO") || IsKeyword(t, "OFF")) {
      Next();
      Expr e = Literal("0", Type::Number, t);
      e.number = 0;
      return e;
    }
    if (IsKeyword(t, "NULL")) {
      Next();
      return Literal("NULL", Type::Null, t);
    }
    if (IsKeyword(t, "EXISTS")) {
      DepthGuard guard(*this, Next());
      ExpectPunct("(");
      if (!IsKeyword(Peek(), "SELECT")) FailSyntax(Peek(), "SELECT expected after EXISTS (");
      SelectResult sub = ParseSelect();
      ExpectPunct(")");
      Expr e;
      e.sql = "EXISTS (" + sub.statement.sql + ")";
      e.type = Type::Bool;
      e.deepPos = sub.deepPos;
      Expr s;
      s.stack = sub.stack;
      s.height = sub.height;
      s.deepPos = sub.deepPos;
      Absorb(e, s, 3);
      return e;
    }
    if (IsPunct(Peek(1), "(")) {
      // LEFT, RIGHT and ASC are keywords and function names.
      if (IsReserved(t.text) && !IsKeyword(t, "LEFT") && !IsKeyword(t, "RIGHT") &&
          !IsKeyword(t, "ASC"))
        FailSyntax(t, "");
      return ParseFunction();
    }
    return ParseColumn();
  }

  Expr ParseColumn() {
    const Token& t = Peek();
    if (!IsNameToken(t)) FailSyntax(t, "");
    Next();
    Expr e;
    e.column = true;
    e.deepPos = t.pos + 1;
    e.sql = QuoteIdent(t.text);
    if (IsPunct(Peek(), ".") || IsPunct(Peek(), "!")) {
      const std::string separator = Next().text;
      e.sql += "." + QuoteIdent(ExpectMemberName(separator));
      e.stack = 3;
      if (IsPunct(Peek(), ".") || IsPunct(Peek(), "!"))
        FailSyntax(Peek(), "names have at most two parts (table.column)");
    }
    return e;
  }

  std::vector<Expr> ParseArguments(bool values) {
    std::vector<Expr> args;
    ExpectPunct("(");
    if (AcceptPunct(")")) return args;
    do {
      Expr a = ParseExpr();
      args.push_back(values ? Value(std::move(a)) : std::move(a));
    } while (AcceptPunct(","));
    ExpectPunct(")");
    return args;
  }

  Expr ParseFunction() {
    const Token& nameToken = Next();
    DepthGuard guard(*this, nameToken);
    const FunctionInfo* fn = FindFunction(nameToken.text);
    if (!fn) {
      throw UndefinedFunction("undefined function '" + nameToken.text + "' in " +
                                  std::string(m_what) + " at position " +
                                  std::to_string(nameToken.pos + 1),
                              nameToken.pos + 1, m_text, nameToken.text);
    }
    const std::size_t pos = nameToken.pos + 1;
    if (fn->special == Special::Aggregate) return ParseAggregate(*fn, nameToken);

    std::vector<Expr> args =
        ParseArguments(fn->special != Special::IIf && fn->special != Special::Switch);
    const int n = static_cast<int>(args.size());
    if (n < fn->minArgs || n > fn->maxArgs || (fn->special == Special::Switch && n % 2 != 0)) {
      std::string expected;
      if (fn->special == Special::Switch) {
        expected = "pairs of condition and value";
      } else if (fn->minArgs == fn->maxArgs) {
        expected = std::to_string(fn->minArgs);
      } else {
        expected = std::to_string(fn->minArgs) + " to " + std::to_string(fn->maxArgs);
      }
      FailAt(nameToken, "wrong number of arguments (" + std::to_string(n) + ") to function '" +
                            nameToken.text + "', " + expected + " expected, in " +
                            std::string(m_what));
    }
    switch (fn->special) {
      case Special::IIf:
      case Special::Switch: {
        // CASE WHEN c THEN v ... [ELSE v] END; a Null or false condition takes the false part.
        Expr e;
        e.sql = "CASE";
        e.deepPos = pos;
        e.stack = 3;
        Type type = Type::Null;
        bool firstValue = true;
        const auto addValue = [&](Expr v) {
          v = Value(std::move(v));
          if (v.type != Type::Null) {
            if (firstValue || type == Type::Null) {
              type = v.type;
            } else if (type != v.type) {
              type = Type::Unknown;
            }
            firstValue = false;
          }
          e.sql += v.sql;
          Absorb(e, v, 7);
        };
        const std::size_t pairs = fn->special == Special::IIf ? 1 : args.size() / 2;
        for (std::size_t i = 0; i < pairs; ++i) {
          e.sql += " WHEN ";
          e.sql += args[2 * i].sql;
          Absorb(e, args[2 * i], 7);
          e.sql += " THEN ";
          addValue(std::move(args[2 * i + 1]));
        }
        if (fn->special == Special::IIf) {
          e.sql += " ELSE ";
          addValue(std::move(args[2]));
        }
        e.sql += " END";
        e.type = type == Type::Null ? Type::Unknown : type;
        return e;
      }
      case Special::Nz:
        if (args.size() == 1) args.push_back(Literal("''", Type::Text, nameToken));
        return Call("coalesce", args, Type::Unknown, pos);
      case Special::IsNull: {
        Expr e;
        e.sql = "(" + args[0].sql + " IS NULL)";
        e.type = Type::Bool;
        e.deepPos = pos;
        Absorb(e, args[0], 1);
        return e;
      }
      case Special::Plain:
      case Special::Aggregate:
        break;
    }
    return Call(fn->sql, args, fn->type, pos);
  }

  Expr ParseAggregate(const FunctionInfo& fn, const Token& nameToken) {
    if (!m_aggAllowed)
      FailAt(nameToken, "aggregate function '" + nameToken.text + "' not allowed in " + m_clause);
    if (m_inAggregate)
      FailAt(nameToken,
             "aggregate function '" + nameToken.text + "' inside another aggregate function");
    Expr e;
    if (fn.name == "COUNT" && IsPunct(Peek(1), "*")) {
      ExpectPunct("(");
      Next();
      ExpectPunct(")");
      e.sql = "count(*)";
      e.type = Type::Number;
      e.stack = 4;
      e.deepPos = nameToken.pos + 1;
    } else {
      m_inAggregate = true;
      std::vector<Expr> args = ParseArguments(true);
      m_inAggregate = false;
      if (args.size() != 1)
        FailAt(nameToken, "wrong number of arguments (" + std::to_string(args.size()) +
                              ") to function '" + nameToken.text + "', 1 expected, in " +
                              std::string(m_what));
      if (fn.name == "MIN" || fn.name == "MAX") {
        args[0] = Collated(std::move(args[0]));
        e = Call(fn.sql, args, args[0].type, nameToken.pos + 1);
      } else {
        e = Call(fn.sql, args, fn.type, nameToken.pos + 1);
      }
    }
    e.aggregate = true;
    e.aggPos = nameToken.pos + 1;
    return e;
  }

  // ---- ORDER BY / GROUP BY lists ----

  // "a, b DESC" as an Expr carrying the costs (its sql is the list body).
  Expr ParseOrderList() {
    Expr list;
    list.stack = 0;
    std::size_t count = 0;
    do {
      if (++count > kMaxListItems) FailAt(Peek(), "too many items in the sort list");
      Expr item = Collated(Value(ParseExpr()));
      if (count > 1) list.sql += ", ";
      list.sql += item.sql;
      if (AcceptKeyword("DESC")) {
        list.sql += " DESC";
      } else {
        AcceptKeyword("ASC");
      }
      Absorb(list, item, 0);
    } while (AcceptPunct(","));
    return list;
  }

  Expr ParseGroupList() {
    Expr list;
    list.stack = 0;
    std::size_t count = 0;
    do {
      if (++count > kMaxListItems) FailAt(Peek(), "too many items in GROUP BY");
      Expr item = Collated(Value(ParseExpr()));
      if (count > 1) list.sql += ", ";
      list.sql += item.sql;
      Absorb(list, item, 0);
    } while (AcceptPunct(","));
    return list;
  }

  // ---- SELECT ----

  // An optional "WHERE condition": the translated condition goes into
  // r.statement.where. Answers whether there was one.
  bool ParseOptionalWhere(SelectResult& r) {
    if (!AcceptKeyword("WHERE")) return false;
    ClauseScope scope(*this, false, "WHERE");
    FlagScope parameters(m_paramsOn, m_withParameters);
    Expr e = ParseExpr();
    AbsorbClause(r, e, 8);
    r.statement.where = std::move(e.sql);
    return true;
  }

  void AbsorbClause(SelectResult& r, const Expr& e, int offset) {
    if (e.stack + offset > r.stack) {
      r.stack = e.stack + offset;
      r.deepPos = e.deepPos;
    }
    r.height = std::max(r.height, e.height + 1);
  }

  // A table in FROM, or a parenthesized join.
  std::string ParseTableTerm(SelectResult& r) {
    const Token& t = Peek();
    if (IsPunct(t, "(")) {
      DepthGuard guard(*this, Next());
      if (IsKeyword(Peek(), "SELECT")) FailAt(Peek(), "subquery in FROM not supported");
      ++m_joinParens;
      std::string inner = ParseJoin(r);
      --m_joinParens;
      ExpectPunct(")");
      return "(" + inner + ")";
    }
    TableRef ref;
    ref.name = ExpectName("table name");
    if (IsPunct(Peek(), ".") || IsPunct(Peek(), "!"))
      FailSyntax(Peek(), "a table name has one part");
    if (AcceptKeyword("AS")) {
      ref.alias = ExpectName("alias");
    } else if (IsNameToken(Peek())) {
      ref.alias = Next().text;
    }
    std::string sql = QuoteIdent(ref.name);
    if (!ref.alias.empty()) sql += " AS " + QuoteIdent(ref.alias);
    r.statement.tables.push_back(std::move(ref));
    if (r.statement.tables.size() > kMaxTables)
      FailAt(t, "too many tables in the query (at most " + std::to_string(kMaxTables) + ")");
    return sql;
  }

  std::string ParseJoin(SelectResult& r) {
    std::string sql = ParseTableTerm(r);
    while (true) {
      const Token& t = Peek();
      std::string join;
      if (IsKeyword(t, "INNER")) {
        join = " INNER JOIN ";
      } else if (IsKeyword(t, "LEFT")) {
        join = " LEFT JOIN ";
      } else if (IsKeyword(t, "RIGHT")) {
        join = " RIGHT JOIN ";
      } else if (IsKeyword(t, "JOIN") || IsKeyword(t, "FULL") || IsKeyword(t, "CROSS")) {
        FailSyntax(t, "INNER JOIN, LEFT JOIN or RIGHT JOIN expected");
      } else {
        return sql;
      }
      Next();
      if (!IsKeyword(t, "INNER")) AcceptKeyword("OUTER");
      ExpectKeyword("JOIN");
      sql += join + ParseTableTerm(r);
      ExpectKeyword("ON");
      ClauseScope scope(*this, false, "a JOIN's ON condition");
      Expr on = ParseExpr();
      AbsorbClause(r, on, 12 + 2 * m_joinParens);
      sql += " ON " + on.sql;
    }
  }

  SelectResult ParseSelect() {
    FlagScope noParameters(m_paramsOn, false);  // a subquery's select list, ORDER BY, ...
    SelectResult r;
    Statement& s = r.statement;
    s.kind = Statement::Kind::Select;
    r.stack = 14;
    ExpectKeyword("SELECT");
    if (AcceptKeyword("DISTINCT")) {
      s.distinct = true;
    } else if (!AcceptKeyword("DISTINCTROW")) {
      AcceptKeyword("ALL");
    }
    if (IsKeyword(Peek(), "TOP")) {
      Next();
      const Token& n = Peek();
      if (n.kind != TokenKind::Number || !n.integer || n.value < 1)
        FailSyntax(n, "a whole number above 0 expected after TOP");
      Next();
      if (IsKeyword(Peek(), "PERCENT")) FailAt(Peek(), "TOP ... PERCENT not supported");
      s.limit = n.text;
    }

    bool selectAggregate = false;
    std::size_t exprCount = 0;
    {
      ClauseScope scope(*this, true, "the select list");
      do {
        if (s.columns.size() >= kMaxListItems)
          FailAt(Peek(), "too many columns in the select list");
        ResultColumn col;
        if (AcceptPunct("*")) {
          col.star = true;
          col.sql = "*";
        } else if (IsNameToken(Peek()) && (IsPunct(Peek(1), ".") || IsPunct(Peek(1), "!")) &&
                   IsPunct(Peek(2), "*")) {
          col.star = true;
          col.starTable = Next().text;
          Next();
          Next();
          col.sql = QuoteIdent(col.starTable) + ".*";
        } else {
          Expr e = Value(ParseExpr());
          if (s.distinct) e = Collated(std::move(e));
          selectAggregate = selectAggregate || e.aggregate;
          AbsorbClause(r, e, 6);
          col.sql = std::move(e.sql);
          if (AcceptKeyword("AS")) {
            col.alias = ExpectName("column alias");
          } else if (!e.column) {
            col.alias = "Expr" + std::to_string(1000 + exprCount);
            ++exprCount;
          }
        }
        s.columns.push_back(std::move(col));
      } while (AcceptPunct(","));
    }

    const Token& fromToken = Peek();
    if (!IsKeyword(fromToken, "FROM")) {
      for (const ResultColumn& c : s.columns) {
        if (c.star) FailSyntax(fromToken, "FROM expected after a select list with '*'");
      }
    }
    if (AcceptKeyword("FROM")) {
      std::size_t count = 0;
      do {
        if (count++) s.from += ", ";
        s.from += ParseJoin(r);
      } while (AcceptPunct(","));
    }
    if (IsKeyword(Peek(), "INTO")) FailAt(Peek(), "SELECT ... INTO not supported");
    ParseOptionalWhere(r);
    if (AcceptKeyword("GROUP")) {
      ExpectKeyword("BY");
      ClauseScope scope(*this, false, "GROUP BY");
      Expr e = ParseGroupList();
      AbsorbClause(r, e, 14);
      s.groupBy = std::move(e.sql);
    }
    bool havingAggregate = false;
    const Token& havingToken = Peek();
    if (AcceptKeyword("HAVING")) {
      ClauseScope scope(*this, true, "HAVING");
      Expr e = ParseExpr();
      havingAggregate = e.aggregate;
      AbsorbClause(r, e, 10);
      s.having = std::move(e.sql);
    }
    s.aggregate = !s.groupBy.empty() || selectAggregate || havingAggregate;
    // HAVING needs groups to filter; SQLite's meaning without GROUP BY (one
    // group, bare columns taken from any row) is not Jet's.
    if (!s.having.empty() && s.groupBy.empty()) FailAt(havingToken, "HAVING without GROUP BY");
    if (AcceptKeyword("ORDER")) {
      ExpectKeyword("BY");
      ClauseScope scope(*this, true, "ORDER BY");
      Expr e = ParseOrderList();
      if (e.aggregate && !s.aggregate)
        throw SyntaxError(
            "aggregate function in ORDER BY of a query that does not aggregate at "
            "position " +
                std::to_string(e.aggPos),
            e.aggPos, m_text);
      AbsorbClause(r, e, 14);
      s.orderBy = std::move(e.sql);
    }
    if (IsKeyword(Peek(), "UNION")) FailAt(Peek(), "UNION queries not supported");
    s.sql = ComposeSelect(s);
    return r;
  }

  // ---- DELETE / UPDATE / INSERT ----

  // The target table and its alias; a join or a second table is refused.
  void ParseTarget(Statement& s, std::string& alias, const char* statement) {
    s.targetTable = ExpectName("table name");
    if (IsPunct(Peek(), ".") || IsPunct(Peek(), "!"))
      FailSyntax(Peek(), "a table name has one part");
    if (AcceptKeyword("AS")) {
      alias = ExpectName("alias");
    } else if (IsNameToken(Peek())) {
      alias = Next().text;
    }
    const Token& t = Peek();
    if (IsPunct(t, ",") || IsKeyword(t, "INNER") || IsKeyword(t, "LEFT") || IsKeyword(t, "RIGHT"))
      FailAt(t, std::string(statement) + " on more than one table not supported");
  }

  std::string TargetSql(const Statement& s, const std::string& alias) const {
    std::string sql = QuoteIdent(s.targetTable);
    if (!alias.empty()) sql += " AS " + QuoteIdent(alias);
    return sql;
  }

  bool NamesTarget(std::string_view qualifier, const Statement& s, const std::string& alias) const {
    return EqualNoCase(qualifier, alias.empty() ? s.targetTable : alias);
  }

  SelectResult ParseDelete() {
    SelectResult r;
    Statement& s = r.statement;
    s.kind = Statement::Kind::Delete;
    r.stack = 10;
    ExpectKeyword("DELETE");
    const Token* qualifierToken = nullptr;
    if (!AcceptPunct("*") && IsNameToken(Peek()) &&
        (IsPunct(Peek(1), ".") || IsPunct(Peek(1), "!")) && IsPunct(Peek(2), "*")) {
      qualifierToken = &Next();
      Next();
      Next();
    }
    ExpectKeyword("FROM");
    std::string alias;
    ParseTarget(s, alias, "DELETE");
    if (qualifierToken && !NamesTarget(qualifierToken->text, s, alias))
      FailAt(*qualifierToken, "DELETE " + qualifierToken->text + ".* does not name the table '" +
                                  s.targetTable + "'");
    s.sql = "DELETE FROM " + TargetSql(s, alias);
    if (ParseOptionalWhere(r)) s.sql += " WHERE " + s.where;
    return r;
  }

  SelectResult ParseUpdate() {
    SelectResult r;
    Statement& s = r.statement;
    s.kind = Statement::Kind::Update;
    r.stack = 10;
    ExpectKeyword("UPDATE");
    std::string alias;
    ParseTarget(s, alias, "UPDATE");
    ExpectKeyword("SET");
    s.sql = "UPDATE " + TargetSql(s, alias) + " SET ";
    std::size_t count = 0;
    do {
      if (++count > kMaxListItems) FailAt(Peek(), "too many assignments in SET");
      const Token& first = Peek();
      std::string column = ExpectName("column name");
      if (IsPunct(Peek(), ".") || IsPunct(Peek(), "!")) {
        const std::string separator = Next().text;
        if (!NamesTarget(column, s, alias))
          FailAt(first, "'" + column + "' does not name the table '" + s.targetTable + "'");
        column = ExpectMemberName(separator);
      }
      ExpectPunct("=");
      ClauseScope scope(*this, false, "SET");
      Expr e = Value(ParseExpr());
      AbsorbClause(r, e, 10);
      if (count > 1) s.sql += ", ";
      s.sql += QuoteIdent(column) + " = " + e.sql;
    } while (AcceptPunct(","));
    if (ParseOptionalWhere(r)) s.sql += " WHERE " + s.where;
    return r;
  }

  SelectResult ParseInsert() {
    SelectResult r;
    Statement& s = r.statement;
    s.kind = Statement::Kind::Insert;
    r.stack = 10;
    ExpectKeyword("INSERT");
    ExpectKeyword("INTO");
    s.targetTable = ExpectName("table name");
    s.sql = "INSERT INTO " + QuoteIdent(s.targetTable);
    std::size_t columns = 0;
    if (AcceptPunct("(")) {
      s.sql += " (";
      do {
        if (++columns > kMaxListItems) FailAt(Peek(), "too many columns in INSERT");
        if (columns > 1) s.sql += ", ";
        s.sql += QuoteIdent(ExpectName("column name"));
      } while (AcceptPunct(","));
      ExpectPunct(")");
      s.sql += ")";
    }
    const Token& t = Peek();
    if (AcceptKeyword("VALUES")) {
      ExpectPunct("(");
      ClauseScope scope(*this, false, "VALUES");
      s.sql += " VALUES (";
      std::size_t count = 0;
      do {
        if (++count > kMaxListItems) FailAt(Peek(), "too many values in INSERT");
        Expr e = Value(ParseExpr());
        AbsorbClause(r, e, 10);
        if (count > 1) s.sql += ", ";
        s.sql += e.sql;
      } while (AcceptPunct(","));
      ExpectPunct(")");
      s.sql += ")";
      if (columns && count != columns)
        FailAt(t, std::to_string(count) + " values for " + std::to_string(columns) +
                      " columns in INSERT");
      if (IsPunct(Peek(), ",")) FailAt(Peek(), "INSERT of more than one row not supported");
    } else if (IsKeyword(t, "SELECT")) {
      SelectResult sub = ParseSelect();
      if (columns) {
        bool star = false;
        for (const ResultColumn& c : sub.statement.columns) star = star || c.star;
        if (!star && sub.statement.columns.size() != columns)
          FailAt(t, std::to_string(sub.statement.columns.size()) + " values for " +
                        std::to_string(columns) + " columns in INSERT");
      }
      s.sql += " " + sub.statement.sql;
      if (sub.stack + 8 > r.stack) {
        r.stack = sub.stack + 8;
        r.deepPos = sub.deepPos;
      }
      r.height = std::max(r.height, sub.height + 1);
    } else {
      FailSyntax(t, "VALUES or SELECT expected");
    }
    return r;
  }

  std::string_view m_text;
  const char* m_what;
  std::vector<Token> m_tokens;
  std::size_t m_pos = 0;
  int m_depth = 0;
  int m_joinParens = 0;  // open parentheses around joins in the FROM being read
  bool m_aggAllowed = false;
  const char* m_clause = "an expression";
  bool m_inAggregate = false;
  const bool m_withParameters = false;
  bool m_paramsOn = false;              // literals read now become parameters
  std::vector<std::size_t> m_ordinals;  // per token: the number of literals before it
  std::vector<std::size_t> m_parameters;
  std::vector<std::size_t> m_pinned;
};

}  // namespace

}  // namespace detail

std::string TranslateExpression(std::string_view jet) {
  return detail::Parser(jet, "expression").Criteria();
}

std::string TranslateOrderBy(std::string_view jet) {
  return detail::Parser(jet, "sort list").SortList();
}

Statement TranslateStatement(std::string_view jet) {
  return detail::Parser(jet, "statement").WholeStatement();
}

Statement TranslateStatement(std::string_view jet, bool withParameters) {
  return detail::Parser(jet, "statement", withParameters).WholeStatement();
}

Shape ShapeOf(std::string_view jet) {
  using detail::TokenKind;
  Shape shape;
  shape.key.reserve(2 * jet.size() + 8);
  detail::ForEachToken(jet, "statement", [&](detail::Token&& t) {
    Literal lit;
    lit.pos = t.pos;
    lit.len = t.len;
    switch (t.kind) {
      case TokenKind::String:
        lit.kind = Literal::Kind::Text;
        break;
      case TokenKind::Number:
      case TokenKind::Date:
        if (t.kind == TokenKind::Number && t.integer) {
          lit.kind = Literal::Kind::Integer;
          std::from_chars(t.text.data(), t.text.data() + t.text.size(), lit.integer);
        } else {
          lit.kind = Literal::Kind::Real;
          lit.real = t.value;
        }
        break;
      default: {
        // Other tokens enter the key with their kind, length and text, so no two token
        // sequences share a key.
        const std::size_t n = t.text.size();
        const char head[5] = {static_cast<char>('A' + static_cast<int>(t.kind)),
                              static_cast<char>(n), static_cast<char>(n >> 8),
                              static_cast<char>(n >> 16), static_cast<char>(n >> 24)};
        shape.key.append(head, sizeof head).append(t.text);
        return;
      }
    }
    shape.key += static_cast<char>('a' + static_cast<int>(lit.kind));
    lit.text = std::move(t.text);
    shape.literals.push_back(std::move(lit));
  });
  return shape;
}

std::string ComposeSelect(const Statement& select) {
  std::string sql = "SELECT ";
  if (select.distinct) sql += "DISTINCT ";
  for (std::size_t i = 0; i < select.columns.size(); ++i) {
    if (i) sql += ", ";
    sql += select.columns[i].sql;
    if (!select.columns[i].alias.empty())
      sql += " AS " + detail::QuoteIdent(select.columns[i].alias);
  }
  if (!select.from.empty()) sql += " FROM " + select.from;
  if (!select.where.empty()) sql += " WHERE " + select.where;
  if (!select.groupBy.empty()) sql += " GROUP BY " + select.groupBy;
  if (!select.having.empty()) sql += " HAVING " + select.having;
  if (!select.orderBy.empty()) sql += " ORDER BY " + select.orderBy;
  if (!select.limit.empty()) sql += " LIMIT " + select.limit;
  return sql;
}

}  // namespace jetsql
