// The SQLite side of the engine: connection, statement cache, error mapping.
#include "Engine/Sqlite.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "Engine/ColumnRules.h"

namespace dao {

namespace {
constexpr std::size_t kMaxIdleStatements = 256;
constexpr std::size_t kMaxIdlePerSql = 4;

// The URI that opens `path` as a file that does not change (no locks, no
// -shm), with the characters that URIs reserve escaped.
std::string ImmutableUri(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char ch : path) {
    if (std::isalnum(ch) || ch == '/' || ch == '.' || ch == '-' || ch == '_' || ch == '~') {
      uri += static_cast<char>(ch);
    } else {
      uri += '%';
      uri += hex[ch >> 4];
      uri += hex[ch & 15];
    }
  }
  return uri + "?immutable=1";
}

}  // namespace

CachedStmt& CachedStmt::operator=(CachedStmt&& o) noexcept {
  if (this != &o) {
    Release();
    m_conn = o.m_conn;
    m_home = o.m_home;
    m_generation = o.m_generation;
    m_stmt = o.m_stmt;
    m_what = o.m_what;
    m_subject = o.m_subject;
    o.m_stmt = nullptr;
    o.m_conn = nullptr;
  }
  return *this;
}

void CachedStmt::Release() {
  if (m_stmt) {
    if (m_conn)
      m_conn->Return(m_home, m_generation, m_stmt);
    else
      sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
  }
}

bool CachedStmt::Step(const std::string& context) {
  int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  EngineError e = m_conn->Error(rc, context);
  sqlite3_reset(m_stmt);
  throw e;
}

Connection::Connection(const std::string& path, int flags, bool unchanging)
    : m_path(path), m_unchanging(unchanging) {
  if (unchanging) m_walPath = path + "-wal";
  int rc =
      sqlite3_open_v2(unchanging ? ImmutableUri(path).c_str() : path.c_str(), &m_db,
                      flags | SQLITE_OPEN_NOMUTEX | (unchanging ? SQLITE_OPEN_URI : 0), nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    if (rc == SQLITE_CANTOPEN)
      Fail(kErrFileNotFound, "Could not open file '" + path + "': " + msg + ".");
    Fail(kErrUnrecognizedFormat, "Could not open database '" + path + "': " + msg + ".");
  }
  sqlite3_extended_result_codes(m_db, 1);
}

Connection::~Connection() {
  for (CacheEntry& e : m_lru)
    for (sqlite3_stmt* s : e.idle) sqlite3_finalize(s);
  sqlite3_finalize(m_schemaStmt);
  // Statements still borrowed are finalized by close_v2 when they return.
  sqlite3_close_v2(m_db);
}

void Connection::Return(CachedStmt::IdleList* home, std::uint64_t generation, sqlite3_stmt* stmt) {
  if (!home || generation != m_generation) {
    sqlite3_finalize(stmt);
    return;
  }
  --home->borrowed;
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  if (home->idle.size() >= kMaxIdlePerSql || m_idleCount >= kMaxIdleStatements) {
    sqlite3_finalize(stmt);
    return;
  }
  home->idle.push_back(stmt);
  ++m_idleCount;
}

CacheEntry* Connection::Lookup(const std::string& sql) {
  auto it = m_index.find(std::string_view(sql));
  if (it != m_index.end()) {
    if (it->second != m_lru.begin()) m_lru.splice(m_lru.begin(), m_lru, it->second);
    return &*it->second;
  }
  const std::size_t h = std::hash<std::string_view>()(sql);
  std::size_t& slot = m_seen[h % kSeenSlots];
  if (slot != h) {
    slot = h;
    return nullptr;
  }
  slot = 0;
  if (m_index.size() >= kMaxCachedTexts) Evict();
  m_lru.push_front(CacheEntry{sql, {}, 0});
  m_index.emplace(std::string_view(m_lru.front().sql), m_lru.begin());
  return &m_lru.front();
}

void Connection::Evict() {
  // The least recently used text that has no statement out.
  for (auto it = m_lru.end(); it != m_lru.begin();) {
    --it;
    if (it->borrowed > 0) continue;
    for (sqlite3_stmt* s : it->idle) sqlite3_finalize(s);
    m_idleCount -= it->idle.size();
    m_index.erase(std::string_view(it->sql));
    m_lru.erase(it);
    return;
  }
}

