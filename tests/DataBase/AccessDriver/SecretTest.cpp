// Change of secret and upgrade of the format of encrypted values on real
// database files of 3 x 1000 records: every value is rewritten under the new
// key (or format), and a walk that fails half-way changes nothing at all,
// neither the stored texts nor the key states nor the version.
//
// Model (one database "db.vdb", password "pw"), record ids with gaps:
//   0 tblA (AID LONG id): AText STRING, ADouble DOUBLE, ADate DATETIME,
//          ABool BOOL, all encrypted
//   1 tblB (BID STRING id): BLong LONG, BText STRING, BShort SHORT encrypted,
//          BPlain LONG plain
//   3 tblC (CID LONG id): CULong ULONG, CFloat FLOAT, CChar CHAR, CUChar
//          UCHAR, CUShort USHORT encrypted; CBlob BLOB with the crypt flag
//          (holds a plain long that no walk may touch)
//   5 tblEmpty (EID LONG id): EText STRING encrypted, no records
//   6 tblMissing: no encrypted field and no table in the file (never opened)
// Some encrypted columns of some records are NULL. Last, a model of two
// databases whose walks each keep to their own file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "DriverFixture.h"

namespace secrettest {
namespace {

using drivertest::TestCallback;
using vemtest::TestRecord;

enum : LONG {
  fAID = 0,
  fAText,
  fADouble,
  fADate,
  fABool,
  fBID = 10,
  fBLong,
  fBText,
  fBShort,
  fBPlain,
  fCID = 20,
  fCULong,
  fCFloat,
  fCChar,
  fCUChar,
  fCUShort,
  fCBlob,
  fEID = 30,
  fEText,
  fMID = 40,
  fMName,
};
enum : LONG { kA = 0, kB = 1, kC = 3, kEmpty = 5, kMissing = 6 };

constexpr int kRecords = 1000;
constexpr char kIllegalMac[] = "illegal MAC found in database";
const BYTE kSecretA[] = {'a', 'l', 'p', 'h', 'a'};
const BYTE kSecretB[] = {'b', 'r', 'a', 'v', 'o', '!'};
const BYTE kRandom1[] = {1, 2, 3, 4, 5, 6, 7, 8};
const BYTE kRandom2[] = {9, 9, 8, 8, 7, 7, 6, 6, 5};

// ---- The values of record i ----------------------------------------------

std::string BId(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "b%05d", i);
  return text;
}
bool ANullText(int i) {
  return i % 10 == 7;
}
bool ANullDouble(int i) {
  return i % 10 == 3;
}
bool BNullShort(int i) {
  return i % 10 == 5;
}
std::string AText(int i) {
  return "a" + std::to_string(i) + " \xE9t\xE9 O'Neil";  // Windows-1252
}
double ADouble(int i) {
  return i * 1.25 - 333.5;
}
DateParts ADate(int i) {
  DateParts p;
  p.year = static_cast<std::uint16_t>(100 + (i * 7) % 9900);
  p.month = static_cast<std::uint16_t>(1 + i % 12);
  p.day = static_cast<std::uint16_t>(1 + i % 28);
  p.hour = static_cast<std::uint16_t>(i % 24);
  p.minute = static_cast<std::uint16_t>(i % 60);
  p.second = static_cast<std::uint16_t>(1 + (i / 3) % 59);
  p.millisecond = static_cast<std::uint16_t>(i % 1000);
  return p;
}
bool ABool(int i) {
  return i % 3 == 0;
}
LONG BLong(int i) {
  return -7919 * i;
}
std::string BText(int i) {
  return "t" + std::to_string(i);  // at most 17 bytes: fits TEXT(60) in format 1.1
}
SHORT BShort(int i) {
  return static_cast<SHORT>(i - 500);
}

std::string Str(const DateParts& p) {
  char text[64];
  std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u.%u", p.year, p.month, p.day, p.hour, p.minute,
                p.second, p.millisecond);
  return text;
}

// ---- The model -----------------------------------------------------------

