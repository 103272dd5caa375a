// ComLoader: the COM face of a driver loader, typed reads of one record by
// field definition id. QueryInterface answers IUnknown and IComLoader.
//
// Two kinds:
// - made by a data model object (CreateComLoader): owns its driver loader
//   and holds a reference to the data model object, released after the
//   driver loader is destroyed;
// - the cached loader of a recordset object: points at the recordset's
//   loader view, is owned by the recordset object and shares its reference
//   count, so that a reference to it keeps the recordset (and the model)
//   alive.
#pragma once

#include <memory>

#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/ILoader.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/Module.h"
#include "vem/ComRecords.h"

namespace vemserver {

class ComLoader final : public IComLoader {
 public:
  // A loader of the data model object pModelObject over recordDef.
  ComLoader(IUnknown* pModelObject, const SRecordDef& recordDef);
  // The cached loader of the recordset object pOwner (whose reference count
  // it shares) over recordDef; pModelObject as above.
  ComLoader(IUnknown* pOwner, IUnknown* pModelObject, const SRecordDef& recordDef);
  ~ComLoader();

  ComLoader(const ComLoader&) = delete;
  ComLoader& operator=(const ComLoader&) = delete;

  // Takes and owns pLoader (a loader of this driver: an IDaoLoader),
  // destroying one owned before.
  void Attach(std::unique_ptr<ILoader> pLoader);
  // Points at a loader owned elsewhere (a recordset's view).
  void Point(IDaoLoader& loader);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  STDMETHOD(Open)(IComRecord* pRecord) override;
  STDMETHOD(Close)() override;
  STDMETHOD(GetValue)(LONG lID, VARIANT* pValue) override;
  STDMETHOD(GetValueDate)
  (LONG lID, USHORT* sYear, USHORT* sMonth, USHORT* sDay, USHORT* sHour, USHORT* sMinute,
   USHORT* sSecond, USHORT* sMilliSecond) override;
  STDMETHOD(GetValueBlob)(LONG lID, IComBlobStrategy* pComBlobStrategy) override;

 private:
  IDaoLoader& Loader();

  ULONG m_cRef = 0;
  IUnknown* m_pOwner = nullptr;  // shares its count when set; not AddRef'd (it owns us)
  ModuleLock m_moduleLock;
  ComRef m_modelObject;  // only when not owned by a recordset object
  IUnknown* m_pModelObject;
  const SRecordDef& m_recordDef;
  std::unique_ptr<ILoader> m_pOwned;  // the driver loader when owned
  IDaoLoader* m_pLoader = nullptr;    // the driver loader in use
};

}  // namespace vemserver