CachedStmt Connection::Borrow(CacheEntry* home, const std::string& sql,
                              const std::string& context) {
  if (home && !home->idle.empty()) {
    sqlite3_stmt* s = home->idle.back();
    home->idle.pop_back();
    --m_idleCount;
    ++home->borrowed;
    return CachedStmt(this, home, m_generation, s);
  }
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                              home ? SQLITE_PREPARE_PERSISTENT : 0, &s, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(s);
    Raise(rc, context);
  }
  if (!s) Fail(kErrInvalidArgument, context + ": the statement is empty.");
  if (home) ++home->borrowed;
  return CachedStmt(this, home, m_generation, s);
}

CachedStmt Connection::Prepare(const std::string& sql, const std::string& context) {
  return Borrow(Lookup(sql), sql, context);
}

bool CachedStmt::Step() {
  int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  // The context names what the user was doing, never the statement's text.
  std::string context = m_what ? std::string(m_what) : "Working on database";
  if (m_what && m_subject)
    context += " '" + *m_subject + "'";
  else if (!m_what)
    context += " '" + m_conn->path() + "'";
  EngineError e = m_conn->Error(rc, context);
  sqlite3_reset(m_stmt);
  throw e;
}

CachedStmt Connection::Prepare(const std::string& sql, const char* what,
                               const std::string& subject) {
  CacheEntry* home = Lookup(sql);
  if (home && !home->idle.empty()) {
    CachedStmt out = Borrow(home, sql, std::string());
    out.SetContext(what, &subject);
    return out;
  }
  CachedStmt out = Borrow(home, sql, std::string(what) + " '" + subject + "'");
  out.SetContext(what, &subject);
  return out;
}

void Connection::Exec(const std::string& sql, const std::string& context) {
  char* err = nullptr;
  int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
  sqlite3_free(err);
  if (rc != SQLITE_OK) Raise(rc, context);
}

void Connection::ClearCache() {
  for (CacheEntry& e : m_lru)
    for (sqlite3_stmt* s : e.idle) sqlite3_finalize(s);
  m_index.clear();
  m_lru.clear();
  m_idleCount = 0;
  ++m_generation;
}

void Connection::SetBusyTimeout(int ms) {
  sqlite3_busy_timeout(m_db, ms);
}

EngineError Connection::Error(int rc, const std::string& context) const {
  std::string msg = sqlite3_errmsg(m_db);
  std::string text = context + ": " + msg + ".";
  switch (rc & 0xFF) {
    case SQLITE_CONSTRAINT:
      if (rc == SQLITE_CONSTRAINT_NOTNULL)
        return EngineError(kErrRequiredNull, context + ": a required field is Null (" + msg + ").");
      if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY)
        return EngineError(kErrDuplicateKey,
                           context + ": the change would create a duplicate key (" + msg + ").");
      if (int number = 0; rc == SQLITE_CONSTRAINT_CHECK) {
        std::string why;
        if (DescribeCheckFailure(msg, number, why))
          return EngineError(number, context + ": " + why);
      }
      return EngineError(kErrReserved, text);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return EngineError(kErrLocked, context + ": the database '" + m_path +
                                         "' is locked by another user (" + msg + ").");
    case SQLITE_READONLY:
      return EngineError(kErrReadOnly,
                         context + ": the database '" + m_path + "' is read-only (" + msg + ").");
    case SQLITE_FULL:
      return EngineError(kErrDiskFull, context + ": the disk is full (" + msg + ").");
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
      return EngineError(kErrDiskIo, context + ": disk error on '" + m_path + "' (" + msg + ").");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return EngineError(
          kErrUnrecognizedFormat,
          context + ": '" + m_path + "' is not a database or is damaged (" + msg + ").");
    case SQLITE_AUTH:
      return EngineError(kErrInvalidOperation,
                         context + ": invalid operation: '" + m_deniedTable +
                             "' belongs to the engine's catalog and cannot be changed directly.");
    case SQLITE_NOMEM:
      return EngineError::FromHResult(static_cast<std::int32_t>(0x8007000E),
                                      context + ": out of memory.");
    default:
      break;
  }
  // Errors of the statement text.
  auto after = [&](const char* prefix) -> std::string {
    std::size_t n = std::strlen(prefix);
    return msg.compare(0, n, prefix) == 0 ? msg.substr(n) : std::string();
  };
  if (std::string t = after("no such table: "); !t.empty())
    return EngineError(kErrInputNotFound,
                       context + ": the table or query '" + t + "' does not exist.");
  if (std::string c = after("no such column: "); !c.empty())
    return EngineError(kErrUnknownName,
                       context + ": '" + c + "' is not a valid field name or expression.");
  if (std::string t = after("table "); t.size() > 20 && t.ends_with(" may not be modified"))
    return EngineError(kErrInvalidOperation,
                       context + ": invalid operation: '" + t.substr(0, t.size() - 20) +
                           "' belongs to the engine's catalog and cannot be changed directly.");
  if (std::string f = after("no such function: "); !f.empty())
    return EngineError(kErrUndefinedFunction,
                       context + ": undefined function '" + f + "' in expression.");
  if ((rc & 0xFF) == SQLITE_ERROR) return EngineError(kErrQuerySyntax, text);
  return EngineError(kErrReserved, text);
}

