// The registry file as SQLite tables (RegistryStore.h).
//
// Crash safety is SQLite's rollback journal with synchronous FULL: each
// registry call is one transaction, done or not done after a crash. Several
// processes share the file through SQLite's locks; a writer takes the write
// lock when its transaction begins (BEGIN IMMEDIATE), so two writers never
// deadlock upgrading from a read, and waits up to kBusyTimeoutMs for
// another.
#include "Platform/RegistryStore.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/Win32.h"

namespace platform::detail {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kLayoutVersion = 1;

constexpr const char* kSchema =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL, fold TEXT NOT NULL);"
    "CREATE UNIQUE INDEX keys_by_parent ON keys(parent, fold);"
    "CREATE TABLE key_values(key INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, name, fold) VALUES"
    " (1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'),"
    " (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),"
    " (3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');"
    "PRAGMA user_version = 1;";

// Every key below ?1 (not ?1 itself).
constexpr const char* kBelow =
    "WITH RECURSIVE below(id) AS (SELECT id FROM keys WHERE parent = ?1"
    " UNION ALL SELECT keys.id FROM keys JOIN below ON keys.parent = below.id) ";

DWORD ErrorFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// Upper case of the letters of Latin-1, Latin Extended-A, Greek and
// Cyrillic; everything else stays as it is.
char16_t FoldUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x137) return c & ~1u;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  if (c >= 0x14A && c <= 0x177) return c & ~1u;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

}  // namespace

std::string FoldName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) c = FoldUnit(c);
  return WideToUtf8(folded);
}

