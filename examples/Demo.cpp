// The demo client: a program that uses the server as any client would, through
// its public interfaces and the COM runtime calls only.
//
// It prepares a customer database (a table of customers with encrypted IBAN
// and balance columns, a table of documents with a blob column), registers the
// server module into a registry of its own, creates ComVemServer by ProgID,
// derives the generic data model from the database, sets the secret, appends
// and edits records through savers and recordsets, stores a document's bytes
// as a blob and reads them back through streams, changes the secret, checks
// and compacts the database with the progress shown as it happens, and checks
// the model's structure hash.
//
// Usage: vem_demo [DIRECTORY]
// The database is DIRECTORY/customers.db (password "demo"); when it already
// exists (made, say, by `vem create` from examples/schema/demo.json) the demo
// works on it. The encrypted fields end under the secret "correct horse
// battery staple" (the demo changes it and back). Without DIRECTORY everything happens in a
// temporary directory that is removed at the end. The registry is DIRECTORY/registry.db unless
// VEM_REGISTRY names one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "DatabaseBuilder.h"
#include "Platform/ComUtil.h"
#include "Platform/Random.h"
#include "Platform/Text.h"
#include "Platform/Win32.h"
#include "vem/vem.h"

namespace {

// Record and field definition ids: the "Enum" properties of the database.
enum : LONG {
  kCustomer = 1,
  kCusId = 10,
  kCusName = 11,
  kCusIban = 12,
  kCusBalance = 13,
  kCusSince = 14,
  kDocument = 2,
  kDocId = 20,
  kDocCusId = 21,
  kDocTitle = 22,
  kDocPages = 23,
  kDocConfidential = 24,
  kDocData = 25,
  kCustomerDocuments = 3,
};

// The structure hash of the model this client was written for: the generic
// model of a database made as below (or by `vem create` from
// examples/schema/demo.json).
constexpr char kExpectedStructureHash[] = "dfcaf2e6a4e581aa1d24b5a429ef41de";

std::string Utf8(BSTR b) {
  return platform::WideToUtf8(std::u16string_view(b != nullptr ? b : u"", SysStringLen(b)));
}

// Stops the demo with the failing call's HRESULT and the error information
// the server left for it.
class Failure {
 public:
  Failure(const char* szWhat, HRESULT hr) : m_what(szWhat), m_hr(hr) {
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) == S_OK && pInfo != nullptr) {
      BSTR bstr = nullptr;
      if (SUCCEEDED(pInfo->GetDescription(&bstr))) m_description = Utf8(bstr);
      SysFreeString(bstr);
      pInfo->Release();
    }
  }
  void Print() const {
    std::fprintf(stderr, "vem_demo: %s failed with 0x%08X%s%s\n", m_what.c_str(),
                 static_cast<unsigned>(m_hr), m_description.empty() ? "" : ": ",
                 m_description.c_str());
  }

 private:
  std::string m_what;
  HRESULT m_hr;
  std::string m_description;
};

// Calls that must succeed (S_OK or S_FALSE); answers the HRESULT.
HRESULT Check(const char* szWhat, HRESULT hr) {
  if (FAILED(hr)) throw Failure(szWhat, hr);
  return hr;
}

// The back channel: prints errors and progress as they arrive; traces only
// at the level the demo asks for.
class ConsoleBackChannel : public IkivBackChannel {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_IkivBackChannel)
      return E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }  // lives on Run's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP get_lTraceLevel(LONG* plLevel) override {
    if (plLevel == nullptr) return E_POINTER;
    *plLevel = m_lLevel;
    return S_OK;
  }
  STDMETHODIMP put_lTraceLevel(LONG lLevel) override {
    m_lLevel = lLevel;
    return S_OK;
  }
  STDMETHODIMP Error(LONG, LONG, LONG, LONG lCode, BSTR b1, BSTR b2, BSTR b3) override {
    EndProgressLine();
    std::printf("  [error 0x%X] %s %s %s\n", static_cast<unsigned>(lCode), Utf8(b1).c_str(),
                Utf8(b2).c_str(), Utf8(b3).c_str());
    return S_OK;
  }
  STDMETHODIMP Progress(LONG, LONG, LONG, LONG, BSTR, BSTR, BSTR, SHORT nPercent,
                        SHORT eAction) override {
    std::printf("%s%d%% (step %d)", m_bInProgressLine ? ", " : "  progress: ", nPercent, eAction);
    std::fflush(stdout);
    m_bInProgressLine = true;
    return S_OK;
  }
  STDMETHODIMP Info(LONG, LONG, LONG, LONG, BSTR b1, BSTR, BSTR) override {
    EndProgressLine();
    std::printf("  [info] %s\n", Utf8(b1).c_str());
    return S_OK;
  }
  STDMETHODIMP Trace(LONG, LONG, LONG, LONG, BSTR bstrText) override {
    EndProgressLine();
    std::printf("  [trace] %s\n", Utf8(bstrText).c_str());
    return S_OK;
  }
  STDMETHODIMP Data(LONG, LONG, LONG, VARIANT*) override { return S_OK; }

  void EndProgressLine() {
    if (m_bInProgressLine) std::printf("\n");
    m_bInProgressLine = false;
  }

 private:
  LONG m_lLevel = 0;
  bool m_bInProgressLine = false;
};

