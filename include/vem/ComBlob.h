// The blob object and its streams: IComBlobStrategy gives access to the
// large byte values (blobs) of one record definition; IkivIStream and
// IkivOStream move a blob's bytes.
//
// A blob object stands on at most one blob at a time. A loader binds it to
// the blob of a field (IComLoader::GetValueBlob), new_ starts a new blob, and
// a saver stores it into a field (IComSaver::SetValueBlob). Bytes move either
// through the streams (OpenRead/OpenWrite) or through raw platform file
// handles (OpenReadHandle/OpenWriteHandle).
//
// Every successful OpenRead and OpenWrite on one blob object hands out a new
// reference to the same stream object; its input side is live from OpenRead
// until CloseRead, its output side from OpenWrite until CloseWrite; outside
// those spans read and write answer E_FAIL. A stream reference keeps its
// blob object alive.
//
// Failures below this layer answer the failure's HRESULT (E_FAIL for a
// failure without a code of its own) with error information carrying the
// text, besides the Error reports on the model's back channel.
#pragma once

#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"

// {115A3EE1-5A6C-4778-BE83-F28DBD7D2DB8}
inline constexpr IID IID_IComBlobStrategy = {
    0x115A3EE1, 0x5A6C, 0x4778, {0xBE, 0x83, 0xF2, 0x8D, 0xBD, 0x7D, 0x2D, 0xB8}};
// {0C4F81E9-233E-4FAA-8C56-C5DB4E7484C6}
inline constexpr IID IID_IkivIStream = {
    0x0C4F81E9, 0x233E, 0x4FAA, {0x8C, 0x56, 0xC5, 0xDB, 0x4E, 0x74, 0x84, 0xC6}};
// {ECEC944F-E8B3-488C-8846-C2D098E59391}
inline constexpr IID IID_IkivOStream = {
    0xECEC944F, 0xE8B3, 0x488C, {0x88, 0x46, 0xC2, 0xD0, 0x98, 0xE5, 0x93, 0x91}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// The input side of a blob object's stream object.
struct IkivIStream : IUnknown {
  // Reads up to lLen bytes into pData; *plRead = the bytes read. At the end
  // of the blob a read returns fewer bytes than asked, then 0: read until
  // *plRead is 0 or less than lLen. E_FAIL when no read is open or the
  // transfer failed; E_POINTER for a null pData or plRead.
  STDMETHOD(read)(LONG lLen, unsigned char* pData, LONG* plRead) PURE;
  // Does nothing; S_OK.
  STDMETHOD(unconsumed)(LONG lLen) PURE;
};

// The output side of a blob object's stream object.
struct IkivOStream : IUnknown {
  // Writes lLen bytes from pData. E_FAIL when no write is open or the
  // transfer failed; E_INVALIDARG for a null pData.
  STDMETHOD(write)(LONG lLen, unsigned char* pData) PURE;
};

struct IComBlobStrategy : IUnknown {
  // A new blob object standing on the same blob (*ppBlobStrat, one reference).
  STDMETHOD(Clone)(IComBlobStrategy** ppBlobStrat) PURE;
  // *bRetVal = VARIANT_TRUE (-1) when the object stands on a stored blob.
  STDMETHOD(IsPresent)(VARIANT_BOOL* bRetVal) PURE;
  // The blob's length in bytes.
  STDMETHOD(GetLength)(LONG* lRetVal) PURE;
  // A raw platform file handle positioned at the blob's first byte, for
  // reading *pulDataLength bytes. Closed by CloseReadHandle, never by the
  // client. Both pointers must be valid (E_POINTER); E_FAIL (and *pHandle 0)
  // when the blob cannot be opened.
  STDMETHOD(OpenReadHandle)(ULONG* pulDataLength, ULONG* pHandle) PURE;
  STDMETHOD(CloseReadHandle)() PURE;
  // A raw platform file handle to write a new value of the blob; the bytes
  // are stored when the blob object is saved. Closed by CloseWriteHandle.
  // E_FAIL (and *pHandle 0) when no file can be made for it.
  STDMETHOD(OpenWriteHandle)(ULONG* pHandle) PURE;
  STDMETHOD(CloseWriteHandle)() PURE;
  // The input stream over the blob's bytes; S_FALSE (and a null
  // *ppComReadStream) when the blob cannot be read.
  STDMETHOD(OpenRead)(IkivIStream** ppComReadStream) PURE;
  STDMETHOD(CloseRead)() PURE;
  // The output stream for a new value of the blob; S_FALSE when it cannot
  // be opened. The bytes are stored when the blob object is saved.
  STDMETHOD(OpenWrite)(IkivOStream** ppComWriteStream) PURE;
  STDMETHOD(CloseWrite)() PURE;
  // The record being saved gives up its blob: the next save through
  // IComSaver::SetValueBlob releases one reference and stores no blob id.
  STDMETHOD(Erase)() PURE;
  // The record being saved takes one more reference to the blob: the next
  // save stores the same blob id and counts the reference.
  STDMETHOD(new_)() PURE;
  // Gives up one reference to the blob at once, without a save; the blob's
  // space is freed with its last reference.
  STDMETHOD(delete_)() PURE;
};

#pragma GCC diagnostic pop
