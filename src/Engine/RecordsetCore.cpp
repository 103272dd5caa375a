// The dynaset: layout, keyset, value cache, navigation and reads (Find is
// in RecordsetFind.cpp, the edits in RecordsetEdit.cpp).
#include "Engine/RecordsetCore.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "Engine/CatalogText.h"
#include "Platform/Text.h"

namespace dao {

namespace {

constexpr const char* kHiddenPrefix = "__vem_";

}  // namespace

RecordsetCore::RecordsetCore(std::shared_ptr<DatabaseCore> db, std::string jetSql)
    : m_db(std::move(db)), m_sql(std::move(jetSql)) {
  Load();
  m_open = true;
}

RecordsetCore::~RecordsetCore() {
  ReleaseRows();
}

void RecordsetCore::ReleaseRows() {
  DatabaseCore::RowBuffers rows{std::move(m_keys), std::move(m_cells), std::move(m_arena),
                                std::move(m_rowEpoch)};
  m_keys.clear();
  m_cells.clear();
  m_arena.clear();
  m_rowEpoch.clear();
  m_cachedRows = 0;
  m_scratchRow = SIZE_MAX;
  if (m_db) m_db->ReturnRowBuffers(std::move(rows));
}

std::shared_ptr<RecordsetLayout> RecordsetCore::BuildLayout(sqlite3_stmt* st) const {
  auto layout = std::make_shared<RecordsetLayout>();
  const int n = sqlite3_column_count(st);
  layout->columnCount = n;
  for (std::size_t k = 0; k < m_keyCount; ++k) {
    const char* t = sqlite3_column_table_name(st, static_cast<int>(k));
    layout->keyTables.push_back(t ? t : "");
  }
  std::vector<FieldDesc>& fields = layout->fields;
  for (int i = static_cast<int>(m_keyCount); i < n; ++i) {
    const char* name = sqlite3_column_name(st, i);
    std::string colName = name ? name : "";
    if (colName.rfind(kHiddenPrefix, 0) == 0) continue;
    FieldDesc f;
    f.column = i;
    const char* tbl = sqlite3_column_table_name(st, i);
    const char* orig = sqlite3_column_origin_name(st, i);
    const ColumnInfo* ci = nullptr;
    if (tbl && orig) {
      f.sourceTable = tbl;
      f.sourceColumn = orig;
      ci = m_db->ColumnOf(tbl, orig);
    }
    if (ci) {
      f.info = *ci;
    } else {
      f.info.type = TypeFromDecl(sqlite3_column_decltype(st, i));
      f.info.size = DefaultSize(f.info.type);
      f.info.loose = true;  // not described by the catalog
    }
    f.info.name = colName;
    if (m_keyed && ci) {
      int found = -1, matches = 0;
      for (std::size_t k = 0; k < m_keyCount; ++k)
        if (EqualNoCase(layout->keyTables[k], f.sourceTable)) {
          found = static_cast<int>(k);
          ++matches;
        }
      if (matches == 1) {
        f.keyIndex = found;
        f.info.attributes |= dbUpdatableField;
      }
    }
    layout->untyped = layout->untyped || f.info.type == 0;
    fields.push_back(std::move(f));
  }
  // Duplicate names (SELECT * over a join) become "table.column".
  for (std::size_t i = 0; i < fields.size(); ++i) {
    bool dup = false;
    for (std::size_t j = 0; j < fields.size(); ++j)
      dup = dup || (i != j && EqualNoCase(fields[i].info.name, fields[j].info.name));
    if (dup && !fields[i].sourceTable.empty()) {
      std::string bare = Lower(fields[i].info.name);
      if (!layout->fieldIndex.count(bare)) layout->fieldIndex[bare] = static_cast<int>(i);
      fields[i].info.name = fields[i].sourceTable + "." + fields[i].info.name;
    }
  }
  for (std::size_t i = 0; i < fields.size(); ++i)
    layout->fieldIndex[Lower(fields[i].info.name)] = static_cast<int>(i);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    layout->wideNames.push_back(platform::Utf8ToWide(fields[i].info.name));
    std::size_t first = i;
    for (std::size_t j = 0; j < i && first == i; ++j)
      if (EqualNoCase(fields[j].info.name, fields[i].info.name)) first = j;
    layout->firstOf.push_back(first);
  }
  layout->checkedFields.assign(m_keyCount, {});
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].keyIndex < 0) continue;
    auto& checked = layout->checkedFields[static_cast<std::size_t>(fields[i].keyIndex)];
    bool seen = false;
    for (std::size_t j : checked)
      seen = seen || EqualNoCase(fields[j].sourceColumn, fields[i].sourceColumn);
    if (!seen) checked.push_back(i);
  }
  for (std::size_t i = 0; i < fields.size(); ++i)
    for (std::size_t j = i + 1; j < fields.size(); ++j)
      layout->repeatedColumns =
          layout->repeatedColumns || (!fields[i].sourceColumn.empty() &&
                                      EqualNoCase(fields[i].sourceColumn, fields[j].sourceColumn));
  layout->plainColumns = m_keyed && m_keyCount == 1;
  for (std::size_t i = 0; i < fields.size() && layout->plainColumns; ++i) {
    layout->plainColumns = fields[i].keyIndex == 0;
    for (std::size_t j = 0; j < i && layout->plainColumns; ++j)
      layout->plainColumns = !EqualNoCase(fields[i].sourceColumn, fields[j].sourceColumn);
  }
  // A single table whose rowid is one of the fields (its AutoNumber key):
  // the key is taken from that field's value instead of being read twice.
  if (m_keyCount == 1) {
    const char* keyTable = sqlite3_column_table_name(st, 0);
    const char* keyOrigin = sqlite3_column_origin_name(st, 0);
    if (keyTable && keyOrigin && !EqualNoCase(keyOrigin, "rowid"))
      for (std::size_t f = 0; f < fields.size() && layout->keyField < 0; ++f)
        if (fields[f].info.type == dbLong && EqualNoCase(fields[f].sourceTable, keyTable) &&
            EqualNoCase(fields[f].sourceColumn, keyOrigin))
          layout->keyField = static_cast<int>(f);
  }
  if (m_keyed) AddLargeValueTexts(st, *layout);
  return layout;
}

