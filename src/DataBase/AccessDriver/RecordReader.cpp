// RecordReader: the shared typed reads of loaders (see RecordReader.h).
#include "DataBase/AccessDriver/RecordReader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "Platform/Text.h"
#include "Utility/Coding.h"

RecordReader::RecordReader(DaoDatabase& database, const SRecordDef& recordDef,
                           dao::RecordsetPtr& rRecordsetInUse)
    : m_pModel(&DataModel::Of(recordDef)),
      m_database(database),
      m_recordDef(recordDef),
      m_rRecordset(rRecordsetInUse) {}

dao::Recordset& RecordReader::CurrentRecordset() {
  if (!m_rRecordset)
    IssueDriverComError(E_POINTER, "no record is open for reading from " + m_recordDef.m_name);
  return *m_rRecordset;
}

_variant_t RecordReader::FirstIdValue(dao::Recordset& recordset) {
  if (m_recordDef.m_idFields.empty()) return _variant_t();
  return recordset.GetCollect(m_recordDef.m_idFields.front()->m_vName);
}

LONG RecordReader::Decipher(const SFieldDef& field, dao::Recordset& recordset, BYTE*& pOut,
                            std::size_t capacity, std::vector<BYTE>* pLongText) {
  std::string_view stored;
  _variant_t vStored;
  if (recordset.GetCollectText(field.m_vName, stored, vStored) &&
      stored.size() <= kStackTextChars && IsAsciiText(stored)) {
    // The usual case: a short ASCII text (Base64 is ASCII), copied before
    // the id is read (the view lasts until the next engine call) and
    // deciphered from there, with no BSTR and no allocation.
    char text[kStackTextChars];
    const std::size_t chars = stored.size();
    std::memcpy(text, stored.data(), chars);
    if (pLongText != nullptr) capacity = std::min(capacity, chars);
    const _variant_t vId = FirstIdValue(recordset);
    return m_database.GetCipher().DecryptText(
        m_recordDef.m_name, field.m_name, vId, std::string_view(text, chars), pOut,
        static_cast<ULONG>(capacity), m_database.GetDriverVersion());
  }
  // Any other value (a long text, one that is no ASCII, or no text at all)
  // goes through the VARIANT as the engine gives it.
  if (vStored.vt == VT_EMPTY) vStored = recordset.GetCollect(field.m_vName);
  if (pLongText != nullptr) {
    const std::size_t chars = vStored.vt == VT_BSTR ? SysStringLen(vStored.bstrVal) : 0;
    if (chars > capacity) {
      pLongText->assign(chars, 0);
      pOut = pLongText->data();
    }
    capacity = chars;
  }
  const _variant_t vId = FirstIdValue(recordset);
  return m_database.GetCipher().Decrypt(m_recordDef.m_name, field.m_name, vId, vStored, pOut,
                                        static_cast<ULONG>(capacity),
                                        m_database.GetDriverVersion());
}

template <class TakePlain>
void RecordReader::ReadFixed(LONG lFieldID, VARTYPE vt, BYTE* bytes, std::size_t n,
                             TakePlain&& takePlain) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    dao::Recordset& recordset = CurrentRecordset();
    if (field.m_bCrypt) {
      Decipher(field, recordset, bytes, n, nullptr);
      return;
    }
    _variant_t vValue = recordset.GetCollect(field.m_vName);
    if (vValue.vt != vt) vValue.ChangeType(vt);
    takePlain(vValue);
  });
}

void RecordReader::GetDate(LONG lFieldID, DateParts& parts) {
  // NaN until a value arrives: a stored value that delivers no bytes leaves
  // the parts untouched (OleDateToDateParts ignores NaN).
  double dDate = std::numeric_limits<double>::quiet_NaN();
  BYTE bytes[kFixed64Size];
  EncodeFixed64(bytes, std::bit_cast<std::uint64_t>(dDate));
  bool bPlain = false;
  ReadFixed(lFieldID, VT_R8, bytes, sizeof bytes, [&](const _variant_t& v) {
    dDate = v.dblVal;
    bPlain = true;
  });
  if (!bPlain) dDate = std::bit_cast<double>(DecodeFixed64(bytes));
  OleDateToDateParts(dDate, parts);
}

void RecordReader::GetDouble(LONG lFieldID, double& dValue) {
  BYTE bytes[kFixed64Size];
  EncodeFixed64(bytes, std::bit_cast<std::uint64_t>(dValue));
  bool bPlain = false;
  ReadFixed(lFieldID, VT_R8, bytes, sizeof bytes, [&](const _variant_t& v) {
    dValue = v.dblVal;
    bPlain = true;
  });
  if (!bPlain) dValue = std::bit_cast<double>(DecodeFixed64(bytes));
}

void RecordReader::GetFloat(LONG lFieldID, float& fValue) {
  BYTE bytes[kFixed32Size];
  EncodeFixed32(bytes, std::bit_cast<std::uint32_t>(fValue));
  bool bPlain = false;
  ReadFixed(lFieldID, VT_R4, bytes, sizeof bytes, [&](const _variant_t& v) {
    fValue = v.fltVal;
    bPlain = true;
  });
  if (!bPlain) fValue = std::bit_cast<float>(DecodeFixed32(bytes));
}

