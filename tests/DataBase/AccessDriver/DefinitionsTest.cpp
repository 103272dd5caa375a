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

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/Definitions.h"
#include "Platform/OleAuto.h"
#include "Support/DatabaseFixture.h"
#include "Support/RecordingBackChannel.h"
#include "Support/TempDir.h"

namespace {

using Log = std::vector<std::string>;

TEST(FieldTypes, EncryptedStringLengthAndTheNameAsBstr) {
  struct Case {
    LONG lColumnSize, lLength;
  };
  const Case cases[] = {{255, -28}, {252, 161}, {40, 2}, {0, -28}, {64000, 47972}, {41, -28}};
  for (const Case& c : cases)
    EXPECT_EQ(EncryptedStringLength(c.lColumnSize), c.lLength) << "column " << c.lColumnSize;
  // The name's VARIANT holds the Windows-1252 name "Größe€" as UTF-16.
  const SFieldDef def(3,
                      "Gr\xF6\xDF"
                      "e\x80",
                      1, 40, true);
  ASSERT_EQ(def.m_vName.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(def.m_vName.bstrVal, SysStringLen(def.m_vName.bstrVal)),
            u"Gr\u00F6\u00DFe\u20AC");
}

// A database over one shared file that logs its destruction and what of its
// model still exists at that time (the record definitions, and the back
// channel, which it traces to).
class LoggingDatabase : public DaoDatabase {
 public:
  LoggingDatabase(LONG lID, Log* pLog)
      : DaoDatabase(lID, File(), false, false, ";PWD=pw", nullptr), m_pLog(pLog) {}
  ~LoggingDatabase() override {
    m_pLog->push_back("database " + std::to_string(m_lID));
    if (m_pModel == nullptr) return;
    m_pModel->GetBackChannel().Trace(4, __FILE__, __LINE__, "closing database %d", m_lID);
    m_pModel->ForEachRecordDef(
        [&](const SRecordDef& def) { m_pLog->push_back("record " + def.m_name + " alive"); });
  }

 private:
  static std::string File() {
    static vemtest::TempDir dir;
    static const std::string path = [] {
      const std::string file = dir.File("logging.vdb");
      vemtest::CreateDatabase(file, "pw")->Close();
      return file;
    }();
    return path;
  }
  Log* m_pLog;
};

// A record definition that logs its destruction.
struct LoggingRecordDef : SRecordDef {
  LoggingRecordDef(LONG lID, std::string name, Log* pLog)
      : SRecordDef(lID, std::move(name), 0), m_pLog(pLog) {}
  ~LoggingRecordDef() override { m_pLog->push_back("record " + m_name); }
  Log* m_pLog;
};

// A model whose steps run scripted actions and log their order. Its Store
// operations are public so that tests can fill the tables directly.
class TestModel : public DataModel {
 public:
  using Step = std::function<void(TestModel&)>;
  struct Script {
    Step pre, databases, fields, records, commands, post;
  };

