// The SQLite side of the engine: one connection per open database, its
// prepared-statement cache, the mapping of SQLite failures to DAO errors, and
// the cheap test whether anything may have changed since a row was read.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Engine/EngineError.h"

namespace dao {

class Connection;

// One SQL text in a connection's statement cache.
struct CacheEntry {
  std::string sql;
  std::vector<sqlite3_stmt*> idle;  // reset, unbound statements of this text
  int borrowed = 0;                 // statements of it handed out and not yet back
};

// A prepared statement borrowed from a connection's cache. On destruction
// it is reset, its bindings cleared, and it goes back to the cache (or is
// finalized when its text is not cached).
class CachedStmt {
 public:
  using IdleList = CacheEntry;
  CachedStmt() = default;
  // `home` is the cache entry of this statement's SQL (null: not cached),
  // valid while the connection's cache generation is `generation`.
  CachedStmt(Connection* conn, IdleList* home, std::uint64_t generation, sqlite3_stmt* stmt)
      : m_conn(conn), m_home(home), m_generation(generation), m_stmt(stmt) {}
  CachedStmt(CachedStmt&& o) noexcept { *this = std::move(o); }
  CachedStmt& operator=(CachedStmt&& o) noexcept;
  CachedStmt(const CachedStmt&) = delete;
  CachedStmt& operator=(const CachedStmt&) = delete;
  ~CachedStmt() { Release(); }

  sqlite3_stmt* get() const { return m_stmt; }
  explicit operator bool() const { return m_stmt != nullptr; }
  // The statement's SQL text.
  const char* sql() const { return m_stmt ? sqlite3_sql(m_stmt) : ""; }
  // Steps once: true on SQLITE_ROW, false on SQLITE_DONE; throws otherwise.
  bool Step(const std::string& context);
  // As above, naming the context given to Prepare (built only on failure).
  bool Step();
  void Release();
  void SetContext(const char* what, const std::string* subject) {
    m_what = what;
    m_subject = subject;
  }

 private:
  Connection* m_conn = nullptr;
  IdleList* m_home = nullptr;
  std::uint64_t m_generation = 0;
  sqlite3_stmt* m_stmt = nullptr;
  const char* m_what = nullptr;            // "OpenRecordset", ...
  const std::string* m_subject = nullptr;  // what it concerns; outlives the statement
};

class Connection {
 public:
  // Opens `path` (which must exist unless SQLITE_OPEN_CREATE is in flags).
  // `unchanging`: opens it as a file that no one changes (SQLite's
  // "immutable": no locks, no -shm), for a read-only file whose directory this
  // process cannot write; ChangeEpoch then fails (3045) once anyone else has
  // opened the file.
  Connection(const std::string& path, int flags, bool unchanging = false);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* db() const { return m_db; }
  const std::string& path() const { return m_path; }

  // A statement for `sql` from the cache (prepared on first use).
  // `context` names what is being done, for the error when it fails.
  CachedStmt Prepare(const std::string& sql, const std::string& context);
  // As above for hot paths: the context "<what> '<subject>'" is built only on
  // failure; `subject` must outlive the statement.
  CachedStmt Prepare(const std::string& sql, const char* what, const std::string& subject);
  // Runs statements without results.
  void Exec(const std::string& sql, const std::string& context);
  void SetBusyTimeout(int ms);
  // Finalizes the idle cached statements (after a schema change, so that a
  // "SELECT *" is prepared again with the new columns).
  void ClearCache();
  // The number of SQL texts the statement cache holds (at most
  // kMaxCachedTexts while none is borrowed).
  std::size_t CachedTexts() const { return m_index.size(); }
  static constexpr std::size_t kMaxCachedTexts = 256;

  // The DAO error for SQLite result `rc` on this connection.
  EngineError Error(int rc, const std::string& context) const;
  [[noreturn]] void Raise(int rc, const std::string& context) const { throw Error(rc, context); }

