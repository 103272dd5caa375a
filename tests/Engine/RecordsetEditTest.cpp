// Dynaset edits: optimistic Edit/Update against other connections and
// processes, join rows, and Delete with DAO's position rules.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "Support/ChildProcess.h"

namespace {

using namespace enginetest;
using dao::DatabasePtr;
using dao::RecordsetPtr;

// Table Stock (ID counter key, Name, Qty, Active) with rows Ann 10, Bob 20, Cid 30.
DatabasePtr CreateStock(const dao::DBEnginePtr& engine, const std::string& path) {
  DatabasePtr db = engine->CreateDatabase(_bstr_t(path.c_str()), _bstr_t(""));
  db->Execute("CREATE TABLE Stock (ID COUNTER PRIMARY KEY, Name TEXT(20), Qty LONG, Active YESNO)");
  for (const char* row : {"('Ann', 10)", "('Bob', 20)", "('Cid', 30)"})
    db->Execute((std::string("INSERT INTO Stock (Name, Qty) VALUES ") + row).c_str());
  return db;
}

std::string Names(const RecordsetPtr& rs) {
  std::string out;
  for (rs->MoveFirst(); !rs->GetEOF(); rs->MoveNext()) {
    if (!out.empty()) out += ",";
    out += Text(rs->GetCollect("Name"));
  }
  return out;
}

// Between one user's Edit and Update another changes (or deletes) the row: the Update writes
// nothing, answers 3197 (3167 for a deleted row), drops the edit, and the record then shows
// what the other user stored.
TEST_F(EngineTest, AnUpdateNeverOverwritesAChangeMadeAfterItsEdit) {
  struct Case {
    const char* what;
    std::function<void(const DatabasePtr& other)> meanwhile;
    int error;  // 0: the Update goes through
    const char* nameAfter;
  };
  const std::vector<Case> cases = {
      {"another connection's Update",
       [](const DatabasePtr& o) { o->Execute("UPDATE Stock SET Name = 'Bea' WHERE ID = 2"); }, 3197,
       "Bea"},
      {"a change of case only (texts compare exactly here)",
       [](const DatabasePtr& o) { o->Execute("UPDATE Stock SET Name = 'BOB' WHERE ID = 2"); }, 3197,
       "BOB"},
      {"another recordset's Edit and Update",
       [](const DatabasePtr& o) {
         RecordsetPtr rs = o->OpenRecordset("SELECT * FROM Stock WHERE ID = 2");
         rs->Edit();
         rs->PutCollect("Active", true);
         rs->Update();
       },
       3197, "Bob"},
      {"a delete", [](const DatabasePtr& o) { o->Execute("DELETE FROM Stock WHERE ID = 2"); }, 3167,
       nullptr},
      {"a change of another row",
       [](const DatabasePtr& o) { o->Execute("UPDATE Stock SET Name = 'Al' WHERE ID = 1"); }, 0,
       "Bob"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto db = CreateStock(m_engine, Path("edit" + std::to_string(&c - cases.data()) + ".vdb"));
    DatabasePtr other = m_engine->OpenDatabase(db->GetName());
    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Stock WHERE ID >= 2 ORDER BY ID");
    rs->Edit();
    rs->PutCollect("Qty", 99L);
    c.meanwhile(other);
    if (c.error == 0) {
      rs->Update();
      EXPECT_EQ(Long(rs->GetCollect("Qty")), 99);
      continue;
    }
    try {
      rs->Update();
      ADD_FAILURE() << "Update did not fail";
    } catch (const _com_error& e) {
      EXPECT_EQ(DaoNumber(e), c.error) << Description(e);
      EXPECT_NE(Description(e).find("Stock"), std::string::npos) << Description(e);
      const std::string kDao3197 =
          "The database engine stopped the process because you and another user are attempting "
          "to change the same data at the same time.";
      if (c.error == 3197) {
        EXPECT_EQ(Description(e).rfind(kDao3197, 0), 0u) << Description(e);
      }
    }
    EXPECT_EQ(rs->GetEditMode(), 0);  // the edit is dropped
    RecordsetPtr check = other->OpenRecordset("SELECT Qty FROM Stock WHERE ID = 2");
    if (!c.nameAfter) {
      EXPECT_TRUE(check->GetEOF());
      EXPECT_DAO_ERROR(rs->GetCollect("Name"), 3167);
      continue;
    }
    EXPECT_EQ(Long(check->GetCollect("Qty")), 20);  // nothing written
    EXPECT_EQ(Text(rs->GetCollect("Name")), c.nameAfter);
    rs->Edit();  // editing again starts from the other user's values
    rs->PutCollect("Qty", 99L);
    rs->Update();
    EXPECT_EQ(Long(other->OpenRecordset("SELECT Qty FROM Stock WHERE ID = 2")->GetCollect("Qty")),
              99);
  }
}

// A join row writes its two base rows all or nothing: a change to either since Edit stops both.
TEST_F(EngineTest, AJoinRowUpdateWritesBothBaseRowsOrNeither) {
  auto db = CreateStock(m_engine, Path("test.vdb"));
  db->Execute("CREATE TABLE Orders (OrderID COUNTER PRIMARY KEY, CustID LONG, Units LONG)");
  db->Execute("INSERT INTO Orders (CustID, Units) VALUES (1, 5)");
  db->Execute("INSERT INTO Orders (CustID, Units) VALUES (2, 7)");
  auto other = Open();
  RecordsetPtr rs = db->OpenRecordset(
      "SELECT * FROM Stock INNER JOIN Orders ON Stock.ID = Orders.CustID ORDER BY OrderID");
  rs->Edit();
  rs->PutCollect("Name", "Anne");
  rs->PutCollect("Units", 6L);
  other->Execute("UPDATE Orders SET Units = 50 WHERE OrderID = 1");
  EXPECT_DAO_ERROR(rs->Update(), 3197);
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
  EXPECT_EQ(Long(rs->GetCollect("Units")), 50);

  // Moving a join row to another customer through its join column: the row stays the same two
  // base rows and reads their new values.
  rs->MoveNext();
  rs->Edit();
  rs->PutCollect("CustID", 3L);
  rs->PutCollect("Units", 8L);
  rs->Update();
  EXPECT_EQ(Long(rs->GetCollect("CustID")), 3);
  EXPECT_EQ(Long(rs->GetCollect("Units")), 8);
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Bob");
  rs->MoveFirst();
  rs->MoveLast();
  EXPECT_EQ(Long(rs->GetCollect("Units")), 8);
  rs->Edit();
  rs->PutCollect("Name", "Bobby");
  rs->Update();
  EXPECT_EQ(Text(other->OpenRecordset("SELECT Name FROM Stock WHERE ID = 2")->GetCollect("Name")),
            "Bobby");
}

// Another process changes the row: after the row was read (a transaction then begins and Edit
// must not serve the old value), and between Edit and Update.
TEST_F(EngineTest, AnotherProcessesChangeIsNeitherHiddenNorOverwritten) {
  const std::string path = Path("test.vdb");
  CreateStock(m_engine, path)->Close();
  // Forked before this process opens the file; each signal asks for one change.
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd& parent) {
    const char* changes[] = {"UPDATE Stock SET Qty = 40 WHERE ID = 1",
                             "UPDATE Stock SET Name = 'Ann C' WHERE ID = 1"};
    auto engine = dao::CreateDBEngine();
    for (const char* sql : changes) {
      if (parent.Receive() != 'g') return 2;
      engine->OpenDatabase(path.c_str())->Execute(sql);
      parent.Send('d');
    }
    return 0;
  });
  auto db = Open();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Stock WHERE ID = 1");
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
  child.channel().Send('g');
  ASSERT_EQ(child.channel().Receive(), 'd');
  db->BeginTrans();
  rs->Edit();
  rs->PutCollect("Qty", Long(rs->GetCollect("Qty")) + 1);
  rs->Update();
  db->CommitTrans();
  EXPECT_EQ(Long(Open()->OpenRecordset("SELECT Qty FROM Stock WHERE ID = 1")->GetCollect("Qty")),
            41);

