// DatabaseBuilder: makes database files through the engine the way a user
// prepares a database for the server: tables with Jet types, primary keys,
// AutoNumbers and indexes, queries with their SQL, and the "Description" and
// "Enum" properties on tables, queries and fields that the generic model
// reads; database properties; the two blob tables.
//
// Used by `vem create` (from a JSON schema) and by the tests' fixture
// database. Names, descriptions and SQL are UTF-8. Every operation raises
// _com_error as the engine does; a caller that wants no half-made file
// builds into a temporary file and removes it on failure (`vem create`).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Engine/Dao.h"
#include "Platform/WinTypes.h"

namespace vemtool {

// A column of a table. type is a DAO DataTypeEnum value (dao::dbLong, ...).
struct FieldSpec {
  std::string name{};
  short type = dao::dbLong;
  LONG size = 0;  // Text columns; 0 gives the engine's default
  bool autoNumber = false;
  std::optional<std::string> description{};
  std::optional<LONG> enumId{};
  bool required = false;
};

// A secondary index (the primary key is TableSpec::primaryKey).
struct IndexSpec {
  std::string name{};
  std::vector<std::string> fields{};
  bool unique = false;
};

struct TableSpec {
  std::string name{};
  std::vector<FieldSpec> fields{};
  std::vector<std::string> primaryKey{};  // field names; none: no primary index
  std::optional<std::string> description{};
  std::optional<LONG> enumId{};
  std::vector<IndexSpec> indexes{};
};

// A stored query; field properties are set on the query's fields by name.
struct QuerySpec {
  std::string name{};
  std::string sql{};
  std::optional<std::string> description{};
  std::optional<LONG> enumId{};
  std::vector<std::pair<std::string, std::string>> fieldDescriptions{};
  std::vector<std::pair<std::string, LONG>> fieldEnums{};
};

// A new database file at path (";PWD=" + password when not empty).
dao::DatabasePtr CreateDatabase(const std::string& path, const std::string& password = "");

void AddTable(dao::Database& db, const TableSpec& table);
void AddQuery(dao::Database& db, const QuerySpec& query);
// Set a database property, creating and appending it when missing.
void SetLongProperty(dao::Database& db, const std::string& name, LONG lValue);
void SetTextProperty(dao::Database& db, const std::string& name, const std::string& value);
void SetBoolProperty(dao::Database& db, const std::string& name, bool bValue);
void SetDoubleProperty(dao::Database& db, const std::string& name, double dValue);
// Creates tblBLOB_FILES and tblBLOB_BLOCKS, the blob store's tables.
void AddBlobTables(dao::Database& db);

}  // namespace vemtool
