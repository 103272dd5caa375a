// Execute: action queries and DDL.
#include "Engine/DatabaseCore.h"

namespace dao {

int DatabaseCore::Execute(const std::string& jetSql) {
  CheckOpen();
  DdlStatement ddl = ParseDdl(jetSql);
  switch (ddl.kind) {
    case DdlStatement::CreateTable:
      CreateTable(ddl.table);
      return 0;
    case DdlStatement::CreateIndex:
      CreateIndex(ddl.tableName, ddl.index);
      return 0;
    case DdlStatement::DropTable:
      DropTable(ddl.tableName);
      return 0;
    case DdlStatement::DropIndex:
      DropIndex(ddl.tableName, ddl.index.name);
      return 0;
    case DdlStatement::None:
      break;
  }
  std::string text = jetSql;
  if (auto stored = QuerySql(jetSql)) text = *stored;  // Execute "qryName"
  SqlStatement st = TranslateJetStatement(text, kErrQuerySyntax);
  if (st.kind == SqlStatement::Select)
    Fail(kErrExecuteSelect,
         "Cannot execute a select query ('" + jetSql + "'); Execute runs action queries only.");
  CheckWritable("execute '" + jetSql + "'");
  Connection& c = *m_conn;
  std::string ctx = "Execute '" + jetSql + "'";
  CachedStmt s = c.Prepare(st.sql, ctx);
  while (s.Step(ctx)) {
  }
  int changed = sqlite3_changes(c.db());
  c.BumpEpoch();
  return changed;
}

}  // namespace dao
