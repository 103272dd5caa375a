// The engine's database: creating and opening files, the catalog check and
// the password, and closing.
#include "Engine/DatabaseCore.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "Engine/CatalogText.h"
#include "Engine/RecordsetCore.h"

namespace dao {

namespace fs = std::filesystem;

namespace {

// Format 2 stores Currency as the amount (REAL); format 1 stored it scaled
// by 10,000 (INTEGER). A format 1 file is converted when opened for writing.
constexpr const char* kFormatTag = "VemEngine 2";
constexpr const char* kFormat1Tag = "VemEngine 1";
constexpr int kOpenBusyMs = 1000;    // a shared open waits this long for an exclusive holder
constexpr int kWriteBusyMs = 30000;  // writers wait this long for each other
constexpr int kPasswordIterations = 20000;

const char* kCatalogSql =
    "CREATE TABLE MSysInfo(Key TEXT PRIMARY KEY, Value);"
    "CREATE TABLE MSysColumns(TableName TEXT NOT NULL COLLATE NOCASE, ColumnName TEXT NOT NULL "
    "COLLATE NOCASE, Ordinal INTEGER NOT NULL, Type INTEGER NOT NULL, Size INTEGER NOT NULL, "
    "Attributes INTEGER NOT NULL, Required INTEGER NOT NULL DEFAULT 0, "
    "PRIMARY KEY(TableName, ColumnName));"
    "CREATE TABLE MSysIndexes(TableName TEXT NOT NULL COLLATE NOCASE, IndexName TEXT NOT NULL "
    "COLLATE NOCASE, SqliteName TEXT, IsPrimary INTEGER NOT NULL, IsUnique INTEGER NOT NULL, "
    "IsRequired INTEGER NOT NULL, Fields TEXT NOT NULL, PRIMARY KEY(TableName, IndexName));"
    "CREATE TABLE MSysQueries(Name TEXT PRIMARY KEY COLLATE NOCASE, SQL TEXT NOT NULL);"
    "CREATE TABLE MSysProperties(Kind INTEGER NOT NULL, ObjectName TEXT NOT NULL COLLATE NOCASE, "
    "SubName TEXT NOT NULL COLLATE NOCASE, Name TEXT NOT NULL COLLATE NOCASE, Type INTEGER NOT "
    "NULL, Value, PRIMARY KEY(Kind, ObjectName, SubName, Name));"
    "CREATE TABLE MSysAutoNumbers(TableName TEXT NOT NULL COLLATE NOCASE, ColumnName TEXT NOT "
    "NULL COLLATE NOCASE, NextValue INTEGER NOT NULL, PRIMARY KEY(TableName, ColumnName));";

std::string Hex(const unsigned char* p, std::size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

std::string DerivePasswordHash(const std::string& password, const std::string& saltHex,
                               int iterations) {
  unsigned char out[32];
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                        reinterpret_cast<const unsigned char*>(saltHex.data()),
                        static_cast<int>(saltHex.size()), iterations, EVP_sha256(), sizeof out,
                        out) != 1)
    Fail(kErrReserved, "Could not derive the password hash.");
  return Hex(out, sizeof out);
}

}  // namespace

