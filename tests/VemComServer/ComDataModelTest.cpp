// The server and data model objects: interfaces, argument checks with their
// error information, and failures below the COM layer reaching the client.
#include <algorithm>
#include <array>
#include <functional>

#include "ComFixture.h"
#include "DataBase/AccessDriver/GADM.h"
#include "Platform/Text.h"
#include "Support/DatabaseFixture.h"
#include "VemComServer/ComVemServer.h"

namespace comtest {
namespace {

// A static model's callback whose defDatabases step runs `databases` and
// whose defRecordDefs step runs `records`.
class StepCallback : public IComStaticDataModelCallback {
 public:
  std::function<void(IComStaticDataModelCreator*)> databases, records;

  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 1; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(preDataModelDefinition)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(defFieldDefs)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(defRecordDefs)(IComStaticDataModelCreator* p) override {
    if (records) records(p);
    return S_OK;
  }
  STDMETHOD(defCommandDefs)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(defDatabases)(IComStaticDataModelCreator* p) override {
    if (databases) databases(p);
    return S_OK;
  }
  STDMETHOD(postDataModelDefinition)(IComStaticDataModelCreator*) override { return S_OK; }
};

Ptr<IComStaticAccessDataModel> StaticServer() {
  Ptr<IComStaticAccessDataModel> pServer;
  EXPECT_EQ(vemserver::CreateComVemServer(IID_IComStaticAccessDataModel,
                                          reinterpret_cast<void**>(&pServer)),
            S_OK);
  return pServer;
}

TEST_F(ComTest, EveryObjectAnswersExactlyItsInterfaces) {
  Ptr<IComDataModel> pModel = OpenModel();
  Ptr<IComRecordsetStrategy> pRecordset;
  Ptr<IComLoader> pLoader, pCachedLoader;
  Ptr<IComSaver> pSaver, pCachedSaver;
  Ptr<IComBlobStrategy> pBlob;
  Ptr<IkivOStream> pStream;
  ASSERT_EQ(pModel->CreateComRecordsetStrategy(kDocument, &pRecordset), S_OK);
  ASSERT_EQ(pModel->CreateComLoader(kDocument, &pLoader), S_OK);
  ASSERT_EQ(pModel->CreateComSaver(kDocument, &pSaver), S_OK);
  ASSERT_EQ(pModel->CreateComBlobStrategy(kDocument, &pBlob), S_OK);
  ASSERT_EQ(pRecordset->GetComLoader(&pCachedLoader), S_OK);
  ASSERT_EQ(pRecordset->GetComSaver(&pCachedSaver), S_OK);
  ASSERT_EQ(pBlob->OpenWrite(&pStream), S_OK);

  const std::vector<const IID*> all = {&IID_IUnknown,
                                       &IID_IComGenericAccessDataModel,
                                       &IID_IComStaticAccessDataModel,
                                       &IID_IComDataModel,
                                       &IID_IComDataModelExt,
                                       &IID_IComRecordsetStrategy,
                                       &IID_IComLoader,
                                       &IID_IComSaver,
                                       &IID_IComBlobStrategy,
                                       &IID_IkivIStream,
                                       &IID_IkivOStream,
                                       &IID_ISupportErrorInfo,
                                       &IID_IDispatch,
                                       &IID_IComRecord};
  const struct {
    const char* name;
    IUnknown* pObject;
    std::vector<const IID*> answered;
  } cases[] = {
      {"server",
       m_pServer.get(),
       {&IID_IUnknown, &IID_IComGenericAccessDataModel, &IID_IComStaticAccessDataModel}},
      {"data model", pModel.get(), {&IID_IUnknown, &IID_IComDataModel, &IID_IComDataModelExt}},
      {"recordset", pRecordset.get(), {&IID_IUnknown, &IID_IComRecordsetStrategy}},
      {"loader", pLoader.get(), {&IID_IUnknown, &IID_IComLoader}},
      {"cached loader", pCachedLoader.get(), {&IID_IUnknown, &IID_IComLoader}},
      {"saver", pSaver.get(), {&IID_IUnknown, &IID_IComSaver}},
      {"cached saver", pCachedSaver.get(), {&IID_IUnknown, &IID_IComSaver}},
      {"blob", pBlob.get(), {&IID_IUnknown, &IID_IComBlobStrategy}},
      {"stream", pStream.get(), {&IID_IUnknown, &IID_IkivIStream, &IID_IkivOStream}},
  };
  for (const auto& c : cases) {
    for (const IID* pIid : all) {
      const bool bExpected =
          std::find(c.answered.begin(), c.answered.end(), pIid) != c.answered.end();
      void* pv = reinterpret_cast<void*>(1);
      const HRESULT hr = c.pObject->QueryInterface(*pIid, &pv);
      EXPECT_EQ(hr, bExpected ? S_OK : E_NOINTERFACE) << c.name;
      EXPECT_EQ(pv != nullptr, bExpected) << c.name;
      if (pv != nullptr) static_cast<IUnknown*>(pv)->Release();
    }
  }
}

TEST_F(ComTest, ByteArrayChecksAnswerGermanErrorInformation) {
  Ptr<IComDataModel> pModel = OpenModel();
  Ptr<IComDataModelExt> pExt = pModel.As<IComDataModelExt>(IID_IComDataModelExt);
  const std::vector<BYTE> bytes = {1, 2, 3};
  _variant_t byRefArray = ByteArray(bytes);
  _variant_t byRef;
  byRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
  byRef.pparray = &byRefArray.parray;
  _variant_t byRefVariant;
  byRefVariant.vt = VT_BYREF | VT_VARIANT;
  byRefVariant.pvarVal = &byRefArray;

  const std::string secretType = "\"varSecret\" muss ein Array von Typ Long sein.";
  const std::string randomType = "\"varRandom\" muss ein Array von Long sein.";
  const std::string oneDim = "Nur eindimensionale Arrays sind erlaubt.";
  const std::string digest = "Array muss 'MD5_DIGEST_LENGTH' Elemente haben.";
  const struct {
    const char* name;
    std::function<HRESULT()> call;
    HRESULT expected;
    std::string description;  // empty: no error information
    const IID* pIid;
  } cases[] = {
      {"byte arrays", [&] { return pModel->SetSecret(ByteArray(bytes), ByteArray(bytes)); }, S_OK,
       "", nullptr},
      {"arrays by reference", [&] { return pModel->SetSecret(byRef, byRefVariant); }, S_OK, "",
       nullptr},
      {"long array",
       [&] {
         return pModel->SetSecret(ByteArray({1, 2, 3, 4}, VT_I4), ByteArray(bytes));
       },
       E_INVALIDARG, secretType, &IID_IComDataModel},
      {"empty secret", [&] { return pModel->SetSecret(_variant_t(), ByteArray(bytes)); },
       E_INVALIDARG, secretType, &IID_IComDataModel},
      {"two dimensions stop before the random check",
       [&] { return pModel->SetSecret(ByteArray(bytes, VT_UI1, 2), _variant_t()); }, E_INVALIDARG,
       oneDim, &IID_IComDataModel},
      {"random not an array", [&] { return pModel->SetSecret(ByteArray(bytes), _variant_t(7L)); },
       E_INVALIDARG, randomType, &IID_IComDataModel},
      {"old secret",
       [&] { return pModel->ChangeSecret(_variant_t(), ByteArray(bytes), ByteArray(bytes)); },
       E_INVALIDARG, "\"varSecretOld\" muss ein Array von Typ Long sein.", &IID_IComDataModel},
      {"new secret",
       [&] { return pModel->ChangeSecret(ByteArray(bytes), _variant_t(), ByteArray(bytes)); },
       E_INVALIDARG, "\"varSecretNew\" muss ein Array von Typ Long sein.", &IID_IComDataModel},
      {"change random",
       [&] { return pModel->ChangeSecret(ByteArray(bytes), ByteArray(bytes), _variant_t()); },
       E_INVALIDARG, randomType, &IID_IComDataModel},
      {"hash type", [&] { return pExt->CheckMD5StructureHash(_variant_t()); }, E_INVALIDARG,
       "\"varHash\" muss ein Array von Typ Long sein.", &IID_IComDataModelExt},
      {"hash 15 bytes",
       [&] { return pExt->CheckMD5StructureHash(ByteArray(std::vector<BYTE>(15))); }, E_INVALIDARG,
       digest, &IID_IComDataModelExt},
      {"hash 17 bytes",
       [&] { return pExt->CheckMD5StructureHash(ByteArray(std::vector<BYTE>(17))); }, E_INVALIDARG,
       digest, &IID_IComDataModelExt},
      {"hash two dimensions",
       [&] { return pExt->CheckMD5StructureHash(ByteArray(std::vector<BYTE>(16), VT_UI1, 2)); },
       E_INVALIDARG, oneDim, &IID_IComDataModelExt},
  };
  for (const auto& c : cases) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(c.call(), c.expected) << c.name;
    const ErrorInfo info = TakeErrorInfo();
    EXPECT_EQ(info.description, c.description) << c.name;
    if (c.pIid != nullptr) {
      EXPECT_TRUE(info.guid == *c.pIid) << c.name;
    }
  }
  byRefArray = _variant_t();  // owned the array the references pointed at
}

TEST_F(ComTest, StructureHashIsComparedByteForByte) {
  Ptr<IComDataModel> pModel = OpenModel();
  Ptr<IComDataModelExt> pExt = pModel.As<IComDataModelExt>(IID_IComDataModelExt);
  std::array<BYTE, 16> hash{};
  {
    GADM model(nullptr, m_path, vemtest::kFixturePassword);  // the same file, the same hash
    hash = model.StructureHash();
  }
  std::vector<BYTE> bytes(hash.begin(), hash.end());
  EXPECT_EQ(pExt->CheckMD5StructureHash(ByteArray(bytes)), S_OK);
  for (std::size_t i : {0u, 15u}) {
    std::vector<BYTE> changed = bytes;
    changed[i] ^= 1;
    EXPECT_EQ(pExt->CheckMD5StructureHash(ByteArray(changed)), S_FALSE) << i;
  }
}

TEST_F(ComTest, NullPointersAnswerEPointer) {
  Ptr<IComDataModel> pModel = OpenModel();
  Ptr<IComDataModelExt> pExt = pModel.As<IComDataModelExt>(IID_IComDataModelExt);
  Ptr<IComRecordsetStrategy> pRecordset;
  Ptr<IComLoader> pLoader;
  Ptr<IComSaver> pSaver;
  Ptr<IComBlobStrategy> pBlob;
  ASSERT_EQ(pModel->CreateComRecordsetStrategy(kDocument, &pRecordset), S_OK);
  ASSERT_EQ(pModel->CreateComLoader(kDocument, &pLoader), S_OK);
  ASSERT_EQ(pModel->CreateComSaver(kDocument, &pSaver), S_OK);
  ASSERT_EQ(pModel->CreateComBlobStrategy(kDocument, &pBlob), S_OK);
  ULONG ul = 0;
  USHORT us = 0;
  const struct {
    const char* name;
    std::function<HRESULT()> call;
  } cases[] = {
      {"CreateAccessDataModel",
       [&] { return m_pServer->CreateAccessDataModel(nullptr, nullptr, nullptr, nullptr); }},
      {"BeginTrans", [&] { return pModel->BeginTrans(0, nullptr); }},
      {"DeleteRecord", [&] { return pModel->DeleteRecord(nullptr); }},
      {"CreateComLoader", [&] { return pModel->CreateComLoader(kDocument, nullptr); }},
      {"CreateComBlobStrategy", [&] { return pModel->CreateComBlobStrategy(kDocument, nullptr); }},
      {"GetDriverVersion", [&] { return pExt->GetDriverVersion(nullptr); }},
      {"GetRecordCount", [&] { return pRecordset->GetRecordCount(nullptr); }},
      {"GetComLoader", [&] { return pRecordset->GetComLoader(nullptr); }},
      {"BeginAppend", [&] { return pRecordset->BeginAppend(nullptr, nullptr); }},
      {"loader Open", [&] { return pLoader->Open(nullptr); }},
      {"GetValue", [&] { return pLoader->GetValue(kDocTitle, nullptr); }},
      {"GetValueDate",
       [&] { return pLoader->GetValueDate(kDocCreated, &us, &us, nullptr, &us, &us, &us, &us); }},
      {"GetValueBlob", [&] { return pLoader->GetValueBlob(kDocData, nullptr); }},
      {"SetValueBlob", [&] { return pSaver->SetValueBlob(kDocData, nullptr); }},
      {"OpenReadHandle length", [&] { return pBlob->OpenReadHandle(nullptr, &ul); }},
      {"OpenReadHandle handle", [&] { return pBlob->OpenReadHandle(&ul, nullptr); }},
      {"OpenWriteHandle", [&] { return pBlob->OpenWriteHandle(nullptr); }},
      {"IsPresent", [&] { return pBlob->IsPresent(nullptr); }},
      {"Clone", [&] { return pBlob->Clone(nullptr); }},
      {"OpenRead", [&] { return pBlob->OpenRead(nullptr); }},
  };
  for (const auto& c : cases) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(c.call(), E_POINTER) << c.name;
    EXPECT_FALSE(TakeErrorInfo().description.empty()) << c.name;
  }
}