void RecordsetCore::AddLargeValueTexts(sqlite3_stmt* st, RecordsetLayout& layout) const {
  const std::vector<FieldDesc>& fields = layout.fields;
  std::vector<std::uint8_t> largeColumn(static_cast<std::size_t>(layout.columnCount), 0);
  bool any = false;
  for (const FieldDesc& f : fields)
    if (!f.info.loose && (f.info.type == dbMemo || f.info.type == dbLongBinary)) {
      largeColumn[static_cast<std::size_t>(f.column)] = 1;
      any = true;
    }
  if (!any) return;
  // The select list one result column per entry ("*" and "t.*" spelled out
  // as the columns of the tables and queries they stand for), so that a
  // large column can be replaced by the test of its type. The texts are
  // made from the statement itself, not by selecting from it as a
  // subquery: SQLite would run an ordered subquery on its own, loading
  // every value of its rows.
  const SqlStatement& statement = m_select->statement;
  Connection& c = m_db->Conn();
  std::vector<SqlColumn> columns;
  for (const SqlColumn& col : statement.columns) {
    if (!col.star) {
      columns.push_back(col);
      continue;
    }
    for (const SqlTable& t : statement.tables) {
      if (!col.starTable.empty() && !EqualNoCase(col.starTable, t.ref())) continue;
      CachedStmt names =
          c.Prepare("SELECT name FROM pragma_table_info(?1)", "OpenRecordset", m_sql);
      sqlite3_bind_text(names.get(), 1, t.name.c_str(), -1, SQLITE_TRANSIENT);
      while (names.Step())
        columns.push_back(
            {QuoteId(t.ref()) + "." + QuoteId(ColumnText(names.get(), 0)), "", false, {}});
    }
  }
  const std::size_t keys = m_keyCount;
  if (columns.size() + keys != largeColumn.size()) return;
  std::vector<SqlColumn> lazy = columns;
  for (std::size_t i = 0; i < lazy.size(); ++i) {
    if (!largeColumn[i + keys]) continue;
    lazy[i].sql = "nullif(typeof(" + columns[i].sql + "), 'null')";
    const char* name = sqlite3_column_name(st, static_cast<int>(i + keys));
    lazy[i].alias = name ? name : "";
  }
  SqlStatement open = statement;
  open.columns.clear();
  for (std::size_t k = 0; k < keys; ++k)
    open.columns.push_back({m_select->keyExprs[k], kKeyPrefix + std::to_string(k), false, {}});
  open.columns.insert(open.columns.end(), lazy.begin(), lazy.end());
  auto rereadOf = [&](std::vector<SqlColumn> list) {
    KeyedSelect one;
    one.statement = statement;
    one.statement.columns = std::move(list);
    one.keyExprs = m_select->keyExprs;
    one.keyed = true;
    return RereadSql(one);
  };
  const std::string lazyOpen = ComposeSqlSelect(open);
  // The spelled-out list must give the statement's columns, name for name.
  {
    CachedStmt check = c.Prepare(lazyOpen, "OpenRecordset", m_sql);
    if (sqlite3_column_count(check.get()) != layout.columnCount) return;
    for (int i = 0; i < layout.columnCount; ++i) {
      const char* a = sqlite3_column_name(check.get(), i);
      const char* b = sqlite3_column_name(st, i);
      if (!a || !b || std::string_view(a) != std::string_view(b)) return;
    }
  }
  layout.lazyOpenSql = lazyOpen;
  layout.lazyRereadSql = rereadOf(lazy);
  layout.large.assign(fields.size(), 0);
  layout.fetchSql.assign(fields.size(), std::string());
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const auto column = static_cast<std::size_t>(fields[f].column);
    if (!largeColumn[column]) continue;
    layout.large[f] = 1;
    SqlColumn one = columns[column - keys];
    one.alias = fields[f].info.name;
    layout.fetchSql[f] = rereadOf({one});
  }
}

