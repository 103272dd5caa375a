// Engine behaviours across objects: error texts, transactions and cached
// values, AutoNumbers in transactions, joins, queries and collections.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <vector>

#include "EngineTestSupport.h"

namespace {

using namespace enginetest;
using dao::RecordsetPtr;

// Runs `action` and answers the DAO number and description it raised.
template <typename Fn>
std::pair<int, std::string> Raised(Fn&& action) {
  try {
    action();
  } catch (const _com_error& e) {
    return {DaoNumber(e), Description(e)};
  }
  return {0, ""};
}

TEST_F(EngineTest, EveryErrorNamesWhatFailed) {
  auto db = CreateCustomers();
  db->Execute("CREATE TABLE Small (ID COUNTER PRIMARY KEY, T TEXT(3), B BYTE)");
  db->Execute("INSERT INTO Small (T) VALUES ('x')");
  RecordsetPtr small = db->OpenRecordset("SELECT * FROM Small");
  RecordsetPtr customers = db->OpenRecordset("SELECT * FROM Customers");
  auto locker = Open();
  db->Core()->Conn().SetBusyTimeout(50);
  struct Case {
    const char* what;
    std::function<void()> action;
    int number;
    std::vector<std::string> mentions;
  } cases[] = {
      {"missing table", [&] { db->OpenRecordset("SELECT * FROM Nowhere"); }, 3078, {"Nowhere"}},
      {"unknown column",
       [&] { db->OpenRecordset("SELECT Bogus FROM Customers"); },
       3070,
       {"Bogus"}},
      {"syntax",
       [&] { db->OpenRecordset("SELECT * FROM Customers WHERE Name = = 1"); },
       3075,
       {"Name = = 1"}},
      {"having without groups",
       [&] { db->OpenRecordset("SELECT Count(*) AS n FROM Customers HAVING Count(*) > 1"); },
       3075,
       {"HAVING"}},
      {"locked by another connection",
       [&] {
         locker->BeginTrans();  // holds the write lock
         try {
           customers->AddNew();
         } catch (...) {
           locker->Rollback();
           throw;
         }
         locker->Rollback();
       },
       3218,
       {"AddNew", "Customers", "test.vdb"}},
      {"too long",
       [&] {
         small->Edit();
         small->PutCollect("T", "abcd");
       },
       3163,
       {"'T'", "Small", "3"}},
      {"out of range",
       [&] {
         small->Edit();
         small->PutCollect("B", 300L);
       },
       3421,
       {"'B'", "Small", "300"}},
      {"missing file", [&] { Open("absent.vdb"); }, 3024, {"absent.vdb"}},
      {"missing property", [&] { db->GetProperties()->GetItem("Nope"); }, 3270, {"Nope"}},
      {"missing field",
       [&] { db->GetTableDefs()->GetItem("Customers")->GetFields()->GetItem("Nope"); },
       3265,
       {"Nope", "Customers"}},
      {"execute select",
       [&] { db->Execute("SELECT * FROM Customers"); },
       3065,
       {"SELECT * FROM Customers"}},
      {"ddl syntax", [&] { db->Execute("CREATE TABLE t (x GADGET)"); }, 3290, {"GADGET"}},
      {"duplicate table",
       [&] { db->Execute("CREATE TABLE Customers (x LONG)"); },
       3010,
       {"Customers"}},
  };
  for (auto& c : cases) {
    auto [number, text] = Raised(c.action);
    EXPECT_EQ(number, c.number) << c.what << ": " << text;
    for (const auto& m : c.mentions)
      EXPECT_NE(text.find(m), std::string::npos) << c.what << ": '" << text << "' lacks " << m;
    for (const char* internal : {"sqlite_", "Running '"})  // never the engine's own statements
      EXPECT_EQ(text.find(internal), std::string::npos) << c.what << ": '" << text << "'";
    try {
      small->CancelUpdate();
    } catch (const _com_error&) {
    }
  }
}

TEST_F(EngineTest, RollbackRestoresWhatRecordsetsShow) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers ORDER BY ID");
  db->BeginTrans();
  rs->Edit();
  rs->PutCollect("Name", "Temp");
  rs->Update();
  rs->MoveFirst();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Temp");
  db->Rollback();
  rs->MoveFirst();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
  // A row added inside the rolled-back transaction is gone.
  db->BeginTrans();
  rs->AddNew();
  rs->PutCollect("Name", "Ghost");
  rs->Update();
  db->Rollback();
  rs->MoveLast();
  EXPECT_DAO_ERROR(rs->GetCollect("Name"), 3167);
}

