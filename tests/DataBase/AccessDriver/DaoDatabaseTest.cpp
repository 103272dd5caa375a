// DaoDatabase and the static data model (SDM) over it: the definition
// procedure driven through the client's callback and the creator's
// failures, opening, versions, the per-thread engine, transactions, the id
// condition, record deletion and compaction, the named mutex across
// processes, and the engine error translation.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "DataBase/AccessDriver/DaoSaver.h"
#include "DriverFixture.h"
#include "Platform/ComBase.h"
#include "Support/ChildProcess.h"

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

TEST_F(DriverTest, CallEngineTracesOnceAndKeepsTheHresult) {
  BuildModel();
  try {
    CallEngine(m_pModel.get(), [] { _com_issue_error(static_cast<HRESULT>(0x800A0BD5)); });
    ADD_FAILURE() << "no error";
  } catch (const vem_error& e) {
    EXPECT_EQ(static_cast<ULONG>(e.code()), 0x800A0BD5u);
    EXPECT_EQ(std::string(e.what()),
              "<source unknown>: <description unknown> - error code: 0x800A0BD5");
  }
  ASSERT_EQ(Traces(), 1u);
  EXPECT_EQ(m_backChannel.TraceTexts()[0],
            "VEM DaoException(46): <source unknown>: <description unknown> - error code: "
            "0x800A0BD5");
  // A vem_error passes unchanged and untraced; one of a code only has no text.
  EXPECT_VEM_ERROR(CallEngine(m_pModel.get(), [] { throw vem_error("mine", 7); }), 7);
  EXPECT_EQ(Traces(), 1u);
  EXPECT_STREQ(vem_error(static_cast<LONG>(0xC004A817)).what(), "");
  // Nothing is traced without a model, or below the trace level.
  EXPECT_EQ(ErrorText(_com_error(E_FAIL), nullptr),
            "<source unknown>: <description unknown> - error code: 0x80004005");
  m_backChannel.SetTraceLevel(0);
  ErrorText(_com_error(E_FAIL), m_pModel.get());
  EXPECT_EQ(Traces(), 1u);
}

TEST(DaoDatabaseNames, MutexNameNeverHoldsSeparators) {
  const struct {
    const char* file;
    const char* mutex;
  } cases[] = {
      {"C:\\data\\my.db", "C$$data$my$db"},
      {"/tmp/a$b/x.vdb", "$tmp$a$$b$x$vdb"},
      {"rel.dir/f", "rel$dir$f"},
  };
  for (const auto& c : cases) EXPECT_EQ(DaoDatabase::MutexNameOf(c.file), c.mutex) << c.file;
}

