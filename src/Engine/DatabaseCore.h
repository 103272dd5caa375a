// The engine's database below the DAO objects: one SQLite file with the
// engine's catalog, its schema operations, properties, transactions,
// Execute, AutoNumber allocation and compaction.
//
// Catalog tables inside every database file (hidden from TableDefs):
//   MSysInfo(Key, Value)                    format tag, password hash and salt
//   MSysColumns(TableName, ColumnName, Ordinal, Type, Size, Attributes, Required)
//   MSysIndexes(TableName, IndexName, SqliteName, IsPrimary, IsUnique, IsRequired, Fields)
//   MSysQueries(Name, SQL)                  stored queries; each is also a view
//   MSysProperties(Kind, ObjectName, SubName, Name, Type, Value)
//   MSysAutoNumbers(TableName, ColumnName, NextValue)  counters that are not the rowid,
//                                           kept ahead of their columns by triggers
// An AutoNumber that is the table's INTEGER PRIMARY KEY AUTOINCREMENT takes
// its numbers from sqlite_sequence instead, so that SQLite never hands out a
// number that AddNew has reserved.
//
// Thread-safety: none; one thread uses a database at a time.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Engine/Ddl.h"
#include "Engine/JetBridge.h"
#include "Engine/Sqlite.h"
#include "Engine/Value.h"

namespace dao {

class RecordsetCore;

// Objects that carry properties.
enum class ObjectKind : int {
  Database = 0,
  Table = 1,
  Query = 2,
  TableField = 3,
  QueryField = 4,
  Index = 5,
};

struct ObjectRef {
  ObjectKind kind = ObjectKind::Database;
  std::string object;  // table or query name ("" for the database)
  std::string sub;     // field or index name
};

struct PropertyRecord {
  std::string name;
  int type = dbText;  // DataTypeEnum
  Value value;
};

// A table as the catalog describes it.
struct TableInfo {
  std::string name;
  std::string rowidColumn;  // the AutoNumber that is the rowid ("" if none)
  std::vector<ColumnInfo> columns;
  std::vector<IndexSpec> indexes;
  const ColumnInfo* Column(const std::string& name) const;
};

struct RecordsetLayout;

// A SELECT rewritten so that each row carries the rowids of its base rows.
struct KeyedSelect {
  SqlStatement statement;
  bool keyed = false;                 // false: read-only (aggregate, DISTINCT, ...)
  std::vector<std::string> keyExprs;  // one per base row: "t".rowid or "q"."__vem_rk_0"
  std::string selectList;             // the data columns as written
  std::string sql;                    // the query to open (keys first, as __vem_k<i>)
  std::string rereadSql;              // keyed: data columns of one row by its keys (?n+1..?n+K,
                                      // after the n parameters of the select)
  // The columns as recordsets show them, filled by the first recordset that
  // opens this select (a cache of what the prepared statement says).
  mutable std::shared_ptr<const RecordsetLayout> layout;
};

// A SELECT ready to open: the statement (shared by every text of the same
// shape) and the values of its parameters.
struct BoundSelect {
  std::shared_ptr<const KeyedSelect> select;
  std::vector<SqlParameter> parameters;  // values of ?1..?n in select->sql
};
// The text of KeyedSelect::rereadSql.
std::string RereadSql(const KeyedSelect& select);

struct ConnectOptions {
  std::string password;
  bool hasPassword = false;
};
ConnectOptions ParseConnect(const std::string& connect);

// File helpers shared by the core's opening and compaction code.
// An absolute, normalised path (backslashes read as "/"); 3044 when there is none.
std::string AbsolutePath(const std::string& path);
// Removes a database file with its journal, -wal and -shm; missing ones are fine.
void RemoveDatabaseFiles(const std::string& path);
// Flushes a file (or a directory's entries) to disk; false when that fails.
bool SyncFile(const std::string& path, bool directory);
// Stores the salted hash of `password` in MSysInfo (an empty one removes
// it); the caller holds a write transaction.
void StorePassword(Connection& conn, const std::string& password);

class DatabaseCore : public std::enable_shared_from_this<DatabaseCore> {
 public:
  // Creates a new database file (3204 when it exists).
  static std::shared_ptr<DatabaseCore> Create(const std::string& path, const std::string& connect);
  // Opens an existing one: 3024 missing, 3343 not a database, 3031 wrong
  // password, 3045/3356 exclusive conflicts.
  static std::shared_ptr<DatabaseCore> Open(const std::string& path, bool exclusive, bool readOnly,
                                            const std::string& connect);
  // Writes a compacted copy of `src` to `dst` (which must not exist).
  static void Compact(const std::string& src, const std::string& dst, const std::string& dstConnect,
                      const std::string& srcConnect);
  // Compacts `path` in place: the copy is written to `temp` (which must not
  // exist, in the same directory), synced, and renamed over `path` while
  // the file is still held exclusively, then the directory is synced. A
  // crash leaves the old file or the new one, and possibly an unfinished
  // copy, which the next in-place compaction of `path` removes (its name is
  // kept in "<path>-compacting" meanwhile). Refused (3045) while anyone
  // else has the file open; on any failure `path` is unchanged and `temp`
  // is gone.
  static void CompactInPlace(const std::string& path, const std::string& temp,
                             const std::string& connect);

