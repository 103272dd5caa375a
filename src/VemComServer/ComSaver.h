// ComSaver: the COM face of a driver saver, typed writes into one record by
// field definition id. QueryInterface answers IUnknown and IComSaver.
//
// Two kinds, as ComLoader: made by a data model object (CreateComSaver;
// owns its driver saver, holds a reference to the data model object), or
// the cached saver of a recordset object (points at the saver view that the
// recordset's last BeginAppend, BeginUpdate or GetSaver answered; owned by
// the recordset object, whose reference count it shares).
#pragma once

#include <memory>

#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/ISaver.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/Module.h"
#include "vem/ComRecords.h"

namespace vemserver {

class ComSaver final : public IComSaver {
 public:
  // A saver of the data model object pModelObject.
  explicit ComSaver(IUnknown* pModelObject);
  // The cached saver of the recordset object pOwner (whose reference count
  // it shares); pModelObject as above.
  ComSaver(IUnknown* pOwner, IUnknown* pModelObject);
  ~ComSaver();

  ComSaver(const ComSaver&) = delete;
  ComSaver& operator=(const ComSaver&) = delete;

  // Takes and owns pSaver (an IDaoSaver), destroying one owned before.
  void Attach(std::unique_ptr<ISaver> pSaver);
  // Points at a saver owned elsewhere (a recordset's view).
  void Point(IDaoSaver& saver);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  STDMETHOD(Open)(IComRecord* pRecord) override;
  STDMETHOD(OpenNew)(IComRecord* pRecord) override;
  STDMETHOD(Close)() override;
  STDMETHOD(PutValue)(LONG lID, VARIANT vValue) override;
  STDMETHOD(PutValueDate)
  (LONG lID, USHORT sYear, USHORT sMonth, USHORT sDay, USHORT sHour, USHORT sMinute, USHORT sSecond,
   USHORT sMilliSecond) override;
  STDMETHOD(SetValueBlob)(LONG lID, IComBlobStrategy* pComBlobStrategy) override;

 private:
  IDaoSaver& Saver();

  ULONG m_cRef = 0;
  IUnknown* m_pOwner = nullptr;  // shares its count when set; not AddRef'd (it owns us)
  ModuleLock m_moduleLock;
  ComRef m_modelObject;  // only when not owned by a recordset object
  IUnknown* m_pModelObject;
  std::unique_ptr<ISaver> m_pOwned;  // the driver saver when owned
  IDaoSaver* m_pSaver = nullptr;     // the driver saver in use
};

}  // namespace vemserver
