// A dynaset over a SELECT: the keys of its rows are taken when it opens (in
// the query's order); values are served from a cache filled at open for as
// long as the connection's change epoch says nothing can have changed, and
// are otherwise read again by key, so that changes made elsewhere are seen
// and a row deleted elsewhere reads as 3167.
//
// Position model (DAO's): m_bof / m_eof flags; with neither set, m_pos is
// the current row. Rows deleted through the recordset stay in the keyset,
// marked dead (m_live); after Delete, m_pos names the dead row
// (m_deletedCurrent) until the cursor moves. Positions and counts are among
// the live rows.
//
// Edits are optimistic (DAO's rule that no edit overwrites another
// silently): Edit reads the row afresh and keeps the stored values of its
// base columns; Update writes a base row only where it still holds them
// (3197 otherwise, nothing written).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Engine/DatabaseCore.h"
#include "Engine/LiveRows.h"
#include "Engine/Value.h"

namespace dao {

struct FieldDesc {
  ColumnInfo info;           // name as shown, DAO type, size, attributes
  std::string sourceTable;   // base table of the column ("" for expressions)
  std::string sourceColumn;  // its column there
  int column = 0;            // index of the result column in the open statement
  int keyIndex = -1;         // the key that addresses its base row; -1: not updatable
};

// The columns of a keyed select as recordsets show them. Built by the first
// recordset that opens the select and shared (read-only) by the later ones.
struct RecordsetLayout {
  int columnCount = 0;                              // result columns of the open statement
  std::vector<std::string> keyTables;               // base table of each key
  std::vector<FieldDesc> fields;                    // the visible fields
  std::unordered_map<std::string, int> fieldIndex;  // lower-case name -> field
  std::vector<std::u16string> wideNames;  // the fields' names in UTF-16, for lookups by BSTR
  std::vector<std::size_t> firstOf;       // per field: the first field of the same name
  int keyField = -1;                      // the field whose value is the single key, -1 if none
  // Per key: the fields whose stored values an Update compares before it
  // writes that key's base row (one field per base column).
  std::vector<std::vector<std::size_t>> checkedFields;
  bool untyped = false;  // an expression field takes its type from the values
  // Every field is a column of the one base table, each column shown once:
  // after an Edit the row's new values are exactly the values written.
  bool plainColumns = false;
  // Two fields show the same base column (t.* and t.x).
  bool repeatedColumns = false;
  // INSERT and UPDATE texts by the fields they write: {0, fields...} for an
  // INSERT, {k + 1, fields...} for an UPDATE of key k (which writes only
  // where the row still holds the values of checkedFields[k]). A cache of
  // texts made from the fields above, so it may grow on a shared layout.
  mutable std::map<std::vector<std::size_t>, std::string> writeSql;
  // Large values (the Memo and LongBinary columns of the catalog's tables in
  // a keyed select) are read when first asked for, not at open: the texts
  // below stand nullif(typeof(column), 'null') in for them, which SQLite
  // answers from the record header without loading the value's pages (a
  // column stored after a large value still has SQLite walk its pages).
  // Empty when the select has none.
  std::vector<std::uint8_t> large;    // per field: 1 when read on demand
  std::string lazyOpenSql;            // the open text without the large values
  std::string lazyRereadSql;          // one row by its keys, without them
  std::vector<std::string> fetchSql;  // per large field: its value alone, by the row's keys
};

// The kind of a cache cell whose large value is not loaded (not a ValueKind;
// never handed out by Locate).
inline constexpr std::uint32_t kNotLoaded = 0xffffffffu;

enum class FindKind { First, Last, Next, Previous };

// The key of a base row that an outer join left out.
inline constexpr std::int64_t kNullKey = std::numeric_limits<std::int64_t>::min();
inline void BindKey(sqlite3_stmt* s, int index, std::int64_t key) {
  if (key == kNullKey)
    sqlite3_bind_null(s, index);
  else
    sqlite3_bind_int64(s, index, key);
}

// Owns a copy of an SQLite value (sqlite3_value_dup).
struct SqliteValueFree {
  void operator()(sqlite3_value* v) const { sqlite3_value_free(v); }
};
using StoredValue = std::unique_ptr<sqlite3_value, SqliteValueFree>;

class RecordsetCore {
 public:
  RecordsetCore(std::shared_ptr<DatabaseCore> db, std::string jetSql);
  ~RecordsetCore();
  RecordsetCore(const RecordsetCore&) = delete;
  RecordsetCore& operator=(const RecordsetCore&) = delete;

