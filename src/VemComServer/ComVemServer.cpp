#include "VemComServer/ComVemServer.h"

#include <memory>
#include <new>
#include <string>
#include <utility>

#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/GADM.h"
#include "DataBase/AccessDriver/SDM.h"
#include "VemComServer/ComDataModel.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/ReportErrorInfo.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

// Hands out the data model object's IComDataModel (reference count 1); the
// object, with its model, is destroyed when that fails.
HRESULT HandOut(std::unique_ptr<ComDataModel> pObject, IComDataModel** ppDataModel) {
  const HRESULT hr =
      pObject->QueryInterface(IID_IComDataModel, reinterpret_cast<void**>(ppDataModel));
  if (SUCCEEDED(hr)) pObject.release();  // owned by its reference count now
  return hr;
}

}  // namespace

HRESULT CreateComVemServer(REFIID riid, void** ppv) noexcept {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  auto* pServer = new (std::nothrow) ComVemServer;
  if (pServer == nullptr) return E_OUTOFMEMORY;
  pServer->AddRef();
  const HRESULT hr = pServer->QueryInterface(riid, ppv);
  pServer->Release();  // gone when the interface was refused
  return hr;
}

STDMETHODIMP ComVemServer::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComGenericAccessDataModel) {
    *ppv = static_cast<IComGenericAccessDataModel*>(this);
  } else if (riid == IID_IComStaticAccessDataModel) {
    *ppv = static_cast<IComStaticAccessDataModel*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ComVemServer::AddRef() {
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) ComVemServer::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP ComVemServer::CreateAccessDataModel(IkivBackChannel* pIkivBackChannel,
                                                 BSTR strDatabasePath, BSTR strPassword,
                                                 IComDataModel** ppDataModel) {
  return ComBoundary(CLSID_ComVemServer, IID_IComGenericAccessDataModel, [&] {
    RequirePointer(ppDataModel, "IComGenericAccessDataModel::CreateAccessDataModel", "ppDataModel");
    *ppDataModel = nullptr;
    auto pObject = std::make_unique<ComDataModel>();
    pObject->Attach(std::make_unique<GADM>(pIkivBackChannel, NarrowBstr(strDatabasePath),
                                           NarrowBstr(strPassword)));
    return HandOut(std::move(pObject), ppDataModel);
  });
}

STDMETHODIMP ComVemServer::CreateStaticAccessDataModel(
    IkivBackChannel* pIkivBackChannel, IComStaticDataModelCallback* pDataModelCallback,
    IComDataModel** ppDataModel) {
  return ComBoundary(CLSID_ComVemServer, IID_IComStaticAccessDataModel, [&] {
    RequirePointer(ppDataModel, "IComStaticAccessDataModel::CreateStaticAccessDataModel",
                   "ppDataModel");
    *ppDataModel = nullptr;
    auto pObject = std::make_unique<ComDataModel>();
    auto pModel = std::make_unique<SDM>(pIkivBackChannel, pDataModelCallback);
    if (FAILED(pModel->DefinitionResult()))
      throw vem_error("the static data model was not defined: " + pModel->DefinitionFailure(),
                      pModel->DefinitionResult());
    pObject->Attach(std::move(pModel));
    return HandOut(std::move(pObject), ppDataModel);
  });
}

}  // namespace vemserver