// A failing step does not stop the others, and databases may be defined in
// any step.
TEST_F(DriverTest, StepsRunInOrderWhateverTheyDefineOrAnswer) {
  m_callback.fieldDefs = [dbs = m_callback.databases,
                          fields = m_callback.fieldDefs](IComStaticDataModelCreator* c) {
    dbs(c);
    return fields(c);
  };
  m_callback.databases = nullptr;
  m_callback.recordDefs = [inner = m_callback.recordDefs](IComStaticDataModelCreator* c) {
    inner(c);
    return E_FAIL;
  };
  BuildModel();
  EXPECT_EQ(m_callback.calls, "PDFRCO");
  EXPECT_EQ(m_pModel->RecordDefSlots(), 4u);
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

// Versions read from long properties; absent ones, and a version property of
// another type, read as 0x01000000. SetDriverVersion writes a long property,
// made the first time and changed after.
TEST_F(DriverTest, VersionsAreLongPropertiesAndDefaultWhenAbsent) {
  BuildModel();
  EXPECT_EQ(m_callback.calls, "PDFRCO");
  ASSERT_TRUE(Db(0).IsOpen());
  ASSERT_TRUE(Db(1).IsOpen());
  EXPECT_EQ(Db(0).GetDriverVersion(), 0x01010000u);
  EXPECT_EQ(Db(0).GetTargetDriverVersion(), 0x01010000u);
  EXPECT_EQ(Db(0).GetDatabaseVersion(), 0x01000000u);
  EXPECT_EQ(Db(1).GetDriverVersion(), 0x01000000u);
  EXPECT_EQ(Traces(), 0u);
  Db(1).SetDriverVersion(0x01010000);
  EXPECT_EQ(Db(1).GetDriverVersion(), 0x01010000u);
  Db(1).SetDriverVersion(0x01010002);
  m_pModel.reset();
  {
    dao::DatabasePtr db = Raw(OtherPath(), ";PWD=pw1");
    dao::PropertyPtr p = db->GetProperties()->GetItem(_variant_t("vemDriverVersion"));
    EXPECT_EQ(p->GetType(), 4);
    EXPECT_EQ(static_cast<LONG>(p->GetValue()), 0x01010002);
    db->Close();
  }
  const std::string path = m_dir.File("text.vdb");
  {
    dao::DatabasePtr db = m_pEngine->CreateDatabase(_bstr_t(path.c_str()), _bstr_t(";PWD=pw"));
    db->GetProperties()->Append(db->CreateProperty(_variant_t("vemDriverVersion"),
                                                   _variant_t(LONG{10}), _variant_t("16842752")));
    db->GetProperties()->Append(db->CreateProperty(
        _variant_t("vemDatabaseVersion"), _variant_t(LONG{4}), _variant_t(LONG{0x00020003})));
    db->Close();
  }
  DaoDatabase db(2, path, false, false, ";PWD=pw", nullptr);
  EXPECT_EQ(db.GetDriverVersion(), 0x01000000u);
  EXPECT_EQ(db.GetDatabaseVersion(), 0x00020003u);
}

TEST_F(DriverTest, WrongPasswordLeavesAClosedDatabaseAndTracesTheEngineError) {
  TestCallback callback;
  DefineStandardModel(callback, "wrong");
  m_pModel = std::make_unique<SDM>(&m_backChannel, &callback);
  EXPECT_FALSE(Db(0).IsOpen());
  EXPECT_TRUE(Db(1).IsOpen());
  const std::vector<std::string> traces = m_backChannel.TraceTexts();
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_EQ(traces[0].rfind("VEM DaoException(46): DAO.DBEngine: ", 0), 0u) << traces[0];
  EXPECT_NE(traces[0].find(" - error code: 0x800A0BD7"), std::string::npos) << traces[0];
  // Everything that needs the open database says so instead of crashing.
  EXPECT_VEM_ERROR(Db(0).BeginTrans(), 0xC004A817);
  EXPECT_VEM_ERROR(Db(0).CommitTrans(), 0xC004A817);
  EXPECT_VEM_ERROR(Db(0).Rollback(), 0xC004A817);
  TestRecord record(kPlain);
  record.Long(kID, 1);
  EXPECT_VEM_ERROR(Db(0).DeleteRecord(record), E_POINTER);
  std::unique_ptr<ILoader> loader = Db(0).CreateLoader(Rec(kPlain));
  EXPECT_VEM_ERROR(loader->Open(record), E_POINTER);
}

TEST_F(DriverTest, TransactionsAnswerFalseAndRollbackUndoes) {
  BuildModel();
  EXPECT_FALSE(Db(0).BeginTrans());
  {
    DaoSaver saver(Db(0), Rec(kPlain));
    TestRecord record(kPlain);
    record.Long(kID, 1);
    saver.OpenNew(record);
    saver.PutLong(kID, 1);
    saver.Close();
  }
  EXPECT_FALSE(Db(0).Rollback());
  EXPECT_EQ(RawLong("SELECT Count(*) AS n FROM tblPlain"), 0);
  EXPECT_FALSE(Db(0).BeginTrans());
  EXPECT_FALSE(Db(0).CommitTrans());
  // Commit without a transaction is the engine's error, translated.
  const std::size_t before = Traces();
  EXPECT_VEM_ERROR(Db(0).CommitTrans(), 0x800A0BDA);
  EXPECT_EQ(Traces(), before + 1);
}

TEST_F(DriverTest, IdConditionQuotesTextsAndRefusesWhatCannotSelect) {
  BuildModel();
  SRecordDef text(9, "T", 0), twoIds(10, "T2", 0), none(11, "T3", 0), dateId(12, "T4", 0),
      shortId(13, "T5", 0);
  text.AddField(std::make_shared<SFieldDef>(1, "Name", 1, 20, false), true, false);
  twoIds.AddField(std::make_shared<SFieldDef>(1, "Name", 1, 20, false), true, false);
  twoIds.AddField(std::make_shared<SFieldDef>(2, "Nr", 7, -1, false), true, false);
  none.AddField(std::make_shared<SFieldDef>(1, "Name", 1, 20, false), false, false);
  dateId.AddField(std::make_shared<SFieldDef>(3, "When", 11, -1, false), true, false);
  shortId.AddField(std::make_shared<SFieldDef>(4, "Small", 5, -1, false), true, false);
  TestRecord record(9);
  record.Text(1, "O'Neil").Long(2, -42).Long(4, 7);
  EXPECT_EQ(DaoDatabase::IdCondition(text, record), "Name = 'O''Neil'");
  EXPECT_EQ(DaoDatabase::IdCondition(twoIds, record), "Name = 'O''Neil' AND Nr = -42");
  EXPECT_EQ(DaoDatabase::IdCondition(shortId, record), "Small = 7");
  const std::string noIds = EXPECT_VEM_ERROR(DaoDatabase::IdCondition(none, record), E_INVALIDARG);
  EXPECT_NE(noIds.find("T3"), std::string::npos) << noIds;
  const std::string badType =
      EXPECT_VEM_ERROR(DaoDatabase::IdCondition(dateId, record), E_INVALIDARG);
  EXPECT_NE(badType.find("When"), std::string::npos) << badType;
}

// DeleteRecord deletes the record named only; a compaction (open) and a
// check (closed) keep the other records, the open state, and no temporary
// copy ("db" + 6 characters + ".vdb"); without blob tables the progress
// has no blob part.
TEST_F(DriverTest, DeleteRecordAndCompactionKeepTheOtherRecords) {
  BuildModel();
  for (LONG id : {1, 2, 3}) {
    DaoSaver saver(Db(0), Rec(kPlain));
    TestRecord record(kPlain);
    record.Long(kID, id);
    saver.OpenNew(record);
    saver.PutLong(kID, id);
    saver.Close();
  }
  TestRecord two(kPlain);
  two.Long(kID, 2);
  Db(0).DeleteRecord(two);
  TestRecord unknown(77);
  EXPECT_VEM_ERROR(Db(0).DeleteRecord(unknown), E_INVALIDARG);
  m_backChannel.Clear();
  EXPECT_TRUE(Db(0).Compact());
  EXPECT_TRUE(Db(0).IsOpen());
  std::vector<std::pair<SHORT, SHORT>> progress;
  for (const auto& call : m_backChannel.Calls(vemtest::BackChannelCallKind::Progress))
    progress.emplace_back(call.nPercent, call.eAction);
  EXPECT_EQ(progress, (std::vector<std::pair<SHORT, SHORT>>{{0, 0}, {10, 2}, {100, 2}, {0, 1}}));
  EXPECT_EQ(RawLong("SELECT Sum(ID) AS n FROM tblPlain"), 4) << "rows 1 and 3 remain";
  Db(1).Close();
  EXPECT_TRUE(Db(1).Check());
  EXPECT_FALSE(Db(1).IsOpen());
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
    EXPECT_NE(entry.path().filename().string().rfind("db", 0), 0u) << entry.path();
}

// Threading model "both": a database made on thread A and destroyed on
// thread B releases A's engine without touching B's state (B's COM stays
// initialised, B has no engine), and A's next databases get a working engine
// of their own, shared by the two and released with the second, whose
// release on A undoes A's COM initialisation once.
TEST_F(DriverTest, DatabaseDestroyedOnAnotherThreadReleasesTheCreatorsEngineOnly) {
  std::unique_ptr<DaoDatabase> pMadeOnA;
  std::mutex lock;
  std::condition_variable changed;
  int step = 0;  // 1: A made its database; 2: B destroyed it; 3: A is done
  auto waitFor = [&](int n) {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return step >= n; });
  };
  auto advance = [&](int n) {
    std::lock_guard<std::mutex> guard(lock);
    step = n;
    changed.notify_all();
  };
  std::thread a([&] {
    pMadeOnA = std::make_unique<DaoDatabase>(0, MainPath(), false, false, ";PWD=pw0", nullptr);
    EXPECT_TRUE(pMadeOnA->IsOpen());
    advance(1);
    waitFor(2);
    EXPECT_EQ(DaoDatabase::TEST_ThreadEngineUseCount(), 0);
    auto first = std::make_unique<DaoDatabase>(0, MainPath(), false, false, ";PWD=pw0", nullptr);
    auto second = std::make_unique<DaoDatabase>(1, OtherPath(), false, false, ";PWD=pw1", nullptr);
    EXPECT_TRUE(first->IsOpen());
    EXPECT_TRUE(second->IsOpen());
    EXPECT_EQ(DaoDatabase::TEST_ThreadEngineUseCount(), 2);
    EXPECT_NO_THROW(second->BeginTrans());
    EXPECT_NO_THROW(second->Rollback());
    first.reset();
    EXPECT_EQ(DaoDatabase::TEST_ThreadEngineUseCount(), 1);
    second.reset();
    EXPECT_EQ(DaoDatabase::TEST_ThreadEngineUseCount(), 0);
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "A's COM was uninitialised exactly once";
    CoUninitialize();
    advance(3);
  });
  std::thread b([&] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);  // B's own initialisation
    waitFor(1);
    EXPECT_EQ(DaoDatabase::TEST_ThreadEngineUseCount(), 0);
    pMadeOnA.reset();
    EXPECT_EQ(DaoDatabase::TEST_ThreadEngineUseCount(), 0);
    advance(2);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "B's COM initialisation was left alone";
    CoUninitialize();
    CoUninitialize();
    waitFor(3);
  });
  a.join();
  b.join();
}

