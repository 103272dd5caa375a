// The engine's bridge to the Jet SQL translator.
#include "Engine/JetBridge.h"

#include "Engine/EngineError.h"

#include "Engine/JetSql/JetSql.h"

namespace dao {

namespace {

std::string Excerpt(const std::string& text) {
  return text.size() > 200 ? text.substr(0, 200) + "..." : text;
}

}  // namespace

SqlStatement TranslateJetStatement(const std::string& jet, int syntaxError) {
  jetsql::Statement t;
  try {
    t = jetsql::TranslateStatement(jet);
  } catch (const jetsql::UndefinedFunction& e) {
    Fail(kErrUndefinedFunction,
         "Undefined function '" + e.functionName() + "' in expression '" + Excerpt(jet) + "'.");
  } catch (const jetsql::SyntaxError& e) {
    Fail(syntaxError,
         std::string("Syntax error in query expression '") + Excerpt(jet) + "': " + e.what() + ".");
  }
  SqlStatement st;
  switch (t.kind) {
    case jetsql::Statement::Kind::Select:
      st.kind = SqlStatement::Select;
      break;
    case jetsql::Statement::Kind::Delete:
      st.kind = SqlStatement::Delete;
      break;
    case jetsql::Statement::Kind::Update:
      st.kind = SqlStatement::Update;
      break;
    case jetsql::Statement::Kind::Insert:
      st.kind = SqlStatement::Insert;
      break;
    default:
      st.kind = SqlStatement::Other;
      break;
  }
  st.sql = t.sql;
  st.distinct = t.distinct;
  st.aggregate = t.aggregate;
  for (const auto& c : t.columns) st.columns.push_back({c.sql, c.alias, c.star, c.starTable});
  for (const auto& r : t.tables) st.tables.push_back({r.name, r.alias});
  st.from = t.from;
  st.where = t.where;
  st.groupBy = t.groupBy;
  st.having = t.having;
  st.orderBy = t.orderBy;
  st.limit = t.limit;
  st.targetTable = t.targetTable;
  return st;
}

std::string ComposeSqlSelect(const SqlStatement& s) {
  jetsql::Statement t;
  t.kind = jetsql::Statement::Kind::Select;
  t.distinct = s.distinct;
  t.aggregate = s.aggregate;
  for (const auto& c : s.columns) t.columns.push_back({c.sql, c.alias, c.star, c.starTable});
  for (const auto& r : s.tables) t.tables.push_back({r.name, r.alias});
  t.from = s.from;
  t.where = s.where;
  t.groupBy = s.groupBy;
  t.having = s.having;
  t.orderBy = s.orderBy;
  t.limit = s.limit;
  return jetsql::ComposeSelect(t);
}

std::string TranslateJetCriteria(const std::string& jet) {
  try {
    return jetsql::TranslateExpression(jet);
  } catch (const jetsql::UndefinedFunction& e) {
    Fail(kErrUndefinedFunction,
         "Undefined function '" + e.functionName() + "' in expression '" + Excerpt(jet) + "'.");
  } catch (const jetsql::SyntaxError& e) {
    Fail(kErrFindSyntax,
         std::string("Syntax error in expression '") + Excerpt(jet) + "': " + e.what() + ".");
  }
}

std::string TranslateJetOrderBy(const std::string& jet) {
  try {
    return jetsql::TranslateOrderBy(jet);
  } catch (const jetsql::SyntaxError& e) {
    Fail(kErrQuerySyntax,
         std::string("Syntax error in sort expression '") + Excerpt(jet) + "': " + e.what() + ".");
  }
}

void RegisterJetSql(sqlite3* db) {
  try {
    jetsql::RegisterJetFunctions(db);
  } catch (const std::exception& e) {
    Fail(kErrReserved, std::string("Could not register the Jet SQL functions: ") + e.what() + ".");
  }
}

const char* JetCollation() {
  return jetsql::kJetCollation;
}

}  // namespace dao