void DefineModel(TestCallback& callback, const std::string& path) {
  callback.databases = [path](IComStaticDataModelCreator* c) {
    return c->AddDatabase(0, _bstr_t(path.c_str()), _bstr_t("pw"));
  };
  callback.fieldDefs = [](IComStaticDataModelCreator* c) {
    struct F {
      LONG id;
      const char* name;
      LONG type;
      bool crypt;
    };
    static const F fields[] = {
        {fAID, "AID", 7, false},         {fAText, "AText", 1, true},
        {fADouble, "ADouble", 10, true}, {fADate, "ADate", 11, true},
        {fABool, "ABool", 2, true},      {fBID, "BID", 1, false},
        {fBLong, "BLong", 7, true},      {fBText, "BText", 1, true},
        {fBShort, "BShort", 5, true},    {fBPlain, "BPlain", 7, false},
        {fCID, "CID", 7, false},         {fCULong, "CULong", 8, true},
        {fCFloat, "CFloat", 9, true},    {fCChar, "CChar", 3, true},
        {fCUChar, "CUChar", 4, true},    {fCUShort, "CUShort", 6, true},
        {fCBlob, "CBlob", 12, true},     {fEID, "EID", 7, false},
        {fEText, "EText", 1, true},      {fMID, "MID", 7, false},
        {fMName, "MName", 1, false},
    };
    for (const F& f : fields)
      c->AddFieldDef(f.id, _bstr_t(f.name), f.type, -1, f.crypt ? VARIANT_TRUE : VARIANT_FALSE);
    return S_OK;
  };
  callback.recordDefs = [](IComStaticDataModelCreator* c) {
    struct R {
      LONG id;
      const char* table;
      LONG first, last;
    };
    static const R records[] = {{kA, "tblA", fAID, fABool},
                                {kB, "tblB", fBID, fBPlain},
                                {kC, "tblC", fCID, fCBlob},
                                {kEmpty, "tblEmpty", fEID, fEText},
                                {kMissing, "tblMissing", fMID, fMName}};
    for (const R& r : records) {
      c->AddRecordDef(r.id, _bstr_t(r.table), 0);
      for (LONG f = r.first; f <= r.last; ++f)
        c->AddFieldToRecordDef(r.id, f, f == r.first ? VARIANT_TRUE : VARIANT_FALSE, VARIANT_FALSE);
    }
    return S_OK;
  };
}

// One model over a database file, with its own database object.
class Model {
 public:
  explicit Model(const std::string& path) {
    DefineModel(m_callback, path);
    m_pModel = std::make_unique<SDM>(&m_backChannel, &m_callback);
  }
  Model(const std::string& path, const BYTE* pSecret, ULONG ulLength) : Model(path) {
    Db().SetSecret(pSecret, ulLength, kRandom1, sizeof kRandom1);
  }
  DaoDatabase& Db() { return static_cast<DaoDatabase&>(m_pModel->GetDatabase(0)); }
  const SRecordDef& Rec(LONG lID) { return m_pModel->GetRecordDef(lID); }

 private:
  vemtest::RecordingBackChannel m_backChannel{0};
  TestCallback m_callback;
  std::unique_ptr<SDM> m_pModel;
};

// Walks the records of one record definition: visit(i, strategy) with the
// record's number.
void ForEachRecord(Model& model, LONG lRecordDef,
                   const std::function<void(int, DaoRecordsetStrategy&)>& visit) {
  DaoRecordsetStrategy strategy(model.Db(), model.Rec(lRecordDef));
  strategy.Open();
  for (; !strategy.IsEOF(); strategy.MoveNext()) {
    _variant_t vId;
    strategy.GetLoader().GetVariant(lRecordDef == kA ? fAID : lRecordDef == kB ? fBID : fCID, vId);
    const int i = lRecordDef == kB ? std::stoi(static_cast<const char*>(_bstr_t(vId)) + 1)
                                   : static_cast<int>(static_cast<LONG>(vId));
    visit(i, strategy);
  }
  strategy.Close();
}

