// Texts the translator must refuse, each with a message that names the offending text and its
// position; nothing of them may reach SQLite.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Engine/JetSql/JetSql.h"
#include "JetSqlTestDb.h"

namespace {

enum class As { Criteria, Statement, Sort };

struct RefusedCase {
  As as;
  std::string text;
  const char* message;   // a part of the message
  std::size_t position;  // 1-based; 0: not checked
};

void Translate(As as, const std::string& text) {
  switch (as) {
    case As::Criteria:
      jetsql::TranslateExpression(text);
      break;
    case As::Statement:
      jetsql::TranslateStatement(text);
      break;
    case As::Sort:
      jetsql::TranslateOrderBy(text);
      break;
  }
}

const std::vector<RefusedCase> kRefused = {
    // brackets and quotes
    {As::Criteria, "[Name = 'x'", "missing ']' for the name '[Name = 'x''", 1},
    {As::Criteria, "Name] = 'x'", "unexpected character ']'", 5},
    {As::Criteria, "[] = 1", "empty name '[]'", 1},
    {As::Criteria, "[a[b] = 1", "'[' inside the name", 3},
    {As::Criteria, "Name = 'abc", "unterminated string in expression: missing closing '", 8},
    {As::Criteria, "Name = \"abc", "unterminated string in expression: missing closing \"", 8},
    {As::Criteria, "Name = 'a''", "unterminated string", 8},
    {As::Criteria, "(Id = 1",
     "syntax error in expression: unexpected end of text at position 8: ')' expected", 8},
    {As::Criteria, "Id = 1)", "syntax error in expression near ')' at position 7", 7},
    {As::Criteria, "Left(Name, 1 = 'a'", "')' expected", 0},
    // trailing garbage and more than one statement
    {As::Criteria, "Id = 1 xyz", "syntax error in expression near 'xyz' at position 8", 8},
    {As::Criteria, "Id = 1 Id = 2", "near 'Id' at position 8", 8},
    {As::Criteria, "Id = 1; DROP TABLE People", "only one statement allowed", 7},
    {As::Statement, "SELECT * FROM People; SELECT * FROM Orders",
     "only one statement allowed: text after ';' near 'SELECT' at position 23", 23},
    {As::Statement, "SELECT * FROM People;;", "only one statement allowed: text after ';' near ';'",
     22},
    {As::Statement, "SELECT * FROM People WHERE Name = 'x'; DELETE FROM People",
     "only one statement allowed", 40},
    {As::Statement, "SELECT * FROM People WHERE Name = ''; DROP TABLE People; --'",
     "unterminated string in statement: missing closing '", 60},
    {As::Criteria, "Id = 1 /* x */", "near '*' at position 9", 9},
    {As::Sort, "Name; DROP TABLE People", "only one statement allowed", 5},
    {As::Sort, "Name DESC DESC", "near 'DESC' at position 11", 11},
    // dangling operators
    {As::Criteria, "Id =", "unexpected end of text at position 5: expression expected", 5},
    {As::Criteria, "Id = 1 AND", "unexpected end of text", 11},
    {As::Criteria, "Id + ", "unexpected end of text", 6},
    {As::Criteria, "Not", "unexpected end of text", 4},
    {As::Criteria, "Id Between 1", "AND expected", 0},
    {As::Criteria, "Id Between 1 And", "unexpected end of text", 0},
    {As::Criteria, "Id In ()", "near ')'", 8},
    {As::Criteria, "Id In (1,", "unexpected end of text", 0},
    {As::Criteria, "Id In 1", "'(' expected", 7},
    {As::Criteria, "Id Is 5", "NULL expected after IS", 7},
    {As::Criteria, "Id Like", "unexpected end of text", 0},
    {As::Criteria, "* Id", "near '*' at position 1", 1},
    {As::Criteria, "Id = = 1", "near '=' at position 6", 6},
    {As::Criteria, "Id == 1", "near '=' at position 5", 5},
    {As::Criteria, "Id != 1", "near '=' at position 5: name expected after '!'", 5},
    {As::Criteria, "Id = 1 And And Id = 2", "near 'And' at position 12", 12},
    {As::Criteria, ",", "near ','", 1},
    // dates
    {As::Criteria, "Born = #13/45/2020#",
     "invalid date '#13/45/2020#' in expression: month 13 out of range", 8},
    {As::Criteria, "Born = #2/30/2020#", "day 30 out of range", 8},
    {As::Criteria, "Born = #2/29/2019#", "day 29 out of range", 8},
    {As::Criteria, "Born = #1/1/2020", "missing '#' to close the date", 8},
    {As::Criteria, "Born = #25:00#", "hour 25 out of range", 8},
    {As::Criteria, "Born = #10:60#", "minute 60 out of range", 8},
    {As::Criteria, "Born = #13:00 PM#", "hour 13 out of range", 8},
    {As::Criteria, "Born = #abc#", "invalid date", 8},
    {As::Criteria, "Born = ##", "empty date", 8},
    {As::Criteria, "Born = #1/1/10000#", "invalid date", 8},
    {As::Criteria, "Born = #1/1/99#1", "near '1' at position 16: end of text expected", 16},
    {As::Criteria, "Born = #1/1#", "incomplete date", 8},
    {As::Criteria, "Born = #5#", "time without ':' or AM/PM", 8},
    // numbers
    {As::Criteria, "Id = 1e", "invalid number '1e'", 6},
    {As::Criteria, "Id = 1.2.3", "invalid number '1.2.3'", 6},
    {As::Criteria, "Id = 12abc", "invalid number '12abc'", 6},
    {As::Criteria, "Id = &HFFFFFFFFF", "out of range", 6},
    {As::Criteria, "Id = 1e999", "number '1e999' out of range", 6},
    {As::Criteria, "Id = &H1G", "invalid number", 6},
    {As::Criteria, "Id = 5%", "invalid number", 6},
    // functions
    {As::Criteria, "Foo(1) = 1", "undefined function 'Foo' in expression at position 1", 1},
    {As::Criteria, "Left('a') = 'a'",
     "wrong number of arguments (1) to function 'Left', 2 expected", 1},
    {As::Criteria, "Mid('a') = 'a'",
     "wrong number of arguments (1) to function 'Mid', 2 to 3 expected", 1},
    {As::Criteria, "Now(1) > 0", "wrong number of arguments (1) to function 'Now', 0 expected", 1},
    {As::Criteria, "Switch(1, 2, 3) = 1", "pairs of condition and value", 1},
    {As::Criteria, "Len$(Name) = 1", "undefined function 'Len$'", 1},
    {As::Criteria, "[Left](Name) = 1", "near '('", 7},
    // aggregates
    {As::Criteria, "Sum(Amount) > 1",
     "aggregate function 'Sum' not allowed in a criteria expression", 1},
    {As::Statement, "SELECT Id FROM People WHERE Count(*) > 1", "not allowed in WHERE", 29},
    {As::Statement, "SELECT Count(Sum(Id)) FROM People", "inside another aggregate function", 14},
    {As::Statement, "SELECT Sum(Amount) FROM People HAVING Sum(Amount) > 1",
     "HAVING without GROUP BY", 32},
    {As::Statement, "SELECT Id FROM People ORDER BY Count(*)", "aggregate function in ORDER BY",
     32},
    {As::Statement, "SELECT Id FROM People GROUP BY Count(*)", "not allowed in GROUP BY", 32},
    {As::Statement, "UPDATE People SET Amount = Sum(Amount)", "not allowed in SET", 28},
    {As::Statement, "SELECT Count(DISTINCT Id) FROM People", "near 'DISTINCT'", 14},
    {As::Sort, "Count(*)", "not allowed in a sort list", 1},
    // names
    {As::Criteria, "Id = ?", "parameter marker '?' not supported", 6},
    {As::Criteria, "Select = 1", "near 'Select' at position 1", 1},
    {As::Criteria, "Id = From", "near 'From'", 6},
    {As::Criteria, "a.b.c = 1", "names have at most two parts", 4},
    {As::Criteria, "Id = @x", "unexpected character '@'", 6},
    {As::Criteria, "Id = :x", "unexpected character ':'", 6},
    {As::Criteria, "Id = $1", "unexpected character '$'", 6},
    {As::Criteria, "`Id` = 1", "unexpected character '`'", 1},
    {As::Criteria, std::string("Id = 1\0", 7), "character 0x00 not allowed", 7},
    {As::Criteria, std::string("Name = 'a\0b'", 12), "character 0x00 not allowed", 10},
    {As::Criteria, "Id = 1\x01", "character 0x01 not allowed", 7},
    // Like patterns given as literals are checked at once
    {As::Criteria, "Name Like '[a-'",
     "invalid Like pattern ''[a-'' in expression: Like pattern without ']'", 11},
    {As::Criteria, "Name Like '[z-a]'", "Like pattern range out of order", 11},
    // statements
    {As::Statement, "", "empty statement", 1},
    {As::Statement, "   ", "empty statement", 4},
    {As::Criteria, "", "empty expression", 1},
    {As::Sort, " ", "empty sort list", 2},
    {As::Statement, "SELECT * FROM (SELECT * FROM People)", "subquery in FROM not supported", 16},
    {As::Statement, "SELECT * FROM People UNION SELECT * FROM People",
     "UNION queries not supported", 22},
    {As::Statement, "CREATE TABLE x (a INT)", "statement 'CREATE' not supported", 1},
    {As::Statement, "DROP TABLE People", "statement 'DROP' not supported", 1},
    {As::Statement, "PRAGMA writable_schema = 1", "statement 'PRAGMA' not supported", 1},
    {As::Statement, "ATTACH 'x' AS y", "statement 'ATTACH' not supported", 1},
    {As::Statement, "SELECT Id INTO x FROM People", "SELECT ... INTO not supported", 11},
    {As::Statement, "SELECT Id FROM People INTO x", "SELECT ... INTO not supported", 23},
    {As::Statement, "SELECT *", "FROM expected after a select list with '*'", 9},
    {As::Statement, "SELECT * FROM People WHERE", "unexpected end of text", 27},
    {As::Statement, "SELECT * FROM People JOIN Orders ON 1",
     "INNER JOIN, LEFT JOIN or RIGHT JOIN expected", 22},
    {As::Statement, "SELECT * FROM People INNER JOIN Orders", "ON expected", 0},
    {As::Statement, "SELECT * FROM People.x", "a table name has one part", 21},
    {As::Statement, "SELECT TOP 0 * FROM People", "a whole number above 0 expected after TOP", 12},
    {As::Statement, "SELECT TOP 1.5 * FROM People", "a whole number above 0 expected after TOP",
     12},
    {As::Statement, "SELECT TOP 5 PERCENT * FROM People", "TOP ... PERCENT not supported", 14},
    {As::Statement, "SELECT Id AS FROM People", "column alias expected", 14},
    {As::Statement, "DELETE FROM People INNER JOIN Orders ON Id = PersonId",
     "DELETE on more than one table not supported", 20},
    {As::Statement, "DELETE FROM People, Orders", "DELETE on more than one table not supported",
     19},
    {As::Statement, "DELETE x.* FROM People", "DELETE x.* does not name the table 'People'", 8},
    {As::Statement, "DELETE Name FROM People", "FROM expected", 8},
    {As::Statement, "UPDATE People SET Orders.Qty = 1", "'Orders' does not name the table 'People'",
     19},
    {As::Statement, "UPDATE People INNER JOIN Orders ON Id = PersonId SET Qty = 1",
     "UPDATE on more than one table not supported", 15},
    {As::Statement, "UPDATE People SET Amount", "'=' expected", 0},
    {As::Statement, "INSERT INTO Orders (OrderId, Item) VALUES (1)",
     "1 values for 2 columns in INSERT", 36},
    {As::Statement, "INSERT INTO Orders (OrderId) SELECT Id, Name FROM People",
     "2 values for 1 columns in INSERT", 30},
    {As::Statement, "INSERT INTO Orders VALUES (1), (2)",
     "INSERT of more than one row not supported", 30},
    {As::Statement, "INSERT INTO Orders DEFAULT VALUES", "VALUES or SELECT expected", 20},
    {As::Statement, "SELECT Id FROM People WHERE Id = 1 ORDER BY", "unexpected end of text", 0},
};

TEST(JetSyntaxErrors, RefusedWithMessageAndPosition) {
  for (const RefusedCase& c : kRefused) {
    SCOPED_TRACE(c.text);
    try {
      Translate(c.as, c.text);
      ADD_FAILURE() << "accepted";
    } catch (const jetsql::SyntaxError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      if (c.position) {
        EXPECT_EQ(e.position(), c.position) << e.what();
        EXPECT_NE(std::string(e.what()).find("position " + std::to_string(c.position)),
                  std::string::npos)
            << e.what();
      }
      EXPECT_EQ(e.text(), c.text);
    }
  }
}

TEST(JetSyntaxErrors, UndefinedFunctionNamesTheFunction) {
  try {
    jetsql::TranslateExpression("Id = 1 AND DLookup('x', 'y') = 1");
    FAIL() << "accepted";
  } catch (const jetsql::UndefinedFunction& e) {
    EXPECT_EQ(e.functionName(), "DLookup");
    EXPECT_EQ(e.position(), 12u);
  }
}

// Comment markers are operators in Jet and never become SQL comments.
TEST(JetSyntaxErrors, CommentMarkersStayOperators) {
  jetsqltest::TestDb db;
  EXPECT_EQ(jetsqltest::MatchingIds(db, "Id--1 = 2"), "1");
  const std::string sql = jetsql::TranslateExpression("Id = 1 --Amount");
  EXPECT_EQ(sql.find("--"), std::string::npos) << sql;
  EXPECT_EQ(jetsqltest::MatchingIds(db, "Id = 3 --Amount"), "");
  EXPECT_EQ(jetsqltest::MatchingIds(db, "Amount = 0 - -10.5"), "1");
  EXPECT_EQ(jetsql::TranslateExpression("Id = - - - 1").find("--"), std::string::npos);
  EXPECT_EQ(jetsql::TranslateExpression("Born = -#12/29/1899#").find("--"), std::string::npos);
  EXPECT_EQ(jetsqltest::MatchingIds(db, "Born = -#12/31/1899#"), "");
  EXPECT_EQ(jetsqltest::MatchingIds(db, "-Born = ---#12/29/1899 6:00#"), "5");
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// Deep or long texts are refused as too complex instead of overflowing a stack (ours or
// SQLite's parser's) or reaching SQLite's expression depth limit.
TEST(JetSyntaxErrors, TooDeepOrTooLongIsRefused) {
  const std::vector<std::string> texts = {
      Repeat("(", 5000) + "1" + Repeat(")", 5000) + " = 1",
      Repeat("Not ", 5000) + "Active",
      Repeat("- ", 5000) + "1 = 1",
      "Id = " + Repeat("Abs(", 2000) + "1" + Repeat(")", 2000),
      "Id = " + Repeat("(1 + ", 100) + "1" + Repeat(")", 100),
      "Id In (" + Repeat("(", 300) + "1" + Repeat(")", 300) + ")",
      "Id = 1" + Repeat(" Or Id = 1", 1000),
      "Id = 0" + Repeat(" + 1", 1000),
      "Id = (SELECT Max(Qty) FROM Orders WHERE Qty = " +
          Repeat("(SELECT Max(Qty) FROM Orders WHERE Qty = ", 40) + "1" + Repeat(")", 41),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 60));
    try {
      jetsql::TranslateExpression(text);
      ADD_FAILURE() << "accepted";
    } catch (const jetsql::SyntaxError& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what.find("nested too deeply") != std::string::npos ||
                  what.find("too complex") != std::string::npos)
          << what;
    }
  }
}

}  // namespace
