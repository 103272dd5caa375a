// RecordWriter: the shared typed writes of savers (see RecordWriter.h).
#include "DataBase/AccessDriver/RecordWriter.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DataBase/AccessDriver/IRecord.h"
#include "Platform/Text.h"
#include "Utility/Coding.h"

namespace {

_variant_t NullVariant() {
  _variant_t v;
  v.vt = VT_NULL;
  return v;
}

}  // namespace

RecordWriter::RecordWriter(DaoDatabase& database, const SRecordDef& recordDef,
                           dao::RecordsetPtr& rRecordsetInUse)
    : m_pModel(&DataModel::Of(recordDef)),
      m_database(database),
      m_recordDef(recordDef),
      m_rRecordset(rRecordsetInUse) {}

dao::Recordset& RecordWriter::CurrentRecordset() {
  if (!m_rRecordset)
    IssueDriverComError(E_POINTER, "no record is open for writing to " + m_recordDef.m_name);
  return *m_rRecordset;
}

bool RecordWriter::TargetIsFormat10() const {
  return (m_database.GetTargetDriverVersion() >> 16) == kCipherFormat10;
}

void RecordWriter::WriteEncrypted(const SFieldDef& field, dao::Recordset& recordset,
                                  const BYTE* pPlain, std::size_t n) {
  const _variant_t vId = m_recordDef.m_idFields.empty()
                             ? _variant_t()
                             : recordset.GetCollect(m_recordDef.m_idFields.front()->m_vName);
  // The text goes to the engine as the ASCII it is, from a buffer on the
  // stack for the usual short values.
  char stackText[EncryptedBufferSize(kStackTextChars)];
  std::vector<char> longText;
  char* pText = stackText;
  if (EncryptedBufferSize(n) > sizeof stackText) {
    longText.resize(EncryptedBufferSize(n));
    pText = longText.data();
  }
  m_database.GetCipher().Encrypt(m_recordDef.m_name, field.m_name, vId, pText, pPlain,
                                 static_cast<ULONG>(n), m_database.GetTargetDriverVersion());
  recordset.PutCollectText(field.m_vName, std::string_view(pText));
  m_bEnciphered = true;
}

void RecordWriter::UpdateRecord() {
  dao::Recordset& recordset = CurrentRecordset();
  if (!m_bEnciphered) {
    recordset.Update(dao::dbUpdateRegular, VARIANT_FALSE);
    return;
  }
  m_database.UpdateUnderKeyInForce([&] { recordset.Update(dao::dbUpdateRegular, VARIANT_FALSE); });
  m_bEnciphered = false;
}

void RecordWriter::Write(const SFieldDef& field, const _variant_t& vPlain, const BYTE* pPlain,
                         std::size_t n) {
  dao::Recordset& recordset = CurrentRecordset();
  if (field.m_bCrypt)
    WriteEncrypted(field, recordset, pPlain, n);
  else
    recordset.PutCollect(field.m_vName, vPlain);
}

void RecordWriter::WriteFixed(LONG lFieldID, const _variant_t& vPlain, const BYTE* pPlain,
                              std::size_t n) {
  CallEngine(m_pModel, [&] { Write(m_pModel->GetFieldDef(lFieldID), vPlain, pPlain, n); });
}

void RecordWriter::PutDate(LONG lFieldID, const DateParts& parts) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    double dDate = 0.0;
    if (!DatePartsToOleDate(parts, dDate)) {
      char text[96];
      std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u",
                    static_cast<unsigned>(parts.year), static_cast<unsigned>(parts.month),
                    static_cast<unsigned>(parts.day), static_cast<unsigned>(parts.hour),
                    static_cast<unsigned>(parts.minute), static_cast<unsigned>(parts.second),
                    static_cast<unsigned>(parts.millisecond));
      throw vem_error("invalid date " + std::string(text) + " for field " + field.m_name + " of " +
                          m_recordDef.m_name,
                      E_INVALIDARG);
    }
    BYTE bytes[kFixed64Size];
    EncodeFixed64(bytes, std::bit_cast<std::uint64_t>(dDate));
    Write(field, _variant_t(dDate), bytes, sizeof bytes);
  });
}

void RecordWriter::PutDouble(LONG lFieldID, double dValue) {
  BYTE bytes[kFixed64Size];
  EncodeFixed64(bytes, std::bit_cast<std::uint64_t>(dValue));
  WriteFixed(lFieldID, _variant_t(dValue), bytes, sizeof bytes);
}

void RecordWriter::PutFloat(LONG lFieldID, float fValue) {
  BYTE bytes[kFixed32Size];
  EncodeFixed32(bytes, std::bit_cast<std::uint32_t>(fValue));
  WriteFixed(lFieldID, _variant_t(fValue), bytes, sizeof bytes);
}

void RecordWriter::PutULong(LONG lFieldID, ULONG ulValue) {
  PutLong(lFieldID, static_cast<LONG>(ulValue));
}

