#include "VemComServer/ComRecordsetStrategy.h"

#include <utility>

#include "DataBase/AccessDriver/DaoException.h"
#include "VemComServer/ComRecordAdapter.h"
#include "VemComServer/ReportErrorInfo.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

template <class Fn>
HRESULT Boundary(Fn&& fn) {
  return ComBoundary(CLSID_ComRecordsetStrategy, IID_IComRecordsetStrategy, std::forward<Fn>(fn));
}

}  // namespace

ComRecordsetStrategy::ComRecordsetStrategy(IUnknown* pModelObject, const SRecordDef& recordDef)
    : m_modelObject(pModelObject), m_recordDef(recordDef) {}

ComRecordsetStrategy::~ComRecordsetStrategy() = default;

void ComRecordsetStrategy::Attach(std::unique_ptr<IRecordsetStrategy> pRecordset) {
  m_pSaver.reset();
  m_pLoader.reset();
  m_pRecordset.reset();
  m_pRecordset = std::move(pRecordset);
}

IRecordsetStrategy& ComRecordsetStrategy::Recordset() {
  if (!m_pRecordset) throw vem_error("the recordset object holds no recordset", E_FAIL);
  return *m_pRecordset;
}

ComSaver& ComRecordsetStrategy::CachedSaver() {
  if (!m_pSaver)
    m_pSaver =
        std::make_unique<ComSaver>(static_cast<IComRecordsetStrategy*>(this), m_modelObject.get());
  return *m_pSaver;
}

HRESULT ComRecordsetStrategy::HandOutSaver(IDaoSaver& saver, IComSaver** ppSaver) {
  m_pSaver->Point(saver);
  return m_pSaver->QueryInterface(IID_IComSaver, reinterpret_cast<void**>(ppSaver));
}

