// The engine's database: catalog, schema, properties, transactions, Execute.
#include "Engine/DatabaseCore.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "Engine/RecordsetCore.h"

namespace dao {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFormatTag = "VemEngine 1";
constexpr int kOpenBusyMs = 1000;    // a shared open waits this long for an exclusive holder
constexpr int kWriteBusyMs = 30000;  // writers wait this long for each other
constexpr int kPasswordIterations = 20000;
constexpr int kMaxNesting = 5;
constexpr const char* kKeyPrefix = "__vem_k";

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

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  std::string p = prefix;
  return s.size() >= p.size() && EqualNoCase(s.substr(0, p.size()), p);
}

bool IsHiddenTable(const std::string& name) {
  return StartsWithNoCase(name, "MSys") || StartsWithNoCase(name, "sqlite_");
}

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

void StorePassword(Connection& conn, const std::string& password) {
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

std::string IndexFieldsText(const IndexSpec& ix) {
  std::string s;
  for (std::size_t i = 0; i < ix.fields.size(); ++i) {
    if (i) s += '\n';
    if (i < ix.descending.size() && ix.descending[i]) s += '-';
    s += ix.fields[i];
  }
  return s;
}

void ParseIndexFields(const std::string& text, IndexSpec& ix) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string f = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    bool desc = !f.empty() && f[0] == '-';
    ix.fields.push_back(desc ? f.substr(1) : f);
    ix.descending.push_back(desc);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
}

std::string ColumnText(sqlite3_stmt* s, int i) {
  const unsigned char* p = sqlite3_column_text(s, i);
  return p ? reinterpret_cast<const char*>(p) : "";
}

int TypeFromDecl(const char* decl) {
  if (!decl) return 0;
  std::string d = Lower(decl);
  if (d.find("int") != std::string::npos) return dbLong;
  if (d.find("char") != std::string::npos || d.find("text") != std::string::npos) return dbMemo;
  if (d.find("real") != std::string::npos || d.find("floa") != std::string::npos ||
      d.find("doub") != std::string::npos)
    return dbDouble;
  if (d.find("blob") != std::string::npos) return dbLongBinary;
  return 0;
}

void RemoveDatabaseFiles(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  fs::remove(path + "-wal", ec);
  fs::remove(path + "-shm", ec);
}

std::string AbsolutePath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  std::error_code ec;
  fs::path abs = fs::absolute(p, ec);
  if (ec) Fail(kErrBadPath, "'" + path + "' is not a valid path.");
  return abs.lexically_normal().string();
}

}  // namespace

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

const ColumnInfo* TableInfo::Column(const std::string& n) const {
  for (const auto& c : columns)
    if (EqualNoCase(c.name, n)) return &c;
  return nullptr;
}

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
  std::string abs = AbsolutePath(path);
  std::error_code ec;
  if (!fs::exists(abs, ec)) Fail(kErrFileNotFound, "Could not find file '" + abs + "'.");
  if (fs::is_directory(abs, ec))
    Fail(kErrUnrecognizedFormat, "'" + abs + "' is a directory, not a database.");
  auto conn =
      std::make_unique<Connection>(abs, readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  std::shared_ptr<DatabaseCore> db(new DatabaseCore(std::move(conn), abs, exclusive, readOnly));
  db->Configure();
  Connection& c = *db->m_conn;
  if (exclusive) {
    c.Exec("PRAGMA locking_mode=EXCLUSIVE", "Opening '" + abs + "' exclusively");
    int rc = sqlite3_exec(
        c.db(),
        readOnly ? "BEGIN; SELECT count(*) FROM sqlite_master; COMMIT" : "BEGIN EXCLUSIVE; COMMIT",
        nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(c.db(), "ROLLBACK", nullptr, nullptr, nullptr);
      if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED)
        Fail(kErrFileInUse, "Could not use '" + abs + "'; file already in use.");
      c.Raise(rc, "Opening '" + abs + "' exclusively");
    }
  }
  db->CheckCatalog(ParseConnect(connect));
  c.SetShared(!exclusive);
  c.SetBusyTimeout(kWriteBusyMs);
  return db;
}

