// Field type helpers, the definition records and the DataModel tables:
// growth and replacement, lookups of unknown ids, shared field definitions,
// the order of the definition steps, and the destruction order.
#include "DataBase/AccessDriver/DataModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/Definitions.h"
#include "DataBase/AccessDriver/IDatabase.h"
#include "Platform/OleAuto.h"
#include "Platform/Text.h"
#include "Support/RecordingBackChannel.h"

namespace {

using vemtest::RecordingBackChannel;

TEST(FieldTypes, EncryptedStringLengthFollowsBase64Framing) {
  struct Case {
    LONG lColumnSize, lLength;
  };
  const Case cases[] = {{255, -28}, {252, 161}, {40, 2}, {0, -28}, {64000, 47972}, {41, -28}};
  for (const Case& c : cases)
    EXPECT_EQ(EncryptedStringLength(c.lColumnSize), c.lLength) << "column " << c.lColumnSize;
}

TEST(FieldDef, NameVariantIsTheNameAsBstr) {
  const std::string name =
      "Gr\xF6\xDF"
      "e\x80";  // Windows-1252 "Größe€"
  const SFieldDef def(3, name, 1, 40, true);
  const VARIANT& var = def.m_vName;
  ASSERT_EQ(var.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(var.bstrVal, SysStringLen(var.bstrVal)), u"Gr\u00F6\u00DFe\u20AC");
}

// A database that logs its destruction and checks that the model's other
// tables and back channel still exist at that time.
class LoggingDatabase : public IDatabase {
 public:
  LoggingDatabase(LONG lID, std::vector<std::string>* pLog)
      : IDatabase(lID, nullptr), m_pLog(pLog) {}
  ~LoggingDatabase() override {
    m_pLog->push_back("database " + std::to_string(m_lID));
    if (m_pModel != nullptr) {
      m_pModel->GetBackChannel().Trace(4, __FILE__, __LINE__, "closing database %d", m_lID);
      m_pModel->ForEachRecordDef(
          [&](const SRecordDef& def) { m_pLog->push_back("record " + def.m_name + " alive"); });
    }
  }
  ULONG GetDriverVersion() override { return 0x01000000; }
  void SetDriverVersion(ULONG) override {}
  bool UpgradeDriverVersion(ULONG) override { return false; }
  void Open() override {}
  bool IsOpen() override { return true; }
  void Close() override {}
  bool Check() override { return true; }
  bool Compact() override { return true; }
  bool BeginTrans() override { return false; }
  bool CommitTrans() override { return false; }
  bool Rollback() override { return false; }
  void AddToStructureHash(Md5Context&) override {}
  void SetSecret(const BYTE*, ULONG, const BYTE*, ULONG) override {}
  void ChangeSecret(const BYTE*, ULONG, const BYTE*, ULONG, const BYTE*, ULONG) override {}
  void BeginSecretChange(const BYTE*, ULONG, const BYTE*, ULONG) override {}
  void CommitSecretChange() override {}
  void AbortSecretChange() noexcept override {}
  void DeleteRecord(IRecord&) override {}
  // The driver objects are not part of these tests (and their types are
  // incomplete here): the factories raise.
  std::unique_ptr<IBlobStrategy> CreateBlobStrategy(const SRecordDef&) override { Unsupported(); }
  std::unique_ptr<ILoader> CreateLoader(const SRecordDef&) override { Unsupported(); }
  std::unique_ptr<ISaver> CreateSaver(const SRecordDef&) override { Unsupported(); }
  std::unique_ptr<IRecordsetStrategy> CreateRecordsetStrategy(const SRecordDef&) override {
    Unsupported();
  }
  std::unique_ptr<ICommand> CreateCommand(const SCommandDef&) override { return nullptr; }

 private:
  [[noreturn]] static void Unsupported() { throw vem_error("not supported", E_NOTIMPL); }
  std::vector<std::string>* m_pLog;
};

// A record definition that logs its destruction.
struct LoggingRecordDef : SRecordDef {
  LoggingRecordDef(LONG lID, std::string name, std::vector<std::string>* pLog)
      : SRecordDef(lID, std::move(name), 0), m_pLog(pLog) {}
  ~LoggingRecordDef() override { m_pLog->push_back("record " + m_name); }
  std::vector<std::string>* m_pLog;
};

// A model whose steps run scripted actions and log their order. Its Store
// operations are public so that tests can fill the tables directly.
class TestModel : public DataModel {
 public:
  using Step = std::function<void(TestModel&)>;
  struct Script {
    Step pre, databases, fields, records, commands, post;
  };

