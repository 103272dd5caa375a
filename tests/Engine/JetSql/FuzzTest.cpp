// Randomised tests (fixed seeds): mutations of valid texts, token soups and deeply nested
// generated expressions. Every input must either be refused with SyntaxError or translate to SQL
// that SQLite prepares as exactly one statement; errors SQLite may still report are about names
// and meaning (an unknown column), never about syntax.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Engine/JetSql/JetSql.h"
#include "JetSqlTestDb.h"

namespace {

using jetsqltest::TestDb;

const std::vector<std::string> kCriteriaSeeds = {
    "Id = 3",
    "Name = 'O''Neil' AND Id = 4",
    "Name Like \"a*\" OR City In ('Berlin', 'Paris')",
    "Amount Between 20 And 5 AND Not Note Is Null",
    "Born >= #1/1/1990 10:30 PM# AND Born < #2020-01-01#",
    "[People].[Name] & ' ' & People!City = 'Anna Berlin'",
    "IIf(Active, Amount * 2, -Amount) > Nz(Amount, 0) Mod 3",
    "Left(Name, 2) = 'an' Xor Len(City) > 4 Eqv True Imp False",
    "Id In (SELECT PersonId FROM Orders WHERE Qty > 1)",
    "Exists (SELECT * FROM Orders WHERE Orders.PersonId = People.Id)",
    "Year(Born) = 1990 And Month(Born) <> 12 Or Day(Born) = 1",
    "Amount \\ 2 + 2 ^ 3 - &H1F / 1e2 = .5",
    "UCase(Mid(Name, 2, 3)) Like '[!a-c]?#*' AND InStr(1, Name, 'n') > 0",
    "Switch(Id = 1, 'a', Id = 2, 'b') = 'a' OR CLng(Amount) = CInt('5')",
};

const std::vector<std::string> kStatementSeeds = {
    "SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
    "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE BLOB_ID = 5",
    "SELECT Count(*) AS BLOB_CountTotal FROM tblBLOB_BLOCKS",
    "SELECT * FROM tblBLOB_BLOCKS WHERE BLOB_FIL_ID = 1 ORDER BY BLOB_lStart;",
    "SELECT DISTINCT TOP 3 p.Name, o.Item AS What, Qty * 2 FROM People AS p LEFT JOIN Orders o "
    "ON p.Id = o.PersonId WHERE o.Qty > 1 ORDER BY p.Name DESC, 2",
    "SELECT PersonId, Sum(Qty) AS Total FROM Orders GROUP BY PersonId HAVING Sum(Qty) > 2",
    "SELECT Orders.* FROM (People INNER JOIN Orders ON People.Id = Orders.PersonId) RIGHT JOIN "
    "tblBLOB_FILES ON tblBLOB_FILES.FIL_ID = Orders.PersonId",
    "DELETE FROM People WHERE Name = 'O''Neil' AND Id = 4",
    "DELETE Orders.* FROM Orders WHERE [Order Date] < #1/2/2020#",
    "UPDATE People SET Amount = Amount * 2, Note = 'n' & Id WHERE Active",
    "INSERT INTO Orders (OrderId, PersonId, Item) VALUES (20, 3, \"Cup\")",
    "INSERT INTO Orders (OrderId, Item) SELECT Id + 200, Name FROM People WHERE Id = 1",
};

const std::vector<std::string> kVocabulary = {
    "SELECT",     "*",          "FROM",        "People", "Orders",   "WHERE",  "Id",
    "Name",       "Amount",     "City",        "Qty",    "PersonId", "=",      "<>",
    "<",          ">=",         "1",           "2.5",    "'a'",      "\"b\"",  "'it''s'",
    "#1/1/2020#", "#10:00 PM#", "(",           ")",      ",",        "AND",    "OR",
    "NOT",        "Xor",        "Eqv",         "Imp",    "Like",     "'a*'",   "'[a-c]#'",
    "Between",    "In",         "Is",          "Null",   "True",     "No",     "&",
    "+",          "-",          "/",           "\\",     "^",        "Mod",    "Left",
    "Len",        "Mid",        "IIf",         "Nz",     "Count",    "Sum",    "Max",
    "GROUP",      "BY",         "ORDER",       "DESC",   "ASC",      "HAVING", "INNER",
    "LEFT",       "RIGHT",      "JOIN",        "ON",     "AS",       "x",      "[Order Date]",
    "People.Id",  "o",          "o.Qty",       "DELETE", "UPDATE",   "SET",    "INSERT",
    "INTO",       "VALUES",     "TOP",         "5",      "DISTINCT", ";",      "--",
    "/*",         "*/",         "?",           "#",      "[",        "]",      "'",
    "\"",         "&H1F",       "&O7",         "1e5",    ".5",       "Exists", "!",
    ".",          "Year",       "Now",         "Date",   "UCase",    "InStr",  "Switch",
    "CLng",       "Avg",        "UNION",       "DROP",   "TABLE",    "\n",     "\t",
    "\xC3\xA4",   "[Name]",     "People!Name", "-1",     "0x1F",     "''",     "\"\"",
    "#",          "@p",         ":p",          "$1",     "`x`",
};

const std::string kChars = "()[]'\"#;-/*+&,.!=<>?\\^ aZ9_\x01\xC3\xA4\x7F%@:{}|~$`\t\n";

// SQLite errors that concern names and meaning: acceptable for a translated text, since the
// translator does not know the schema. Anything else (syntax, unknown functions or collations,
// parser stack, expression depth, a tail) means the translator emitted SQL it should not have.
bool IsSemanticError(const std::string& err) {
  static const std::vector<std::string> kAllowed = {
      "no such column",
      "no such table",
      "has no column named",
      "ambiguous column name",
      "misuse of aggregate",
      "ORDER BY term out of range",
      "GROUP BY term out of range",
      "sub-select returns",
      "aggregate functions are not allowed in the GROUP BY clause",
      "values were supplied",
      "values for",
      "ON clause references tables to its right",
  };
  for (const std::string& a : kAllowed) {
    if (err.find(a) != std::string::npos) return true;
  }
  return false;
}

enum class Kind { Criteria, Sort, Statement };

class Fuzzer {
 public:
  explicit Fuzzer(unsigned seed) : m_rng(seed) {}

  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng);
  }
  bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }

  std::string Mutate(std::string s) {
    const std::size_t count = 1 + Pick(4);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = s.empty() ? 0 : Pick(s.size() + 1);
      switch (Pick(6)) {
        case 0:  // delete a range
          if (!s.empty() && at < s.size())
            s.erase(at, 1 + Pick(std::min<std::size_t>(8, s.size() - at)));
          break;
        case 1:  // insert a token
          s.insert(at, " " + kVocabulary[Pick(kVocabulary.size())] + " ");
          break;
        case 2:  // insert a character
          s.insert(at, 1, kChars[Pick(kChars.size())]);
          break;
        case 3:  // replace a character
          if (at < s.size()) s[at] = kChars[Pick(kChars.size())];
          break;
        case 4: {  // duplicate a range
          if (at < s.size()) {
            const std::string piece = s.substr(at, 1 + Pick(12));
            s.insert(Pick(s.size() + 1), piece);
          }
          break;
        }
        default:  // cut the text short
          s.resize(at);
          break;
      }
    }
    return s;
  }

  std::string Soup() {
    std::string s;
    const std::size_t n = 1 + Pick(30);
    for (std::size_t i = 0; i < n; ++i) s += kVocabulary[Pick(kVocabulary.size())] + " ";
    return s;
  }

  // A valid criteria expression nested up to `depth` levels, to stress the complexity budget.
  std::string Deep(int depth) {
    static const std::vector<std::string> kAtoms = {
        "Id", "Amount", "Name", "1", "'x'", "#1/1/2020#", "Null", "True", "People.City"};
    if (depth <= 0 || Chance(10)) return kAtoms[Pick(kAtoms.size())];
    // One operand carries the depth; the others stay small, so the text grows linearly.
    const std::string a = Deep(depth - 1);
    const auto small = [&] { return Deep(static_cast<int>(Pick(3))); };
    switch (Pick(16)) {
      case 0:
        return "(" + a + " = " + small() + ")";
      case 1:
        return "Not " + a;
      case 2:
        return "-" + a;
      case 3:
        return "Abs(" + a + ")";
      case 4:
        return "Mid(" + small() + ", 1, " + a + ")";
      case 5:
        return small() + " Between " + small() + " And " + a;
      case 6:
        return small() + " In (1, " + a + ")";
      case 7:
        return a + " Like " + small();
      case 8:
        return "IIf(" + small() + ", " + small() + ", " + a + ")";
      case 9:
        return "(" + small() + " & " + a + ")";
      case 10:
        return "(" + small() + " Or " + a + ")";
      case 11:
        return "(" + a + " + " + small() + ")";
      case 12:
        return "(" + small() + " * " + a + ")";
      case 13:
        return "(SELECT Max(Qty) FROM Orders WHERE Qty = " + a + ")";
      case 14:
        return "Exists (SELECT * FROM Orders WHERE " + a + ")";
      default:
        return "(" + a + ")";
    }
  }

 private:
  std::mt19937 m_rng;
};

