// Change of secret and upgrade of the format of encrypted values, and the
// guard of writes by the key in force, on the driver's standard files
// (DriverFixture.h), with the model extended by
//   record 4 over tblCrypt again (CID, xStr, xDate): the walk rewrites that
//     table once;
//   field 61, an encrypted BLOB field over tblPlain's BlobId (on record 0):
//     it holds a plain long that no walk may touch;
//   field 62, an encrypted STRING over tblPlain's Name (on record 0): the
//     walk of a table with a Long id;
//   record 5 over the stored query qryCrypt (CID, xStr of tblCrypt; named
//     "QryCrypt"): its rows are the table's, rewritten once through the table
//     (the query's name is in no stored value's MAC);
//   record 6 over tblMissing, a table the files lack, without encrypted
//     fields: never opened.
// The filled tables hold more records than one batch of the direct walk:
// - every value is rewritten under the new key (or format), and a walk that
//   fails half-way changes nothing at all, neither the stored texts nor the
//   key states nor the version; a model's databases change all or none;
// - values that are no valid value of their field's type (a double written
//   into a date field, a text into a number field, undecodable format 1.0
//   texts) survive a change of secret and an upgrade byte for byte;
// - a client whose key is stale (another process changed the secret) can
//   neither write encrypted values nor change the secret;
// - a database whose driver version names no known format refuses to read
//   and write encrypted values.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "DriverFixture.h"
#include "Support/ChildProcess.h"

namespace drivertest {
namespace {

using vemtest::TestRecord;

const BYTE kSecretA[] = {'a', 'l', 'p', 'h', 'a'};
const BYTE kSecretB[] = {'b', 'r', 'a', 'v', 'o', '!'};
const BYTE kSecretC[] = {'c'};
const BYTE kRandom1[] = {1, 2, 3, 4, 5, 6, 7, 8};     // salt "AQIDBAUGBw..."
const BYTE kRandom2[] = {9, 9, 8, 8, 7, 7, 6, 6, 5};  // salt "CQkICAcHBg..."
constexpr LONG kCryptAgain = 4, kQuery = 5, kMissing = 6, kCryptBlob = 61, kCryptName = 62;
constexpr int kRows = 300;  // more than one batch (256 rows) of the direct walk
// The encrypted fields that Populate fills (the walk knows no types but
// STRING: the others are bytes).
const LONG kFilled[] = {kXStr, kXB, kXL, kXDT};

std::string Cid(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "c%03d", i);
  return text;
}

class SecretTest : public DriverTest {
 protected:
  void SetUp() override {
    {
      dao::DatabasePtr db = Raw(MainPath(), ";PWD=pw0");
      db->CreateQueryDef(_bstr_t("qryCrypt"), _bstr_t("SELECT CID, xStr FROM tblCrypt"));
      db->Close();
    }
    const TestCallback::Step standard = m_callback.recordDefs;
    m_callback.recordDefs = [standard](IComStaticDataModelCreator* c) {
      standard(c);
      c->AddRecordDef(kCryptAgain, _bstr_t("tblCrypt"), 0);
      c->AddFieldToRecordDef(kCryptAgain, kCID, VARIANT_TRUE, VARIANT_FALSE);
      c->AddFieldToRecordDef(kCryptAgain, kXStr, VARIANT_FALSE, VARIANT_FALSE);
      c->AddFieldToRecordDef(kCryptAgain, kXDT, VARIANT_FALSE, VARIANT_FALSE);
      c->AddRecordDef(kQuery, _bstr_t("QryCrypt"), 0);
      c->AddFieldToRecordDef(kQuery, kCID, VARIANT_TRUE, VARIANT_FALSE);
      c->AddFieldToRecordDef(kQuery, kXStr, VARIANT_FALSE, VARIANT_FALSE);
      c->AddFieldDef(kCryptBlob, _bstr_t("BlobId"), 12, -1, VARIANT_TRUE);
      c->AddFieldToRecordDef(kPlain, kCryptBlob, VARIANT_FALSE, VARIANT_FALSE);
      c->AddFieldDef(kCryptName, _bstr_t("Name"), 1, -1, VARIANT_TRUE);
      c->AddFieldToRecordDef(kPlain, kCryptName, VARIANT_FALSE, VARIANT_FALSE);
      c->AddRecordDef(kMissing, _bstr_t("tblMissing"), 0);
      c->AddFieldToRecordDef(kMissing, kID, VARIANT_TRUE, VARIANT_FALSE);
      return S_OK;
    };
    BuildModel();
  }
  // A new model over the files, holding the given secret.
  void Reopen(const BYTE* pSecret, ULONG ulLength) {
    m_pModel.reset();
    BuildModel();
    SetSecretEverywhere(pSecret, ulLength);
  }
  void SetSecretEverywhere(const BYTE* pSecret, ULONG ulLength) {
    m_pModel->ForEachDatabase(
        [&](IDatabase& db) { db.SetSecret(pSecret, ulLength, kRandom1, sizeof kRandom1); });
  }
  void SetSecret(const BYTE* pSecret, ULONG ulLength) {
    Db(0).SetSecret(pSecret, ulLength, nullptr, 0);
  }
  void ChangeSecret(const BYTE* pSecret, ULONG ulLength) {
    Db(0).ChangeSecret(nullptr, 0, pSecret, ulLength, nullptr, 0);
  }