void RecordsetCore::Load() {
  BoundSelect bound = m_db->SelectForRecordset(m_sql);
  m_select = std::move(bound.select);
  m_parameters = std::move(bound.parameters);
  m_keyed = m_select->keyed;
  m_keyCount = m_select->keyExprs.size();
  Connection& c = m_db->Conn();
  std::uint64_t epoch = c.ChangeEpoch();
  CachedStmt s = c.Prepare(m_select->sql, "OpenRecordset", m_sql);
  sqlite3_stmt* st = s.get();
  BindParameters(st, m_parameters);
  // Every recordset of the select shares the layout of its columns; it is
  // built again should the statement's columns have changed under it.
  if (!m_select->layout || m_select->layout->columnCount != sqlite3_column_count(st))
    m_select->layout = BuildLayout(st);
  m_layout = m_select->layout;
  m_fieldCount = m_layout->fields.size();
  // Large values are left out of the open (read when first asked for).
  const std::vector<std::uint8_t>& large = m_layout->large;
  if (!m_layout->lazyOpenSql.empty()) {
    s = c.Prepare(m_layout->lazyOpenSql, "OpenRecordset", m_sql);
    st = s.get();
    BindParameters(st, m_parameters);
  }

  ReleaseRows();
  DatabaseCore::RowBuffers spare = m_db->TakeRowBuffers();
  m_keys = std::move(spare.keys);
  m_cells = std::move(spare.cells);
  m_arena = std::move(spare.arena);
  m_rowEpoch = std::move(spare.epochs);
  const std::size_t nf = m_fieldCount;
  const std::vector<FieldDesc>& fields = m_layout->fields;
  const int keyField = m_layout->keyField;
  while (s.Step()) {
    const std::size_t first = m_cells.size();
    for (std::size_t f = 0; f < nf; ++f) {
      if (!large.empty() && large[f]) {
        StoredCell cell;
        if (sqlite3_column_type(st, fields[f].column) != SQLITE_NULL) cell.kind = kNotLoaded;
        m_cells.push_back(cell);
        continue;
      }
      m_cells.push_back(
          ReadCell(st, fields[f].column, fields[f].info.type, m_arena, fields[f].info.loose));
    }
    if (keyField >= 0 && m_cells[first + static_cast<std::size_t>(keyField)].kind ==
                             static_cast<std::uint32_t>(ValueKind::Long)) {
      m_keys.push_back(m_cells[first + static_cast<std::size_t>(keyField)].i);
    } else {
      for (std::size_t k = 0; k < m_keyCount; ++k) {
        int ki = static_cast<int>(k);
        m_keys.push_back(sqlite3_column_type(st, ki) == SQLITE_NULL ? kNullKey
                                                                    : sqlite3_column_int64(st, ki));
      }
    }
    m_rowEpoch.push_back(epoch);
  }
  // Expressions: report the type of their first value (in a layout of this
  // recordset's own, since the values differ from one open to the next).
  if (m_layout->untyped) {
    auto own = std::make_shared<RecordsetLayout>(*m_layout);
    own->writeSql.clear();
    for (std::size_t f = 0; f < nf; ++f) {
      if (own->fields[f].info.type != 0) continue;
      int type = dbText;
      for (std::size_t r = 0; r < RowCount(); ++r)
        if (m_cells[r * nf + f].kind != 0) {
          type = InferType(DecodeCell(m_cells[r * nf + f], m_arena));
          break;
        }
      own->fields[f].info.type = type;
      own->fields[f].info.size = DefaultSize(type);
    }
    m_layout = std::move(own);
  }
  m_cachedRows = RowCount();
  m_large.assign(m_layout->large.empty() ? 0 : m_fieldCount, LargeSlot{});
  m_live.Reset(RowCount());
  m_deleteSql.clear();
  m_matches = MatchSet{};
  m_rowOfKey.clear();
  m_arenaLoaded = m_arena.size();
  m_scratchRow = SIZE_MAX;
  m_checkedSinceMove = false;
  m_deletedCurrent = false;
  m_noMatch = false;
  m_editMode = 0;
  if (RowCount() == 0) {
    m_bof = m_eof = true;
    m_pos = -1;
    m_populated = 0;
  } else {
    m_bof = m_eof = false;
    m_pos = 0;
    m_populated = 1;
  }
}