TEST_F(EngineTest, AutoNumbersInTransactionsLeaveNoGapsAndNoDuplicates) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  db->BeginTrans();
  for (int i = 0; i < 3; ++i) {
    rs->AddNew();
    rs->PutCollect("Name", "t");
    rs->Update();
  }
  db->CommitTrans();
  rs->AddNew();  // outside a transaction the next number follows directly
  EXPECT_EQ(Long(rs->GetCollect("ID")), 7);
  rs->CancelUpdate();
  // Another connection never gets a number this one has handed out.
  auto other = Open();
  db->BeginTrans();
  rs->AddNew();
  LONG mine = Long(rs->GetCollect("ID"));
  rs->PutCollect("Name", "mine");
  rs->Update();
  db->CommitTrans();
  RecordsetPtr theirs = other->OpenRecordset("SELECT * FROM Customers WHERE ID = 0");
  theirs->AddNew();
  EXPECT_GT(Long(theirs->GetCollect("ID")), mine);
  theirs->PutCollect("Name", "theirs");
  theirs->Update();  // a number handed out twice would fail here as a duplicate key
  EXPECT_EQ(CountRows(db, "Customers"), 8);
}

TEST_F(EngineTest, NoAutoNumberIsHandedOutTwiceAfterARollback) {
  CreateCustomers()->Execute(
      "CREATE TABLE Codes (Code TEXT(5) PRIMARY KEY, N COUNTER, Label TEXT(20))");
  struct Table {
    const char* sql;
    const char* counter;
    const char* key;
  };
  const Table tables[] = {{"SELECT * FROM Customers", "ID", "Name"},  // the rowid
                          {"SELECT * FROM Codes", "N", "Code"}};      // outside the key
  enum Undo { kRollback, kInnerRollback, kFailedWrite, kCloseInTransaction };
  int serial = 0;
  for (const Table& t : tables) {
    for (Undo undo : {kRollback, kInnerRollback, kFailedWrite, kCloseInTransaction}) {
      SCOPED_TRACE(std::string(t.sql) + ", undone by #" + std::to_string(undo));
      auto db = Open();
      auto other = Open();
      RecordsetPtr rs = db->OpenRecordset(t.sql);
      LONG handed = 0;
      auto add = [&] {
        rs->AddNew();
        handed = std::max(handed, Long(rs->GetCollect(t.counter)));
        rs->PutCollect(t.key, ("k" + std::to_string(++serial)).c_str());
        rs->Update();
      };
      switch (undo) {
        case kRollback:
          db->BeginTrans();
          add();
          add();
          db->Rollback();
          break;
        case kInnerRollback:
          db->BeginTrans();
          db->BeginTrans();
          add();
          db->Rollback();
          db->CommitTrans();
          break;
        case kFailedWrite:
          EXPECT_THROW(db->Core()->WriteAtomically("A write that fails",
                                                   [&] {
                                                     add();
                                                     throw std::runtime_error("fails");
                                                   }),
                       std::runtime_error);
          break;
        case kCloseInTransaction:
          db->BeginTrans();
          add();
          db->Close();
          db = Open();
          break;
      }
      for (const auto& conn : {db, other}) {
        RecordsetPtr next = conn->OpenRecordset(t.sql);
        next->AddNew();
        EXPECT_GT(Long(next->GetCollect(t.counter)), handed);
        next->CancelUpdate();
      }
    }
  }
}

