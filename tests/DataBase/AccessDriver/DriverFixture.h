// Shared fixture of the driver tests: two real database files built through
// the engine, a static model over them defined through a test callback, and
// a recording back channel (trace level 4).
//
// Database 0 ("main.vdb", password "pw0", driver version 0x01010000):
//   tblPlain  (record 0): one column of each plain type, id ID (LONG)
//   tblCrypt  (record 1): one encrypted text column per type, id CID (STRING)
//   tblAuto   (record 2): AID counter (id and auto value), AName
// Database 1 ("other.vdb", password "pw1", no version properties):
//   tblOther  (record 3): OID (LONG id), OSecret (encrypted STRING)
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DateConversion.h"
#include "DataBase/AccessDriver/SDM.h"
#include "Engine/Dao.h"
#include "Support/RecordingBackChannel.h"
#include "Support/TempDir.h"
#include "Support/TestRecord.h"
#include "vem/StaticDataModel.h"

namespace drivertest {

// Field definition ids: tblPlain's, tblCrypt's, tblAuto's, tblOther's.
enum : LONG { kID = 0, kName, kB, kC, kUC, kS, kUS, kL, kUL, kF, kD, kDT, kBlob };
enum : LONG { kCID = 20, kXStr, kXB, kXC, kXUC, kXS, kXUS, kXL, kXUL, kXF, kXD, kXDT };
enum : LONG { kAID = 40, kAName, kOID = 50, kOSecret };
// Record definition ids.
enum : LONG { kPlain = 0, kCrypt = 1, kAuto = 2, kOther = 3 };

// An IComStaticDataModelCallback whose steps are std::functions (each may be
// empty); it records the order in which the steps were called.
class TestCallback : public IComStaticDataModelCallback {
 public:
  using Step = std::function<HRESULT(IComStaticDataModelCreator*)>;
  Step pre, databases, fieldDefs, recordDefs, commandDefs, post;
  std::string calls;  // one letter per step: P D F R C O

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IComStaticDataModelCallback) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(preDataModelDefinition)(IComStaticDataModelCreator* p) override {
    return Run('P', pre, p);
  }
  STDMETHOD(defFieldDefs)(IComStaticDataModelCreator* p) override { return Run('F', fieldDefs, p); }
  STDMETHOD(defRecordDefs)(IComStaticDataModelCreator* p) override {
    return Run('R', recordDefs, p);
  }
  STDMETHOD(defCommandDefs)(IComStaticDataModelCreator* p) override {
    return Run('C', commandDefs, p);
  }
  STDMETHOD(defDatabases)(IComStaticDataModelCreator* p) override { return Run('D', databases, p); }
  STDMETHOD(postDataModelDefinition)(IComStaticDataModelCreator* p) override {
    return Run('O', post, p);
  }

 private:
  HRESULT Run(char c, const Step& step, IComStaticDataModelCreator* p) {
    calls += c;
    return step ? step(p) : S_OK;
  }
};

// The text of the field cipher's failed check.
inline constexpr char kIllegalMac[] = "illegal MAC found in database";

// Date parts as "y-m-d h:m:s.ms", for comparisons that print.
inline std::string Str(const DateParts& p) {
  return std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day) +
         " " + std::to_string(p.hour) + ":" + std::to_string(p.minute) + ":" +
         std::to_string(p.second) + "." + std::to_string(p.millisecond);
}

// Expects stmt to raise vem_error with code `expected`; answers its text.
#define EXPECT_VEM_ERROR(stmt, expected)                                    \
  [&]() -> std::string {                                                    \
    try {                                                                   \
      stmt;                                                                 \
      ADD_FAILURE() << #stmt " did not raise vem_error";                    \
    } catch (const vem_error& e) {                                          \
      EXPECT_EQ(static_cast<ULONG>(e.code()), static_cast<ULONG>(expected)) \
          << #stmt ": " << e.what();                                        \
      return e.what();                                                      \
    }                                                                       \
    return std::string();                                                   \
  }()

class DriverTest : public ::testing::Test {
 protected:
  DriverTest();
  ~DriverTest() override;

  std::string MainPath() const { return m_dir.File("main.vdb"); }
  std::string OtherPath() const { return m_dir.File("other.vdb"); }

  // Fills the callback with the standard model (databases in defDatabases,
  // fields in defFieldDefs, records in defRecordDefs).
  void DefineStandardModel(TestCallback& callback, const std::string& password0 = "pw0");
  // Builds m_pModel from m_callback.
  void BuildModel();

  DaoDatabase& Db(LONG lID) { return static_cast<DaoDatabase&>(m_pModel->GetDatabase(lID)); }
  const SRecordDef& Rec(LONG lID) { return m_pModel->GetRecordDef(lID); }

  // Direct engine access to a file (own engine), for checks beside the driver.
  dao::DatabasePtr Raw(const std::string& path, const std::string& connect);
  // The raw column value of the first row of `sql`.
  _variant_t RawValue(const std::string& path, const std::string& connect, const std::string& sql,
                      const char* column);

  // The long column n of the first row of sql on the main database.
  LONG RawLong(const std::string& sql) {
    _variant_t v = RawValue(MainPath(), ";PWD=pw0", sql, "n");
    v.ChangeType(VT_I4);
    return v.lVal;
  }

  // Number of Trace calls recorded so far.
  std::size_t Traces() const { return m_backChannel.TraceTexts().size(); }

  vemtest::TempDir m_dir;
  vemtest::RecordingBackChannel m_backChannel{4};
  TestCallback m_callback;
  std::unique_ptr<SDM> m_pModel;
  dao::DBEnginePtr m_pEngine;
};

}  // namespace drivertest