  TestModel(IkivBackChannel* pClient, Script script, std::vector<std::string>* pLog)
      : DataModel(pClient), m_script(std::move(script)), m_pLog(pLog) {
    Define();
  }
  ~TestModel() override { m_pLog->push_back("model"); }

  using DataModel::StoreCommandDef;
  using DataModel::StoreDatabase;
  using DataModel::StoreFieldDef;
  using DataModel::StoreRecordDef;

  std::shared_ptr<const SFieldDef> AddFieldDef(LONG lID, const std::string& name, LONG lType = 1) {
    return StoreFieldDef(std::make_shared<SFieldDef>(lID, name, lType, 40, false));
  }

 protected:
  void PreDataModelDefinition() override { Run("pre", m_script.pre); }
  void DefDatabases() override { Run("databases", m_script.databases); }
  void DefFieldDefs() override { Run("fields", m_script.fields); }
  void DefRecordDefs() override { Run("records", m_script.records); }
  void DefCommandDefs() override { Run("commands", m_script.commands); }
  void PostDataModelDefinition() override { Run("post", m_script.post); }

 private:
  void Run(const char* szStep, const Step& step) {
    m_pLog->push_back(szStep);
    if (step) step(*this);
  }
  Script m_script;
  std::vector<std::string>* m_pLog;
};

// A model that relies on the empty default pre- and post-definition steps.
class MinimalModel : public DataModel {
 public:
  explicit MinimalModel(std::vector<std::string>* pLog) : DataModel(nullptr), m_pLog(pLog) {
    Define();
  }

 protected:
  void DefDatabases() override { m_pLog->push_back("databases"); }
  void DefFieldDefs() override { m_pLog->push_back("fields"); }
  void DefRecordDefs() override { m_pLog->push_back("records"); }
  void DefCommandDefs() override { m_pLog->push_back("commands"); }

