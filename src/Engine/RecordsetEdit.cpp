// The dynaset's edits: AddNew, Edit, Update (optimistic: a base row is
// written only where it still holds what Edit read), CancelUpdate, Delete.
#include <algorithm>

#include "Engine/CatalogText.h"
#include "Engine/RecordsetCore.h"

namespace dao {

void RecordsetCore::SetValue(std::size_t field, const Value& value) {
  SetValue(field, Value(value));
}

void RecordsetCore::SetValue(std::size_t field, Value&& value) {
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
  ConvertForFieldInPlace(value, f.info, f.sourceTable);
  m_buffer[field] = std::move(value);
  m_changed[field] = true;
}

void RecordsetCore::Edit() {
  CheckOpen();
  if (!m_keyed)
    Fail(kErrReadOnly, "Cannot update: recordset '" + m_sql +
                           "' is read-only (it has no base table rows to write to).");
  DropEdit();
  CheckCurrent();
  // The row is read afresh (3167 when it is gone), whatever the cache holds,
  // and the stored values of its base columns are kept for Update to compare.
  // Fields keep being read from the row until they are changed: only changed
  // fields take their values from the buffer and are written by Update.
  ReadRow(static_cast<std::size_t>(m_pos), m_db->OpenConn().ChangeEpoch(), &m_editStored);
  m_checkedSinceMove = true;
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
    // The INSERT's key: 0, then the fields it writes (kept between Updates).
    std::vector<std::size_t>& key = m_writeKey;
    key.assign(1, 0);
    for (std::size_t i = 0; i < m_fieldCount; ++i) {
      if (!m_changed[i]) continue;
      bool later = false;  // the same column twice (t.* and t.x): the last write wins
      for (std::size_t j = i + 1; j < m_fieldCount && m_layout->repeatedColumns; ++j)
        later = later || (m_changed[j] && EqualNoCase(m_layout->fields[j].sourceColumn,
                                                      m_layout->fields[i].sourceColumn));
      if (!later) key.push_back(i);
    }
    {
      CachedStmt s = c.Prepare(WriteSql(key), "Update (AddNew) of recordset", m_sql);
      for (std::size_t k = 1; k < key.size(); ++k)
        BindValue(s.get(), static_cast<int>(k), m_buffer[key[k]]);
      s.Step();
    }
    std::int64_t rowid = sqlite3_last_insert_rowid(c.db());
    bool wasFull = m_populated >= RowCount();
    bool wasEmpty = m_bof && m_eof;
    m_keys.push_back(rowid);
    m_rowEpoch.push_back(0);
    m_live.Append();
    if (!m_rowOfKey.empty()) m_rowOfKey.emplace(static_cast<std::uint64_t>(rowid), RowCount() - 1);
    if (wasFull) m_populated = RowCount();
    if (wasEmpty) {
      m_bof = false;  // DAO: BOF clears, EOF stays set
      m_pos = static_cast<std::int64_t>(RowCount());
    }
    DropEdit();
    return;
  }
  UpdateEdited();
}