void DatabaseCore::CheckCatalog(const ConnectOptions& options) {
  Connection& c = *m_conn;
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(c.db(), "SELECT Key, Value FROM MSysInfo", -1, &raw, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> s(raw, sqlite3_finalize);
  std::string format, salt, hash;
  int rounds = kPasswordIterations;
  if (rc == SQLITE_OK) {
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      std::string key = ColumnText(s.get(), 0);
      if (key == "Format") format = ColumnText(s.get(), 1);
      if (key == "PasswordSalt") salt = ColumnText(s.get(), 1);
      if (key == "PasswordHash") hash = ColumnText(s.get(), 1);
      if (key == "PasswordRounds") rounds = sqlite3_column_int(s.get(), 1);
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
    if (msg.rfind("no such table", 0) == 0)
      Fail(kErrUnrecognizedFormat,
           "Unrecognized database format '" + m_name +
               "': the file is an SQLite database without this engine's catalog.");
    c.Raise(rc, "Opening '" + m_name + "'");
  }
  if (format != kFormatTag)
    Fail(kErrUnrecognizedFormat,
         "Unrecognized database format '" + m_name + "' (format '" + format + "').");
  if (!hash.empty()) {
    std::string given =
        options.hasPassword && rounds > 0 ? DerivePasswordHash(options.password, salt, rounds) : "";
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
}

void DatabaseCore::Close() {
  if (!m_conn) return;
  if (m_level > 0) sqlite3_exec(m_conn->db(), "ROLLBACK", nullptr, nullptr, nullptr);
  m_level = 0;
  ForgetCatalog();
  m_counters.clear();
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
  m_shapes.clear();
}

void DatabaseCore::InvalidateSchema() {
  ForgetCatalog();
  if (m_conn) {
    m_conn->ClearCache();
    m_conn->BumpEpoch();
  }
}

// ---- Schema ----------------------------------------------------------------

std::vector<std::string> DatabaseCore::TableNames() {
  Connection& c = Conn();
  CachedStmt s =
      c.Prepare("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name COLLATE NOCASE",
                "Listing the tables of '" + m_name + "'");
  std::vector<std::string> names;
  while (s.Step("Listing the tables of '" + m_name + "'")) {
    std::string n = ColumnText(s.get(), 0);
    if (!IsHiddenTable(n)) names.push_back(n);
  }
  return names;
}

std::vector<std::string> DatabaseCore::QueryNames() {
  Connection& c = Conn();
  CachedStmt s = c.Prepare("SELECT Name FROM MSysQueries ORDER BY Name COLLATE NOCASE",
                           "Listing the queries of '" + m_name + "'");
  std::vector<std::string> names;
  while (s.Step("Listing the queries of '" + m_name + "'")) names.push_back(ColumnText(s.get(), 0));
  return names;
}

const TableInfo* DatabaseCore::FindTable(const std::string& name) {
  Connection& c = Conn();
  std::string key = Lower(name);
  auto it = m_tables.find(key);
  if (it != m_tables.end()) return it->second.get();
  if (IsHiddenTable(name)) return nullptr;
  std::string ctx = "Reading the definition of table '" + name + "'";
  auto info = std::make_unique<TableInfo>();
  {
    CachedStmt s = c.Prepare(
        "SELECT name FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE", ctx);
    sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (!s.Step(ctx)) return nullptr;
    info->name = ColumnText(s.get(), 0);
  }
  {
    CachedStmt s = c.Prepare(
        "SELECT ColumnName, Type, Size, Attributes, Required FROM MSysColumns WHERE TableName=?1 "
        "ORDER BY Ordinal",
        ctx);
    sqlite3_bind_text(s.get(), 1, info->name.c_str(), -1, SQLITE_TRANSIENT);
    while (s.Step(ctx)) {
      ColumnInfo col;
      col.name = ColumnText(s.get(), 0);
      col.type = sqlite3_column_int(s.get(), 1);
      col.size = sqlite3_column_int(s.get(), 2);
      col.attributes = sqlite3_column_int(s.get(), 3);
      col.required = sqlite3_column_int(s.get(), 4) != 0;
      info->columns.push_back(col);
    }
  }
  if (info->columns.empty()) {
    // A table made without the engine: describe it from SQLite's own schema.
    CachedStmt s = c.Prepare("SELECT name, type, \"notnull\" FROM pragma_table_info(?1)", ctx);
    sqlite3_bind_text(s.get(), 1, info->name.c_str(), -1, SQLITE_TRANSIENT);
    while (s.Step(ctx)) {
      ColumnInfo col;
      col.name = ColumnText(s.get(), 0);
      std::string decl = ColumnText(s.get(), 1);
      col.type = TypeFromDecl(decl.c_str());
      if (col.type == 0) col.type = dbMemo;
      col.size = DefaultSize(col.type);
      col.attributes = col.type == dbMemo ? dbVariableField : dbFixedField;
      col.required = sqlite3_column_int(s.get(), 2) != 0;
      info->columns.push_back(col);
    }
  }
  {
    CachedStmt s = c.Prepare(
        "SELECT IndexName, IsPrimary, IsUnique, IsRequired, Fields, SqliteName IS NULL FROM "
        "MSysIndexes WHERE TableName=?1 ORDER BY rowid",
        ctx);
    sqlite3_bind_text(s.get(), 1, info->name.c_str(), -1, SQLITE_TRANSIENT);
    while (s.Step(ctx)) {
      IndexSpec ix;
      ix.name = ColumnText(s.get(), 0);
      ix.primary = sqlite3_column_int(s.get(), 1) != 0;
      ix.unique = sqlite3_column_int(s.get(), 2) != 0;
      ix.required = sqlite3_column_int(s.get(), 3) != 0;
      ParseIndexFields(ColumnText(s.get(), 4), ix);
      if (ix.primary && sqlite3_column_int(s.get(), 5) && ix.fields.size() == 1)
        info->rowidColumn = ix.fields[0];
      info->indexes.push_back(ix);
    }
  }
  const TableInfo* result = info.get();
  m_tables[key] = std::move(info);
  return result;
}

const ColumnInfo* DatabaseCore::ColumnOf(const std::string& table, const std::string& column) {
  const TableInfo* t = FindTable(table);
  return t ? t->Column(column) : nullptr;
}

bool DatabaseCore::IsQuery(const std::string& name) {
  return QuerySql(name).has_value();
}

std::optional<std::string> DatabaseCore::QuerySql(const std::string& name) {
  Connection& c = Conn();
  std::string ctx = "Reading query '" + name + "'";
  CachedStmt s = c.Prepare("SELECT SQL FROM MSysQueries WHERE Name=?1", ctx);
  sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (!s.Step(ctx)) return std::nullopt;
  return ColumnText(s.get(), 0);
}

void DatabaseCore::CheckNewName(const std::string& name, const char* what) {
  if (name.empty()) Fail(kErrInvalidArgument, std::string("A ") + what + " needs a name.");
  if (IsHiddenTable(name) || StartsWithNoCase(name, kKeyPrefix))
    Fail(kErrInvalidArgument, std::string("The name '") + name +
                                  "' is reserved for the engine; choose another " + what +
                                  " name.");
  if (FindTable(name) || IsQuery(name))
    Fail(kErrTableExists, std::string("Cannot create ") + what + " '" + name +
                              "': an object of that name already exists in '" + m_name + "'.");
}

void DatabaseCore::CreateTable(const TableSpec& def) {
  CheckWritable("create table '" + def.name + "'");
  CheckNewName(def.name, "table");
  if (def.fields.empty())
    Fail(kErrInvalidArgument, "Table '" + def.name + "' has no fields; append at least one field.");
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldSpec& f = def.fields[i];
    if (f.name.empty())
      Fail(kErrInvalidArgument, "A field of table '" + def.name + "' has no name.");
    if (!IsKnownType(f.type))
      Fail(kErrInvalidArgument, "Field '" + f.name + "' of table '" + def.name +
                                    "' has the unknown type " + std::to_string(f.type) + ".");
    if (f.type == dbText && (f.size < 0 || f.size > 255))
      Fail(kErrInvalidArgument, "Text field '" + f.name + "' of table '" + def.name +
                                    "' must have a size from 1 to 255.");
    for (std::size_t j = 0; j < i; ++j)
      if (EqualNoCase(def.fields[j].name, f.name))
        Fail(kErrNameExists,
             "Field '" + f.name + "' is defined twice in table '" + def.name + "'.");
    if ((f.attributes & dbAutoIncrField) && f.type != dbLong)
      Fail(kErrInvalidArgument,
           "AutoNumber field '" + f.name + "' of table '" + def.name + "' must be of type Long.");
  }
  const IndexSpec* primary = nullptr;
  for (const auto& ix : def.indexes) {
    if (ix.primary) {
      if (primary)
        Fail(kErrInvalidArgument, "Table '" + def.name + "' has more than one primary key.");
      primary = &ix;
    }
    if (ix.fields.empty())
      Fail(kErrInvalidArgument,
           "Index '" + ix.name + "' of table '" + def.name + "' has no fields.");
    for (const auto& fname : ix.fields) {
      bool found = false;
      for (const auto& f : def.fields) found = found || EqualNoCase(f.name, fname);
      if (!found)
        Fail(kErrItemNotFound, "Index '" + ix.name + "' names field '" + fname +
                                   "', which table '" + def.name + "' does not have.");
    }
  }
  std::string rowidColumn;
  if (primary && primary->fields.size() == 1) {
    for (const auto& f : def.fields)
      if (EqualNoCase(f.name, primary->fields[0]) && (f.attributes & dbAutoIncrField))
        rowidColumn = f.name;
  }
  std::string sql = "CREATE TABLE " + QuoteId(def.name) + " (";
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldSpec& f = def.fields[i];
    bool inPrimary = false;
    if (primary)
      for (const auto& pf : primary->fields) inPrimary = inPrimary || EqualNoCase(pf, f.name);
    if (i) sql += ", ";
    sql += QuoteId(f.name) + " ";
    if (EqualNoCase(f.name, rowidColumn)) {
      sql += "INTEGER PRIMARY KEY AUTOINCREMENT";
      continue;
    }
    sql += StorageType(f.type);
    if (f.type == dbText || f.type == dbMemo) sql += std::string(" COLLATE ") + JetCollation();
    if (f.required || inPrimary) sql += " NOT NULL";
  }
  sql += ")";
  std::string ctx = "Creating table '" + def.name + "' in '" + m_name + "'";
  WriteAtomically(ctx, [&] {
    Connection& c = *m_conn;
    c.Exec(sql, ctx);
    for (std::size_t i = 0; i < def.fields.size(); ++i) {
      const FieldSpec& f = def.fields[i];
      WriteColumn(def.name, f, static_cast<int>(i), f.required, ctx);
      if ((f.attributes & dbAutoIncrField) && !EqualNoCase(f.name, rowidColumn)) {
        CachedStmt a = c.Prepare(
            "INSERT INTO MSysAutoNumbers(TableName, ColumnName, NextValue) VALUES(?1, ?2, 1)", ctx);
        sqlite3_bind_text(a.get(), 1, def.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(a.get(), 2, f.name.c_str(), -1, SQLITE_TRANSIENT);
        a.Step(ctx);
      }
    }
    if (!rowidColumn.empty()) {
      CachedStmt s = c.Prepare("INSERT INTO sqlite_sequence(name, seq) VALUES(?1, 0)", ctx);
      sqlite3_bind_text(s.get(), 1, def.name.c_str(), -1, SQLITE_TRANSIENT);
      s.Step(ctx);
    }
    for (const auto& ix : def.indexes)
      WriteIndex(def.name, ix, ix.primary && !rowidColumn.empty(), ctx);
  });
  InvalidateSchema();
}

// Records column f of table in MSysColumns with its DAO type, size and
// attributes (fixed or variable length filled in when neither is given).
// Runs inside the caller's write transaction.
void DatabaseCore::WriteColumn(const std::string& table, const FieldSpec& f, int ordinal,
                               bool required, const std::string& ctx) {
  CachedStmt s = m_conn->Prepare(
      "INSERT INTO MSysColumns(TableName, ColumnName, Ordinal, Type, Size, Attributes, "
      "Required) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
      ctx);
  sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 2, f.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 3, ordinal);
  sqlite3_bind_int(s.get(), 4, f.type);
  sqlite3_bind_int(
      s.get(), 5,
      f.size > 0 && (f.type == dbText || f.type == dbBinary) ? f.size : DefaultSize(f.type));
  std::int32_t attrs = f.attributes;
  if (!(attrs & (dbFixedField | dbVariableField)))
    attrs |= (f.type == dbText || f.type == dbMemo || f.type == dbBinary || f.type == dbLongBinary)
                 ? dbVariableField
                 : dbFixedField;
  sqlite3_bind_int(s.get(), 6, attrs);
  sqlite3_bind_int(s.get(), 7, required ? 1 : 0);
  s.Step(ctx);
}

