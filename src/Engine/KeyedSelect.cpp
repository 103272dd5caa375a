// Keyed SELECTs: a recordset's text rewritten so that each row carries the
// rowids of its base rows, and the cache of them by the shape of the text.
#include "Engine/DatabaseCore.h"

#include <algorithm>
#include <string_view>

#include "Engine/CatalogText.h"

namespace dao {

KeyedSelect DatabaseCore::BuildKeyedSelect(const std::string& jetSql, int syntaxError,
                                           bool withParameters) {
  CheckOpen();
  KeyedSelect k;
  k.statement = TranslateJetStatement(jetSql, syntaxError, withParameters);
  const SqlStatement& st = k.statement;
  if (st.kind != SqlStatement::Select)
    Fail(kErrInvalidArgument,
         "OpenRecordset needs a SELECT query; '" + jetSql + "' is an action query (use Execute).");
  bool keyable = !st.distinct && !st.aggregate && st.groupBy.empty() && st.having.empty() &&
                 !st.tables.empty() && !st.from.empty() && st.limit.empty();
  if (keyable) {
    for (const auto& t : st.tables) {
      if (FindTable(t.name)) {
        k.keyExprs.push_back(QuoteId(t.ref()) + ".rowid");
      } else if (IsQuery(t.name)) {
        std::string ctx = "Reading query '" + t.name + "'";
        CachedStmt s = m_conn->Prepare("SELECT name FROM pragma_table_info(?1)", ctx);
        sqlite3_bind_text(s.get(), 1, t.name.c_str(), -1, SQLITE_TRANSIENT);
        bool any = false;
        while (s.Step(ctx)) {
          std::string col = ColumnText(s.get(), 0);
          if (col.rfind(kKeyPrefix, 0) == 0) {
            k.keyExprs.push_back(QuoteId(t.ref()) + "." + QuoteId(col));
            any = true;
          }
        }
        if (!any) keyable = false;
      } else {
        keyable = false;
      }
    }
  }
  k.keyed = keyable && !k.keyExprs.empty();
  if (!k.keyed) {
    k.keyExprs.clear();
    k.sql = st.sql;
    return k;
  }
  SqlStatement open = st;
  open.columns.clear();
  for (std::size_t i = 0; i < k.keyExprs.size(); ++i)
    open.columns.push_back({k.keyExprs[i], kKeyPrefix + std::to_string(i), false, {}});
  for (const auto& c : st.columns) open.columns.push_back(c);
  k.sql = ComposeSqlSelect(open);
  k.rereadSql = RereadSql(k);
  return k;
}

BoundSelect DatabaseCore::SelectForRecordset(const std::string& jetSql) {
  CheckOpen();
  NoticeSchemaChanges();
  constexpr std::size_t kMaxShapes = 256;
  StatementShape shape;
  if (!ShapeLikeLast(jetSql, &shape)) {
    if (!ShapeJetStatement(jetSql, &shape))
      return {std::make_shared<const KeyedSelect>(BuildKeyedSelect(jetSql, kErrQuerySyntax)), {}};
    RememberShape(jetSql, shape);
  }
  BoundSelect out;
  auto it = m_shapes.find(std::string_view(shape.key));
  const bool hit = it != m_shapes.end() &&
                   std::all_of(it->second->second.fixed.begin(), it->second->second.fixed.end(),
                               [&](auto& f) { return shape.literals[f.first].text == f.second; });
  if (hit) {
    out.select = it->second->second.select;
    if (it->second != m_shapeLru.begin())
      m_shapeLru.splice(m_shapeLru.begin(), m_shapeLru, it->second);
  } else {
    auto select =
        std::make_shared<const KeyedSelect>(BuildKeyedSelect(jetSql, kErrQuerySyntax, true));
    out.select = select;
    // Only keyed selects are kept: they name tables and queries that exist,
    // and they are what is opened over and over (a record by its id).
    if (select->keyed) {
      const std::vector<std::size_t>& params = select->statement.parameters;
      const std::vector<std::size_t>& pinned = select->statement.pinned;
      ShapedSelect entry;
      entry.select = select;
      for (std::size_t i = 0; i < shape.literals.size(); ++i) {
        const bool parameter = std::find(params.begin(), params.end(), i) != params.end();
        const bool isPinned = std::find(pinned.begin(), pinned.end(), i) != pinned.end();
        if (!parameter || isPinned) entry.fixed.emplace_back(i, shape.literals[i].text);
      }
      if (it != m_shapes.end()) {
        it->second->second = std::move(entry);  // same shape, other pinned literals
        m_shapeLru.splice(m_shapeLru.begin(), m_shapeLru, it->second);
      } else {
        if (m_shapes.size() >= kMaxShapes) {
          m_shapes.erase(std::string_view(m_shapeLru.back().first));
          m_shapeLru.pop_back();
        }
        m_shapeLru.emplace_front(std::move(shape.key), std::move(entry));
        m_shapes.emplace(std::string_view(m_shapeLru.front().first), m_shapeLru.begin());
      }
    }
  }
  out.parameters.reserve(out.select->statement.parameters.size());
  for (std::size_t ordinal : out.select->statement.parameters)
    out.parameters.push_back(shape.literals[ordinal]);
  return out;
}

namespace {

// The value of `digits` when they are 1 to 9 decimal digits (a value the
// lexer reads as an integer whatever they are), else -1.
std::int64_t DecimalDigits(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return -1;
  std::int64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

void DatabaseCore::RememberShape(const std::string& jetSql, const StatementShape& shape) {
  const bool one = shape.literals.size() == 1 && shape.spans.size() == 1 &&
                   shape.literals[0].kind == SqlParameter::Integer &&
                   shape.spans[0].first + shape.spans[0].second <= jetSql.size() &&
                   DecimalDigits(std::string_view(jetSql).substr(shape.spans[0].first,
                                                                 shape.spans[0].second)) >= 0;
  if (!one) return;
  m_lastShape.text = jetSql;
  m_lastShape.shape = shape;
}

bool DatabaseCore::ShapeLikeLast(const std::string& jetSql, StatementShape* shape) const {
  // The text before the literal and after it are the last text's: the
  // tokens before it are the same, a run of digits there is one integer
  // token as before, and what follows it is read as it was.
  const std::string& last = m_lastShape.text;
  if (last.empty()) return false;
  const auto [begin, length] = m_lastShape.shape.spans[0];
  const std::size_t tail = last.size() - begin - length;
  if (jetSql.size() <= begin + tail) return false;
  const std::size_t digits = jetSql.size() - begin - tail;
  if (jetSql.compare(0, begin, last, 0, begin) != 0 ||
      jetSql.compare(begin + digits, tail, last, begin + length, tail) != 0)
    return false;
  const std::int64_t value = DecimalDigits(std::string_view(jetSql).substr(begin, digits));
  if (value < 0) return false;
  *shape = m_lastShape.shape;
  shape->literals[0].text = std::to_string(value);
  shape->literals[0].integer = value;
  shape->spans[0] = {begin, digits};
  return true;
}

std::string RereadSql(const KeyedSelect& k) {
  // The keys are numbered after the select's own parameters (?1..?n, the
  // literals of its conditions), which stay bound as they were at open: a
  // subquery in the select list may use them.
  const std::size_t base = k.statement.parameters.size();
  auto key = [&](std::size_t i) {
    std::string name = "?";
    name += std::to_string(base + i + 1);
    return name;
  };
  SqlStatement reread = k.statement;
  reread.orderBy.clear();
  reread.where.clear();
  // A join of tables is read by the rowids of its base rows alone, without
  // its ON conditions: a row whose join column was changed through the
  // recordset is still the same base rows. (Queries keep their joins, and a
  // RIGHT JOIN, whose first table may be missing, is read as written.)
  const std::vector<SqlTable>& tables = k.statement.tables;
  bool byRowids = tables.size() > 1 && k.keyExprs.size() == tables.size() &&
                  k.statement.from.find(" RIGHT JOIN ") == std::string::npos;
  for (std::size_t i = 0; i < tables.size() && byRowids; ++i)
    byRowids = k.keyExprs[i] == QuoteId(tables[i].ref()) + ".rowid";
  if (byRowids) {
    auto term = [&](const SqlTable& t) {
      return QuoteId(t.name) + (t.alias.empty() ? "" : " AS " + QuoteId(t.alias));
    };
    reread.from = term(tables[0]);
    reread.where = k.keyExprs[0] + " = " + key(0);
    for (std::size_t i = 1; i < tables.size(); ++i) {
      reread.from += " LEFT JOIN " + term(tables[i]) + " ON " + k.keyExprs[i] + " = " + key(i);
      // A base row deleted elsewhere: the record reads as deleted.
      reread.where += " AND (" + key(i) + " IS NULL OR " + k.keyExprs[i] + " IS NOT NULL)";
    }
    return ComposeSqlSelect(reread);
  }
  for (std::size_t i = 0; i < k.keyExprs.size(); ++i) {
    if (i) reread.where += " AND ";
    reread.where += k.keyExprs[i] + (k.keyExprs.size() == 1 ? " = " : " IS ") + key(i);
  }
  return ComposeSqlSelect(reread);
}

}  // namespace dao
