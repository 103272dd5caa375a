// Jet SQL and criteria translation: the engine's clients write SQL, filter, sort and Find texts in
// Jet syntax; this library reads them with a tokenizer and a recursive-descent parser and emits
// SQLite SQL from the parse. Nothing of the client's text reaches SQLite unless the whole text was
// read: a text the translator cannot read raises SyntaxError.
//
// Translated SQL calls SQL functions (jet_like, jet_concat, jet_ucase, ...) and the collation
// JETNOCASE that RegisterJetFunctions adds to a connection; every identifier is emitted quoted.
// Dates are OLE Automation dates (REAL days since 1899-12-30), Booleans -1/0, text UTF-8.
//
// Thread safety: the translate functions are pure and may run on any thread at once. The SQL
// functions keep no state beyond the statement that runs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace jetsql {

// A text the translator cannot read. message() says what and where ("syntax error in expression
// near 'xyz' at position 12"); text() is the whole input; position() is the 1-based byte position
// of the offending text within it (the number the message shows).
class SyntaxError : public std::runtime_error {
 public:
  SyntaxError(const std::string& message, std::size_t position, std::string_view text);
  std::size_t position() const { return m_position; }
  const std::string& text() const { return m_text; }

 private:
  std::size_t m_position;
  std::string m_text;
};

// A call of a function that Jet SQL does not know (DAO's 3085 "Undefined function"); a
// SyntaxError, so callers that do not tell them apart need not care.
class UndefinedFunction : public SyntaxError {
 public:
  UndefinedFunction(const std::string& message, std::size_t position, std::string_view text,
                    std::string functionName);
  const std::string& functionName() const { return m_functionName; }

 private:
  std::string m_functionName;
};

// An expression in Jet syntax (a WHERE clause body without "WHERE": filter and Find criteria) as
// SQLite SQL for a boolean context. Text in UTF-8. Aggregate functions are refused.
std::string TranslateExpression(std::string_view jet);

// An ORDER BY list body in Jet syntax ("Name DESC, [Order Date]") as an SQLite ORDER BY body.
std::string TranslateOrderBy(std::string_view jet);

struct TableRef {
  std::string name;   // as written, unquoted
  std::string alias;  // empty when none
};

struct ResultColumn {
  std::string sql;        // translated expression; "*" or "\"t\".*" for a star
  std::string alias;      // the column's name when given by AS, or Jet's "Expr1000", "Expr1001",
                          // ... for an expression without one; empty for a plain column or a star
  bool star = false;      // "*" or "t.*"
  std::string starTable;  // the table (or alias) of "t.*", unquoted; empty for "*"
};

struct Statement {
  enum class Kind { Select, Delete, Update, Insert, CreateTable };
  Kind kind = Kind::Select;
  std::string sql;  // the whole statement, translated, no trailing ';'

  // SELECT: the translated pieces, so that the engine can recompose the statement with extra
  // result columns or conditions (ComposeSelect below).
  bool distinct = false;
  std::vector<ResultColumn> columns;
  std::vector<TableRef> tables;  // every table in FROM and its JOINs, in the order written
  std::string from;              // FROM clause body incl. joins
  std::string where, groupBy, having, orderBy;  // bodies, empty when absent
  std::string limit;                            // TOP n as the LIMIT count ("5"), empty when absent
  bool aggregate = false;  // GROUP BY present or an aggregate function in the select list or HAVING

  // DELETE / UPDATE / INSERT: the target table (as written, unquoted); DELETE and UPDATE also fill
  // `where` with the translated WHERE body.
  std::string targetTable;

  // Translated with parameters (TranslateStatement(jet, true)): the literals of WHERE conditions
  // are emitted as ?1, ?2, ... instead of their values. parameters[i] is the ordinal of the literal
  // that ?(i+1) stands for, among all literals of the text in text order (Shape::literals).
  // pinned lists the ordinals of literals whose values shaped the translation (Between bounds it
  // put in order, a Like pattern it checked): the translation holds for another text of the same
  // shape only when the pinned literals and those that are not parameters are equal in both.
  std::vector<std::size_t> parameters;
  std::vector<std::size_t> pinned;
};

// A literal of a text: a string, a number or a date.
struct Literal {
  enum class Kind : std::uint8_t { Integer, Real, Text };
  Kind kind = Kind::Integer;
  std::string text;          // Integer: decimal digits; Real: SQLite REAL literal; Text: the value
  std::int64_t integer = 0;  // Integer: the value
  double real = 0;           // Real (numbers with a fraction or exponent, dates): the value
  std::size_t pos = 0;       // where it is written in the text (byte offset)
  std::size_t len = 0;       // its length there
};

// The shape of a text: `key` is equal for two texts exactly when they consist of the same tokens
// apart from the values of their literals (a literal's kind is part of the shape); `literals`
// are the text's literals in text order.
struct Shape {
  std::string key;
  std::vector<Literal> literals;
};

// The shape of `jet`. Throws SyntaxError where the text cannot be cut into tokens.
Shape ShapeOf(std::string_view jet);

// One statement (SELECT, DELETE, UPDATE, INSERT), with an optional trailing ';' followed by
// nothing but white space. CREATE TABLE and other DDL are refused (Kind::CreateTable is reserved).
Statement TranslateStatement(std::string_view jet);
// As above; with `withParameters` the literals of WHERE conditions become parameters (see
// Statement::parameters). Literals elsewhere (select list, ON, GROUP BY, HAVING, ORDER BY, TOP)
// stay in the SQL, since SQLite reads some of them differently from a parameter (ORDER BY 1).
Statement TranslateStatement(std::string_view jet, bool withParameters);

// The SQL of a SELECT from its pieces (distinct, columns, from, where, groupBy, having, orderBy,
// limit), as TranslateStatement composes `sql`.
std::string ComposeSelect(const Statement& select);

// Registers on a connection the SQL functions and the collation that translated SQL uses. Call
// once per connection, before preparing translated SQL. Throws std::runtime_error naming the
// function when SQLite refuses one.
void RegisterJetFunctions(sqlite3* db);

// Case-insensitive (Unicode-aware) text collation: letters compare by their base letter first
// (so "ä" sorts with "a"), then by their lower-case form; equal only when equal ignoring case.
inline constexpr const char* kJetCollation = "JETNOCASE";

}  // namespace jetsql