 private:
  std::vector<std::string>* m_pLog;
};

TEST(DataModel, DefinitionStepsRunInOrder) {
  std::vector<std::string> log;
  {
    TestModel model(nullptr, {}, &log);
    EXPECT_EQ(log, (std::vector<std::string>{"pre", "databases", "fields", "records", "commands",
                                             "post"}));
  }
  log.clear();
  MinimalModel minimal(&log);
  EXPECT_EQ(log, (std::vector<std::string>{"databases", "fields", "records", "commands"}));
}

TEST(DataModel, StepsAreConventionsOnly) {
  // Any Store may be called in any step; a later step sees what an earlier
  // one stored.
  std::vector<std::string> log;
  TestModel::Script script;
  script.pre = [](TestModel& m) { m.AddFieldDef(0, "Id", 7); };
  script.fields = [&log](TestModel& m) {
    m.StoreDatabase(std::make_unique<LoggingDatabase>(0, &log));
  };
  script.commands = [](TestModel& m) {
    SRecordDef& def = m.StoreRecordDef(std::make_unique<SRecordDef>(0, "tblA", 0));
    def.AddField(m.GetSharedFieldDef(0), true, true);
  };
  TestModel model(nullptr, script, &log);
  EXPECT_EQ(model.GetRecordDef(0).m_idFields.at(0)->m_name, "Id");
  EXPECT_EQ(model.GetRecordDef(0).m_pModel, &model);
  EXPECT_EQ(model.GetDatabase(0).GetModel(), &model);
}

TEST(DataModel, TablesGrowToHighestIdAndKeepSizeOnReplacement) {
  std::vector<std::string> log;
  TestModel model(nullptr, {}, &log);
  model.AddFieldDef(5, "five");
  model.AddFieldDef(2, "two");
  EXPECT_EQ(model.FieldDefSlots(), 6u);
  EXPECT_EQ(model.GetFieldDef(5).m_name, "five");
  EXPECT_EQ(model.GetFieldDef(2).m_name, "two");
  for (LONG lEmpty : {0, 1, 3, 4}) EXPECT_THROW(model.GetFieldDef(lEmpty), vem_error) << lEmpty;

  std::weak_ptr<const SFieldDef> first = model.GetSharedFieldDef(5);
  model.AddFieldDef(5, "five again");
  EXPECT_EQ(model.FieldDefSlots(), 6u);
  EXPECT_EQ(model.GetFieldDef(5).m_name, "five again");
  EXPECT_TRUE(first.expired()) << "a replaced, unreferenced field definition is destroyed";

  model.StoreRecordDef(std::make_unique<LoggingRecordDef>(1, "old", &log));
  model.StoreRecordDef(std::make_unique<LoggingRecordDef>(1, "new", &log));
  EXPECT_EQ(log.back(), "record old");
  EXPECT_EQ(model.RecordDefSlots(), 2u);
  EXPECT_EQ(model.GetRecordDef(1).m_name, "new");

  model.StoreCommandDef(std::make_unique<SCommandDef>(3, "qryX", 0));
  EXPECT_EQ(model.CommandDefSlots(), 4u);
  EXPECT_EQ(model.GetCommandDef(3).m_name, "qryX");

  model.StoreDatabase(std::make_unique<LoggingDatabase>(1, &log));
  log.clear();
  model.StoreDatabase(std::make_unique<LoggingDatabase>(1, &log));
  EXPECT_EQ(log, (std::vector<std::string>{"database 1", "record new alive"}))
      << "a replaced database is destroyed while the definitions live";
  EXPECT_EQ(model.DatabaseSlots(), 2u);
}

TEST(DataModel, ReplacedFieldDefLivesOnInRecordDefs) {
  std::vector<std::string> log;
  TestModel model(nullptr, {}, &log);
  model.AddFieldDef(1, "Name");
  SRecordDef& rec = model.StoreRecordDef(std::make_unique<SRecordDef>(0, "tblPerson", 0));
  rec.AddField(model.GetSharedFieldDef(1), true, true);

  model.AddFieldDef(1, "Renamed", 7);  // replaces the slot the record took from

  // Each of the record's references still reads the definition it took
  // (ASan would report a use after free here if the table owned it alone).
  EXPECT_EQ(rec.m_fields.at(0)->m_name, "Name");
  EXPECT_EQ(rec.m_idFields.at(0)->m_lType, 1);
  EXPECT_EQ(rec.m_pAutoValueField->m_vName.vt, VT_BSTR);
  EXPECT_EQ(model.GetFieldDef(1).m_name, "Renamed");
}

TEST(DataModel, RecordDefKeepsFieldOrderAndDuplicates) {
  std::vector<std::string> log;
  TestModel model(nullptr, {}, &log);
  for (LONG i = 0; i < 4; ++i) model.AddFieldDef(i, "f" + std::to_string(i));
  SRecordDef& rec = model.StoreRecordDef(std::make_unique<SRecordDef>(0, "t", 0));
  struct Add {
    LONG lField;
    bool bId, bAuto;
  };
  const Add adds[] = {{3, false, false}, {1, true, true}, {3, true, false}, {0, false, true}};
  for (const Add& a : adds) rec.AddField(model.GetSharedFieldDef(a.lField), a.bId, a.bAuto);

  auto ids = [](const std::vector<std::shared_ptr<const SFieldDef>>& list) {
    std::vector<LONG> result;
    for (const auto& p : list) result.push_back(p->m_lID);
    return result;
  };
  EXPECT_EQ(ids(rec.m_fields), (std::vector<LONG>{3, 1, 3, 0}));
  EXPECT_EQ(ids(rec.m_idFields), (std::vector<LONG>{1, 3}));
  EXPECT_EQ(rec.m_pAutoValueField->m_lID, 0) << "a later auto-value field replaces the earlier";
  EXPECT_THROW(rec.AddField(nullptr, false, false), vem_error);
}

TEST(DataModel, UnknownIdsRaiseVemErrorNamingKindAndId) {
  std::vector<std::string> log;
  TestModel model(nullptr, {}, &log);
  model.AddFieldDef(2, "f");
  model.StoreRecordDef(std::make_unique<SRecordDef>(2, "r", 0));
  model.StoreCommandDef(std::make_unique<SCommandDef>(2, "c", 0));
  model.StoreDatabase(std::make_unique<LoggingDatabase>(2, &log));

  struct Lookup {
    const char* szKind;
    std::function<void(LONG)> call;
  };
  const Lookup lookups[] = {
      {"field definition", [&](LONG id) { model.GetFieldDef(id); }},
      {"field definition", [&](LONG id) { model.GetSharedFieldDef(id); }},
      {"record definition", [&](LONG id) { model.GetRecordDef(id); }},
      {"command definition", [&](LONG id) { model.GetCommandDef(id); }},
      {"database", [&](LONG id) { model.GetDatabase(id); }},
  };
  for (const Lookup& lookup : lookups) {
    lookup.call(2);                                                // the filled slot answers
    for (LONG lID : {1, 3, 7, -1, -2147483647 - 1, 2147483647}) {  // empty, beyond, negative
      try {
        lookup.call(lID);
        ADD_FAILURE() << lookup.szKind << " id " << lID << " did not raise";
      } catch (const vem_error& e) {
        EXPECT_EQ(e.code(), E_INVALIDARG);
        EXPECT_EQ(std::string(e.what()),
                  std::string("unknown ") + lookup.szKind + " id " + std::to_string(lID));
      }
    }
  }
}

// Negative ids are refused; any other LONG is stored, large ones without a
// table of their size, and visited in ascending order after the small ones.
TEST(DataModel, StoringRejectsNegativeIdsAndKeepsLargeOnesSparse) {
  std::vector<std::string> log;
  TestModel model(nullptr, {}, &log);
  EXPECT_THROW(model.AddFieldDef(-1, "f"), vem_error);
  EXPECT_THROW(model.StoreRecordDef(std::make_unique<SRecordDef>(-1, "r", 0)), vem_error);
  EXPECT_THROW(model.StoreDatabase(std::make_unique<LoggingDatabase>(-1, &log)), vem_error);
  EXPECT_EQ(model.FieldDefSlots(), 0u);
  EXPECT_THROW(model.StoreFieldDef(nullptr), vem_error);

  for (LONG lID : {LONG{2147483647}, LONG{0x100000}, LONG{3}}) model.AddFieldDef(lID, "f");
  std::vector<LONG> visited;
  model.ForEachFieldDef([&](const SFieldDef& f) { visited.push_back(f.m_lID); });
  EXPECT_EQ(visited, (std::vector<LONG>{3, 0x100000, 2147483647}));
  EXPECT_EQ(model.FieldDefSlots(), 2147483648u);
  EXPECT_EQ(model.GetFieldDef(0x100000).m_lID, 0x100000);
  for (LONG lMissing : {LONG{4}, LONG{0xFFFFF}, LONG{2147483646}, LONG{-2147483647 - 1}})
    EXPECT_THROW(model.GetFieldDef(lMissing), vem_error) << lMissing;
}

TEST(DataModel, DatabasesGoFirstAndMayStillTrace) {
  RecordingBackChannel client(4);
  std::vector<std::string> log;
  {
    TestModel::Script script;
    script.databases = [&log](TestModel& m) {
      m.StoreDatabase(std::make_unique<LoggingDatabase>(1, &log));
      m.StoreDatabase(std::make_unique<LoggingDatabase>(0, &log));
    };
    script.records = [&log](TestModel& m) {
      m.StoreRecordDef(std::make_unique<LoggingRecordDef>(0, "tblA", &log));
    };
    TestModel model(&client, script, &log);
    model.GetBackChannel().RefreshTraceLevel();
    log.clear();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"model", "database 0", "record tblA alive", "database 1",
                                           "record tblA alive", "record tblA"}));
  const std::vector<std::string> texts = client.TraceTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("VEM DefinitionsTest.cpp(", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find("): closing database 0"), std::string::npos) << texts[0];
  EXPECT_EQ(client.RefCount(), 0u);
}

TEST(DataModel, FailingStepFreesWhatWasStored) {
  std::vector<std::string> log;
  TestModel::Script script;
  script.databases = [&log](TestModel& m) {
    m.StoreDatabase(std::make_unique<LoggingDatabase>(0, &log));
  };
  script.fields = [](TestModel& m) { m.AddFieldDef(0, "f"); };
  script.records = [](TestModel& m) { m.GetFieldDef(9); };  // raises
  EXPECT_THROW(TestModel(nullptr, script, &log), vem_error);
  EXPECT_EQ(log.back(), "database 0");
  EXPECT_EQ(std::count(log.begin(), log.end(), "post"), 0);
}

}  // namespace