// Writes the 3 x kRecords records with the model's key in its format.
void Populate(Model& model) {
  DaoDatabase& db = model.Db();
  db.BeginTrans();
  {
    DaoRecordsetStrategy a(db, model.Rec(kA));
    a.Open();
    for (int i = 0; i < kRecords; ++i) {
      TestRecord record(kA);
      IDaoSaver& s = a.BeginAppend(record);
      s.PutLong(fAID, i);
      if (!ANullText(i)) s.PutString(fAText, AText(i));
      if (!ANullDouble(i)) s.PutDouble(fADouble, ADouble(i));
      s.PutDate(fADate, ADate(i));
      s.PutBool(fABool, ABool(i));
      a.FinishAppend();
    }
    a.Close();
    DaoRecordsetStrategy b(db, model.Rec(kB));
    b.Open();
    for (int i = 0; i < kRecords; ++i) {
      TestRecord record(kB);
      record.Text(fBID, BId(i));
      IDaoSaver& s = b.BeginAppend(record);
      s.PutString(fBID, BId(i));
      s.PutLong(fBLong, BLong(i));
      s.PutString(fBText, BText(i));
      if (!BNullShort(i)) s.PutShort(fBShort, BShort(i));
      s.PutLong(fBPlain, i);
      b.FinishAppend();
    }
    b.Close();
    DaoRecordsetStrategy c(db, model.Rec(kC));
    c.Open();
    for (int i = 0; i < kRecords; ++i) {
      TestRecord record(kC);
      IDaoSaver& s = c.BeginAppend(record);
      s.PutLong(fCID, i);
      s.PutULong(fCULong, 0xFFFFFFFFu - static_cast<ULONG>(i));
      s.PutFloat(fCFloat, static_cast<float>(i) / 4.0f);
      s.PutChar(fCChar, static_cast<std::int8_t>(i % 256 - 128));
      s.PutUChar(fCUChar, static_cast<BYTE>(i % 256));
      s.PutUShort(fCUShort, static_cast<USHORT>(65535 - i));
      c.FinishAppend();
    }
    c.Close();
  }
  db.GetEngineDatabase().Execute("UPDATE tblC SET CBlob = CID + 100000");
  db.CommitTrans();
}

// The encrypted fields of the three filled tables.
struct CryptField {
  LONG lRecordDef;
  LONG lField;
};
const CryptField kCryptFields[] = {
    {kA, fAText},  {kA, fADouble}, {kA, fADate},  {kA, fABool}, {kB, fBLong},  {kB, fBText},
    {kB, fBShort}, {kC, fCULong},  {kC, fCFloat}, {kC, fCChar}, {kC, fCUChar}, {kC, fCUShort},
};

bool IsNull(LONG lField, int i) {
  return (lField == fAText && ANullText(i)) || (lField == fADouble && ANullDouble(i)) ||
         (lField == fBShort && BNullShort(i));
}

// Reads field lField of record i through the loader and compares it.
void ExpectValue(IDaoLoader& loader, LONG lField, int i) {
  switch (lField) {
    case fAText: {
      std::string v;
      loader.GetString(lField, v);
      EXPECT_EQ(v, AText(i)) << i;
      break;
    }
    case fADouble: {
      double v = 0;
      loader.GetDouble(lField, v);
      EXPECT_EQ(v, ADouble(i)) << i;
      break;
    }
    case fADate: {
      DateParts v;
      loader.GetDate(lField, v);
      EXPECT_EQ(Str(v), Str(ADate(i))) << i;
      break;
    }
    case fABool: {
      bool v = !ABool(i);
      loader.GetBool(lField, v);
      EXPECT_EQ(v, ABool(i)) << i;
      break;
    }
    case fBLong: {
      LONG v = 0;
      loader.GetLong(lField, v);
      EXPECT_EQ(v, BLong(i)) << i;
      break;
    }
    case fBText: {
      std::string v;
      loader.GetString(lField, v);
      EXPECT_EQ(v, BText(i)) << i;
      break;
    }
    case fBShort: {
      SHORT v = 0;
      loader.GetShort(lField, v);
      EXPECT_EQ(v, BShort(i)) << i;
      break;
    }
    case fCULong: {
      ULONG v = 0;
      loader.GetULong(lField, v);
      EXPECT_EQ(v, 0xFFFFFFFFu - static_cast<ULONG>(i)) << i;
      break;
    }
    case fCFloat: {
      float v = 0;
      loader.GetFloat(lField, v);
      EXPECT_EQ(v, static_cast<float>(i) / 4.0f) << i;
      break;
    }
    case fCChar: {
      std::int8_t v = 0;
      loader.GetChar(lField, v);
      EXPECT_EQ(v, static_cast<std::int8_t>(i % 256 - 128)) << i;
      break;
    }
    case fCUChar: {
      BYTE v = 0;
      loader.GetUChar(lField, v);
      EXPECT_EQ(v, static_cast<BYTE>(i % 256)) << i;
      break;
    }
    case fCUShort: {
      USHORT v = 0;
      loader.GetUShort(lField, v);
      EXPECT_EQ(v, static_cast<USHORT>(65535 - i)) << i;
      break;
    }
    default:
      FAIL() << "no encrypted field " << lField;
  }
}

