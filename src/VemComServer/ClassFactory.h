// The class factory of a creatable class: IUnknown and IClassFactory over
// one instance creator.
//
// Its reference count is interlocked and guarded by the factory's own
// critical section. The class table keeps the first reference; whenever the
// count rises to 2 (a client holds the factory) the factory takes one module
// lock, and gives it back when the count falls to 1 again, so a factory held
// by a client keeps the module loaded and one cached by the module does not.
#pragma once

#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"
#include "Utility/Thread.h"

namespace vemserver {

// Creates a new instance answering riid into *ppv (count 1), or fails with
// the object gone.
using InstanceCreator = HRESULT (*)(REFIID riid, void** ppv) noexcept;

class ClassFactory final : public IClassFactory {
 public:
  // A factory with reference count 1 (the class table's).
  explicit ClassFactory(InstanceCreator pfnCreate) noexcept : m_pfnCreate(pfnCreate) {}

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // E_POINTER for a null ppvObject; CLASS_E_NOAGGREGATION for any outer
  // object; otherwise the creator's result.
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
  // Adds (TRUE) or removes (FALSE) one module lock.
  STDMETHOD(LockServer)(BOOL fLock) override;

 private:
  ~ClassFactory() = default;

  CritSection m_lock;
  LONG m_lRefCount = 1;
  InstanceCreator m_pfnCreate;
};

}  // namespace vemserver
