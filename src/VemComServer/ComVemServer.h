// ComVemServer: the one class that clients create. Stateless; its two
// methods build a generic or a static data model and hand it out wrapped in
// a ComDataModel object. QueryInterface answers IUnknown,
// IComGenericAccessDataModel (the primary interface) and
// IComStaticAccessDataModel, nothing else.
#pragma once

#include "Platform/WinTypes.h"
#include "VemComServer/Module.h"
#include "vem/ComDataModel.h"

namespace vemserver {

// A new ComVemServer answering riid into *ppv (reference count 1), for the
// class factory. E_NOINTERFACE (and the object gone) for an interface it
// does not have, E_OUTOFMEMORY when it cannot be allocated.
HRESULT CreateComVemServer(REFIID riid, void** ppv) noexcept;

class ComVemServer final : public IComGenericAccessDataModel, public IComStaticAccessDataModel {
 public:
  ComVemServer() = default;
  ~ComVemServer() = default;

  ComVemServer(const ComVemServer&) = delete;
  ComVemServer& operator=(const ComVemServer&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // A generic model of the database at strDatabasePath (opened with
  // strPassword); the failure of its construction answers its HRESULT.
  STDMETHOD(CreateAccessDataModel)
  (IkivBackChannel* pIkivBackChannel, BSTR strDatabasePath, BSTR strPassword,
   IComDataModel** ppDataModel) override;
  // A static model declared by pDataModelCallback; a creator call that
  // failed while the model was being defined makes this call fail with that
  // call's HRESULT and description (and no model is handed out).
  STDMETHOD(CreateStaticAccessDataModel)
  (IkivBackChannel* pIkivBackChannel, IComStaticDataModelCallback* pDataModelCallback,
   IComDataModel** ppDataModel) override;

 private:
  ULONG m_cRef = 0;
  ModuleLock m_moduleLock;
};

}  // namespace vemserver
