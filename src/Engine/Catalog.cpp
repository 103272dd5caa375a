// The engine's catalog: tables, columns, indexes and stored queries, read
// from and written to the MSys tables, and the schema operations.
#include "Engine/DatabaseCore.h"

#include "Engine/CatalogText.h"
#include "Engine/ColumnRules.h"
#include "Engine/RecordsetCore.h"

namespace dao {

namespace {

std::string IndexFieldsText(const IndexSpec& ix) {
  std::string s;
  for (std::size_t i = 0; i < ix.fields.size(); ++i) {
    if (i) s += '\n';
    if (i < ix.descending.size() && ix.descending[i]) s += '-';
    s += ix.fields[i];
  }
  return s;
}

void ParseIndexFields(const std::string& text, IndexSpec& ix) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    std::string f = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    bool desc = !f.empty() && f[0] == '-';
    ix.fields.push_back(desc ? f.substr(1) : f);
    ix.descending.push_back(desc);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
}

}  // namespace

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  std::string p = prefix;
  return s.size() >= p.size() && EqualNoCase(s.substr(0, p.size()), p);
}

bool IsHiddenTable(const std::string& name) {
  return StartsWithNoCase(name, "MSys") || StartsWithNoCase(name, "sqlite_");
}

std::string ColumnText(sqlite3_stmt* s, int i) {
  const unsigned char* p = sqlite3_column_text(s, i);
  return p ? reinterpret_cast<const char*>(p) : "";
}

int TypeFromDecl(const char* decl) {
  if (!decl) return 0;
  std::string d = Lower(decl);
  if (d.find("int") != std::string::npos) return dbLong;
  if (d.find("char") != std::string::npos || d.find("text") != std::string::npos) return dbMemo;
  if (d.find("real") != std::string::npos || d.find("floa") != std::string::npos ||
      d.find("doub") != std::string::npos)
    return dbDouble;
  if (d.find("blob") != std::string::npos) return dbLongBinary;
  return 0;
}

const ColumnInfo* TableInfo::Column(const std::string& n) const {
  for (const auto& c : columns)
    if (EqualNoCase(c.name, n)) return &c;
  return nullptr;
}

std::vector<std::string> DatabaseCore::TableNames() {
  Connection& c = Conn();
  NoticeSchemaChanges();
  CachedStmt s =
      c.Prepare("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name COLLATE NOCASE",
                "Listing the tables of '" + m_name + "'");
  std::vector<std::string> names;
  while (s.Step("Listing the tables of '" + m_name + "'")) {
    std::string n = ColumnText(s.get(), 0);
    if (!IsHiddenTable(n)) names.push_back(n);
  }
  return names;
}

std::vector<std::string> DatabaseCore::QueryNames() {
  Connection& c = Conn();
  NoticeSchemaChanges();
  CachedStmt s = c.Prepare("SELECT Name FROM MSysQueries ORDER BY Name COLLATE NOCASE",
                           "Listing the queries of '" + m_name + "'");
  std::vector<std::string> names;
  while (s.Step("Listing the queries of '" + m_name + "'")) names.push_back(ColumnText(s.get(), 0));
  return names;
}

