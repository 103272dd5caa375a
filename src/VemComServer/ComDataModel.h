// ComDataModel: the client's handle on one data model (IComDataModel, with
// IComDataModelExt): transactions, the secret of the encrypted fields,
// check and compaction, deletion of records, the blob, loader, saver and
// recordset objects of a record definition, the structure hash and the
// driver version. QueryInterface answers IUnknown, IComDataModel and
// IComDataModelExt.
//
// Owns its model and destroys it with itself. Every object made through it
// holds a reference to it, so that the model lives until the last of them
// is released, whatever order the client releases them in.
#pragma once

#include <memory>

#include "DataBase/AccessDriver/IDataModel.h"
#include "VemComServer/Module.h"
#include "vem/ComDataModel.h"

namespace vemserver {

class ComDataModel final : public IComDataModel, public IComDataModelExt {
 public:
  ComDataModel() = default;
  ~ComDataModel();

  ComDataModel(const ComDataModel&) = delete;
  ComDataModel& operator=(const ComDataModel&) = delete;

  // Takes and owns pModel, destroying a model owned before.
  void Attach(std::unique_ptr<IDataModel> pModel);

  // IUnknown (shared by both interfaces)
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IComDataModel
  STDMETHOD(BeginTrans)(LONG lDBID, VARIANT_BOOL* pbRetVal) override;
  STDMETHOD(CommitTrans)(LONG lDBID, VARIANT_BOOL* pbRetVal) override;
  STDMETHOD(RollbackTrans)(LONG lDBID, VARIANT_BOOL* pbRetVal) override;
  STDMETHOD(ChangeSecret)(VARIANT vtSecretOld, VARIANT vtSecretNew, VARIANT vtRandom) override;
  STDMETHOD(SetSecret)(VARIANT vtSecret, VARIANT vtRandom) override;
  STDMETHOD(Check)() override;
  STDMETHOD(Compact)() override;
  STDMETHOD(DeleteRecord)(IComRecord* pRecord) override;
  STDMETHOD(CreateComBlobStrategy)(LONG rdID, IComBlobStrategy** ppBlobStrat) override;
  STDMETHOD(CreateComLoader)(LONG rdID, IComLoader** ppLoader) override;
  STDMETHOD(CreateComSaver)(LONG rdID, IComSaver** ppSaver) override;
  STDMETHOD(CreateComRecordsetStrategy)(LONG rdID, IComRecordsetStrategy** ppRSStrat) override;

  // IComDataModelExt
  STDMETHOD(CheckMD5StructureHash)(VARIANT varHash) override;
  STDMETHOD(GetDriverVersion)(ULONG* pulDriverVersion) override;
  STDMETHOD(UpgradeDriverVersion)(ULONG ulNewVersion) override;

 private:
  IDataModel& Model();
  // The IUnknown that the objects made here hold.
  IUnknown* Identity() { return static_cast<IComDataModel*>(this); }

  ULONG m_cRef = 0;
  ModuleLock m_moduleLock;
  std::unique_ptr<IDataModel> m_pModel;
};

}  // namespace vemserver