  // A number that changes whenever the database may have changed since the
  // last call: a commit by another connection (seen in the WAL index header
  // or PRAGMA data_version), a change through this connection
  // (sqlite3_total_changes), or a bump by the caller (rollback, schema).
  std::uint64_t ChangeEpoch();
  void BumpEpoch() { ++m_epoch; }
  // Whether other connections can change the file (false when opened
  // exclusively: then only this connection's own changes count).
  void SetShared(bool shared) { m_shared = shared; }
  // Whether the file is in WAL mode, so that SQLite's wal-index header can be
  // watched instead of asking PRAGMA data_version.
  void SetWal(bool wal) { m_wal = wal; }
  // A number that changes when ChangeEpoch has seen another connection change
  // the schema (SQLite's schema cookie, read only when the file changed).
  std::uint64_t SchemaGeneration() const { return m_schemaGeneration; }

  // The catalog guard (CatalogGuard.cpp): once installed, a statement that
  // writes, drops or alters an MSys... or sqlite_... table is refused when it
  // is prepared (3219 naming the table), unless the engine has marked its own
  // catalog write with a CatalogWrite. SQLite asks again whenever it
  // re-prepares a statement, so marking covers preparing and stepping.
  void GuardCatalog();
  void BeginCatalogWrite() { ++m_catalogWrites; }
  void EndCatalogWrite() { --m_catalogWrites; }

 private:
  friend class CachedStmt;
  // Takes back a borrowed statement: into `home` when the cache is still of
  // `generation` and has room, else it is finalized.
  void Return(CachedStmt::IdleList* home, std::uint64_t generation, sqlite3_stmt* stmt);
  // The cache entry of `sql`, made most recently used; null when the text is
  // not cached (yet): a text enters the cache when it is prepared a second
  // time within the last kSeenSlots new texts, so one-off texts never do.
  CacheEntry* Lookup(const std::string& sql);
  CachedStmt Borrow(CacheEntry* home, const std::string& sql, const std::string& context);
  void Evict();
  bool OthersChanged();
  void CheckSchemaCookie();

  sqlite3* m_db = nullptr;
  std::string m_path;
  // The statement cache: texts in least-recently-used order (front: latest),
  // indexed by text. ClearCache starts a new generation: statements borrowed
  // before it are finalized when they come back.
  std::list<CacheEntry> m_lru;
  std::unordered_map<std::string_view, std::list<CacheEntry>::iterator> m_index;
  static constexpr std::size_t kSeenSlots = 1024;
  std::array<std::size_t, kSeenSlots> m_seen = {};  // hashes of texts prepared once
  std::size_t m_idleCount = 0;
  std::uint64_t m_generation = 1;
  std::uint64_t m_epoch = 1;
  std::int64_t m_lastTotalChanges = 0;
  bool m_shared = true;
  bool m_wal = false;
  bool m_unchanging = false;
  std::string m_walPath;                               // watched when m_unchanging
  const volatile unsigned char* m_walIndex = nullptr;  // SQLite's mapping of the -shm header
  unsigned char m_walHeader[24] = {};                  // the parts of it last seen
  std::int64_t m_dataVersion = -1;
  sqlite3_stmt* m_schemaStmt = nullptr;  // PRAGMA schema_version, prepared once
  std::int64_t m_schemaVersion = -1;
  std::uint64_t m_schemaGeneration = 1;
  int m_catalogWrites = 0;    // CatalogWrite scopes alive
  std::string m_deniedTable;  // the catalog table the guard last refused
  static int Authorize(void* self, int action, const char* a, const char* b, const char*,
                       const char*);
};

// Marks the engine's own catalog write for the lifetime of the object.
class CatalogWrite {
 public:
  explicit CatalogWrite(Connection& conn) : m_conn(conn) { m_conn.BeginCatalogWrite(); }
  ~CatalogWrite() { m_conn.EndCatalogWrite(); }
  CatalogWrite(const CatalogWrite&) = delete;
  CatalogWrite& operator=(const CatalogWrite&) = delete;

 private:
  Connection& m_conn;
};

// Quotes an SQL identifier: "name" with inner quotes doubled.
std::string QuoteId(const std::string& name);
// Quotes an SQL text literal: 'text' with inner quotes doubled.
std::string QuoteText(const std::string& text);
// ASCII lower case (names compare case-insensitively).
std::string Lower(std::string s);
bool EqualNoCase(const std::string& a, const std::string& b);

}  // namespace dao
