// SDM: the static data model and its creator interface (see SDM.h).
#include "DataBase/AccessDriver/SDM.h"

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/Definitions.h"
#include "Platform/ComBase.h"
#include "Platform/OleAuto.h"
#include "Platform/Text.h"

namespace {

std::u16string_view View(BSTR bstr) {
  return {bstr != nullptr ? bstr : u"", SysStringLen(bstr)};
}

std::string Narrow(BSTR bstr) {
  return platform::WideToAnsi(View(bstr));
}

// Sets the thread's error info (source "SDM", the creator's interface) and
// answers hr.
HRESULT Fail(HRESULT hr, const std::string& description) noexcept {
  try {
    ICreateErrorInfo* pCreate = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&pCreate)) && pCreate != nullptr) {
      pCreate->SetGUID(IID_IComStaticDataModelCreator);
      std::u16string source = u"SDM";
      pCreate->SetSource(source.data());
      std::u16string text = platform::AnsiToWide(description);
      pCreate->SetDescription(text.data());
      IErrorInfo* pInfo = nullptr;
      if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo))) &&
          pInfo != nullptr) {
        SetErrorInfo(0, pInfo);
        pInfo->Release();
      }
      pCreate->Release();
    }
  } catch (...) {
    // Without error info the HRESULT still tells the failure.
  }
  return hr;
}

}  // namespace

template <class Fn>
HRESULT SDM::CreatorCall(const char* szOperation, Fn&& fn) noexcept {
  HRESULT hr = S_OK;
  std::string text;
  try {
    try {
      fn();
      return S_OK;
    } catch (const vem_error& e) {
      hr = e.code() != 0 && FAILED(e.code()) ? e.code() : E_FAIL;
      text = std::string(szOperation) + ": " + e.what();
    } catch (const _com_error& e) {
      hr = FAILED(e.Error()) ? e.Error() : E_FAIL;
      text = std::string(szOperation) + ": " + e.ErrorMessage();
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      text = std::string(szOperation) + ": out of memory";
    } catch (const std::exception& e) {
      hr = E_FAIL;
      text = std::string(szOperation) + ": " + e.what();
    } catch (...) {
      hr = E_FAIL;
      text = std::string(szOperation) + ": unknown failure";
    }
    if (m_pCallback != nullptr && m_hrDefinition == S_OK) {
      m_hrDefinition = hr;
      m_definitionFailure = text;
    }
  } catch (...) {
    // Out of memory for the text: the HRESULT alone tells the failure.
    if (m_pCallback != nullptr && m_hrDefinition == S_OK) m_hrDefinition = hr;
  }
  return Fail(hr, text);
}

SDM::SDM(IkivBackChannel* pBackChannel, IComStaticDataModelCallback* pCallback)
    : DataModel(pBackChannel), m_pCallback(pCallback) {
  try {
    Define();
  } catch (...) {
    m_pCallback = nullptr;
    throw;
  }
  m_pCallback = nullptr;
}

SDM::~SDM() = default;

STDMETHODIMP SDM::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComStaticDataModelCreator) {
    *ppvObject = Creator();
    AddRef();
    return S_OK;
  }
  *ppvObject = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SDM::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&m_lCreatorRefs));
}

STDMETHODIMP_(ULONG) SDM::Release() {
  return static_cast<ULONG>(InterlockedDecrement(&m_lCreatorRefs));
}

STDMETHODIMP SDM::AddFieldDef(LONG lID, BSTR bstrName, LONG lType, LONG lLen, VARIANT_BOOL bCrypt) {
  return CreatorCall("AddFieldDef", [&] {
    StoreFieldDef(std::make_shared<const SFieldDef>(lID, Narrow(bstrName), lType, lLen,
                                                    bCrypt != VARIANT_FALSE));
  });
}

STDMETHODIMP SDM::AddRecordDef(LONG lID, BSTR bstrName, LONG lDBID) {
  return CreatorCall("AddRecordDef", [&] {
    StoreRecordDef(std::make_unique<SRecordDef>(lID, Narrow(bstrName), lDBID));
  });
}

STDMETHODIMP SDM::AddFieldToRecordDef(LONG lRDID, LONG lFDID, VARIANT_BOOL bIdField,
                                      VARIANT_BOOL bAutoValue) {
  return CreatorCall("AddFieldToRecordDef", [&] {
    SRecordDef& recordDef = GetRecordDef(lRDID);
    recordDef.AddField(GetSharedFieldDef(lFDID), bIdField != VARIANT_FALSE,
                       bAutoValue != VARIANT_FALSE);
  });
}

STDMETHODIMP SDM::AddCommandDef(LONG lID, BSTR bstrName, LONG lDBID) {
  return CreatorCall("AddCommandDef", [&] {
    StoreCommandDef(std::make_unique<SCommandDef>(lID, Narrow(bstrName), lDBID));
  });
}

STDMETHODIMP SDM::AddDatabase(LONG lID, BSTR bstrName, BSTR bstrPassword) {
  return CreatorCall("AddDatabase", [&] {
    if (lID < 0)
      throw vem_error("database id " + std::to_string(lID) + " is out of range", E_INVALIDARG);
    std::u16string connect = u";PWD=";
    connect += View(bstrPassword);
    StoreDatabase(std::make_unique<DaoDatabase>(lID, Narrow(bstrName), false, false,
                                                platform::WideToAnsi(connect), this));
  });
}

void SDM::PreDataModelDefinition() {
  if (m_pCallback != nullptr) m_pCallback->preDataModelDefinition(Creator());
}

void SDM::DefDatabases() {
  if (m_pCallback != nullptr) m_pCallback->defDatabases(Creator());
}

void SDM::DefFieldDefs() {
  if (m_pCallback != nullptr) m_pCallback->defFieldDefs(Creator());
}

void SDM::DefRecordDefs() {
  if (m_pCallback != nullptr) m_pCallback->defRecordDefs(Creator());
}

void SDM::DefCommandDefs() {
  if (m_pCallback != nullptr) m_pCallback->defCommandDefs(Creator());
}

void SDM::PostDataModelDefinition() {
  if (m_pCallback != nullptr) m_pCallback->postDataModelDefinition(Creator());
}
