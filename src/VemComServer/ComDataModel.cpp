#include "VemComServer/ComDataModel.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "DataBase/AccessDriver/DaoException.h"
#include "VemComServer/ComBlobStrategy.h"
#include "VemComServer/ComLoader.h"
#include "VemComServer/ComRecordAdapter.h"
#include "VemComServer/ComRecordsetStrategy.h"
#include "VemComServer/ComSaver.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/ReportErrorInfo.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

constexpr VARTYPE kByteArrayMask = VT_ARRAY | VT_UI1;  // 0x2011: every bit must be set
constexpr char16_t kOneDimensionOnly[] = u"Nur eindimensionale Arrays sind erlaubt.";
constexpr char16_t kDigestCount[] = u"Array muss 'MD5_DIGEST_LENGTH' Elemente haben.";

template <class Fn>
HRESULT Boundary(REFIID iid, Fn&& fn) {
  return ComBoundary(CLSID_ComDataModel, iid, std::forward<Fn>(fn));
}

// The array of a byte-array argument, following a reference (VT_BYREF, and
// a VARIANT passed by reference) as clients in other languages pass them;
// null after reporting the failed check (type text szTypeText, or the
// dimension or element-count text) with error information for iid.
SAFEARRAY* CheckedByteArray(const VARIANT& vArg, const char16_t* szTypeText, bool bDigest,
                            REFIID iid) {
  const VARIANT* pv = &vArg;
  if (pv->vt == (VT_BYREF | VT_VARIANT) && pv->pvarVal != nullptr) pv = pv->pvarVal;
  if ((pv->vt & kByteArrayMask) != kByteArrayMask) {
    ReportErrorInfo(CLSID_ComDataModel, szTypeText, iid);
    return nullptr;
  }
  SAFEARRAY* psa =
      (pv->vt & VT_BYREF) != 0 ? (pv->pparray != nullptr ? *pv->pparray : nullptr) : pv->parray;
  if (psa == nullptr || psa->cDims != 1) {
    ReportErrorInfo(CLSID_ComDataModel, kOneDimensionOnly, iid);
    return nullptr;
  }
  if (bDigest && psa->rgsabound[0].cElements != kMd5DigestSize) {
    ReportErrorInfo(CLSID_ComDataModel, kDigestCount, iid);
    return nullptr;
  }
  return psa;
}

// The data of one checked array, accessed for the life of the object.
class ArrayBytes {
 public:
  explicit ArrayBytes(SAFEARRAY* psa) : m_psa(psa) {
    void* pData = nullptr;
    const HRESULT hr = SafeArrayAccessData(m_psa, &pData);
    if (FAILED(hr)) throw vem_error("the byte array's data cannot be accessed", hr);
    m_pData = static_cast<const BYTE*>(pData);
  }
  ~ArrayBytes() { SafeArrayUnaccessData(m_psa); }
  ArrayBytes(const ArrayBytes&) = delete;
  ArrayBytes& operator=(const ArrayBytes&) = delete;

  const BYTE* data() const { return m_pData; }
  ULONG size() const { return m_psa->rgsabound[0].cElements; }

 private:
  SAFEARRAY* m_psa;
  const BYTE* m_pData = nullptr;
};

// Hands out iid of a new object (reference count 0 until then): the object
// is destroyed when QueryInterface fails.
template <class Obj>
HRESULT HandOut(std::unique_ptr<Obj> pObject, REFIID iid, void** ppv) {
  const HRESULT hr = pObject->QueryInterface(iid, ppv);
  if (SUCCEEDED(hr)) pObject.release();  // owned by its reference count now
  return hr;
}

}  // namespace

ComDataModel::~ComDataModel() = default;

void ComDataModel::Attach(std::unique_ptr<IDataModel> pModel) {
  m_pModel.reset();
  m_pModel = std::move(pModel);
}

IDataModel& ComDataModel::Model() {
  if (!m_pModel) throw vem_error("the data model object holds no model", E_FAIL);
  return *m_pModel;
}

