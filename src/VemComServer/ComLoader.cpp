#include "VemComServer/ComLoader.h"

#include <cstdint>
#include <string>
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
  return ComBoundary(CLSID_ComLoader, IID_IComLoader, std::forward<Fn>(fn));
}

// The field definition lID of recordDef; vem_error(E_INVALIDARG) when the
// record definition has no such field.
const SFieldDef& FieldOf(const SRecordDef& recordDef, LONG lID) {
  for (const auto& pField : recordDef.m_fields)
    if (pField->m_lID == lID) return *pField;
  throw vem_error("field definition id " + std::to_string(lID) +
                      " is not a field of record definition " + recordDef.m_name,
                  E_INVALIDARG);
}

}  // namespace

ComLoader::ComLoader(IUnknown* pModelObject, const SRecordDef& recordDef)
    : m_modelObject(pModelObject), m_pModelObject(pModelObject), m_recordDef(recordDef) {}

ComLoader::ComLoader(IUnknown* pOwner, IUnknown* pModelObject, const SRecordDef& recordDef)
    : m_pOwner(pOwner),
      m_modelObject(nullptr),
      m_pModelObject(pModelObject),
      m_recordDef(recordDef) {}

ComLoader::~ComLoader() = default;

void ComLoader::Attach(std::unique_ptr<ILoader> pLoader) {
  auto* pDaoLoader = dynamic_cast<IDaoLoader*>(pLoader.get());
  if (pDaoLoader == nullptr)
    throw vem_error("the driver gave no loader for record definition " + m_recordDef.m_name,
                    E_FAIL);
  m_pLoader = nullptr;
  m_pOwned.reset();
  m_pOwned = std::move(pLoader);
  m_pLoader = pDaoLoader;
}

void ComLoader::Point(IDaoLoader& loader) {
  m_pOwned.reset();
  m_pLoader = &loader;
}

IDaoLoader& ComLoader::Loader() {
  if (m_pLoader == nullptr) throw vem_error("the loader object holds no loader", E_FAIL);
  return *m_pLoader;
}

STDMETHODIMP ComLoader::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComLoader) {
    *ppv = static_cast<IComLoader*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ComLoader::AddRef() {
  if (m_pOwner != nullptr) return m_pOwner->AddRef();
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) ComLoader::Release() {
  if (m_pOwner != nullptr) return m_pOwner->Release();
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP ComLoader::Open(IComRecord* pRecord) {
  return Boundary([&] {
    RequirePointer(pRecord, "IComLoader::Open", "pRecord");
    IDaoLoader& loader = Loader();
    ComRecordAdapter record(pRecord);
    return OkOrFail(loader.Open(record));
  });
}

STDMETHODIMP ComLoader::Close() {
  return Boundary([&] { return OkOrFail(Loader().Close()); });
}

STDMETHODIMP ComLoader::GetValue(LONG lID, VARIANT* pValue) {
  return Boundary([&] {
    RequirePointer(pValue, "IComLoader::GetValue", "pValue");
    VariantClear(pValue);
    IDaoLoader& loader = Loader();
    switch (FieldOf(m_recordDef, lID).Type()) {
      case FieldType::STRING:
        loader.GetVariant(lID, *pValue);
        break;
      case FieldType::BOOL: {
        bool b = false;
        loader.GetBool(lID, b);
        pValue->boolVal = ToVariantBool(b);
        pValue->vt = VT_BOOL;
        break;
      }
      case FieldType::CHAR: {
        std::int8_t c = 0;
        loader.GetChar(lID, c);
        pValue->cVal = static_cast<CHAR>(c);
        pValue->vt = VT_I1;
        break;
      }
      case FieldType::UCHAR: {
        BYTE uc = 0;
        loader.GetUChar(lID, uc);
        pValue->bVal = uc;
        pValue->vt = VT_UI1;
        break;
      }
      case FieldType::SHORT: {
        SHORT s = 0;
        loader.GetShort(lID, s);
        pValue->iVal = s;
        pValue->vt = VT_I2;
        break;
      }
      case FieldType::USHORT: {
        USHORT us = 0;
        loader.GetUShort(lID, us);
        pValue->uiVal = us;
        pValue->vt = VT_UI2;
        break;
      }
      case FieldType::LONG: {
        LONG l = 0;
        loader.GetLong(lID, l);
        pValue->lVal = l;
        pValue->vt = VT_I4;
        break;
      }
      case FieldType::ULONG: {
        ULONG ul = 0;
        loader.GetULong(lID, ul);
        pValue->ulVal = ul;
        pValue->vt = VT_UI4;
        break;
      }
      case FieldType::FLOAT: {
        float f = 0;
        loader.GetFloat(lID, f);
        pValue->fltVal = f;
        pValue->vt = VT_R4;
        break;
      }
      case FieldType::DOUBLE: {
        double d = 0;
        loader.GetDouble(lID, d);
        pValue->dblVal = d;
        pValue->vt = VT_R8;
        break;
      }
      default:  // dates and blobs have methods of their own
        break;
    }
    return S_OK;
  });
}

STDMETHODIMP ComLoader::GetValueDate(LONG lID, USHORT* sYear, USHORT* sMonth, USHORT* sDay,
                                     USHORT* sHour, USHORT* sMinute, USHORT* sSecond,
                                     USHORT* sMilliSecond) {
  return Boundary([&] {
    const char* szMethod = "IComLoader::GetValueDate";
    RequirePointer(sYear, szMethod, "sYear");
    RequirePointer(sMonth, szMethod, "sMonth");
    RequirePointer(sDay, szMethod, "sDay");
    RequirePointer(sHour, szMethod, "sHour");
    RequirePointer(sMinute, szMethod, "sMinute");
    RequirePointer(sSecond, szMethod, "sSecond");
    RequirePointer(sMilliSecond, szMethod, "sMilliSecond");
    DateParts parts;
    Loader().GetDate(lID, parts);
    *sYear = parts.year;
    *sMonth = parts.month;
    *sDay = parts.day;
    *sHour = parts.hour;
    *sMinute = parts.minute;
    *sSecond = parts.second;
    *sMilliSecond = parts.millisecond;
    return S_OK;
  });
}

STDMETHODIMP ComLoader::GetValueBlob(LONG lID, IComBlobStrategy* pComBlobStrategy) {
  return Boundary([&] {
    IBlobStrategy& blob =
        ComBlobStrategy::DriverBlobOf(pComBlobStrategy, m_pModelObject, "IComLoader::GetValueBlob");
    Loader().GetBlob(lID, blob);
    return S_OK;
  });
}

}  // namespace vemserver
