// The engine's view of the Jet SQL translator (Engine/JetSql): the pieces of
// a translated statement that the engine needs, and the mapping of the
// translator's syntax errors to DAO errors.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dao {

struct SqlColumn {
  std::string sql;        // the translated expression
  std::string alias;      // AS name, empty if none
  bool star = false;      // "*" or "t.*"
  std::string starTable;  // the t of "t.*"
};

struct SqlTable {
  std::string name;   // table or query name as written (unquoted)
  std::string alias;  // empty if none
  const std::string& ref() const { return alias.empty() ? name : alias; }
};

struct SqlStatement {
  enum Kind { Select, Insert, Update, Delete, Other } kind = Other;
  std::string sql;  // the whole statement in SQLite's dialect
  // SELECT pieces (translated):
  bool distinct = false;
  bool aggregate = false;
  std::vector<SqlColumn> columns;
  std::vector<SqlTable> tables;
  std::string from, where, groupBy, having, orderBy;
  std::string limit;  // TOP n as a LIMIT count, empty when none
  // DELETE / UPDATE / INSERT:
  std::string targetTable;
  // Translated with parameters: the ordinal of the literal behind each ?n of
  // the WHERE condition, and the ordinals of literals whose values shaped the
  // translation (see StatementShape).
  std::vector<std::size_t> parameters;
  std::vector<std::size_t> pinned;
};

// A literal of a Jet text, as a value to bind to a parameter.
struct SqlParameter {
  enum Kind { Integer, Real, Text } kind = Integer;
  std::string text;  // the literal as written (Text: its value)
  std::int64_t integer = 0;
  double real = 0;
};

// The shape of a Jet text: texts that differ only in the values of their
// literals have equal keys; `literals` holds this text's literals in order.
struct StatementShape {
  std::string key;
  std::vector<SqlParameter> literals;
  // Per literal: where it is written in the text (byte offset, length).
  std::vector<std::pair<std::size_t, std::size_t>> spans;
};

// The shape of `jet`; false when the text cannot be cut into tokens (its
// translation then reports why).
bool ShapeJetStatement(const std::string& jet, StatementShape* shape);
// Binds `values` to ?1..?n of `stmt`.
void BindParameters(sqlite3_stmt* stmt, const std::vector<SqlParameter>& values);

// Translates a Jet statement; a text the translator cannot read raises
// `syntaxError` (3075 for queries) with a description naming the text.
SqlStatement TranslateJetStatement(const std::string& jet, int syntaxError);
// As above; with `withParameters` the literals of WHERE conditions become
// parameters (SqlStatement::parameters).
SqlStatement TranslateJetStatement(const std::string& jet, int syntaxError, bool withParameters);
// The SQL of a SELECT from its pieces.
std::string ComposeSqlSelect(const SqlStatement& select);
// Translates a Jet ORDER BY body.
std::string TranslateJetOrderBy(const std::string& jet);
// Translates a Jet criteria text (Find, filters); failures raise 3077.
std::string TranslateJetCriteria(const std::string& jet);
// Registers the translator's functions and collation on a connection.
void RegisterJetSql(sqlite3* db);
// The collation that every text column is declared with.
const char* JetCollation();

}  // namespace dao