struct Stats {
  int accepted = 0;
  int refused = 0;
};

// Translates one input; on success prepares the result. Reports failures to the test.
void Check(TestDb& db, Kind kind, const std::string& input, Stats& stats) {
  std::string sql;
  try {
    switch (kind) {
      case Kind::Criteria:
        sql = "SELECT * FROM People WHERE " + jetsql::TranslateExpression(input);
        break;
      case Kind::Sort:
        sql = "SELECT * FROM People ORDER BY " + jetsql::TranslateOrderBy(input);
        break;
      case Kind::Statement:
        sql = jetsql::TranslateStatement(input).sql;
        break;
    }
  } catch (const jetsql::SyntaxError& e) {
    ++stats.refused;
    if (std::string(e.what()).empty()) ADD_FAILURE() << "empty message for: " << input;
    if (e.position() == 0 || e.position() > input.size() + 1)
      ADD_FAILURE() << "position " << e.position() << " outside the text: " << input;
    return;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception " << e.what() << " for: " << input;
    return;
  }
  ++stats.accepted;
  const std::string err = db.PrepareError(sql);
  if (!err.empty() && !IsSemanticError(err))
    ADD_FAILURE() << "SQLite refused the translation: " << err << "\n  input: " << input
                  << "\n  sql:   " << sql;
}

