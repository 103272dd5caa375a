// Converting files of an older format when they are opened for writing.
//
// Format 1 -> 2: Currency was stored as an INTEGER, the amount scaled by
// 10,000; it is now the amount itself in a column of REAL affinity. In one
// write transaction: every Currency value (and Currency property) is divided
// by 10,000, then the declared type of each Currency column is changed from
// INTEGER to REAL in the table's CREATE text (writable_schema; the stored
// records are unchanged by that, and a REAL column reads an integral amount
// stored as an integer as REAL), then the format tag is written.
#include <map>
#include <vector>

#include "Engine/CatalogText.h"
#include "Engine/DatabaseCore.h"

namespace dao {

namespace {

// The CREATE TABLE text with column `column` declared REAL instead of
// INTEGER; false when the text does not declare it as the engine did.
bool DeclareReal(std::string& sql, const std::string& column) {
  const std::string def = QuoteId(column) + " INTEGER";
  std::size_t found = std::string::npos;
  int matches = 0;
  for (std::size_t at = sql.find(def); at != std::string::npos; at = sql.find(def, at + 1)) {
    const bool starts =
        at > 0 && (sql[at - 1] == '(' || (at > 1 && sql.compare(at - 2, 2, ", ") == 0));
    const std::size_t end = at + def.size();
    const bool ends = end < sql.size() && (sql[end] == ' ' || sql[end] == ',' || sql[end] == ')');
    if (starts && ends) {
      found = at;
      ++matches;
    }
  }
  if (matches != 1) return false;
  sql.replace(found + QuoteId(column).size() + 1, 7, "REAL");
  return true;
}

}  // namespace

void DatabaseCore::UpgradeFormat1(const char* tag) {
  Connection& c = *m_conn;
  const std::string ctx = "Converting '" + m_name + "' to the current file format";
  c.Exec("BEGIN IMMEDIATE", ctx);
  try {
    CatalogWrite catalog(c);
    bool done = false;
    {
      CachedStmt s = c.Prepare("SELECT Value FROM MSysInfo WHERE Key = 'Format'", ctx);
      done = s.Step(ctx) && ColumnText(s.get(), 0) == tag;  // converted by another process
    }
    if (!done) {
      std::map<std::string, std::vector<std::string>> currency;  // table -> columns
      {
        CachedStmt s = c.Prepare(
            "SELECT TableName, ColumnName FROM MSysColumns WHERE Type = 5 ORDER BY TableName, "
            "Ordinal",
            ctx);
        while (s.Step(ctx)) currency[ColumnText(s.get(), 0)].push_back(ColumnText(s.get(), 1));
      }
      std::vector<std::pair<std::string, std::string>> texts;  // table, new CREATE text
      for (const auto& [table, columns] : currency) {
        std::string sql;
        {
          CachedStmt s =
              c.Prepare("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1", ctx);
          sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
          if (!s.Step(ctx)) continue;  // catalog rows of a table that is gone
          sql = ColumnText(s.get(), 0);
        }
        for (const auto& column : columns) {
          if (!DeclareReal(sql, column))
            Fail(kErrUnrecognizedFormat, ctx + ": Currency field '" + column + "' of table '" +
                                             table +
                                             "' is not declared as this engine declares "
                                             "it; the file was left unchanged.");
          const std::string q = QuoteId(column);
          c.Exec("UPDATE " + QuoteId(table) + " SET " + q + " = " + q + " / 10000.0 WHERE typeof(" +
                     q + ") IN ('integer', 'real')",
                 ctx);
        }
        texts.emplace_back(table, sql);
      }
      c.Exec(
          "UPDATE MSysProperties SET Value = Value / 10000.0 WHERE Type = 5 AND typeof(Value) IN "
          "('integer', 'real')",
          ctx);
      if (!texts.empty()) {
        std::int64_t version = 0;
        {
          CachedStmt s = c.Prepare("PRAGMA schema_version", ctx);
          if (s.Step(ctx)) version = sqlite3_column_int64(s.get(), 0);
        }
        c.Exec("PRAGMA writable_schema = ON", ctx);
        for (const auto& [table, sql] : texts) {
          CachedStmt s = c.Prepare(
              "UPDATE sqlite_master SET sql = ?2 WHERE type = 'table' AND name = ?1", ctx);
          sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
          sqlite3_bind_text(s.get(), 2, sql.c_str(), -1, SQLITE_TRANSIENT);
          s.Step(ctx);
        }
        c.Exec("PRAGMA schema_version = " + std::to_string(version + 1), ctx);
        c.Exec("PRAGMA writable_schema = RESET", ctx);
      }
      CachedStmt s = c.Prepare("UPDATE MSysInfo SET Value = ?1 WHERE Key = 'Format'", ctx);
      sqlite3_bind_text(s.get(), 1, tag, -1, SQLITE_STATIC);
      s.Step(ctx);
    }
    c.Exec("COMMIT", ctx);
  } catch (...) {
    sqlite3_exec(c.db(), "PRAGMA writable_schema = RESET", nullptr, nullptr, nullptr);
    sqlite3_exec(c.db(), "ROLLBACK", nullptr, nullptr, nullptr);
    c.ClearCache();
    throw;
  }
  c.ClearCache();
}

}  // namespace dao
