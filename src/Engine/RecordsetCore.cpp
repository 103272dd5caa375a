// The dynaset: keyset, value cache, navigation, Find and edits.
#include "Engine/RecordsetCore.h"

#include <algorithm>
#include <limits>
#include <set>
#include <unordered_set>

#include "Engine/CatalogText.h"
#include "Platform/Text.h"

namespace dao {

namespace {

constexpr std::int64_t kNullKey = std::numeric_limits<std::int64_t>::min();
constexpr const char* kHiddenPrefix = "__vem_";

void BindKey(sqlite3_stmt* s, int index, std::int64_t key) {
  if (key == kNullKey)
    sqlite3_bind_null(s, index);
  else
    sqlite3_bind_int64(s, index, key);
}

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
  return layout;
}

void RecordsetCore::Load() {
  BoundSelect bound = m_db->SelectForRecordset(m_sql);
  m_select = std::move(bound.select);
  m_parameters = std::move(bound.parameters);
  m_keyed = m_select->keyed;
  m_keyCount = m_select->keyExprs.size();
  Connection& c = m_db->Conn();
  std::string ctx = "OpenRecordset '" + m_sql + "'";
  std::uint64_t epoch = c.ChangeEpoch();
  CachedStmt s = c.Prepare(m_select->sql, ctx);
  sqlite3_stmt* st = s.get();
  BindParameters(st, m_parameters);
  // Every recordset of the select shares the layout of its columns; it is
  // built again should the statement's columns have changed under it.
  if (!m_select->layout || m_select->layout->columnCount != sqlite3_column_count(st))
    m_select->layout = BuildLayout(st);
  m_layout = m_select->layout;
  m_fieldCount = m_layout->fields.size();

  ReleaseRows();
  DatabaseCore::RowBuffers spare = m_db->TakeRowBuffers();
  m_keys = std::move(spare.keys);
  m_cells = std::move(spare.cells);
  m_arena = std::move(spare.arena);
  m_rowEpoch = std::move(spare.epochs);
  const std::size_t nf = m_fieldCount;
  const std::vector<FieldDesc>& fields = m_layout->fields;
  const int keyField = m_layout->keyField;
  while (s.Step(ctx)) {
    const std::size_t first = m_cells.size();
    for (std::size_t f = 0; f < nf; ++f)
      m_cells.push_back(
          ReadCell(st, fields[f].column, fields[f].info.type, m_arena, fields[f].info.loose));
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
  m_editMode = 0;
  ReleaseRows();
  m_buffer.clear();
  m_changed.clear();
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
  return static_cast<std::int32_t>(std::min(m_populated, RowCount()));
}

std::int32_t RecordsetCore::AbsolutePosition() const {
  CheckOpen();
  if (m_bof || m_eof) return -1;
  if (m_deletedCurrent)
    Fail(kErrRecordDeleted,
         "Record is deleted: the current record of recordset '" + m_sql + "' has no position.");
  return static_cast<std::int32_t>(m_pos);
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
}

void RecordsetCore::SetAbsolutePosition(std::int32_t position) {
  CheckOpen();
  DropEdit();
  if (position < 0 || static_cast<std::size_t>(position) >= RowCount())
    Fail(kErrInvalidArgument, "Invalid argument: AbsolutePosition " + std::to_string(position) +
                                  " is outside recordset '" + m_sql + "', which has " +
                                  std::to_string(RowCount()) + " records.");
  Visit(static_cast<std::size_t>(position));
}

void RecordsetCore::MoveFirst() {
  CheckOpen();
  DropEdit();
  if (RowCount() == 0)
    Fail(kErrNoCurrentRecord, "No current record: recordset '" + m_sql + "' is empty.");
  Visit(0);
}

void RecordsetCore::MoveLast() {
  CheckOpen();
  DropEdit();
  if (RowCount() == 0)
    Fail(kErrNoCurrentRecord, "No current record: recordset '" + m_sql + "' is empty.");
  Visit(RowCount() - 1);
  m_populated = RowCount();
}

void RecordsetCore::MoveNext() {
  CheckOpen();
  DropEdit();
  if (m_eof)
    Fail(kErrNoCurrentRecord,
         "No current record: recordset '" + m_sql + "' is already at its end (EOF).");
  std::size_t next = m_bof ? 0 : static_cast<std::size_t>(m_deletedCurrent ? m_pos : m_pos + 1);
  if (next >= RowCount()) {
    m_eof = true;
    m_bof = RowCount() == 0;
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
  std::int64_t prev = m_eof ? static_cast<std::int64_t>(RowCount()) - 1 : m_pos - 1;
  if (prev < 0) {
    m_bof = true;
    m_eof = RowCount() == 0;
    m_pos = -1;
    m_deletedCurrent = false;
    return;
  }
  Visit(static_cast<std::size_t>(prev));
}

void RecordsetCore::Find(FindKind kind, const std::string& criteria) {
  CheckOpen();
  DropEdit();
  std::string crit = TranslateJetCriteria(criteria);
  const std::size_t count = RowCount();
  Connection& c = m_db->Conn();
  std::string ctx = "Find '" + criteria + "' in recordset '" + m_sql + "'";
  std::unordered_set<std::int64_t> single;
  std::set<std::vector<std::int64_t>> multi;
  std::vector<bool> flags;
  try {
    if (m_keyed) {
      std::string cols;
      for (std::size_t k = 0; k < m_keyCount; ++k)
        cols += (k ? ", " : "") + QuoteId("__vem_k" + std::to_string(k));
      CachedStmt s =
          c.Prepare("SELECT " + cols + " FROM (" + m_select->sql + ") WHERE (" + crit + ")", ctx);
      BindParameters(s.get(), m_parameters);
      while (s.Step(ctx)) {
        if (m_keyCount == 1) {
          single.insert(sqlite3_column_type(s.get(), 0) == SQLITE_NULL
                            ? kNullKey
                            : sqlite3_column_int64(s.get(), 0));
        } else {
          std::vector<std::int64_t> key;
          for (std::size_t k = 0; k < m_keyCount; ++k) {
            int ki = static_cast<int>(k);
            key.push_back(sqlite3_column_type(s.get(), ki) == SQLITE_NULL
                              ? kNullKey
                              : sqlite3_column_int64(s.get(), ki));
          }
          multi.insert(std::move(key));
        }
      }
    } else {
      CachedStmt s = c.Prepare("SELECT (" + crit + ") FROM (" + m_select->sql + ")", ctx);
      BindParameters(s.get(), m_parameters);
      while (s.Step(ctx)) flags.push_back(sqlite3_column_int(s.get(), 0) != 0);
    }
  } catch (const EngineError& e) {
    if (e.number() == kErrQuerySyntax)
      Fail(kErrFindSyntax, "Syntax error in expression '" + criteria + "' (" + e.what() + ")");
    throw;
  }
  auto matches = [&](std::size_t row) {
    if (!m_keyed) return row < flags.size() && flags[row];
    if (m_keyCount == 1) return single.count(m_keys[row]) > 0;
    std::vector<std::int64_t> key(KeysOf(row), KeysOf(row) + m_keyCount);
    return multi.count(key) > 0;
  };
  std::int64_t start = 0, step = 1;
  switch (kind) {
    case FindKind::First:
      start = 0;
      break;
    case FindKind::Last:
      start = static_cast<std::int64_t>(count) - 1;
      step = -1;
      break;
    case FindKind::Next:
      start = m_bof   ? 0
              : m_eof ? static_cast<std::int64_t>(count)
                      : (m_deletedCurrent ? m_pos : m_pos + 1);
      break;
    case FindKind::Previous:
      start = m_eof ? static_cast<std::int64_t>(count) - 1 : m_bof ? -1 : m_pos - 1;
      step = -1;
      break;
  }
  for (std::int64_t i = start; i >= 0 && i < static_cast<std::int64_t>(count); i += step) {
    if (matches(static_cast<std::size_t>(i))) {
      Visit(static_cast<std::size_t>(i));
      if (kind == FindKind::Last) m_populated = count;
      m_noMatch = false;
      return;
    }
  }
  m_noMatch = true;  // the position stays where it was
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

bool RecordsetCore::Reread(std::size_t row, Value* values) {
  Connection& c = m_db->Conn();
  CachedStmt s = c.Prepare(m_select->rereadSql, "Reading a record of recordset", m_sql);
  for (std::size_t k = 0; k < m_keyCount; ++k)
    BindKey(s.get(), static_cast<int>(k + 1), KeysOf(row)[k]);
  if (!s.Step()) return false;
  for (std::size_t f = 0; f < m_fieldCount; ++f)
    values[f] = ReadColumn(s.get(), m_layout->fields[f].column - static_cast<int>(m_keyCount),
                           m_layout->fields[f].info.type, m_layout->fields[f].info.loose);
  return true;
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
    if (m_scratchRow != row || m_scratchEpoch != epoch) {
      m_scratch.resize(m_fieldCount);
      m_scratchRow = SIZE_MAX;
      if (!Reread(row, m_scratch.data()))
        Fail(kErrRecordDeleted, "Record is deleted: record " + std::to_string(row) +
                                    " of recordset '" + m_sql +
                                    "' was deleted by another user or recordset.");
      m_scratchRow = row;
      m_scratchEpoch = epoch;
    }
    return {&m_scratch[field], nullptr, nullptr};
  }
  if (m_keyed && (!m_checkedSinceMove || m_rowEpoch[row] == 0)) {
    // Values are read when the cursor moves onto a row (DAO's rule): the
    // first read after a move looks whether anything changed since the row
    // was cached (a commit elsewhere, a change through this connection), and
    // an Update through this recordset marks its row for reading again.
    std::uint64_t epoch = m_db->OpenConn().ChangeEpoch();
    m_checkedSinceMove = true;
    if (m_rowEpoch[row] != epoch) {
      m_scratch.resize(m_fieldCount);
      m_rowEpoch[row] = 0;  // until read again
      if (!Reread(row, m_scratch.data()))
        Fail(kErrRecordDeleted, "Record is deleted: record " + std::to_string(row) +
                                    " of recordset '" + m_sql +
                                    "' was deleted by another user or recordset.");
      // The new values replace the cached ones (in place when they fit; old
      // bytes that did not are dropped by the next compaction).
      m_scratchRow = SIZE_MAX;
      StoredCell* cells = RowCells(row);
      for (std::size_t f = 0; f < m_fieldCount; ++f) ReplaceCell(cells[f], m_scratch[f], m_arena);
      m_rowEpoch[row] = epoch;
      if (m_arena.size() > 4 * std::max<std::size_t>(m_arenaLoaded, 1u << 20)) CompactArena();
    }
  }
  return {nullptr, &RowCells(row)[field], &m_arena};
}

void RecordsetCore::SetValue(std::size_t field, const Value& value) {
  CheckOpen();
  const FieldDesc& f = m_layout->fields[field];
  if (m_editMode == 0)
    Fail(kErrUpdateWithoutEdit,
         "Cannot set field '" + f.info.name + "' of recordset '" + m_sql +
             "': the record is not being edited (call AddNew or Edit first).");
  if (f.keyIndex < 0)
    Fail(kErrFieldNotUpdatable,
         "Field '" + f.info.name + "' of recordset '" + m_sql +
             "' cannot be updated: it is not a column of one base table row.");
  if (m_editMode == 2 && f.keyIndex != 0)
    Fail(kErrFieldNotUpdatable,
         "Field '" + f.info.name + "' cannot be set on a new record of recordset '" + m_sql + "'.");
  if (f.info.attributes & dbAutoIncrField)
    Fail(kErrFieldNotUpdatable, "Field '" + f.info.name + "' of '" + f.sourceTable +
                                    "' is an AutoNumber and cannot be changed.");
  m_buffer[field] = ConvertForField(value, f.info, f.sourceTable);
  m_changed[field] = true;
}

void RecordsetCore::Edit() {
  CheckOpen();
  if (!m_keyed)
    Fail(kErrReadOnly, "Cannot update: recordset '" + m_sql +
                           "' is read-only (it has no base table rows to write to).");
  DropEdit();
  CheckCurrent();
  // Reading the row checks that it still exists (3167 otherwise). Fields
  // keep being read from the row until they are changed: only changed
  // fields take their values from the buffer and are written by Update.
  if (m_fieldCount > 0) Locate(0);
  m_buffer.assign(m_fieldCount, Value{});
  m_changed.assign(m_fieldCount, false);
  m_editMode = 1;
}

void RecordsetCore::AddNew() {
  CheckOpen();
  if (!m_keyed)
    Fail(kErrReadOnly, "Cannot add a record: recordset '" + m_sql +
                           "' is read-only (it has no base table rows to write to).");
  if (m_keyCount != 1 || m_layout->keyTables[0].empty())
    Fail(kErrNotSupported,
         "Cannot add a record to recordset '" + m_sql + "': it joins several tables.");
  DropEdit();
  m_buffer.assign(m_fieldCount, Value{});
  m_changed.assign(m_fieldCount, false);
  m_editMode = 2;
  // AutoNumbers are assigned now, so that they can be read before Update.
  try {
    for (std::size_t i = 0; i < m_fieldCount; ++i) {
      const FieldDesc& f = m_layout->fields[i];
      if (f.keyIndex != 0 || !(f.info.attributes & dbAutoIncrField)) continue;
      bool done = false;
      for (std::size_t j = 0; j < i; ++j)
        if (m_changed[j] && EqualNoCase(m_layout->fields[j].sourceColumn, f.sourceColumn)) {
          m_buffer[i] = m_buffer[j];
          done = true;
        }
      if (!done) m_buffer[i] = m_db->AllocateAutoNumber(f.sourceTable, f.sourceColumn);
      m_changed[i] = true;
    }
  } catch (...) {
    DropEdit();
    throw;
  }
}

void RecordsetCore::Update() {
  CheckOpen();
  if (m_editMode == 0)
    Fail(kErrUpdateWithoutEdit, "Update without AddNew or Edit on recordset '" + m_sql + "'.");
  Connection& c = m_db->Conn();
  if (m_editMode == 2) {
    std::vector<std::size_t> cols;
    cols.reserve(m_fieldCount);
    for (std::size_t i = 0; i < m_fieldCount; ++i) {
      if (!m_changed[i]) continue;
      bool later = false;  // the same column twice (t.* and t.x): the last write wins
      for (std::size_t j = i + 1; j < m_fieldCount; ++j)
        later = later || (m_changed[j] && EqualNoCase(m_layout->fields[j].sourceColumn,
                                                      m_layout->fields[i].sourceColumn));
      if (!later) cols.push_back(i);
    }
    {
      std::vector<std::size_t> key;
      key.reserve(cols.size() + 1);
      key.push_back(0);
      key.insert(key.end(), cols.begin(), cols.end());
      CachedStmt s = c.Prepare(WriteSql(std::move(key)), "Update (AddNew) of recordset", m_sql);
      for (std::size_t k = 0; k < cols.size(); ++k)
        BindValue(s.get(), static_cast<int>(k + 1), m_buffer[cols[k]]);
      s.Step();
    }
    std::int64_t rowid = sqlite3_last_insert_rowid(c.db());
    bool wasFull = m_populated >= RowCount();
    bool wasEmpty = m_bof && m_eof;
    m_keys.push_back(rowid);

    m_rowEpoch.push_back(0);
    if (wasFull) m_populated = RowCount();
    if (wasEmpty) {
      m_bof = false;  // DAO: BOF clears, EOF stays set
      m_pos = static_cast<std::int64_t>(RowCount());
    }
    DropEdit();
    return;
  }
  // Edit: each changed column goes back to its own base row.
  CheckCurrent();
  std::size_t row = static_cast<std::size_t>(m_pos);
  std::vector<std::vector<std::size_t>> byKey(m_keyCount);
  for (std::size_t i = 0; i < m_fieldCount; ++i)
    if (m_changed[i]) byKey[static_cast<std::size_t>(m_layout->fields[i].keyIndex)].push_back(i);
  auto run = [&] {
    for (std::size_t k = 0; k < m_keyCount; ++k) {
      const auto& cols = byKey[k];
      if (cols.empty()) continue;
      std::vector<std::size_t> key;
      key.reserve(cols.size() + 1);
      key.push_back(k + 1);
      key.insert(key.end(), cols.begin(), cols.end());
      CachedStmt s = c.Prepare(WriteSql(std::move(key)), "Update of recordset", m_sql);
      for (std::size_t j = 0; j < cols.size(); ++j)
        BindValue(s.get(), static_cast<int>(j + 1), m_buffer[cols[j]]);
      BindKey(s.get(), static_cast<int>(cols.size() + 1), KeysOf(row)[k]);
      s.Step();
      if (sqlite3_changes(c.db()) == 0)
        Fail(kErrRecordDeleted, "Record is deleted: the record of '" + m_layout->keyTables[k] +
                                    "' being edited in recordset '" + m_sql +
                                    "' no longer exists.");
    }
  };
  std::size_t groups = 0;
  for (const auto& g : byKey) groups += g.empty() ? 0 : 1;
  // A cached row that was current up to this Update stays current when
  // nothing but the Update itself changed the database meanwhile: its new
  // values are the ones just written. Otherwise it is read again.
  const std::uint64_t before = c.ChangeEpoch();
  const bool wasCurrent = m_layout->plainColumns && row < m_cachedRows && m_rowEpoch[row] == before;
  m_rowEpoch[row] = 0;
  if (groups > 1)
    m_db->WriteAtomically("Update of recordset '" + m_sql + "'", run);
  else
    run();
  const std::uint64_t after = c.ChangeEpoch();
  if (wasCurrent && after == before + 1) {
    StoredCell* cells = RowCells(row);
    for (std::size_t i = 0; i < m_fieldCount; ++i)
      if (m_changed[i]) ReplaceCell(cells[i], m_buffer[i], m_arena);
    m_rowEpoch[row] = after;
    if (m_arena.size() > 4 * std::max<std::size_t>(m_arenaLoaded, 1u << 20)) CompactArena();
  }
  m_scratchRow = SIZE_MAX;
  DropEdit();
}

const std::string& RecordsetCore::WriteSql(std::vector<std::size_t> key) const {
  constexpr std::size_t kMaxTexts = 64;
  auto& texts = m_layout->writeSql;
  auto it = texts.find(key);
  if (it != texts.end()) return it->second;
  const std::vector<FieldDesc>& fields = m_layout->fields;
  std::string sql;
  if (key[0] == 0) {
    sql = "INSERT INTO " + QuoteId(m_layout->keyTables[0]);
    if (key.size() == 1) {
      sql += " DEFAULT VALUES";
    } else {
      std::string names, params;
      for (std::size_t k = 1; k < key.size(); ++k) {
        names += (k > 1 ? ", " : "") + QuoteId(fields[key[k]].sourceColumn);
        params += (k > 1 ? ", ?" : "?") + std::to_string(k);
      }
      sql += " (" + names + ") VALUES (" + params + ")";
    }
  } else {
    sql = "UPDATE " + QuoteId(m_layout->keyTables[key[0] - 1]) + " SET ";
    for (std::size_t j = 1; j < key.size(); ++j)
      sql +=
          (j > 1 ? ", " : "") + QuoteId(fields[key[j]].sourceColumn) + " = ?" + std::to_string(j);
    sql += " WHERE rowid = ?" + std::to_string(key.size());
  }
  if (texts.size() >= kMaxTexts) texts.clear();
  return texts.emplace(std::move(key), std::move(sql)).first->second;
}

void RecordsetCore::CancelUpdate() {
  CheckOpen();
  if (m_editMode == 0)
    Fail(kErrUpdateWithoutEdit,
         "CancelUpdate without AddNew or Edit on recordset '" + m_sql + "'.");
  DropEdit();
}

void RecordsetCore::Delete() {
  CheckOpen();
  if (!m_keyed)
    Fail(kErrReadOnly,
         "Cannot delete: recordset '" + m_sql + "' is read-only (it has no base table rows).");
  DropEdit();
  CheckCurrent();
  if (m_keyCount != 1 || m_layout->keyTables[0].empty())
    Fail(kErrNotSupported, "Cannot delete the current record of recordset '" + m_sql +
                               "': it joins several tables; delete from one table instead.");
  Connection& c = m_db->Conn();
  std::string ctx = "Delete in recordset '" + m_sql + "'";
  std::size_t row = static_cast<std::size_t>(m_pos);
  {
    CachedStmt s =
        c.Prepare("DELETE FROM " + QuoteId(m_layout->keyTables[0]) + " WHERE rowid = ?1", ctx);
    BindKey(s.get(), 1, KeysOf(row)[0]);
    s.Step(ctx);
  }
  if (sqlite3_changes(c.db()) == 0)
    Fail(kErrRecordDeleted,
         "Record is deleted: the current record of recordset '" + m_sql + "' was already deleted.");
  m_keys.erase(m_keys.begin() + static_cast<std::ptrdiff_t>(row * m_keyCount),
               m_keys.begin() + static_cast<std::ptrdiff_t>((row + 1) * m_keyCount));
  const std::size_t nf = m_fieldCount;
  if (row < m_cachedRows) {
    m_cells.erase(m_cells.begin() + static_cast<std::ptrdiff_t>(row * nf),
                  m_cells.begin() + static_cast<std::ptrdiff_t>((row + 1) * nf));
    --m_cachedRows;
  }
  m_scratchRow = SIZE_MAX;
  m_rowEpoch.erase(m_rowEpoch.begin() + static_cast<std::ptrdiff_t>(row));
  if (m_populated > row) --m_populated;
  m_deletedCurrent = true;
}

void RecordsetCore::Requery() {
  CheckOpen();
  DropEdit();
  Load();
}

}  // namespace dao