  // kRows records in tblCrypt (database 0) and tblOther (database 1) with
  // some NULL columns, and two of tblPlain holding plain blob ids and
  // encrypted names.
  void Populate() {
    for (LONG lRecordDef : {kCrypt, kOther}) {
      DaoDatabase& db = Db(Rec(lRecordDef).m_lDatabaseID);
      db.BeginTrans();
      DaoRecordsetStrategy strategy(db, Rec(lRecordDef));
      strategy.Open();
      for (int i = 0; i < kRows; ++i) {
        TestRecord record(lRecordDef);
        if (lRecordDef == kCrypt) record.Text(kCID, Cid(i));
        IDaoSaver& s = strategy.BeginAppend(record);
        if (lRecordDef == kOther) {
          s.PutLong(kOID, i);
          if (i % 10 != 5) s.PutString(kOSecret, "o" + std::to_string(i));
        } else {
          s.PutString(kCID, Cid(i));
          if (i % 10 != 7) s.PutString(kXStr, "a" + std::to_string(i) + " \xE9t\xE9 O'Neil");
          s.PutBool(kXB, i % 3 == 0);
          if (i % 10 != 3) s.PutLong(kXL, -7919 * i);
          s.PutDouble(kXDT, 36526.25 + i);
        }
        strategy.FinishAppend();
      }
      strategy.Close();
      db.CommitTrans();
    }
    for (LONG id : {1, 2}) {
      TestRecord record(kPlain);
      record.Long(kID, id);
      std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kPlain));
      ASSERT_TRUE(saver->OpenNew(record));
      saver->PutLong(kID, id);
      saver->PutLong(kBlob, 100000 + id);
      saver->PutString(kCryptName, "name " + std::to_string(id));
      ASSERT_TRUE(saver->Close());
    }
  }

  // Every encrypted value of tblCrypt, tblOther and tblPlain as this model
  // reads it: its plain bytes, "-" for a column without text, or the error.
  std::vector<std::string> Plain() {
    std::vector<std::string> out;
    for (LONG lRecordDef : {kCrypt, kOther, kPlain}) {
      DaoRecordsetStrategy strategy(Db(Rec(lRecordDef).m_lDatabaseID), Rec(lRecordDef));
      strategy.Sort(lRecordDef == kCrypt ? "CID" : lRecordDef == kOther ? "OID" : "ID");
      strategy.Open();
      for (; !strategy.IsEOF(); strategy.MoveNext()) {
        std::vector<LONG> fields(std::begin(kFilled), std::end(kFilled));
        if (lRecordDef != kCrypt) fields = {lRecordDef == kOther ? kOSecret : kCryptName};
        for (LONG lField : fields) {
          std::string text = "-";
          try {
            if (!strategy.HoldsNoText(lField)) strategy.GetLoader().GetString(lField, text);
          } catch (const vem_error& e) {
            text = e.what();
          }
          out.push_back(text);
        }
      }
      strategy.Close();
    }
    return out;
  }
  // Every column of the three filled tables as stored, as text, read beside
  // the driver with the engine.
  std::vector<std::string> Stored() {
    static const struct {
      const char* path;
      const char* sql;
      std::vector<const char*> columns;
    } tables[] = {
        {"main", "SELECT * FROM tblCrypt ORDER BY CID", {"CID", "xStr", "xBool", "xLong", "xDate"}},
        {"main", "SELECT * FROM tblPlain ORDER BY ID", {"ID", "BlobId", "Name"}},
        {"other", "SELECT * FROM tblOther ORDER BY OID", {"OID", "OSecret"}},
    };
    std::vector<std::string> texts;
    for (const auto& table : tables) {
      const bool bMain = table.path == std::string("main");
      dao::DatabasePtr db = Raw(bMain ? MainPath() : OtherPath(), bMain ? ";PWD=pw0" : ";PWD=pw1");
      dao::RecordsetPtr rs = db->OpenRecordset(_bstr_t(table.sql));
      for (; rs->GetEOF() == VARIANT_FALSE; rs->MoveNext()) {
        for (const char* column : table.columns) {
          _variant_t v = rs->GetCollect(_variant_t(column));
          if (v.vt != VT_NULL) v.ChangeType(VT_BSTR);
          texts.emplace_back(v.vt == VT_NULL ? "<null>" : static_cast<const char*>(_bstr_t(v)));
        }
      }
      rs->Close();
      db->Close();
    }
    return texts;
  }
  // Changes one Base64 character of a stored text directly in the file, so
  // that the value's MAC fails (the text stays valid Base64).
  void Tamper(bool bMain, const std::string& table, const std::string& column,
              const std::string& where) {
    dao::DatabasePtr db = Raw(bMain ? MainPath() : OtherPath(), bMain ? ";PWD=pw0" : ";PWD=pw1");
    dao::RecordsetPtr rs = db->OpenRecordset(
        _bstr_t(("SELECT " + column + " FROM " + table + " WHERE " + where).c_str()));
    std::string text =
        static_cast<const char*>(_bstr_t(rs->GetCollect(_variant_t(column.c_str()))));
    rs->Close();
    text[20] = text[20] == 'A' ? 'B' : 'A';
    db->Execute(_bstr_t(
        ("UPDATE " + table + " SET " + column + " = '" + text + "' WHERE " + where).c_str()));
    db->Close();
  }

  // Appends record cid of tblCrypt: xStr = "s-" + cid, then put(saver).
  template <class Put>
  void Append(const std::string& cid, Put&& put) {
    TestRecord record(kCrypt);
    record.Text(kCID, cid);
    std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kCrypt));
    ASSERT_TRUE(saver->OpenNew(record));
    saver->PutString(kCID, cid);
    saver->PutString(kXStr, "s-" + cid);
    put(static_cast<IDaoSaver&>(*saver));
    ASSERT_TRUE(saver->Close());
  }
  // The plain bytes of xDate and xStr of record cid (every typed read
  // follows from them).
  std::string Snapshot(const std::string& cid) {
    TestRecord record(kCrypt);
    record.Text(kCID, cid);
    std::unique_ptr<ILoader> loader = Db(0).CreateLoader(Rec(kCrypt));
    EXPECT_TRUE(loader->Open(record));
    std::string date, text;
    loader->GetString(kXDT, date);
    loader->GetString(kXStr, text);
    return cid + ": [" + date + "] [" + text + "]";
  }
  std::vector<std::string> Snapshots(const std::vector<std::string>& cids) {
    std::vector<std::string> out;
    for (const std::string& cid : cids) out.push_back(Snapshot(cid));
    return out;
  }
  LONG Rows() { return RawLong("SELECT Count(*) AS n FROM tblCrypt"); }
};