const TableInfo* DatabaseCore::FindTable(const std::string& name) {
  Connection& c = Conn();
  NoticeSchemaChanges();
  std::string key = Lower(name);
  auto it = m_tables.find(key);
  if (it != m_tables.end()) return it->second.get();
  if (IsHiddenTable(name)) return nullptr;
  std::string ctx = "Reading the definition of table '" + name + "'";
  auto info = std::make_unique<TableInfo>();
  {
    CachedStmt s = c.Prepare(
        "SELECT name FROM sqlite_master WHERE type='table' AND name=?1 COLLATE NOCASE", ctx);
    sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    if (!s.Step(ctx)) return nullptr;
    info->name = ColumnText(s.get(), 0);
  }
  {
    CachedStmt s = c.Prepare(
        "SELECT ColumnName, Type, Size, Attributes, Required FROM MSysColumns WHERE TableName=?1 "
        "ORDER BY Ordinal",
        ctx);
    sqlite3_bind_text(s.get(), 1, info->name.c_str(), -1, SQLITE_TRANSIENT);
    while (s.Step(ctx)) {
      ColumnInfo col;
      col.name = ColumnText(s.get(), 0);
      col.type = sqlite3_column_int(s.get(), 1);
      col.size = sqlite3_column_int(s.get(), 2);
      col.attributes = sqlite3_column_int(s.get(), 3);
      col.required = sqlite3_column_int(s.get(), 4) != 0;
      info->columns.push_back(col);
    }
  }
  if (info->columns.empty()) {
    // A table made without the engine: describe it from SQLite's own schema.
    CachedStmt s = c.Prepare("SELECT name, type, \"notnull\" FROM pragma_table_info(?1)", ctx);
    sqlite3_bind_text(s.get(), 1, info->name.c_str(), -1, SQLITE_TRANSIENT);
    while (s.Step(ctx)) {
      ColumnInfo col;
      col.name = ColumnText(s.get(), 0);
      std::string decl = ColumnText(s.get(), 1);
      col.type = TypeFromDecl(decl.c_str());
      if (col.type == 0) col.type = dbMemo;
      col.size = DefaultSize(col.type);
      col.attributes = col.type == dbMemo ? dbVariableField : dbFixedField;
      col.required = sqlite3_column_int(s.get(), 2) != 0;
      col.loose = true;
      info->columns.push_back(col);
    }
  }
  {
    CachedStmt s = c.Prepare(
        "SELECT IndexName, IsPrimary, IsUnique, IsRequired, Fields, SqliteName IS NULL FROM "
        "MSysIndexes WHERE TableName=?1 ORDER BY rowid",
        ctx);
    sqlite3_bind_text(s.get(), 1, info->name.c_str(), -1, SQLITE_TRANSIENT);
    while (s.Step(ctx)) {
      IndexSpec ix;
      ix.name = ColumnText(s.get(), 0);
      ix.primary = sqlite3_column_int(s.get(), 1) != 0;
      ix.unique = sqlite3_column_int(s.get(), 2) != 0;
      ix.required = sqlite3_column_int(s.get(), 3) != 0;
      ParseIndexFields(ColumnText(s.get(), 4), ix);
      if (ix.primary && sqlite3_column_int(s.get(), 5) && ix.fields.size() == 1)
        info->rowidColumn = ix.fields[0];
      info->indexes.push_back(ix);
    }
  }
  const TableInfo* result = info.get();
  m_tables[key] = std::move(info);
  return result;
}

const ColumnInfo* DatabaseCore::ColumnOf(const std::string& table, const std::string& column) {
  const TableInfo* t = FindTable(table);
  return t ? t->Column(column) : nullptr;
}

bool DatabaseCore::IsQuery(const std::string& name) {
  return QuerySql(name).has_value();
}

std::optional<std::string> DatabaseCore::QuerySql(const std::string& name) {
  Connection& c = Conn();
  std::string ctx = "Reading query '" + name + "'";
  CachedStmt s = c.Prepare("SELECT SQL FROM MSysQueries WHERE Name=?1", ctx);
  sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  if (!s.Step(ctx)) return std::nullopt;
  return ColumnText(s.get(), 0);
}

void DatabaseCore::CheckNewName(const std::string& name, const char* what) {
  if (name.empty()) Fail(kErrInvalidArgument, std::string("A ") + what + " needs a name.");
  CheckObjectName(name, what);
  if (IsHiddenTable(name) || StartsWithNoCase(name, kKeyPrefix))
    Fail(kErrInvalidArgument, std::string("The name '") + name +
                                  "' is reserved for the engine; choose another " + what +
                                  " name.");
  if (FindTable(name) || IsQuery(name))
    Fail(kErrTableExists, std::string("Cannot create ") + what + " '" + name +
                              "': an object of that name already exists in '" + m_name + "'.");
}

