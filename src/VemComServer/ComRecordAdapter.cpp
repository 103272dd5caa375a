#include "VemComServer/ComRecordAdapter.h"

#include <string>

#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/ComUtil.h"
#include "Platform/Text.h"
#include "VemComServer/ComSupport.h"

namespace vemserver {

ComRecordAdapter::ComRecordAdapter(IComRecord* pRecord) noexcept : m_pRecord(pRecord) {
  m_pRecord->AddRef();
}

ComRecordAdapter::~ComRecordAdapter() {
  m_pRecord->Release();
}

LONG ComRecordAdapter::GetRecordDefId() {
  LONG lID = -1;
  const HRESULT hr = m_pRecord->GetRecordDefId(&lID);
  if (FAILED(hr)) throw vem_error("the client record's GetRecordDefId failed", hr);
  return lID;
}

void ComRecordAdapter::GetIdFieldValue(LONG lID, IdValue& value) {
  _variant_t v;
  m_pRecord->GetIdFieldValue(lID, &v);
  if (v.vt == VT_I4) {
    value.m_lKind = IdValue::kLong;
    value.m_lValue = v.lVal;
    value.m_text.clear();
  } else if (v.vt == VT_BSTR) {
    std::string text = NarrowBstr(v.bstrVal);
    value.m_lKind = IdValue::kText;
    value.m_lValue = 0;
    value.m_text = std::move(text);
  }
}

void ComRecordAdapter::SetIdFieldValue(LONG lID, const IdValue& value) {
  _variant_t v;
  if (value.m_lKind == IdValue::kLong) {
    v.vt = VT_I4;
    v.lVal = value.m_lValue;
  } else if (value.m_lKind == IdValue::kText) {
    const std::u16string wide = platform::AnsiToWide(value.m_text);
    BSTR bstr = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (bstr != nullptr) {
      v.vt = VT_BSTR;
      v.bstrVal = bstr;
    } else {
      v.vt = VT_ERROR;
      v.scode = E_OUTOFMEMORY;
    }
  }
  m_pRecord->SetIdFieldValue(lID, v);
}

}  // namespace vemserver
