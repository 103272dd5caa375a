// An in-memory SQLite connection with the Jet functions registered and a small schema, for the
// JetSql tests: People (text columns with the Jet collation, as the engine declares them), Orders,
// and the blob store's two tables.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace jetsqltest {

class TestDb {
 public:
  TestDb();
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  sqlite3* get() const { return m_db; }
  // Runs SQL (several statements allowed); fails the test with SQLite's message on error.
  void Exec(const std::string& sql);
  // Runs one statement; rows of values as text: "NULL", integers in decimal, reals in their
  // shortest form ("3.5", "43831"), texts as they are. Fails the test on error.
  std::vector<std::vector<std::string>> Query(const std::string& sql);
  // The first column of the first row ("<no row>" when there is none).
  std::string Scalar(const std::string& sql);
  // Runs one statement; SQLite's error message, or "" when it succeeded.
  std::string Error(const std::string& sql);
  // Prepares only; SQLite's error message ("" when prepared). A statement that leaves a tail
  // after the first statement is reported as "tail: ...".
  std::string PrepareError(const std::string& sql);

 private:
  sqlite3* m_db = nullptr;
};

// "SELECT Id FROM People WHERE <translated criteria> ORDER BY Id" as "1,3,4".
std::string MatchingIds(TestDb& db, const std::string& criteria);
// The value of a Jet expression: "SELECT <expr> AS v" translated and run.
std::string Eval(TestDb& db, const std::string& expression);

}  // namespace jetsqltest
