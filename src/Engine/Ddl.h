// Jet DDL: the table, field and index descriptions the engine creates, and
// the parser for the DDL statements Execute accepts:
//   CREATE TABLE t (col type[(n)] [NOT NULL] [PRIMARY KEY|UNIQUE], ...,
//                   [CONSTRAINT c] PRIMARY KEY (cols) | UNIQUE (cols))
//   CREATE [UNIQUE] INDEX i ON t (col [ASC|DESC], ...) [WITH PRIMARY|DISALLOW NULL]
//   DROP TABLE t | DROP INDEX i ON t
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dao {

struct FieldSpec {
  std::string name;
  int type = 10;          // DataTypeEnum
  std::int32_t size = 0;  // 0: the type's default
  std::int32_t attributes = 0;
  bool required = false;
};

struct IndexSpec {
  std::string name;
  bool primary = false;
  bool unique = false;
  bool required = false;
  std::vector<std::string> fields;
  std::vector<bool> descending;
};

struct TableSpec {
  std::string name;
  std::vector<FieldSpec> fields;
  std::vector<IndexSpec> indexes;
};

struct DdlStatement {
  enum Kind { None, CreateTable, CreateIndex, DropTable, DropIndex } kind = None;
  TableSpec table;        // CreateTable
  std::string tableName;  // CreateIndex, DropTable, DropIndex
  IndexSpec index;        // CreateIndex, DropIndex (name)
};

// Parses `sql` when it is a DDL statement (kind None otherwise). A DDL text
// that does not parse raises 3290 naming the text.
DdlStatement ParseDdl(const std::string& sql);

// The DAO type (and attributes) of a Jet DDL type name; false if unknown.
bool DdlType(const std::string& name, int& type, std::int32_t& attributes);

}  // namespace dao