// A client record: its record definition and the value of its id field.
class IdRecord : public IComRecord {
 public:
  IdRecord(LONG lRecordDefId, LONG lIdField, LONG lId = 0)
      : m_lRecordDefId(lRecordDefId), m_lIdField(lIdField), m_lId(lId) {}
  LONG Id() const { return m_lId; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IComRecord) return E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }  // lives on the caller's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetRecordDefId(LONG* plID) override {
    *plID = m_lRecordDefId;
    return S_OK;
  }
  STDMETHODIMP GetIdFieldValue(LONG lID, VARIANT* pValue) override {
    if (lID != m_lIdField) return E_INVALIDARG;
    pValue->vt = VT_I4;
    pValue->lVal = m_lId;
    return S_OK;
  }
  // The number the database gave the record's AutoNumber on append.
  STDMETHODIMP SetIdFieldValue(LONG lID, VARIANT varValue) override {
    if (lID != m_lIdField || varValue.vt != VT_I4) return E_INVALIDARG;
    m_lId = varValue.lVal;
    return S_OK;
  }

 private:
  LONG m_lRecordDefId;
  LONG m_lIdField;
  LONG m_lId;
};

// A VARIANT holding the bytes of text as a one-dimensional byte array.
_variant_t Bytes(const std::string& text) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(text.size()));
  if (psa == nullptr) throw Failure("SafeArrayCreateVector", E_OUTOFMEMORY);
  void* pData = nullptr;
  SafeArrayAccessData(psa, &pData);
  if (!text.empty()) std::memcpy(pData, text.data(), text.size());
  SafeArrayUnaccessData(psa);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = psa;
  return _variant_t(v, false);  // takes the array
}

// The customer and document tables, as examples/schema/demo.json has them.
void PrepareDatabase(const std::string& path, const std::string& password) {
  using vemtool::FieldSpec;
  dao::DatabasePtr pDb = vemtool::CreateDatabase(path, password);
  vemtool::SetLongProperty(*pDb, "vemDriverVersion", 0x01010000);
  vemtool::SetLongProperty(*pDb, "EnumRecordDefMax", 100);
  vemtool::SetLongProperty(*pDb, "EnumFieldMax", 1000);
  vemtool::SetLongProperty(*pDb, "vemDatabaseVersion", 1);
  vemtool::AddTable(*pDb, {"tblCustomer",
                           {{"CUS_ID", dao::dbLong, 0, true, {}, kCusId},
                            {"CUS_Name", dao::dbText, 50, false, {}, kCusName, true},
                            {"CUS_IBAN", dao::dbText, 252, false, "CRYPT STRING", kCusIban},
                            {"CUS_Balance", dao::dbText, 48, false, "CRYPT DOUBLE", kCusBalance},
                            {"CUS_Since", dao::dbDate, 0, false, {}, kCusSince}},
                           {"CUS_ID"},
                           "DM customers",
                           kCustomer,
                           {{"ixCustomerName", {"CUS_Name"}, false}}});
  vemtool::AddTable(*pDb,
                    {"tblDocument",
                     {{"DOC_ID", dao::dbLong, 0, true, {}, kDocId},
                      {"DOC_CUS_ID", dao::dbLong, 0, false, {}, kDocCusId, true},
                      {"DOC_Title", dao::dbText, 100, false, {}, kDocTitle},
                      {"DOC_Pages", dao::dbInteger, 0, false, {}, kDocPages},
                      {"DOC_Confidential", dao::dbText, 40, false, "CRYPT BOOL", kDocConfidential},
                      {"DOC_Data", dao::dbLong, 0, false, "BLOB", kDocData}},
                     {"DOC_ID"},
                     "DM documents",
                     kDocument,
                     {{"ixDocumentCustomer", {"DOC_CUS_ID"}, false}}});
  vemtool::AddBlobTables(*pDb);
  vemtool::AddQuery(*pDb, {"qryCustomerDocuments",
                           "SELECT CUS_ID, CUS_Name, DOC_ID, DOC_Title FROM tblCustomer INNER JOIN "
                           "tblDocument ON tblCustomer.CUS_ID = tblDocument.DOC_CUS_ID",
                           "DM documents with their customer",
                           kCustomerDocuments,
                           {{"DOC_ID", "ID"}},
                           {}});
  pDb->Close();
}

