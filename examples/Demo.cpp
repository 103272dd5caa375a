// The demo client: prepares a customer database as a user would (a table
// marked "DM" with encrypted columns), opens it as a generic data model,
// sets a secret, appends and reads records through savers and a recordset,
// shows what the database really stores, changes the secret and prints the
// model's structure hash. Diagnostics arrive on a back channel that prints
// them.
//
// Usage: vem_demo <directory>   (the database file is made there)
#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <string>

#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DateConversion.h"
#include "DataBase/AccessDriver/GADM.h"
#include "DataBase/AccessDriver/ILoader.h"
#include "DataBase/AccessDriver/IRecord.h"
#include "DataBase/AccessDriver/IRecordsetStrategy.h"
#include "DataBase/AccessDriver/ISaver.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"
#include "Platform/Random.h"
#include "Platform/Text.h"
#include "vem/vem.h"

namespace {

// A back channel client that prints what the server reports.
class ConsoleBackChannel : public IkivBackChannel {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IkivBackChannel)) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }  // lives on main's stack
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP get_lTraceLevel(LONG* plLevel) override {
    if (!plLevel) return E_POINTER;
    *plLevel = m_lLevel;
    return S_OK;
  }
  STDMETHODIMP put_lTraceLevel(LONG lLevel) override {
    m_lLevel = lLevel;
    return S_OK;
  }
  STDMETHODIMP Error(LONG, LONG, LONG, LONG lCode, BSTR b1, BSTR b2, BSTR b3) override {
    std::printf("  [error 0x%X] %s %s %s\n", static_cast<unsigned>(lCode), Text(b1).c_str(),
                Text(b2).c_str(), Text(b3).c_str());
    return S_OK;
  }
  STDMETHODIMP Progress(LONG, LONG, LONG, LONG, BSTR, BSTR, BSTR, SHORT nPercent,
                        SHORT eAction) override {
    std::printf("  [progress] %d%% (action %d)\n", nPercent, eAction);
    return S_OK;
  }
  STDMETHODIMP Info(LONG, LONG, LONG, LONG, BSTR b1, BSTR, BSTR) override {
    std::printf("  [info] %s\n", Text(b1).c_str());
    return S_OK;
  }
  STDMETHODIMP Trace(LONG, LONG, LONG, LONG, BSTR bstrText) override {
    std::printf("  [trace] %s\n", Text(bstrText).c_str());
    return S_OK;
  }
  STDMETHODIMP Data(LONG, LONG, LONG, VARIANT*) override { return S_OK; }

 private:
  static std::string Text(BSTR b) {
    return platform::WideToUtf8(std::u16string_view(b ? b : u"", SysStringLen(b)));
  }
  LONG m_lLevel = 4;
};

// A client record: the record definition and the value of its id field.
class CustomerRecord : public IRecord {
 public:
  CustomerRecord(LONG lRecordDefId, LONG lIdField, LONG lId)
      : m_lRecordDefId(lRecordDefId), m_lIdField(lIdField), m_lId(lId) {}
  LONG GetRecordDefId() override { return m_lRecordDefId; }
  void GetIdFieldValue(LONG lID, IdValue& value) override {
    if (lID != m_lIdField) return;
    value.m_lKind = IdValue::kLong;
    value.m_lValue = m_lId;
  }
  void SetIdFieldValue(LONG lID, const IdValue& value) override {
    if (lID == m_lIdField && value.m_lKind == IdValue::kLong) m_lId = value.m_lValue;
  }
  LONG Id() const { return m_lId; }

 private:
  LONG m_lRecordDefId;
  LONG m_lIdField;
  LONG m_lId;
};

void AddProperty(dao::Field& field, const char* name, const char* text) {
  field.GetProperties()->Append(field.CreateProperty(
      _variant_t(name), _variant_t(static_cast<LONG>(dao::dbText)), _variant_t(text)));
}

