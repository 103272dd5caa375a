// AutoNumber allocation: numbers are handed out at AddNew and never reused.
#include "Engine/DatabaseCore.h"

namespace dao {

std::int32_t DatabaseCore::AllocateAutoNumber(const std::string& table, const std::string& column) {
  CheckOpen();
  if (m_readOnly) CheckWritable("add a record to '" + table + "'");
  const TableInfo* t = FindTable(table);
  if (!t) Fail(kErrInputNotFound, "Table '" + table + "' does not exist.");
  auto ctx = [&] { return "Assigning the AutoNumber of '" + t->name + "." + column + "'"; };
  CatalogWrite catalog(*m_conn);
  std::int64_t value = 0;
  if (!t->rowidColumn.empty() && EqualNoCase(t->rowidColumn, column)) {
    constexpr std::int64_t kBlock = 1024;
    const bool reserve = m_level > 0;
    if (reserve) {
      auto it = m_counters.find(t->name);
      if (it != m_counters.end() && it->second.next <= it->second.last) {
        value = it->second.next++;
        if (value > 0x7FFFFFFF)
          Fail(kErrInvalidArgument, ctx() + ": the AutoNumber range is exhausted.");
        return static_cast<std::int32_t>(value);
      }
    }
    const std::int64_t step = reserve ? kBlock : 1;
    CachedStmt s = m_conn->Prepare(
        "UPDATE sqlite_sequence SET seq = seq + ?2 WHERE name = ?1 RETURNING seq", ctx());
    sqlite3_bind_text(s.get(), 1, t->name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.get(), 2, step);
    std::int64_t last = 0;
    if (s.Step()) {
      last = sqlite3_column_int64(s.get(), 0);
      while (s.Step()) {
      }
    } else {
      s.Release();
      CachedStmt ins = m_conn->Prepare(
          "INSERT INTO sqlite_sequence(name, seq) SELECT ?1, coalesce(max(rowid), 0) + ?2 FROM " +
              QuoteId(t->name) + " RETURNING seq",
          ctx());
      sqlite3_bind_text(ins.get(), 1, t->name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(ins.get(), 2, step);
      if (ins.Step()) last = sqlite3_column_int64(ins.get(), 0);
      while (ins.Step()) {
      }
    }
    value = last - step + 1;
    if (reserve) m_counters[t->name] = CounterBlock{value + 1, last};
  } else {
    CachedStmt s = m_conn->Prepare(
        "UPDATE MSysAutoNumbers SET NextValue = max(NextValue, (SELECT coalesce(max(" +
            QuoteId(column) + "), 0) + 1 FROM " + QuoteId(t->name) +
            ")) + 1 WHERE TableName = ?1 AND ColumnName = ?2 RETURNING NextValue - 1",
        ctx());
    sqlite3_bind_text(s.get(), 1, t->name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, column.c_str(), -1, SQLITE_TRANSIENT);
    if (!s.Step()) Fail(kErrReserved, ctx() + ": the table has no AutoNumber record.");
    value = sqlite3_column_int64(s.get(), 0);
    while (s.Step()) {
    }
  }
  if (value <= 0 || value > 0x7FFFFFFF)
    Fail(kErrInvalidArgument, ctx() + ": the AutoNumber range is exhausted.");
  return static_cast<std::int32_t>(value);
}

void DatabaseCore::ReturnUnusedCounters() {
  CatalogWrite catalog(*m_conn);
  for (const auto& [table, block] : m_counters) {
    if (block.next > block.last) continue;
    // Nobody else could allocate while this transaction held the write lock;
    // the condition keeps a sequence that an INSERT moved on meanwhile.
    CachedStmt s =
        m_conn->Prepare("UPDATE sqlite_sequence SET seq = ?2 WHERE name = ?1 AND seq = ?3",
                        "Returning the unused AutoNumbers of '" + table + "'");
    sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.get(), 2, block.next - 1);
    sqlite3_bind_int64(s.get(), 3, block.last);
    s.Step();
  }
  m_counters.clear();
}

}  // namespace dao
