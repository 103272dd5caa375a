// Small helpers shared by the parts of the engine that read and write its
// catalog: names the engine keeps for itself, and SQLite column texts.
#pragma once

#include <sqlite3.h>

#include <string>

namespace dao {

// Hidden key columns that carry a base row's rowid through a query.
inline constexpr const char* kKeyPrefix = "__vem_k";

bool StartsWithNoCase(const std::string& s, const char* prefix);
// The engine's catalog (MSys...) and SQLite's own tables (sqlite_...).
bool IsHiddenTable(const std::string& name);
// Column i of the current row as text ("" for Null).
std::string ColumnText(sqlite3_stmt* s, int i);
// The DAO type of an SQLite declared type (0 when it says nothing).
int TypeFromDecl(const char* decl);

}  // namespace dao
