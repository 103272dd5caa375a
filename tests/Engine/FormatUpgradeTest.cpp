// Currency as SQL sees it, and files of format 1 (Currency scaled by 10,000)
// read as they are and converted when opened for writing.
#include <sqlite3.h>

#include <cstdio>

#include "EngineTestSupport.h"

namespace {

using namespace enginetest;
using dao::RecordsetPtr;

// The scaled value of a Currency variant (-1 when it is not one).
std::int64_t Scaled(const _variant_t& v) {
  return v.vt == VT_CY ? v.cyVal.int64 : -1;
}

_variant_t Cy(std::int64_t scaled) {
  CY cy;
  cy.int64 = scaled;
  return _variant_t(cy);
}

std::string RawText(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* s = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW)
    out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
  sqlite3_finalize(s);
  sqlite3_close(db);
  return out;
}

TEST_F(EngineTest, CurrencyIsTheAmountInCriteriaAggregatesAndExecute) {
  auto db = CreateCustomers();  // Ann 10.5, Bob 20, Cid 30
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  rs->FindFirst("Amount = 10.5");
  ASSERT_FALSE(rs->GetNoMatch());
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
  EXPECT_EQ(Scaled(rs->GetCollect("Amount")), 105000);
  RecordsetPtr sum = db->OpenRecordset("SELECT Sum(Amount) AS s FROM Customers");
  EXPECT_DOUBLE_EQ(static_cast<double>(sum->GetCollect("s")), 60.5);
  db->Execute("UPDATE Customers SET Amount = Amount + 1 WHERE Name = 'Ann'");
  rs->Requery();
  EXPECT_EQ(Scaled(rs->GetCollect("Amount")), 115000);
  // Every 4-place amount below 2^39 comes back exactly; larger ones are refused.
  const std::int64_t kMax = 5497558138880000 - 1;
  for (std::int64_t scaled : {std::int64_t{1}, std::int64_t{-1}, std::int64_t{123456789},
                              std::int64_t{9223372036}, kMax, -kMax, kMax - 12345}) {
    rs->AddNew();
    rs->PutCollect("Amount", Cy(scaled));
    rs->Update();
    // Criteria find it by its amount written as a literal.
    const std::int64_t a = scaled < 0 ? -scaled : scaled;
    char literal[48];
    std::snprintf(literal, sizeof literal, "%s%lld.%04lld", scaled < 0 ? "-" : "",
                  static_cast<long long>(a / 10000), static_cast<long long>(a % 10000));
    RecordsetPtr back = db->OpenRecordset(
        _bstr_t((std::string("SELECT Amount FROM Customers WHERE Amount = ") + literal).c_str()));
    ASSERT_FALSE(back->GetEOF()) << literal;
    EXPECT_EQ(Scaled(back->GetCollect("Amount")), scaled);
  }
  rs->AddNew();
  EXPECT_DAO_ERROR(rs->PutCollect("Amount", Cy(kMax + 1)), 3421);
  EXPECT_DAO_ERROR(rs->PutCollect("Amount", 1e12), 3421);
  rs->CancelUpdate();
}

class FormatOne : public EngineTest {
 protected:
  // A file as format 1 left it: Currency columns of INTEGER affinity (one
  // added by ALTER TABLE) holding amounts x 10,000, and a Currency property.
  void SetUp() override {
    Create("old.vdb")->Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("old.vdb").c_str(), &db), SQLITE_OK);
    const char* sql =
        "CREATE TABLE \"Old\" (\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT, \"Name\" TEXT, "
        "\"Amount\" INTEGER);"
        "ALTER TABLE \"Old\" ADD COLUMN \"Extra\" INTEGER;"
        "INSERT INTO MSysColumns VALUES ('Old', 'ID', 0, 4, 4, 17, 0), "
        "('Old', 'Name', 1, 10, 20, 2, 0), ('Old', 'Amount', 2, 5, 8, 1, 0), "
        "('Old', 'Extra', 3, 5, 8, 1, 0);"
        "INSERT INTO MSysIndexes VALUES ('Old', 'PrimaryKey', NULL, 1, 1, 1, 'ID');"
        "INSERT INTO Old (Name, Amount, Extra) VALUES ('Ann', 105000, 10000), ('Bob', 200000, "
        "NULL);"
        "INSERT INTO MSysProperties VALUES (1, 'Old', '', 'Limit', 5, 123456);"
        "UPDATE MSysInfo SET Value = 'VemEngine 1' WHERE Key = 'Format';";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  void ExpectAmounts(const dao::DatabasePtr& db) {
    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Old ORDER BY ID");
    EXPECT_EQ(Scaled(rs->GetCollect("Amount")), 105000);
    EXPECT_EQ(Scaled(rs->GetCollect("Extra")), 10000);
    rs->MoveNext();
    EXPECT_EQ(Scaled(rs->GetCollect("Amount")), 200000);
    auto limit = db->GetTableDefs()->GetItem("Old")->GetProperties()->GetItem("Limit");
    EXPECT_EQ(Scaled(limit->GetValue()), 123456);
  }
};

TEST_F(FormatOne, ReadOnlyOpensReadTheScaledAmountsAndChangeNothing) {
  auto db = m_engine->OpenDatabase(_bstr_t(Path("old.vdb").c_str()), _variant_t(false),
                                   _variant_t(true), _variant_t(""));
  ExpectAmounts(db);
  db->Close();
  EXPECT_EQ(RawText(Path("old.vdb"), "SELECT Value FROM MSysInfo WHERE Key = 'Format'"),
            "VemEngine 1");
}

TEST_F(FormatOne, OpeningForWritingConvertsTheCurrencyOnce) {
  for (int open = 0; open < 2; ++open) {  // the second open finds it converted
    auto db = Open("old.vdb");
    ExpectAmounts(db);
    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Old");
    rs->FindFirst("Amount = 20");
    ASSERT_FALSE(rs->GetNoMatch()) << "open " << open;
    EXPECT_EQ(Text(rs->GetCollect("Name")), "Bob");
    RecordsetPtr sum = db->OpenRecordset("SELECT Sum(Amount) AS s FROM Old");
    EXPECT_DOUBLE_EQ(static_cast<double>(sum->GetCollect("s")), 30.5);
    db->Close();
  }
  const std::string path = Path("old.vdb");
  EXPECT_EQ(RawText(path, "SELECT Value FROM MSysInfo WHERE Key = 'Format'"), "VemEngine 2");
  EXPECT_EQ(RawText(path, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(RawText(path, "SELECT group_concat(typeof(Amount)) FROM Old"), "real,real");
  // Writes store amounts (10.0 stays REAL in the converted column).
  auto db = Open("old.vdb");
  db->Execute("INSERT INTO Old (Name, Amount) VALUES ('Cid', 10)");
  EXPECT_EQ(RawText(path, "SELECT typeof(Amount) || Amount FROM Old WHERE Name = 'Cid'"),
            "real10.0");
}

}  // namespace