void DatabaseCore::CreateTable(const TableSpec& def) {
  CheckWritable("create table '" + def.name + "'");
  CheckNewName(def.name, "table");
  if (def.fields.empty())
    Fail(kErrInvalidArgument, "Table '" + def.name + "' has no fields; append at least one field.");
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldSpec& f = def.fields[i];
    if (f.name.empty())
      Fail(kErrInvalidArgument, "A field of table '" + def.name + "' has no name.");
    CheckObjectName(f.name, "field");
    if (!IsKnownType(f.type))
      Fail(kErrInvalidArgument, "Field '" + f.name + "' of table '" + def.name +
                                    "' has the unknown type " + std::to_string(f.type) + ".");
    if (f.type == dbText && (f.size < 0 || f.size > 255))
      Fail(kErrInvalidArgument, "Text field '" + f.name + "' of table '" + def.name +
                                    "' must have a size from 1 to 255.");
    for (std::size_t j = 0; j < i; ++j)
      if (EqualNoCase(def.fields[j].name, f.name))
        Fail(kErrNameExists,
             "Field '" + f.name + "' is defined twice in table '" + def.name + "'.");
    if ((f.attributes & dbAutoIncrField) && f.type != dbLong)
      Fail(kErrInvalidArgument,
           "AutoNumber field '" + f.name + "' of table '" + def.name + "' must be of type Long.");
  }
  const IndexSpec* primary = nullptr;
  for (const auto& ix : def.indexes) {
    if (ix.primary) {
      if (primary)
        Fail(kErrInvalidArgument, "Table '" + def.name + "' has more than one primary key.");
      primary = &ix;
    }
    if (ix.fields.empty())
      Fail(kErrInvalidArgument,
           "Index '" + ix.name + "' of table '" + def.name + "' has no fields.");
    CheckObjectName(ix.name, "index");
    for (const auto& fname : ix.fields) {
      bool found = false;
      for (const auto& f : def.fields) found = found || EqualNoCase(f.name, fname);
      if (!found)
        Fail(kErrItemNotFound, "Index '" + ix.name + "' names field '" + fname +
                                   "', which table '" + def.name + "' does not have.");
    }
  }
  std::string rowidColumn;
  if (primary && primary->fields.size() == 1) {
    for (const auto& f : def.fields)
      if (EqualNoCase(f.name, primary->fields[0]) && (f.attributes & dbAutoIncrField))
        rowidColumn = f.name;
  }
  std::string sql = "CREATE TABLE " + QuoteId(def.name) + " (";
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldSpec& f = def.fields[i];
    bool inPrimary = false;
    if (primary)
      for (const auto& pf : primary->fields) inPrimary = inPrimary || EqualNoCase(pf, f.name);
    if (i) sql += ", ";
    sql += QuoteId(f.name) + " ";
    if (EqualNoCase(f.name, rowidColumn)) {
      sql += "INTEGER PRIMARY KEY AUTOINCREMENT" + ColumnChecks(def.name, f.name, f.type, 0, true);
      continue;
    }
    sql += StorageType(f.type);
    if (f.type == dbText || f.type == dbMemo) sql += std::string(" COLLATE ") + JetCollation();
    if (f.required || inPrimary) sql += " NOT NULL";
    sql += ColumnChecks(def.name, f.name, f.type, f.size > 0 ? f.size : DefaultSize(f.type), false);
  }
  sql += ")";
  std::string ctx = "Creating table '" + def.name + "' in '" + m_name + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    Connection& c = *m_conn;
    c.Exec(sql, ctx);
    for (std::size_t i = 0; i < def.fields.size(); ++i) {
      const FieldSpec& f = def.fields[i];
      WriteColumn(def.name, f, static_cast<int>(i), f.required, ctx);
      if ((f.attributes & dbAutoIncrField) && !EqualNoCase(f.name, rowidColumn)) {
        CachedStmt a = c.Prepare(
            "INSERT INTO MSysAutoNumbers(TableName, ColumnName, NextValue) VALUES(?1, ?2, 1)", ctx);
        sqlite3_bind_text(a.get(), 1, def.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(a.get(), 2, f.name.c_str(), -1, SQLITE_TRANSIENT);
        a.Step(ctx);
      }
    }
    if (!rowidColumn.empty()) {
      CachedStmt s = c.Prepare("INSERT INTO sqlite_sequence(name, seq) VALUES(?1, 0)", ctx);
      sqlite3_bind_text(s.get(), 1, def.name.c_str(), -1, SQLITE_TRANSIENT);
      s.Step(ctx);
    }
    for (const auto& ix : def.indexes)
      WriteIndex(def.name, ix, ix.primary && !rowidColumn.empty(), ctx);
  });
  InvalidateSchema();
}