// Through the data model, both databases (both in format 1.1): with empty
// tables the walk updates nothing; filled, every encrypted text is rewritten
// under the new key with the new salt, and only those; a change to the
// secret in force keeps the salt and still gives new texts. The same object
// reads everything at once, another object under the new secret too, under
// the old one nothing.
TEST_F(SecretTest, ChangeSecretRewritesEveryValueUnderTheNewKeyOnly) {
  Db(1).SetDriverVersion(DaoDatabase::kDriverVersion11);
  SetSecretEverywhere(kSecretA, sizeof kSecretA);
  m_pModel->ChangeSecret(nullptr, 0, kSecretA, sizeof kSecretA, nullptr, 0);
  EXPECT_EQ(Traces(), 0u);
  Populate();
  const std::vector<std::string> plain = Plain(), before = Stored();
  int texts = 0;
  for (const std::string& s : before) texts += s.size() >= 40 ? 1 : 0;
  EXPECT_EQ(texts, kRows * 4 - kRows / 10 * 2 + kRows - kRows / 10 + 2);

  m_pModel->ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, kRandom2, sizeof kRandom2);
  EXPECT_EQ(Plain(), plain);
  const std::vector<std::string> after = Stored();
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t k = 0; k < before.size(); ++k) {
    if (before[k].size() >= 40) {
      EXPECT_NE(after[k], before[k]) << k;
      EXPECT_EQ(after[k].substr(0, 10), "CQkICAcHBg") << "the new salt " << k;
    } else {
      EXPECT_EQ(after[k], before[k]) << "ids, plain columns and NULLs stay " << k;
    }
  }
  m_pModel->ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, nullptr, 0);
  const std::vector<std::string> again = Stored();
  for (std::size_t k = 0; k < after.size(); ++k) {
    if (after[k].size() < 40) continue;
    EXPECT_NE(again[k], after[k]) << k;
    EXPECT_EQ(again[k].substr(0, 10), after[k].substr(0, 10)) << "the same salt " << k;
  }
  EXPECT_EQ(Plain(), plain);

  Reopen(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Plain(), plain);
  Reopen(kSecretA, sizeof kSecretA);
  for (const std::string& text : Plain())
    if (text != "-") {
      EXPECT_EQ(text, kIllegalMac);
    }
}