std::string RecordsetCore::Owner() const {
  if (m_layout->keyTables.size() == 1 && !m_layout->keyTables[0].empty())
    return m_layout->keyTables[0];
  return "recordset '" + m_sql + "'";
}

void RecordsetCore::FailClosed() const {
  Fail(kErrObjectInvalid, "Recordset '" + m_sql + "' is closed.");
}

void RecordsetCore::FailNoCurrent() const {
  if (m_bof || m_eof) Fail(kErrNoCurrentRecord, "No current record in recordset '" + m_sql + "'.");
  Fail(kErrRecordDeleted,
       "Record is deleted: the current record of recordset '" + m_sql + "' was deleted.");
}

void RecordsetCore::Close() {
  m_open = false;
  DropEdit();
  ReleaseRows();
  m_large.clear();
  m_live.Reset(0);
  m_matches = MatchSet{};
  m_rowOfKey.clear();
}

int RecordsetCore::FieldIndex(const std::string& name) const {
  auto it = m_layout->fieldIndex.find(Lower(name));
  if (it != m_layout->fieldIndex.end()) return it->second;
  // "table.column" or "[table].[column]" for a field shown under its bare name.
  std::string n = name;
  n.erase(std::remove(n.begin(), n.end(), '['), n.end());
  n.erase(std::remove(n.begin(), n.end(), ']'), n.end());
  auto dot = n.rfind('.');
  if (dot != std::string::npos) {
    std::string table = n.substr(0, dot), col = n.substr(dot + 1);
    for (std::size_t i = 0; i < m_fieldCount; ++i)
      if (EqualNoCase(m_layout->fields[i].sourceTable, table) &&
          EqualNoCase(m_layout->fields[i].sourceColumn, col))
        return static_cast<int>(i);
  }
  if (n != name) {
    it = m_layout->fieldIndex.find(Lower(n));
    if (it != m_layout->fieldIndex.end()) return it->second;
  }
  return -1;
}

