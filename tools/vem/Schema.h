// The JSON schema of `vem create`: a database described by hand, read into
// the builder's specifications (DatabaseBuilder.h) and checked before
// anything is made. The format is documented in tools/vem/README.md.
//
// Every error names its place: a JSON syntax error its line and column, a
// schema error the JSON pointer of the offending value
// ("/tables/2/fields/0/type"). Checks go beyond what the engine refuses:
// the model's rules too, so that a schema that loads gives a database from
// which the generic model derives what the schema says (an encrypted
// column large enough for its type, "BLOB" only on Long columns and only
// with the blob tables, known keys only, so that a misspelt key is not
// silently ignored).
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "DatabaseBuilder.h"
#include "Platform/WinTypes.h"

namespace vemtool {

// A database property of the schema's "properties" object.
struct SchemaProperty {
  std::string name;
  std::variant<LONG, double, bool, std::string> value;
  std::string where;  // JSON pointer
};

struct DatabaseSchema {
  ULONG driverVersion = 0x01010000;  // "driverVersion": "1.1" (default) or "1.0"
  bool blobTables = false;
  std::vector<SchemaProperty> properties;
  std::vector<TableSpec> tables;
  std::vector<std::string> tableWhere;  // JSON pointer of each table
  std::vector<QuerySpec> queries;
  std::vector<std::string> queryWhere;  // JSON pointer of each query
};

// Reads and checks the schema file. Raises CommandFailure with
// "<file>:<line>:<column>: ..." for a syntax error and "<file>: <pointer>:
// ..." for the first schema error.
DatabaseSchema LoadSchema(const std::string& path);

}  // namespace vemtool