// Registers the server module as a registration tool does: loads it and
// calls its DllRegisterServer.
void RegisterServer() {
  HMODULE hModule = LoadLibraryA(VEM_SERVER_MODULE_PATH);
  if (hModule == nullptr) throw Failure("loading " VEM_SERVER_MODULE_PATH, E_FAIL);
  using RegisterFn = HRESULT (*)();
  auto pfnRegister = reinterpret_cast<RegisterFn>(GetProcAddress(hModule, "DllRegisterServer"));
  const HRESULT hr = pfnRegister != nullptr ? pfnRegister() : E_FAIL;
  FreeLibrary(hModule);
  Check("DllRegisterServer", hr);
}

struct Customer {
  const char16_t* name;
  const char16_t* iban;
  double balance;
  USHORT year, month, day;
};

void AppendCustomer(IComDataModel& model, const Customer& c, LONG& lId) {
  ComPtr<IComSaver> pSaver;
  Check("CreateComSaver", model.CreateComSaver(kCustomer, &pSaver));
  IdRecord record(kCustomer, kCusId);
  Check("OpenNew", pSaver->OpenNew(&record));  // the AutoNumber comes back into record
  Check("PutValue", pSaver->PutValue(kCusName, _variant_t(c.name)));
  Check("PutValue", pSaver->PutValue(kCusIban, _variant_t(c.iban)));
  Check("PutValue", pSaver->PutValue(kCusBalance, _variant_t(c.balance)));
  Check("PutValueDate", pSaver->PutValueDate(kCusSince, c.year, c.month, c.day, 9, 0, 0, 0));
  Check("Close", pSaver->Close());
  lId = record.Id();
}

// text padded with blanks to width characters (UTF-8).
std::string Padded(std::string text, std::size_t width) {
  std::size_t characters = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  if (characters < width) text.append(width - characters, ' ');
  return text;
}

void ListCustomers(IComDataModel& model, const char* szTitle) {
  std::printf("%s\n", szTitle);
  ComPtr<IComRecordsetStrategy> pRecordset;
  Check("CreateComRecordsetStrategy", model.CreateComRecordsetStrategy(kCustomer, &pRecordset));
  Check("Sort", pRecordset->Sort(_bstr_t("{11}")));
  Check("Open", pRecordset->Open());
  ComPtr<IComLoader> pLoader;
  Check("GetComLoader", pRecordset->GetComLoader(&pLoader));
  VARIANT_BOOL bEof = VARIANT_FALSE;
  Check("_EOF", pRecordset->_EOF(&bEof));
  for (HRESULT hr = bEof ? S_FALSE : S_OK; hr == S_OK;
       hr = Check("MoveNext", pRecordset->MoveNext())) {
    _variant_t id, name, iban, balance;
    Check("GetValue", pLoader->GetValue(kCusId, &id));
    Check("GetValue", pLoader->GetValue(kCusName, &name));
    Check("GetValue", pLoader->GetValue(kCusIban, &iban));
    Check("GetValue", pLoader->GetValue(kCusBalance, &balance));
    USHORT y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    Check("GetValueDate", pLoader->GetValueDate(kCusSince, &y, &mo, &d, &h, &mi, &s, &ms));
    std::printf("  %d %s %s %10.2f  since %04u-%02u-%02u\n", id.lVal,
                Padded(Utf8(name.bstrVal), 14).c_str(), Padded(Utf8(iban.bstrVal), 34).c_str(),
                balance.dblVal, y, mo, d);
  }
}