bool RecordsetCore::IsBOF() const {
  CheckOpen();
  return m_bof;
}

bool RecordsetCore::IsEOF() const {
  CheckOpen();
  return m_eof;
}

bool RecordsetCore::NoMatch() const {
  CheckOpen();
  return m_noMatch;
}

std::int32_t RecordsetCore::RecordCount() const {
  CheckOpen();
  return static_cast<std::int32_t>(m_live.LiveBefore(std::min(m_populated, RowCount())));
}

std::int32_t RecordsetCore::AbsolutePosition() const {
  CheckOpen();
  if (m_bof || m_eof) return -1;
  if (m_deletedCurrent)
    Fail(kErrRecordDeleted,
         "Record is deleted: the current record of recordset '" + m_sql + "' has no position.");
  return static_cast<std::int32_t>(m_live.LiveBefore(static_cast<std::size_t>(m_pos)));
}

void RecordsetCore::Visit(std::size_t row) {
  m_checkedSinceMove = false;
  m_pos = static_cast<std::int64_t>(row);
  m_bof = m_eof = false;
  m_deletedCurrent = false;
  m_populated = std::max(m_populated, row + 1);
}

void RecordsetCore::DropEdit() {
  m_editMode = 0;
  m_buffer.clear();
  m_changed.clear();
  m_editStored.clear();
}

void RecordsetCore::SetAbsolutePosition(std::int32_t position) {
  CheckOpen();
  DropEdit();
  if (position < 0 || static_cast<std::size_t>(position) >= m_live.Live())
    Fail(kErrInvalidArgument, "Invalid argument: AbsolutePosition " + std::to_string(position) +
                                  " is outside recordset '" + m_sql + "', which has " +
                                  std::to_string(m_live.Live()) + " records.");
  Visit(m_live.Nth(static_cast<std::size_t>(position)));
}

void RecordsetCore::MoveFirst() {
  CheckOpen();
  DropEdit();
  if (m_live.Live() == 0)
    Fail(kErrNoCurrentRecord, "No current record: recordset '" + m_sql + "' is empty.");
  Visit(m_live.NextLive(0));
}

void RecordsetCore::MoveLast() {
  CheckOpen();
  DropEdit();
  if (m_live.Live() == 0)
    Fail(kErrNoCurrentRecord, "No current record: recordset '" + m_sql + "' is empty.");
  Visit(static_cast<std::size_t>(m_live.PreviousLive(static_cast<std::int64_t>(RowCount()) - 1)));
  m_populated = RowCount();
}

void RecordsetCore::MoveNext() {
  CheckOpen();
  DropEdit();
  if (m_eof)
    Fail(kErrNoCurrentRecord,
         "No current record: recordset '" + m_sql + "' is already at its end (EOF).");
  std::size_t next = m_live.NextLive(m_bof ? 0 : static_cast<std::size_t>(m_pos + 1));
  if (next >= RowCount()) {
    m_eof = true;
    m_bof = m_live.Live() == 0;
    m_pos = static_cast<std::int64_t>(RowCount());
    m_deletedCurrent = false;
    return;
  }
  Visit(next);
}