// Creates the SQLite index of ix on table (none when the index is the
// table's rowid key) and records it in MSysIndexes. Runs inside the caller's
// write transaction.
void DatabaseCore::WriteIndex(const std::string& table, const IndexSpec& ix, bool isRowid,
                              const std::string& ctx) {
  Connection& c = *m_conn;
  std::string sqliteName;
  if (!isRowid) {
    sqliteName = table + "." + ix.name;
    std::string create = std::string("CREATE ") + (ix.unique || ix.primary ? "UNIQUE " : "") +
                         "INDEX " + QuoteId(sqliteName) + " ON " + QuoteId(table) + " (";
    for (std::size_t k = 0; k < ix.fields.size(); ++k) {
      if (k) create += ", ";
      create += QuoteId(ix.fields[k]);
      if (k < ix.descending.size() && ix.descending[k]) create += " DESC";
    }
    c.Exec(create + ")", ctx);
  }
  CachedStmt s = c.Prepare(
      "INSERT INTO MSysIndexes(TableName, IndexName, SqliteName, IsPrimary, IsUnique, "
      "IsRequired, Fields) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
      ctx);
  sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 2, ix.name.c_str(), -1, SQLITE_TRANSIENT);
  if (isRowid)
    sqlite3_bind_null(s.get(), 3);
  else
    sqlite3_bind_text(s.get(), 3, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 4, ix.primary);
  sqlite3_bind_int(s.get(), 5, ix.unique || ix.primary);
  sqlite3_bind_int(s.get(), 6, ix.required || ix.primary);
  const std::string fields = IndexFieldsText(ix);
  sqlite3_bind_text(s.get(), 7, fields.c_str(), -1, SQLITE_TRANSIENT);
  s.Step(ctx);
}