bool Connection::OthersChanged() {
  if (m_unchanging) {
    // Read without locks: valid only while no one else opens the file (every
    // connection that does creates its -wal).
    std::error_code ec;
    if (std::filesystem::exists(m_walPath, ec))
      Fail(kErrFileInUse, "Database '" + m_path +
                              "' was opened read-only without sharing (its directory is not "
                              "writable) and another process has opened it since; close and "
                              "open it again.");
    return false;
  }
  if (!m_shared) return false;
  if (m_wal && !m_walIndex) {
    // SQLite's own mapping of the wal-index: its first 96 bytes are the two
    // copies of the WAL index header, which every commit rewrites (iChange
    // counts transactions). Available once this connection has read.
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK && file &&
        file->pMethods && file->pMethods->iVersion >= 2 && file->pMethods->xShmMap) {
      volatile void* region = nullptr;
      if (file->pMethods->xShmMap(file, 0, 32768, 0, &region) == SQLITE_OK && region)
        m_walIndex = static_cast<const volatile unsigned char*>(region);
    }
  }
  if (m_walIndex) {
    // The first header copy's iChange (offset 8), mxFrame (16) and checksum
    // (40..47, over all other header fields): every commit changes them.
    // A read torn by a concurrent commit only reports a change too many.
    const auto* words =
        reinterpret_cast<const std::uint64_t*>(const_cast<const unsigned char*>(m_walIndex));
    std::uint64_t now[3] = {__atomic_load_n(words + 1, __ATOMIC_ACQUIRE),
                            __atomic_load_n(words + 2, __ATOMIC_ACQUIRE),
                            __atomic_load_n(words + 5, __ATOMIC_ACQUIRE)};
    if (std::memcmp(now, m_walHeader, sizeof now) == 0) return false;
    std::memcpy(m_walHeader, now, sizeof now);
    return true;
  }
  // No wal-index to look at: ask SQLite.
  sqlite3_stmt* s = nullptr;
  std::int64_t version = -1;
  if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW)
    version = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  if (version == m_dataVersion) return false;
  m_dataVersion = version;
  return true;
}

void Connection::CheckSchemaCookie() {
  if (!m_schemaStmt &&
      sqlite3_prepare_v3(m_db, "PRAGMA schema_version", -1, SQLITE_PREPARE_PERSISTENT,
                         &m_schemaStmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(m_schemaStmt);
    m_schemaStmt = nullptr;
    ++m_schemaGeneration;  // cannot tell: assume it changed
    return;
  }
  std::int64_t version = -1;
  if (sqlite3_step(m_schemaStmt) == SQLITE_ROW) version = sqlite3_column_int64(m_schemaStmt, 0);
  sqlite3_reset(m_schemaStmt);
  if (version == m_schemaVersion && version >= 0) return;
  if (m_schemaVersion >= 0 || version < 0) ++m_schemaGeneration;
  m_schemaVersion = version;
}

std::uint64_t Connection::ChangeEpoch() {
  std::int64_t total = sqlite3_total_changes64(m_db);
  if (total != m_lastTotalChanges) {
    m_lastTotalChanges = total;
    ++m_epoch;
  }
  if (OthersChanged()) {
    ++m_epoch;
    CheckSchemaCookie();
  }
  return m_epoch;
}

std::string QuoteId(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace dao