  ~DatabaseCore();

  const std::string& Name() const { return m_name; }
  bool IsOpen() const { return m_conn != nullptr; }
  void Close();
  // 3420 when closed.
  Connection& Conn();
  // The connection of a database known to be open (after CheckOpen).
  Connection& OpenConn() { return *m_conn; }
  // Inline: every recordset read checks it.
  void CheckOpen() const {
    if (!m_conn) [[unlikely]]
      FailClosed();
  }
  [[noreturn]] void FailClosed() const;

  // Schema.
  std::vector<std::string> TableNames();
  std::vector<std::string> QueryNames();
  // The table's description; null when there is no such user table.
  const TableInfo* FindTable(const std::string& name);
  bool IsQuery(const std::string& name);
  std::optional<std::string> QuerySql(const std::string& name);
  void CreateTable(const TableSpec& def);
  void CreateIndex(const std::string& table, const IndexSpec& index);
  // Adds a field to an existing table (not an AutoNumber, not Required).
  void AddColumn(const std::string& table, const FieldSpec& field);
  void DropTable(const std::string& name);
  void DropIndex(const std::string& table, const std::string& index);
  void CreateQuery(const std::string& name, const std::string& jetSql);
  void SetQuerySql(const std::string& name, const std::string& jetSql);
  void DropQuery(const std::string& name);
  // The fields a query yields (name, type, size, attributes).
  std::vector<ColumnInfo> QueryColumns(const std::string& name);

  // Properties (user-defined, persistent).
  std::vector<PropertyRecord> Properties(const ObjectRef& ref);
  void AppendProperty(const ObjectRef& ref, const PropertyRecord& prop);  // 3367 if present
  void SetPropertyValue(const ObjectRef& ref, const std::string& name, const Value& value);
  void DeleteProperty(const ObjectRef& ref, const std::string& name);

  // Transactions (nesting up to 5 levels).
  void BeginTrans();
  void CommitTrans(int options);
  void Rollback();
  int TransactionLevel() const { return m_level; }

  // Runs an action query or DDL statement; answers the rows affected.
  int Execute(const std::string& jetSql);
  std::unique_ptr<RecordsetCore> OpenRecordset(const std::string& jetSql);

  // For recordsets.
  KeyedSelect BuildKeyedSelect(const std::string& jetSql, int syntaxError,
                               bool withParameters = false);
  // The keyed SELECT of a recordset's text. Keyed translations are kept by the
  // text's shape, so that texts differing only in the literals of their WHERE
  // condition (a record by its id) are translated and prepared once.
  BoundSelect SelectForRecordset(const std::string& jetSql);
  std::int32_t AllocateAutoNumber(const std::string& table, const std::string& column);
  // A column's catalog description (null if the table or column is unknown).
  const ColumnInfo* ColumnOf(const std::string& table, const std::string& column);
  std::string DescribeObject(const ObjectRef& ref) const;

  // Runs `fn` as one write: inside the current transaction as a savepoint,
  // else as its own BEGIN IMMEDIATE transaction. Undone if fn throws.
  template <typename Fn>
  void WriteAtomically(const std::string& context, Fn&& fn);
  void WriteColumn(const std::string& table, const FieldSpec& f, int ordinal, bool required,
                   const std::string& ctx);
  void WriteIndex(const std::string& table, const IndexSpec& ix, bool isRowid,
                  const std::string& ctx);

 private:
  // One attempt of Open.
  static std::shared_ptr<DatabaseCore> OpenOnce(const std::string& path, bool exclusive,
                                                bool readOnly, const std::string& connect);

  DatabaseCore(std::unique_ptr<Connection> conn, std::string name, bool exclusive, bool readOnly);
  void Configure();
  void CheckCatalog(const ConnectOptions& options);
  // Converts a format 1 file (Currency scaled by 10,000) to `tag`, in one
  // transaction (FormatUpgrade.cpp).
  void UpgradeFormat1(const char* tag);
  void InvalidateSchema();
  void CreateView(const std::string& name, const std::string& jetSql);
  void CheckNewName(const std::string& name, const char* what);
  void CheckWritable(const std::string& what) const;