void RecordsetCore::UpdateEdited() {
  // Each changed column goes back to its own base row, where that row still
  // holds what Edit read (compared in the UPDATE itself: no extra statement
  // when it does).
  Connection& c = m_db->Conn();
  CheckCurrent();
  const std::size_t row = static_cast<std::size_t>(m_pos);
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
      CachedStmt s = c.Prepare(WriteSql(key), "Update of recordset", m_sql);
      int p = 1;
      for (std::size_t j = 0; j < cols.size(); ++j) BindValue(s.get(), p++, m_buffer[cols[j]]);
      BindKey(s.get(), p++, KeysOf(row)[k]);
      for (std::size_t f : m_layout->checkedFields[k])
        sqlite3_bind_value(s.get(), p++, m_editStored[f].get());
      s.Step();
      if (sqlite3_changes(c.db()) == 0) FailConflict(row, k);
    }
  };
  std::size_t groups = 0;
  for (const auto& g : byKey) groups += g.empty() ? 0 : 1;
  // A cached row that was current up to this Update stays current when
  // nothing but the Update itself changed the database meanwhile: its new
  // values are the ones just written. Otherwise it is read again.
  const std::uint64_t before = c.ChangeEpoch();
  const bool wasCurrent = m_layout->plainColumns && row < m_cachedRows && m_rowEpoch[row] == before;
  if (row < m_cachedRows) m_rowEpoch[row] = 0;
  m_scratchRow = SIZE_MAX;
  try {
    if (groups > 1)
      m_db->WriteAtomically("Update of recordset '" + m_sql + "'", run);
    else
      run();
  } catch (const EngineError& e) {
    // DAO drops the edit when the record changed or went away meanwhile;
    // reading the record again shows what the other user stored.
    if (e.number() == kErrWriteConflict || e.number() == kErrRecordDeleted) DropEdit();
    throw;
  }
  const std::uint64_t after = c.ChangeEpoch();
  if (wasCurrent && after == before + 1) {
    StoredCell* cells = RowCells(row);
    for (std::size_t i = 0; i < m_fieldCount; ++i) {
      if (!m_changed[i]) {
        // A large value Edit read is still the stored one.
        if (!m_layout->large.empty() && m_large[i].row == row && m_large[i].epoch == before)
          m_large[i].epoch = after;
        continue;
      }
      if (m_layout->large.empty() || !m_layout->large[i]) {
        ReplaceCell(cells[i], m_buffer[i], m_arena);
        continue;
      }
      // A large value written stays out of the cache: its slot holds it.
      cells[i] = StoredCell{};
      if (!IsNull(m_buffer[i])) cells[i].kind = kNotLoaded;
      m_large[i] = LargeSlot{row, after, std::move(m_buffer[i])};
    }
    m_rowEpoch[row] = after;
    if (m_arena.size() > 4 * std::max<std::size_t>(m_arenaLoaded, 1u << 20)) CompactArena();
  }
  DropEdit();
}

void RecordsetCore::FailConflict(std::size_t row, std::size_t k) {
  const std::string& table = m_layout->keyTables[k];
  bool exists = false;
  {
    std::string ctx = "Update of recordset '" + m_sql + "'";
    CachedStmt s =
        m_db->Conn().Prepare("SELECT 1 FROM " + QuoteId(table) + " WHERE rowid = ?1", ctx);
    BindKey(s.get(), 1, KeysOf(row)[k]);
    exists = s.Step(ctx);
  }
  if (!exists)
    Fail(kErrRecordDeleted, "Record is deleted: the record of '" + table +
                                "' being edited in recordset '" + m_sql +
                                "' was deleted by another user or recordset; nothing was written.");
  Fail(kErrWriteConflict,
       "The database engine stopped the process because you and another user are attempting "
       "to change the same data at the same time. (The record of '" +
           table + "' being edited in recordset '" + m_sql +
           "' was changed by another user or recordset after Edit read it; nothing was "
           "written, and the edit was dropped.)");
}

const std::string& RecordsetCore::WriteSql(const std::vector<std::size_t>& key) const {
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
    // Only where the row still holds the stored values Edit read (compared
    // exactly: texts byte by byte, not by the columns' case-insensitive
    // collation).
    std::size_t p = key.size();
    sql += " WHERE rowid = ?" + std::to_string(p);
    for (std::size_t f : m_layout->checkedFields[key[0] - 1])
      sql += " AND " + QuoteId(fields[f].sourceColumn) + " IS ?" + std::to_string(++p) +
             " COLLATE BINARY";
  }
  if (texts.size() >= kMaxTexts) texts.clear();
  return texts.emplace(key, std::move(sql)).first->second;
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
  const std::size_t row = static_cast<std::size_t>(m_pos);
  if (m_deleteSql.empty())
    m_deleteSql = "DELETE FROM " + QuoteId(m_layout->keyTables[0]) + " WHERE rowid = ?1";
  {
    CachedStmt s = c.Prepare(m_deleteSql, "Delete in recordset", m_sql);
    BindKey(s.get(), 1, KeysOf(row)[0]);
    s.Step();
  }
  if (sqlite3_changes(c.db()) == 0)
    Fail(kErrRecordDeleted,
         "Record is deleted: the current record of recordset '" + m_sql + "' was already deleted.");
  // The row stays in the keyset, dead: no vector is shifted, so deleting
  // row after row costs the same per row however large the recordset.
  m_live.Kill(row);
  if (m_scratchRow == row) m_scratchRow = SIZE_MAX;
  m_deletedCurrent = true;
}

}  // namespace dao
