// DaoRecordsetStrategy: query building, navigation, finds and edits of a
// cursor over one record definition's table (see DaoRecordsetStrategy.h).
#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"

#include <cstdio>
#include <utility>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"

DaoRecordsetStrategy::DaoRecordsetStrategy(DaoDatabase& database, const SRecordDef& recordDef)
    : m_pModel(recordDef.m_pModel),
      m_database(database),
      m_recordDef(recordDef),
      m_loaderView(database, recordDef, m_pRecordset),
      m_saverView(database, recordDef, m_pRecordset) {}

std::string DaoRecordsetStrategy::TranslatePlaceholders(const SRecordDef& recordDef,
                                                        std::string text) {
  for (const std::shared_ptr<const SFieldDef>& pField : recordDef.m_fields) {
    char token[32];
    std::snprintf(token, sizeof token, "{%ld}", static_cast<long>(pField->m_lID));
    const std::string tokenText(token);
    std::size_t pos = 0;
    while ((pos = text.find(tokenText, pos)) != std::string::npos) {
      text.replace(pos, tokenText.size(), pField->m_name);
      pos += pField->m_name.size();
    }
  }
  return text;
}

std::string DaoRecordsetStrategy::BuildQuery() const {
  std::string query = "SELECT * FROM " + m_recordDef.m_name;
  if (!m_filter.empty()) query += " WHERE " + m_filter;
  if (!m_sort.empty()) query += " ORDER BY " + m_sort;
  return query;
}

dao::Recordset& DaoRecordsetStrategy::Recordset() {
  if (!m_pRecordset)
    IssueDriverComError(E_POINTER,
                        "the recordset strategy over " + m_recordDef.m_name + " is not open");
  return *m_pRecordset;
}

void DaoRecordsetStrategy::Open() {
  if (IsOpen()) return;
  const std::string query = BuildQuery();
  CallEngine(m_pModel, [&] {
    m_pRecordset = m_database.GetEngineDatabase().OpenRecordset(_bstr_t(query.c_str()));
    if (!m_pRecordset) _com_issue_error(E_POINTER);
  });
  if (!IsBOF()) {
    MoveLast();
    MoveFirst();
  }
}

void DaoRecordsetStrategy::Close() {
  if (!IsOpen()) return;
  CallEngine(m_pModel, [&] { m_pRecordset->Close(); });
  m_pRecordset.reset();
}

void DaoRecordsetStrategy::Refresh() {
  if (!IsOpen()) return;
  CallEngine(m_pModel, [&] { m_pRecordset->Requery(); });
}

LONG DaoRecordsetStrategy::GetPosition() {
  return CallEngine(m_pModel, [&] { return Recordset().GetAbsolutePosition(); });
}

LONG DaoRecordsetStrategy::GetRecordCount() {
  return CallEngine(m_pModel, [&] { return Recordset().GetRecordCount(); });
}

bool DaoRecordsetStrategy::IsBOF() {
  return CallEngine(m_pModel, [&] { return Recordset().GetBOF() != VARIANT_FALSE; });
}

bool DaoRecordsetStrategy::IsEOF() {
  return CallEngine(m_pModel, [&] { return Recordset().GetEOF() != VARIANT_FALSE; });
}

IDaoSaver& DaoRecordsetStrategy::BeginAppend(IRecord& rRecord) {
  CallEngine(m_pModel, [&] {
    Recordset().AddNew();
    m_saverView.BeginRecord();
    m_saverView.HandBackAutoValue(rRecord);
  });
  return m_saverView;
}

bool DaoRecordsetStrategy::FinishAppend() {
  CallEngine(m_pModel, [&] { m_saverView.UpdateRecord(); });
  return true;
}

IDaoSaver& DaoRecordsetStrategy::BeginUpdate() {
  CallEngine(m_pModel, [&] {
    Recordset().Edit();
    m_saverView.BeginRecord();
  });
  return m_saverView;
}