// A walk that fails leaves every stored text, both key states and the salt
// as they were. In a model, database 1's walk failing after database 0's
// was done: neither commits. In one database, a value in the middle of its
// table (some rows rewritten before it).
TEST_F(SecretTest, FailureHalfWayLeavesEveryValueAndBothKeysAsTheyWere) {
  Db(1).SetDriverVersion(DaoDatabase::kDriverVersion11);
  SetSecretEverywhere(kSecretA, sizeof kSecretA);
  Populate();
  const std::vector<std::string> plain = Plain();
  Tamper(false, "tblOther", "OSecret", "OID = 2");
  std::vector<std::string> before = Stored();
  EXPECT_EQ(EXPECT_VEM_ERROR(m_pModel->ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, kRandom2,
                                                    sizeof kRandom2),
                             0),
            kIllegalMac);
  EXPECT_EQ(Stored(), before);
  std::vector<std::string> expected = plain;
  expected[kRows * 4 + 2] = kIllegalMac;
  EXPECT_EQ(Plain(), expected);

  Tamper(true, "tblCrypt", "xStr", "CID = '" + Cid(kRows / 2) + "'");
  before = Stored();
  EXPECT_EQ(EXPECT_VEM_ERROR(Db(0).ChangeSecret(kSecretA, sizeof kSecretA, kSecretB,
                                                sizeof kSecretB, kRandom2, sizeof kRandom2),
                             0),
            kIllegalMac);
  EXPECT_EQ(Stored(), before);
  expected[kRows / 2 * 4] = kIllegalMac;
  EXPECT_EQ(Plain(), expected);
  // Written now: under the old key, with the old salt.
  {
    DaoRecordsetStrategy a(Db(0), Rec(kCrypt));
    a.Filter("{20} = 'c004'");
    a.Open();
    a.BeginUpdate().PutString(kXStr, "written after the failure");
    a.FinishUpdate();
    a.Close();
  }
  const std::vector<std::string> after = Stored();
  EXPECT_EQ(after[4 * 5 + 1].substr(0, 10), "AQIDBAUGBw") << "the old salt";
  for (std::size_t k = 0; k < before.size(); ++k)
    if (k != 4 * 5 + 1) {
      EXPECT_EQ(after[k], before[k]) << k;
    }
  Reopen(kSecretA, sizeof kSecretA);
  expected[4 * 4] = "written after the failure";
  EXPECT_EQ(Plain(), expected);
  Reopen(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Plain()[4 * 4], kIllegalMac);
}