// Records column f of table in MSysColumns with its DAO type, size and
// attributes (fixed or variable length filled in when neither is given).
// Runs inside the caller's write transaction.
void DatabaseCore::WriteColumn(const std::string& table, const FieldSpec& f, int ordinal,
                               bool required, const std::string& ctx) {
  CachedStmt s = m_conn->Prepare(
      "INSERT INTO MSysColumns(TableName, ColumnName, Ordinal, Type, Size, Attributes, "
      "Required) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
      ctx);
  sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 2, f.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 3, ordinal);
  sqlite3_bind_int(s.get(), 4, f.type);
  sqlite3_bind_int(
      s.get(), 5,
      f.size > 0 && (f.type == dbText || f.type == dbBinary) ? f.size : DefaultSize(f.type));
  std::int32_t attrs = f.attributes;
  if (!(attrs & (dbFixedField | dbVariableField)))
    attrs |= (f.type == dbText || f.type == dbMemo || f.type == dbBinary || f.type == dbLongBinary)
                 ? dbVariableField
                 : dbFixedField;
  sqlite3_bind_int(s.get(), 6, attrs);
  sqlite3_bind_int(s.get(), 7, required ? 1 : 0);
  s.Step(ctx);
}

// Creates the SQLite index of ix on table (none when the index is the
// table's rowid key) and records it in MSysIndexes. Runs inside the caller's
// write transaction.
void DatabaseCore::WriteIndex(const std::string& table, const IndexSpec& ix, bool isRowid,
                              const std::string& ctx) {
  Connection& c = *m_conn;
  std::string sqliteName;
  if (!isRowid) {
    sqliteName = table + "." + ix.name;
    std::string create = std::string("CREATE ") + (ix.unique || ix.primary ? "UNIQUE " : "") +
                         "INDEX " + QuoteId(sqliteName) + " ON " + QuoteId(table) + " (";
    for (std::size_t k = 0; k < ix.fields.size(); ++k) {
      if (k) create += ", ";
      create += QuoteId(ix.fields[k]);
      if (k < ix.descending.size() && ix.descending[k]) create += " DESC";
    }
    c.Exec(create + ")", ctx);
  }
  CachedStmt s = c.Prepare(
      "INSERT INTO MSysIndexes(TableName, IndexName, SqliteName, IsPrimary, IsUnique, "
      "IsRequired, Fields) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
      ctx);
  sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 2, ix.name.c_str(), -1, SQLITE_TRANSIENT);
  if (isRowid)
    sqlite3_bind_null(s.get(), 3);
  else
    sqlite3_bind_text(s.get(), 3, sqliteName.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 4, ix.primary);
  sqlite3_bind_int(s.get(), 5, ix.unique || ix.primary);
  sqlite3_bind_int(s.get(), 6, ix.required || ix.primary);
  const std::string fields = IndexFieldsText(ix);
  sqlite3_bind_text(s.get(), 7, fields.c_str(), -1, SQLITE_TRANSIENT);
  s.Step(ctx);
}

void DatabaseCore::CreateIndex(const std::string& table, const IndexSpec& ix) {
  CheckWritable("create index '" + ix.name + "'");
  const TableInfo* t = FindTable(table);
  if (!t)
    Fail(kErrInputNotFound,
         "Cannot create index '" + ix.name + "': table '" + table + "' does not exist.");
  if (ix.name.empty()) Fail(kErrInvalidArgument, "An index of table '" + table + "' needs a name.");
  CheckObjectName(ix.name, "index");
  if (ix.fields.empty())
    Fail(kErrInvalidArgument, "Index '" + ix.name + "' of table '" + table + "' has no fields.");
  for (const auto& e : t->indexes) {
    if (EqualNoCase(e.name, ix.name))
      Fail(kErrNameExists, "Table '" + t->name + "' already has an index named '" + ix.name + "'.");
    if (e.primary && ix.primary)
      Fail(kErrInvalidArgument, "Table '" + t->name + "' already has a primary key.");
  }
  for (const auto& f : ix.fields)
    if (!t->Column(f))
      Fail(kErrItemNotFound, "Index '" + ix.name + "' names field '" + f + "', which table '" +
                                 t->name + "' does not have.");
  const std::string tableName = t->name;
  const std::string ctx = "Creating index '" + ix.name + "' on table '" + tableName + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    WriteIndex(tableName, ix, false, ctx);
  });
  InvalidateSchema();
}