void RecordWriter::PutLong(LONG lFieldID, LONG lValue) {
  BYTE bytes[kFixed32Size];
  EncodeFixed32(bytes, static_cast<std::uint32_t>(lValue));
  WriteFixed(lFieldID, _variant_t(lValue), bytes, sizeof bytes);
}

void RecordWriter::PutUShort(LONG lFieldID, USHORT usValue) {
  PutShort(lFieldID, static_cast<SHORT>(usValue));
}

void RecordWriter::PutShort(LONG lFieldID, SHORT sValue) {
  BYTE bytes[kFixed16Size];
  EncodeFixed16(bytes, static_cast<std::uint16_t>(sValue));
  WriteFixed(lFieldID, _variant_t(sValue), bytes, sizeof bytes);
}

void RecordWriter::PutUChar(LONG lFieldID, BYTE ucValue) {
  const BYTE bytes[1] = {ucValue};
  WriteFixed(lFieldID, _variant_t(ucValue), bytes, sizeof bytes);
}

void RecordWriter::PutChar(LONG lFieldID, std::int8_t cValue) {
  PutUChar(lFieldID, static_cast<BYTE>(cValue));
}

void RecordWriter::PutBool(LONG lFieldID, bool bValue) {
  const BYTE bytes[1] = {static_cast<BYTE>(bValue ? 1 : 0)};
  WriteFixed(lFieldID, _variant_t(bValue), bytes, sizeof bytes);
}

void RecordWriter::PutString(LONG lFieldID, const std::string& value) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    dao::Recordset& recordset = CurrentRecordset();
    if (!field.m_bCrypt) {
      if (value.empty())
        recordset.PutCollect(field.m_vName, NullVariant());
      else if (IsAsciiText(value))
        recordset.PutCollectText(field.m_vName, value);  // the same characters in UTF-8
      else
        recordset.PutCollect(field.m_vName, _variant_t(_bstr_t(platform::AnsiToWide(value))));
    } else if (value.empty() && TargetIsFormat10()) {
      recordset.PutCollect(field.m_vName, NullVariant());
    } else {
      WriteEncrypted(field, recordset, reinterpret_cast<const BYTE*>(value.data()), value.size());
    }
  });
}

void RecordWriter::PutVariant(LONG lFieldID, const VARIANT& vValue) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    dao::Recordset& recordset = CurrentRecordset();
    // Only a text has a length; NULL and EMPTY count as empty, any other
    // value (a number) as not empty.
    const bool bEmpty = vValue.vt == VT_NULL || vValue.vt == VT_EMPTY ||
                        (vValue.vt == VT_BSTR && SysStringLen(vValue.bstrVal) == 0);
    if (!field.m_bCrypt) {
      recordset.PutCollect(field.m_vName, bEmpty ? NullVariant() : _variant_t(vValue));
      return;
    }
    if (bEmpty && TargetIsFormat10()) {
      recordset.PutCollect(field.m_vName, NullVariant());
      return;
    }
    std::string text;
    if (vValue.vt == VT_BSTR) {
      text =
          platform::WideToAnsi(std::u16string_view(vValue.bstrVal, SysStringLen(vValue.bstrVal)));
    } else if (!bEmpty) {
      const _variant_t vSource(vValue);
      _variant_t vText;
      vText.ChangeType(VT_BSTR, &vSource);
      text = platform::WideToAnsi(std::u16string_view(vText.bstrVal, SysStringLen(vText.bstrVal)));
    }
    WriteEncrypted(field, recordset, reinterpret_cast<const BYTE*>(text.data()), text.size());
  });
}

void RecordWriter::SetBlob(LONG lFieldID, IBlobStrategy& rBlob) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    if (field.m_bCrypt) return;  // an encrypted BLOB field takes no blob id
    dao::Recordset& recordset = CurrentRecordset();
    const LONG lBlobId = rBlob.Save();
    recordset.PutCollect(field.m_vName, lBlobId == -1 ? NullVariant() : _variant_t(lBlobId));
  });
}

void RecordWriter::HandBackAutoValue(IRecord& rRecord) {
  const SRecordDef& recordDef = m_pModel->GetRecordDef(rRecord.GetRecordDefId());
  const std::shared_ptr<const SFieldDef>& pAuto = recordDef.m_pAutoValueField;
  if (!pAuto) return;
  IdValue value;
  rRecord.GetIdFieldValue(pAuto->m_lID, value);
  if (value.m_lKind == IdValue::kNone || pAuto->m_lType != static_cast<LONG>(FieldType::LONG))
    return;
  dao::FieldsPtr pFields = CurrentRecordset().GetFields();
  if (!pFields) _com_issue_error(E_POINTER);
  dao::FieldPtr pField = pFields->GetItem(pAuto->m_vName);
  if (!pField) _com_issue_error(E_POINTER);
  _variant_t vNumber = pField->GetValue();
  if (vNumber.vt != VT_I4) vNumber.ChangeType(VT_I4);
  IdValue assigned;
  assigned.m_lKind = IdValue::kLong;
  assigned.m_lValue = vNumber.lVal;
  rRecord.SetIdFieldValue(pAuto->m_lID, assigned);
}
