// SDM: the definition procedure driven through the client's callback, the
// creator's operations and their failure results, and the upgrade of a
// database's stored format (the secret walks: SecretTest.cpp).
#include <gtest/gtest.h>

#include <cstring>

#include "DataBase/AccessDriver/DaoLoader.h"
#include "DataBase/AccessDriver/DaoSaver.h"
#include "DriverFixture.h"

namespace drivertest {
namespace {

using vemtest::TestRecord;

// The description of the thread's error info (cleared by the call).
std::string ErrorDescription() {
  IErrorInfo* pInfo = nullptr;
  if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr) return "";
  BSTR bstr = nullptr;
  pInfo->GetDescription(&bstr);
  pInfo->Release();
  return std::string(static_cast<const char*>(_bstr_t(bstr, false)));
}

TEST_F(DriverTest, StepsRunInOrderAndAFailingStepDoesNotStopThem) {
  m_callback.recordDefs = [inner = m_callback.recordDefs](IComStaticDataModelCreator* c) {
    inner(c);
    return E_FAIL;
  };
  BuildModel();
  EXPECT_EQ(m_callback.calls, "PDFRCO");
  EXPECT_EQ(m_pModel->RecordDefSlots(), 4u);
  EXPECT_TRUE(Db(0).IsOpen());
}

TEST_F(DriverTest, DatabasesMayBeDefinedInAnyStep) {
  m_callback.fieldDefs = [dbs = m_callback.databases,
                          fields = m_callback.fieldDefs](IComStaticDataModelCreator* c) {
    dbs(c);
    return fields(c);
  };
  m_callback.databases = nullptr;
  BuildModel();
  ASSERT_EQ(m_pModel->DatabaseSlots(), 2u);
  EXPECT_TRUE(Db(0).IsOpen());
}

TEST_F(DriverTest, CreatorReportsUnknownIdsAsFailuresWithErrorInfo) {
  HRESULT hrUnknownRecord = S_OK, hrUnknownField = S_OK, hrBadId = S_OK, hrBadDb = S_OK;
  std::string text;
  m_callback.post = [&](IComStaticDataModelCreator* c) {
    hrUnknownRecord = c->AddFieldToRecordDef(77, kID, VARIANT_FALSE, VARIANT_FALSE);
    text = ErrorDescription();
    hrUnknownField = c->AddFieldToRecordDef(kPlain, 777, VARIANT_FALSE, VARIANT_FALSE);
    hrBadId = c->AddFieldDef(-1, _bstr_t("x"), 1, -1, VARIANT_FALSE);
    hrBadDb = c->AddDatabase(-3, _bstr_t("x"), _bstr_t(""));
    return S_OK;
  };
  BuildModel();
  EXPECT_EQ(hrUnknownRecord, E_INVALIDARG);
  EXPECT_NE(text.find("77"), std::string::npos) << text;
  EXPECT_EQ(hrUnknownField, E_INVALIDARG);
  EXPECT_EQ(hrBadId, E_INVALIDARG);
  EXPECT_EQ(hrBadDb, E_INVALIDARG);
  EXPECT_EQ(Rec(kPlain).m_fields.size(), 13u) << "nothing was added by the failed calls";
}

TEST_F(DriverTest, CreatorInterfaceAndFieldListRules) {
  m_callback.commandDefs = [](IComStaticDataModelCreator* c) {
    IUnknown* pUnknown = nullptr;
    EXPECT_EQ(c->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnknown)), S_OK);
    EXPECT_EQ(pUnknown, static_cast<IUnknown*>(c));
    EXPECT_EQ(c->Release(), 0u);
    void* p = &p;
    EXPECT_EQ(c->QueryInterface(IID_IkivBackChannel, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(c->AddRecordDef(5, _bstr_t("T"), 0), S_OK);
    EXPECT_EQ(c->AddFieldToRecordDef(5, kName, VARIANT_TRUE, VARIANT_TRUE), S_OK);
    EXPECT_EQ(c->AddFieldToRecordDef(5, kName, VARIANT_FALSE, VARIANT_FALSE), S_OK);
    // Redefining a field that a record took leaves the record's field valid.
    EXPECT_EQ(c->AddFieldDef(kName, _bstr_t("Renamed"), 1, 10, VARIANT_FALSE), S_OK);
    EXPECT_EQ(c->AddCommandDef(0, _bstr_t("qry"), 0), S_OK);
    return S_OK;
  };
  BuildModel();
  const SRecordDef& t = Rec(5);
  ASSERT_EQ(t.m_fields.size(), 2u);
  EXPECT_EQ(t.m_fields[0], t.m_fields[1]);
  ASSERT_EQ(t.m_idFields.size(), 1u);
  EXPECT_EQ(t.m_pAutoValueField, t.m_fields[0]);
  EXPECT_EQ(t.m_fields[0]->m_name, "Name");
  EXPECT_EQ(m_pModel->GetFieldDef(kName).m_name, "Renamed");
  EXPECT_EQ(m_pModel->GetCommandDef(0).m_name, "qry");
  EXPECT_EQ(Db(0).CreateCommand(m_pModel->GetCommandDef(0)), nullptr);
}

TEST_F(DriverTest, StructureHashInputOfADatabase) {
  BuildModel();
  Md5Context a, b;
  Md5Init(a);
  Db(1).AddToStructureHash(a);
  Md5Init(b);
  const BYTE expected[] = {0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0};
  Md5Update(b, expected, sizeof expected);
  BYTE da[16], db[16];
  Md5Final(a, da);
  Md5Final(b, db);
  EXPECT_EQ(std::memcmp(da, db, 16), 0);
}

TEST_F(DriverTest, UpgradeDriverVersionRewritesIntoFormat11) {
  BuildModel();
  // Record 1 holds "abc"; record 2 the empty text, which format 1.0 stores
  // as NULL.
  for (LONG id : {1, 2}) {
    TestRecord record(kOther);
    record.Long(kOID, id);
    DaoSaver saver(Db(1), Rec(kOther));
    saver.OpenNew(record);
    saver.PutLong(kOID, id);
    saver.PutString(kOSecret, id == 1 ? "abc" : "");
    saver.Close();
  }
  auto storedLength = [&](LONG id) {
    _variant_t v =
        RawValue(OtherPath(), ";PWD=pw1",
                 "SELECT OSecret FROM tblOther WHERE OID = " + std::to_string(id), "OSecret");
    return v.vt == VT_BSTR ? SysStringLen(v.bstrVal) : 0u;
  };
  EXPECT_EQ(storedLength(1), 20u);  // format 1.0: 3 + 12 bytes
  EXPECT_EQ(storedLength(2), 0u);   // NULL
  EXPECT_FALSE(Db(1).UpgradeDriverVersion(0x01020000));
  EXPECT_TRUE(Db(1).UpgradeDriverVersion(0));
  EXPECT_EQ(Db(1).GetDriverVersion(), 0x01010000u);
  EXPECT_EQ(storedLength(1), 44u);  // format 1.1: 3 + 28 bytes
  EXPECT_EQ(storedLength(2), 40u);  // the empty text's cipher text
  EXPECT_FALSE(Db(1).UpgradeDriverVersion(0));
  for (LONG id : {1, 2}) {
    TestRecord record(kOther);
    record.Long(kOID, id);
    DaoLoader loader(Db(1), Rec(kOther));
    loader.Open(record);
    std::string text = "x";
    loader.GetString(kOSecret, text);
    EXPECT_EQ(text, id == 1 ? "abc" : "");
  }
}

}  // namespace
}  // namespace drivertest
