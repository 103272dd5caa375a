// Whole Jet statements: the system's own statements, joins, aggregates, DML, and the pieces of a
// SELECT that the engine recomposes. Each statement is translated and run on a real connection.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "Engine/JetSql/JetSql.h"
#include "JetSqlTestDb.h"

namespace {

using jetsql::Statement;
using jetsql::TranslateStatement;
using jetsqltest::TestDb;

// The first column of every row, joined by ','.
std::string FirstColumn(TestDb& db, const std::string& jet) {
  std::string out;
  for (const auto& row : db.Query(TranslateStatement(jet).sql)) {
    if (!out.empty()) out += ",";
    out += row.empty() ? "" : row[0];
  }
  return out;
}

int Changes(TestDb& db, const std::string& jet) {
  const Statement s = TranslateStatement(jet);
  db.Exec(s.sql);
  return sqlite3_changes(db.get());
}

struct SystemCase {
  const char* jet;
  const char* firstColumn;
};

// Every statement text the system sends, with the values it must find in the test data.
TEST(JetStatements, TheSystemsOwnStatementsRun) {
  const std::vector<SystemCase> cases = {
      {"SELECT * FROM tblBLOB_BLOCKS", "5,6,7"},
      {"SELECT * FROM tblBLOB_FILES ORDER BY FIL_lTotalSize", "2,1"},
      {"SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
       "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE BLOB_ID = 5",
       "1"},
      {"SELECT Count(*) AS BLOB_CountTotal FROM tblBLOB_BLOCKS", "3"},
      {"SELECT * FROM tblBLOB_BLOCKS WHERE BLOB_FIL_ID = 1 ORDER BY BLOB_lStart", "5,6"},
      {"SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
       "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE FIL_ID = 1 ORDER BY BLOB_lStart",
       "1,1"},
      {"SELECT * FROM People", "1,2,3,4,5,6"},
      {"SELECT * FROM People WHERE Amount = 5", "4"},
      {"SELECT * FROM People WHERE Name = 'O''Neil' AND Id = 4;", "4"},
      {"SELECT * FROM People WHERE Id = 7;", ""},
      {"SELECT * FROM People ORDER BY Name DESC, [Id]", "5,4,6,2,3,1"},
      {"  SELECT * FROM People WHERE Id = 2 ; \n\t", "2"},
  };
  TestDb db;
  for (const SystemCase& c : cases) {
    SCOPED_TRACE(c.jet);
    EXPECT_EQ(FirstColumn(db, c.jet), c.firstColumn) << TranslateStatement(c.jet).sql;
  }
  // The driver's DeleteRecord.
  EXPECT_EQ(Changes(db, "DELETE FROM People WHERE Name = 'O''Neil' AND Id = 4"), 1);
  EXPECT_EQ(FirstColumn(db, "SELECT Id FROM People WHERE Id = 4"), "");
}

TEST(JetStatements, JoinUpdatesReachBothTables) {
  // The blob store edits a join row; the translated join keeps plain column references, so
  // SQLite can name each column's base table (the engine's updatability rule).
  TestDb db;
  const Statement s = TranslateStatement(
      "SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
      "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE BLOB_ID = 6");
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db.get(), s.sql.c_str(), -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  std::vector<std::string> origins;
  for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* column = sqlite3_column_origin_name(stmt, i);
    origins.push_back(std::string(table ? table : "?") + "." + (column ? column : "?"));
  }
  sqlite3_finalize(stmt);
  EXPECT_EQ(origins.front(), "tblBLOB_FILES.FIL_ID");
  EXPECT_EQ(origins.back(), "tblBLOB_BLOCKS.BLOB_RefCount");
  ASSERT_EQ(s.tables.size(), 2u);
  EXPECT_EQ(s.tables[0].name, "tblBLOB_FILES");
  EXPECT_EQ(s.tables[1].name, "tblBLOB_BLOCKS");
}

