// Small helpers shared by the server's COM objects: the reference by which
// an object keeps its data model object alive, BSTR conversion, and the
// checks of required pointers.
#pragma once

#include <string>

#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"

namespace vemserver {

// One AddRef'd reference to a COM object, released on destruction. Every
// object made through a data model object holds one to it, declared before
// its driver object so that it is released after the driver object is gone.
class ComRef {
 public:
  explicit ComRef(IUnknown* p) noexcept : m_p(p) {
    if (m_p != nullptr) m_p->AddRef();
  }
  ~ComRef() {
    if (m_p != nullptr) m_p->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  IUnknown* get() const noexcept { return m_p; }

 private:
  IUnknown* m_p;
};

// The text of a BSTR in Windows-1252; a null BSTR is the empty text.
std::string NarrowBstr(BSTR bstr);

// Raises vem_error(E_POINTER) "<szMethod>: <szParameter> is null" for a
// null pointer.
void RequirePointer(const void* p, const char* szMethod, const char* szParameter);

inline VARIANT_BOOL ToVariantBool(bool b) noexcept {
  return b ? VARIANT_TRUE : VARIANT_FALSE;
}

// S_OK for a driver's true, E_FAIL for its false (opens, closes, finds).
inline HRESULT OkOrFail(bool b) noexcept {
  return b ? S_OK : E_FAIL;
}

// S_OK for a move done, S_FALSE for a move not done.
inline HRESULT OkOrFalse(bool b) noexcept {
  return b ? S_OK : S_FALSE;
}

}  // namespace vemserver
