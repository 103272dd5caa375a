// ComRecordsetStrategy: the COM face of a driver recordset strategy over one
// record definition: open, navigate, find, filter, sort, append, update and
// delete, with a loader and a saver object over the current record.
// QueryInterface answers IUnknown and IComRecordsetStrategy.
//
// Made by a data model object (CreateComRecordsetStrategy); owns its driver
// recordset and holds a reference to the data model object, released after
// the driver recordset is destroyed. Its loader and saver objects are made
// on first need, are the same objects on every call and share this object's
// reference count (see ComLoader.h); they are destroyed before the driver
// recordset whose views they point at.
#pragma once

#include <memory>

#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/IRecordsetStrategy.h"
#include "VemComServer/ComLoader.h"
#include "VemComServer/ComSaver.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/Module.h"
#include "vem/ComRecords.h"

namespace vemserver {

class ComRecordsetStrategy final : public IComRecordsetStrategy {
 public:
  ComRecordsetStrategy(IUnknown* pModelObject, const SRecordDef& recordDef);
  ~ComRecordsetStrategy();

  ComRecordsetStrategy(const ComRecordsetStrategy&) = delete;
  ComRecordsetStrategy& operator=(const ComRecordsetStrategy&) = delete;

  // Takes and owns the driver recordset (destroying one owned before, and
  // with it the loader and saver objects that pointed into it).
  void Attach(std::unique_ptr<IRecordsetStrategy> pRecordset);

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  STDMETHOD(Open)() override;
  STDMETHOD(Close)() override;
  STDMETHOD(IsOpen)(VARIANT_BOOL* bRetVal) override;
  STDMETHOD(Refresh)() override;
  STDMETHOD(GetPosition)(LONG* lRetVal) override;
  STDMETHOD(GetRecordCount)(LONG* lRetVal) override;
  STDMETHOD(_BOF)(VARIANT_BOOL* bRetVal) override;
  STDMETHOD(_EOF)(VARIANT_BOOL* bRetVal) override;
  STDMETHOD(BeginAppend)(IComRecord* pComRecord, IComSaver** ppSaver) override;
  STDMETHOD(FinishAppend)() override;
  STDMETHOD(BeginUpdate)(IComSaver** ppSaver) override;
  STDMETHOD(FinishUpdate)() override;
  STDMETHOD(MoveTo)(LONG lPos) override;
  STDMETHOD(MoveFirst)() override;
  STDMETHOD(MovePrev)() override;
  STDMETHOD(MoveNext)() override;
  STDMETHOD(MoveLast)() override;
  STDMETHOD(FindFirst)(BSTR fndCondition) override;
  STDMETHOD(FindPrev)(BSTR fndCondition) override;
  STDMETHOD(FindNext)(BSTR fndCondition) override;
  STDMETHOD(FindLast)(BSTR fndCondition) override;
  STDMETHOD(Filter)(BSTR fltCondition) override;
  STDMETHOD(Sort)(BSTR srtExpression) override;
  STDMETHOD(Delete)() override;
  STDMETHOD(GetComLoader)(IComLoader** ppLoader) override;
  STDMETHOD(GetComSaver)(IComSaver** ppSaver) override;

 private:
  IRecordsetStrategy& Recordset();
  ComSaver& CachedSaver();
  // Points the cached saver at saver and hands out one reference to it.
  HRESULT HandOutSaver(IDaoSaver& saver, IComSaver** ppSaver);

  ULONG m_cRef = 0;
  ModuleLock m_moduleLock;
  ComRef m_modelObject;  // released after the driver recordset
  const SRecordDef& m_recordDef;
  std::unique_ptr<IRecordsetStrategy> m_pRecordset;
  std::unique_ptr<ComLoader> m_pLoader;  // destroyed before m_pRecordset
  std::unique_ptr<ComSaver> m_pSaver;
};

}  // namespace vemserver