  rs->Edit();
  rs->PutCollect("Name", "Ann B");
  child.channel().Send('g');
  ASSERT_EQ(child.channel().Receive(), 'd');
  db->BeginTrans();
  EXPECT_DAO_ERROR(rs->Update(), 3197);
  db->Rollback();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann C");
  EXPECT_EQ(child.Wait(), 0);
}

// Delete leaves no current record; moves skip deleted rows; RecordCount and AbsolutePosition
// count the live rows only.
TEST_F(EngineTest, DeletedRowsLeaveEveryPositionRuleIntact) {
  auto db = Create();
  db->Execute("CREATE TABLE T (ID COUNTER PRIMARY KEY, Name TEXT(10))");
  for (char c = 'a'; c <= 'h'; ++c)
    db->Execute((std::string("INSERT INTO T (Name) VALUES ('") + c + "')").c_str());
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM T ORDER BY ID");
  rs->MoveLast();
  for (LONG position : {0, 2, 3, 7}) {  // a, c, then d (next to a dead row), h (the last)
    rs->PutAbsolutePosition(position - (position > 0) - (position > 2) - (position > 3));
    rs->Delete();
    EXPECT_DAO_ERROR(rs->GetCollect("Name"), 3167);
    EXPECT_DAO_ERROR(rs->Delete(), 3167);
    EXPECT_DAO_ERROR(rs->GetAbsolutePosition(), 3167);
    EXPECT_FALSE(rs->GetBOF() || rs->GetEOF());
  }
  EXPECT_EQ(rs->GetRecordCount(), 4);
  rs->MoveNext();  // from the deleted last row
  EXPECT_TRUE(rs->GetEOF());
  rs->MovePrevious();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "g");
  EXPECT_EQ(rs->GetAbsolutePosition(), 3);
  rs->PutAbsolutePosition(1);
  EXPECT_EQ(Text(rs->GetCollect("Name")), "e");
  EXPECT_DAO_ERROR(rs->PutAbsolutePosition(4), 3001);
  rs->MovePrevious();
  rs->Delete();  // b
  rs->MovePrevious();
  EXPECT_TRUE(rs->GetBOF());
  EXPECT_EQ(Names(rs), "e,f,g");
  rs->MoveFirst();
  EXPECT_EQ(rs->GetAbsolutePosition(), 0);
  rs->AddNew();
  rs->PutCollect("Name", "i");
  rs->Update();
  EXPECT_EQ(Names(rs), "e,f,g,i");
  EXPECT_EQ(CountRows(db, "T"), 4);
  rs->MoveLast();
  EXPECT_EQ(rs->GetRecordCount(), 4);
  EXPECT_EQ(rs->GetAbsolutePosition(), 3);
  while (rs->GetRecordCount() > 0) {
    rs->MoveFirst();
    rs->Delete();
  }
  EXPECT_DAO_ERROR(rs->MoveFirst(), 3021);
  rs->MoveNext();
  EXPECT_TRUE(rs->GetBOF() && rs->GetEOF());
}

}  // namespace