void DatabaseCore::CreateIndex(const std::string& table, const IndexSpec& ix) {
  CheckWritable("create index '" + ix.name + "'");
  const TableInfo* t = FindTable(table);
  if (!t)
    Fail(kErrInputNotFound,
         "Cannot create index '" + ix.name + "': table '" + table + "' does not exist.");
  if (ix.name.empty()) Fail(kErrInvalidArgument, "An index of table '" + table + "' needs a name.");
  if (ix.fields.empty())
    Fail(kErrInvalidArgument, "Index '" + ix.name + "' of table '" + table + "' has no fields.");
  for (const auto& e : t->indexes) {
    if (EqualNoCase(e.name, ix.name))
      Fail(kErrNameExists, "Table '" + t->name + "' already has an index named '" + ix.name + "'.");
    if (e.primary && ix.primary)
      Fail(kErrInvalidArgument, "Table '" + t->name + "' already has a primary key.");
  }
  for (const auto& f : ix.fields)
    if (!t->Column(f))
      Fail(kErrItemNotFound, "Index '" + ix.name + "' names field '" + f + "', which table '" +
                                 t->name + "' does not have.");
  const std::string tableName = t->name;
  const std::string ctx = "Creating index '" + ix.name + "' on table '" + tableName + "'";
  WriteAtomically(ctx, [&] { WriteIndex(tableName, ix, false, ctx); });
  InvalidateSchema();
}