// Reads every encrypted value of the three tables through model. A record
// listed in `failing` (record definition, number) must fail the MAC; with
// bAllFail every value must. NULL columns must hold no text. Answers the
// number of values read.
struct Failing {
  LONG lRecordDef = -1;
  int i = -1;
};
int ExpectAllValues(Model& model, bool bAllFail, Failing failing = {}, bool bUpgraded = false) {
  int values = 0;
  for (LONG lRecordDef : {kA, kB, kC}) {
    ForEachRecord(model, lRecordDef, [&](int i, DaoRecordsetStrategy& strategy) {
      for (const CryptField& f : kCryptFields) {
        if (f.lRecordDef != lRecordDef) continue;
        if (IsNull(f.lField, i) && bUpgraded && f.lField == fAText) {
          // Format 1.0 stores an empty text as NULL: the upgrade wrote the
          // empty text of format 1.1.
          std::string text = "?";
          strategy.GetLoader().GetString(f.lField, text);
          EXPECT_EQ(text, "") << i;
          continue;
        }
        if (IsNull(f.lField, i)) {
          EXPECT_TRUE(strategy.HoldsNoText(f.lField)) << f.lField << " " << i;
          continue;
        }
        ++values;
        const bool bFail =
            bAllFail || (failing.lRecordDef == lRecordDef && failing.i == i && f.lField == fBText);
        if (bFail) {
          const std::string text =
              EXPECT_VEM_ERROR(ExpectValue(strategy.GetLoader(), f.lField, i), 0);
          EXPECT_EQ(text, kIllegalMac) << f.lField << " " << i;
        } else {
          ExpectValue(strategy.GetLoader(), f.lField, i);
        }
      }
    });
  }
  return values;
}

// Every column of every record of the three tables as stored, as text, in
// the order of the ids, read beside the driver with the engine.
std::vector<std::string> RawTexts(const std::string& path) {
  static const struct {
    const char* sql;
    std::vector<const char*> columns;
  } tables[] = {
      {"SELECT * FROM tblA ORDER BY AID", {"AID", "AText", "ADouble", "ADate", "ABool"}},
      {"SELECT * FROM tblB ORDER BY BID", {"BID", "BLong", "BText", "BShort", "BPlain"}},
      {"SELECT * FROM tblC ORDER BY CID",
       {"CID", "CULong", "CFloat", "CChar", "CUChar", "CUShort", "CBlob"}},
      {"SELECT * FROM tblEmpty", {"EID", "EText"}},
  };
  dao::DBEnginePtr engine = dao::CreateDBEngine();
  dao::DatabasePtr db = engine->OpenDatabase(_bstr_t(path.c_str()), _variant_t(false),
                                             _variant_t(false), _variant_t(";PWD=pw"));
  std::vector<std::string> texts;
  for (const auto& table : tables) {
    dao::RecordsetPtr rs = db->OpenRecordset(_bstr_t(table.sql));
    for (; rs->GetEOF() == VARIANT_FALSE; rs->MoveNext()) {
      for (const char* column : table.columns) {
        _variant_t v = rs->GetCollect(_variant_t(column));
        if (v.vt == VT_NULL) {
          texts.emplace_back("<null>");
        } else {
          v.ChangeType(VT_BSTR);
          texts.emplace_back(static_cast<const char*>(_bstr_t(v)));
        }
      }
    }
    rs->Close();
  }
  db->Close();
  return texts;
}

// ---- Fixture: the filled files are built once and copied for each test ----

class SecretTest : public ::testing::Test {
 protected:
  // Template files: "v11.vdb" (driver version 0x01010000) and "v10.vdb" (no
  // version property: format 1.0), both filled under secret A.
  static void SetUpTestSuite() {
    s_pTemplates = new vemtest::TempDir();
    for (const bool bV11 : {true, false}) {
      const std::string path = s_pTemplates->File(bV11 ? "v11.vdb" : "v10.vdb");
      {
        dao::DBEnginePtr engine = dao::CreateDBEngine();
        dao::DatabasePtr db = engine->CreateDatabase(_bstr_t(path.c_str()), _bstr_t(";PWD=pw"));
        db->Execute(
            "CREATE TABLE tblA (AID LONG PRIMARY KEY, AText TEXT(255), ADouble TEXT(48), "
            "ADate TEXT(48), ABool TEXT(40))");
        db->Execute(
            "CREATE TABLE tblB (BID TEXT(20) PRIMARY KEY, BLong TEXT(44), BText TEXT(60), "
            "BShort TEXT(40), BPlain LONG)");
        db->Execute(
            "CREATE TABLE tblC (CID LONG PRIMARY KEY, CULong TEXT(44), CFloat TEXT(44), "
            "CChar TEXT(40), CUChar TEXT(40), CUShort TEXT(40), CBlob LONG)");
        db->Execute("CREATE TABLE tblEmpty (EID LONG PRIMARY KEY, EText TEXT(255))");
        if (bV11) {
          dao::PropertyPtr p = db->CreateProperty(
              _variant_t("vemDriverVersion"), _variant_t(LONG{4}), _variant_t(LONG{0x01010000}));
          db->GetProperties()->Append(p);
        }
        db->Close();
      }
      Model model(path, kSecretA, sizeof kSecretA);
      Populate(model);
    }
  }
  static void TearDownTestSuite() {
    delete s_pTemplates;
    s_pTemplates = nullptr;
  }

