// Row-level access to one record definition of a data model: the record the
// client implements (IComRecord), the loader that reads typed values
// (IComLoader), the saver that writes them (IComSaver) and the recordset
// that navigates, finds, filters and sorts (IComRecordsetStrategy).
//
// Field ids are the ids of the model's field definitions; encrypted fields
// are deciphered and enciphered by the server (the data model's secret must
// be set). Texts are converted between UTF-16 and Windows-1252.
//
// Results: S_OK when done; loader and saver Open, OpenNew and Close and the
// recordset's finds answer E_FAIL when the driver said no; the recordset's
// moves answer S_FALSE when the move did not happen (a loop over the rows
// ends on S_FALSE from MoveNext). A failure below this layer answers its
// HRESULT (E_FAIL for one without a code of its own) with error information
// carrying its text, besides the Error reports on the back channel. Null out
// pointers answer E_POINTER.
//
// Lifetimes: every object keeps its data model alive. The loader and saver
// handed out by a recordset object (GetComLoader, GetComSaver, BeginAppend,
// BeginUpdate) are the recordset's own cached objects: the same object on
// every call, each call one more reference.
#pragma once

#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"
#include "vem/ComBlob.h"

// {58DFFFCC-2B4B-449F-B266-C5CD45C13FDB}
inline constexpr IID IID_IComRecord = {
    0x58DFFFCC, 0x2B4B, 0x449F, {0xB2, 0x66, 0xC5, 0xCD, 0x45, 0xC1, 0x3F, 0xDB}};
// {05B948D6-C5BD-46B8-AB7E-7144855F9834}
inline constexpr IID IID_IComLoader = {
    0x05B948D6, 0xC5BD, 0x46B8, {0xAB, 0x7E, 0x71, 0x44, 0x85, 0x5F, 0x98, 0x34}};
// {87BC08F0-71E6-442E-97C7-7A27D7F3C613}
inline constexpr IID IID_IComSaver = {
    0x87BC08F0, 0x71E6, 0x442E, {0x97, 0xC7, 0x7A, 0x27, 0xD7, 0xF3, 0xC6, 0x13}};