TEST_F(DriverTest, BlobDirectoryIsCreatedOnOpenWhenTheBlobTablesExist) {
  {
    dao::DatabasePtr db = Raw(OtherPath(), ";PWD=pw1");
    db->Execute("CREATE TABLE tblBLOB_FILES (FIL_ID COUNTER PRIMARY KEY, FIL_Filename TEXT(64))");
    db->Close();
  }
  BuildModel();
  EXPECT_TRUE(std::filesystem::is_directory(OtherPath() + "_blob"));
  EXPECT_FALSE(std::filesystem::exists(MainPath() + "_blob"));
  EXPECT_EQ(Db(1).GetBlobDirectory(), std::filesystem::absolute(OtherPath()).string() + "_blob");
}

TEST_F(DriverTest, TwoProcessesOnOneFileExcludeEachOtherThroughTheNamedMutex) {
  const std::string marker = m_dir.File("child-released");
  const std::string path = MainPath();
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd& parent) {
    DaoDatabase db(0, path, false, false, ";PWD=pw0", nullptr);
    if (!db.IsOpen()) return 2;
    db.GetMutex().lock();
    parent.Send('L');
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ofstream(marker) << "released";
    db.GetMutex().unlock();
    return 0;
  });
  ASSERT_EQ(child.channel().Receive(), 'L');
  DaoDatabase db(0, path, false, false, ";PWD=pw0", nullptr);
  ASSERT_TRUE(db.IsOpen());
  db.GetMutex().lock();  // waits for the child
  EXPECT_TRUE(std::filesystem::exists(marker));
  db.GetMutex().unlock();
  EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
}  // namespace drivertest