TEST(JetStatements, SelectPiecesRecomposeAndRun) {
  TestDb db;
  Statement s = TranslateStatement(
      "SELECT DISTINCT TOP 2 p.Name, o.Item AS What, Qty * 2, o.* FROM People AS p INNER JOIN "
      "Orders o ON p.Id = o.PersonId WHERE o.Qty > 1 ORDER BY p.Name, o.Item DESC");
  EXPECT_EQ(s.kind, Statement::Kind::Select);
  EXPECT_TRUE(s.distinct);
  EXPECT_FALSE(s.aggregate);
  EXPECT_EQ(s.limit, "2");
  ASSERT_EQ(s.columns.size(), 4u);
  EXPECT_EQ(s.columns[0].sql, "\"p\".\"Name\"");
  EXPECT_EQ(s.columns[0].alias, "");
  EXPECT_EQ(s.columns[1].alias, "What");
  EXPECT_EQ(s.columns[2].alias, "Expr1000");
  EXPECT_TRUE(s.columns[3].star);
  EXPECT_EQ(s.columns[3].starTable, "o");
  EXPECT_EQ(s.columns[3].sql, "\"o\".*");
  ASSERT_EQ(s.tables.size(), 2u);
  EXPECT_EQ(s.tables[0].name, "People");
  EXPECT_EQ(s.tables[0].alias, "p");
  EXPECT_EQ(s.tables[1].name, "Orders");
  EXPECT_EQ(s.tables[1].alias, "o");
  EXPECT_EQ(s.from,
            "\"People\" AS \"p\" INNER JOIN \"Orders\" AS \"o\" ON (\"p\".\"Id\" = "
            "\"o\".\"PersonId\")");
  EXPECT_EQ(s.where, "(\"o\".\"Qty\" > 1)");
  EXPECT_EQ(s.orderBy, "\"p\".\"Name\", \"o\".\"Item\" DESC");
  EXPECT_EQ(jetsql::ComposeSelect(s), s.sql);
  const auto rows = db.Query(s.sql);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], "Pen");
  EXPECT_EQ(rows[1][1], "Ink");

  // The engine's recomposition: extra result columns (the rowids) and an extra condition.
  s.columns.push_back({"\"p\".rowid", "__rowid_p", false, ""});
  s.where = "(" + s.where + ") AND (\"o\".\"Item\" = 'Ink')";
  const auto recomposed = db.Query(jetsql::ComposeSelect(s));
  ASSERT_EQ(recomposed.size(), 1u);
  EXPECT_EQ(recomposed[0].back(), "1");
}

