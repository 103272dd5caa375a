// ComIOStream: the COM face of a blob object's driver streams, an input
// side (IkivIStream) over the driver's input stream and an output side
// (IkivOStream) over its output stream.
//
// One per blob object, made by it on the first OpenRead or OpenWrite and
// owned by it. Its reference count is the blob object's: every reference to
// the stream object is one to the blob object, so a stream reference keeps
// the blob object (and so its driver streams and the data model) alive.
// QueryInterface on either side answers IUnknown, IkivIStream and
// IkivOStream, nothing else.
#pragma once

#include <istream>
#include <ostream>

#include "VemComServer/Module.h"
#include "vem/ComBlob.h"

namespace vemserver {

class ComIOStream final : public IkivIStream, public IkivOStream {
 public:
  // pOwner: the blob object whose reference count this object shares.
  explicit ComIOStream(IUnknown* pOwner) noexcept : m_pOwner(pOwner) {}
  ~ComIOStream() = default;

  ComIOStream(const ComIOStream&) = delete;
  ComIOStream& operator=(const ComIOStream&) = delete;

  // The driver streams, not owned; null when no read or write is open.
  void SetInput(std::istream* pIn) noexcept { m_pIn = pIn; }
  void SetOutput(std::ostream* pOut) noexcept { m_pOut = pOut; }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IkivIStream
  STDMETHOD(read)(LONG lLen, unsigned char* pData, LONG* plRead) override;
  STDMETHOD(unconsumed)(LONG lLen) override;
  // IkivOStream
  STDMETHOD(write)(LONG lLen, unsigned char* pData) override;

 private:
  ModuleLock m_moduleLock;
  IUnknown* m_pOwner;  // shares its reference count; not AddRef'd (it owns us)
  std::istream* m_pIn = nullptr;
  std::ostream* m_pOut = nullptr;
};

}  // namespace vemserver