void DatabaseCore::AddColumn(const std::string& table, const FieldSpec& f) {
  CheckWritable("add field '" + f.name + "' to table '" + table + "'");
  const TableInfo* t = FindTable(table);
  if (!t)
    Fail(kErrInputNotFound,
         "Cannot add field '" + f.name + "': table '" + table + "' does not exist.");
  if (f.name.empty()) Fail(kErrInvalidArgument, "A field of table '" + t->name + "' needs a name.");
  CheckObjectName(f.name, "field");
  if (t->Column(f.name))
    Fail(kErrNameExists, "Table '" + t->name + "' already has a field named '" + f.name + "'.");
  if (!IsKnownType(f.type))
    Fail(kErrInvalidArgument,
         "Field '" + f.name + "' has the unknown type " + std::to_string(f.type) + ".");
  if ((f.attributes & dbAutoIncrField) || f.required)
    Fail(kErrNotSupported, "Field '" + f.name + "' cannot be added to the existing table '" +
                               t->name + "' as an AutoNumber or Required field.");
  std::string tableName = t->name;
  std::string sql = "ALTER TABLE " + QuoteId(tableName) + " ADD COLUMN " + QuoteId(f.name) + " " +
                    StorageType(f.type);
  if (f.type == dbText || f.type == dbMemo) sql += std::string(" COLLATE ") + JetCollation();
  sql += ColumnChecks(tableName, f.name, f.type, f.size > 0 ? f.size : DefaultSize(f.type), false);
  int ordinal = static_cast<int>(t->columns.size());
  std::string ctx = "Adding field '" + f.name + "' to table '" + tableName + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    m_conn->Exec(sql, ctx);
    WriteColumn(tableName, f, ordinal, false, ctx);
  });
  InvalidateSchema();
}

void DatabaseCore::DropTable(const std::string& name) {
  CheckWritable("delete table '" + name + "'");
  const TableInfo* t = FindTable(name);
  if (!t) Fail(kErrItemNotFound, "Table '" + name + "' does not exist in '" + m_name + "'.");
  std::string tableName = t->name;
  std::string ctx = "Deleting table '" + tableName + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    Connection& c = *m_conn;
    c.Exec("DROP TABLE " + QuoteId(tableName), ctx);
    for (const char* sql : {"DELETE FROM MSysColumns WHERE TableName=?1",
                            "DELETE FROM MSysIndexes WHERE TableName=?1",
                            "DELETE FROM MSysAutoNumbers WHERE TableName=?1",
                            "DELETE FROM MSysProperties WHERE Kind IN (1,3,5) AND ObjectName=?1"}) {
      CachedStmt s = c.Prepare(sql, ctx);
      sqlite3_bind_text(s.get(), 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
      s.Step(ctx);
    }
  });
  InvalidateSchema();
}

void DatabaseCore::DropIndex(const std::string& table, const std::string& index) {
  CheckWritable("delete index '" + index + "'");
  const TableInfo* t = FindTable(table);
  if (!t) Fail(kErrInputNotFound, "Table '" + table + "' does not exist in '" + m_name + "'.");
  std::string ctx = "Deleting index '" + index + "' of table '" + t->name + "'";
  std::string tableName = t->name;
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    Connection& c = *m_conn;
    std::string sqliteName;
    bool found = false;
    {
      CachedStmt s =
          c.Prepare("SELECT SqliteName FROM MSysIndexes WHERE TableName=?1 AND IndexName=?2", ctx);
      sqlite3_bind_text(s.get(), 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(s.get(), 2, index.c_str(), -1, SQLITE_TRANSIENT);
      if (s.Step(ctx)) {
        found = true;
        sqliteName = ColumnText(s.get(), 0);
      }
    }
    if (!found)
      Fail(kErrItemNotFound, "Table '" + tableName + "' has no index named '" + index + "'.");
    if (!sqliteName.empty()) c.Exec("DROP INDEX " + QuoteId(sqliteName), ctx);
    for (const char* sql :
         {"DELETE FROM MSysIndexes WHERE TableName=?1 AND IndexName=?2",
          "DELETE FROM MSysProperties WHERE Kind=5 AND ObjectName=?1 AND SubName=?2"}) {
      CachedStmt d = c.Prepare(sql, ctx);
      sqlite3_bind_text(d.get(), 1, tableName.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(d.get(), 2, index.c_str(), -1, SQLITE_TRANSIENT);
      d.Step(ctx);
    }
  });
  InvalidateSchema();
}