TEST(JetFuzz, MutationsAndTokenSoupsNeverEmitBadSql) {
  TestDb db;
  Fuzzer fuzz(20240611u);
  Stats stats;
  for (int i = 0; i < 2500; ++i) {
    Check(db, Kind::Criteria, fuzz.Mutate(kCriteriaSeeds[fuzz.Pick(kCriteriaSeeds.size())]), stats);
    Check(db, Kind::Statement, fuzz.Mutate(kStatementSeeds[fuzz.Pick(kStatementSeeds.size())]),
          stats);
  }
  for (int i = 0; i < 1500; ++i) {
    const std::string soup = fuzz.Soup();
    Check(db, Kind::Criteria, soup, stats);
    Check(db, Kind::Statement, soup, stats);
    Check(db, Kind::Sort, soup, stats);
  }
  // Seeds themselves are valid.
  for (const std::string& s : kCriteriaSeeds) Check(db, Kind::Criteria, s, stats);
  for (const std::string& s : kStatementSeeds) Check(db, Kind::Statement, s, stats);
  EXPECT_GT(stats.accepted, 500);
  EXPECT_GT(stats.refused, 3000);
}

TEST(JetFuzz, DeepExpressionsStayWithinSqlitesParser) {
  TestDb db;
  Fuzzer fuzz(7u);
  Stats stats;
  for (int i = 0; i < 1200; ++i) {
    const std::string expr = fuzz.Deep(5 + static_cast<int>(fuzz.Pick(60)));
    Check(db, Kind::Criteria, expr, stats);
    Check(db, Kind::Statement,
          "SELECT Id, " + expr + " AS v FROM People WHERE " + expr + " ORDER BY " + expr, stats);
    Check(db, Kind::Statement, "UPDATE People SET Note = " + expr + " WHERE " + expr, stats);
    Check(db, Kind::Statement,
          "INSERT INTO Orders (OrderId) SELECT " + expr + " FROM People WHERE " + expr, stats);
    Check(db, Kind::Statement, "SELECT Count(*) FROM People GROUP BY " + expr + " HAVING " + expr,
          stats);
    Check(db, Kind::Statement,
          "SELECT * FROM (People INNER JOIN Orders ON " + expr + ") LEFT JOIN tblBLOB_FILES ON " +
              expr,
          stats);
  }
  EXPECT_GT(stats.accepted, 1000);
  EXPECT_GT(stats.refused, 100);
}