void RecordsetCore::MovePrevious() {
  CheckOpen();
  DropEdit();
  if (m_bof)
    Fail(kErrNoCurrentRecord,
         "No current record: recordset '" + m_sql + "' is already at its start (BOF).");
  std::int64_t prev =
      m_live.PreviousLive(m_eof ? static_cast<std::int64_t>(RowCount()) - 1 : m_pos - 1);
  if (prev < 0) {
    m_bof = true;
    m_eof = m_live.Live() == 0;
    m_pos = -1;
    m_deletedCurrent = false;
    return;
  }
  Visit(static_cast<std::size_t>(prev));
}

void RecordsetCore::CompactArena() {
  std::string fresh;
  fresh.reserve(m_arenaLoaded);
  for (StoredCell& c : m_cells) {
    auto kind = static_cast<ValueKind>(c.kind);
    if (kind != ValueKind::Text && kind != ValueKind::Binary) continue;
    const std::uint64_t offset = fresh.size();
    fresh.append(m_arena, c.offset, c.size);
    c.offset = offset;
  }
  m_arena = std::move(fresh);
  m_arenaLoaded = m_arena.size();
}

void RecordsetCore::BindReread(sqlite3_stmt* s, std::size_t row) const {
  // The select's own parameters (literals of its WHERE, of subqueries in its
  // select list and ON conditions) come first; the keys follow them.
  BindParameters(s, m_parameters);
  const int first = static_cast<int>(m_parameters.size()) + 1;
  for (std::size_t k = 0; k < m_keyCount; ++k)
    BindKey(s, first + static_cast<int>(k), KeysOf(row)[k]);
}

bool RecordsetCore::Reread(std::size_t row, Value* values, std::vector<StoredValue>* stored,
                           bool skipLarge) {
  Connection& c = m_db->Conn();
  CachedStmt s = c.Prepare(skipLarge ? m_layout->lazyRereadSql : m_select->rereadSql,
                           "Reading a record of recordset", m_sql);
  BindReread(s.get(), row);
  if (!s.Step()) return false;
  const int offset = static_cast<int>(m_keyCount);
  if (stored) {
    // Copied before the values are read: reading converts them in place.
    stored->clear();
    stored->resize(m_fieldCount);
    for (std::size_t f = 0; f < m_fieldCount; ++f) {
      if (m_layout->fields[f].keyIndex < 0) continue;
      (*stored)[f].reset(
          sqlite3_value_dup(sqlite3_column_value(s.get(), m_layout->fields[f].column - offset)));
      if (!(*stored)[f]) throw std::bad_alloc();
    }
  }
  for (std::size_t f = 0; f < m_fieldCount; ++f) {
    const int column = m_layout->fields[f].column - offset;
    if (skipLarge && m_layout->large[f]) {
      values[f] = Value{};
      if (sqlite3_column_type(s.get(), column) != SQLITE_NULL) values[f] = true;
      continue;
    }
    values[f] =
        ReadColumn(s.get(), column, m_layout->fields[f].info.type, m_layout->fields[f].info.loose);
  }
  return true;
}

