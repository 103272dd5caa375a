// AutoNumber allocation: numbers are handed out at AddNew and never reused,
// not even after a rollback.
//
// A table's rowid AutoNumber counts in sqlite_sequence (inside a transaction
// a block of numbers is reserved at once); any other AutoNumber counts in
// MSysAutoNumbers, which triggers on the table keep ahead of every value an
// INSERT or UPDATE writes to the column, so that allocating is one lookup.
// A rollback takes either counter back: the numbers handed out meanwhile are
// remembered and the counters advanced past them after it.
#include "Engine/DatabaseCore.h"

namespace dao {

namespace {

constexpr std::int64_t kMaxAutoNumber = 0x7FFFFFFF;

std::string TriggerName(const std::string& table, const std::string& column, const char* kind) {
  return "__vem_counter_" + table + "_" + column + "_" + kind;
}

}  // namespace

std::int32_t DatabaseCore::AllocateAutoNumber(const std::string& table, const std::string& column) {
  CheckOpen();
  if (m_readOnly) CheckWritable("add a record to '" + table + "'");
  if (m_advancePending) AdvanceCounters();
  // The usual case inside a transaction: the next number of the block
  // reserved for the table's rowid (no statement, no lookup of the table).
  if (m_level > 0 && !m_counters.empty()) {
    auto it = m_counters.find(table);
    if (it != m_counters.end() && it->second.next <= it->second.last &&
        EqualNoCase(it->second.column, column)) {
      CounterBlock& block = it->second;
      const std::int64_t value = block.next++;
      if (value > 0 && value <= kMaxAutoNumber && block.high) {
        *block.high = std::max(*block.high, value);
        return static_cast<std::int32_t>(value);
      }
      --block.next;  // the checks below report it
    }
  }
  const TableInfo* t = FindTable(table);
  if (!t) Fail(kErrInputNotFound, "Table '" + table + "' does not exist.");
  const std::string ctx = "AddNew on table '" + t->name + "' (assigning AutoNumber '" + column +
                          "' in '" + m_name + "')";
  const bool rowid = !t->rowidColumn.empty() && EqualNoCase(t->rowidColumn, column);
  CatalogWrite catalog(*m_conn);
  std::int64_t value = 0;
  if (rowid) {
    constexpr std::int64_t kBlock = 1024;
    const bool reserve = m_level > 0;
    auto it = reserve ? m_counters.find(t->name) : m_counters.end();
    if (it != m_counters.end() && it->second.next <= it->second.last) {
      value = it->second.next++;
    } else {
      const std::int64_t step = reserve ? kBlock : 1;
      CachedStmt s = m_conn->Prepare(
          "UPDATE sqlite_sequence SET seq = seq + ?2 WHERE name = ?1 RETURNING seq", ctx);
      sqlite3_bind_text(s.get(), 1, t->name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(s.get(), 2, step);
      std::int64_t last = 0;
      if (s.Step(ctx)) {
        last = sqlite3_column_int64(s.get(), 0);
        while (s.Step(ctx)) {
        }
      } else {
        s.Release();
        CachedStmt ins = m_conn->Prepare(
            "INSERT INTO sqlite_sequence(name, seq) SELECT ?1, coalesce(max(rowid), 0) + ?2 FROM " +
                QuoteId(t->name) + " RETURNING seq",
            ctx);
        sqlite3_bind_text(ins.get(), 1, t->name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(ins.get(), 2, step);
        if (ins.Step(ctx)) last = sqlite3_column_int64(ins.get(), 0);
        while (ins.Step(ctx)) {
        }
      }
      value = last - step + 1;
      if (reserve)
        m_counters[t->name] =
            CounterBlock{value + 1, last, column, &m_handedOut[{t->name, std::string()}]};
    }
  } else {
    EnsureCounterTriggers(*t, column);
    CachedStmt s = m_conn->Prepare(
        "UPDATE MSysAutoNumbers SET NextValue = NextValue + 1 WHERE TableName = ?1 AND "
        "ColumnName = ?2 RETURNING NextValue - 1",
        ctx);
    sqlite3_bind_text(s.get(), 1, t->name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
    if (!s.Step(ctx)) Fail(kErrReserved, ctx + ": the table has no AutoNumber record.");
    value = sqlite3_column_int64(s.get(), 0);
    while (s.Step(ctx)) {
    }
  }
  if (value <= 0 || value > kMaxAutoNumber)
    Fail(kErrInvalidArgument, ctx + ": the AutoNumber range is exhausted.");
  if (!sqlite3_get_autocommit(m_conn->db())) {
    std::int64_t& high = m_handedOut[{t->name, rowid ? std::string() : column}];
    high = std::max(high, value);
  }
  return static_cast<std::int32_t>(value);
}

void DatabaseCore::EnsureCounterTriggers(const TableInfo& t, const std::string& column) {
  std::string key = Lower(t.name + "\n" + column);
  if (m_counterTriggers.count(key)) return;
  const std::string ctx =
      "Preparing the AutoNumber '" + column + "' of table '" + t.name + "' in '" + m_name + "'";
  const std::string insertName = TriggerName(t.name, column, "insert");
  {
    CachedStmt s = m_conn->Prepare(
        "SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND name = ?1 COLLATE NOCASE", ctx);
    sqlite3_bind_text(s.get(), 1, insertName.c_str(), -1, SQLITE_TRANSIENT);
    if (s.Step(ctx)) {
      m_counterTriggers.insert(std::move(key));
      return;
    }
  }
  // Keeps NextValue past every whole number written to the column.
  const std::string col = "NEW." + QuoteId(column);
  const std::string body = " ON " + QuoteId(t.name) + " WHEN typeof(" + col +
                           ") = 'integer' BEGIN UPDATE MSysAutoNumbers SET NextValue = " + col +
                           " + 1 WHERE TableName = " + QuoteText(t.name) +
                           " AND ColumnName = " + QuoteText(column) + " AND NextValue <= " + col +
                           "; END";
  CatalogWrite catalog(*m_conn);
  WriteAtomically(ctx, [&] {
    m_conn->Exec("CREATE TRIGGER IF NOT EXISTS " + QuoteId(insertName) + " AFTER INSERT" + body,
                 ctx);
    m_conn->Exec("CREATE TRIGGER IF NOT EXISTS " + QuoteId(TriggerName(t.name, column, "update")) +
                     " AFTER UPDATE OF " + QuoteId(column) + body,
                 ctx);
    // Numbers written before the triggers existed.
    m_conn->Exec("UPDATE MSysAutoNumbers SET NextValue = max(NextValue, coalesce((SELECT max(" +
                     QuoteId(column) + ") FROM " + QuoteId(t.name) +
                     "), 0) + 1) WHERE TableName = " + QuoteText(t.name) +
                     " AND ColumnName = " + QuoteText(column),
                 ctx);
  });
  m_counterTriggers.insert(std::move(key));
}

void DatabaseCore::ReturnUnusedCounters() {
  CatalogWrite catalog(*m_conn);
  for (const auto& [table, block] : m_counters) {
    if (block.next > block.last) continue;
    // Nobody else could allocate while this transaction held the write lock;
    // the condition keeps a sequence that an INSERT moved on meanwhile.
    const std::string ctx = "CommitTrans on '" + m_name + "' (AutoNumbers of '" + table + "')";
    CachedStmt s =
        m_conn->Prepare("UPDATE sqlite_sequence SET seq = ?2 WHERE name = ?1 AND seq = ?3", ctx);
    sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.get(), 2, block.next - 1);
    sqlite3_bind_int64(s.get(), 3, block.last);
    s.Step(ctx);
  }
  m_counters.clear();
}

void DatabaseCore::KeepAutoNumbersAfterRollback() noexcept {
  m_counters.clear();
  m_counterTriggers.clear();  // the rollback may have taken them away
  if (m_handedOut.empty()) return;
  m_advancePending = true;
  try {
    AdvanceCounters();
  } catch (...) {
    // Left pending: the next AllocateAutoNumber advances them first.
  }
}

void DatabaseCore::AdvanceCounters() {
  Connection& c = Conn();
  const bool outer = sqlite3_get_autocommit(c.db()) != 0;
  const std::string ctx =
      "Keeping the AutoNumbers of '" + m_name + "' past a rolled-back transaction";
  CatalogWrite catalog(c);
  BeginWrite(c, outer, ctx);
  try {
    for (const auto& [counter, high] : m_handedOut) {
      const auto& [table, column] = counter;
      if (column.empty()) {
        CachedStmt s = c.Prepare(
            "INSERT INTO sqlite_sequence(name, seq) SELECT ?1, ?2 WHERE NOT EXISTS (SELECT 1 FROM "
            "sqlite_sequence WHERE name = ?1)",
            ctx);
        sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(s.get(), 2, high);
        s.Step(ctx);
        s.Release();
        CachedStmt u =
            c.Prepare("UPDATE sqlite_sequence SET seq = max(seq, ?2) WHERE name = ?1", ctx);
        sqlite3_bind_text(u.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(u.get(), 2, high);
        u.Step(ctx);
      } else {
        CachedStmt s = c.Prepare(
            "UPDATE MSysAutoNumbers SET NextValue = max(NextValue, ?3 + 1) WHERE TableName = ?1 "
            "AND ColumnName = ?2",
            ctx);
        sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(s.get(), 3, high);
        s.Step(ctx);
      }
    }
  } catch (...) {
    try {
      EndWrite(c, outer, false, ctx);
    } catch (...) {
    }
    throw;
  }
  EndWrite(c, outer, true, ctx);
  m_advancePending = false;
  // Once committed, nothing can take these counters back any more.
  if (outer) m_handedOut.clear();
}

}  // namespace dao