void DatabaseCore::AddColumn(const std::string& table, const FieldSpec& f) {
  CheckWritable("add field '" + f.name + "' to table '" + table + "'");
  const TableInfo* t = FindTable(table);
  if (!t)
    Fail(kErrInputNotFound,
         "Cannot add field '" + f.name + "': table '" + table + "' does not exist.");
  if (f.name.empty()) Fail(kErrInvalidArgument, "A field of table '" + t->name + "' needs a name.");
  if (t->Column(f.name))
    Fail(kErrNameExists, "Table '" + t->name + "' already has a field named '" + f.name + "'.");
  if (!IsKnownType(f.type))
    Fail(kErrInvalidArgument,
         "Field '" + f.name + "' has the unknown type " + std::to_string(f.type) + ".");
  if ((f.attributes & dbAutoIncrField) || f.required)
    Fail(kErrNotSupported, "Field '" + f.name + "' cannot be added to the existing table '" +
                               t->name + "' as an AutoNumber or Required field.");
  std::string tableName = t->name;
  std::string sql = "ALTER TABLE " + QuoteId(tableName) + " ADD COLUMN " + QuoteId(f.name) + " " +
                    StorageType(f.type);
  if (f.type == dbText || f.type == dbMemo) sql += std::string(" COLLATE ") + JetCollation();
  int ordinal = static_cast<int>(t->columns.size());
  std::string ctx = "Adding field '" + f.name + "' to table '" + tableName + "'";
  WriteAtomically(ctx, [&] {
    m_conn->Exec(sql, ctx);
    WriteColumn(tableName, f, ordinal, false, ctx);
  });
  InvalidateSchema();
}

void DatabaseCore::DropTable(const std::string& name) {
  CheckWritable("delete table '" + name + "'");
  const TableInfo* t = FindTable(name);
  if (!t) Fail(kErrItemNotFound, "Table '" + name + "' does not exist in '" + m_name + "'.");
  std::string tableName = t->name;
  std::string ctx = "Deleting table '" + tableName + "'";
  WriteAtomically(ctx, [&] {
    Connection& c = *m_conn;
    c.Exec("DROP TABLE " + QuoteId(tableName), ctx);
    for (const char* sql : {"DELETE FROM MSysColumns WHERE TableName=?1",
                            "DELETE FROM MSysIndexes WHERE TableName=?1",
                            "DELETE FROM MSysAutoNumbers WHERE TableName=?1",
                            "DELETE FROM MSysProperties WHERE Kind IN (1,3,5) AND ObjectName=?1"}) {
      CachedStmt s = c.Prepare(sql, ctx);
      sqlite3_bind_text(s.get(), 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
      s.Step(ctx);
    }
  });
  InvalidateSchema();
}

void DatabaseCore::DropIndex(const std::string& table, const std::string& index) {
  CheckWritable("delete index '" + index + "'");
  const TableInfo* t = FindTable(table);
  if (!t) Fail(kErrInputNotFound, "Table '" + table + "' does not exist in '" + m_name + "'.");
  std::string ctx = "Deleting index '" + index + "' of table '" + t->name + "'";
  std::string tableName = t->name;
  WriteAtomically(ctx, [&] {
    Connection& c = *m_conn;
    std::string sqliteName;
    bool found = false;
    {
      CachedStmt s =
          c.Prepare("SELECT SqliteName FROM MSysIndexes WHERE TableName=?1 AND IndexName=?2", ctx);
      sqlite3_bind_text(s.get(), 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s.get(), 2, index.c_str(), -1, SQLITE_TRANSIENT);
      if (s.Step(ctx)) {
        found = true;
        sqliteName = ColumnText(s.get(), 0);
      }
    }
    if (!found)
      Fail(kErrItemNotFound, "Table '" + tableName + "' has no index named '" + index + "'.");
    if (!sqliteName.empty()) c.Exec("DROP INDEX " + QuoteId(sqliteName), ctx);
    for (const char* sql :
         {"DELETE FROM MSysIndexes WHERE TableName=?1 AND IndexName=?2",
          "DELETE FROM MSysProperties WHERE Kind=5 AND ObjectName=?1 AND SubName=?2"}) {
      CachedStmt d = c.Prepare(sql, ctx);
      sqlite3_bind_text(d.get(), 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(d.get(), 2, index.c_str(), -1, SQLITE_TRANSIENT);
      d.Step(ctx);
    }
  });
  InvalidateSchema();
}

void DatabaseCore::CreateView(const std::string& name, const std::string& jetSql) {
  SqlStatement st = TranslateJetStatement(jetSql, kErrQuerySyntax);
  if (st.kind != SqlStatement::Select) return;  // action queries are kept as text only
  KeyedSelect k = BuildKeyedSelect(jetSql, kErrQuerySyntax);
  m_conn->Exec("CREATE VIEW " + QuoteId(name) + " AS " + k.sql, "Creating query '" + name + "'");
}

void DatabaseCore::CreateQuery(const std::string& name, const std::string& jetSql) {
  CheckWritable("create query '" + name + "'");
  CheckNewName(name, "query");
  std::string ctx = "Creating query '" + name + "' in '" + m_name + "'";
  WriteAtomically(ctx, [&] {
    CachedStmt s = m_conn->Prepare("INSERT INTO MSysQueries(Name, SQL) VALUES(?1, ?2)", ctx);
    sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, jetSql.c_str(), -1, SQLITE_TRANSIENT);
    s.Step(ctx);
    CreateView(name, jetSql);
  });
  InvalidateSchema();
}

void DatabaseCore::SetQuerySql(const std::string& name, const std::string& jetSql) {
  CheckWritable("change query '" + name + "'");
  if (!IsQuery(name))
    Fail(kErrItemNotFound, "Query '" + name + "' does not exist in '" + m_name + "'.");
  std::string ctx = "Changing the SQL of query '" + name + "'";
  WriteAtomically(ctx, [&] {
    m_conn->Exec("DROP VIEW IF EXISTS " + QuoteId(name), ctx);
    CachedStmt s = m_conn->Prepare("UPDATE MSysQueries SET SQL=?2 WHERE Name=?1", ctx);
    sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, jetSql.c_str(), -1, SQLITE_TRANSIENT);
    s.Step(ctx);
    CreateView(name, jetSql);
  });
  InvalidateSchema();
}