void RecordReader::GetULong(LONG lFieldID, ULONG& ulValue) {
  BYTE bytes[kFixed32Size];
  EncodeFixed32(bytes, ulValue);
  bool bPlain = false;
  ReadFixed(lFieldID, VT_I4, bytes, sizeof bytes, [&](const _variant_t& v) {
    ulValue = static_cast<ULONG>(v.lVal);
    bPlain = true;
  });
  if (!bPlain) ulValue = DecodeFixed32(bytes);
}

void RecordReader::GetLong(LONG lFieldID, LONG& lValue) {
  ULONG ulValue = static_cast<ULONG>(lValue);
  GetULong(lFieldID, ulValue);
  lValue = static_cast<LONG>(ulValue);
}

void RecordReader::GetUShort(LONG lFieldID, USHORT& usValue) {
  BYTE bytes[kFixed16Size];
  EncodeFixed16(bytes, usValue);
  bool bPlain = false;
  ReadFixed(lFieldID, VT_I2, bytes, sizeof bytes, [&](const _variant_t& v) {
    usValue = static_cast<USHORT>(v.iVal);
    bPlain = true;
  });
  if (!bPlain) usValue = DecodeFixed16(bytes);
}

void RecordReader::GetShort(LONG lFieldID, SHORT& sValue) {
  USHORT usValue = static_cast<USHORT>(sValue);
  GetUShort(lFieldID, usValue);
  sValue = static_cast<SHORT>(usValue);
}

void RecordReader::GetUChar(LONG lFieldID, BYTE& ucValue) {
  BYTE bytes[1] = {ucValue};
  bool bPlain = false;
  ReadFixed(lFieldID, VT_UI1, bytes, sizeof bytes, [&](const _variant_t& v) {
    ucValue = v.bVal;
    bPlain = true;
  });
  if (!bPlain) ucValue = bytes[0];
}

void RecordReader::GetChar(LONG lFieldID, std::int8_t& cValue) {
  BYTE ucValue = static_cast<BYTE>(cValue);
  GetUChar(lFieldID, ucValue);
  cValue = static_cast<std::int8_t>(ucValue);
}

void RecordReader::GetBool(LONG lFieldID, bool& bValue) {
  BYTE bytes[1] = {static_cast<BYTE>(bValue ? 1 : 0)};
  bool bPlain = false;
  ReadFixed(lFieldID, VT_BOOL, bytes, sizeof bytes, [&](const _variant_t& v) {
    bValue = v.boolVal != 0;
    bPlain = true;
  });
  if (!bPlain) bValue = bytes[0] != 0;
}

void RecordReader::DecryptText(const SFieldDef& field, dao::Recordset& recordset,
                               std::string& value) {
  // The stored text's length bounds the plain length (Base64 and the header
  // only add to it): short texts are deciphered on the stack, longer ones
  // into a buffer of their length.
  BYTE stackPlain[kStackTextChars];
  std::vector<BYTE> longPlain;
  BYTE* pPlain = stackPlain;
  const LONG lLength = Decipher(field, recordset, pPlain, sizeof stackPlain, &longPlain);
  const std::size_t length = lLength > 0 ? static_cast<std::size_t>(lLength) : 0;
  value.assign(reinterpret_cast<const char*>(pPlain), length);
  WipeBytes(pPlain, length);
}

void RecordReader::GetString(LONG lFieldID, std::string& value) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    dao::Recordset& recordset = CurrentRecordset();
    if (field.m_bCrypt) {
      DecryptText(field, recordset, value);
      return;
    }
    std::string_view stored;
    _variant_t vOther;
    if (!recordset.GetCollectText(field.m_vName, stored, vOther))
      value.clear();  // NULL or any other type: the empty text
    else if (IsAsciiText(stored))
      value.assign(stored);  // the same bytes in Windows-1252
    else
      value = platform::WideToAnsi(platform::Utf8ToWide(stored));
  });
}

void RecordReader::GetVariant(LONG lFieldID, VARIANT& vValue) {
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    dao::Recordset& recordset = CurrentRecordset();
    _variant_t vResult;
    if (field.m_bCrypt) {
      std::string text;
      DecryptText(field, recordset, text);
      vResult = _bstr_t(platform::AnsiToWide(text));
    } else {
      vResult = recordset.GetCollect(field.m_vName);
    }
    VariantClear(&vValue);
    vValue = vResult.Detach();
  });
}

void RecordReader::GetBlob(LONG lFieldID, IBlobStrategy& rBlob) {
  LONG lBlobId = -1;
  bool bBind = false;
  CallEngine(m_pModel, [&] {
    const SFieldDef& field = m_pModel->GetFieldDef(lFieldID);
    const _variant_t vValue = CurrentRecordset().GetCollect(field.m_vName);
    if (field.m_bCrypt) return;  // an encrypted BLOB field holds no blob id
    lBlobId = vValue.vt == VT_I4 ? vValue.lVal : -1;
    bBind = true;
  });
  if (bBind) rBlob.Load(lBlobId);
}