TEST_F(ComTest, FailuresBelowTheComLayerReachTheClient) {
  Ptr<IComDataModel> pModel = OpenModel();
  ClientRecord customer(kCustomer);
  customer.Long(kCusId, 0);
  {
    Ptr<IComSaver> pSaver;
    ASSERT_EQ(pModel->CreateComSaver(kCustomer, &pSaver), S_OK);
    ASSERT_EQ(pSaver->OpenNew(&customer), S_OK);
    _variant_t secret;
    secret.vt = VT_BSTR;
    secret.bstrVal = SysAllocString(u"hidden");
    ASSERT_EQ(pSaver->PutValue(kCusSecret, secret), S_OK);
    ASSERT_EQ(pSaver->Close(), S_OK);
  }
  Ptr<IComLoader> pLoader;
  ASSERT_EQ(pModel->CreateComLoader(kCustomer, &pLoader), S_OK);
  ASSERT_EQ(pLoader->Open(&customer), S_OK);
  ClientRecord failing(kCustomer);
  failing.m_hrGetRecordDefId = E_ACCESSDENIED;
  Ptr<IComLoader> pUnknown;
  VARIANT_BOOL b = 1;

  const struct {
    const char* name;
    std::function<HRESULT()> call;
    HRESULT expected;
    std::string text;  // a part of the error information's description
  } cases[] = {
      {"right secret",
       [&] {
         _variant_t v;
         const HRESULT hr = pLoader->GetValue(kCusSecret, &v);
         EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), u"hidden");
         return hr;
       },
       S_OK, ""},
      {"wrong secret",
       [&] {
         SetSecret(pModel.get(), "wrong");
         _variant_t v;
         return pLoader->GetValue(kCusSecret, &v);
       },
       E_FAIL, "illegal MAC found in database"},
      {"unknown record definition", [&] { return pModel->CreateComLoader(7, &pUnknown); },
       E_INVALIDARG, "unknown record definition id 7"},
      {"field of another record definition",
       [&] {
         _variant_t v;
         return pLoader->GetValue(kDocTitle, &v);
       },
       E_INVALIDARG, "not a field of record definition"},
      {"unknown database", [&] { return pModel->BeginTrans(3, &b); }, E_INVALIDARG,
       "unknown database id 3"},
      {"client record failing", [&] { return pModel->DeleteRecord(&failing); }, E_ACCESSDENIED,
       "GetRecordDefId"},
  };
  for (const auto& c : cases) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(c.call(), c.expected) << c.name;
    const ErrorInfo info = TakeErrorInfo();
    EXPECT_NE(info.description.find(c.text), std::string::npos)
        << c.name << ": " << info.description;
  }
  EXPECT_EQ(b, 1);  // not written by the failed call
  EXPECT_EQ(failing.m_lRefs, 0);
}