// Both databases in format 1.0 (tblOther's id column "OID" is a name of the
// rowid: its table goes to the engine walk, tblCrypt to the direct one): the
// upgrade rewrites every value with a MAC (an empty text stored as NULL
// becomes the empty text's cipher text) and records the version; only the
// known target version is taken, once.
TEST_F(SecretTest, UpgradeRewritesEveryValueInFormat11AndRecordsTheVersion) {
  Db(0).SetDriverVersion(DaoDatabase::kDefaultVersion);
  SetSecretEverywhere(kSecretA, sizeof kSecretA);
  Populate();
  const std::vector<std::string> plain = Plain(), before = Stored();
  EXPECT_FALSE(Db(1).UpgradeDriverVersion(0x01020000));  // no such format
  m_pModel->UpgradeDriverVersion(0);
  for (LONG lDb : {0, 1}) {
    EXPECT_EQ(Db(lDb).GetDriverVersion(), DaoDatabase::kDriverVersion11);
    EXPECT_EQ(Db(lDb).GetTargetDriverVersion(), DaoDatabase::kDriverVersion11);
    EXPECT_FALSE(Db(lDb).UpgradeDriverVersion(0));
  }
  const std::vector<std::string> after = Stored();
  ASSERT_EQ(after.size(), before.size());
  const std::size_t other = 5 * kRows + 6;  // tblOther's first column
  for (std::size_t k = 0; k < after.size(); ++k) {
    const bool bString = k < 5 * kRows ? k % 5 == 1 : k >= other && (k - other) % 2 == 1;
    if (before[k] == "<null>" && bString)
      EXPECT_EQ(after[k].size(), 40u) << k;
    else if (before[k].size() >= 16)
      EXPECT_GE(after[k].size(), before[k].size() + 20) << "the MAC was added " << k;
    else
      EXPECT_EQ(after[k], before[k]) << k;
  }
  Reopen(kSecretA, sizeof kSecretA);
  EXPECT_EQ(Db(0).GetDriverVersion(), DaoDatabase::kDriverVersion11);
  std::vector<std::string> expected = plain;
  for (std::size_t k = 0; k < expected.size(); ++k)
    if (expected[k] == "-" && (k >= kRows * 4 || k % 4 == 0)) expected[k] = "";
  EXPECT_EQ(Plain(), expected);
}

