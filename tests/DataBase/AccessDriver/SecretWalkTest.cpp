// The re-encryption walk on awkward content, and the guard of writes by the
// key in force, on the driver's standard files (DriverFixture.h):
// - values that are no valid value of their field's type (a double written
//   into a date field, a text into a number field, undecodable format 1.0
//   texts) survive a change of secret and an upgrade byte for byte;
// - a table listed by two record definitions, and a generic model's query
//   that shows an encrypted column, are rewritten once, as tables;
// - a client whose key is stale (another process changed the secret) can
//   neither write encrypted values nor change the secret;
// - a database whose driver version names no known format refuses to read
//   and write encrypted values.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "DataBase/AccessDriver/GADM.h"
#include "DriverFixture.h"
#include "Support/ChildProcess.h"
#include "Support/DatabaseFixture.h"

namespace drivertest {
namespace {

using vemtest::TestRecord;

const BYTE kSecretA[] = {'a', 'l', 'p', 'h', 'a'};
const BYTE kSecretB[] = {'b', 'r', 'a', 'v', 'o', '!'};
const BYTE kSecretC[] = {'c'};
constexpr LONG kCryptAgain = 4;  // a second record definition over tblCrypt

std::string Str(const DateParts& p) {
  char text[64];
  std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u.%u", p.year, p.month, p.day, p.hour, p.minute,
                p.second, p.millisecond);
  return text;
}

class SecretWalkTest : public DriverTest {
 protected:
  // The standard model plus record definition 4 over tblCrypt again (id
  // field CID, xStr and xDate): the walk must rewrite that table once.
  void BuildModelWithSecondView() {
    if (!m_bSecondView) {
      m_bSecondView = true;
      const TestCallback::Step standard = m_callback.recordDefs;
      m_callback.recordDefs = [standard](IComStaticDataModelCreator* c) {
        standard(c);
        c->AddRecordDef(kCryptAgain, _bstr_t("tblCrypt"), 0);
        c->AddFieldToRecordDef(kCryptAgain, kCID, VARIANT_TRUE, VARIANT_FALSE);
        c->AddFieldToRecordDef(kCryptAgain, kXStr, VARIANT_FALSE, VARIANT_FALSE);
        c->AddFieldToRecordDef(kCryptAgain, kXDT, VARIANT_FALSE, VARIANT_FALSE);
        return S_OK;
      };
    }
    BuildModel();
  }
  bool m_bSecondView = false;

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

  // Everything the loader makes of xDate and xStr of record cid: the double
  // (bits), the date parts, the text, the string.
  std::string Snapshot(const std::string& cid) {
    TestRecord record(kCrypt);
    record.Text(kCID, cid);
    std::unique_ptr<ILoader> loader = Db(0).CreateLoader(Rec(kCrypt));
    EXPECT_TRUE(loader->Open(record));
    double d = std::bit_cast<double>(std::uint64_t{0x7FF8DEADBEEF0001});
    loader->GetDouble(kXDT, d);
    DateParts parts;
    parts.year = 1234;
    loader->GetDate(kXDT, parts);
    _variant_t v;
    static_cast<IDaoLoader&>(*loader).GetVariant(kXDT, v);
    std::string text;
    loader->GetString(kXStr, text);
    char bits[32];
    std::snprintf(bits, sizeof bits, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(d)));
    return cid + ": " + bits + " | " + Str(parts) + " | " + static_cast<const char*>(_bstr_t(v)) +
           " | " + text;
  }
  std::vector<std::string> Snapshots(const std::vector<std::string>& cids) {
    std::vector<std::string> out;
    for (const std::string& cid : cids) out.push_back(Snapshot(cid));
    return out;
  }

  void SetSecret(const BYTE* pSecret, ULONG ulLength) {
    Db(0).SetSecret(pSecret, ulLength, nullptr, 0);
  }
  void ChangeSecret(const BYTE* pSecret, ULONG ulLength) {
    Db(0).ChangeSecret(nullptr, 0, pSecret, ulLength, nullptr, 0);
  }

  LONG Rows() { return RawLong("SELECT Count(*) AS n FROM tblCrypt"); }
};