TEST_F(ComTest, TransactionsHandTheDriversAnswerThrough) {
  Ptr<IComDataModel> pModel = OpenModel();
  VARIANT_BOOL b = 7;
  EXPECT_EQ(pModel->BeginTrans(0, &b), S_OK);
  const LONG lId = AppendDocument(pModel.get(), u"rolled back");
  EXPECT_EQ(b, VARIANT_FALSE);  // the driver's answer
  EXPECT_EQ(pModel->RollbackTrans(0, &b), S_OK);
  Ptr<IComLoader> pLoader;
  ASSERT_EQ(pModel->CreateComLoader(kDocument, &pLoader), S_OK);
  ClientRecord record(kDocument);
  record.Long(kDocId, lId);
  pLoader->Open(&record);
  _variant_t v;
  EXPECT_NE(pLoader->GetValue(kDocTitle, &v), S_OK);  // no such record any more
}

TEST_F(ComTest, StaticModelsAndTheirFailures) {
  Ptr<IComStaticAccessDataModel> pServer = StaticServer();
  const std::u16string path = platform::AnsiToWide(m_path);
  const std::u16string password = platform::AnsiToWide(vemtest::kFixturePassword);
  const struct {
    const char* name;
    LONG lDatabaseId;          // the one database's id
    bool bFailingCreatorCall;  // AddFieldToRecordDef with unknown ids
    HRESULT expected;          // of CreateStaticAccessDataModel
    HRESULT expectedVersion;   // of GetDriverVersion on the model
  } cases[] = {
      {"database 0", 0, false, S_OK, S_OK},
      {"no database 0", 1, false, S_OK, E_FAIL},
      {"failing creator call", 0, true, E_INVALIDARG, S_OK},
  };
  for (const auto& c : cases) {
    StepCallback callback;
    callback.databases = [&](IComStaticDataModelCreator* p) {
      BSTR bstrPath = SysAllocString(path.c_str());
      BSTR bstrPassword = SysAllocString(password.c_str());
      p->AddDatabase(c.lDatabaseId, bstrPath, bstrPassword);
      SysFreeString(bstrPath);
      SysFreeString(bstrPassword);
    };
    if (c.bFailingCreatorCall)
      callback.records = [](IComStaticDataModelCreator* p) { p->AddFieldToRecordDef(5, 6, 0, 0); };
    SetErrorInfo(0, nullptr);
    Ptr<IComDataModel> pModel;
    EXPECT_EQ(pServer->CreateStaticAccessDataModel(&m_backChannel, &callback, &pModel), c.expected)
        << c.name;
    if (FAILED(c.expected)) {
      EXPECT_FALSE(pModel) << c.name;
      EXPECT_NE(TakeErrorInfo().description.find("AddFieldToRecordDef"), std::string::npos);
      continue;
    }
    Ptr<IComDataModelExt> pExt = pModel.As<IComDataModelExt>(IID_IComDataModelExt);
    ULONG ulVersion = 0;
    EXPECT_EQ(pExt->GetDriverVersion(&ulVersion), c.expectedVersion) << c.name;
    if (SUCCEEDED(c.expectedVersion)) {
      EXPECT_EQ(ulVersion, 0x01010000u) << c.name;
    }
  }
}

