// The catalog guard: an SQLite authorizer that refuses writes to the
// engine's catalog (MSys... tables) and SQLite's own tables (sqlite_...)
// except while the engine marks its own catalog write.
//
// SQLite asks the authorizer when it prepares a statement (and again when it
// re-prepares one after a schema change), so a refused statement never
// reaches the statement cache. The engine's own catalog statements name
// their tables bare, while the translator quotes every identifier of a
// user's text, so a user's text never meets one of them in the cache.
#include "Engine/CatalogText.h"
#include "Engine/Sqlite.h"

#include <cstring>

namespace dao {

void Connection::GuardCatalog() {
  sqlite3_set_authorizer(m_db, &Connection::Authorize, this);
}

int Connection::Authorize(void* self, int action, const char* a, const char* b, const char*,
                          const char* trigger) {
  auto* conn = static_cast<Connection*>(self);
  if (conn->m_catalogWrites > 0) return SQLITE_OK;
  // The engine's own triggers (they keep AutoNumber counters ahead of the
  // values written) update the catalog on behalf of any statement.
  if (trigger && std::strncmp(trigger, "__vem_", 6) == 0) return SQLITE_OK;
  const char* table = nullptr;
  switch (action) {
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
      table = a;
      break;
    case SQLITE_ALTER_TABLE:  // a: the schema, b: the table
    case SQLITE_CREATE_INDEX:
    case SQLITE_DROP_INDEX:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_DROP_TRIGGER:
      table = b;
      break;
    default:
      return SQLITE_OK;
  }
  // SQLite refuses writes to its schema table itself (unless writable_schema
  // is on, which only the engine sets), and its own statements write it when
  // they build a virtual table (pragma_table_info): leave it to SQLite.
  if (!table || !IsHiddenTable(table) || sqlite3_strnicmp(table, "sqlite_master", 14) == 0 ||
      sqlite3_strnicmp(table, "sqlite_temp_master", 19) == 0)
    return SQLITE_OK;
  conn->m_deniedTable = table;
  return SQLITE_DENY;
}

}  // namespace dao