TEST_F(EngineTest, JoinsAndQueriesFindAndReadTheirRows) {
  auto db = CreateCustomers();
  db->Execute("CREATE TABLE Orders (OrderID COUNTER PRIMARY KEY, CustomerID LONG, Total DOUBLE)");
  db->Execute("INSERT INTO Orders (CustomerID, Total) VALUES (1, 5)");
  db->Execute("INSERT INTO Orders (CustomerID, Total) VALUES (3, 7.5)");
  db->Execute("INSERT INTO Orders (CustomerID, Total) VALUES (3, 1)");
  RecordsetPtr join = db->OpenRecordset(
      "SELECT Customers.Name, Orders.Total FROM Customers INNER JOIN Orders ON Customers.ID = "
      "Orders.CustomerID ORDER BY Orders.Total DESC");
  join->MoveLast();
  EXPECT_EQ(join->GetRecordCount(), 3);
  join->FindFirst("Name = 'cid' AND Total < 5");
  ASSERT_FALSE(join->GetNoMatch());
  EXPECT_EQ(join->GetAbsolutePosition(), 2);
  join->Edit();
  join->PutCollect("Total", 2.0);
  join->PutCollect("Name", "Cyd");
  join->Update();
  EXPECT_EQ(Text(db->OpenRecordset("SELECT Name FROM Customers WHERE ID = 3")->GetCollect("Name")),
            "Cyd");
  EXPECT_DAO_ERROR(join->AddNew(), 3251);  // a row of two tables cannot be added
  // An aggregate is read-only but can be searched.
  RecordsetPtr sums = db->OpenRecordset(
      "SELECT CustomerID, Sum(Total) AS Amount FROM Orders GROUP BY CustomerID ORDER BY "
      "CustomerID");
  EXPECT_FALSE(sums->GetUpdatable());
  sums->FindFirst("Amount > 8");
  ASSERT_FALSE(sums->GetNoMatch());
  EXPECT_EQ(Long(sums->GetCollect("CustomerID")), 3);
  EXPECT_DAO_ERROR(sums->Edit(), 3027);
  // A query's fields carry the types of their columns.
  db->CreateQueryDef("qryOrders", "SELECT OrderID, Total, Total * 2 AS Twice FROM Orders");
  auto fields = db->GetQueryDefs()->GetItem("qryOrders")->GetFields();
  ASSERT_EQ(fields->GetCount(), 3);
  EXPECT_EQ(fields->GetItem("OrderID")->GetType(), dao::dbLong);
  EXPECT_EQ(fields->GetItem("Total")->GetType(), dao::dbDouble);
  RecordsetPtr q =
      db->OpenRecordset("SELECT * FROM qryOrders WHERE Twice > 5");  // 10, 15 (4 is out)
  q->MoveLast();
  EXPECT_EQ(q->GetRecordCount(), 2);
  EXPECT_DAO_ERROR(q->PutCollect("Twice", 1L), 3020);
  q->Edit();
  EXPECT_DAO_ERROR(q->PutCollect("Twice", 1L), 3164);  // an expression is not updatable
  q->PutCollect("Total", 100.0);
  q->Update();
  EXPECT_EQ(CountRows(db, "Orders WHERE Total = 100"), 1);
}

TEST_F(EngineTest, CollectionsCountFindAndDeleteByNameAndPosition) {
  auto db = CreateCustomers();
  db->Execute("CREATE TABLE B (x LONG)");
  db->Execute("CREATE TABLE a (y LONG)");
  auto defs = db->GetTableDefs();
  ASSERT_EQ(defs->GetCount(), 3);
  std::vector<std::string> names;
  for (short i = 0; i < defs->GetCount(); ++i)
    names.push_back(dao::Utf8(defs->GetItem(static_cast<LONG>(i))->GetName()));
  EXPECT_EQ(names, (std::vector<std::string>{"a", "B", "Customers"}));
  EXPECT_DAO_ERROR(defs->GetItem(3L), 3265);
  defs->Delete("b");
  EXPECT_EQ(db->GetTableDefs()->GetCount(), 2);
  EXPECT_DAO_ERROR(db->OpenRecordset("SELECT * FROM B"), 3078);
  db->CreateQueryDef("q1", "SELECT * FROM a");
  auto q = db->GetQueryDefs()->GetItem("Q1");
  q->PutSQL("SELECT y FROM a WHERE y > 1");
  EXPECT_EQ(dao::Utf8(db->GetQueryDefs()->GetItem(0L)->GetSQL()), "SELECT y FROM a WHERE y > 1");
  auto props = db->GetProperties();
  props->Append(db->CreateProperty("One", static_cast<LONG>(dao::dbText), "1"));
  props->Append(db->CreateProperty("Two", static_cast<LONG>(dao::dbDouble), 2.5));
  EXPECT_EQ(props->GetCount(), 2);
  EXPECT_EQ(props->GetItem(1L)->GetValue().vt, VT_R8);
  props->Delete("one");
  EXPECT_EQ(props->GetCount(), 1);
  EXPECT_DAO_ERROR(props->Delete("one"), 3265);
  db->GetQueryDefs()->Delete("q1");
  EXPECT_DAO_ERROR(db->GetQueryDefs()->GetItem("q1"), 3265);
  EXPECT_DAO_ERROR(db->OpenRecordset("SELECT * FROM q1"), 3078);
}

}  // namespace