STDMETHODIMP ComDataModel::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComDataModel) {
    *ppv = static_cast<IComDataModel*>(this);
  } else if (riid == IID_IComDataModelExt) {
    *ppv = static_cast<IComDataModelExt*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ComDataModel::AddRef() {
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) ComDataModel::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP ComDataModel::BeginTrans(LONG lDBID, VARIANT_BOOL* pbRetVal) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(pbRetVal, "IComDataModel::BeginTrans", "pbRetVal");
    *pbRetVal = ToVariantBool(Model().BeginTrans(lDBID));
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::CommitTrans(LONG lDBID, VARIANT_BOOL* pbRetVal) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(pbRetVal, "IComDataModel::CommitTrans", "pbRetVal");
    *pbRetVal = ToVariantBool(Model().CommitTrans(lDBID));
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::RollbackTrans(LONG lDBID, VARIANT_BOOL* pbRetVal) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(pbRetVal, "IComDataModel::RollbackTrans", "pbRetVal");
    *pbRetVal = ToVariantBool(Model().RollbackTrans(lDBID));
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::ChangeSecret(VARIANT vtSecretOld, VARIANT vtSecretNew,
                                        VARIANT vtRandom) {
  return Boundary(IID_IComDataModel, [&] {
    SAFEARRAY* psaOld =
        CheckedByteArray(vtSecretOld, u"\"varSecretOld\" muss ein Array von Typ Long sein.", false,
                         IID_IComDataModel);
    if (psaOld == nullptr) return E_INVALIDARG;
    SAFEARRAY* psaNew =
        CheckedByteArray(vtSecretNew, u"\"varSecretNew\" muss ein Array von Typ Long sein.", false,
                         IID_IComDataModel);
    if (psaNew == nullptr) return E_INVALIDARG;
    SAFEARRAY* psaRandom = CheckedByteArray(
        vtRandom, u"\"varRandom\" muss ein Array von Long sein.", false, IID_IComDataModel);
    if (psaRandom == nullptr) return E_INVALIDARG;
    IDataModel& model = Model();
    const ArrayBytes oldSecret(psaOld);
    const ArrayBytes newSecret(psaNew);
    const ArrayBytes random(psaRandom);
    model.ChangeSecret(oldSecret.data(), oldSecret.size(), newSecret.data(), newSecret.size(),
                       random.data(), random.size());
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::SetSecret(VARIANT vtSecret, VARIANT vtRandom) {
  return Boundary(IID_IComDataModel, [&] {
    SAFEARRAY* psaSecret = CheckedByteArray(
        vtSecret, u"\"varSecret\" muss ein Array von Typ Long sein.", false, IID_IComDataModel);
    if (psaSecret == nullptr) return E_INVALIDARG;
    SAFEARRAY* psaRandom = CheckedByteArray(
        vtRandom, u"\"varRandom\" muss ein Array von Long sein.", false, IID_IComDataModel);
    if (psaRandom == nullptr) return E_INVALIDARG;
    IDataModel& model = Model();
    const ArrayBytes secret(psaSecret);
    const ArrayBytes random(psaRandom);
    model.SetSecret(secret.data(), secret.size(), random.data(), random.size());
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::Check() {
  return Boundary(IID_IComDataModel, [&] {
    Model().Check();
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::Compact() {
  return Boundary(IID_IComDataModel, [&] {
    Model().Compact();
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::DeleteRecord(IComRecord* pRecord) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(pRecord, "IComDataModel::DeleteRecord", "pRecord");
    IDataModel& model = Model();
    ComRecordAdapter record(pRecord);
    model.DeleteRecord(record);
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::CreateComBlobStrategy(LONG rdID, IComBlobStrategy** ppBlobStrat) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(ppBlobStrat, "IComDataModel::CreateComBlobStrategy", "ppBlobStrat");
    *ppBlobStrat = nullptr;
    IDataModel& model = Model();
    auto pObject = std::make_unique<ComBlobStrategy>(Identity());
    pObject->Attach(model.CreateBlobStrategy(rdID));
    return HandOut(std::move(pObject), IID_IComBlobStrategy, reinterpret_cast<void**>(ppBlobStrat));
  });
}

STDMETHODIMP ComDataModel::CreateComLoader(LONG rdID, IComLoader** ppLoader) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(ppLoader, "IComDataModel::CreateComLoader", "ppLoader");
    *ppLoader = nullptr;
    IDataModel& model = Model();
    auto pObject = std::make_unique<ComLoader>(Identity(), model.GetRecordDef(rdID));
    pObject->Attach(model.CreateLoader(rdID));
    return HandOut(std::move(pObject), IID_IComLoader, reinterpret_cast<void**>(ppLoader));
  });
}

STDMETHODIMP ComDataModel::CreateComSaver(LONG rdID, IComSaver** ppSaver) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(ppSaver, "IComDataModel::CreateComSaver", "ppSaver");
    *ppSaver = nullptr;
    IDataModel& model = Model();
    auto pObject = std::make_unique<ComSaver>(Identity());
    pObject->Attach(model.CreateSaver(rdID));
    return HandOut(std::move(pObject), IID_IComSaver, reinterpret_cast<void**>(ppSaver));
  });
}

STDMETHODIMP ComDataModel::CreateComRecordsetStrategy(LONG rdID,
                                                      IComRecordsetStrategy** ppRSStrat) {
  return Boundary(IID_IComDataModel, [&] {
    RequirePointer(ppRSStrat, "IComDataModel::CreateComRecordsetStrategy", "ppRSStrat");
    *ppRSStrat = nullptr;
    IDataModel& model = Model();
    auto pObject = std::make_unique<ComRecordsetStrategy>(Identity(), model.GetRecordDef(rdID));
    pObject->Attach(model.CreateRecordsetStrategy(rdID));
    return HandOut(std::move(pObject), IID_IComRecordsetStrategy,
                   reinterpret_cast<void**>(ppRSStrat));
  });
}

STDMETHODIMP ComDataModel::CheckMD5StructureHash(VARIANT varHash) {
  return Boundary(IID_IComDataModelExt, [&] {
    SAFEARRAY* psaHash = CheckedByteArray(varHash, u"\"varHash\" muss ein Array von Typ Long sein.",
                                          true, IID_IComDataModelExt);
    if (psaHash == nullptr) return E_INVALIDARG;
    IDataModel& model = Model();
    const ArrayBytes hash(psaHash);
    const std::array<BYTE, kMd5DigestSize> expected = model.StructureHash();
    return std::memcmp(hash.data(), expected.data(), kMd5DigestSize) == 0 ? S_OK : S_FALSE;
  });
}

STDMETHODIMP ComDataModel::GetDriverVersion(ULONG* pulDriverVersion) {
  return Boundary(IID_IComDataModelExt, [&] {
    RequirePointer(pulDriverVersion, "IComDataModelExt::GetDriverVersion", "pulDriverVersion");
    *pulDriverVersion = Model().GetDriverVersion();
    return S_OK;
  });
}

STDMETHODIMP ComDataModel::UpgradeDriverVersion(ULONG ulNewVersion) {
  return Boundary(IID_IComDataModelExt, [&] {
    Model().UpgradeDriverVersion(ulNewVersion);
    return S_OK;
  });
}

}  // namespace vemserver
