#include "Support/RecordingBackChannel.h"

#include <string_view>
#include <utility>

#include "Platform/OleAuto.h"
#include "Platform/Text.h"

namespace vemtest {

namespace {

// Reads the BSTR's characters directly (length prefix), so that recording
// does not depend on anything but the BSTR layout.
std::optional<std::string> FromBstr(BSTR bstr) {
  if (bstr == nullptr) return std::nullopt;
  const UINT cch = SysStringLen(bstr);
  return platform::WideToAnsi(std::u16string_view(bstr, cch));
}

BackChannelCall Common(BackChannelCallKind kind, LONG lThreadId, LONG lTime, LONG lDeep,
                       LONG lCode) {
  BackChannelCall call;
  call.kind = kind;
  call.lThreadId = lThreadId;
  call.lTime = lTime;
  call.lDeep = lDeep;
  call.lCode = lCode;
  return call;
}

}  // namespace

std::vector<BackChannelCall> RecordingBackChannel::Calls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

std::vector<BackChannelCall> RecordingBackChannel::Calls(BackChannelCallKind kind) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<BackChannelCall> result;
  for (const BackChannelCall& call : m_calls)
    if (call.kind == kind) result.push_back(call);
  return result;
}

std::vector<std::string> RecordingBackChannel::TraceTexts() const {
  std::vector<std::string> texts;
  for (const BackChannelCall& call : Calls(BackChannelCallKind::Trace))
    texts.push_back(call.text1.value_or(std::string()));
  return texts;
}

void RecordingBackChannel::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.clear();
}

void RecordingBackChannel::Record(BackChannelCall call) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.push_back(std::move(call));
}

STDMETHODIMP RecordingBackChannel::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, IID_IkivBackChannel)) {
    *ppvObject = static_cast<IkivBackChannel*>(this);
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) RecordingBackChannel::AddRef() {
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) RecordingBackChannel::Release() {
  return --m_cRef;  // the owner (a test) destroys the object, never Release
}

STDMETHODIMP RecordingBackChannel::GetTypeInfoCount(UINT*) {
  return E_NOTIMPL;
}
STDMETHODIMP RecordingBackChannel::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}
STDMETHODIMP RecordingBackChannel::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}
STDMETHODIMP RecordingBackChannel::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                          EXCEPINFO*, UINT*) {
  return E_NOTIMPL;
}

STDMETHODIMP RecordingBackChannel::get_lTraceLevel(LONG* plTraceLevel) {
  if (plTraceLevel == nullptr) return E_POINTER;
  ++m_traceLevelReads;
  *plTraceLevel = m_lTraceLevel.load();
  return S_OK;
}

STDMETHODIMP RecordingBackChannel::put_lTraceLevel(LONG lTraceLevel) {
  m_lTraceLevel = lTraceLevel;
  return S_OK;
}

STDMETHODIMP RecordingBackChannel::Error(LONG lTreadId, LONG lTime, LONG lDeep, LONG lErrorCode,
                                         BSTR bstrText1, BSTR bstrText2, BSTR bstrText3) {
  BackChannelCall call = Common(BackChannelCallKind::Error, lTreadId, lTime, lDeep, lErrorCode);
  call.text1 = FromBstr(bstrText1);
  call.text2 = FromBstr(bstrText2);
  call.text3 = FromBstr(bstrText3);
  Record(std::move(call));
  return S_OK;
}

STDMETHODIMP RecordingBackChannel::Progress(LONG lTreadId, LONG lTime, LONG lDeep, LONG lTextCode,
                                            BSTR bstrText1, BSTR bstrText2, BSTR bstrText3,
                                            SHORT nPercent, SHORT eAction) {
  BackChannelCall call = Common(BackChannelCallKind::Progress, lTreadId, lTime, lDeep, lTextCode);
  call.text1 = FromBstr(bstrText1);
  call.text2 = FromBstr(bstrText2);
  call.text3 = FromBstr(bstrText3);
  call.nPercent = nPercent;
  call.eAction = eAction;
  Record(std::move(call));
  return S_OK;
}

STDMETHODIMP RecordingBackChannel::Info(LONG lTreadId, LONG lTime, LONG lDeep, LONG lTextCode,
                                        BSTR bstrText1, BSTR bstrText2, BSTR bstrText3) {
  BackChannelCall call = Common(BackChannelCallKind::Info, lTreadId, lTime, lDeep, lTextCode);
  call.text1 = FromBstr(bstrText1);
  call.text2 = FromBstr(bstrText2);
  call.text3 = FromBstr(bstrText3);
  Record(std::move(call));
  return S_OK;
}

STDMETHODIMP RecordingBackChannel::Trace(LONG lTreadId, LONG lTime, LONG lDeep, LONG lLevel,
                                         BSTR bstrText) {
  BackChannelCall call = Common(BackChannelCallKind::Trace, lTreadId, lTime, lDeep, lLevel);
  call.text1 = FromBstr(bstrText);
  Record(std::move(call));
  return S_OK;
}

STDMETHODIMP RecordingBackChannel::Data(LONG lTreadId, LONG lTime, LONG lDeep, VARIANT* varData) {
  BackChannelCall call = Common(BackChannelCallKind::Data, lTreadId, lTime, lDeep, 0);
  if (varData != nullptr) {
    call.vt = varData->vt;
    const SAFEARRAY* psa = (varData->vt & VT_ARRAY) ? varData->parray : nullptr;
    if (psa != nullptr) {
      call.cDims = psa->cDims;
      call.fFeatures = psa->fFeatures;
      call.cbElements = psa->cbElements;
      if (psa->cDims >= 1) {
        call.lLbound = psa->rgsabound[0].lLbound;
        call.cElements = psa->rgsabound[0].cElements;
      }
      // Copy now: the array lives only for this call.
      if (psa->cDims == 1 && psa->pvData != nullptr) {
        const BYTE* p = static_cast<const BYTE*>(psa->pvData);
        call.bytes.assign(p, p + static_cast<std::size_t>(call.cElements) * psa->cbElements);
      }
    }
  }
  Record(std::move(call));
  return S_OK;
}

}  // namespace vemtest
