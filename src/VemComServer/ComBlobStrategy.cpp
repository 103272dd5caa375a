#include "VemComServer/ComBlobStrategy.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>

#include "DataBase/AccessDriver/DaoException.h"
#include "VemComServer/ReportErrorInfo.h"
#include "vem/VemServerLib.h"

namespace vemserver {
namespace {

// The blob objects alive in the process, so that a loader or saver can tell
// one of this server from a client's own implementation.
std::mutex g_liveLock;
std::unordered_set<const IComBlobStrategy*>& LiveBlobObjects() {
  static auto* pLive = new std::unordered_set<const IComBlobStrategy*>;
  return *pLive;
}

// A platform handle as the 32-bit value handed to the client.
ULONG HandleValue(HANDLE h) {
  const auto value = reinterpret_cast<std::uintptr_t>(h);
  if (value > 0xFFFFFFFFu) throw vem_error("the blob's file handle does not fit 32 bits", E_FAIL);
  return static_cast<ULONG>(value);
}

template <class Fn>
HRESULT Boundary(Fn&& fn) {
  return ComBoundary(CLSID_ComBlobStrategy, IID_IComBlobStrategy, std::forward<Fn>(fn));
}

}  // namespace

ComBlobStrategy::ComBlobStrategy(IUnknown* pModelObject) : m_modelObject(pModelObject) {
  std::lock_guard<std::mutex> guard(g_liveLock);
  LiveBlobObjects().insert(this);
}

ComBlobStrategy::~ComBlobStrategy() {
  std::lock_guard<std::mutex> guard(g_liveLock);
  LiveBlobObjects().erase(this);
}

void ComBlobStrategy::Attach(std::unique_ptr<IBlobStrategy> pBlob) {
  m_pBlob.reset();
  m_pBlob = std::move(pBlob);
}

IBlobStrategy& ComBlobStrategy::DriverBlobOf(IComBlobStrategy* pComBlob, IUnknown* pModelObject,
                                             const char* szMethod) {
  RequirePointer(pComBlob, szMethod, "pComBlobStrategy");
  {
    std::lock_guard<std::mutex> guard(g_liveLock);
    if (LiveBlobObjects().count(pComBlob) == 0)
      throw vem_error(std::string(szMethod) + ": the blob object was not made by this server",
                      E_INVALIDARG);
  }
  auto* pObject = static_cast<ComBlobStrategy*>(pComBlob);
  if (pObject->m_modelObject.get() != pModelObject)
    throw vem_error(std::string(szMethod) + ": the blob object belongs to another data model",
                    E_INVALIDARG);
  return pObject->Driver();
}

IBlobStrategy& ComBlobStrategy::Driver() {
  if (!m_pBlob) throw vem_error("the blob object holds no blob strategy", E_FAIL);
  return *m_pBlob;
}

ComIOStream& ComBlobStrategy::Stream() {
  if (!m_pStream) m_pStream = std::make_unique<ComIOStream>(static_cast<IComBlobStrategy*>(this));
  return *m_pStream;
}

STDMETHODIMP ComBlobStrategy::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IComBlobStrategy) {
    *ppv = static_cast<IComBlobStrategy*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ComBlobStrategy::AddRef() {
  return ++m_cRef;
}

STDMETHODIMP_(ULONG) ComBlobStrategy::Release() {
  const ULONG cRef = --m_cRef;
  if (cRef == 0) delete this;
  return cRef;
}

STDMETHODIMP ComBlobStrategy::Clone(IComBlobStrategy** ppBlobStrat) {
  return Boundary([&] {
    RequirePointer(ppBlobStrat, "IComBlobStrategy::Clone", "ppBlobStrat");
    *ppBlobStrat = nullptr;
    auto pClone = std::make_unique<ComBlobStrategy>(m_modelObject.get());
    pClone->Attach(Driver().Clone());
    const HRESULT hr =
        pClone->QueryInterface(IID_IComBlobStrategy, reinterpret_cast<void**>(ppBlobStrat));
    if (SUCCEEDED(hr)) pClone.release();  // owned by its reference now
    return hr;
  });
}

STDMETHODIMP ComBlobStrategy::IsPresent(VARIANT_BOOL* bRetVal) {
  return Boundary([&] {
    RequirePointer(bRetVal, "IComBlobStrategy::IsPresent", "bRetVal");
    *bRetVal = ToVariantBool(Driver().IsPresent());
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::GetLength(LONG* lRetVal) {
  return Boundary([&] {
    RequirePointer(lRetVal, "IComBlobStrategy::GetLength", "lRetVal");
    *lRetVal = Driver().GetLength();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::OpenReadHandle(ULONG* pulDataLength, ULONG* pHandle) {
  return Boundary([&] {
    RequirePointer(pulDataLength, "IComBlobStrategy::OpenReadHandle", "pulDataLength");
    RequirePointer(pHandle, "IComBlobStrategy::OpenReadHandle", "pHandle");
    *pHandle = 0;
    IBlobStrategy& blob = Driver();
    LONG lLength = static_cast<LONG>(*pulDataLength);
    const HANDLE h = blob.OpenReadHandle(&lLength);
    if (h == nullptr)
      throw vem_error("IComBlobStrategy::OpenReadHandle: the blob cannot be opened for reading",
                      E_FAIL);
    ULONG ulHandle = 0;
    try {
      ulHandle = HandleValue(h);
    } catch (...) {
      blob.CloseReadHandle();
      throw;
    }
    *pulDataLength = static_cast<ULONG>(lLength);
    *pHandle = ulHandle;
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::CloseReadHandle() {
  return Boundary([&] {
    Driver().CloseReadHandle();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::OpenWriteHandle(ULONG* pHandle) {
  return Boundary([&] {
    RequirePointer(pHandle, "IComBlobStrategy::OpenWriteHandle", "pHandle");
    *pHandle = 0;
    IBlobStrategy& blob = Driver();
    const HANDLE h = blob.OpenWriteHandle();
    if (h == nullptr)
      throw vem_error("IComBlobStrategy::OpenWriteHandle: no file for the blob's new value",
                      E_FAIL);
    ULONG ulHandle = 0;
    try {
      ulHandle = HandleValue(h);
    } catch (...) {
      blob.CloseWriteHandle();
      throw;
    }
    *pHandle = ulHandle;
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::CloseWriteHandle() {
  return Boundary([&] {
    Driver().CloseWriteHandle();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::OpenRead(IkivIStream** ppComReadStream) {
  return Boundary([&] {
    RequirePointer(ppComReadStream, "IComBlobStrategy::OpenRead", "ppComReadStream");
    *ppComReadStream = nullptr;
    ComIOStream& stream = Stream();
    std::istream& in = Driver().OpenRead();
    if (!in.good()) return S_FALSE;
    stream.SetInput(&in);
    return stream.QueryInterface(IID_IkivIStream, reinterpret_cast<void**>(ppComReadStream));
  });
}

STDMETHODIMP ComBlobStrategy::CloseRead() {
  return Boundary([&] {
    if (m_pStream) m_pStream->SetInput(nullptr);
    Driver().CloseRead();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::OpenWrite(IkivOStream** ppComWriteStream) {
  return Boundary([&] {
    RequirePointer(ppComWriteStream, "IComBlobStrategy::OpenWrite", "ppComWriteStream");
    *ppComWriteStream = nullptr;
    ComIOStream& stream = Stream();
    std::ostream& out = Driver().OpenWrite();
    if (!out.good()) return S_FALSE;
    stream.SetOutput(&out);
    return stream.QueryInterface(IID_IkivOStream, reinterpret_cast<void**>(ppComWriteStream));
  });
}

STDMETHODIMP ComBlobStrategy::CloseWrite() {
  return Boundary([&] {
    if (m_pStream) m_pStream->SetOutput(nullptr);
    Driver().CloseWrite();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::Erase() {
  return Boundary([&] {
    Driver().Erase();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::new_() {
  return Boundary([&] {
    Driver().new_();
    return S_OK;
  });
}

STDMETHODIMP ComBlobStrategy::delete_() {
  return Boundary([&] {
    Driver().delete_();
    return S_OK;
  });
}

}  // namespace vemserver
