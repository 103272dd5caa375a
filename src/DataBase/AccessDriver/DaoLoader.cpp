// DaoLoader: the loader's own one-record recordset (see DaoLoader.h).
#include "DataBase/AccessDriver/DaoLoader.h"

#include <string>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/Definitions.h"

DaoLoader::DaoLoader(DaoDatabase& database, const SRecordDef& recordDef)
    : RecordReader(database, recordDef, m_pOwnRecordset) {}

bool DaoLoader::Open(IRecord& rRecord) {
  if (!m_pOwnRecordset) {
    const std::string sql = "SELECT * FROM " + m_recordDef.m_name + " WHERE " +
                            DaoDatabase::IdCondition(m_recordDef, rRecord) + ";";
    CallEngine(m_pModel, [&] {
      m_pOwnRecordset = m_database.GetEngineDatabase().OpenRecordset(_bstr_t(sql.c_str()));
    });
  }
  return static_cast<bool>(m_pOwnRecordset);
}

bool DaoLoader::Close() {
  if (m_pOwnRecordset) {
    CallEngine(m_pModel, [&] { m_pOwnRecordset->Close(); });
    m_pOwnRecordset.reset();
  }
  return true;
}