// For each construct, nests it deeper until the translator refuses: the deepest accepted text
// must still prepare, and a refusal must come before SQLite's own limits are reached.
TEST(JetFuzz, ComplexityBudgetMatchesSqlite) {
  TestDb db;
  struct Construct {
    const char* name;
    std::string (*wrap)(const std::string&);
  };
  const std::vector<Construct> constructs = {
      {"parens", [](const std::string& x) { return "(" + x + ")"; }},
      {"abs", [](const std::string& x) { return "Abs(" + x + ")"; }},
      {"mid3", [](const std::string& x) { return "Mid('a', 1, " + x + ")"; }},
      {"eq-right", [](const std::string& x) { return "(1 = " + x + ")"; }},
      {"and-right", [](const std::string& x) { return "(Active And " + x + ")"; }},
      {"minus", [](const std::string& x) { return "-(1 * " + x + ")"; }},
      {"not", [](const std::string& x) { return "Not (" + x + ")"; }},
      {"iif-else", [](const std::string& x) { return "IIf(Id, 1, " + x + ")"; }},
      {"switch", [](const std::string& x) { return "Switch(Id = 1, 1, Id = 2, " + x + ")"; }},
      {"in-list", [](const std::string& x) { return "(1 Not In (2, " + x + "))"; }},
      {"between", [](const std::string& x) { return "(Id Not Between 0 And " + x + ")"; }},
      {"between-big",
       [](const std::string& x) {
         return "(Id Between Amount And " + x + " + Len('" + std::string(210, 'x') + "'))";
       }},
      {"like", [](const std::string& x) { return "('a' Like " + x + ")"; }},
      {"concat", [](const std::string& x) { return "('a' & " + x + ")"; }},
      {"plus", [](const std::string& x) { return "(Name + " + x + ")"; }},
      {"isnull", [](const std::string& x) { return "((" + x + ") Is Not Null)"; }},
      {"subquery",
       [](const std::string& x) { return "(SELECT Max(Qty) FROM Orders WHERE " + x + ")"; }},
      {"exists",
       [](const std::string& x) { return "Exists (SELECT * FROM Orders WHERE " + x + ")"; }},
      {"in-select",
       [](const std::string& x) { return "Id In (SELECT PersonId FROM Orders WHERE " + x + ")"; }},
  };
  for (const Construct& c : constructs) {
    SCOPED_TRACE(c.name);
    std::string text = "1";
    std::string lastAccepted;
    bool refused = false;
    for (int depth = 0; depth < 200 && !refused; ++depth) {
      text = c.wrap(text);
      for (Kind kind : {Kind::Criteria, Kind::Statement}) {
        const std::string input = kind == Kind::Criteria
                                      ? text
                                      : "SELECT Id, " + text + " AS v FROM People WHERE " + text +
                                            " ORDER BY Name, " + text;
        try {
          const std::string sql = kind == Kind::Criteria ? "SELECT * FROM People WHERE " +
                                                               jetsql::TranslateExpression(input)
                                                         : jetsql::TranslateStatement(input).sql;
          const std::string err = db.PrepareError(sql);
          EXPECT_TRUE(err.empty() || IsSemanticError(err))
              << "depth " << depth << ": " << err << "\n  " << sql;
          if (kind == Kind::Criteria) lastAccepted = input;
        } catch (const jetsql::SyntaxError& e) {
          if (kind == Kind::Criteria) refused = true;
        }
      }
    }
    EXPECT_TRUE(refused) << "never refused";
    EXPECT_FALSE(lastAccepted.empty()) << "refused at once";
  }
}

}  // namespace
