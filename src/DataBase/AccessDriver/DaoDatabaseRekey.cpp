// DaoDatabase: the re-encryption walk of one table straight on the engine's
// SQLite connection (see ReencryptTableDirectly in DaoDatabase.h).
//
// The engine's recordset walk costs an Edit (a re-read of the row), an
// optimistic Update and a re-read of the next row for every record; here a
// batch of rows is read by rowid, each value is deciphered and enciphered
// from and into reused buffers, and the values of a row are written by one
// UPDATE by rowid. Everything runs inside a savepoint of the walk's transaction, so
// that whatever this path does not handle exactly as the engine would is
// undone and left to the engine walk, which then meets it as it always has:
//   - a table the engine does not know as one of its tables, or one with a
//     column named like the rowid;
//   - a column of a table made without the engine (loosely typed);
//   - an id column other than Long, Text or Memo, or an id value of another
//     storage class than its column's (the engine would convert it or fail);
//   - a stored value that is neither NULL nor an ASCII text;
//   - a new text longer than a Text column's size, NULL for a required
//     column, a column other than Text or Memo;
//   - any failure: a value that does not decipher (so that the walk reports
//     the same first failure, in the engine's order), any SQLite error.
// The engine's recordsets notice the UPDATEs through the connection's change
// count, as they notice any write of Execute.
#include <sqlite3.h>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "Engine/DatabaseCore.h"
#include "Platform/ComUtil.h"
#include "Platform/Text.h"

namespace {

constexpr std::size_t kBatchRows = 256;

// Raised inside the direct walk for anything it leaves to the engine walk.
struct LeaveToEngine {};

std::string Quote(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// A statement prepared on the connection for the walk, finalized on every
// way out.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) !=
        SQLITE_OK)
      throw LeaveToEngine{};
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return m_stmt; }
  // Steps once: true on a row, false when done; any error leaves the walk
  // to the engine.
  bool Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    sqlite3_reset(m_stmt);
    if (rc != SQLITE_DONE) throw LeaveToEngine{};
    return false;
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

// The values of one row of a batch, copied out of the statement.
struct RowCopy {
  sqlite3_int64 rowid = 0;
  std::vector<int> types;           // SQLite storage class per read column
  std::vector<sqlite3_int64> ints;  // per read column (INTEGER)
  std::vector<std::string> texts;   // per read column (TEXT)
};

}  // namespace

