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
  return TranslateJetStatement(jet, syntaxError, false);
}

SqlStatement TranslateJetStatement(const std::string& jet, int syntaxError, bool withParameters) {
  jetsql::Statement t;
  try {
    t = jetsql::TranslateStatement(jet, withParameters);
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
  st.parameters = std::move(t.parameters);
  st.pinned = std::move(t.pinned);
  return st;
}

bool ShapeJetStatement(const std::string& jet, StatementShape* shape) {
  jetsql::Shape s;
  try {
    s = jetsql::ShapeOf(jet);
  } catch (const jetsql::SyntaxError&) {
    return false;
  }
  shape->key = std::move(s.key);
  shape->literals.clear();
  shape->literals.reserve(s.literals.size());
  shape->spans.clear();
  shape->spans.reserve(s.literals.size());
  for (jetsql::Literal& l : s.literals) {
    shape->spans.emplace_back(l.pos, l.len);
    SqlParameter p;
    switch (l.kind) {
      case jetsql::Literal::Kind::Integer:
        p.kind = SqlParameter::Integer;
        break;
      case jetsql::Literal::Kind::Real:
        p.kind = SqlParameter::Real;
        break;
      case jetsql::Literal::Kind::Text:
        p.kind = SqlParameter::Text;
        break;
    }
    p.text = std::move(l.text);
    p.integer = l.integer;
    p.real = l.real;
    shape->literals.push_back(std::move(p));
  }
  return true;
}

void BindParameters(sqlite3_stmt* stmt, const std::vector<SqlParameter>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const SqlParameter& v = values[i];
    const int index = static_cast<int>(i + 1);
    switch (v.kind) {
      case SqlParameter::Integer:
        sqlite3_bind_int64(stmt, index, v.integer);
        break;
      case SqlParameter::Real:
        sqlite3_bind_double(stmt, index, v.real);
        break;
      case SqlParameter::Text:
        sqlite3_bind_text(stmt, index, v.text.data(), static_cast<int>(v.text.size()),
                          SQLITE_TRANSIENT);
        break;
    }
  }
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