void DatabaseCore::DropQuery(const std::string& name) {
  CheckWritable("delete query '" + name + "'");
  if (!IsQuery(name))
    Fail(kErrItemNotFound, "Query '" + name + "' does not exist in '" + m_name + "'.");
  std::string ctx = "Deleting query '" + name + "'";
  WriteAtomically(ctx, [&] {
    m_conn->Exec("DROP VIEW IF EXISTS " + QuoteId(name), ctx);
    for (const char* sql : {"DELETE FROM MSysQueries WHERE Name=?1",
                            "DELETE FROM MSysProperties WHERE Kind IN (2,4) AND ObjectName=?1"}) {
      CachedStmt s = m_conn->Prepare(sql, ctx);
      sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      s.Step(ctx);
    }
  });
  InvalidateSchema();
}

std::vector<ColumnInfo> DatabaseCore::QueryColumns(const std::string& name) {
  auto sql = QuerySql(name);
  if (!sql) Fail(kErrItemNotFound, "Query '" + name + "' does not exist in '" + m_name + "'.");
  SqlStatement st = TranslateJetStatement(*sql, kErrQuerySyntax);
  if (st.kind != SqlStatement::Select) return {};
  RecordsetCore rs(shared_from_this(), "SELECT * FROM [" + name + "] WHERE 0 = 1");
  std::vector<ColumnInfo> cols;
  for (std::size_t i = 0; i < rs.FieldCount(); ++i) cols.push_back(rs.FieldAt(i).info);
  return cols;
}

// ---- Keyed SELECT ------------------------------------------------------------

KeyedSelect DatabaseCore::BuildKeyedSelect(const std::string& jetSql, int syntaxError,
                                           bool withParameters) {
  CheckOpen();
  KeyedSelect k;
  k.statement = TranslateJetStatement(jetSql, syntaxError, withParameters);
  const SqlStatement& st = k.statement;
  if (st.kind != SqlStatement::Select)
    Fail(kErrInvalidArgument,
         "OpenRecordset needs a SELECT query; '" + jetSql + "' is an action query (use Execute).");
  bool keyable = !st.distinct && !st.aggregate && st.groupBy.empty() && st.having.empty() &&
                 !st.tables.empty() && !st.from.empty() && st.limit.empty();
  if (keyable) {
    for (const auto& t : st.tables) {
      if (FindTable(t.name)) {
        k.keyExprs.push_back(QuoteId(t.ref()) + ".rowid");
      } else if (IsQuery(t.name)) {
        std::string ctx = "Reading query '" + t.name + "'";
        CachedStmt s = m_conn->Prepare("SELECT name FROM pragma_table_info(?1)", ctx);
        sqlite3_bind_text(s.get(), 1, t.name.c_str(), -1, SQLITE_TRANSIENT);
        bool any = false;
        while (s.Step(ctx)) {
          std::string col = ColumnText(s.get(), 0);
          if (col.rfind(kKeyPrefix, 0) == 0) {
            k.keyExprs.push_back(QuoteId(t.ref()) + "." + QuoteId(col));
            any = true;
          }
        }
        if (!any) keyable = false;
      } else {
        keyable = false;
      }
    }
  }
  k.keyed = keyable && !k.keyExprs.empty();
  if (!k.keyed) {
    k.keyExprs.clear();
    k.sql = st.sql;
    return k;
  }
  SqlStatement open = st;
  open.columns.clear();
  for (std::size_t i = 0; i < k.keyExprs.size(); ++i)
    open.columns.push_back({k.keyExprs[i], kKeyPrefix + std::to_string(i), false, {}});
  for (const auto& c : st.columns) open.columns.push_back(c);
  k.sql = ComposeSqlSelect(open);
  k.rereadSql = RereadSql(k);
  return k;
}