STDMETHODIMP ComRecordsetStrategy::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComRecordsetStrategy) {
    *ppv = static_cast<IComRecordsetStrategy*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ComRecordsetStrategy::AddRef() {
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) ComRecordsetStrategy::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP ComRecordsetStrategy::Open() {
  return Boundary([&] {
    Recordset().Open();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::Close() {
  return Boundary([&] {
    Recordset().Close();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::IsOpen(VARIANT_BOOL* bRetVal) {
  return Boundary([&] {
    RequirePointer(bRetVal, "IComRecordsetStrategy::IsOpen", "bRetVal");
    *bRetVal = ToVariantBool(Recordset().IsOpen());
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::Refresh() {
  return Boundary([&] {
    Recordset().Refresh();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::GetPosition(LONG* lRetVal) {
  return Boundary([&] {
    RequirePointer(lRetVal, "IComRecordsetStrategy::GetPosition", "lRetVal");
    *lRetVal = Recordset().GetPosition();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::GetRecordCount(LONG* lRetVal) {
  return Boundary([&] {
    RequirePointer(lRetVal, "IComRecordsetStrategy::GetRecordCount", "lRetVal");
    *lRetVal = Recordset().GetRecordCount();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::_BOF(VARIANT_BOOL* bRetVal) {
  return Boundary([&] {
    RequirePointer(bRetVal, "IComRecordsetStrategy::_BOF", "bRetVal");
    *bRetVal = ToVariantBool(Recordset().IsBOF());
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::_EOF(VARIANT_BOOL* bRetVal) {
  return Boundary([&] {
    RequirePointer(bRetVal, "IComRecordsetStrategy::_EOF", "bRetVal");
    *bRetVal = ToVariantBool(Recordset().IsEOF());
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::BeginAppend(IComRecord* pComRecord, IComSaver** ppSaver) {
  return Boundary([&] {
    RequirePointer(pComRecord, "IComRecordsetStrategy::BeginAppend", "pComRecord");
    RequirePointer(ppSaver, "IComRecordsetStrategy::BeginAppend", "ppSaver");
    *ppSaver = nullptr;
    IRecordsetStrategy& recordset = Recordset();
    CachedSaver();
    ComRecordAdapter record(pComRecord);
    return HandOutSaver(recordset.BeginAppend(record), ppSaver);
  });
}

STDMETHODIMP ComRecordsetStrategy::FinishAppend() {
  return Boundary([&] {
    Recordset().FinishAppend();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::BeginUpdate(IComSaver** ppSaver) {
  return Boundary([&] {
    RequirePointer(ppSaver, "IComRecordsetStrategy::BeginUpdate", "ppSaver");
    *ppSaver = nullptr;
    IRecordsetStrategy& recordset = Recordset();
    CachedSaver();
    return HandOutSaver(recordset.BeginUpdate(), ppSaver);
  });
}

STDMETHODIMP ComRecordsetStrategy::FinishUpdate() {
  return Boundary([&] {
    Recordset().FinishUpdate();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::MoveTo(LONG lPos) {
  return Boundary([&] { return OkOrFalse(Recordset().MoveTo(lPos)); });
}

STDMETHODIMP ComRecordsetStrategy::MoveFirst() {
  return Boundary([&] { return OkOrFalse(Recordset().MoveFirst()); });
}

STDMETHODIMP ComRecordsetStrategy::MovePrev() {
  return Boundary([&] { return OkOrFalse(Recordset().MovePrev()); });
}

STDMETHODIMP ComRecordsetStrategy::MoveNext() {
  return Boundary([&] { return OkOrFalse(Recordset().MoveNext()); });
}

STDMETHODIMP ComRecordsetStrategy::MoveLast() {
  return Boundary([&] { return OkOrFalse(Recordset().MoveLast()); });
}

STDMETHODIMP ComRecordsetStrategy::FindFirst(BSTR fndCondition) {
  return Boundary([&] { return OkOrFail(Recordset().FindFirst(NarrowBstr(fndCondition))); });
}

STDMETHODIMP ComRecordsetStrategy::FindPrev(BSTR fndCondition) {
  return Boundary([&] { return OkOrFail(Recordset().FindPrev(NarrowBstr(fndCondition))); });
}

STDMETHODIMP ComRecordsetStrategy::FindNext(BSTR fndCondition) {
  return Boundary([&] { return OkOrFail(Recordset().FindNext(NarrowBstr(fndCondition))); });
}

STDMETHODIMP ComRecordsetStrategy::FindLast(BSTR fndCondition) {
  return Boundary([&] { return OkOrFail(Recordset().FindLast(NarrowBstr(fndCondition))); });
}

STDMETHODIMP ComRecordsetStrategy::Filter(BSTR fltCondition) {
  return Boundary([&] {
    Recordset().Filter(NarrowBstr(fltCondition));
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::Sort(BSTR srtExpression) {
  return Boundary([&] {
    Recordset().Sort(NarrowBstr(srtExpression));
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::Delete() {
  return Boundary([&] {
    Recordset().Delete();
    return S_OK;
  });
}

STDMETHODIMP ComRecordsetStrategy::GetComLoader(IComLoader** ppLoader) {
  return Boundary([&] {
    RequirePointer(ppLoader, "IComRecordsetStrategy::GetComLoader", "ppLoader");
    *ppLoader = nullptr;
    IRecordsetStrategy& recordset = Recordset();
    if (!m_pLoader)
      m_pLoader = std::make_unique<ComLoader>(static_cast<IComRecordsetStrategy*>(this),
                                              m_modelObject.get(), m_recordDef);
    m_pLoader->Point(recordset.GetLoader());
    return m_pLoader->QueryInterface(IID_IComLoader, reinterpret_cast<void**>(ppLoader));
  });
}

STDMETHODIMP ComRecordsetStrategy::GetComSaver(IComSaver** ppSaver) {
  return Boundary([&] {
    RequirePointer(ppSaver, "IComRecordsetStrategy::GetComSaver", "ppSaver");
    *ppSaver = nullptr;
    IRecordsetStrategy& recordset = Recordset();
    CachedSaver();
    return HandOutSaver(recordset.GetSaver(), ppSaver);
  });
}

}  // namespace vemserver