  std::unique_ptr<Connection> m_conn;
  std::string m_name;  // absolute file name
  bool m_exclusive = false;
  bool m_readOnly = false;
  int m_level = 0;  // transaction nesting depth
  std::unordered_map<std::string, std::unique_ptr<TableInfo>> m_tables;  // by lower-case name
  // Descriptions forgotten because another connection changed the schema.
  std::vector<std::unique_ptr<TableInfo>> m_retiredTables;
  // Keyed SELECTs by the shape of their text. Depends on the catalog, so it
  // is emptied whenever m_tables is. `fixed` holds the literals (ordinal and
  // text) that a text must repeat to use the entry: those that are not
  // parameters and those whose values the translation depended on.
  struct ShapedSelect {
    std::shared_ptr<const KeyedSelect> select;
    std::vector<std::pair<std::size_t, std::string>> fixed;
  };
  // Least recently used last; at most kMaxShapes entries.
  std::list<std::pair<std::string, ShapedSelect>> m_shapeLru;
  std::unordered_map<std::string_view, decltype(m_shapeLru)::iterator> m_shapes;
  // The last text shaped whose one literal is a decimal integer: a text that
  // differs from it only in those digits (the next record by its id) has
  // its shape, which is then made without cutting the text into tokens.
  struct LastShape {
    std::string text;
    StatementShape shape;
  };
  LastShape m_lastShape;
  bool ShapeLikeLast(const std::string& jetSql, StatementShape* shape) const;
  void RememberShape(const std::string& jetSql, const StatementShape& shape);
  void ForgetCatalog();
  // Forgets the catalog, the shapes and the prepared statements when another
  // connection changed the schema since the last look (cheap otherwise).
  void NoticeSchemaChanges();
  std::uint64_t m_schemaGeneration = 0;  // the connection's, when last looked at
  // AutoNumbers reserved in sqlite_sequence by the open write transaction
  // (which holds the write lock, so no one else allocates meanwhile); the
  // unused rest is given back when it commits and dropped on any rollback.
  struct CounterBlock {
    std::int64_t next = 1;
    std::int64_t last = 0;
    std::string column;            // the rowid column it numbers
    std::int64_t* high = nullptr;  // its entry in m_handedOut (cleared after the block)
  };
  std::unordered_map<std::string, CounterBlock> m_counters;  // by table name
  void ReturnUnusedCounters();
  // The highest AutoNumber handed out while a transaction was open, per
  // counter ((table, column); column "" for a table's rowid counter). A
  // rollback takes the counters back to before those numbers, so after every
  // rollback they are advanced past them again: no number is handed out twice.
  std::map<std::pair<std::string, std::string>, std::int64_t> m_handedOut;
  bool m_advancePending = false;  // a rollback happened; counters not yet advanced
  // After a rollback (outer or of a savepoint): advances the counters past
  // every number handed out. Never throws; should the write fail, the next
  // allocation does it first.
  void KeepAutoNumbersAfterRollback() noexcept;
  void AdvanceCounters();
  // Counters outside the rowid (MSysAutoNumbers) are kept ahead of every
  // value written to their column by triggers, made on first use.
  void EnsureCounterTriggers(const TableInfo& table, const std::string& column);
  std::unordered_set<std::string> m_counterTriggers;  // "table\ncolumn", lower case

 public:
  // The row storage of a closed recordset, kept (empty, with its capacity)
  // for the next one, so that repeated scans neither grow vectors nor fault
  // in fresh pages. At most one set is kept.
  struct RowBuffers {
    std::vector<std::int64_t> keys;
    std::vector<StoredCell> cells;
    std::string arena;
    std::vector<std::uint64_t> epochs;
  };
  RowBuffers TakeRowBuffers();
  void ReturnRowBuffers(RowBuffers&& buffers);

 private:
  RowBuffers m_spareRows;
};

// A write of its own (BEGIN IMMEDIATE ... COMMIT) when `outer`, else a
// savepoint inside the transaction that is already open.
void BeginWrite(Connection& conn, bool outer, const std::string& context);
void EndWrite(Connection& conn, bool outer, bool commit, const std::string& context);

template <typename Fn>
void DatabaseCore::WriteAtomically(const std::string& context, Fn&& fn) {
  Connection& conn = Conn();
  const bool outer = sqlite3_get_autocommit(conn.db()) != 0;
  BeginWrite(conn, outer, context);
  try {
    fn();
  } catch (...) {
    try {
      EndWrite(conn, outer, false, context);
    } catch (...) {
    }
    KeepAutoNumbersAfterRollback();
    throw;
  }
  EndWrite(conn, outer, true, context);
}

}  // namespace dao