  // Copies a template to this test's db.vdb.
  void UseTemplate(bool bV11) {
    std::filesystem::copy_file(s_pTemplates->File(bV11 ? "v11.vdb" : "v10.vdb"), Path());
  }
  std::string Path() const { return m_dir.File("db.vdb"); }

  // Changes one Base64 character of BText of record i of tblB directly in the
  // file, so that the value's MAC fails (the text stays valid Base64).
  void TamperBText(int i) {
    const std::string id = BId(i);
    dao::DBEnginePtr engine = dao::CreateDBEngine();
    dao::DatabasePtr db = engine->OpenDatabase(_bstr_t(Path().c_str()), _variant_t(false),
                                               _variant_t(false), _variant_t(";PWD=pw"));
    dao::RecordsetPtr rs =
        db->OpenRecordset(_bstr_t(("SELECT BText FROM tblB WHERE BID = '" + id + "'").c_str()));
    std::string text = static_cast<const char*>(_bstr_t(rs->GetCollect(_variant_t("BText"))));
    rs->Close();
    text[20] = text[20] == 'A' ? 'B' : 'A';
    db->Execute(
        _bstr_t(("UPDATE tblB SET BText = '" + text + "' WHERE BID = '" + id + "'").c_str()));
    db->Close();
  }

  static vemtest::TempDir* s_pTemplates;
  vemtest::TempDir m_dir;
};

vemtest::TempDir* SecretTest::s_pTemplates = nullptr;

// ---- Change of secret -------------------------------------------------------

TEST_F(SecretTest, ChangeSecretRewritesEveryValueUnderTheNewKeyOnly) {
  UseTemplate(true);
  const std::vector<std::string> before = RawTexts(Path());
  {
    Model model(Path(), kSecretA, sizeof kSecretA);
    model.Db().ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, kRandom2, sizeof kRandom2);
    // The same object reads and writes with the new key from now on.
    EXPECT_EQ(ExpectAllValues(model, false), 3 * kRecords * 4 - 300);
  }
  const std::vector<std::string> after = RawTexts(Path());
  ASSERT_EQ(after.size(), before.size());
  {
    Model underB(Path(), kSecretB, sizeof kSecretB);
    const int values = ExpectAllValues(underB, false);
    EXPECT_EQ(values, 3 * kRecords * 4 - 300);
  }
  {
    Model underA(Path(), kSecretA, sizeof kSecretA);
    ExpectAllValues(underA, true);
  }
  // Rewritten: every encrypted text changed; ids, plain columns, NULLs and
  // the long of the BLOB field with the crypt flag did not.
  int changed = 0;
  for (std::size_t k = 0; k < before.size(); ++k) {
    const bool bCipherText = before[k].size() >= 40 && before[k] != "<null>";
    if (bCipherText) {
      EXPECT_NE(after[k], before[k]) << k;
      EXPECT_EQ(after[k].substr(0, 10), "CQkICAcHBg") << "the new salt" << k;
      ++changed;
    } else {
      EXPECT_EQ(after[k], before[k]) << k;
    }
  }
  EXPECT_EQ(changed, 3 * kRecords * 4 - 300);
}

