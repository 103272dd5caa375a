#include "VemComServer/ClassFactory.h"

#include <mutex>

#include "Platform/ComBase.h"
#include "VemComServer/Module.h"

namespace vemserver {

HRESULT ClassFactory::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  *ppvObject = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  *ppvObject = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG ClassFactory::AddRef() {
  std::lock_guard<CritSection> guard(m_lock);
  const LONG lCount = InterlockedIncrement(&m_lRefCount);
  if (lCount == 2) LockModule();
  return static_cast<ULONG>(lCount);
}

ULONG ClassFactory::Release() {
  LONG lCount;
  {
    std::lock_guard<CritSection> guard(m_lock);
    lCount = InterlockedDecrement(&m_lRefCount);
    if (lCount == 1) UnlockModule();
  }
  if (lCount == 0) delete this;
  return static_cast<ULONG>(lCount);
}

HRESULT ClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
  if (ppvObject == nullptr) return E_POINTER;
  *ppvObject = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  return m_pfnCreate(riid, ppvObject);
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
  if (fLock)
    LockModule();
  else
    UnlockModule();
  return S_OK;
}

}  // namespace vemserver
