// DaoSaver: the saver's own one-record recordset (see DaoSaver.h).
#include "DataBase/AccessDriver/DaoSaver.h"

#include <string>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/Definitions.h"

DaoSaver::DaoSaver(DaoDatabase& database, const SRecordDef& recordDef)
    : RecordWriter(database, recordDef, m_pOwnRecordset) {}

void DaoSaver::OpenQuery(IRecord& rRecord) {
  if (m_pOwnRecordset) return;
  const std::string sql = "SELECT * FROM " + m_recordDef.m_name + " WHERE " +
                          DaoDatabase::IdCondition(m_recordDef, rRecord);
  CallEngine(m_pModel, [&] {
    m_pOwnRecordset = m_database.GetEngineDatabase().OpenRecordset(_bstr_t(sql.c_str()));
  });
}

bool DaoSaver::Open(IRecord& rRecord) {
  OpenQuery(rRecord);
  CallEngine(m_pModel, [&] {
    if (m_pOwnRecordset->GetEOF() != VARIANT_FALSE) {
      m_pOwnRecordset.reset();
      throw vem_error(kVemErrRecordMissing);
    }
    m_pOwnRecordset->Edit();
    BeginRecord();
  });
  return static_cast<bool>(m_pOwnRecordset);
}

bool DaoSaver::OpenNew(IRecord& rRecord) {
  OpenQuery(rRecord);
  CallEngine(m_pModel, [&] {
    if (m_pOwnRecordset->GetEOF() == VARIANT_FALSE) {
      m_pOwnRecordset.reset();
      throw vem_error(kVemErrRecordExists);
    }
    m_pOwnRecordset->AddNew();
    BeginRecord();
    HandBackAutoValue(rRecord);
  });
  return static_cast<bool>(m_pOwnRecordset);
}

bool DaoSaver::Close() {
  if (m_pOwnRecordset) {
    CallEngine(m_pModel, [&] {
      UpdateRecord();
      m_pOwnRecordset->Close();
    });
    m_pOwnRecordset.reset();
  }
  return true;
}