TEST_F(SecretTest, FailureHalfWayLeavesEveryValueAndBothKeysAsTheyWere) {
  UseTemplate(true);
  TamperBText(kRecords / 2);
  const std::vector<std::string> before = RawTexts(Path());
  {
    Model model(Path(), kSecretA, sizeof kSecretA);
    const std::string text =
        EXPECT_VEM_ERROR(model.Db().ChangeSecret(kSecretA, sizeof kSecretA, kSecretB,
                                                 sizeof kSecretB, kRandom2, sizeof kRandom2),
                         0);
    EXPECT_EQ(text, kIllegalMac);
    EXPECT_EQ(RawTexts(Path()), before) << "tblA was rewritten completely before the failure";

    // Read state: the old key still reads every value of the same object.
    ExpectAllValues(model, false, {kB, kRecords / 2});
    // Write state and salt: a value written now is under the old key.
    DaoRecordsetStrategy a(model.Db(), model.Rec(kA));
    a.Filter("{0} = 4");
    a.Open();
    a.BeginUpdate().PutString(fAText, "written after the failure");
    a.FinishUpdate();
    a.Close();
  }
  const std::vector<std::string> after = RawTexts(Path());
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t k = 0; k < before.size(); ++k)
    if (k != 4 * 5 + 1) {
      EXPECT_EQ(after[k], before[k]) << k;
    }
  EXPECT_EQ(after[4 * 5 + 1].substr(0, 10), "AQIDBAUGBw") << "the old salt";

  Model underA(Path(), kSecretA, sizeof kSecretA);
  ForEachRecord(underA, kA, [&](int i, DaoRecordsetStrategy& strategy) {
    if (i != 4) return;
    std::string text;
    strategy.GetLoader().GetString(fAText, text);
    EXPECT_EQ(text, "written after the failure");
  });
  Model underB(Path(), kSecretB, sizeof kSecretB);
  ForEachRecord(underB, kA, [&](int i, DaoRecordsetStrategy& strategy) {
    if (i != 4) return;
    std::string text;
    EXPECT_EQ(EXPECT_VEM_ERROR(strategy.GetLoader().GetString(fAText, text), 0), kIllegalMac);
  });
}

TEST_F(SecretTest, ChangeToTheSecretInForceGivesNewTextsAndTheSameValues) {
  UseTemplate(true);
  const std::vector<std::string> before = RawTexts(Path());
  {
    Model model(Path(), kSecretA, sizeof kSecretA);
    model.Db().ChangeSecret(kSecretA, sizeof kSecretA, kSecretA, sizeof kSecretA, nullptr, 0);
  }
  const std::vector<std::string> after = RawTexts(Path());
  ASSERT_EQ(after.size(), before.size());
  int changed = 0;
  for (std::size_t k = 0; k < before.size(); ++k) {
    if (before[k].size() < 40 || before[k] == "<null>") continue;
    EXPECT_NE(after[k], before[k]) << k;
    // Same salt, new counters.
    EXPECT_EQ(after[k].substr(0, 10), before[k].substr(0, 10)) << k;
    ++changed;
  }
  EXPECT_EQ(changed, 3 * kRecords * 4 - 300);
  Model underA(Path(), kSecretA, sizeof kSecretA);
  EXPECT_EQ(ExpectAllValues(underA, false), 3 * kRecords * 4 - 300);
}

// A model whose only encrypted record definition has no records: it is
// opened and closed without an update; the definition without encrypted
// fields names no table of the file and is never opened; the key states are
// replaced.
TEST_F(SecretTest, RecordDefinitionWithoutRecordsIsOpenedAndClosedWithoutUpdates) {
  const std::string path = Path();
  {
    dao::DBEnginePtr engine = dao::CreateDBEngine();
    dao::DatabasePtr db = engine->CreateDatabase(_bstr_t(path.c_str()), _bstr_t(";PWD=pw"));
    db->Execute("CREATE TABLE tblEmpty (EID LONG PRIMARY KEY, EText TEXT(255))");
    db->Close();
  }
  TestCallback callback;
  DefineModel(callback, path);
  callback.recordDefs = [](IComStaticDataModelCreator* c) {
    c->AddRecordDef(kEmpty, _bstr_t("tblEmpty"), 0);
    c->AddFieldToRecordDef(kEmpty, fEID, VARIANT_TRUE, VARIANT_FALSE);
    c->AddFieldToRecordDef(kEmpty, fEText, VARIANT_FALSE, VARIANT_FALSE);
    c->AddRecordDef(kMissing, _bstr_t("tblMissing"), 0);
    c->AddFieldToRecordDef(kMissing, fMID, VARIANT_TRUE, VARIANT_FALSE);
    return S_OK;
  };
  vemtest::RecordingBackChannel backChannel{4};
  SDM model(&backChannel, &callback);
  DaoDatabase& db = static_cast<DaoDatabase&>(model.GetDatabase(0));
  db.SetSecret(kSecretA, sizeof kSecretA, nullptr, 0);
  db.ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, nullptr, 0);
  EXPECT_TRUE(backChannel.TraceTexts().empty());
  // Now written and read under B.
  DaoRecordsetStrategy strategy(db, model.GetRecordDef(kEmpty));
  strategy.Open();
  EXPECT_EQ(strategy.GetRecordCount(), 0);
  TestRecord record(kEmpty);
  IDaoSaver& s = strategy.BeginAppend(record);
  s.PutLong(fEID, 1);
  s.PutString(fEText, "under B");
  strategy.FinishAppend();
  strategy.Close();
  Model underB(path);
  underB.Db().SetSecret(kSecretB, sizeof kSecretB, nullptr, 0);
  DaoRecordsetStrategy check(underB.Db(), underB.Rec(kEmpty));
  check.Open();
  std::string text;
  check.GetLoader().GetString(fEText, text);
  EXPECT_EQ(text, "under B");
  check.Close();
}