// Format 1.0 (the bytes of any value survive the walks to the bit: the
// change of secret test): texts that format 1.0 cannot decode (no Base64;
// shorter than the header) read as no bytes, before and after a change of
// secret and the upgrade. The walk runs straight on SQLite for values as the
// driver writes them and leaves a table with anything else to the engine's
// recordset walk, which treats it as it always has: a stored text that is
// no ASCII (format 1.0: no value, rewritten as its empty text) and a value
// whose new text does not fit its column (the upgrade fails with the
// engine's error and changes nothing: values, version and target version;
// values written after are still in format 1.0).
TEST_F(SecretTest, OddValuesOfFormat10SurviveChangeAndUpgrade) {
  Db(0).SetDriverVersion(DaoDatabase::kDefaultVersion);
  SetSecret(kSecretA, sizeof kSecretA);
  Append("valid", [](IDaoSaver& s) { s.PutDouble(kXDT, 36526.123456789012); });
  Append("text", [](IDaoSaver& s) { s.PutVariant(kXDT, _variant_t("no date!")); });
  Append("garbage", [](IDaoSaver&) {});
  Append("short", [](IDaoSaver&) {});
  Db(0).GetEngineDatabase().Execute(
      "UPDATE tblCrypt SET xDate = '%%% not base64' WHERE CID = 'garbage'");
  Db(0).GetEngineDatabase().Execute("UPDATE tblCrypt SET xDate = 'QUJD' WHERE CID = 'short'");
  std::vector<std::string> cids = {"valid", "text", "garbage", "short"};
  std::vector<std::string> expected = Snapshots(cids);
  EXPECT_EQ(expected[2], "garbage: [] [s-garbage]");
  ChangeSecret(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Snapshots(cids), expected);

  Append("odd", [](IDaoSaver& s) { s.PutDouble(kXDT, 2.5); });
  Db(0).GetEngineDatabase().Execute("UPDATE tblCrypt SET xStr = 'caf\xC3\xA9' WHERE CID = 'odd'");
  cids.push_back("odd");
  expected = Snapshots(cids);
  ChangeSecret(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Snapshots(cids), expected);
  // 20 bytes: 44 characters in format 1.0, 64 in 1.1, for a TEXT(48).
  Append("long", [](IDaoSaver& s) { s.PutVariant(kXDT, _variant_t("twenty bytes of text")); });
  EXPECT_VEM_ERROR(Db(0).UpgradeDriverVersion(0), 0x800A0C5B);
  EXPECT_EQ(Db(0).GetDriverVersion(), DaoDatabase::kDefaultVersion);
  EXPECT_EQ(Db(0).GetTargetDriverVersion(), DaoDatabase::kDefaultVersion);
  EXPECT_EQ(Snapshots(cids), expected);
  Append("later", [](IDaoSaver& s) { s.PutVariant(kXDT, _variant_t("twenty bytes of text")); });
  const _variant_t later =
      RawValue(MainPath(), ";PWD=pw0", "SELECT xDate FROM tblCrypt WHERE CID = 'later'", "xDate");
  EXPECT_EQ(SysStringLen(later.bstrVal), 44u) << "format 1.0";
  Db(0).GetEngineDatabase().Execute("DELETE FROM tblCrypt WHERE CID IN ('long', 'later')");
  EXPECT_TRUE(Db(0).UpgradeDriverVersion(0));
  EXPECT_EQ(Snapshots(cids), expected);
  Reopen(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Snapshots(cids), expected) << "read by another object under the new secret";
}

