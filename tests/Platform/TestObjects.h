// Helpers for the platform tests: a reference-counted COM object whose count
// can be watched, and BSTR/VARIANT conveniences.
#pragma once

#include <atomic>
#include <string>

#include "Platform/OleAuto.h"
#include "Platform/Text.h"

namespace platformtest {

// Answers IUnknown, and ISupportErrorInfo when built with supportsErrorInfo;
// InterfaceSupportsErrorInfo confirms only `supported`. Starts with one
// reference and deletes itself at zero, so AddressSanitizer sees every
// missing or extra Release.
class TestObject final : public ISupportErrorInfo {
 public:
  explicit TestObject(bool supportsErrorInfo = false, const IID& supported = GUID_NULL)
      : m_supportsErrorInfo(supportsErrorInfo), m_supported(supported) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) ||
        (m_supportsErrorInfo && IsEqualIID(riid, IID_ISupportErrorInfo))) {
      *ppvObject = static_cast<ISupportErrorInfo*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, m_supported) ? S_OK : S_FALSE;
  }

 private:
  std::atomic<ULONG> m_refs{1};
  bool m_supportsErrorInfo;
  IID m_supported;
};

// The current reference count of an object, read through AddRef/Release.
inline ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

// A BSTR's text as UTF-8, for readable comparisons (null is "").
inline std::string Utf8(BSTR bstr) {
  return platform::WideToUtf8({bstr == nullptr ? u"" : bstr, SysStringLen(bstr)});
}

// A VARIANT that clears itself.
struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(const VARIANT& taken) : v(taken) {}
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  ~Var() { VariantClear(&v); }
  VARIANT* operator&() { return &v; }
};

}  // namespace platformtest
