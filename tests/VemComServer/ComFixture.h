// Shared fixture of the COM object tests: the client's side of the server.
// The first object comes from vemserver::CreateComVemServer; everything else
// is reached through the public interfaces (vem/vem.h). The data model is
// the generic model of the fixture database (Support/DatabaseFixture.h):
// record 1 tblCustomer (id field 10, encrypted fields 12 to 22), record 2
// tblDocument (id field 30, blob field 33, plain fields 31 to 38).
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Platform/ComUtil.h"
#include "Support/RecordingBackChannel.h"
#include "Support/TempDir.h"
#include "vem/vem.h"

namespace comtest {

template <class T>
using Ptr = ComPtr<T>;

// A client record: a record definition id and id field values, with a count
// of the references the server holds at the moment.
class ClientRecord : public IComRecord {
 public:
  explicit ClientRecord(LONG lRecordDefId) : m_lRecordDefId(lRecordDefId) {}
  ClientRecord& Long(LONG lID, LONG lValue);
  // The value the server handed back for lID (VT_EMPTY when none).
  const _variant_t& Value(LONG lID) { return m_values[lID]; }

  HRESULT m_hrGetRecordDefId = S_OK;  // what GetRecordDefId answers
  LONG m_lRefs = 0;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
  STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++m_lRefs); }
  STDMETHOD_(ULONG, Release)() override { return static_cast<ULONG>(--m_lRefs); }
  STDMETHOD(GetRecordDefId)(LONG* plID) override;
  STDMETHOD(GetIdFieldValue)(LONG lID, VARIANT* pValue) override;
  STDMETHOD(SetIdFieldValue)(LONG lID, VARIANT varValue) override;

 private:
  LONG m_lRecordDefId;
  std::map<LONG, _variant_t> m_values;
};

// A VARIANT holding a one-dimensional array of vt with the given bytes (or,
// for more than one dimension, nDims dimensions of bytes.size() each).
_variant_t ByteArray(const std::vector<BYTE>& bytes, VARTYPE vt = VT_UI1, UINT nDims = 1);
// The thread's error information: its description (UTF-8) and GUID;
// empty description when there is none.
struct ErrorInfo {
  std::string description;
  GUID guid{};
};
ErrorInfo TakeErrorInfo();

// Fields and records of the fixture database's generic model.
enum : LONG {
  kCustomer = 1,
  kDocument = 2,
  kCusId = 10,
  kCusName = 11,
  kCusSecret = 12,
  kCusActive = 13,
  kCusLong = 18,
  kDocId = 30,
  kDocCusId = 31,
  kDocTitle = 32,
  kDocData = 33,
  kDocPages = 34,
  kDocFlag = 35,
  kDocByte = 36,
  kDocPrice = 37,
  kDocCreated = 38,
};

class ComTest : public ::testing::Test {
 protected:
  ComTest();
  ~ComTest() override;

  // The generic model of the fixture database, its secret set to "secret".
  Ptr<IComDataModel> OpenModel();
  // Sets the model's secret to the given text.
  static void SetSecret(IComDataModel* pModel, const std::string& secret);
  // Appends a document through a saver of the data model; answers its id.
  LONG AppendDocument(IComDataModel* pModel, const char16_t* szTitle);

  vemtest::TempDir m_dir;
  std::string m_path;
  vemtest::RecordingBackChannel m_backChannel{4};
  Ptr<IComGenericAccessDataModel> m_pServer;
  LONG m_lLocksAtStart = 0;
};

}  // namespace comtest
