// Test database for the JetSql tests (see JetSqlTestDb.h).
#include "JetSqlTestDb.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>

#include "Engine/JetSql/JetSql.h"

namespace jetsqltest {

namespace {

// Dates: 1990-05-17 = 33010, 1985-12-01 = 31382, 2020-01-01 12:00 = 43831.5.
constexpr const char* kSchema = R"sql(
CREATE TABLE People (Id INTEGER PRIMARY KEY, Name TEXT COLLATE JETNOCASE,
  City TEXT COLLATE JETNOCASE, Amount REAL, Born REAL, Active INTEGER, Note TEXT COLLATE JETNOCASE);
INSERT INTO People VALUES (1, 'Anna', 'Berlin', 10.5, 33010, -1, NULL);
INSERT INTO People VALUES (2, 'bob', 'Paris', 20, 31382, 0, 'x');
INSERT INTO People VALUES (3, 'Ärger', 'München', NULL, NULL, -1, '50%_off');
INSERT INTO People VALUES (4, 'O''Neil', 'berlin', 5, 43831.5, 0, 'a*b');
INSERT INTO People VALUES (5, 'Zoë', NULL, 100, -1.25, -1, '');
INSERT INTO People VALUES (6, 'carl', 'KÖLN', -3, 2, 0, 'Tab[1]');
CREATE TABLE Orders (OrderId INTEGER PRIMARY KEY, PersonId INTEGER, Item TEXT COLLATE JETNOCASE,
  Qty INTEGER, "Order Date" REAL, "Select" TEXT COLLATE JETNOCASE);
INSERT INTO Orders VALUES (10, 1, 'Pen', 2, 43831, 'a');
INSERT INTO Orders VALUES (11, 1, 'Ink', 5, 43832, 'b');
INSERT INTO Orders VALUES (12, 2, 'pen', 1, 43833, NULL);
INSERT INTO Orders VALUES (13, 9, 'Pad', 7, 43834, 'c');
CREATE TABLE tblBLOB_FILES (FIL_ID INTEGER PRIMARY KEY AUTOINCREMENT, FIL_sName TEXT COLLATE JETNOCASE,
  FIL_lTotalSize INTEGER);
CREATE TABLE tblBLOB_BLOCKS (BLOB_ID INTEGER PRIMARY KEY AUTOINCREMENT, BLOB_FIL_ID INTEGER,
  BLOB_lStart INTEGER, BLOB_lSize INTEGER, BLOB_RefCount INTEGER);
INSERT INTO tblBLOB_FILES VALUES (1, 'a.blob', 300), (2, 'b.blob', 100);
INSERT INTO tblBLOB_BLOCKS VALUES (5, 1, 0, 100, 1), (6, 1, 100, 200, 2), (7, 2, 0, 100, 1);
)sql";

std::string ColumnText(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL:
      return "NULL";
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT: {
      char buf[64];
      const auto res = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(stmt, i));
      return std::string(buf, res.ptr);
    }
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
    }
  }
}

}  // namespace

TestDb::TestDb() {
  if (sqlite3_open(":memory:", &m_db) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open an in-memory database";
    return;
  }
  jetsql::RegisterJetFunctions(m_db);
  Exec(kSchema);
}

TestDb::~TestDb() {
  sqlite3_close(m_db);
}

void TestDb::Exec(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    ADD_FAILURE() << "SQL failed: " << (err ? err : "?") << "\n  " << sql;
  }
  sqlite3_free(err);
}

std::vector<std::vector<std::string>> TestDb::Query(const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << "prepare failed: " << sqlite3_errmsg(m_db) << "\n  " << sql;
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) row.push_back(ColumnText(stmt, i));
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << "step failed: " << sqlite3_errmsg(m_db) << "\n  " << sql;
  sqlite3_finalize(stmt);
  return rows;
}

std::string TestDb::Scalar(const std::string& sql) {
  const auto rows = Query(sql);
  if (rows.empty() || rows[0].empty()) return "<no row>";
  return rows[0][0];
}

std::string TestDb::Error(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK)
    return sqlite3_errmsg(m_db);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  std::string err = rc == SQLITE_DONE ? "" : sqlite3_errmsg(m_db);
  sqlite3_finalize(stmt);
  return err;
}

std::string TestDb::PrepareError(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail);
  std::string err = rc == SQLITE_OK ? "" : sqlite3_errmsg(m_db);
  if (rc == SQLITE_OK && !stmt) err = "no statement";
  sqlite3_finalize(stmt);
  if (err.empty() && tail && *tail) err = std::string("tail: ") + tail;
  return err;
}

std::string MatchingIds(TestDb& db, const std::string& criteria) {
  const std::string sql =
      "SELECT Id FROM People WHERE " + jetsql::TranslateExpression(criteria) + " ORDER BY Id";
  std::string ids;
  for (const auto& row : db.Query(sql)) {
    if (!ids.empty()) ids += ",";
    ids += row[0];
  }
  return ids;
}

std::string Eval(TestDb& db, const std::string& expression) {
  return db.Scalar(jetsql::TranslateStatement("SELECT " + expression + " AS v").sql);
}

}  // namespace jetsqltest