// Values that are no valid value of their field's type, in either format:
// a change of secret (and, from format 1.0, the upgrade) rewrites each one's
// stored bytes, so every read gives what it gave before, to the bit.
TEST_F(SecretWalkTest, EveryStoredValueSurvivesChangeAndUpgradeExactly) {
  // Each round starts with the secret that the round before left in force.
  for (const bool bFormat10 : {false, true}) {
    SCOPED_TRACE(bFormat10 ? "format 1.0" : "format 1.1");
    const BYTE* pFrom = bFormat10 ? kSecretB : kSecretA;
    const ULONG ulFrom = bFormat10 ? sizeof kSecretB : sizeof kSecretA;
    const BYTE* pTo = bFormat10 ? kSecretA : kSecretB;
    const ULONG ulTo = bFormat10 ? sizeof kSecretA : sizeof kSecretB;
    BuildModelWithSecondView();
    Db(0).GetEngineDatabase().Execute("DELETE FROM tblCrypt");
    Db(0).SetDriverVersion(bFormat10 ? DaoDatabase::kDefaultVersion
                                     : DaoDatabase::kDriverVersion11);
    SetSecret(pFrom, ulFrom);
    std::vector<std::string> cids;
    struct Case {
      const char* cid;
      double d;  // NaN: the value is a text
    };
    const Case cases[] = {{"above", 1e9},
                          {"below", -1e7},
                          {"nan", std::numeric_limits<double>::quiet_NaN()},
                          {"submilli", 36526.123456789012},
                          {"text", std::nan("")}};
    for (const Case& c : cases) {
      cids.push_back(c.cid);
      Append(c.cid, [&](IDaoSaver& s) {
        if (std::string(c.cid) == "text") {
          s.PutVariant(kXDT, _variant_t("no date!"));  // 8 bytes: fits TEXT(48)
        } else {
          s.PutDouble(kXDT, c.d);
        }
      });
    }
    Append("valid", [](IDaoSaver& s) {
      DateParts p;
      p.year = 2024, p.month = 2, p.day = 29, p.hour = 23, p.minute = 59, p.second = 58;
      p.millisecond = 999;
      s.PutDate(kXDT, p);
    });
    cids.push_back("valid");
    if (bFormat10) {
      // Texts that format 1.0 cannot decode (no Base64; shorter than the
      // header) read as no bytes, before and after.
      Append("garbage", [](IDaoSaver&) {});
      Append("short", [](IDaoSaver&) {});
      Db(0).GetEngineDatabase().Execute(
          "UPDATE tblCrypt SET xDate = '%%% not base64' WHERE CID = 'garbage'");
      Db(0).GetEngineDatabase().Execute("UPDATE tblCrypt SET xDate = 'QUJD' WHERE CID = 'short'");
      cids.push_back("garbage");
      cids.push_back("short");
    }
    const std::vector<std::string> before = Snapshots(cids);

    ChangeSecret(pTo, ulTo);
    EXPECT_EQ(Snapshots(cids), before);
    if (bFormat10) {
      EXPECT_TRUE(Db(0).UpgradeDriverVersion(0));
      EXPECT_EQ(Snapshots(cids), before);
    }
    m_pModel.reset();
    BuildModelWithSecondView();
    SetSecret(pTo, ulTo);
    EXPECT_EQ(Snapshots(cids), before) << "read by another object under the new secret";
    m_pModel.reset();
  }
}

// The walk runs straight on SQLite for values as the driver writes them and
// leaves a table with anything else to the engine's recordset walk, which
// treats it as it always has: a stored text that is no ASCII (format 1.0:
// no value, rewritten as its empty text) and a value whose new text does not
// fit its column (the upgrade fails with the engine's error and changes
// nothing).
TEST_F(SecretWalkTest, ValuesOutOfTheOrdinaryAreLeftToTheEngineWalk) {
  BuildModelWithSecondView();
  Db(0).SetDriverVersion(DaoDatabase::kDefaultVersion);
  SetSecret(kSecretA, sizeof kSecretA);
  Append("plain", [](IDaoSaver& s) { s.PutDouble(kXDT, 2.5); });
  Append("odd", [](IDaoSaver&) {});
  Db(0).GetEngineDatabase().Execute("UPDATE tblCrypt SET xStr = 'caf\xC3\xA9' WHERE CID = 'odd'");
  const std::vector<std::string> cids = {"plain", "odd"};
  const std::vector<std::string> before = Snapshots(cids);

  ChangeSecret(kSecretB, sizeof kSecretB);
  EXPECT_EQ(Snapshots(cids), before);

  // 20 bytes: 44 characters in format 1.0, 64 in 1.1, for a TEXT(48).
  Append("long", [](IDaoSaver& s) { s.PutVariant(kXDT, _variant_t("twenty bytes of text")); });
  const std::vector<std::string> all = {"plain", "odd", "long"};
  const std::vector<std::string> beforeUpgrade = Snapshots(all);
  EXPECT_VEM_ERROR(Db(0).UpgradeDriverVersion(0), 0x800A0C5B);
  EXPECT_EQ(Db(0).GetDriverVersion(), DaoDatabase::kDefaultVersion);
  EXPECT_EQ(Snapshots(all), beforeUpgrade);
}