  void Close();
  bool IsOpen() const { return m_open; }
  const std::string& Sql() const { return m_sql; }
  const std::string& Name() const { return m_sql; }
  const std::shared_ptr<DatabaseCore>& Db() const { return m_db; }

  std::size_t FieldCount() const { return m_fieldCount; }
  const FieldDesc& FieldAt(std::size_t i) const { return m_layout->fields[i]; }
  const RecordsetLayout& Layout() const { return *m_layout; }
  int FieldIndex(const std::string& name) const;  // -1 when unknown

  bool IsBOF() const;
  bool IsEOF() const;
  bool NoMatch() const;
  std::int32_t RecordCount() const;
  std::int32_t AbsolutePosition() const;
  void SetAbsolutePosition(std::int32_t position);
  bool Updatable() const { return m_keyed; }
  int EditMode() const { return m_editMode; }

  void MoveFirst();
  void MoveLast();
  void MoveNext();
  void MovePrevious();
  void Find(FindKind kind, const std::string& criteria);

  // The value of a field of the current record (or of the edit buffer);
  // the reference is valid until the next call.
  const Value& GetValue(std::size_t field);
  // Where that value is: a Value (edit buffer, a row added here) or a cell
  // of the cache with its arena; valid until the next call.
  struct ValueRef {
    const Value* value;
    const StoredCell* cell;
    const std::string* arena;
  };
  ValueRef Locate(std::size_t field) {
    CheckOpen();
    // Inline for the usual case: no edit, a cached row already checked since
    // the cursor moved onto it.
    if (m_editMode == 0 && !m_bof && !m_eof && !m_deletedCurrent) {
      const std::size_t row = static_cast<std::size_t>(m_pos);
      if (row < m_cachedRows && (!m_keyed || (m_checkedSinceMove && m_rowEpoch[row] != 0))) {
        const StoredCell* cell = &m_cells[row * m_fieldCount + field];
        if (cell->kind != kNotLoaded) return {nullptr, cell, &m_arena};
      }
    }
    return LocateChecked(field);
  }
  void SetValue(std::size_t field, const Value& value);
  void SetValue(std::size_t field, Value&& value);  // converted where it is

  void AddNew();
  void Edit();
  void Update();
  void CancelUpdate();
  void Delete();
  void Requery();

 private:
  void Load();
  std::shared_ptr<RecordsetLayout> BuildLayout(sqlite3_stmt* st) const;
  // Marks the layout's large fields and makes the texts that leave them out.
  void AddLargeValueTexts(sqlite3_stmt* st, RecordsetLayout& layout) const;
  // The large value of a field of a cached row, read by the row's keys when
  // the slot does not hold it as of the row's epoch; 3167 when the row is gone.
  const Value& LargeValue(std::size_t row, std::size_t field);
  // The INSERT or UPDATE text for `key` ({0, fields} or {k + 1, fields}).
  const std::string& WriteSql(const std::vector<std::size_t>& key) const;
  void ReleaseRows();
  // Drops the bytes of values that re-reads replaced.
  void CompactArena();
  // Inline with their failures out of line: every field read checks both.
  void CheckOpen() const {
    if (!m_open) [[unlikely]]
      FailClosed();
    m_db->CheckOpen();
  }
  void CheckCurrent() const {
    if (m_bof || m_eof || m_deletedCurrent) [[unlikely]]
      FailNoCurrent();
  }
  [[noreturn]] void FailClosed() const;
  [[noreturn]] void FailNoCurrent() const;
  // Rows of the keyset, deleted ones included.
  std::size_t RowCount() const { return m_rowEpoch.size(); }
  StoredCell* RowCells(std::size_t row) { return &m_cells[row * m_fieldCount]; }
  const std::int64_t* KeysOf(std::size_t row) const { return &m_keys[row * m_keyCount]; }
  // Reads a row by its keys into `values`; with `stored`, also keeps the
  // stored values of the updatable fields. With `skipLarge`, the large
  // fields are not read: their values are Null when the stored value is
  // Null, else True (present). False when the row is gone.
  bool Reread(std::size_t row, Value* values, std::vector<StoredValue>* stored = nullptr,
              bool skipLarge = false);
  // Reads a row afresh into the cache (or the scratch row), as of `epoch`;
  // 3167 when it is gone.
  void ReadRow(std::size_t row, std::uint64_t epoch, std::vector<StoredValue>* stored);
  // Binds the select's parameters and the keys of `row` after them.
  void BindReread(sqlite3_stmt* s, std::size_t row) const;
  void UpdateEdited();
  // Why an Update wrote nothing to the base row of key k: 3167 when the row
  // is gone, else 3197 (it changed since Edit).
  [[noreturn]] void FailConflict(std::size_t row, std::size_t k);
  // The rows matching `criteria` (ascending), kept while nothing changed.
  const std::vector<std::size_t>& Matches(const std::string& criteria);
  // The row of a member with these keys (hash lookup), SIZE_MAX if none.
  std::size_t RowOfKeys(const std::int64_t* keys);
  // Locate for every other case: edits, added rows, the first read after a move.
  ValueRef LocateChecked(std::size_t field);
  void DropEdit();
  void Visit(std::size_t row);
  std::string Owner() const;