TEST(JetStatements, AggregatesJoinsAndNames) {
  TestDb db;
  struct Case {
    const char* jet;
    const char* firstColumn;
  };
  const std::vector<Case> cases = {
      {"SELECT PersonId, Sum(Qty) AS Total FROM Orders GROUP BY PersonId HAVING Sum(Qty) > 2 "
       "ORDER BY Sum(Qty) DESC, PersonId",
       "1,9"},
      {"SELECT Item FROM Orders GROUP BY Item ORDER BY Item", "Ink,Pad,Pen"},
      {"SELECT Count(Item) FROM Orders WHERE Item = 'PEN'", "2"},
      {"SELECT Min(Name) & '/' & Max(Name) FROM People", "Anna/Zoë"},
      {"SELECT Sum(Amount) FROM People", "132.5"},
      {"SELECT Avg(Qty) FROM Orders", "3.75"},
      {"SELECT People.Id FROM People LEFT JOIN Orders ON People.Id = Orders.PersonId WHERE "
       "Orders.Item Is Null ORDER BY People.Id",
       "3,4,5,6"},
      {"SELECT Orders.OrderId FROM People LEFT OUTER JOIN Orders ON People.Id = Orders.PersonId "
       "WHERE People.Id = 1 ORDER BY 1",
       "10,11"},
      {"SELECT Orders.OrderId FROM People RIGHT JOIN Orders ON People.Id = Orders.PersonId WHERE "
       "People.Id Is Null",
       "13"},
      {"SELECT Orders.OrderId FROM (People INNER JOIN Orders ON People.Id = Orders.PersonId) "
       "INNER JOIN tblBLOB_FILES ON tblBLOB_FILES.FIL_ID = Orders.PersonId ORDER BY OrderId",
       "10,11,12"},
      {"SELECT p.Id FROM People p, Orders o WHERE p.Id = o.PersonId ORDER BY o.OrderId", "1,1,2"},
      {"SELECT [Select], [Order Date] FROM Orders WHERE [Select] = 'A'", "a"},
      {"SELECT Orders.[Select] FROM Orders WHERE Orders![Order Date] = #1/2/2020#", "b"},
      {"SELECT TOP 2 Id FROM People ORDER BY Id DESC", "6,5"},
      {"SELECT Id FROM People WHERE Id IN (SELECT PersonId FROM Orders WHERE Qty > 4)", "1"},
      {"SELECT (SELECT Count(*) FROM Orders WHERE Orders.PersonId = People.Id) AS n FROM People "
       "WHERE Id < 3",
       "2,1"},
      {"SELECT DISTINCTROW Item FROM Orders WHERE OrderId = 11", "Ink"},
      {"SELECT ALL 1 + 1", "2"},
      {"SELECT Id FROM People WHERE Name Like 'a*' OR Name Like 'b*' ORDER BY Name", "1,2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.jet);
    EXPECT_EQ(FirstColumn(db, c.jet), c.firstColumn) << TranslateStatement(c.jet).sql;
  }
  EXPECT_TRUE(TranslateStatement("SELECT Count(*) AS n FROM People").aggregate);
  EXPECT_TRUE(TranslateStatement("SELECT Id FROM People GROUP BY Id").aggregate);
  EXPECT_FALSE(
      TranslateStatement("SELECT Id, (SELECT Max(Qty) FROM Orders) FROM People").aggregate);
  const Statement named =
      TranslateStatement("SELECT Id, Name & '!', Len(Name) AS l, 1 FROM People");
  EXPECT_EQ(named.columns[1].alias, "Expr1000");
  EXPECT_EQ(named.columns[2].alias, "l");
  EXPECT_EQ(named.columns[3].alias, "Expr1001");
}

TEST(JetStatements, NamesNeedingQuotesStayNames) {
  TestDb db;
  db.Exec("CREATE TABLE \"we\"\"ird\" (\"a\"\"b\" INTEGER, \"group\" INTEGER, \"x y\" INTEGER)");
  db.Exec("INSERT INTO \"we\"\"ird\" VALUES (1, 2, 3)");
  EXPECT_EQ(FirstColumn(db, "SELECT [a\"b] FROM [we\"ird] WHERE [group] = 2 AND [x y] = 3"), "1");
  EXPECT_EQ(FirstColumn(db, "SELECT [we\"ird].[group] FROM [we\"ird]"), "2");
  EXPECT_EQ(FirstColumn(db, "SELECT Id FROM People WHERE Id = 1 OR Name = 'x'' OR ''1''=''1'"),
            "1");
  EXPECT_EQ(FirstColumn(db, "SELECT Id FROM People WHERE Name = \"x\"\" OR 1=1 --\""), "");
}

TEST(JetStatements, DeleteUpdateInsert) {
  TestDb db;
  Statement s = TranslateStatement("DELETE * FROM Orders WHERE Qty > 4");
  EXPECT_EQ(s.kind, Statement::Kind::Delete);
  EXPECT_EQ(s.targetTable, "Orders");
  EXPECT_EQ(s.where, "(\"Qty\" > 4)");
  EXPECT_EQ(Changes(db, "DELETE * FROM Orders WHERE Qty > 4"), 2);
  EXPECT_EQ(Changes(db, "DELETE Orders.* FROM Orders WHERE OrderId = 10"), 1);
  EXPECT_EQ(Changes(db, "DELETE o.* FROM Orders AS o WHERE o.Qty = 1"), 1);
  EXPECT_EQ(Changes(db, "DELETE [Orders].* FROM [Orders];"), 0);

  s = TranslateStatement("UPDATE People SET Amount = Amount * 2, Note = 'n' & Id WHERE Active");
  EXPECT_EQ(s.kind, Statement::Kind::Update);
  EXPECT_EQ(s.targetTable, "People");
  EXPECT_EQ(Changes(db, "UPDATE People SET Amount = Amount * 2, Note = 'n' & Id WHERE Active"), 3);
  EXPECT_EQ(FirstColumn(db, "SELECT Note FROM People WHERE Id = 1"), "n1");
  EXPECT_EQ(FirstColumn(db, "SELECT Amount FROM People WHERE Id = 1"), "21");
  EXPECT_EQ(Changes(db, "UPDATE People SET People.Amount = 0 WHERE Id = 1"), 1);
  EXPECT_EQ(Changes(db, "UPDATE People AS p SET p.Amount = 1, [Note] = Null WHERE p.Id = 2"), 1);
  EXPECT_EQ(FirstColumn(db, "SELECT Amount FROM People WHERE Id = 2 AND Note Is Null"), "1");
  EXPECT_EQ(Changes(db, "UPDATE People SET Active = (Amount > 50)"), 6);
  EXPECT_EQ(FirstColumn(db, "SELECT Id FROM People WHERE Active = True"), "5");

  s = TranslateStatement(
      "INSERT INTO Orders (OrderId, PersonId, Item, Qty) VALUES (20, 3, 'Cup', 1 + 1)");
  EXPECT_EQ(s.kind, Statement::Kind::Insert);
  EXPECT_EQ(s.targetTable, "Orders");
  EXPECT_EQ(
      Changes(db, "INSERT INTO Orders (OrderId, PersonId, Item, Qty) VALUES (20, 3, 'Cup', 1 + 1)"),
      1);
  EXPECT_EQ(Changes(db, "INSERT INTO Orders VALUES (21, 3, 'Mug', 1, #1/5/2020#, Null)"), 1);
  EXPECT_EQ(
      Changes(db,
              "INSERT INTO Orders (OrderId, Item) SELECT Id + 200, Name FROM People WHERE Id = 1"),
      1);
  EXPECT_EQ(Changes(db,
                    "INSERT INTO Orders SELECT OrderId + 100, PersonId, Item, Qty, [Order Date], "
                    "[Select] FROM Orders WHERE OrderId >= 20 AND OrderId < 100"),
            2);
  EXPECT_EQ(FirstColumn(db, "SELECT OrderId FROM Orders WHERE OrderId > 12 ORDER BY OrderId"),
            "20,21,120,121,201");
  EXPECT_EQ(FirstColumn(db, "SELECT [Order Date] FROM Orders WHERE OrderId = 21"), "43835");
}

}  // namespace
