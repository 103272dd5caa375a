#include "ComFixture.h"

#include <cstring>

#include "Platform/Text.h"
#include "Support/DatabaseFixture.h"
#include "VemComServer/ComVemServer.h"
#include "VemComServer/Module.h"

namespace comtest {

ClientRecord& ClientRecord::Long(LONG lID, LONG lValue) {
  m_values[lID] = _variant_t(lValue);
  return *this;
}

STDMETHODIMP ClientRecord::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IComRecord) {
    *ppv = this;
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ClientRecord::GetRecordDefId(LONG* plID) {
  if (FAILED(m_hrGetRecordDefId)) return m_hrGetRecordDefId;
  *plID = m_lRecordDefId;
  return S_OK;
}

STDMETHODIMP ClientRecord::GetIdFieldValue(LONG lID, VARIANT* pValue) {
  auto it = m_values.find(lID);
  return it == m_values.end() ? S_OK : VariantCopy(pValue, &it->second);
}

STDMETHODIMP ClientRecord::SetIdFieldValue(LONG lID, VARIANT varValue) {
  return VariantCopy(&m_values[lID], &varValue);
}

_variant_t ByteArray(const std::vector<BYTE>& bytes, VARTYPE vt, UINT nDims) {
  std::vector<SAFEARRAYBOUND> bounds(nDims, SAFEARRAYBOUND{static_cast<ULONG>(bytes.size()), 0});
  SAFEARRAY* psa = SafeArrayCreate(vt, nDims, bounds.data());
  void* pData = nullptr;
  SafeArrayAccessData(psa, &pData);
  if (!bytes.empty()) std::memcpy(pData, bytes.data(), bytes.size());  // the first row
  SafeArrayUnaccessData(psa);
  _variant_t v;
  v.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
  v.parray = psa;
  return v;
}

ErrorInfo TakeErrorInfo() {
  ErrorInfo result;
  IErrorInfo* pInfo = nullptr;
  if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr) return result;
  BSTR bstr = nullptr;
  pInfo->GetDescription(&bstr);
  if (bstr != nullptr) result.description = platform::WideToUtf8({bstr, SysStringLen(bstr)});
  SysFreeString(bstr);
  pInfo->GetGUID(&result.guid);
  pInfo->Release();
  return result;
}

ComTest::ComTest() : m_path(m_dir.File("fixture.vdb")) {
  m_lLocksAtStart = vemserver::ModuleLockCount();
  vemtest::CreateFixtureDatabase(m_path);
  EXPECT_EQ(vemserver::CreateComVemServer(IID_IComGenericAccessDataModel,
                                          reinterpret_cast<void**>(&m_pServer)),
            S_OK);
  SetErrorInfo(0, nullptr);
}

ComTest::~ComTest() {
  m_pServer = nullptr;
  // Every object of the test has been released: the module may unload.
  EXPECT_EQ(vemserver::ModuleLockCount(), m_lLocksAtStart);
}

Ptr<IComDataModel> ComTest::OpenModel() {
  Ptr<IComDataModel> pModel;
  const std::u16string path = platform::AnsiToWide(m_path);
  const std::u16string password = platform::AnsiToWide(vemtest::kFixturePassword);
  BSTR bstrPath = SysAllocString(path.c_str());
  BSTR bstrPassword = SysAllocString(password.c_str());
  EXPECT_EQ(m_pServer->CreateAccessDataModel(&m_backChannel, bstrPath, bstrPassword, &pModel),
            S_OK);
  SysFreeString(bstrPath);
  SysFreeString(bstrPassword);
  if (pModel) SetSecret(pModel.get(), "secret");
  return pModel;
}

void ComTest::SetSecret(IComDataModel* pModel, const std::string& secret) {
  EXPECT_EQ(pModel->SetSecret(ByteArray({secret.begin(), secret.end()}),
                              ByteArray({1, 2, 3, 4, 5, 6, 7, 8})),
            S_OK);
}

LONG ComTest::AppendDocument(IComDataModel* pModel, const char16_t* szTitle) {
  Ptr<IComSaver> pSaver;
  EXPECT_EQ(pModel->CreateComSaver(kDocument, &pSaver), S_OK);
  ClientRecord record(kDocument);
  record.Long(kDocId, 0);
  EXPECT_EQ(pSaver->OpenNew(&record), S_OK);
  _variant_t title;
  title.vt = VT_BSTR;
  title.bstrVal = SysAllocString(szTitle);
  EXPECT_EQ(pSaver->PutValue(kDocTitle, title), S_OK);
  EXPECT_EQ(pSaver->Close(), S_OK);
  EXPECT_EQ(record.m_lRefs, 0);  // the server kept no reference to the record
  return record.Value(kDocId).lVal;
}

}  // namespace comtest
