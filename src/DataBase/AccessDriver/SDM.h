// SDM: the static data model, whose definitions the client declares itself
// through IComStaticDataModelCreator while the model's construction drives
// the client's IComStaticDataModelCallback step by step.
//
// Construction: the DataModel base (empty tables, the back channel), the
// callback stored, the six definition steps run (each calls the callback
// step of that name with this model's creator; the callback's results are
// not looked at), the callback cleared. Afterwards the model is used like
// any other; its definitions no longer change.
//
// The creator's methods store at once what they are given. They never let
// an exception leave through the client's callback: a failure (an id that
// names no definition, an id out of range, lack of memory) answers an
// HRESULT with the thread's error info set. A database that cannot be
// opened is stored closed (its failure traced to the back channel).
//
// The first creator call that fails while the steps run is remembered
// (DefinitionResult, DefinitionFailure): a model whose definition failed is
// not to be handed out.
//
// Ownership: the model is owned by the COM object that wraps it. The
// creator's reference count only counts; reaching 0 destroys nothing. The
// callback is held without AddRef only while the steps run.
#pragma once

#include <string>

#include "DataBase/AccessDriver/DataModel.h"
#include "Platform/WinTypes.h"
#include "vem/StaticDataModel.h"

class SDM : public DataModel, public IComStaticDataModelCreator {
 public:
  // pBackChannel: held without AddRef for the model's lifetime (null drops
  // every report). pCallback: called during construction only; null skips
  // every step (an empty model).
  SDM(IkivBackChannel* pBackChannel, IComStaticDataModelCallback* pCallback);
  ~SDM() override;

  // IUnknown: answers IUnknown and IComStaticDataModelCreator.
  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;
  STDMETHOD_(ULONG, AddRef)() override;
  STDMETHOD_(ULONG, Release)() override;

  // IComStaticDataModelCreator
  STDMETHOD(AddFieldDef)
  (LONG lID, BSTR bstrName, LONG lType, LONG lLen, VARIANT_BOOL bCrypt) override;
  STDMETHOD(AddRecordDef)(LONG lID, BSTR bstrName, LONG lDBID) override;
  STDMETHOD(AddFieldToRecordDef)
  (LONG lRDID, LONG lFDID, VARIANT_BOOL bIdField, VARIANT_BOOL bAutoValue) override;
  STDMETHOD(AddCommandDef)(LONG lID, BSTR bstrName, LONG lDBID) override;
  STDMETHOD(AddDatabase)(LONG lID, BSTR bstrName, BSTR bstrPassword) override;

  // S_OK, or the HRESULT of the first creator call that failed while the
  // definition steps ran; DefinitionFailure its description.
  HRESULT DefinitionResult() const { return m_hrDefinition; }
  const std::string& DefinitionFailure() const { return m_definitionFailure; }

 protected:
  void PreDataModelDefinition() override;
  void DefDatabases() override;
  void DefFieldDefs() override;
  void DefRecordDefs() override;
  void DefCommandDefs() override;
  void PostDataModelDefinition() override;

 private:
  IComStaticDataModelCreator* Creator() { return this; }
  // Runs one creator operation (defined in SDM.cpp): S_OK when it finishes,
  // otherwise the failure's HRESULT with error info naming the operation,
  // remembered when it is the first failure of the definition steps.
  template <class Fn>
  HRESULT CreatorCall(const char* szOperation, Fn&& fn) noexcept;

  LONG m_lCreatorRefs = 0;                             // the creator's count only
  IComStaticDataModelCallback* m_pCallback = nullptr;  // only while defining; not AddRef'd
  HRESULT m_hrDefinition = S_OK;                       // first failure while defining
  std::string m_definitionFailure;
};
