// The plain-SQL side of the encrypted-records comparison: the same statements
// against plain SQLite (encrypted_records_bench) and against SQLCipher
// (sqlcipher_bench). Header only, so that each program compiles it against
// the sqlite3.h it links with (SQLCipher's include directory comes first in
// its program).
#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "EncryptedRecordsData.h"

namespace encrecords {

inline void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error(sql + ": " + message);
  }
}

inline sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string(sql) + ": " + sqlite3_errmsg(db));
  return s;
}

// Appends records 1..Records() in one transaction.
inline void AppendRows(sqlite3* db) {
  Exec(db, "BEGIN IMMEDIATE");
  sqlite3_stmt* s =
      Prepare(db, "INSERT INTO tblPerson (ID, Name, Note, Amount) VALUES (?1, ?2, ?3, ?4)");
  for (int id = 1; id <= Records(); ++id) {
    const std::string &name = Name(id), &note = Note(id);
    sqlite3_bind_int(s, 1, id);
    sqlite3_bind_text(s, 2, name.c_str(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 3, note.c_str(), static_cast<int>(note.size()), SQLITE_STATIC);
    sqlite3_bind_double(s, 4, Amount(id));
    if (sqlite3_step(s) != SQLITE_DONE) {
      sqlite3_finalize(s);
      throw std::runtime_error(std::string("INSERT: ") + sqlite3_errmsg(db));
    }
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  Exec(db, "COMMIT");
}

// Takes the four fields of the statement's current row into `name` and
// `note`, and answers the numbers' part of a checksum.
inline double TakeRow(sqlite3_stmt* s, std::string& name, std::string& note) {
  name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
              static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
  note.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)),
              static_cast<std::size_t>(sqlite3_column_bytes(s, 2)));
  return sqlite3_column_int(s, 0) + sqlite3_column_double(s, 3) +
         static_cast<double>(name.size() + note.size());
}

// Reads the records of `ids` one by one through one bound statement.
inline double KeyedReads(sqlite3* db, const std::vector<int>& ids) {
  sqlite3_stmt* s = Prepare(db, "SELECT ID, Name, Note, Amount FROM tblPerson WHERE ID = ?1");
  std::string name, note;
  double sum = 0;
  for (const int id : ids) {
    sqlite3_bind_int(s, 1, id);
    if (sqlite3_step(s) == SQLITE_ROW) sum += TakeRow(s, name, note);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  return sum;
}

// Reads all four fields of every record; answers how many there were.
inline int ScanRows(sqlite3* db, double& sum) {
  sqlite3_stmt* s = Prepare(db, "SELECT ID, Name, Note, Amount FROM tblPerson");
  std::string name, note;
  int count = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    sum += TakeRow(s, name, note);
    ++count;
  }
  sqlite3_finalize(s);
  return count;
}

}  // namespace encrecords