// Another process changes the secret while this one still holds the old
// key: this one's writes of encrypted values (appends, updates, a change of
// secret) are refused inside their transactions and store nothing; with
// the secret in force it writes again, and everything reads.
TEST_F(SecretTest, WriterWithAStaleKeyIsRefusedAndWritesNothing) {
  SetSecret(kSecretA, sizeof kSecretA);
  Append("before", [](IDaoSaver& s) { s.PutLong(kXL, 1); });
  // The first change records the key in force; this process follows it.
  ChangeSecret(kSecretA, sizeof kSecretA);
  Append("own", [](IDaoSaver& s) { s.PutLong(kXL, 2); });

  vemtest::ChildProcess child([this](const vemtest::ChannelEnd&) {
    TestCallback callback;
    DefineStandardModel(callback);
    vemtest::RecordingBackChannel backChannel{0};
    SDM model(&backChannel, &callback);
    DaoDatabase& db = static_cast<DaoDatabase&>(model.GetDatabase(0));
    db.SetSecret(kSecretA, sizeof kSecretA, nullptr, 0);
    db.ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, nullptr, 0);
    return 0;
  });
  ASSERT_EQ(child.Wait(), 0);

  const LONG lRows = Rows();
  const std::string text =
      EXPECT_VEM_ERROR(Append("stale", [](IDaoSaver& s) { s.PutLong(kXL, 3); }), kVemErrStaleKey);
  EXPECT_NE(text.find("changed by another client"), std::string::npos) << text;
  EXPECT_EQ(Rows(), lRows) << "the refused append stored nothing";
  {
    DaoRecordsetStrategy strategy(Db(0), Rec(kCrypt));
    strategy.Open();
    strategy.BeginUpdate().PutLong(kXL, 4);
    EXPECT_VEM_ERROR(strategy.FinishUpdate(), kVemErrStaleKey);
    strategy.Close();
  }
  EXPECT_VEM_ERROR(ChangeSecret(kSecretC, sizeof kSecretC), kVemErrStaleKey);

  SetSecret(kSecretB, sizeof kSecretB);
  Append("fresh", [](IDaoSaver& s) { s.PutLong(kXL, 5); });
  EXPECT_EQ(Rows(), lRows + 1);
  Reopen(kSecretB, sizeof kSecretB);
  for (const auto& [cid, lValue] :
       std::vector<std::pair<std::string, LONG>>{{"before", 1}, {"own", 2}, {"fresh", 5}}) {
    TestRecord record(kCrypt);
    record.Text(kCID, cid);
    std::unique_ptr<ILoader> loader = Db(0).CreateLoader(Rec(kCrypt));
    ASSERT_TRUE(loader->Open(record));
    LONG l = 0;
    loader->GetLong(kXL, l);
    EXPECT_EQ(l, lValue) << cid;
    std::string s;
    loader->GetString(kXStr, s);
    EXPECT_EQ(s, "s-" + cid);
  }
}

// A driver version whose format this driver does not know: encrypted values
// are neither read (as "" or untouched numbers) nor written.
TEST_F(SecretTest, UnknownDriverVersionRefusesEncryptedValues) {
  SetSecret(kSecretA, sizeof kSecretA);
  Append("known", [](IDaoSaver& s) { s.PutLong(kXL, 7); });
  Db(0).SetDriverVersion(0x02000000);
  Reopen(kSecretA, sizeof kSecretA);
  ASSERT_EQ(Db(0).GetDriverVersion(), 0x02000000u);
  TestRecord record(kCrypt);
  record.Text(kCID, "known");
  std::unique_ptr<ILoader> loader = Db(0).CreateLoader(Rec(kCrypt));
  ASSERT_TRUE(loader->Open(record));
  std::string text = "untouched";
  const std::string error = EXPECT_VEM_ERROR(loader->GetString(kXStr, text), E_INVALIDARG);
  EXPECT_NE(error.find("0x02000000"), std::string::npos) << error;
  EXPECT_NE(error.find("tblCrypt"), std::string::npos) << error;
  LONG l = 99;
  EXPECT_VEM_ERROR(loader->GetLong(kXL, l), E_INVALIDARG);
  EXPECT_EQ(l, 99);
  loader->Close();
  const LONG lRows = Rows();
  EXPECT_VEM_ERROR(Append("new", [](IDaoSaver&) {}), E_INVALIDARG);
  EXPECT_EQ(Rows(), lRows);
}

}  // namespace
}  // namespace drivertest