TEST_F(ComTest, ChangeSecretRewritesValuesUnderTheNewSecret) {
  Ptr<IComDataModel> pModel = OpenModel();
  ClientRecord customer(kCustomer);
  customer.Long(kCusId, 0);
  {
    Ptr<IComSaver> pSaver;
    ASSERT_EQ(pModel->CreateComSaver(kCustomer, &pSaver), S_OK);
    ASSERT_EQ(pSaver->OpenNew(&customer), S_OK);
    ASSERT_EQ(pSaver->PutValue(kCusLong, _variant_t(LONG{4711})), S_OK);
    ASSERT_EQ(pSaver->Close(), S_OK);
  }
  const std::string old = "secret", renewed = "renewed";
  ASSERT_EQ(pModel->ChangeSecret(ByteArray({old.begin(), old.end()}),
                                 ByteArray({renewed.begin(), renewed.end()}),
                                 ByteArray({8, 7, 6, 5, 4, 3, 2, 1})),
            S_OK);
  for (const auto& [secret, expected] : {std::pair{renewed, S_OK}, std::pair{old, E_FAIL}}) {
    SetSecret(pModel.get(), secret);
    Ptr<IComLoader> pLoader;
    ASSERT_EQ(pModel->CreateComLoader(kCustomer, &pLoader), S_OK);
    ASSERT_EQ(pLoader->Open(&customer), S_OK);
    _variant_t v;
    EXPECT_EQ(pLoader->GetValue(kCusLong, &v), expected) << secret;
    if (expected == S_OK) {
      EXPECT_EQ(v.lVal, 4711);
    }
  }
}

}  // namespace
}  // namespace comtest