// One prepared statement, finalized on every way out.
class RegistryStore::Statement {
 public:
  Statement(const RegistryStore& store, const std::string& sql) : m_store(store) {
    const int rc = sqlite3_prepare_v2(store.m_db, sql.c_str(), -1, &m_stmt, nullptr);
    if (rc != SQLITE_OK) store.Fail("preparing a query", rc);
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int i, std::int64_t v) {
    Check(sqlite3_bind_int64(m_stmt, i, v));
    return *this;
  }
  Statement& Bind(int i, const std::string& text) {
    Check(
        sqlite3_bind_text(m_stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindBlob(int i, const std::string& bytes) {
    Check(sqlite3_bind_blob(m_stmt, i, bytes.data(), static_cast<int>(bytes.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  // True while there is a row.
  bool Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) m_store.Fail("a query", rc);
    return false;
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(m_stmt, col); }
  std::string Bytes(int col) const {
    const void* p = sqlite3_column_blob(m_stmt, col);
    const int n = sqlite3_column_bytes(m_stmt, col);
    return p == nullptr ? std::string() : std::string(static_cast<const char*>(p), n);
  }

 private:
  void Check(int rc) const {
    if (rc != SQLITE_OK) m_store.Fail("binding a query argument", rc);
  }

  const RegistryStore& m_store;
  sqlite3_stmt* m_stmt = nullptr;
};

RegistryStore::RegistryStore(std::string path, bool write) : m_path(std::move(path)) {
  std::error_code ec;
  // A file that is not there is an empty registry to a reader; one that
  // cannot even be looked at is left to SQLite to report.
  if (!write && !std::filesystem::exists(m_path, ec) && !ec) return;
  if (write) {
    const std::filesystem::path dir = std::filesystem::path(m_path).parent_path();
    if (!dir.empty() && !std::filesystem::create_directories(dir, ec) && ec)
      throw RegistryError{ERROR_ACCESS_DENIED,
                          "registry " + m_path + ": cannot create its directory: " + ec.message()};
  }
  const int flags = write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  const int rc = sqlite3_open_v2(m_path.c_str(), &m_db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    RegistryError error{ErrorFromSqlite(rc), "registry " + m_path + ": cannot open: " +
                                                 (m_db ? sqlite3_errmsg(m_db) : "no memory")};
    sqlite3_close(m_db);
    m_db = nullptr;
    throw error;
  }
  try {
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);
    Exec(write ? "BEGIN IMMEDIATE" : "BEGIN", "beginning a transaction");
    m_inTransaction = true;
    Statement version(*this, "PRAGMA user_version");
    const std::int64_t layout = version.Step() ? version.Int(0) : 0;
    if (layout == 0 && write) {
      Exec(kSchema, "creating the registry tables");
    } else if (layout == 0) {
      // Created by a writer that has not committed its tables yet: empty.
      Exec("ROLLBACK", "ending a transaction");
      m_inTransaction = false;
      sqlite3_close(m_db);
      m_db = nullptr;
    } else if (layout != kLayoutVersion) {
      throw RegistryError{
          ERROR_BADDB, "registry " + m_path + ": unknown layout version " + std::to_string(layout)};
    }
  } catch (...) {
    if (m_inTransaction) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
    m_db = nullptr;
    throw;
  }
}

RegistryStore::~RegistryStore() {
  if (m_db == nullptr) return;
  if (m_inTransaction) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(m_db);
}

void RegistryStore::Fail(const char* what, int rc) const {
  throw RegistryError{ErrorFromSqlite(rc), "registry " + m_path + ": " + what + " failed: " +
                                               (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc))};
}

void RegistryStore::Exec(const char* sql, const char* what) {
  const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(what, rc);
}

void RegistryStore::Commit() {
  if (m_db == nullptr || !m_inTransaction) return;
  Exec("COMMIT", "committing");
  m_inTransaction = false;
}

bool RegistryStore::KeyExists(KeyId id) {
  if (m_db == nullptr) return id >= kClassesRootId && id <= kLocalMachineId;
  Statement q(*this, "SELECT 1 FROM keys WHERE id = ?1");
  return q.Bind(1, id).Step();
}

std::optional<KeyId> RegistryStore::FindChild(KeyId parent, std::u16string_view name) {
  if (m_db == nullptr) return std::nullopt;
  Statement q(*this, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
  if (!q.Bind(1, parent).Bind(2, FoldName(name)).Step()) return std::nullopt;
  return q.Int(0);
}

KeyId RegistryStore::CreateChild(KeyId parent, std::u16string_view name) {
  Statement q(*this, "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)");
  q.Bind(1, parent).Bind(2, WideToUtf8(name)).Bind(3, FoldName(name)).Step();
  return sqlite3_last_insert_rowid(m_db);
}

bool RegistryStore::HasChildren(KeyId id) {
  if (m_db == nullptr) return false;
  Statement q(*this, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
  return q.Bind(1, id).Step();
}

std::optional<std::u16string> RegistryStore::NthChild(KeyId parent, DWORD index) {
  if (m_db == nullptr) return std::nullopt;
  Statement q(*this, "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
  if (!q.Bind(1, parent).Bind(2, index).Step()) return std::nullopt;
  return Utf8ToWide(q.Bytes(0));
}

void RegistryStore::DeleteKey(KeyId id) {
  Statement values(*this, "DELETE FROM key_values WHERE key = ?1");
  values.Bind(1, id).Step();
  Statement key(*this, "DELETE FROM keys WHERE id = ?1");
  key.Bind(1, id).Step();
}

void RegistryStore::DeleteBelow(KeyId id) {
  const std::string below(kBelow);
  Statement values(*this, below + "DELETE FROM key_values WHERE key = ?1 OR key IN below");
  values.Bind(1, id).Step();
  Statement keys(*this, below + "DELETE FROM keys WHERE id IN below");
  keys.Bind(1, id).Step();
}

std::optional<StoredValue> RegistryStore::GetValue(KeyId key, std::u16string_view name) {
  if (m_db == nullptr) return std::nullopt;
  Statement q(*this, "SELECT type, data FROM key_values WHERE key = ?1 AND fold = ?2");
  if (!q.Bind(1, key).Bind(2, FoldName(name)).Step()) return std::nullopt;
  return StoredValue{static_cast<DWORD>(q.Int(0)), q.Bytes(1)};
}

void RegistryStore::SetValue(KeyId key, std::u16string_view name, const StoredValue& value) {
  Statement q(*this,
              "INSERT INTO key_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
              " ON CONFLICT(key, fold) DO UPDATE SET name = ?2, type = ?4, data = ?5");
  q.Bind(1, key).Bind(2, WideToUtf8(name)).Bind(3, FoldName(name)).Bind(4, value.type);
  q.BindBlob(5, value.data).Step();
}

bool RegistryStore::DeleteValue(KeyId key, std::u16string_view name) {
  Statement q(*this, "DELETE FROM key_values WHERE key = ?1 AND fold = ?2");
  q.Bind(1, key).Bind(2, FoldName(name)).Step();
  return sqlite3_changes(m_db) > 0;
}

}  // namespace platform::detail
