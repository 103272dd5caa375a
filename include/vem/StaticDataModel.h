// The two interfaces of a static data model: the callback that the client
// implements (IComStaticDataModelCallback) and the creator through which it
// declares the model's definitions (IComStaticDataModelCreator).
//
// When the client asks the server for a static data model, the server calls
// the callback's six steps in this order, each with the model's creator:
// preDataModelDefinition, defDatabases, defFieldDefs, defRecordDefs,
// defCommandDefs, postDataModelDefinition. The step names are a convention:
// every creator method may be called in every step and takes effect at once.
// The results of the callback methods are not looked at; a failing step
// does not stop the procedure.
//
// Threads and ownership: the steps are called synchronously on the thread
// that asked for the model, and the client calls the creator from that
// thread inside the step. The server holds the callback without AddRef only
// while the steps run. The creator lives as long as the model; it is not
// meant to be called after the procedure. BSTR arguments belong to the
// caller; a null BSTR counts as the empty text.
#pragma once

#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"

// {73181649-F741-4040-B537-288848E0C807}
inline constexpr IID IID_IComStaticDataModelCreator = {
    0x73181649, 0xF741, 0x4040, {0xB5, 0x37, 0x28, 0x88, 0x48, 0xE0, 0xC8, 0x07}};
// {1E2F59CF-0DDC-48F7-A5A4-336147442F28}
inline constexpr IID IID_IComStaticDataModelCallback = {
    0x1E2F59CF, 0x0DDC, 0x48F7, {0xA5, 0xA4, 0x33, 0x61, 0x47, 0x44, 0x2F, 0x28}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// Implemented by the server. Every method answers S_OK when it has stored
// what it was given. A failure answers an HRESULT and sets the thread's
// error info (IID_IComStaticDataModelCreator) with a description naming
// what failed: E_INVALIDARG for an id that names no definition (or is out
// of range), E_OUTOFMEMORY, or the driver's code.
struct IComStaticDataModelCreator : IUnknown {
  // Stores a field definition under lID (replacing an earlier one; record
  // definitions that already took the earlier one keep it). lType is a field
  // type code (1 STRING .. 12 BLOB), lLen the characters of a STRING field
  // (-1 where none applies), bCrypt != 0 for a column of encrypted values.
  STDMETHOD(AddFieldDef)(LONG lID, BSTR bstrName, LONG lType, LONG lLen, VARIANT_BOOL bCrypt) PURE;
  // Stores a record definition (table or query bstrName of database lDBID)
  // under lID, with no fields yet.
  STDMETHOD(AddRecordDef)(LONG lID, BSTR bstrName, LONG lDBID) PURE;
  // Appends field lFDID to record definition lRDID; bIdField != 0 also to
  // its id fields; bAutoValue != 0 makes it the auto-value field. Both must
  // exist (E_INVALIDARG otherwise).
  STDMETHOD(AddFieldToRecordDef)
  (LONG lRDID, LONG lFDID, VARIANT_BOOL bIdField, VARIANT_BOOL bAutoValue) PURE;
  // Stores a command definition under lID.
  STDMETHOD(AddCommandDef)(LONG lID, BSTR bstrName, LONG lDBID) PURE;
  // Opens the database file bstrName with password bstrPassword and stores
  // it under lID. A database that cannot be opened (a wrong password, a
  // missing file) is stored closed, the engine's failure traced to the back
  // channel; S_OK all the same.
  STDMETHOD(AddDatabase)(LONG lID, BSTR bstrName, BSTR bstrPassword) PURE;
};

// Implemented by the client; the methods in slot order.
struct IComStaticDataModelCallback : IUnknown {
  STDMETHOD(preDataModelDefinition)(IComStaticDataModelCreator* pCreator) PURE;
  STDMETHOD(defFieldDefs)(IComStaticDataModelCreator* pCreator) PURE;
  STDMETHOD(defRecordDefs)(IComStaticDataModelCreator* pCreator) PURE;
  STDMETHOD(defCommandDefs)(IComStaticDataModelCreator* pCreator) PURE;
  STDMETHOD(defDatabases)(IComStaticDataModelCreator* pCreator) PURE;
  STDMETHOD(postDataModelDefinition)(IComStaticDataModelCreator* pCreator) PURE;
};

#pragma GCC diagnostic pop
