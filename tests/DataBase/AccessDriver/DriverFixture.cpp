// Shared fixture of the driver tests (see DriverFixture.h).
#include "DriverFixture.h"

namespace drivertest {

namespace {

_bstr_t B(const std::string& s) {
  return _bstr_t(s.c_str());
}

void SetLongProperty(dao::Database& db, const char* name, LONG value) {
  dao::PropertyPtr p = db.CreateProperty(_variant_t(name), _variant_t(LONG{4}), _variant_t(value));
  db.GetProperties()->Append(p);
}

}  // namespace

DriverTest::DriverTest() {
  m_pEngine = dao::CreateDBEngine();
  {
    dao::DatabasePtr db = m_pEngine->CreateDatabase(B(MainPath()), B(";PWD=pw0"));
    db->Execute(
        "CREATE TABLE tblPlain (ID LONG PRIMARY KEY, Name TEXT(50), B YESNO, C BYTE, UC BYTE, "
        "S SHORT, US SHORT, L LONG, UL LONG, F SINGLE, D DOUBLE, DT DATETIME, BlobId LONG)");
    db->Execute(
        "CREATE TABLE tblCrypt (CID TEXT(20) PRIMARY KEY, xStr MEMO, xBool TEXT(40), "
        "xChar TEXT(40), xUChar TEXT(40), xShort TEXT(40), xUShort TEXT(40), xLong TEXT(44), "
        "xULong TEXT(44), xFloat TEXT(44), xDouble TEXT(48), xDate TEXT(48))");
    db->Execute("CREATE TABLE tblAuto (AID COUNTER PRIMARY KEY, AName TEXT(50))");
    SetLongProperty(*db, "vemDriverVersion", 0x01010000);
    db->Close();
  }
  {
    dao::DatabasePtr db = m_pEngine->CreateDatabase(B(OtherPath()), B(";PWD=pw1"));
    db->Execute("CREATE TABLE tblOther (OID LONG PRIMARY KEY, OSecret TEXT(255))");
    db->Close();
  }
  DefineStandardModel(m_callback);
}

DriverTest::~DriverTest() {
  m_pModel.reset();
}

void DriverTest::DefineStandardModel(TestCallback& callback, const std::string& password0) {
  const std::string main = MainPath(), other = OtherPath();
  callback.databases = [main, other, password0](IComStaticDataModelCreator* c) {
    c->AddDatabase(0, _bstr_t(main.c_str()), _bstr_t(password0.c_str()));
    c->AddDatabase(1, _bstr_t(other.c_str()), _bstr_t("pw1"));
    return S_OK;
  };
  callback.fieldDefs = [](IComStaticDataModelCreator* c) {
    struct F {
      LONG id;
      const char* name;
      LONG type;
      bool crypt;
    };
    static const F fields[] = {
        {kID, "ID", 7, false},        {kName, "Name", 1, false},     {kB, "B", 2, false},
        {kC, "C", 3, false},          {kUC, "UC", 4, false},         {kS, "S", 5, false},
        {kUS, "US", 6, false},        {kL, "L", 7, false},           {kUL, "UL", 8, false},
        {kF, "F", 9, false},          {kD, "D", 10, false},          {kDT, "DT", 11, false},
        {kBlob, "BlobId", 12, false}, {kCID, "CID", 1, false},       {kXStr, "xStr", 1, true},
        {kXB, "xBool", 2, true},      {kXC, "xChar", 3, true},       {kXUC, "xUChar", 4, true},
        {kXS, "xShort", 5, true},     {kXUS, "xUShort", 6, true},    {kXL, "xLong", 7, true},
        {kXUL, "xULong", 8, true},    {kXF, "xFloat", 9, true},      {kXD, "xDouble", 10, true},
        {kXDT, "xDate", 11, true},    {kAID, "AID", 7, false},       {kAName, "AName", 1, false},
        {kOID, "OID", 7, false},      {kOSecret, "OSecret", 1, true}};
    for (const F& f : fields)
      c->AddFieldDef(f.id, _bstr_t(f.name), f.type, -1, f.crypt ? VARIANT_TRUE : VARIANT_FALSE);
    return S_OK;
  };
  callback.recordDefs = [](IComStaticDataModelCreator* c) {
    c->AddRecordDef(kPlain, _bstr_t("tblPlain"), 0);
    for (LONG f = kID; f <= kBlob; ++f)
      c->AddFieldToRecordDef(kPlain, f, f == kID ? VARIANT_TRUE : VARIANT_FALSE, VARIANT_FALSE);
    c->AddRecordDef(kCrypt, _bstr_t("tblCrypt"), 0);
    for (LONG f = kCID; f <= kXDT; ++f)
      c->AddFieldToRecordDef(kCrypt, f, f == kCID ? VARIANT_TRUE : VARIANT_FALSE, VARIANT_FALSE);
    c->AddRecordDef(kAuto, _bstr_t("tblAuto"), 0);
    c->AddFieldToRecordDef(kAuto, kAID, VARIANT_TRUE, VARIANT_TRUE);
    c->AddFieldToRecordDef(kAuto, kAName, VARIANT_FALSE, VARIANT_FALSE);
    c->AddRecordDef(kOther, _bstr_t("tblOther"), 1);
    c->AddFieldToRecordDef(kOther, kOID, VARIANT_TRUE, VARIANT_FALSE);
    c->AddFieldToRecordDef(kOther, kOSecret, VARIANT_FALSE, VARIANT_FALSE);
    return S_OK;
  };
}

void DriverTest::BuildModel() {
  m_pModel = std::make_unique<SDM>(&m_backChannel, &m_callback);
}

dao::DatabasePtr DriverTest::Raw(const std::string& path, const std::string& connect) {
  return m_pEngine->OpenDatabase(B(path), _variant_t(false), _variant_t(false),
                                 _variant_t(connect.c_str()));
}

_variant_t DriverTest::RawValue(const std::string& path, const std::string& connect,
                                const std::string& sql, const char* column) {
  dao::DatabasePtr db = Raw(path, connect);
  dao::RecordsetPtr rs = db->OpenRecordset(B(sql));
  _variant_t v = rs->GetCollect(_variant_t(column));
  rs->Close();
  db->Close();
  return v;
}

}  // namespace drivertest