bool DaoRecordsetStrategy::FinishUpdate() {
  CallEngine(m_pModel, [&] { m_saverView.UpdateRecord(); });
  return true;
}

bool DaoRecordsetStrategy::MoveFailed(HRESULT hr) {
  ErrorTextFromCall(hr, m_pRecordset.get(), dao::IID_Recordset, m_pModel);
  return false;
}

bool DaoRecordsetStrategy::MoveTo(LONG lPosition) {
  dao::Recordset& recordset = Recordset();
  const HRESULT hr = recordset.put_AbsolutePosition(lPosition);
  if (FAILED(hr)) return MoveFailed(hr);
  if (recordset.GetBOF() != VARIANT_FALSE) return false;
  return recordset.GetEOF() == VARIANT_FALSE;
}

bool DaoRecordsetStrategy::MoveFirst() {
  dao::Recordset& recordset = Recordset();
  const HRESULT hr = recordset.raw_MoveFirst();
  if (FAILED(hr)) return MoveFailed(hr);
  return recordset.GetRecordCount() != 0;
}

bool DaoRecordsetStrategy::MovePrev() {
  dao::Recordset& recordset = Recordset();
  const HRESULT hr = recordset.raw_MovePrevious();
  if (FAILED(hr)) return MoveFailed(hr);
  return recordset.GetBOF() == VARIANT_FALSE;
}

bool DaoRecordsetStrategy::MoveNext() {
  dao::Recordset& recordset = Recordset();
  const HRESULT hr = recordset.raw_MoveNext();
  if (FAILED(hr)) return MoveFailed(hr);
  return recordset.GetEOF() == VARIANT_FALSE;
}

bool DaoRecordsetStrategy::MoveLast() {
  dao::Recordset& recordset = Recordset();
  const HRESULT hr = recordset.raw_MoveLast(0);
  if (FAILED(hr)) return MoveFailed(hr);
  return recordset.GetRecordCount() != 0;
}

template <class FindFn>
bool DaoRecordsetStrategy::Find(const std::string& condition, FindFn&& find) {
  const std::string criteria = TranslatePlaceholders(m_recordDef, condition);
  return CallEngine(m_pModel, [&] {
    dao::Recordset& recordset = Recordset();
    find(recordset, _bstr_t(criteria.c_str()));
    return recordset.GetNoMatch() == VARIANT_FALSE;
  });
}

bool DaoRecordsetStrategy::FindFirst(const std::string& condition) {
  return Find(condition, [](dao::Recordset& rs, const _bstr_t& c) { rs.FindFirst(c); });
}

bool DaoRecordsetStrategy::FindPrev(const std::string& condition) {
  return Find(condition, [](dao::Recordset& rs, const _bstr_t& c) { rs.FindPrevious(c); });
}

bool DaoRecordsetStrategy::FindNext(const std::string& condition) {
  return Find(condition, [](dao::Recordset& rs, const _bstr_t& c) { rs.FindNext(c); });
}

bool DaoRecordsetStrategy::FindLast(const std::string& condition) {
  return Find(condition, [](dao::Recordset& rs, const _bstr_t& c) { rs.FindLast(c); });
}

void DaoRecordsetStrategy::Filter(const std::string& condition) {
  m_filter = TranslatePlaceholders(m_recordDef, condition);
  if (IsOpen()) {
    Close();
    Open();
  }
}

void DaoRecordsetStrategy::Sort(const std::string& expression) {
  m_sort = TranslatePlaceholders(m_recordDef, expression);
  if (IsOpen()) {
    Close();
    Open();
  }
}

bool DaoRecordsetStrategy::HoldsNoText(LONG lFieldID) {
  return CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    return Recordset().GetCollect(field.m_vName).vt != VT_BSTR;
  });
}

void DaoRecordsetStrategy::Delete() {
  CallEngine(m_pModel, [&] { Recordset().Delete(); });
}