// The database a user would prepare with the engine: one "DM" table whose
// IBAN and balance columns are encrypted.
void PrepareDatabase(const std::string& path, const std::string& password) {
  dao::DatabasePtr pDb = dao::CreateDBEngine()->CreateDatabase(
      _bstr_t(path.c_str()), _bstr_t((";PWD=" + password).c_str()));
  pDb->Execute(
      "CREATE TABLE tblCustomer (CUS_ID COUNTER PRIMARY KEY, CUS_Name TEXT(50), "
      "CUS_IBAN TEXT(252), CUS_Balance TEXT(48), CUS_Since DATETIME)");
  pDb->GetProperties()->Append(pDb->CreateProperty(_variant_t("vemDriverVersion"),
                                                   _variant_t(static_cast<LONG>(dao::dbLong)),
                                                   _variant_t(static_cast<LONG>(0x01010000))));
  dao::TableDefPtr pTable = pDb->GetTableDefs()->GetItem(_variant_t("tblCustomer"));
  pTable->GetProperties()->Append(pTable->CreateProperty(_variant_t("Description"),
                                                         _variant_t(static_cast<LONG>(dao::dbText)),
                                                         _variant_t("DM customers")));
  AddProperty(*pTable->GetFields()->GetItem(_variant_t("CUS_IBAN")), "Description", "CRYPT STRING");
  AddProperty(*pTable->GetFields()->GetItem(_variant_t("CUS_Balance")), "Description",
              "CRYPT DOUBLE");
  pDb->Close();
}

const BYTE* Bytes(const std::string& s) {
  return reinterpret_cast<const BYTE*>(s.data());
}