  std::shared_ptr<DatabaseCore> m_db;
  std::string m_sql;  // the Jet text as given
  bool m_open = false;
  std::shared_ptr<const KeyedSelect> m_select;  // shared with texts of the same shape
  std::vector<SqlParameter> m_parameters;       // values of its parameters
  bool m_keyed = false;
  std::size_t m_keyCount = 0;
  std::shared_ptr<const RecordsetLayout> m_layout;
  std::size_t m_fieldCount = 0;  // m_layout->fields.size()

  // The keyset and the value cache, row by row.
  std::vector<std::int64_t> m_keys;  // m_keyCount per row
  std::vector<StoredCell> m_cells;   // values of the visible fields, row by row,
                                     // for the rows read at open
  std::string m_arena;               // bytes of their texts and binaries
  std::size_t m_arenaLoaded = 0;     // its size after the last open or compaction
  std::size_t m_cachedRows = 0;      // rows that have values in m_cells
  Value m_got;                       // the value GetValue answered last
  std::vector<Value> m_scratch;      // values of one later row (added by AddNew)
  std::size_t m_scratchRow = SIZE_MAX;
  std::uint64_t m_scratchEpoch = 0;
  std::vector<std::uint64_t> m_rowEpoch;  // epoch the values were read at; 0: stale
  // Per field: the large value read last (one row's worth is kept, so that
  // a scan reading a memo of every row holds one memo, not all of them).
  struct LargeSlot {
    std::size_t row = SIZE_MAX;  // SIZE_MAX: empty
    std::uint64_t epoch = 0;     // the row's epoch it was read at
    Value value;
  };
  std::vector<LargeSlot> m_large;

  bool m_bof = true;
  bool m_eof = true;
  std::int64_t m_pos = -1;
  bool m_deletedCurrent = false;
  LiveRows m_live;              // which rows are not deleted
  std::size_t m_populated = 0;  // rows up to the last visited one (DAO's RecordCount)
  bool m_noMatch = false;
  bool m_checkedSinceMove = false;  // other connections' commits were looked for on this row

  int m_editMode = 0;           // 0 none, 1 Edit, 2 AddNew
  std::vector<Value> m_buffer;  // the edited record
  std::vector<bool> m_changed;
  std::vector<StoredValue> m_editStored;  // Edit: the stored values of the updatable fields
  std::string m_deleteSql;                // the DELETE of a row (made by the first Delete)
  std::vector<std::size_t> m_writeKey;    // AddNew's Update: the INSERT's key (see WriteSql)

  // Find: the rows matching the last criteria, while the epoch holds.
  struct MatchSet {
    std::string criteria;     // as given
    std::uint64_t epoch = 0;  // 0: none
    std::size_t rowCount = 0;
    std::vector<std::size_t> rows;
  } m_matches;
  // The members by a hash of their keys (built by the first Find that needs it).
  std::unordered_multimap<std::uint64_t, std::size_t> m_rowOfKey;
};

}  // namespace dao