// A generic model whose "DM" query shows the encrypted column of a "DM"
// table: the query's rows are the table's, rewritten once through the
// table (the query's name is in no stored value's MAC).
TEST_F(SecretWalkTest, GenericModelWithAQueryOverAnEncryptedColumnChangesItsSecret) {
  const std::string path = m_dir.File("generic.vdb");
  {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(path, "pw");
    vemtest::AddTable(*pDb, {"tblSecret",
                             {{"ID", dao::dbLong, 0, false, {}, {}},
                              {"Secret", dao::dbText, 252, false, "CRYPT STRING", {}}},
                             {"ID"},
                             "DM secrets",
                             {}});
    vemtest::AddQuery(*pDb, {"qrySecret",
                             "SELECT ID, Secret FROM tblSecret",
                             "DM secrets seen through a query",
                             {},
                             {{"ID", "ID"}},
                             {}});
    vemtest::SetLongProperty(*pDb, "vemDriverVersion", 0x01010000);
    pDb->Close();
  }
  auto write = [](GADM& model, LONG lID, const std::string& text) {
    IDatabase& db = model.GetDatabase(0);
    TestRecord record(0);
    record.Long(0, lID);
    std::unique_ptr<ISaver> saver = db.CreateSaver(model.GetRecordDef(0));
    ASSERT_TRUE(saver->OpenNew(record));
    saver->PutLong(0, lID);
    saver->PutString(1, text);
    ASSERT_TRUE(saver->Close());
  };
  auto read = [](GADM& model, LONG lID) {
    TestRecord record(0);
    record.Long(0, lID);
    std::unique_ptr<ILoader> loader = model.GetDatabase(0).CreateLoader(model.GetRecordDef(0));
    EXPECT_TRUE(loader->Open(record));
    std::string text;
    loader->GetString(1, text);
    return text;
  };
  {
    GADM model(&m_backChannel, path, "pw");
    ASSERT_EQ(model.GetRecordDef(1).m_name, "qrySecret");
    model.GetDatabase(0).SetSecret(kSecretA, sizeof kSecretA, nullptr, 0);
    for (LONG l = 1; l <= 3; ++l) write(model, l, "secret " + std::to_string(l));
    model.GetDatabase(0).ChangeSecret(nullptr, 0, kSecretB, sizeof kSecretB, nullptr, 0);
  }
  GADM model(&m_backChannel, path, "pw");
  model.GetDatabase(0).SetSecret(kSecretB, sizeof kSecretB, nullptr, 0);
  for (LONG l = 1; l <= 3; ++l) EXPECT_EQ(read(model, l), "secret " + std::to_string(l));
}

// Another process changes the secret while this one still holds the old
// key: this one's writes of encrypted values (appends, updates, a change of
// secret) are refused inside their transactions and store nothing; with
// the secret in force it writes again, and everything reads.
TEST_F(SecretWalkTest, WriterWithAStaleKeyIsRefusedAndWritesNothing) {
  BuildModel();
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
  m_pModel.reset();
  BuildModel();
  SetSecret(kSecretB, sizeof kSecretB);
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
TEST_F(SecretWalkTest, UnknownDriverVersionRefusesEncryptedValues) {
  BuildModel();
  SetSecret(kSecretA, sizeof kSecretA);
  Append("known", [](IDaoSaver& s) { s.PutLong(kXL, 7); });
  Db(0).SetDriverVersion(0x02000000);
  m_pModel.reset();
  BuildModel();
  ASSERT_EQ(Db(0).GetDriverVersion(), 0x02000000u);
  SetSecret(kSecretA, sizeof kSecretA);
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
