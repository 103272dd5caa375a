// ComBlobStrategy: the COM face of one driver blob strategy (IBlobStrategy):
// whether it stands on a blob, its length, reading and writing it through
// streams (its one ComIOStream) or raw platform handles, and its reference
// count operations. QueryInterface answers IUnknown and IComBlobStrategy.
//
// Made by a data model object (CreateComBlobStrategy) or by Clone; holds a
// reference to that data model object, released after the driver blob
// strategy is destroyed, so that the model outlives every use. The stream
// object shares this object's reference count (see ComIOStream.h).
//
// Loaders and savers take a blob object only when it was made by this
// server for the same data model (DriverBlobOf).
#pragma once

#include <memory>

#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "VemComServer/ComIOStream.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/Module.h"
#include "vem/ComBlob.h"

namespace vemserver {

class ComBlobStrategy final : public IComBlobStrategy {
 public:
  // pModelObject: the data model object to keep alive.
  explicit ComBlobStrategy(IUnknown* pModelObject);
  ~ComBlobStrategy();

  ComBlobStrategy(const ComBlobStrategy&) = delete;
  ComBlobStrategy& operator=(const ComBlobStrategy&) = delete;

  // Takes the driver blob strategy (destroying one held before).
  void Attach(std::unique_ptr<IBlobStrategy> pBlob);

  // The driver blob strategy of pComBlob, a blob object of this server made
  // for the data model object pModelObject. vem_error E_POINTER for null,
  // E_INVALIDARG for an object made elsewhere or for another data model.
  static IBlobStrategy& DriverBlobOf(IComBlobStrategy* pComBlob, IUnknown* pModelObject,
                                     const char* szMethod);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  STDMETHOD(Clone)(IComBlobStrategy** ppBlobStrat) override;
  STDMETHOD(IsPresent)(VARIANT_BOOL* bRetVal) override;
  STDMETHOD(GetLength)(LONG* lRetVal) override;
  // The driver's handle is a small key of the platform's handle table; one
  // that does not fit the 32-bit out parameter is closed and refused
  // (E_FAIL). A driver that gives no handle answers E_FAIL (handle 0).
  STDMETHOD(OpenReadHandle)(ULONG* pulDataLength, ULONG* pHandle) override;
  STDMETHOD(CloseReadHandle)() override;
  STDMETHOD(OpenWriteHandle)(ULONG* pHandle) override;
  STDMETHOD(CloseWriteHandle)() override;
  STDMETHOD(OpenRead)(IkivIStream** ppComReadStream) override;
  STDMETHOD(CloseRead)() override;
  STDMETHOD(OpenWrite)(IkivOStream** ppComWriteStream) override;
  STDMETHOD(CloseWrite)() override;
  STDMETHOD(Erase)() override;
  STDMETHOD(new_)() override;
  STDMETHOD(delete_)() override;

 private:
  IBlobStrategy& Driver();
  ComIOStream& Stream();

  ULONG m_cRef = 0;
  ModuleLock m_moduleLock;
  ComRef m_modelObject;                    // released last but the module lock
  std::unique_ptr<IBlobStrategy> m_pBlob;  // owned
  std::unique_ptr<ComIOStream> m_pStream;  // made on first OpenRead/OpenWrite
};

}  // namespace vemserver