void StorePassword(Connection& conn, const std::string& password) {
  CatalogWrite catalog(conn);
  if (password.empty()) {
    conn.Exec("DELETE FROM MSysInfo WHERE Key IN ('PasswordSalt','PasswordHash','PasswordRounds')",
              "Removing the password of '" + conn.path() + "'");
    return;
  }
  unsigned char salt[16];
  if (RAND_bytes(salt, sizeof salt) != 1) Fail(kErrReserved, "Could not make a password salt.");
  std::string saltHex = Hex(salt, sizeof salt);
  std::string hash = DerivePasswordHash(password, saltHex, kPasswordIterations);
  auto put = [&](const char* key, const std::string& value) {
    CachedStmt s = conn.Prepare("INSERT OR REPLACE INTO MSysInfo(Key, Value) VALUES(?1, ?2)",
                                "Storing the password of '" + conn.path() + "'");
    sqlite3_bind_text(s.get(), 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_text(s.get(), 2, value.c_str(), -1, SQLITE_TRANSIENT);
    s.Step("Storing the password of '" + conn.path() + "'");
  };
  put("PasswordSalt", saltHex);
  put("PasswordHash", hash);
  put("PasswordRounds", std::to_string(kPasswordIterations));
}

void RemoveDatabaseFiles(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  fs::remove(path + "-journal", ec);
  fs::remove(path + "-wal", ec);
  fs::remove(path + "-shm", ec);
}

namespace {

// Whether a read through `conn` works: it does not when the file is in WAL
// mode and its -shm can be neither opened nor created.
bool CanShareReads(Connection& conn) {
  int rc = sqlite3_exec(conn.db(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  int primary = rc & 0xFF;
  return !(primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN);
}

}  // namespace

bool SyncFile(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), directory ? (O_RDONLY | O_DIRECTORY) : O_RDWR);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

std::string AbsolutePath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  std::error_code ec;
  fs::path abs = fs::absolute(p, ec);
  if (ec) Fail(kErrBadPath, "'" + path + "' is not a valid path.");
  return abs.lexically_normal().string();
}

ConnectOptions ParseConnect(const std::string& connect) {
  ConnectOptions o;
  std::size_t start = 0;
  while (start <= connect.size()) {
    std::size_t semi = connect.find(';', start);
    std::string part =
        connect.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
    std::size_t eq = part.find('=');
    if (eq != std::string::npos) {
      std::string key = part.substr(0, eq);
      while (!key.empty() && key.back() == ' ') key.pop_back();
      while (!key.empty() && key.front() == ' ') key.erase(0, 1);
      if (EqualNoCase(key, "PWD") || EqualNoCase(key, "PASSWORD")) {
        o.password = part.substr(eq + 1);
        o.hasPassword = true;
      }
    }
    if (semi == std::string::npos) break;
    start = semi + 1;
  }
  return o;
}

DatabaseCore::DatabaseCore(std::unique_ptr<Connection> conn, std::string name, bool exclusive,
                           bool readOnly)
    : m_conn(std::move(conn)),
      m_name(std::move(name)),
      m_exclusive(exclusive),
      m_readOnly(readOnly) {}

DatabaseCore::~DatabaseCore() {
  try {
    Close();
  } catch (...) {
  }
}

void DatabaseCore::Configure() {
  // A double-quoted name that matches no column must be an error, never a
  // text literal (the translator quotes every identifier).
  sqlite3_db_config(m_conn->db(), SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(m_conn->db(), SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  RegisterJetSql(m_conn->db());
  m_conn->GuardCatalog();
  m_conn->SetBusyTimeout(kOpenBusyMs);
}

std::shared_ptr<DatabaseCore> DatabaseCore::Create(const std::string& path,
                                                   const std::string& connect) {
  std::string abs = AbsolutePath(path);
  std::error_code ec;
  if (fs::exists(abs, ec)) Fail(kErrDatabaseExists, "Database '" + abs + "' already exists.");
  fs::path dir = fs::path(abs).parent_path();
  if (!fs::is_directory(dir, ec))
    Fail(kErrBadPath, "'" + dir.string() + "' is not a valid path: cannot create '" + abs + "'.");
  ConnectOptions options = ParseConnect(connect);
  std::shared_ptr<DatabaseCore> db;
  try {
    auto conn = std::make_unique<Connection>(abs, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    db.reset(new DatabaseCore(std::move(conn), abs, false, false));
    db->Configure();
    Connection& c = *db->m_conn;
    std::string ctx = "Creating database '" + abs + "'";
    c.Exec("PRAGMA journal_mode=WAL", ctx);
    c.Exec("PRAGMA synchronous=NORMAL", ctx);
    c.Exec("BEGIN IMMEDIATE", ctx);
    CatalogWrite catalog(c);
    c.Exec(kCatalogSql, ctx);
    c.Exec(std::string("INSERT INTO MSysInfo(Key, Value) VALUES('Format', '") + kFormatTag + "')",
           ctx);
    if (options.hasPassword) StorePassword(c, options.password);
    c.Exec("COMMIT", ctx);
    c.SetWal(true);
    c.SetBusyTimeout(kWriteBusyMs);
  } catch (...) {
    db.reset();
    RemoveDatabaseFiles(abs);
    throw;
  }
  return db;
}

std::shared_ptr<DatabaseCore> DatabaseCore::Open(const std::string& path, bool exclusive,
                                                 bool readOnly, const std::string& connect) {
  // An open that waited for a compaction in place may have got the file
  // that the copy has since replaced (its name now names the copy): it
  // opens again, at most a few times.
  for (int attempt = 0;; ++attempt) {
    std::shared_ptr<DatabaseCore> db = OpenOnce(path, exclusive, readOnly, connect);
    int moved = 0;
    if (attempt == 4 || !db->m_conn ||
        sqlite3_file_control(db->m_conn->db(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) !=
            SQLITE_OK ||
        moved == 0)
      return db;
  }
}

std::shared_ptr<DatabaseCore> DatabaseCore::OpenOnce(const std::string& path, bool exclusive,
                                                     bool readOnly, const std::string& connect) {
  std::string abs = AbsolutePath(path);
  std::error_code ec;
  if (!fs::exists(abs, ec)) Fail(kErrFileNotFound, "Could not find file '" + abs + "'.");
  if (fs::is_directory(abs, ec))
    Fail(kErrUnrecognizedFormat, "'" + abs + "' is a directory, not a database.");
  // An exclusive open takes SQLite's exclusive lock, which needs a connection
  // that may write; a read-only exclusive open then refuses every change
  // through it (query_only).
  const bool writeConnection = !readOnly || exclusive;
  auto conn = std::make_unique<Connection>(
      abs, writeConnection ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
  // SQLite opens a file that this process may not write read-only.
  readOnly = readOnly || sqlite3_db_readonly(conn->db(), "main") == 1;
  std::shared_ptr<DatabaseCore> db(new DatabaseCore(std::move(conn), abs, exclusive, readOnly));
  db->Configure();
  Connection& c = *db->m_conn;
  if (exclusive) {
    c.Exec("PRAGMA locking_mode=EXCLUSIVE", "Opening '" + abs + "' exclusively");
    int rc = sqlite3_exec(c.db(), "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(c.db(), "ROLLBACK", nullptr, nullptr, nullptr);
      if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
        Fail(kErrFileInUse, "Could not use '" + abs + "'; file already in use.");
      if ((rc & 0xFF) == SQLITE_READONLY || (rc & 0xFF) == SQLITE_CANTOPEN ||
          sqlite3_db_readonly(c.db(), "main") == 1)
        Fail(kErrReadOnly, "Cannot open '" + abs +
                               "' exclusively: this process may not write the file or its "
                               "directory, so it cannot keep others out; open it shared and "
                               "read-only instead.");
      c.Raise(rc, "Opening '" + abs + "' exclusively");
    }
    if (readOnly) c.Exec("PRAGMA query_only=1", "Opening '" + abs + "' exclusively, read-only");
  }
  if (readOnly && !exclusive && !CanShareReads(c)) {
    // A file in WAL mode that readers share through its -shm, which this
    // process can neither open nor create (the directory is not writable).
    std::error_code ignored;
    if (fs::exists(abs + "-wal", ignored) || fs::exists(abs + "-shm", ignored))
      Fail(kErrReadOnly, "Cannot read '" + abs +
                             "': it is in use or was not closed cleanly, and this process may "
                             "not write its directory to share it with its other users.");
    // No one has it open: read the file as it is. The connection checks on
    // every look for changes that no one opens the file meanwhile.
    db.reset();
    auto unshared = std::make_unique<Connection>(abs, SQLITE_OPEN_READONLY, true);
    db.reset(new DatabaseCore(std::move(unshared), abs, false, true));
    db->Configure();
  }
  Connection& opened = *db->m_conn;
  db->CheckCatalog(ParseConnect(connect));
  opened.SetShared(!exclusive);
  opened.SetBusyTimeout(kWriteBusyMs);
  return db;
}

void DatabaseCore::CheckCatalog(const ConnectOptions& options) {
  Connection& c = *m_conn;
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(c.db(), "SELECT Key, Value FROM MSysInfo", -1, &raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> s(raw, sqlite3_finalize);
  std::string format, salt, hash;
  std::int64_t rounds = kPasswordIterations;
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      std::string key = ColumnText(s.get(), 0);
      if (key == "Format") format = ColumnText(s.get(), 1);
      if (key == "PasswordSalt") salt = ColumnText(s.get(), 1);
      if (key == "PasswordHash") hash = ColumnText(s.get(), 1);
      if (key == "PasswordRounds") rounds = sqlite3_column_int64(s.get(), 1);
    }
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) {
    int primary = rc & 0xFF;
    std::string msg = sqlite3_errmsg(c.db());
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
      Fail(kErrOpenedExclusively,
           "Could not use '" + m_name + "'; it is already opened exclusively by another user.");
    if (primary == SQLITE_NOTADB)
      Fail(kErrUnrecognizedFormat,
           "Unrecognized database format '" + m_name + "': the file is not a database.");
    if (primary == SQLITE_CORRUPT)
      Fail(kErrUnrecognizedFormat,
           "Unrecognized database format '" + m_name + "': the file is damaged (" + msg + ").");
    std::error_code ec;
    if (msg.rfind("no such table", 0) == 0 && fs::file_size(m_name, ec) == 0 && !ec)
      Fail(kErrUnrecognizedFormat,
           "Unrecognized database format '" + m_name + "': the file is empty (0 bytes).");
    if (msg.rfind("no such table", 0) == 0)
      Fail(kErrUnrecognizedFormat,
           "Unrecognized database format '" + m_name +
               "': the file is an SQLite database without this engine's catalog.");
    c.Raise(rc, "Opening '" + m_name + "'");
  }
  if (format != kFormatTag && format != kFormat1Tag)
    Fail(kErrUnrecognizedFormat,
         "Unrecognized database format '" + m_name + "' (format '" + format + "').");
  if (!hash.empty()) {
    // The file says how slow its password check is: never slower than the
    // engine itself makes it (a file asking for billions of rounds would
    // hold the open for minutes).
    if (rounds <= 0 || rounds > kPasswordIterations)
      Fail(kErrUnrecognizedFormat, "Unrecognized database format '" + m_name +
                                       "': its password check asks for " + std::to_string(rounds) +
                                       " rounds (this engine uses " +
                                       std::to_string(kPasswordIterations) + ").");
    std::string given = options.hasPassword
                            ? DerivePasswordHash(options.password, salt, static_cast<int>(rounds))
                            : "";
    if (given.size() != hash.size() || CRYPTO_memcmp(given.data(), hash.data(), hash.size()) != 0)
      Fail(kErrBadPassword, "Not a valid password for database '" + m_name + "'.");
  }
  // The file's journal mode: WAL lets readers and a writer work at once.
  sqlite3_stmt* jm = nullptr;
  std::string mode;
  if (sqlite3_prepare_v2(c.db(), "PRAGMA journal_mode", -1, &jm, nullptr) == SQLITE_OK &&
      sqlite3_step(jm) == SQLITE_ROW)
    mode = Lower(ColumnText(jm, 0));
  sqlite3_finalize(jm);
  if (mode != "wal" && !m_readOnly) {
    if (sqlite3_exec(c.db(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK)
      mode = "wal";
  }
  c.SetWal(mode == "wal");
  sqlite3_exec(c.db(), "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  if (format == kFormat1Tag && !m_readOnly) {
    c.SetBusyTimeout(kWriteBusyMs);  // the conversion waits for writers like any write
    UpgradeFormat1(kFormatTag);
  }
}

void DatabaseCore::Close() {
  if (!m_conn) return;
  if (m_level > 0) {
    sqlite3_exec(m_conn->db(), "ROLLBACK", nullptr, nullptr, nullptr);
    KeepAutoNumbersAfterRollback();
  }
  m_level = 0;
  ForgetCatalog();
  m_retiredTables.clear();
  m_counters.clear();
  m_handedOut.clear();
  m_conn.reset();
}

Connection& DatabaseCore::Conn() {
  CheckOpen();
  return *m_conn;
}

void DatabaseCore::FailClosed() const {
  Fail(kErrObjectInvalid, "Database '" + m_name + "' is closed.");
}

void DatabaseCore::CheckWritable(const std::string& what) const {
  CheckOpen();
  if (m_readOnly)
    Fail(kErrReadOnly, "Cannot " + what + ": database '" + m_name + "' is opened read-only.");
}

void DatabaseCore::ForgetCatalog() {
  m_tables.clear();
  m_counterTriggers.clear();
  m_shapes.clear();
  m_shapeLru.clear();
}

void DatabaseCore::NoticeSchemaChanges() {
  m_conn->ChangeEpoch();
  if (m_conn->SchemaGeneration() == m_schemaGeneration) return;
  m_schemaGeneration = m_conn->SchemaGeneration();
  // Callers may hold descriptions handed out before (FindTable is asked
  // for one column after another): they stay valid until the database
  // closes or changes its own schema.
  for (auto& [key, table] : m_tables) m_retiredTables.push_back(std::move(table));
  ForgetCatalog();
  m_conn->ClearCache();
  m_conn->BumpEpoch();
}

void DatabaseCore::InvalidateSchema() {
  ForgetCatalog();
  m_retiredTables.clear();
  if (m_conn) {
    m_conn->ClearCache();
    m_conn->BumpEpoch();
  }
}

std::unique_ptr<RecordsetCore> DatabaseCore::OpenRecordset(const std::string& jetSql) {
  CheckOpen();
  return std::make_unique<RecordsetCore>(shared_from_this(), jetSql);
}

DatabaseCore::RowBuffers DatabaseCore::TakeRowBuffers() {
  RowBuffers out = std::move(m_spareRows);
  m_spareRows = RowBuffers();
  return out;
}

void DatabaseCore::ReturnRowBuffers(RowBuffers&& buffers) {
  constexpr std::size_t kMaxKeptCells = 1u << 21;   // 32 MB of cells at most
  constexpr std::size_t kMaxKeptArena = 32u << 20;  // and 32 MB of text
  buffers.keys.clear();
  buffers.cells.clear();
  buffers.arena.clear();
  buffers.epochs.clear();
  if (buffers.cells.capacity() > kMaxKeptCells || buffers.arena.capacity() > kMaxKeptArena) return;
  if (buffers.cells.capacity() >= m_spareRows.cells.capacity()) m_spareRows = std::move(buffers);
}

}  // namespace dao
