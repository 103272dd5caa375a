// The rules a column's values must keep, written into the SQLite schema so
// that no write path can pass them (Execute, recordsets, other SQLite tools),
// and the names Jet accepts for tables, fields, indexes and queries.
//
// Each column of a table the engine creates carries named CHECK constraints
// built from SQLite's own functions only (typeof, length, range tests), so a
// plain sqlite3 shell can still write the file:
//   "<table>.<field> must be <Type>"  the SQLite type and range of the DAO type
//   "<table>.<field> too long"        Text(n): at most n characters (length()),
//                                     Binary(n): at most n bytes
// SQLite reports a failed one as "CHECK constraint failed: <name>", which
// DescribeCheckFailure turns into 3421 or 3163 naming the table and field.
// Names never contain '.', so the first '.' of a constraint name ends the
// table name.
#pragma once

#include <cstdint>
#include <string>

namespace dao {

// " CONSTRAINT ... CHECK (...)" clauses for column `column` of `table`, of
// DAO type `type` and declared size `size` ("" for none). `rowid`: the column
// is the table's INTEGER PRIMARY KEY (only its range is checked).
std::string ColumnChecks(const std::string& table, const std::string& column, int type,
                         std::int32_t size, bool rowid);

// For SQLite's message of a failed CHECK constraint: the DAO error number
// (3421 or 3163) and a sentence naming the table and field. False when the
// constraint is not one of the engine's.
bool DescribeCheckFailure(const std::string& sqliteMessage, int& number, std::string& text);

// Refuses (3125) a name Jet would not accept for a table, field, index or
// query: empty, a leading space, a control character, or one of . ! ` [ ]
// (the translator addresses names as [name]). `what` is "table", "field", ...
void CheckObjectName(const std::string& name, const char* what);

}  // namespace dao