bool DaoDatabase::ReencryptTableDirectly(const SRecordDef& recordDef,
                                         const std::vector<WalkColumn>& columns) {
  if (!IsOpen()) return false;
  dao::Connection* pConnection = nullptr;
  dao::DatabaseCore* pCore = nullptr;
  try {
    pCore = GetEngineDatabase().Core().get();
    pConnection = &pCore->Conn();
  } catch (...) {
    return false;
  }
  const dao::TableInfo* pTable = nullptr;
  // The read columns: the walked columns first, then each distinct id column.
  std::vector<const dao::ColumnInfo*> read;
  std::vector<std::size_t> idOf;  // per walked column: its id's read index, or SIZE_MAX
  try {
    pTable = pCore->FindTable(recordDef.m_name);
    if (pTable == nullptr) return false;
    // A column that takes the name "rowid" would hide the row's id.
    for (const dao::ColumnInfo& info : pTable->columns) {
      std::string lower = info.name;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (lower == "rowid" || lower == "_rowid_" || lower == "oid") return false;
    }
    for (const WalkColumn& column : columns) {
      const dao::ColumnInfo* pInfo = pTable->Column(column.pField->m_name);
      if (pInfo == nullptr || pInfo->loose ||
          (pInfo->type != dao::dbText && pInfo->type != dao::dbMemo))
        return false;
      read.push_back(pInfo);
    }
    for (const WalkColumn& column : columns) {
      const SRecordDef& owner = *column.pRecordDef;
      if (owner.m_idFields.empty()) {
        idOf.push_back(SIZE_MAX);
        continue;
      }
      const dao::ColumnInfo* pInfo = pTable->Column(owner.m_idFields.front()->m_name);
      if (pInfo == nullptr || pInfo->loose ||
          (pInfo->type != dao::dbLong && pInfo->type != dao::dbText && pInfo->type != dao::dbMemo))
        return false;
      std::size_t at = columns.size();
      while (at < read.size() && read[at] != pInfo) ++at;
      if (at == read.size()) read.push_back(pInfo);
      idOf.push_back(at);
    }
  } catch (...) {
    return false;
  }

  std::string select = "SELECT rowid";
  for (const dao::ColumnInfo* pInfo : read) select += ", " + Quote(pInfo->name);
  select += " FROM " + Quote(pTable->name) + " WHERE rowid >= ?1 ORDER BY rowid LIMIT " +
            std::to_string(kBatchRows);

  const bool bRead10 = (m_ulDriverVersion >> 16) == kCipherFormat10;
  const bool bWrite10 = (m_ulTargetDriverVersion >> 16) == kCipherFormat10;
  sqlite3* db = pConnection->db();
  if (sqlite3_exec(db, "SAVEPOINT vem_reencrypt", nullptr, nullptr, nullptr) != SQLITE_OK)
    return false;

  std::vector<RowCopy> batch(kBatchRows);
  std::vector<BYTE> plain;
  std::vector<std::vector<char>> texts;  // the new text of each column of a row
  try {
    Statement selectRows(db, select);
    // One UPDATE per row: column c takes ?(2c+2) when ?(2c+1) is true and
    // keeps its value otherwise.
    std::string sql = "UPDATE " + Quote(pTable->name) + " SET ";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string name = Quote(read[c]->name);
      if (c > 0) sql += ", ";
      sql += name + " = CASE WHEN ?" + std::to_string(2 * c + 1) + " THEN ?" +
             std::to_string(2 * c + 2) + " ELSE " + name + " END";
    }
    sql += " WHERE rowid = ?" + std::to_string(2 * columns.size() + 1);
    Statement update(db, sql);
    sqlite3_stmt* u = update.get();
    texts.resize(columns.size());
    sqlite3_int64 from = std::numeric_limits<sqlite3_int64>::min();
    for (bool bMore = true; bMore;) {
      // A batch of rows, copied out before any of them is written.
      std::size_t rows = 0;
      {
        sqlite3_stmt* s = selectRows.get();
        sqlite3_bind_int64(s, 1, from);
        while (rows < kBatchRows && selectRows.Step()) {
          RowCopy& row = batch[rows++];
          row.rowid = sqlite3_column_int64(s, 0);
          row.types.resize(read.size());
          row.ints.resize(read.size());
          row.texts.resize(read.size());
          for (std::size_t c = 0; c < read.size(); ++c) {
            const int i = static_cast<int>(c) + 1;
            row.types[c] = sqlite3_column_type(s, i);
            if (row.types[c] == SQLITE_INTEGER) {
              row.ints[c] = sqlite3_column_int64(s, i);
            } else if (row.types[c] == SQLITE_TEXT) {
              const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
              row.texts[c].assign(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i)));
            }
          }
        }
      }
      sqlite3_reset(selectRows.get());
      bMore = rows == kBatchRows;
      for (std::size_t r = 0; r < rows; ++r) {
        const RowCopy& row = batch[r];
        bool bWrite = false;
        for (std::size_t c = 0; c < columns.size(); ++c) {
          sqlite3_bind_int(u, static_cast<int>(2 * c + 1), 0);
          const SFieldDef& field = *columns[c].pField;
          const SRecordDef& owner = *columns[c].pRecordDef;
          const bool bString = field.Type() == FieldType::STRING;
          const int type = row.types[c];
          if (type != SQLITE_NULL && (type != SQLITE_TEXT || !IsAsciiText(row.texts[c])))
            throw LeaveToEngine{};
          const bool bText = type == SQLITE_TEXT;
          // As the engine walk: NULL has no value, except format 1.0's empty
          // text when the target format stores it as a value.
          if (!bText && !(bRead10 && bString && !bWrite10)) continue;
          // The id value as the engine's Collect gives it.
          _variant_t vId;
          if (idOf[c] != SIZE_MAX) {
            const std::size_t i = idOf[c];
            const int idType = row.types[i];
            if (idType == SQLITE_NULL) {
              vId.GetVARIANT().vt = VT_NULL;
            } else if (read[i]->type == dao::dbLong && idType == SQLITE_INTEGER &&
                       row.ints[i] >= std::numeric_limits<std::int32_t>::min() &&
                       row.ints[i] <= std::numeric_limits<std::int32_t>::max()) {
              vId = _variant_t(static_cast<LONG>(row.ints[i]));
            } else if (read[i]->type != dao::dbLong && idType == SQLITE_TEXT) {
              vId = _variant_t(_bstr_t(std::u16string_view(platform::Utf8ToWide(row.texts[i]))));
            } else {
              throw LeaveToEngine{};
            }
          }
          std::size_t n = 0;
          if (bText) {
            const std::string& stored = row.texts[c];
            if (plain.size() < stored.size()) {
              WipeBytes(plain.data(), plain.size());
              plain.assign(stored.size(), 0);
            }
            const LONG lLength =
                m_cipher.DecryptText(owner.m_name, field.m_name, vId, stored, plain.data(),
                                     static_cast<ULONG>(stored.size()), m_ulDriverVersion);
            n = lLength > 0 ? static_cast<std::size_t>(lLength) : 0;
          }
          const int value = static_cast<int>(2 * c + 2);
          if (n == 0 && bString && bWrite10) {
            if (read[c]->required) throw LeaveToEngine{};
            sqlite3_bind_null(u, value);  // format 1.0's empty text
          } else {
            std::vector<char>& text = texts[c];
            text.resize(std::max(text.size(), EncryptedBufferSize(n)));
            m_cipher.Encrypt(owner.m_name, field.m_name, vId, text.data(), plain.data(),
                             static_cast<ULONG>(n), m_ulTargetDriverVersion);
            const std::size_t length = std::strlen(text.data());
            if (read[c]->type == dao::dbText && length > static_cast<std::size_t>(read[c]->size))
              throw LeaveToEngine{};
            sqlite3_bind_text(u, value, text.data(), static_cast<int>(length), SQLITE_STATIC);
          }
          WipeBytes(plain.data(), n);
          sqlite3_bind_int(u, static_cast<int>(2 * c + 1), 1);
          bWrite = true;
        }
        if (bWrite) {
          sqlite3_bind_int64(u, static_cast<int>(2 * columns.size() + 1), row.rowid);
          update.Step();
        }
      }
      if (rows > 0) {
        if (batch[rows - 1].rowid == std::numeric_limits<sqlite3_int64>::max()) break;
        from = batch[rows - 1].rowid + 1;
      }
    }
  } catch (...) {
    WipeBytes(plain.data(), plain.size());
    // Undone: the engine walk takes the table from the start.
    sqlite3_exec(db, "ROLLBACK TO vem_reencrypt", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "RELEASE vem_reencrypt", nullptr, nullptr, nullptr);
    return false;
  }
  WipeBytes(plain.data(), plain.size());
  if (sqlite3_exec(db, "RELEASE vem_reencrypt", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db, "ROLLBACK TO vem_reencrypt", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "RELEASE vem_reencrypt", nullptr, nullptr, nullptr);
    return false;
  }
  return true;
}
