#include "VemComServer/ComSaver.h"

#include <cstdint>
#include <utility>

#include "DataBase/AccessDriver/DaoException.h"
#include "VemComServer/ComBlobStrategy.h"
#include "VemComServer/ComRecordAdapter.h"
#include "VemComServer/ReportErrorInfo.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

template <class Fn>
HRESULT Boundary(Fn&& fn) {
  return ComBoundary(CLSID_ComSaver, IID_IComSaver, std::forward<Fn>(fn));
}

}  // namespace

ComSaver::ComSaver(IUnknown* pModelObject)
    : m_modelObject(pModelObject), m_pModelObject(pModelObject) {}

ComSaver::ComSaver(IUnknown* pOwner, IUnknown* pModelObject)
    : m_pOwner(pOwner), m_modelObject(nullptr), m_pModelObject(pModelObject) {}

ComSaver::~ComSaver() = default;

void ComSaver::Attach(std::unique_ptr<ISaver> pSaver) {
  auto* pDaoSaver = dynamic_cast<IDaoSaver*>(pSaver.get());
  if (pDaoSaver == nullptr) throw vem_error("the driver gave no saver", E_FAIL);
  m_pSaver = nullptr;
  m_pOwned.reset();
  m_pOwned = std::move(pSaver);
  m_pSaver = pDaoSaver;
}

void ComSaver::Point(IDaoSaver& saver) {
  m_pOwned.reset();
  m_pSaver = &saver;
}

IDaoSaver& ComSaver::Saver() {
  if (m_pSaver == nullptr) throw vem_error("the saver object holds no saver", E_FAIL);
  return *m_pSaver;
}

STDMETHODIMP ComSaver::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComSaver) {
    *ppv = static_cast<IComSaver*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ComSaver::AddRef() {
  if (m_pOwner != nullptr) return m_pOwner->AddRef();
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) ComSaver::Release() {
  if (m_pOwner != nullptr) return m_pOwner->Release();
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP ComSaver::Open(IComRecord* pRecord) {
  return Boundary([&] {
    RequirePointer(pRecord, "IComSaver::Open", "pRecord");
    IDaoSaver& saver = Saver();
    ComRecordAdapter record(pRecord);
    return OkOrFail(saver.Open(record));
  });
}

STDMETHODIMP ComSaver::OpenNew(IComRecord* pRecord) {
  return Boundary([&] {
    RequirePointer(pRecord, "IComSaver::OpenNew", "pRecord");
    IDaoSaver& saver = Saver();
    ComRecordAdapter record(pRecord);
    return OkOrFail(saver.OpenNew(record));
  });
}

STDMETHODIMP ComSaver::Close() {
  return Boundary([&] { return OkOrFail(Saver().Close()); });
}

STDMETHODIMP ComSaver::PutValue(LONG lID, VARIANT vValue) {
  return Boundary([&] {
    IDaoSaver& saver = Saver();
    switch (vValue.vt) {
      case VT_I2:
        saver.PutShort(lID, vValue.iVal);
        break;
      case VT_I4:
        saver.PutLong(lID, vValue.lVal);
        break;
      case VT_R4:
        saver.PutFloat(lID, vValue.fltVal);
        break;
      case VT_R8:
        saver.PutDouble(lID, vValue.dblVal);
        break;
      case VT_BSTR:
        saver.PutVariant(lID, vValue);
        break;
      case VT_BOOL:
        saver.PutBool(lID, vValue.boolVal != 0);
        break;
      case VT_I1:
        saver.PutChar(lID, static_cast<std::int8_t>(vValue.cVal));
        break;
      case VT_UI1:
        saver.PutUChar(lID, vValue.bVal);
        break;
      case VT_UI2:
        saver.PutUShort(lID, vValue.uiVal);
        break;
      case VT_UI4:
        saver.PutULong(lID, vValue.ulVal);
        break;
      default:  // dates, blobs and other types have no write here
        break;
    }
    return S_OK;
  });
}

STDMETHODIMP ComSaver::PutValueDate(LONG lID, USHORT sYear, USHORT sMonth, USHORT sDay,
                                    USHORT sHour, USHORT sMinute, USHORT sSecond,
                                    USHORT sMilliSecond) {
  return Boundary([&] {
    DateParts parts;
    parts.year = sYear;
    parts.month = sMonth;
    parts.day = sDay;
    parts.hour = sHour;
    parts.minute = sMinute;
    parts.second = sSecond;
    parts.millisecond = sMilliSecond;
    Saver().PutDate(lID, parts);
    return S_OK;
  });
}

STDMETHODIMP ComSaver::SetValueBlob(LONG lID, IComBlobStrategy* pComBlobStrategy) {
  return Boundary([&] {
    IBlobStrategy& blob =
        ComBlobStrategy::DriverBlobOf(pComBlobStrategy, m_pModelObject, "IComSaver::SetValueBlob");
    Saver().SetBlob(lID, blob);
    return S_OK;
  });
}

}  // namespace vemserver