int Run(const std::string& dir) {
  const std::string path = dir + "/customers.db";
  const std::string password = "demo";
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    std::printf("Preparing %s (customers with encrypted IBAN and balance, documents with a blob)\n",
                path.c_str());
    PrepareDatabase(path, password);
  } else {
    std::printf("Working on %s\n", path.c_str());
  }

  const std::string registry = dir + "/registry.db";
  setenv("VEM_REGISTRY", registry.c_str(), 0);
  RegisterServer();
  std::printf("Registered the server in %s\n", std::getenv("VEM_REGISTRY"));

  Check("CoInitialize", CoInitialize(nullptr));
  {
    CLSID clsid{};
    Check("CLSIDFromProgID", CLSIDFromProgID(u"VemComServer.ComVemServer", &clsid));
    ComPtr<IComGenericAccessDataModel> pServer;
    Check("CoCreateInstance",
          CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IComGenericAccessDataModel,
                           reinterpret_cast<void**>(&pServer)));
    std::printf("Created VemComServer.ComVemServer through the registry\n");

    ConsoleBackChannel channel;
    ComPtr<IComDataModel> pModel;
    Check("CreateAccessDataModel",
          pServer->CreateAccessDataModel(&channel, _bstr_t(path.c_str()), _bstr_t(password.c_str()),
                                         &pModel));
    pServer = nullptr;  // the server object is stateless; the model lives on
    ComPtr<IComDataModelExt> pModelExt;
    Check("QueryInterface",
          pModel->QueryInterface(IID_IComDataModelExt, reinterpret_cast<void**>(&pModelExt)));
    ULONG ulVersion = 0;
    Check("GetDriverVersion", pModelExt->GetDriverVersion(&ulVersion));
    std::printf("Derived the generic data model (driver version 0x%08X)\n", ulVersion);

    const std::string secret = "correct horse battery staple";
    BYTE salt[8];
    platform::RandomBytes(salt, sizeof salt);
    Check("SetSecret",
          pModel->SetSecret(Bytes(secret), Bytes(std::string(reinterpret_cast<char*>(salt), 8))));

    const Customer kCustomers[] = {
        {u"Anna Müller", u"DE89 3704 0044 0532 0130 00", 1250.75, 2019, 3, 14},
        {u"Jean Dupont", u"FR14 2004 1010 0505 0001 3M02 606", -42.5, 2021, 1, 1},
        {u"María López", u"ES91 2100 0418 4502 0005 1332", 99999.99, 2024, 2, 29},
    };
    LONG lFirstId = 0;
    for (const Customer& c : kCustomers) {
      LONG lId = 0;
      AppendCustomer(*pModel, c, lId);
      if (lFirstId == 0) lFirstId = lId;
    }
    std::printf("Appended %zu customers through savers (encrypted fields enciphered)\n",
                std::size(kCustomers));

    // Edit one record through a recordset: find, update, finish.
    {
      ComPtr<IComRecordsetStrategy> pRecordset;
      Check("CreateComRecordsetStrategy",
            pModel->CreateComRecordsetStrategy(kCustomer, &pRecordset));
      Check("Open", pRecordset->Open());
      Check("FindFirst", pRecordset->FindFirst(_bstr_t("{11} = 'Jean Dupont'")));
      ComPtr<IComSaver> pSaver;
      Check("BeginUpdate", pRecordset->BeginUpdate(&pSaver));
      Check("PutValue", pSaver->PutValue(kCusBalance, _variant_t(157.5)));
      Check("FinishUpdate", pRecordset->FinishUpdate());
      std::printf("Updated Jean Dupont's balance through a recordset\n");
    }
    ListCustomers(*pModel, "Customers, sorted by name:");

    // A document whose bytes live in the blob store.
    std::string document = "%PDF-1.4 demo contract for customer " + std::to_string(lFirstId) + "\n";
    while (document.size() < 200000) document += "lorem ipsum dolor sit amet ";
    LONG lDocId = 0;
    {
      ComPtr<IComBlobStrategy> pBlob;
      Check("CreateComBlobStrategy", pModel->CreateComBlobStrategy(kDocument, &pBlob));
      ComPtr<IkivOStream> pOut;
      Check("OpenWrite", pBlob->OpenWrite(&pOut));
      for (std::size_t at = 0; at < document.size(); at += 65536) {
        const std::size_t n = std::min<std::size_t>(65536, document.size() - at);
        Check("write", pOut->write(static_cast<LONG>(n),
                                   reinterpret_cast<unsigned char*>(document.data() + at)));
      }
      Check("CloseWrite", pBlob->CloseWrite());
      ComPtr<IComSaver> pSaver;
      Check("CreateComSaver", pModel->CreateComSaver(kDocument, &pSaver));
      IdRecord record(kDocument, kDocId);
      Check("OpenNew", pSaver->OpenNew(&record));
      Check("PutValue", pSaver->PutValue(kDocCusId, _variant_t(lFirstId)));
      Check("PutValue", pSaver->PutValue(kDocTitle, _variant_t(u"Contract")));
      Check("PutValue", pSaver->PutValue(kDocConfidential, _variant_t(true)));
      Check("SetValueBlob", pSaver->SetValueBlob(kDocData, pBlob.get()));
      Check("Close", pSaver->Close());
      lDocId = record.Id();
    }
    {
      ComPtr<IComLoader> pLoader;
      Check("CreateComLoader", pModel->CreateComLoader(kDocument, &pLoader));
      IdRecord record(kDocument, kDocId, lDocId);
      Check("Open", pLoader->Open(&record));
      ComPtr<IComBlobStrategy> pBlob;
      Check("CreateComBlobStrategy", pModel->CreateComBlobStrategy(kDocument, &pBlob));
      Check("GetValueBlob", pLoader->GetValueBlob(kDocData, pBlob.get()));
      ComPtr<IkivIStream> pIn;
      if (Check("OpenRead", pBlob->OpenRead(&pIn)) != S_OK) throw Failure("OpenRead", E_FAIL);
      std::string read;
      unsigned char buffer[65536];
      for (LONG lRead = 0;
           Check("read", pIn->read(sizeof buffer, buffer, &lRead)) == S_OK && lRead > 0;)
        read.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(lRead));
      Check("CloseRead", pBlob->CloseRead());
      Check("Close", pLoader->Close());
      std::printf("Stored document %d as a blob of %zu bytes and read it back: %s\n", lDocId,
                  document.size(), read == document ? "identical" : "DIFFERENT");
      if (read != document) return 1;
    }

    const std::string newSecret = "a new secret";
    Check("ChangeSecret", pModel->ChangeSecret(Bytes(secret), Bytes(newSecret), Bytes("")));
    ListCustomers(*pModel, "Changed the secret (every encrypted value rewritten); read again:");
    // And back, so that the next run (and `vem dump`) find the first secret.
    Check("ChangeSecret", pModel->ChangeSecret(Bytes(newSecret), Bytes(secret), Bytes("")));
    std::printf("Changed it back to the first secret\n");

    std::printf("Checking the database and its blob files:\n");
    Check("Check", pModel->Check());
    channel.EndProgressLine();
    std::printf("Compacting them:\n");
    Check("Compact", pModel->Compact());
    channel.EndProgressLine();

    // The model must be the one this client was written for.
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 16);
    if (psa == nullptr) throw Failure("SafeArrayCreateVector", E_OUTOFMEMORY);
    BYTE* pHash = nullptr;
    SafeArrayAccessData(psa, reinterpret_cast<void**>(&pHash));
    for (int i = 0; i < 16; ++i)
      pHash[i] =
          static_cast<BYTE>(std::stoi(std::string(kExpectedStructureHash + 2 * i, 2), nullptr, 16));
    SafeArrayUnaccessData(psa);
    VARIANT varHash;
    VariantInit(&varHash);
    varHash.vt = VT_ARRAY | VT_UI1;
    varHash.parray = psa;
    const HRESULT hrHash = pModelExt->CheckMD5StructureHash(varHash);
    VariantClear(&varHash);
    Check("CheckMD5StructureHash", hrHash);
    std::printf("Structure hash %s: %s\n", kExpectedStructureHash,
                hrHash == S_OK ? "the model is the one this client was written for"
                               : "the model differs from the one this client was written for");
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
  std::printf("Done.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string dir;
  bool bTemporary = false;
  std::error_code ec;
  if (argc > 1) {
    dir = argv[1];
    fs::create_directories(dir, ec);
  } else {
    char pattern[] = "/tmp/vem_demo.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      std::perror("vem_demo: mkdtemp");
      return 1;
    }
    dir = pattern;
    bTemporary = true;
  }
  int rc = 1;
  try {
    rc = Run(dir);
  } catch (const Failure& f) {
    f.Print();
  } catch (const _com_error& e) {
    std::fprintf(stderr, "vem_demo: preparing the database failed with 0x%08X: %s\n",
                 static_cast<unsigned>(e.Error()), e.ErrorMessage());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vem_demo: %s\n", e.what());
  }
  if (bTemporary) fs::remove_all(dir, ec);
  return rc;
}
