// The column rules on every write path and on reading, the names Jet
// accepts, and the guard on the engine's catalog.
#include <sqlite3.h>

#include <memory>

#include "EngineTestSupport.h"

namespace {

using namespace enginetest;
using dao::RecordsetPtr;

// A plain SQLite connection to a database file, as another tool has one.
struct RawDb {
  explicit RawDb(const std::string& path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
  }
  ~RawDb() { sqlite3_close(db); }
  // The result code of running `sql` (SQLITE_OK when it ran).
  int Run(const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  sqlite3* db = nullptr;
};

constexpr const char* kAllTypes =
    "CREATE TABLE t (ID COUNTER PRIMARY KEY, T TEXT(5), B BYTE, S SHORT, L LONG, Bo YESNO, "
    "Si SINGLE, C CURRENCY, D DATETIME, M MEMO, G GUID, Bin BINARY(4))";

TEST_F(EngineTest, EveryWritePathKeepsTheColumnRules) {
  auto db = Create();
  db->Execute(kAllTypes);
  db->Execute("INSERT INTO t (T, L) VALUES ('abc', 1)");
  struct Case {
    const char* sql;
    int error;          // 0: accepted
    const char* field;  // named by the error
  } cases[] = {
      {"INSERT INTO t (T) VALUES ('abcdefghijkl')", 3163, "T"},
      {"INSERT INTO t (T) VALUES ('abcde')", 0, nullptr},
      {"INSERT INTO t (L) VALUES (3000000000)", 3421, "L"},
      {"INSERT INTO t (L) VALUES (-2147483648)", 0, nullptr},
      {"INSERT INTO t (L) VALUES (2.5)", 3421, "L"},
      {"INSERT INTO t (S) VALUES (70000)", 3421, "S"},
      {"INSERT INTO t (B) VALUES (256)", 3421, "B"},
      {"INSERT INTO t (B) VALUES (-1)", 3421, "B"},
      {"INSERT INTO t (D) VALUES ('x')", 3421, "D"},
      {"INSERT INTO t (D) VALUES (#12/31/9999#)", 0, nullptr},
      {"INSERT INTO t (Bo) VALUES (1)", 3421, "Bo"},
      {"INSERT INTO t (Bo) VALUES (True)", 0, nullptr},
      {"UPDATE t SET Bo = (L = 1)", 0, nullptr},  // Jet's truth values are -1/0
      {"UPDATE t SET Bo = Not Bo", 0, nullptr},
      {"INSERT INTO t (Si) VALUES (1e39)", 3421, "Si"},
      {"INSERT INTO t (C) VALUES (549755813888)", 3421, "C"},
      {"INSERT INTO t (C) VALUES (-549755813887.9999)", 0, nullptr},
      {"INSERT INTO t (M) VALUES (12)", 0, nullptr},  // a number becomes text
      {"UPDATE t SET L = L * 3000000000", 3421, "L"},
      {"UPDATE t SET T = T & 'defgh'", 3163, "T"},
  };
  for (const auto& c : cases) {
    try {
      db->Execute(c.sql);
      EXPECT_EQ(c.error, 0) << c.sql << " was accepted";
    } catch (const _com_error& e) {
      EXPECT_EQ(DaoNumber(e), c.error) << c.sql << ": " << Description(e);
      if (c.field) {
        EXPECT_NE(Description(e).find("field '" + std::string(c.field) + "' of table 't'"),
                  std::string::npos)
            << Description(e);
      }
    }
  }
  // AddNew/Update get the constraint's answer for what their own conversion
  // lets through (a VT_DATE past 9999).
  RecordsetPtr adder = db->OpenRecordset("SELECT * FROM t");
  adder->AddNew();
  adder->PutCollect("D", _variant_t(3e6, VT_DATE));
  EXPECT_DAO_ERROR_TEXT(adder->Update(), 3421, "field 'D' of table 't'");
  adder->CancelUpdate();
  // A field added later carries its rules too.
  auto fields = db->GetTableDefs()->GetItem("t")->GetFields();
  fields->Append(
      db->GetTableDefs()->GetItem("t")->CreateField("Late", static_cast<LONG>(dao::dbInteger)));
  EXPECT_DAO_ERROR(db->Execute("UPDATE t SET Late = 40000"), 3421);
  // Another SQLite tool is held to the same rules, with SQLite's own functions.
  RawDb raw(Path("test.vdb"));
  EXPECT_EQ(raw.Run("INSERT INTO t (G) VALUES (x'0102')"), SQLITE_CONSTRAINT);
  EXPECT_EQ(raw.Run("INSERT INTO t (Bin) VALUES (x'0102030405')"), SQLITE_CONSTRAINT);
  EXPECT_EQ(raw.Run("INSERT INTO t (Bin, G) VALUES (x'01020304', randomblob(16))"), SQLITE_OK);
  EXPECT_EQ(raw.Run("INSERT INTO t (ID) VALUES (3000000000)"), SQLITE_CONSTRAINT);
  // The refused writes stored nothing: the first row keeps its values.
  RecordsetPtr rs = db->OpenRecordset("SELECT T, L FROM t ORDER BY ID");
  EXPECT_EQ(Text(rs->GetCollect("T")), "abc");
  EXPECT_EQ(Long(rs->GetCollect("L")), 1);
}

TEST_F(EngineTest, StoredValuesThatDoNotFitTheirFieldAreRefusedWhenRead) {
  auto db = Create();
  db->Execute(kAllTypes);
  db->Execute("INSERT INTO t (L) VALUES (1)");
  RawDb raw(Path("test.vdb"));
  ASSERT_EQ(raw.Run("PRAGMA ignore_check_constraints = ON"), SQLITE_OK);
  ASSERT_EQ(raw.Run("CREATE TABLE Loose (x INTEGER, b BOOLEAN)"), SQLITE_OK);
  ASSERT_EQ(raw.Run("INSERT INTO Loose VALUES (3000000000, 1)"), SQLITE_OK);
  struct Case {
    const char* field;
    const char* stored;  // an SQLite literal a format-unaware writer stored
  } cases[] = {
      {"L", "3000000000"}, {"S", "70000"}, {"B", "300"},   {"Bo", "1"},   {"L", "2.5"},
      {"D", "'x'"},        {"T", "x'00'"}, {"G", "x'01'"}, {"C", "1e15"}, {"Si", "1e300"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " = " + c.stored);
    ASSERT_EQ(raw.Run(std::string("UPDATE t SET ") + c.field + " = " + c.stored), SQLITE_OK);
    EXPECT_DAO_ERROR_TEXT(
        db->OpenRecordset(_bstr_t((std::string("SELECT ") + c.field + " FROM t").c_str()))
            ->GetCollect(c.field),
        3421, "field '" + std::string(c.field) + "'");
    ASSERT_EQ(raw.Run(std::string("UPDATE t SET ") + c.field + " = NULL"), SQLITE_OK);
  }
  // A table made without the engine keeps its loose typing.
  RecordsetPtr loose = db->OpenRecordset("SELECT x, b FROM Loose");
  EXPECT_DOUBLE_EQ(static_cast<double>(loose->GetCollect("x")), 3e9);
  EXPECT_EQ(Long(loose->GetCollect("b")), 1);
}

TEST_F(EngineTest, NamesJetRefusesAreRefusedAtCreation) {
  auto db = Create();
  db->Execute("CREATE TABLE Good (x LONG)");
  for (const char* name : {"a]b", "a[b", "a.b", "a!b", "a`b", " lead", "tab\there"}) {
    const std::string quoted = std::string("\"") + name + "\"";
    const std::string statements[] = {
        "CREATE TABLE " + quoted + " (x LONG)",
        "CREATE TABLE Other (" + quoted + " LONG)",
        "CREATE INDEX " + quoted + " ON Good (x)",
    };
    for (const auto& sql : statements)
      EXPECT_DAO_ERROR_TEXT(db->Execute(_bstr_t(sql.c_str())), 3125, std::string("'") + name + "'");
    EXPECT_DAO_ERROR(db->CreateQueryDef(name, "SELECT * FROM Good"), 3125);
    EXPECT_DAO_ERROR(
        db->GetTableDefs()->GetItem("Good")->GetFields()->Append(
            db->GetTableDefs()->GetItem("Good")->CreateField(name, static_cast<LONG>(dao::dbLong))),
        3125);
  }
  // Spaces inside, '#', '-' and non-ASCII letters stay valid, and every such
  // name can be addressed in Jet SQL.
  db->Execute("CREATE TABLE [Order Details #1] ([Unit-Price] CURRENCY, [Größe] LONG)");
  db->Execute("INSERT INTO [Order Details #1] ([Unit-Price], [Größe]) VALUES (1.5, 2)");
  RecordsetPtr rs =
      db->OpenRecordset("SELECT [Unit-Price] FROM [Order Details #1] WHERE [Größe] = 2");
  EXPECT_DOUBLE_EQ(static_cast<double>(rs->GetCollect("Unit-Price")), 1.5);
}

TEST_F(EngineTest, TheCatalogCannotBeWrittenThroughExecuteOrRecordsets) {
  auto db = Create("test.vdb", ";PWD=secret");
  db->Execute("CREATE TABLE t (ID COUNTER PRIMARY KEY, x LONG)");
  db->Execute("INSERT INTO t (x) VALUES (1)");
  for (const char* sql : {"DELETE FROM MSysInfo", "UPDATE MSysInfo SET [Value] = 'x'",
                          "DELETE FROM MSysColumns WHERE TableName = 't'",
                          "INSERT INTO MSysQueries (Name, SQL) VALUES ('q', 'x')",
                          "DELETE FROM sqlite_sequence", "UPDATE sqlite_master SET sql = ''"})
    EXPECT_DAO_ERROR_TEXT(db->Execute(sql), 3219, "catalog");
  RecordsetPtr info = db->OpenRecordset("SELECT * FROM MSysInfo");  // reading stays allowed
  ASSERT_FALSE(info->GetEOF());
  EXPECT_DAO_ERROR(info->Delete(), 3027);  // not a base table the recordset may write
  EXPECT_DAO_ERROR(db->Execute("DROP TABLE MSysInfo"), 3265);
  // The engine's own catalog writes still work, and the file still opens.
  db->Execute("CREATE INDEX ByX ON t (x)");
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM t");
  rs->AddNew();
  rs->PutCollect("x", 2L);
  rs->Update();
  db->Close();
  auto again = Open("test.vdb", ";PWD=secret");
  EXPECT_EQ(CountRows(again, "t"), 2);
}

}  // namespace
