// User-defined properties of the database and its objects (MSysProperties).
#include "Engine/DatabaseCore.h"

#include "Engine/CatalogText.h"

namespace dao {

std::string DatabaseCore::DescribeObject(const ObjectRef& ref) const {
  switch (ref.kind) {
    case ObjectKind::Database:
      return "database '" + m_name + "'";
    case ObjectKind::Table:
      return "table '" + ref.object + "'";
    case ObjectKind::Query:
      return "query '" + ref.object + "'";
    case ObjectKind::TableField:
      return "field '" + ref.sub + "' of table '" + ref.object + "'";
    case ObjectKind::QueryField:
      return "field '" + ref.sub + "' of query '" + ref.object + "'";
    case ObjectKind::Index:
      return "index '" + ref.sub + "' of table '" + ref.object + "'";
  }
  return "object";
}

std::vector<PropertyRecord> DatabaseCore::Properties(const ObjectRef& ref) {
  Connection& c = Conn();
  std::string ctx = "Reading the properties of " + DescribeObject(ref);
  CachedStmt s = c.Prepare(
      "SELECT Name, Type, Value FROM MSysProperties WHERE Kind=?1 AND ObjectName=?2 AND "
      "SubName=?3 ORDER BY rowid",
      ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<PropertyRecord> out;
  while (s.Step(ctx)) {
    PropertyRecord p;
    p.name = ColumnText(s.get(), 0);
    p.type = sqlite3_column_int(s.get(), 1);
    p.value = ReadColumn(s.get(), 2, p.type);
    out.push_back(std::move(p));
  }
  return out;
}

void DatabaseCore::AppendProperty(const ObjectRef& ref, const PropertyRecord& prop) {
  CheckWritable("add property '" + prop.name + "' to " + DescribeObject(ref));
  if (prop.name.empty())
    Fail(kErrInvalidArgument, "A property of " + DescribeObject(ref) + " needs a name.");
  if (!IsKnownType(prop.type))
    Fail(kErrInvalidArgument, "Property '" + prop.name + "' of " + DescribeObject(ref) +
                                  " has the unknown type " + std::to_string(prop.type) + ".");
  for (const auto& p : Properties(ref))
    if (EqualNoCase(p.name, prop.name))
      Fail(kErrNameExists,
           "Property '" + prop.name + "' already exists on " + DescribeObject(ref) + ".");
  Value v = ConvertToType(prop.value, prop.type,
                          "property '" + prop.name + "' of " + DescribeObject(ref));
  std::string ctx = "Adding property '" + prop.name + "' to " + DescribeObject(ref);
  CatalogWrite catalog(*m_conn);
  CachedStmt s = m_conn->Prepare(
      "INSERT INTO MSysProperties(Kind, ObjectName, SubName, Name, Type, Value) VALUES(?1, ?2, "
      "?3, ?4, ?5, ?6)",
      ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 4, prop.name.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int(s.get(), 5, prop.type);
  BindValue(s.get(), 6, v);
  s.Step(ctx);
}

void DatabaseCore::SetPropertyValue(const ObjectRef& ref, const std::string& name,
                                    const Value& value) {
  CheckWritable("change property '" + name + "' of " + DescribeObject(ref));
  int type = -1;
  for (const auto& p : Properties(ref))
    if (EqualNoCase(p.name, name)) type = p.type;
  if (type < 0)
    Fail(kErrPropertyNotFound, "Property '" + name + "' not found on " + DescribeObject(ref) + ".");
  Value v = ConvertToType(value, type, "property '" + name + "' of " + DescribeObject(ref));
  std::string ctx = "Changing property '" + name + "' of " + DescribeObject(ref);
  CatalogWrite catalog(*m_conn);
  CachedStmt s = m_conn->Prepare(
      "UPDATE MSysProperties SET Value=?5 WHERE Kind=?1 AND ObjectName=?2 AND SubName=?3 AND "
      "Name=?4",
      ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 4, name.c_str(), -1, SQLITE_TRANSIENT);
  BindValue(s.get(), 5, v);
  s.Step(ctx);
}

void DatabaseCore::DeleteProperty(const ObjectRef& ref, const std::string& name) {
  CheckWritable("delete property '" + name + "' of " + DescribeObject(ref));
  std::string ctx = "Deleting property '" + name + "' of " + DescribeObject(ref);
  CatalogWrite catalog(*m_conn);
  CachedStmt s = m_conn->Prepare(
      "DELETE FROM MSysProperties WHERE Kind=?1 AND ObjectName=?2 AND SubName=?3 AND Name=?4", ctx);
  sqlite3_bind_int(s.get(), 1, static_cast<int>(ref.kind));
  sqlite3_bind_text(s.get(), 2, ref.object.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 3, ref.sub.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(s.get(), 4, name.c_str(), -1, SQLITE_TRANSIENT);
  s.Step(ctx);
  if (sqlite3_changes(m_conn->db()) == 0)
    Fail(kErrItemNotFound, "Property '" + name + "' not found on " + DescribeObject(ref) + ".");
}

}  // namespace dao