BoundSelect DatabaseCore::SelectForRecordset(const std::string& jetSql) {
  CheckOpen();
  constexpr std::size_t kMaxShapes = 256;
  StatementShape shape;
  if (!ShapeJetStatement(jetSql, &shape))
    return {std::make_shared<const KeyedSelect>(BuildKeyedSelect(jetSql, kErrQuerySyntax)), {}};
  BoundSelect out;
  auto it = m_shapes.find(shape.key);
  const bool hit = it != m_shapes.end() &&
                   std::all_of(it->second.fixed.begin(), it->second.fixed.end(),
                               [&](auto& f) { return shape.literals[f.first].text == f.second; });
  if (hit) {
    out.select = it->second.select;
  } else {
    auto select =
        std::make_shared<const KeyedSelect>(BuildKeyedSelect(jetSql, kErrQuerySyntax, true));
    out.select = select;
    // Only keyed selects are kept: they name tables and queries that exist,
    // and they are what is opened over and over (a record by its id).
    if (select->keyed) {
      const std::vector<std::size_t>& params = select->statement.parameters;
      const std::vector<std::size_t>& pinned = select->statement.pinned;
      ShapedSelect entry;
      entry.select = select;
      for (std::size_t i = 0; i < shape.literals.size(); ++i) {
        const bool parameter = std::find(params.begin(), params.end(), i) != params.end();
        const bool isPinned = std::find(pinned.begin(), pinned.end(), i) != pinned.end();
        if (!parameter || isPinned) entry.fixed.emplace_back(i, shape.literals[i].text);
      }
      if (m_shapes.size() >= kMaxShapes) m_shapes.clear();
      m_shapes[shape.key] = std::move(entry);
    }
  }
  out.parameters.reserve(out.select->statement.parameters.size());
  for (std::size_t ordinal : out.select->statement.parameters)
    out.parameters.push_back(shape.literals[ordinal]);
  return out;
}

std::string RereadSql(const KeyedSelect& k) {
  SqlStatement reread = k.statement;
  reread.orderBy.clear();
  reread.where.clear();
  for (std::size_t i = 0; i < k.keyExprs.size(); ++i) {
    if (i) reread.where += " AND ";
    reread.where +=
        k.keyExprs[i] + (k.keyExprs.size() == 1 ? " = ?" : " IS ?") + std::to_string(i + 1);
  }
  return ComposeSqlSelect(reread);
}

