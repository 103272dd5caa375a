// Error information objects and the per-thread error slot (OleAuto.h).
//
// CreateErrorInfo makes one object that is both the builder
// (ICreateErrorInfo) and the result (IErrorInfo). Each thread has one slot
// holding at most one IErrorInfo reference: SetErrorInfo replaces it,
// GetErrorInfo hands it to the caller and empties it, and the thread's end
// releases whatever is still there.
#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "Platform/OleAuto.h"

namespace {

class ErrorInfoObject final : public IErrorInfo, public ICreateErrorInfo {
 public:
  // IUnknown, shared by both interfaces.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IErrorInfo)) {
      *ppvObject = static_cast<IErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_ICreateErrorInfo)) {
      *ppvObject = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppvObject = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return m_refs.fetch_add(1) + 1; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = m_refs.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

  // IErrorInfo. Texts that were never set (or set empty) come back as null
  // BSTRs, which count as empty texts.
  STDMETHODIMP GetGUID(GUID* pGUID) override {
    if (pGUID == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_lock);
    *pGUID = m_guid;
    return S_OK;
  }
  STDMETHODIMP GetSource(BSTR* pBstrSource) override { return Get(m_source, pBstrSource); }
  STDMETHODIMP GetDescription(BSTR* pBstrDescription) override {
    return Get(m_description, pBstrDescription);
  }
  STDMETHODIMP GetHelpFile(BSTR* pBstrHelpFile) override { return Get(m_helpFile, pBstrHelpFile); }
  STDMETHODIMP GetHelpContext(DWORD* pdwHelpContext) override {
    if (pdwHelpContext == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_lock);
    *pdwHelpContext = m_helpContext;
    return S_OK;
  }

  // ICreateErrorInfo. A null text clears the field.
  STDMETHODIMP SetGUID(REFGUID rguid) override {
    std::lock_guard lock(m_lock);
    m_guid = rguid;
    return S_OK;
  }
  STDMETHODIMP SetSource(LPOLESTR szSource) override { return Set(m_source, szSource); }
  STDMETHODIMP SetDescription(LPOLESTR szDescription) override {
    return Set(m_description, szDescription);
  }
  STDMETHODIMP SetHelpFile(LPOLESTR szHelpFile) override { return Set(m_helpFile, szHelpFile); }
  STDMETHODIMP SetHelpContext(DWORD dwHelpContext) override {
    std::lock_guard lock(m_lock);
    m_helpContext = dwHelpContext;
    return S_OK;
  }

 private:
  HRESULT Get(const std::u16string& field, BSTR* pOut) {
    if (pOut == nullptr) return E_INVALIDARG;
    std::lock_guard lock(m_lock);
    *pOut = nullptr;
    if (field.empty()) return S_OK;
    *pOut = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
    return *pOut == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT Set(std::u16string& field, const OLECHAR* text) {
    try {
      std::u16string value = text == nullptr ? std::u16string() : std::u16string(text);
      std::lock_guard lock(m_lock);
      field = std::move(value);
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> m_refs{1};
  // The object may be read on another thread than the one that built it.
  std::mutex m_lock;
  // Guarded by m_lock:
  GUID m_guid = GUID_NULL;
  std::u16string m_source;
  std::u16string m_description;
  std::u16string m_helpFile;
  DWORD m_helpContext = 0;
};

// The calling thread's current error information: one owned reference or
// null. Released when the thread ends.
class ErrorSlot {
 public:
  constexpr ErrorSlot() = default;
  ErrorSlot(const ErrorSlot&) = delete;
  ErrorSlot& operator=(const ErrorSlot&) = delete;
  ~ErrorSlot() { Replace(nullptr); }

  // Takes one reference to perrinfo (null empties the slot).
  void Replace(IErrorInfo* perrinfo) {
    if (perrinfo != nullptr) perrinfo->AddRef();
    // Detach the old object before releasing it: its clean-up may set new
    // error information on this thread.
    IErrorInfo* old = std::exchange(m_current, perrinfo);
    if (old != nullptr) old->Release();
  }

  // Hands the owned reference to the caller.
  IErrorInfo* Take() { return std::exchange(m_current, nullptr); }

 private:
  IErrorInfo* m_current = nullptr;
};

thread_local ErrorSlot t_errorSlot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  auto* object = new (std::nothrow) ErrorInfoObject();
  if (object == nullptr) return E_OUTOFMEMORY;
  *pperrinfo = object;  // the one reference the object starts with
  return S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  t_errorSlot.Replace(perrinfo);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = t_errorSlot.Take();
  return *pperrinfo != nullptr ? S_OK : S_FALSE;
}