// ---- Upgrade ------------------------------------------------------------------

TEST_F(SecretTest, UpgradeRewritesEveryValueInFormat11AndRecordsTheVersion) {
  UseTemplate(false);
  const std::vector<std::string> before = RawTexts(Path());
  {
    Model model(Path(), kSecretA, sizeof kSecretA);
    ASSERT_EQ(model.Db().GetDriverVersion(), DaoDatabase::kDefaultVersion);
    EXPECT_FALSE(model.Db().UpgradeDriverVersion(0x01020000));  // no such format
    EXPECT_TRUE(model.Db().UpgradeDriverVersion(0));
    EXPECT_EQ(model.Db().GetDriverVersion(), DaoDatabase::kDriverVersion11);
    EXPECT_EQ(model.Db().GetTargetDriverVersion(), DaoDatabase::kDriverVersion11);
    EXPECT_FALSE(model.Db().UpgradeDriverVersion(0));
  }
  const std::vector<std::string> after = RawTexts(Path());
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t k = 0; k < before.size(); ++k)
    if (before[k].size() >= 16 && before[k] != "<null>") {
      EXPECT_GE(after[k].size(), before[k].size() + 20) << "the MAC was added " << k;
    }
  Model reopened(Path(), kSecretA, sizeof kSecretA);
  EXPECT_EQ(reopened.Db().GetDriverVersion(), DaoDatabase::kDriverVersion11);
  EXPECT_EQ(ExpectAllValues(reopened, false, {}, true), 3 * kRecords * 4 - 300);
}

TEST_F(SecretTest, UpgradeFailingHalfWayLeavesFormat10AndTheVersion) {
  UseTemplate(false);
  {
    // A text of 30 bytes fits its TEXT(60) column in format 1.0 (56
    // characters) but not in 1.1 (80): the engine refuses that update.
    Model model(Path(), kSecretA, sizeof kSecretA);
    DaoRecordsetStrategy b(model.Db(), model.Rec(kB));
    b.Filter("{10} = '" + BId(kRecords / 2) + "'");
    b.Open();
    b.BeginUpdate().PutString(fBText, std::string(30, 'x'));
    b.FinishUpdate();
    b.Close();
  }
  const std::vector<std::string> before = RawTexts(Path());
  {
    Model model(Path(), kSecretA, sizeof kSecretA);
    EXPECT_THROW(model.Db().UpgradeDriverVersion(0x01010000), vem_error);
    EXPECT_EQ(model.Db().GetDriverVersion(), DaoDatabase::kDefaultVersion);
    EXPECT_EQ(model.Db().GetTargetDriverVersion(), DaoDatabase::kDefaultVersion);
    EXPECT_EQ(RawTexts(Path()), before);
    // Values written now are still in format 1.0: a 30-byte text fits.
    DaoRecordsetStrategy b(model.Db(), model.Rec(kB));
    b.Filter("{10} = '" + BId(3) + "'");
    b.Open();
    b.BeginUpdate().PutString(fBText, std::string(30, 'y'));
    EXPECT_TRUE(b.FinishUpdate());
    b.Close();
  }
  Model reopened(Path(), kSecretA, sizeof kSecretA);
  EXPECT_EQ(reopened.Db().GetDriverVersion(), DaoDatabase::kDefaultVersion);
  ForEachRecord(reopened, kB, [&](int i, DaoRecordsetStrategy& strategy) {
    std::string text;
    strategy.GetLoader().GetString(fBText, text);
    if (i == kRecords / 2)
      EXPECT_EQ(text, std::string(30, 'x'));
    else if (i == 3)
      EXPECT_EQ(text, std::string(30, 'y'));
    else
      EXPECT_EQ(text, BText(i)) << i;
  });
}

// ---- Several databases ----------------------------------------------------