std::int32_t DatabaseCore::AllocateAutoNumber(const std::string& table, const std::string& column) {
  CheckOpen();
  if (m_readOnly) CheckWritable("add a record to '" + table + "'");
  const TableInfo* t = FindTable(table);
  if (!t) Fail(kErrInputNotFound, "Table '" + table + "' does not exist.");
  auto ctx = [&] { return "Assigning the AutoNumber of '" + t->name + "." + column + "'"; };
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

// ---- Properties --------------------------------------------------------------

std::string DatabaseCore::DescribeObject(const ObjectRef& ref) const {
  switch (ref.kind) {
    case ObjectKind::Database:
      return "database '" + m_name + "'";
    case ObjectKind::Table:
      return "table '" + ref.object + "'";
    case ObjectKind::Query:
      return "query '" + ref.object + "'";
    case ObjectKind::TableField:
      return "field '" + ref.sub + "' of table '" + ref.object + "'";
    case ObjectKind::QueryField:
      return "field '" + ref.sub + "' of query '" + ref.object + "'";
    case ObjectKind::Index:
      return "index '" + ref.sub + "' of table '" + ref.object + "'";
  }
  return "object";
}

std::vector<PropertyRecord> DatabaseCore::Properties(const ObjectRef& ref) {
  Connection& c = Conn();
  std::string ctx = "Reading the properties of " + DescribeObject(ref);
  CachedStmt s = c.Prepare(
      "SELECT Name, Type, Value FROM MSysProperties WHERE Kind=?1 AND ObjectName=?2 AND "
      "SubName=?3 ORDER BY rowid",
      ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<PropertyRecord> out;
  while (s.Step(ctx)) {
    PropertyRecord p;
    p.name = ColumnText(s.get(), 0);
    p.type = sqlite3_column_int(s.get(), 1);
    p.value = ReadColumn(s.get(), 2, p.type);
    out.push_back(std::move(p));
  }
  return out;
}

void DatabaseCore::AppendProperty(const ObjectRef& ref, const PropertyRecord& prop) {
  CheckWritable("add property '" + prop.name + "' to " + DescribeObject(ref));
  if (prop.name.empty())
    Fail(kErrInvalidArgument, "A property of " + DescribeObject(ref) + " needs a name.");
  if (!IsKnownType(prop.type))
    Fail(kErrInvalidArgument, "Property '" + prop.name + "' of " + DescribeObject(ref) +
                                  " has the unknown type " + std::to_string(prop.type) + ".");
  for (const auto& p : Properties(ref))
    if (EqualNoCase(p.name, prop.name))
      Fail(kErrNameExists,
           "Property '" + prop.name + "' already exists on " + DescribeObject(ref) + ".");
  Value v = ConvertToType(prop.value, prop.type,
                          "property '" + prop.name + "' of " + DescribeObject(ref));
  std::string ctx = "Adding property '" + prop.name + "' to " + DescribeObject(ref);
  CachedStmt s = m_conn->Prepare(
      "INSERT INTO MSysProperties(Kind, ObjectName, SubName, Name, Type, Value) VALUES(?1, ?2, "
      "?3, ?4, ?5, ?6)",
      ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 4, prop.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 5, prop.type);
  BindValue(s.get(), 6, v);
  s.Step(ctx);
}

void DatabaseCore::SetPropertyValue(const ObjectRef& ref, const std::string& name,
                                    const Value& value) {
  CheckWritable("change property '" + name + "' of " + DescribeObject(ref));
  int type = -1;
  for (const auto& p : Properties(ref))
    if (EqualNoCase(p.name, name)) type = p.type;
  if (type < 0)
    Fail(kErrPropertyNotFound, "Property '" + name + "' not found on " + DescribeObject(ref) + ".");
  Value v = ConvertToType(value, type, "property '" + name + "' of " + DescribeObject(ref));
  std::string ctx = "Changing property '" + name + "' of " + DescribeObject(ref);
  CachedStmt s = m_conn->Prepare(
      "UPDATE MSysProperties SET Value=?5 WHERE Kind=?1 AND ObjectName=?2 AND SubName=?3 AND "
      "Name=?4",
      ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 4, name.c_str(), -1, SQLITE_TRANSIENT);
  BindValue(s.get(), 5, v);
  s.Step(ctx);
}

void DatabaseCore::DeleteProperty(const ObjectRef& ref, const std::string& name) {
  CheckWritable("delete property '" + name + "' of " + DescribeObject(ref));
  std::string ctx = "Deleting property '" + name + "' of " + DescribeObject(ref);
  CachedStmt s = m_conn->Prepare(
      "DELETE FROM MSysProperties WHERE Kind=?1 AND ObjectName=?2 AND SubName=?3 AND Name=?4", ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 4, name.c_str(), -1, SQLITE_TRANSIENT);
  s.Step(ctx);
  if (sqlite3_changes(m_conn->db()) == 0)
    Fail(kErrItemNotFound, "Property '" + name + "' not found on " + DescribeObject(ref) + ".");
}

// ---- Transactions ----------------------------------------------------------------

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
  m_counters.clear();
  c.BumpEpoch();
}

// ---- Execute ------------------------------------------------------------------------

int DatabaseCore::Execute(const std::string& jetSql) {
  CheckOpen();
  DdlStatement ddl = ParseDdl(jetSql);
  switch (ddl.kind) {
    case DdlStatement::CreateTable:
      CreateTable(ddl.table);
      return 0;
    case DdlStatement::CreateIndex:
      CreateIndex(ddl.tableName, ddl.index);
      return 0;
    case DdlStatement::DropTable:
      DropTable(ddl.tableName);
      return 0;
    case DdlStatement::DropIndex:
      DropIndex(ddl.tableName, ddl.index.name);
      return 0;
    case DdlStatement::None:
      break;
  }
  std::string text = jetSql;
  if (auto stored = QuerySql(jetSql)) text = *stored;  // Execute "qryName"
  SqlStatement st = TranslateJetStatement(text, kErrQuerySyntax);
  if (st.kind == SqlStatement::Select)
    Fail(kErrExecuteSelect,
         "Cannot execute a select query ('" + jetSql + "'); Execute runs action queries only.");
  CheckWritable("execute '" + jetSql + "'");
  Connection& c = *m_conn;
  std::string ctx = "Execute '" + jetSql + "'";
  CachedStmt s = c.Prepare(st.sql, ctx);
  while (s.Step(ctx)) {
  }
  int changed = sqlite3_changes(c.db());
  c.BumpEpoch();
  return changed;
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

// ---- Compaction ---------------------------------------------------------------------

void DatabaseCore::Compact(const std::string& src, const std::string& dst,
                           const std::string& dstConnect, const std::string& srcConnect) {
  std::string absSrc = AbsolutePath(src);
  std::string absDst = AbsolutePath(dst);
  std::error_code ec;
  if (!fs::exists(absSrc, ec)) Fail(kErrFileNotFound, "Could not find file '" + absSrc + "'.");
  if (fs::exists(absDst, ec)) Fail(kErrDatabaseExists, "Database '" + absDst + "' already exists.");
  if (!fs::is_directory(fs::path(absDst).parent_path(), ec))
    Fail(kErrBadPath, "'" + fs::path(absDst).parent_path().string() +
                          "' is not a valid path: cannot create '" + absDst + "'.");
  // An exclusive open refuses a source that anyone else has open.
  auto source = Open(absSrc, true, false, srcConnect);
  ConnectOptions dstOptions = ParseConnect(dstConnect);
  try {
    source->Conn().Exec("VACUUM INTO " + QuoteText(absDst),
                        "Compacting '" + absSrc + "' into '" + absDst + "'");
    source->Close();
    Connection out(absDst, SQLITE_OPEN_READWRITE);
    std::string ctx = "Preparing the compacted database '" + absDst + "'";
    out.Exec("PRAGMA journal_mode=WAL", ctx);
    if (dstOptions.hasPassword) {
      out.Exec("BEGIN IMMEDIATE", ctx);
      StorePassword(out, dstOptions.password);
      out.Exec("COMMIT", ctx);
    }
  } catch (...) {
    source->Close();
    RemoveDatabaseFiles(absDst);
    throw;
  }
}

}  // namespace dao