void RecordsetCore::ReadRow(std::size_t row, std::uint64_t epoch,
                            std::vector<StoredValue>* stored) {
  m_scratch.resize(m_fieldCount);
  m_scratchRow = SIZE_MAX;
  const bool cached = row < m_cachedRows;
  if (cached) m_rowEpoch[row] = 0;  // until read again
  // A cached row is read again without its large values, unless Edit needs
  // their stored values (then they are kept in the large slots).
  const bool skipLarge = cached && !stored && !m_layout->large.empty();
  if (!Reread(row, m_scratch.data(), stored, skipLarge))
    Fail(kErrRecordDeleted, "Record is deleted: record " + std::to_string(row) + " of recordset '" +
                                m_sql + "' was deleted by another user or recordset.");
  if (!cached) {
    // A row added through this recordset lives in the scratch row.
    m_scratchRow = row;
    m_scratchEpoch = epoch;
    return;
  }
  // The new values replace the cached ones (in place when they fit; old
  // bytes that did not are dropped by the next compaction).
  StoredCell* cells = RowCells(row);
  for (std::size_t f = 0; f < m_fieldCount; ++f) {
    if (m_layout->large.empty() || !m_layout->large[f]) {
      ReplaceCell(cells[f], m_scratch[f], m_arena);
      continue;
    }
    cells[f] = StoredCell{};
    if (!IsNull(m_scratch[f])) cells[f].kind = kNotLoaded;
    LargeSlot& slot = m_large[f];
    if (skipLarge) {
      if (slot.row == row) slot.row = SIZE_MAX;
    } else {
      slot.row = row;
      slot.epoch = epoch;
      slot.value = std::move(m_scratch[f]);
    }
  }
  m_rowEpoch[row] = epoch;
  if (m_arena.size() > 4 * std::max<std::size_t>(m_arenaLoaded, 1u << 20)) CompactArena();
}

const Value& RecordsetCore::GetValue(std::size_t field) {
  ValueRef r = Locate(field);
  if (r.value) return *r.value;
  m_got = DecodeCell(*r.cell, *r.arena);
  return m_got;
}

RecordsetCore::ValueRef RecordsetCore::LocateChecked(std::size_t field) {
  CheckOpen();
  if (m_editMode == 2) return {&m_buffer[field], nullptr, nullptr};
  if (m_editMode == 1 && m_changed[field]) return {&m_buffer[field], nullptr, nullptr};
  CheckCurrent();
  std::size_t row = static_cast<std::size_t>(m_pos);
  if (m_keyed && row >= m_cachedRows) {
    // A row added through this recordset: read by key into the scratch row.
    std::uint64_t epoch = m_db->OpenConn().ChangeEpoch();
    if (m_scratchRow != row || m_scratchEpoch != epoch) ReadRow(row, epoch, nullptr);
    return {&m_scratch[field], nullptr, nullptr};
  }
  if (m_keyed && (!m_checkedSinceMove || m_rowEpoch[row] == 0)) {
    // Values are read when the cursor moves onto a row (DAO's rule): the
    // first read after a move looks whether anything changed since the row
    // was cached (a commit elsewhere, a change through this connection), and
    // an Update through this recordset marks its row for reading again.
    std::uint64_t epoch = m_db->OpenConn().ChangeEpoch();
    m_checkedSinceMove = true;
    if (m_rowEpoch[row] != epoch) ReadRow(row, epoch, nullptr);
  }
  const StoredCell& cell = RowCells(row)[field];
  if (cell.kind == kNotLoaded) return {&LargeValue(row, field), nullptr, nullptr};
  return {nullptr, &cell, &m_arena};
}

const Value& RecordsetCore::LargeValue(std::size_t row, std::size_t field) {
  LargeSlot& slot = m_large[field];
  if (slot.row == row && slot.epoch == m_rowEpoch[row]) return slot.value;
  slot.row = SIZE_MAX;
  const FieldDesc& f = m_layout->fields[field];
  CachedStmt s =
      m_db->Conn().Prepare(m_layout->fetchSql[field], "Reading a field of recordset", m_sql);
  BindReread(s.get(), row);
  if (!s.Step())
    Fail(kErrRecordDeleted, "Record is deleted: record " + std::to_string(row) + " of recordset '" +
                                m_sql + "' was deleted by another user or recordset (reading '" +
                                f.info.name + "').");
  slot.value = ReadColumn(s.get(), 0, f.info.type, f.info.loose);
  slot.row = row;
  slot.epoch = m_rowEpoch[row];
  return slot.value;
}

void RecordsetCore::Requery() {
  CheckOpen();
  DropEdit();
  Load();
}

}  // namespace dao
