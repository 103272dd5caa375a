// The server's entry object and the data model object.
//
// A client creates ComVemServer (by class id or ProgID "VemComServer.ComVemServer")
// and asks it for a data model: IComGenericAccessDataModel derives the model
// from an existing database, IComStaticAccessDataModel lets the client
// declare it through its IComStaticDataModelCallback. The data model object
// (IComDataModel, with IComDataModelExt) runs transactions, sets and changes
// the secret of the encrypted fields, checks and compacts the databases,
// deletes records and creates the blob, loader, saver and recordset objects
// of one record definition.
//
// Threads: a data model and every object created through it are used from
// the thread that created the model, one call at a time.
//
// Failures: argument checks answer E_INVALIDARG or E_POINTER; a failure
// below this layer answers its HRESULT (E_FAIL for one without a code of its
// own); both set the thread's error information (GetErrorInfo) with a text
// naming what failed. Engine failures are also reported on the back channel.
#pragma once

#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"
#include "vem/ComBlob.h"
#include "vem/ComRecords.h"
#include "vem/IkivBackChannel.h"
#include "vem/StaticDataModel.h"

// {537C4C1A-A06A-44DB-9DA4-AA9C1A186CB0}
inline constexpr IID IID_IComDataModel = {
    0x537C4C1A, 0xA06A, 0x44DB, {0x9D, 0xA4, 0xAA, 0x9C, 0x1A, 0x18, 0x6C, 0xB0}};
// {70A8A6FE-AF84-4A46-BD79-61EAB449BC8B}
inline constexpr IID IID_IComDataModelExt = {
    0x70A8A6FE, 0xAF84, 0x4A46, {0xBD, 0x79, 0x61, 0xEA, 0xB4, 0x49, 0xBC, 0x8B}};
// {76AF41E3-E15F-4A05-979D-D9C65D0C3A30}
inline constexpr IID IID_IComGenericAccessDataModel = {
    0x76AF41E3, 0xE15F, 0x4A05, {0x97, 0x9D, 0xD9, 0xC6, 0x5D, 0x0C, 0x3A, 0x30}};
// {C453C51E-01F6-4638-A422-4FFC06E544B0}
inline constexpr IID IID_IComStaticAccessDataModel = {
    0xC453C51E, 0x01F6, 0x4638, {0xA4, 0x22, 0x4F, 0xFC, 0x06, 0xE5, 0x44, 0xB0}};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

struct IComDataModel : IUnknown {
  // Transactions of the database with id lDBID. *pbRetVal = VARIANT_TRUE
  // (-1) when the driver answered yes, else VARIANT_FALSE (0).
  STDMETHOD(BeginTrans)(LONG lDBID, VARIANT_BOOL* pbRetVal) PURE;
  STDMETHOD(CommitTrans)(LONG lDBID, VARIANT_BOOL* pbRetVal) PURE;
  STDMETHOD(RollbackTrans)(LONG lDBID, VARIANT_BOOL* pbRetVal) PURE;
  // Rewrites every encrypted value of every database from the old secret to
  // the new one: all databases or none. Each argument is a one-dimensional
  // VT_ARRAY | VT_UI1 (also by reference); vtRandom's first 8 bytes, when it
  // has 8, salt the new values. E_INVALIDARG with a German description
  // naming the argument when an array fails its check.
  STDMETHOD(ChangeSecret)(VARIANT vtSecretOld, VARIANT vtSecretNew, VARIANT vtRandom) PURE;
  // Sets the secret of the encrypted fields of every database (arrays as above).
  STDMETHOD(SetSecret)(VARIANT vtSecret, VARIANT vtRandom) PURE;
  // Checks, and compacts, every database and its blob files; progress and
  // findings arrive on the back channel.
  STDMETHOD(Check)() PURE;
  STDMETHOD(Compact)() PURE;
  // Deletes the record that pRecord selects.
  STDMETHOD(DeleteRecord)(IComRecord* pRecord) PURE;
  // New objects for record definition rdID (one reference each).
  STDMETHOD(CreateComBlobStrategy)(LONG rdID, IComBlobStrategy** ppBlobStrat) PURE;
  STDMETHOD(CreateComLoader)(LONG rdID, IComLoader** ppLoader) PURE;
  STDMETHOD(CreateComSaver)(LONG rdID, IComSaver** ppSaver) PURE;
  STDMETHOD(CreateComRecordsetStrategy)(LONG rdID, IComRecordsetStrategy** ppRSStrat) PURE;
};

struct IComDataModelExt : IUnknown {
  // S_OK when varHash (16 bytes, VT_ARRAY | VT_UI1) equals the model's MD5
  // structure hash, S_FALSE when it differs.
  STDMETHOD(CheckMD5StructureHash)(VARIANT varHash) PURE;
  // The driver version of database 0 (E_FAIL when the model has none).
  STDMETHOD(GetDriverVersion)(ULONG* pulDriverVersion) PURE;
  // Brings every database to driver version ulNewVersion (0: the newest),
  // rewriting its encrypted values in the new format.
  STDMETHOD(UpgradeDriverVersion)(ULONG ulNewVersion) PURE;
};

// The primary interface of ComVemServer: a data model derived from the
// database at strDatabasePath (opened with strPassword). The back channel is
// held without AddRef for the model's life.
struct IComGenericAccessDataModel : IUnknown {
  STDMETHOD(CreateAccessDataModel)
  (IkivBackChannel* pIkivBackChannel, BSTR strDatabasePath, BSTR strPassword,
   IComDataModel** ppDataModel) PURE;
};

// A data model that the client declares: the server calls pDataModelCallback's
// six steps, each with the model's IComStaticDataModelCreator, before it
// returns. A creator call that failed makes this call fail with its HRESULT.
struct IComStaticAccessDataModel : IUnknown {
  STDMETHOD(CreateStaticAccessDataModel)
  (IkivBackChannel* pIkivBackChannel, IComStaticDataModelCallback* pDataModelCallback,
   IComDataModel** ppDataModel) PURE;
};

#pragma GCC diagnostic pop
