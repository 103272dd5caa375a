// IDataModel: the data model as the COM layer sees it. Implemented once by
// DataModel, the base of both model kinds (static SDM, generic GADM).
//
// Transactions go to the database with the given id; SetSecret,
// ChangeSecret, Check, Compact and UpgradeDriverVersion to every database of
// the model in ascending id order; the create operations look up the record
// definition and ask the database that holds it for a new object, which the
// caller owns and which refers to the model (the model must outlive it).
//
// Failures are raised as vem_error: an unknown database, record or command
// definition id (E_INVALIDARG), and whatever the database raises.
#pragma once

#include <array>
#include <memory>

#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DataBase/AccessDriver/IDatabase.h"
#include "DataBase/AccessDriver/ILoader.h"
#include "DataBase/AccessDriver/IRecord.h"
#include "DataBase/AccessDriver/IRecordsetStrategy.h"
#include "DataBase/AccessDriver/ISaver.h"
#include "Platform/WinTypes.h"
#include "Utility/Md5.h"

struct SRecordDef;

class IDataModel {
 public:
  virtual ~IDataModel() = default;

  // The transaction operations of database lDBID; their answers are the
  // database's.
  virtual bool BeginTrans(LONG lDBID) = 0;
  virtual bool CommitTrans(LONG lDBID) = 0;
  virtual bool RollbackTrans(LONG lDBID) = 0;
  // Sets the key states of every database (see IDatabase::SetSecret).
  virtual void SetSecret(const BYTE* pSecret, ULONG ulSecretLength, const BYTE* pRandom,
                         ULONG ulRandomLength) = 0;
  // Rewrites every encrypted value of every database under the new secret,
  // all databases or none: every database's walk is done, each inside its
  // own transaction, before any of them commits; a failure in any walk rolls
  // every one back and leaves every database under its old key.
  virtual void ChangeSecret(const BYTE* pOldSecret, ULONG ulOldLength, const BYTE* pNewSecret,
                            ULONG ulNewLength, const BYTE* pRandom, ULONG ulRandomLength) = 0;
  // Check and compaction of every database; findings go to the back channel.
  virtual void Check() = 0;
  virtual void Compact() = 0;
  // Deletes rRecord from the table of its record definition.
  virtual void DeleteRecord(IRecord& rRecord) = 0;
  // New driver objects over record definition rdID (caller owns them).
  virtual std::unique_ptr<IBlobStrategy> CreateBlobStrategy(LONG rdID) = 0;
  virtual std::unique_ptr<ILoader> CreateLoader(LONG rdID) = 0;
  virtual std::unique_ptr<ISaver> CreateSaver(LONG rdID) = 0;
  virtual std::unique_ptr<IRecordsetStrategy> CreateRecordsetStrategy(LONG rdID) = 0;
  // The command object of command definition cdID (always null).
  virtual std::unique_ptr<ICommand> CreateCommand(LONG cdID) = 0;
  // Brings every database to driver version ulVersion.
  virtual void UpgradeDriverVersion(ULONG ulVersion) = 0;
  // The driver version of database 0; vem_error(E_FAIL) when the model has
  // no database 0.
  virtual ULONG GetDriverVersion() = 0;
  // The record definition with id rdID (vem_error E_INVALIDARG when none).
  virtual const SRecordDef& GetRecordDef(LONG rdID) const = 0;
  // The model's MD5 structure hash (see DataModel).
  virtual std::array<BYTE, kMd5DigestSize> StructureHash() = 0;

 protected:
  IDataModel() = default;
  IDataModel(const IDataModel&) = default;
  IDataModel& operator=(const IDataModel&) = default;
};