int Run(const std::string& dir) {
  const std::string path = dir + "/customers.db";
  const std::string password = "demo";
  std::printf("Preparing %s\n", path.c_str());
  PrepareDatabase(path, password);

  ConsoleBackChannel channel;
  std::printf("\nOpening it as a generic data model (trace level 4):\n");
  GADM model(&channel, path, password);
  channel.put_lTraceLevel(0);

  std::map<std::string, LONG> fieldIds;
  std::printf("\nField definitions:\n");
  model.ForEachFieldDef([&](const SFieldDef& f) {
    fieldIds[f.m_name] = f.m_lID;
    std::printf("  %2d %-12s type %2d length %4d%s\n", f.m_lID, f.m_name.c_str(), f.m_lType,
                f.m_lLength, f.m_bCrypt ? " encrypted" : "");
  });
  const SRecordDef& customers = model.GetRecordDef(0);
  std::printf("Record definition 0: %s with %zu fields, id field %s\n", customers.m_name.c_str(),
              customers.m_fields.size(), customers.m_idFields.at(0)->m_name.c_str());

  IDatabase& db = model.GetDatabase(0);
  const std::string secret = "correct horse battery staple";
  BYTE random[16];
  platform::RandomBytes(random, sizeof random);  // the salt comes from the first 8
  db.SetSecret(Bytes(secret), static_cast<ULONG>(secret.size()), random, sizeof random);

  struct Customer {
    const char* name;
    const char* iban;
    double balance;
    DateParts since;
  };
  const Customer kCustomers[] = {
      {"Anna M\xFCller", "DE89 3704 0044 0532 0130 00", 1250.75, {9, 30, 0, 0, 14, 3, 2019}},
      {"Jean Dupont", "FR14 2004 1010 0505 0001 3M02 606", -42.5, {0, 0, 0, 0, 1, 1, 2021}},
      {"Mar\xED"
       "a L\xF3pez",
       "ES91 2100 0418 4502 0005 1332",
       99999.99,
       {17, 5, 30, 0, 29, 2, 2024}},
  };
  std::printf("\nAppending %zu customers through savers:\n", std::size(kCustomers));
  for (const Customer& c : kCustomers) {
    CustomerRecord record(customers.m_lID, fieldIds["CUS_ID"], 0);
    std::unique_ptr<ISaver> pSaver = db.CreateSaver(customers);
    pSaver->OpenNew(record);  // the engine's AutoNumber comes back into the record
    pSaver->PutString(fieldIds["CUS_Name"], c.name);
    pSaver->PutString(fieldIds["CUS_IBAN"], c.iban);
    pSaver->PutDouble(fieldIds["CUS_Balance"], c.balance);
    pSaver->PutDate(fieldIds["CUS_Since"], c.since);
    pSaver->Close();
    std::printf("  customer %d: %s\n", record.Id(),
                platform::WideToUtf8(platform::AnsiToWide(c.name)).c_str());
  }

  auto list = [&](const char* title) {
    std::printf("\n%s\n", title);
    std::unique_ptr<IRecordsetStrategy> pRecordset = db.CreateRecordsetStrategy(customers);
    pRecordset->Sort("{" + std::to_string(fieldIds["CUS_Name"]) + "}");
    pRecordset->Open();
    for (bool more = !pRecordset->IsEOF(); more; more = pRecordset->MoveNext()) {
      IDaoLoader& loader = pRecordset->GetLoader();
      LONG lId = 0;
      std::string name, iban;
      double balance = 0;
      DateParts since{};
      loader.GetLong(fieldIds["CUS_ID"], lId);
      loader.GetString(fieldIds["CUS_Name"], name);
      loader.GetString(fieldIds["CUS_IBAN"], iban);
      loader.GetDouble(fieldIds["CUS_Balance"], balance);
      loader.GetDate(fieldIds["CUS_Since"], since);
      name.resize(std::max<std::size_t>(name.size(), 14), ' ');  // pad by characters
      std::printf("  %d %s %-34s %10.2f  since %04u-%02u-%02u\n", lId,
                  platform::WideToUtf8(platform::AnsiToWide(name)).c_str(), iban.c_str(), balance,
                  since.year, since.month, since.day);
    }
  };
  list("Reading them back through a recordset sorted by name:");

  std::printf("\nWhat the database file holds for the first customer:\n");
  {
    dao::DatabasePtr pRaw = dao::CreateDBEngine()->OpenDatabase(
        _bstr_t(path.c_str()), _variant_t(false), _variant_t(true),
        _variant_t((";PWD=" + password).c_str()));
    dao::RecordsetPtr pRs = pRaw->OpenRecordset("SELECT * FROM tblCustomer ORDER BY CUS_ID");
    for (const char* column : {"CUS_IBAN", "CUS_Balance"})
      std::printf("  %-11s %s\n", column,
                  static_cast<const char*>(_bstr_t(pRs->GetCollect(_variant_t(column)))));
    pRs->Close();
    pRaw->Close();
  }

  const std::string newSecret = "a new secret";
  std::printf("\nChanging the secret rewrites every encrypted value:\n");
  db.ChangeSecret(Bytes(secret), static_cast<ULONG>(secret.size()), Bytes(newSecret),
                  static_cast<ULONG>(newSecret.size()), nullptr, 0);
  list("Read under the new secret:");

  std::printf("\nReading with the old secret fails as it should:\n");
  db.SetSecret(Bytes(secret), static_cast<ULONG>(secret.size()), nullptr, 0);
  try {
    list("(old secret)");
  } catch (const vem_error& e) {
    std::printf("  vem_error: %s\n", e.what());
  }

  std::printf("\nStructure hash of the model: %s\n", Md5DigestToHex(model.StructureHash()).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  try {
    return Run(dir);
  } catch (const vem_error& e) {
    std::fprintf(stderr, "vem_error: %s (code 0x%X)\n", e.what(), static_cast<unsigned>(e.code()));
  } catch (const _com_error& e) {
    std::fprintf(stderr, "engine error 0x%X: %s\n", static_cast<unsigned>(e.Error()),
                 static_cast<const char*>(e.Description()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
  }
  return 1;
}
