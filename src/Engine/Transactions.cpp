// Transactions: BeginTrans/CommitTrans/Rollback nested as savepoints, and
// the single writes that run inside or outside them.
#include "Engine/DatabaseCore.h"

namespace dao {

namespace {
constexpr int kMaxNesting = 5;
}  // namespace

void BeginWrite(Connection& conn, bool outer, const std::string& context) {
  conn.Exec(outer ? "BEGIN IMMEDIATE" : "SAVEPOINT vem_write", context);
}

void EndWrite(Connection& conn, bool outer, bool commit, const std::string& context) {
  if (outer) {
    conn.Exec(commit ? "COMMIT" : "ROLLBACK", context);
  } else if (commit) {
    conn.Exec("RELEASE vem_write", context);
  } else {
    conn.Exec("ROLLBACK TO vem_write; RELEASE vem_write", context);
  }
  if (!commit) conn.BumpEpoch();
}

void DatabaseCore::BeginTrans() {
  Connection& c = Conn();
  if (m_level >= kMaxNesting)
    Fail(kErrTooManyTransactions, "Cannot start a transaction on '" + m_name +
                                      "': transactions are already nested " +
                                      std::to_string(kMaxNesting) + " levels deep.");
  std::string ctx = "BeginTrans on '" + m_name + "'";
  if (m_level == 0)
    c.Exec(m_readOnly ? "BEGIN" : "BEGIN IMMEDIATE", ctx);
  else
    c.Exec("SAVEPOINT dao_" + std::to_string(m_level + 1), ctx);
  ++m_level;
}

void DatabaseCore::CommitTrans(int options) {
  Connection& c = Conn();
  if (m_level == 0)
    Fail(kErrCommitWithoutBegin, "CommitTrans without BeginTrans on '" + m_name + "'.");
  std::string ctx = "CommitTrans on '" + m_name + "'";
  if (m_level == 1) {
    ReturnUnusedCounters();
    c.Exec("COMMIT", ctx);
    m_handedOut.clear();
    if (options & 1) {
      // dbForceOSFlush: the committed frames are in the WAL; sync it before
      // answering (synchronous=NORMAL would leave that to the next checkpoint).
      sqlite3_file* wal = nullptr;
      if (sqlite3_file_control(c.db(), "main", SQLITE_FCNTL_JOURNAL_POINTER, &wal) == SQLITE_OK &&
          wal && wal->pMethods) {
        int rc = wal->pMethods->xSync(wal, SQLITE_SYNC_NORMAL);
        if (rc != SQLITE_OK) c.Raise(rc, ctx + " (flushing to disk)");
      }
    }
  } else {
    c.Exec("RELEASE dao_" + std::to_string(m_level), ctx);
  }
  --m_level;
}

void DatabaseCore::Rollback() {
  Connection& c = Conn();
  if (m_level == 0)
    Fail(kErrCommitWithoutBegin, "Rollback without BeginTrans on '" + m_name + "'.");
  std::string ctx = "Rollback on '" + m_name + "'";
  if (m_level == 1) {
    c.Exec("ROLLBACK", ctx);
  } else {
    std::string sp = "dao_" + std::to_string(m_level);
    c.Exec("ROLLBACK TO " + sp + "; RELEASE " + sp, ctx);
  }
  --m_level;
  ForgetCatalog();
  KeepAutoNumbersAfterRollback();
  c.BumpEpoch();
}

}  // namespace dao