  TestModel(IkivBackChannel* pClient, Script script, Log* pLog)
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
  Log* m_pLog;
};

// The steps run in order, but any Store may be called in any step; a later
// step sees what an earlier one stored.
TEST(DataModel, DefinitionStepsRunInOrderAndAreConventionsOnly) {
  Log log;
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
  EXPECT_EQ(log, (Log{"pre", "databases", "fields", "records", "commands", "post"}));
  EXPECT_EQ(model.GetRecordDef(0).m_idFields.at(0)->m_name, "Id");
  EXPECT_EQ(model.GetRecordDef(0).m_pModel, &model);
  EXPECT_EQ(model.GetDatabase(0).GetModel(), &model);
}

// Tables grow to the highest small id; a replacement keeps the size and
// destroys what it replaces (a database while the definitions live).
// Negative ids and null objects are refused; any other LONG is stored,
// large ones without a table of their size, visited in ascending order
// after the small ones.
TEST(DataModel, TablesGrowReplaceAndKeepLargeIdsSparse) {
  Log log;
  TestModel model(nullptr, {}, &log);
  model.AddFieldDef(5, "five");
  model.AddFieldDef(2, "two");
  EXPECT_EQ(model.FieldDefSlots(), 6u);
  EXPECT_EQ(model.GetFieldDef(2).m_name, "two");
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
  EXPECT_EQ(log, (Log{"database 1", "record new alive"}));
  EXPECT_EQ(model.DatabaseSlots(), 2u);

  EXPECT_THROW(model.AddFieldDef(-1, "f"), vem_error);
  EXPECT_THROW(model.StoreRecordDef(std::make_unique<SRecordDef>(-1, "r", 0)), vem_error);
  EXPECT_THROW(model.StoreDatabase(std::make_unique<LoggingDatabase>(-1, &log)), vem_error);
  EXPECT_THROW(model.StoreFieldDef(nullptr), vem_error);
  EXPECT_EQ(model.FieldDefSlots(), 6u);
  for (LONG lID : {LONG{2147483647}, LONG{0x100000}, LONG{3}}) model.AddFieldDef(lID, "f");
  std::vector<LONG> visited;
  model.ForEachFieldDef([&](const SFieldDef& f) { visited.push_back(f.m_lID); });
  EXPECT_EQ(visited, (std::vector<LONG>{2, 3, 5, 0x100000, 2147483647}));
  EXPECT_EQ(model.FieldDefSlots(), 2147483648u);
  EXPECT_EQ(model.GetFieldDef(0x100000).m_lID, 0x100000);
}

// A record definition keeps its fields in order, duplicates included; a
// later auto-value field replaces the earlier. A replaced field definition
// lives on in the record definitions that took it (ASan would report a use
// after free if the table owned it alone).
TEST(DataModel, RecordDefKeepsItsFieldsWhateverTheTableDoes) {
  Log log;
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
  EXPECT_EQ(rec.m_pAutoValueField->m_lID, 0);
  EXPECT_THROW(rec.AddField(nullptr, false, false), vem_error);

  model.AddFieldDef(1, "Renamed", 7);  // replaces a slot the record took from
  EXPECT_EQ(rec.m_fields.at(1)->m_name, "f1");
  EXPECT_EQ(rec.m_idFields.at(0)->m_lType, 1);
  EXPECT_EQ(rec.m_fields.at(1)->m_vName.vt, VT_BSTR);
  EXPECT_EQ(model.GetFieldDef(1).m_name, "Renamed");
}

TEST(DataModel, UnknownIdsRaiseVemErrorNamingKindAndId) {
  Log log;
  TestModel model(nullptr, {}, &log);
  model.AddFieldDef(2, "f");
  model.StoreRecordDef(std::make_unique<SRecordDef>(2, "r", 0));
  model.StoreCommandDef(std::make_unique<SCommandDef>(2, "c", 0));
  model.StoreDatabase(std::make_unique<LoggingDatabase>(2, &log));
  model.AddFieldDef(0x100000, "big");
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
    lookup.call(2);  // the filled slot answers
    // Empty, beyond, negative, and between the large ones.
    for (LONG lID : {1, 3, 7, -1, -2147483647 - 1, 2147483647, 0xFFFFF, 2147483646}) {
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

TEST(DataModel, DatabasesGoFirstAndMayStillTrace) {
  vemtest::RecordingBackChannel client(4);
  Log log;
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
  EXPECT_EQ(log, (Log{"model", "database 0", "record tblA alive", "database 1", "record tblA alive",
                      "record tblA"}));
  const std::vector<std::string> texts = client.TraceTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].rfind("VEM DefinitionsTest.cpp(", 0), 0u) << texts[0];
  EXPECT_NE(texts[0].find("): closing database 0"), std::string::npos) << texts[0];
  EXPECT_EQ(client.RefCount(), 0u);
}

TEST(DataModel, FailingStepFreesWhatWasStored) {
  Log log;
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
