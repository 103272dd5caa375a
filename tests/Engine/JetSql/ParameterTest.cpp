// Translation with parameters and the shape of a text: the literals of WHERE conditions become
// ?1, ?2, ...; bound with the text's own literals the statement finds exactly what the plain
// translation finds, and the shape tells which other texts may reuse it.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Engine/JetSql/JetSql.h"
#include "JetSqlTestDb.h"

namespace {

using jetsql::Literal;
using jetsql::ShapeOf;
using jetsql::Statement;
using jetsql::TranslateStatement;
using jetsqltest::TestDb;

// Every row of `sql` with `values` bound to ?1..?n, as "a|b;c|d".
std::string Rows(TestDb& db, const std::string& sql, const std::vector<Literal>& values) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db.get()) << "\n  " << sql;
    sqlite3_finalize(s);
    return "<error>";
  }
  EXPECT_EQ(sqlite3_bind_parameter_count(s), static_cast<int>(values.size())) << sql;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Literal& v = values[i];
    const int at = static_cast<int>(i + 1);
    if (v.kind == Literal::Kind::Integer) sqlite3_bind_int64(s, at, v.integer);
    if (v.kind == Literal::Kind::Real) sqlite3_bind_double(s, at, v.real);
    if (v.kind == Literal::Kind::Text)
      sqlite3_bind_text(s, at, v.text.c_str(), -1, SQLITE_TRANSIENT);
  }
  std::string out;
  while (sqlite3_step(s) == SQLITE_ROW) {
    if (!out.empty()) out += ";";
    for (int c = 0; c < sqlite3_column_count(s); ++c) {
      const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
      if (c != 0) out += "|";
      out += t != nullptr ? t : "NULL";
    }
  }
  sqlite3_finalize(s);
  return out;
}

// The values a parametrized translation of `jet` binds: its own literals.
std::vector<Literal> Bindings(const Statement& st, const std::string& jet) {
  const std::vector<Literal> literals = ShapeOf(jet).literals;
  std::vector<Literal> out;
  for (std::size_t ordinal : st.parameters) out.push_back(literals.at(ordinal));
  return out;
}

TEST(JetParameters, BoundTranslationFindsWhatThePlainOneFinds) {
  const std::vector<std::string> texts = {
      "SELECT * FROM People WHERE Id = 3",
      "SELECT * FROM People WHERE Name = 'O''Neil' AND Id = 4",
      "SELECT Id FROM People WHERE Amount > -3.5 AND Amount < 1e2 ORDER BY Id",
      "SELECT Id FROM People WHERE Born >= #1/1/1990# OR Born < #1899-12-30 06:00#",
      "SELECT Id FROM People WHERE Id IN (1, 3, &H5) ORDER BY 1",
      "SELECT Id FROM People WHERE Amount Between 100 And 5 ORDER BY Id",
      "SELECT Id FROM People WHERE Name Between 'z' And 'b' ORDER BY Id",
      "SELECT Id FROM People WHERE Note Like '50[%]*' OR Name Like 'a*'",
      "SELECT Id, 'x' AS Tag, Amount * 2 FROM People WHERE Amount * 2 > 20",
      "SELECT TOP 2 Id FROM People WHERE Active = True ORDER BY Id",
      "SELECT Name FROM People WHERE Id IN (SELECT TOP 1 PersonId FROM Orders WHERE Qty > 1 "
      "ORDER BY 1) AND Name <> ''",
      "SELECT PersonId, Sum(Qty) FROM Orders WHERE Qty < 100 GROUP BY PersonId HAVING Sum(Qty) > 1",
      "SELECT * FROM Orders INNER JOIN People ON Orders.PersonId = People.Id AND People.Id < 9 "
      "WHERE Item = 'pen' ORDER BY OrderId",
      "SELECT Id FROM People WHERE Name & '!' = 'bob!' OR Left(City, 1) = 'M'",
      "SELECT Id FROM People WHERE 1 = 1 AND IIf(Amount > 10, 'big', 'small') = 'big'",
  };
  TestDb db;
  for (const std::string& jet : texts) {
    SCOPED_TRACE(jet);
    const Statement plain = TranslateStatement(jet);
    const Statement bound = TranslateStatement(jet, true);
    EXPECT_TRUE(plain.parameters.empty());
    EXPECT_EQ(Rows(db, bound.sql, Bindings(bound, jet)), Rows(db, plain.sql, {}));
  }
}