void DatabaseCore::CreateView(const std::string& name, const std::string& jetSql) {
  SqlStatement st = TranslateJetStatement(jetSql, kErrQuerySyntax);
  if (st.kind != SqlStatement::Select) return;  // action queries are kept as text only
  KeyedSelect k = BuildKeyedSelect(jetSql, kErrQuerySyntax);
  m_conn->Exec("CREATE VIEW " + QuoteId(name) + " AS " + k.sql, "Creating query '" + name + "'");
}

void DatabaseCore::CreateQuery(const std::string& name, const std::string& jetSql) {
  CheckWritable("create query '" + name + "'");
  CheckNewName(name, "query");
  std::string ctx = "Creating query '" + name + "' in '" + m_name + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    CachedStmt s = m_conn->Prepare("INSERT INTO MSysQueries(Name, SQL) VALUES(?1, ?2)", ctx);
    sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, jetSql.c_str(), -1, SQLITE_TRANSIENT);
    s.Step(ctx);
    CreateView(name, jetSql);
  });
  InvalidateSchema();
}

void DatabaseCore::SetQuerySql(const std::string& name, const std::string& jetSql) {
  CheckWritable("change query '" + name + "'");
  if (!IsQuery(name))
    Fail(kErrItemNotFound, "Query '" + name + "' does not exist in '" + m_name + "'.");
  std::string ctx = "Changing the SQL of query '" + name + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    m_conn->Exec("DROP VIEW IF EXISTS " + QuoteId(name), ctx);
    CachedStmt s = m_conn->Prepare("UPDATE MSysQueries SET SQL=?2 WHERE Name=?1", ctx);
    sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 2, jetSql.c_str(), -1, SQLITE_TRANSIENT);
    s.Step(ctx);
    CreateView(name, jetSql);
  });
  InvalidateSchema();
}

void DatabaseCore::DropQuery(const std::string& name) {
  CheckWritable("delete query '" + name + "'");
  if (!IsQuery(name))
    Fail(kErrItemNotFound, "Query '" + name + "' does not exist in '" + m_name + "'.");
  std::string ctx = "Deleting query '" + name + "'";
  WriteAtomically(ctx, [&] {
    CatalogWrite catalog(*m_conn);
    m_conn->Exec("DROP VIEW IF EXISTS " + QuoteId(name), ctx);
    for (const char* sql : {"DELETE FROM MSysQueries WHERE Name=?1",
                            "DELETE FROM MSysProperties WHERE Kind IN (2,4) AND ObjectName=?1"}) {
      CachedStmt s = m_conn->Prepare(sql, ctx);
      sqlite3_bind_text(s.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      s.Step(ctx);
    }
  });
  InvalidateSchema();
}

std::vector<ColumnInfo> DatabaseCore::QueryColumns(const std::string& name) {
  auto sql = QuerySql(name);
  if (!sql) Fail(kErrItemNotFound, "Query '" + name + "' does not exist in '" + m_name + "'.");
  SqlStatement st = TranslateJetStatement(*sql, kErrQuerySyntax);
  if (st.kind != SqlStatement::Select) return {};
  RecordsetCore rs(shared_from_this(), "SELECT * FROM [" + name + "] WHERE 0 = 1");
  std::vector<ColumnInfo> cols;
  for (std::size_t i = 0; i < rs.FieldCount(); ++i) cols.push_back(rs.FieldAt(i).info);
  return cols;
}

}  // namespace dao
