#include "VemComServer/ComIOStream.h"

#include <string>

#include "DataBase/AccessDriver/DaoException.h"
#include "VemComServer/ComSupport.h"
#include "VemComServer/ReportErrorInfo.h"
#include "vem/VemServerLib.h"

namespace vemserver {

STDMETHODIMP ComIOStream::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IkivIStream) {
    *ppv = static_cast<IkivIStream*>(this);
  } else if (riid == IID_IkivOStream) {
    *ppv = static_cast<IkivOStream*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ComIOStream::AddRef() {
  return m_pOwner->AddRef();
}

STDMETHODIMP_(ULONG) ComIOStream::Release() {
  return m_pOwner->Release();
}

STDMETHODIMP ComIOStream::read(LONG lLen, unsigned char* pData, LONG* plRead) {
  return ComBoundary(CLSID_ComIOStream, IID_IkivIStream, [&] {
    if (m_pIn == nullptr) throw vem_error("IkivIStream::read: no read of the blob is open", E_FAIL);
    RequirePointer(pData, "IkivIStream::read", "pData");
    RequirePointer(plRead, "IkivIStream::read", "plRead");
    if (lLen < 0)
      throw vem_error("IkivIStream::read: negative length " + std::to_string(lLen), E_INVALIDARG);
    m_pIn->read(reinterpret_cast<char*>(pData), lLen);
    if (m_pIn->bad()) throw vem_error("IkivIStream::read: reading the blob failed", E_FAIL);
    *plRead = static_cast<LONG>(m_pIn->gcount());
    return S_OK;
  });
}

STDMETHODIMP ComIOStream::unconsumed(LONG /*lLen*/) {
  return S_OK;
}

STDMETHODIMP ComIOStream::write(LONG lLen, unsigned char* pData) {
  return ComBoundary(CLSID_ComIOStream, IID_IkivOStream, [&] {
    if (m_pOut == nullptr)
      throw vem_error("IkivOStream::write: no write of the blob is open", E_FAIL);
    if (pData == nullptr) throw vem_error("IkivOStream::write: pData is null", E_INVALIDARG);
    if (lLen < 0)
      throw vem_error("IkivOStream::write: negative length " + std::to_string(lLen), E_INVALIDARG);
    m_pOut->write(reinterpret_cast<const char*>(pData), lLen);
    if (m_pOut->bad()) throw vem_error("IkivOStream::write: writing the blob failed", E_FAIL);
    return S_OK;
  });
}

}  // namespace vemserver