TEST(JetParameters, OnlyWhereConditionsTakeParameters) {
  const Statement s = TranslateStatement(
      "SELECT TOP 3 Id, 7 AS Seven FROM Orders INNER JOIN People ON Orders.Qty > 1 "
      "WHERE Id = 5 AND Item IN (SELECT 'a' FROM People WHERE Id = 6 ORDER BY 1) "
      "GROUP BY Id HAVING Count(*) > 2 ORDER BY 1",
      true);
  // Literal ordinals: 3, 7, 1, 5, 'a', 6, 1, 2, 1: the WHERE's 5 and its subquery's 6.
  EXPECT_EQ(s.parameters, (std::vector<std::size_t>{3, 5}));
  EXPECT_EQ(s.limit, "3");
  EXPECT_NE(s.columns.at(1).sql.find('7'), std::string::npos);
  EXPECT_NE(s.from.find("> 1"), std::string::npos);
  EXPECT_EQ(s.orderBy.find('?'), std::string::npos);
  EXPECT_NE(s.where.find("?1"), std::string::npos);
  EXPECT_NE(s.where.find("?2"), std::string::npos);
  EXPECT_TRUE(s.pinned.empty());

  const Statement del = TranslateStatement("DELETE FROM People WHERE Id = 9 OR Name = 'x'", true);
  EXPECT_EQ(del.parameters, (std::vector<std::size_t>{0, 1}));
}

TEST(JetParameters, LiteralsWhoseValuesShapeTheTranslationArePinned) {
  // Between puts literal bounds in order at translation time, and a Like pattern is checked: the
  // translation holds only for these values.
  const Statement between =
      TranslateStatement("SELECT * FROM People WHERE Id = 1 AND Amount Between 9 And 2", true);
  EXPECT_EQ(between.parameters, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(between.pinned, (std::vector<std::size_t>{1, 2}));
  const Statement like = TranslateStatement("SELECT * FROM People WHERE Name Like 'a*'", true);
  EXPECT_EQ(like.pinned, (std::vector<std::size_t>{0}));
  // Bounds that are not both literals are ordered by SQLite at run time: nothing is pinned.
  const Statement mixed =
      TranslateStatement("SELECT * FROM People WHERE Amount Between Id And 2", true);
  EXPECT_TRUE(mixed.pinned.empty());
}

TEST(JetParameters, ShapesAreEqualExactlyWhenOnlyLiteralValuesDiffer) {
  const auto key = [](const char* jet) { return ShapeOf(jet).key; };
  EXPECT_EQ(key("SELECT * FROM t WHERE id = 1"), key("SELECT * FROM t WHERE id = 123456"));
  EXPECT_EQ(key("SELECT * FROM t WHERE id = 'a'"), key("SELECT * FROM t WHERE id = 'it''s'"));
  EXPECT_EQ(key("SELECT * FROM t WHERE d = 1.5"), key("SELECT * FROM t WHERE d = #1/2/2003#"));
  EXPECT_NE(key("SELECT * FROM t WHERE id = 1"), key("SELECT * FROM t WHERE id = '1'"));
  EXPECT_NE(key("SELECT * FROM t WHERE id = 1"), key("SELECT * FROM t WHERE id = 1.0"));
  EXPECT_NE(key("SELECT * FROM t WHERE id = 1"), key("SELECT * FROM u WHERE id = 1"));
  EXPECT_NE(key("SELECT * FROM [t u] WHERE id = 1"), key("SELECT * FROM [t] u WHERE id = 1"));
  EXPECT_NE(key("SELECT * FROM t WHERE id = 1"), key("SELECT * FROM t WHERE id = -1"));

  const jetsql::Shape s = ShapeOf("SELECT * FROM t WHERE a = 'x''y' AND b = &HFFFF AND c = 2.5");
  ASSERT_EQ(s.literals.size(), 3u);
  EXPECT_EQ(s.literals[0].kind, Literal::Kind::Text);
  EXPECT_EQ(s.literals[0].text, "x'y");
  EXPECT_EQ(s.literals[1].kind, Literal::Kind::Integer);
  EXPECT_EQ(s.literals[1].integer, -1);
  EXPECT_EQ(s.literals[2].kind, Literal::Kind::Real);
  EXPECT_EQ(s.literals[2].real, 2.5);
  EXPECT_THROW(ShapeOf("SELECT * FROM t WHERE a = 'open"), jetsql::SyntaxError);
}

}  // namespace