// {1F611C66-9467-4A7F-AA4A-91DC5F0AD00E}
inline constexpr IID IID_IComRecordsetStrategy = {
    0x1F611C66, 0x9467, 0x4A7F, {0xAA, 0x4A, 0x91, 0xDC, 0x5F, 0x0A, 0xD0, 0x0E}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Implemented by the client: one of its records. The server asks it for the
// record definition and the values of the id fields that select the record,
// and hands back the number an auto-value id field received on append.
struct IComRecord : IUnknown {
  STDMETHOD(GetRecordDefId)(LONG* plID) PURE;
  // *pValue (VT_EMPTY on entry): VT_I4 for a long id field, VT_BSTR for a
  // text id field; any other type leaves the server's value unset.
  STDMETHOD(GetIdFieldValue)(LONG lID, VARIANT* pValue) PURE;
  // varValue: VT_I4 or VT_BSTR, owned by the server (copy what you keep).
  STDMETHOD(SetIdFieldValue)(LONG lID, VARIANT varValue) PURE;
};

struct IComLoader : IUnknown {
  // Opens the record that pRecord selects; E_FAIL when there is none.
  STDMETHOD(Open)(IComRecord* pRecord) PURE;
  STDMETHOD(Close)() PURE;
  // The value of field lID as the VARIANT its field type gives: VT_BSTR (or
  // VT_NULL) for text, VT_BOOL (-1 or 0), VT_I1, VT_UI1, VT_I2, VT_UI2,
  // VT_I4, VT_UI4, VT_R4, VT_R8; dates and blobs stay VT_EMPTY (use the two
  // methods below). *pValue is cleared first.
  STDMETHOD(GetValue)(LONG lID, VARIANT* pValue) PURE;
  STDMETHOD(GetValueDate)
  (LONG lID, USHORT* sYear, USHORT* sMonth, USHORT* sDay, USHORT* sHour, USHORT* sMinute,
   USHORT* sSecond, USHORT* sMilliSecond) PURE;
  // Binds pComBlobStrategy (a blob object of this server, made through the
  // same data model; E_INVALIDARG otherwise) to the blob of field lID.
  STDMETHOD(GetValueBlob)(LONG lID, IComBlobStrategy* pComBlobStrategy) PURE;
};

struct IComSaver : IUnknown {
  // Opens the existing record that pRecord selects; E_FAIL when there is none.
  STDMETHOD(Open)(IComRecord* pRecord) PURE;
  // Opens a new record with pRecord's id values; E_FAIL when one exists.
  STDMETHOD(OpenNew)(IComRecord* pRecord) PURE;
  // Writes the record; E_FAIL when it could not be written.
  STDMETHOD(Close)() PURE;
  // Writes vValue into field lID, chosen by the VARIANT's type: VT_I2, VT_I4,
  // VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_I1, VT_UI1, VT_UI2, VT_UI4; the server
  // converts to the field's type. Any other type writes nothing (S_OK).
  STDMETHOD(PutValue)(LONG lID, VARIANT vValue) PURE;
  STDMETHOD(PutValueDate)
  (LONG lID, USHORT sYear, USHORT sMonth, USHORT sDay, USHORT sHour, USHORT sMinute, USHORT sSecond,
   USHORT sMilliSecond) PURE;
  // Stores the blob of pComBlobStrategy (a blob object of this server, made
  // through the same data model; E_INVALIDARG otherwise) into field lID.
  STDMETHOD(SetValueBlob)(LONG lID, IComBlobStrategy* pComBlobStrategy) PURE;
};

struct IComRecordsetStrategy : IUnknown {
  STDMETHOD(Open)() PURE;
  STDMETHOD(Close)() PURE;
  STDMETHOD(IsOpen)(VARIANT_BOOL* bRetVal) PURE;
  STDMETHOD(Refresh)() PURE;
  STDMETHOD(GetPosition)(LONG* lRetVal) PURE;
  STDMETHOD(GetRecordCount)(LONG* lRetVal) PURE;
  STDMETHOD(_BOF)(VARIANT_BOOL* bRetVal) PURE;
  STDMETHOD(_EOF)(VARIANT_BOOL* bRetVal) PURE;
  // Starts a new record with pComRecord's id values; *ppSaver writes its
  // fields until FinishAppend.
  STDMETHOD(BeginAppend)(IComRecord* pComRecord, IComSaver** ppSaver) PURE;
  STDMETHOD(FinishAppend)() PURE;
  // Starts editing the current record; *ppSaver writes its fields until
  // FinishUpdate.
  STDMETHOD(BeginUpdate)(IComSaver** ppSaver) PURE;
  STDMETHOD(FinishUpdate)() PURE;
  STDMETHOD(MoveTo)(LONG lPos) PURE;
  STDMETHOD(MoveFirst)() PURE;
  STDMETHOD(MovePrev)() PURE;
  STDMETHOD(MoveNext)() PURE;
  STDMETHOD(MoveLast)() PURE;
  // Criteria in the engine's SQL, with "{n}" standing for field id n's
  // column; E_FAIL when no record matches.
  STDMETHOD(FindFirst)(BSTR fndCondition) PURE;
  STDMETHOD(FindPrev)(BSTR fndCondition) PURE;
  STDMETHOD(FindNext)(BSTR fndCondition) PURE;
  STDMETHOD(FindLast)(BSTR fndCondition) PURE;
  STDMETHOD(Filter)(BSTR fltCondition) PURE;
  STDMETHOD(Sort)(BSTR srtExpression) PURE;
  // Deletes the current record.
  STDMETHOD(Delete)() PURE;
  // The loader over the current record.
  STDMETHOD(GetComLoader)(IComLoader** ppLoader) PURE;
  // The saver over the current record.
  STDMETHOD(GetComSaver)(IComSaver** ppSaver) PURE;
};

#pragma GCC diagnostic pop