// The standard driver model: tblCrypt in database 0, tblOther in database 1
// (neither file has the other's table).
class TwoDatabaseSecretTest : public drivertest::DriverTest {
 protected:
  void Write(LONG lRecordDef, TestRecord& record, LONG lField, const std::string& text) {
    std::unique_ptr<ISaver> saver = Db(Rec(lRecordDef).m_lDatabaseID).CreateSaver(Rec(lRecordDef));
    ASSERT_TRUE(saver->OpenNew(record));
    if (lRecordDef == drivertest::kCrypt)
      saver->PutString(drivertest::kCID, record.Value(drivertest::kCID).m_text);
    else
      saver->PutLong(drivertest::kOID, record.Value(drivertest::kOID).m_lValue);
    saver->PutString(lField, text);
    ASSERT_TRUE(saver->Close());
  }
  // The text read back, or the error's text.
  std::string Read(LONG lRecordDef, TestRecord& record, LONG lField) {
    try {
      std::unique_ptr<ILoader> loader =
          Db(Rec(lRecordDef).m_lDatabaseID).CreateLoader(Rec(lRecordDef));
      EXPECT_TRUE(loader->Open(record));
      std::string text;
      loader->GetString(lField, text);
      return text;
    } catch (const vem_error& e) {
      return e.what();
    }
  }
  void SetSecretEverywhere(const BYTE* pSecret, ULONG ulLength) {
    m_pModel->ForEachDatabase(
        [&](IDatabase& db) { db.SetSecret(pSecret, ulLength, kRandom1, sizeof kRandom1); });
  }
  // Through the data model: every database or none.
  void ChangeSecretEverywhere(const BYTE* pSecret, ULONG ulLength) {
    m_pModel->ChangeSecret(nullptr, 0, pSecret, ulLength, nullptr, 0);
  }
};

TEST_F(TwoDatabaseSecretTest, EachDatabaseRewritesItsOwnRecordsAllOrNone) {
  using drivertest::kCID;
  using drivertest::kCrypt;
  using drivertest::kOID;
  using drivertest::kOSecret;
  using drivertest::kOther;
  using drivertest::kXStr;
  BuildModel();
  Db(1).SetDriverVersion(DaoDatabase::kDriverVersion11);  // values with a MAC in both
  SetSecretEverywhere(kSecretA, sizeof kSecretA);
  TestRecord zero(kCrypt), one(kOther), two(kOther);
  zero.Text(kCID, "c0");
  one.Long(kOID, 1);
  two.Long(kOID, 2);
  Write(kCrypt, zero, kXStr, "zero");
  Write(kOther, one, kOSecret, "one");
  Write(kOther, two, kOSecret, "two");

  // Each walk rewrites the tables of its own file only: the other file's
  // table is not opened through it.
  ChangeSecretEverywhere(kSecretB, sizeof kSecretB);
  m_pModel.reset();
  BuildModel();
  SetSecretEverywhere(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Read(kCrypt, zero, kXStr), "zero");
  EXPECT_EQ(Read(kOther, one, kOSecret), "one");
  EXPECT_EQ(Read(kOther, two, kOSecret), "two");
  SetSecretEverywhere(kSecretA, sizeof kSecretA);
  EXPECT_EQ(Read(kCrypt, zero, kXStr), kIllegalMac);
  EXPECT_EQ(Read(kOther, one, kOSecret), kIllegalMac);

  // Database 1's walk fails after database 0's walk was done: neither
  // commits, both keep the old key.
  {
    dao::DatabasePtr raw = Raw(OtherPath(), ";PWD=pw1");
    dao::RecordsetPtr rs = raw->OpenRecordset("SELECT OSecret FROM tblOther WHERE OID = 2");
    std::string text = static_cast<const char*>(_bstr_t(rs->GetCollect(_variant_t("OSecret"))));
    rs->Close();
    text[16] = text[16] == 'A' ? 'B' : 'A';
    raw->Execute(_bstr_t(("UPDATE tblOther SET OSecret = '" + text + "' WHERE OID = 2").c_str()));
    raw->Close();
  }
  SetSecretEverywhere(kSecretB, sizeof kSecretB);
  const std::string text = EXPECT_VEM_ERROR(ChangeSecretEverywhere(kSecretA, sizeof kSecretA), 0);
  EXPECT_EQ(text, kIllegalMac);
  EXPECT_EQ(Read(kCrypt, zero, kXStr), "zero");  // the same model holds the old key
  m_pModel.reset();
  BuildModel();
  SetSecretEverywhere(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Read(kCrypt, zero, kXStr), "zero");
  EXPECT_EQ(Read(kOther, one, kOSecret), "one");
  EXPECT_EQ(Read(kOther, two, kOSecret), kIllegalMac);
}

}  // namespace
}  // namespace secrettest
