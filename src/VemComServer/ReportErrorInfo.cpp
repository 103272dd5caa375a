#include "VemComServer/ReportErrorInfo.h"

#include <cstdio>
#include <exception>
#include <new>

#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/ComBase.h"
#include "Platform/ComUtil.h"
#include "Platform/Text.h"
#include "Platform/Unknwn.h"

void ReportErrorInfo(REFCLSID clsid, LPCOLESTR szDescription, REFIID iid) noexcept {
  ICreateErrorInfo* pCreate = nullptr;
  if (FAILED(CreateErrorInfo(&pCreate)) || pCreate == nullptr) return;
  pCreate->SetGUID(iid);
  // The source is the class's ProgID when it has one (only registered
  // classes do); none is no failure.
  LPOLESTR szProgId = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(clsid, &szProgId)) && szProgId != nullptr) {
    pCreate->SetSource(szProgId);
    CoTaskMemFree(szProgId);
  }
  pCreate->SetDescription(const_cast<LPOLESTR>(szDescription));
  IErrorInfo* pInfo = nullptr;
  if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo))) &&
      pInfo != nullptr) {
    SetErrorInfo(0, pInfo);
    pInfo->Release();
  }
  pCreate->Release();
}

void ReportErrorInfo(REFCLSID clsid, const std::string& description, REFIID iid) noexcept {
  try {
    const std::u16string text = platform::AnsiToWide(description);
    ReportErrorInfo(clsid, text.c_str(), iid);
  } catch (...) {
    // Without error information the HRESULT still tells the failure.
  }
}

namespace vemserver {

HRESULT FailureToHresult(REFCLSID clsid, REFIID iid) noexcept {
  HRESULT hr = E_UNEXPECTED;
  std::string text;
  try {
    throw;
  } catch (const vem_error& e) {
    hr = e.code() != 0 ? static_cast<HRESULT>(e.code()) : E_FAIL;
    if (SUCCEEDED(hr)) hr = E_FAIL;
    try {
      text = e.what();
    } catch (...) {
    }
  } catch (const _com_error& e) {
    hr = FAILED(e.Error()) ? e.Error() : E_FAIL;
    try {
      text = static_cast<const char*>(e.Description());
      if (text.empty()) text = e.ErrorMessage();
    } catch (...) {
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
    text = "out of memory";
  } catch (const std::exception& e) {
    try {
      text = e.what();
    } catch (...) {
    }
  } catch (...) {
    text = "unknown failure";
  }
  if (text.empty()) {
    char code[32];
    std::snprintf(code, sizeof code, "failure 0x%X", static_cast<unsigned>(hr));
    text = code;
  }
  ReportErrorInfo(clsid, text, iid);
  return hr;
}

}  // namespace vemserver
