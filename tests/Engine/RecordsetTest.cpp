// Dynaset behaviour: keyset and live values, navigation, Find, edits, joins.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sqlite3.h>

#include "EngineTestSupport.h"

namespace {

using namespace enginetest;
using dao::RecordsetPtr;

TEST_F(EngineTest, EmptyRecordsetHasBothBofAndEofAndRefusesEveryMove) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers WHERE Name = 'nobody'");
  EXPECT_TRUE(rs->GetBOF());
  EXPECT_TRUE(rs->GetEOF());
  EXPECT_EQ(rs->GetRecordCount(), 0);
  EXPECT_EQ(rs->GetAbsolutePosition(), -1);
  EXPECT_DAO_ERROR(rs->MoveFirst(), 3021);
  EXPECT_DAO_ERROR(rs->MoveLast(), 3021);
  EXPECT_DAO_ERROR(rs->MoveNext(), 3021);
  EXPECT_DAO_ERROR(rs->MovePrevious(), 3021);
  EXPECT_DAO_ERROR(rs->GetCollect("Name"), 3021);
  // A row added to it clears BOF but leaves the cursor at EOF.
  rs->AddNew();
  rs->PutCollect("Name", "New");
  rs->Update();
  EXPECT_FALSE(rs->GetBOF());
  EXPECT_TRUE(rs->GetEOF());
  rs->MovePrevious();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "New");
}

TEST_F(EngineTest, MovesFollowDaoBofEofRules) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers ORDER BY Name DESC;");
  EXPECT_FALSE(rs->GetBOF());
  EXPECT_FALSE(rs->GetEOF());
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  EXPECT_EQ(rs->GetRecordCount(), 1);  // rows visited so far
  rs->MoveLast();
  EXPECT_EQ(rs->GetRecordCount(), 3);  // exact once the last row was reached
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
  rs->MoveNext();
  EXPECT_TRUE(rs->GetEOF());
  EXPECT_FALSE(rs->GetBOF());
  EXPECT_EQ(rs->GetAbsolutePosition(), -1);
  EXPECT_DAO_ERROR(rs->MoveNext(), 3021);
  EXPECT_DAO_ERROR(rs->GetCollect("Name"), 3021);
  rs->MovePrevious();  // back from EOF onto the last row
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
  rs->MoveFirst();
  rs->MovePrevious();
  EXPECT_TRUE(rs->GetBOF());
  EXPECT_FALSE(rs->GetEOF());
  EXPECT_DAO_ERROR(rs->MovePrevious(), 3021);
  rs->MoveNext();  // from BOF onto the first row
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  EXPECT_EQ(rs->GetAbsolutePosition(), 0);
}

TEST_F(EngineTest, AbsolutePositionMovesAndRefusesPositionsOutside) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers ORDER BY ID");
  rs->MoveLast();
  rs->MoveFirst();
  rs->PutAbsolutePosition(2);
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  EXPECT_EQ(rs->GetAbsolutePosition(), 2);
  EXPECT_DAO_ERROR(rs->PutAbsolutePosition(3), 3001);
  EXPECT_DAO_ERROR(rs->PutAbsolutePosition(-1), 3001);
  EXPECT_EQ(rs->GetAbsolutePosition(), 2);  // unchanged by the refusals
  // The raw form answers the HRESULT for a caller that traces and goes on.
  EXPECT_EQ(rs->put_AbsolutePosition(7), static_cast<HRESULT>(0x800A0BB9));
}

TEST_F(EngineTest, FindSetsNoMatchAndKeepsThePositionWhenNothingMatches) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers ORDER BY ID");
  rs->FindFirst("Amount > 15");
  EXPECT_FALSE(rs->GetNoMatch());
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Bob");
  rs->FindNext("Amount > 15");
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  rs->FindNext("Amount > 15");
  EXPECT_TRUE(rs->GetNoMatch());
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");  // stays where it was
  rs->FindPrevious("name = 'ANN'");                // text compares case-insensitively
  EXPECT_FALSE(rs->GetNoMatch());
  EXPECT_EQ(rs->GetAbsolutePosition(), 0);
  rs->FindLast("Active = True");
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  EXPECT_EQ(rs->GetRecordCount(), 3);
  rs->FindFirst("Name = 'Zed'");
  EXPECT_TRUE(rs->GetNoMatch());
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  rs->MoveNext();  // moves leave NoMatch alone
  EXPECT_TRUE(rs->GetNoMatch());
}

// Find looks at the recordset's members as they are now: changed elsewhere during a walk, edited
// or added here so that they fail the recordset's own condition, deleted here.
TEST_F(EngineTest, FindJudgesTheMembersAsTheyAreNow) {
  auto db = Create();
  db->Execute("CREATE TABLE T (ID COUNTER PRIMARY KEY, Name TEXT(10), N LONG)");
  for (const char* row : {"('Ann', 10)", "('Bob', 20)", "('Cid', 30)"})
    db->Execute((std::string("INSERT INTO T (Name, N) VALUES ") + row).c_str());
  auto other = Open();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM T WHERE N > 15 ORDER BY ID");
  rs->FindFirst("N > 15");
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Bob");
  other->Execute("UPDATE T SET N = 0 WHERE Name = 'Cid'");
  rs->FindNext("N > 15");
  EXPECT_TRUE(rs->GetNoMatch());
  rs->Edit();
  rs->PutCollect("N", 5L);
  rs->Update();
  rs->AddNew();
  rs->PutCollect("Name", "Dan");
  rs->PutCollect("N", 1L);
  rs->Update();
  std::string found;
  for (rs->FindFirst("N < 10"); !rs->GetNoMatch(); rs->FindNext("N < 10"))
    found += Text(rs->GetCollect("Name"));
  EXPECT_EQ(found, "BobCidDan");
  rs->FindFirst("N < 10");
  rs->Delete();
  rs->FindNext("N < 10");
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  rs->FindPrevious("N < 10");
  EXPECT_TRUE(rs->GetNoMatch());
  EXPECT_EQ(rs->GetAbsolutePosition(), 0);
}

TEST_F(EngineTest, FindWithBadCriteriaRaisesSyntaxOrNameErrors) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  EXPECT_DAO_ERROR(rs->FindFirst("Name = = 'x'"), 3077);
  EXPECT_DAO_ERROR(rs->FindFirst("NoSuchField = 1"), 3070);
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
}

TEST_F(EngineTest, DynasetSeesChangesMadeThroughAnotherRecordsetAndConnection) {
  auto db = CreateCustomers();
  RecordsetPtr reader = db->OpenRecordset("SELECT * FROM Customers ORDER BY ID");
  EXPECT_EQ(Text(reader->GetCollect("Name")), "Ann");

  RecordsetPtr writer = db->OpenRecordset("SELECT * FROM Customers WHERE Name = 'Ann'");
  writer->Edit();
  writer->PutCollect("Name", "Anna");
  writer->Update();
  reader->MoveFirst();  // values are read when the cursor moves onto a row
  EXPECT_EQ(Text(reader->GetCollect("Name")), "Anna");

  // Another connection to the same file (another Database object).
  auto other = Open();
  other->Execute("UPDATE Customers SET Name = 'Bobby' WHERE Name = 'Bob'");
  reader->MoveNext();
  EXPECT_EQ(Text(reader->GetCollect("Name")), "Bobby");
  // Rows added elsewhere join only at Requery.
  other->Execute("INSERT INTO Customers (Name) VALUES ('Dan')");
  reader->MoveLast();
  EXPECT_EQ(reader->GetRecordCount(), 3);
  reader->Requery();
  reader->MoveLast();
  EXPECT_EQ(reader->GetRecordCount(), 4);
  EXPECT_EQ(Text(reader->GetCollect("Name")), "Dan");
  // A row deleted elsewhere while current reads as deleted.
  reader->MoveFirst();
  reader->MoveNext();
  other->Execute("DELETE FROM Customers WHERE Name = 'Bobby';");
  EXPECT_DAO_ERROR(reader->GetCollect("Name"), 3167);
  EXPECT_DAO_ERROR(reader->Edit(), 3167);
  reader->MoveNext();
  EXPECT_EQ(Text(reader->GetCollect("Name")), "Cid");
}

// Re-reading a row binds the literals of the select's own conditions too (a subquery in the
// select list, in an ON condition), not only the row's keys.
TEST_F(EngineTest, RereadsKeepTheLiteralsOfTheSelect) {
  auto db = CreateCustomers();
  db->Execute("CREATE TABLE Orders (OrderID COUNTER PRIMARY KEY, CustID LONG, Qty LONG)");
  for (const char* values : {"(1, 5)", "(2, 7)", "(3, 9)"})
    db->Execute((std::string("INSERT INTO Orders (CustID, Qty) VALUES ") + values).c_str());
  RecordsetPtr sub = db->OpenRecordset(
      "SELECT ID, Name, (SELECT Count(*) FROM Orders WHERE Qty > 6) AS Big FROM Customers "
      "WHERE ID = 2");
  RecordsetPtr on = db->OpenRecordset(
      "SELECT Name, Qty FROM Customers INNER JOIN Orders ON (Orders.CustID = Customers.ID AND "
      "Orders.Qty < (SELECT Max(Qty) FROM Orders WHERE Qty < 8)) ORDER BY Qty");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(Text(sub->GetCollect("Name")), round ? "Bobby" : "Bob");
    EXPECT_EQ(Long(sub->GetCollect("Big")), 2);
    EXPECT_EQ(Text(on->GetCollect("Name")), "Ann");
    EXPECT_EQ(Long(on->GetCollect("Qty")), 5);
    Open()->Execute("UPDATE Customers SET Name = 'Bobby' WHERE ID = 2");
    sub->MoveFirst();
    on->MoveFirst();
  }
}

TEST_F(EngineTest, RepeatedRereadsKeepEveryValueRight) {
  auto db = Create();
  db->Execute("CREATE TABLE Docs (ID COUNTER PRIMARY KEY, Body MEMO, N LONG)");
  RecordsetPtr w = db->OpenRecordset("SELECT * FROM Docs");
  for (int i = 0; i < 40; ++i) {
    w->AddNew();
    w->PutCollect("Body", std::string(40000, static_cast<char>('a' + i % 26)).c_str());
    w->PutCollect("N", static_cast<LONG>(i));
    w->Update();
  }
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Docs ORDER BY ID");
  auto other = Open();
  for (int round = 1; round <= 6; ++round) {  // enough re-read text to compact the cache
    other->Execute(
        ("UPDATE Docs SET N = N + 1000, Body = Body & '" + std::to_string(round) + "'").c_str());
    rs->MoveFirst();
    for (int i = 0; i < 40; ++i, rs->MoveNext()) {
      ASSERT_EQ(Long(rs->GetCollect("N")), i + 1000 * round);
      std::string body = Text(rs->GetCollect("Body"));
      ASSERT_EQ(body.size(), 40000u + static_cast<std::size_t>(round));
      ASSERT_EQ(body[0], static_cast<char>('a' + i % 26));
      ASSERT_EQ(body.back(), static_cast<char>('0' + round));
    }
  }
}

// Memo (and LongBinary) values are read when first asked for: opening a recordset over rows of
// large memos and reading a small field of each holds none of them, neither in the engine nor
// in SQLite; a memo read shows what is stored now, and Edit/Update compare the stored memo.
TEST_F(EngineTest, LargeValuesAreReadWhenFirstAskedFor) {
  constexpr std::size_t kRows = 8, kBody = 2u << 20;  // 16 MB of memos
  auto db = Create();
  db->Execute("CREATE TABLE Docs (ID COUNTER PRIMARY KEY, Title TEXT(20), Body MEMO)");
  RecordsetPtr w = db->OpenRecordset("SELECT * FROM Docs");
  for (std::size_t i = 0; i < kRows; ++i) {
    w->AddNew();
    w->PutCollect("Title", ("doc " + std::to_string(i)).c_str());
    if (i != 3) w->PutCollect("Body", std::string(kBody, static_cast<char>('a' + i)).c_str());
    w->Update();
  }
  w->Close();
  auto heap = [] {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  sqlite3_int64 sqliteNow = 0, sqlitePeak = 0;
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &sqliteNow, &sqlitePeak, 1);
  const std::size_t before = heap();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Docs ORDER BY Title");
  for (std::size_t i = 0; i < kRows; ++i, rs->MoveNext())
    ASSERT_EQ(Text(rs->GetCollect("Title")), "doc " + std::to_string(i));
  EXPECT_LT(heap(), before + (1u << 20));
  sqlite3_int64 sqliteAfter = 0;
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &sqliteAfter, &sqlitePeak, 0);
  EXPECT_LT(sqlitePeak, sqliteNow + (1 << 20));

  // Through joins (a star over two tables, the same name twice) and a stored query too.
  db->Execute("CREATE TABLE Notes (NoteID COUNTER PRIMARY KEY, DocID LONG, Note MEMO)");
  db->Execute("INSERT INTO Notes (DocID, Note) VALUES (3, 'note of doc 2')");
  db->CreateQueryDef("qryDocs", "SELECT ID, Body, Title FROM Docs WHERE ID = 3");
  for (const char* sql :
       {"SELECT * FROM Docs AS d INNER JOIN Notes AS n ON n.DocID = d.ID ORDER BY n.Note",
        "SELECT n.Note, d.* FROM Notes AS n INNER JOIN Docs AS d ON n.DocID = d.ID",
        "SELECT * FROM qryDocs"}) {
    SCOPED_TRACE(sql);
    RecordsetPtr j = db->OpenRecordset(sql);
    EXPECT_EQ(Text(j->GetCollect("Body")), std::string(kBody, 'c'));
    EXPECT_EQ(Text(j->GetCollect("Title")), "doc 2");
    if (std::string(sql).find("Notes") == std::string::npos) continue;
    EXPECT_EQ(Text(j->GetCollect("Note")), "note of doc 2");
    j->Edit();
    j->PutCollect("Note", "edited");
    j->Update();
    EXPECT_EQ(Text(j->GetCollect("Note")), "edited");
    EXPECT_EQ(Text(j->GetCollect("Body")), std::string(kBody, 'c'));
    db->Execute("UPDATE Notes SET Note = 'note of doc 2'");
  }

  // Read by key, as stored now: a change elsewhere is seen, a deletion is 3167.
  auto other = Open();
  other->Execute("UPDATE Docs SET Body = 'short' WHERE Title = 'doc 1'");
  other->Execute("DELETE FROM Docs WHERE Title = 'doc 5'");
  rs->MoveFirst();
  for (std::size_t i = 0; i < kRows; ++i, rs->MoveNext()) {
    SCOPED_TRACE(i);
    if (i == 5) {
      EXPECT_DAO_ERROR(rs->GetCollect("Body"), 3167);
      continue;
    }
    _variant_t body = rs->GetCollect("Body");
    if (i == 3) {
      EXPECT_EQ(body.vt, VT_NULL);
    } else if (i == 1) {
      EXPECT_EQ(Text(body), "short");
    } else {
      EXPECT_EQ(Text(body), std::string(kBody, static_cast<char>('a' + i)));
      EXPECT_EQ(Text(rs->GetCollect("Body")).size(), kBody);  // read again from the slot
    }
  }
  // Edit keeps the stored memo: an Update goes through while nobody changed it, and stops
  // (3197) when another connection changed only the memo since the Edit.
  rs->MoveFirst();
  rs->Edit();
  rs->PutCollect("Title", "first");
  rs->Update();
  EXPECT_EQ(Text(rs->GetCollect("Body")).size(), kBody);
  rs->Edit();
  rs->PutCollect("Body", "new body");
  rs->Update();
  EXPECT_EQ(Text(rs->GetCollect("Body")), "new body");
  rs->MoveNext();
  rs->MovePrevious();
  EXPECT_EQ(Text(rs->GetCollect("Body")), "new body");
  rs->Edit();
  rs->PutCollect("Title", "second");
  other->Execute("UPDATE Docs SET Body = 'changed' WHERE Title = 'first'");
  EXPECT_DAO_ERROR(rs->Update(), 3197);
  EXPECT_EQ(Text(rs->GetCollect("Body")), "changed");
}

TEST_F(EngineTest, AutoNumberIsAssignedAtAddNewAndNeverReused) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  rs->AddNew();
  LONG first = Long(rs->GetCollect("ID"));
  EXPECT_EQ(first, 4);
  rs->PutCollect("Name", "Dan");
  rs->Update();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");  // the record before AddNew stays current
  RecordsetPtr check = db->OpenRecordset("SELECT ID FROM Customers WHERE Name = 'Dan'");
  EXPECT_EQ(Long(check->GetCollect("ID")), first);

  rs->AddNew();  // consumed even though never stored
  EXPECT_EQ(Long(rs->GetFields()->GetItem("ID")->GetValue()), first + 1);
  rs->CancelUpdate();
  db->Execute("DELETE FROM Customers WHERE ID = 5 OR ID = 4");
  rs->AddNew();
  EXPECT_EQ(Long(rs->GetCollect("ID")), first + 2);
  rs->PutCollect("Name", "Eve");
  rs->Update();
  // An AutoNumber cannot be written.
  rs->AddNew();
  EXPECT_DAO_ERROR(rs->PutCollect("ID", 99L), 3164);
  rs->CancelUpdate();
  // New rows join the end of the keyset.
  rs->MoveLast();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Eve");
}

TEST_F(EngineTest, WritesOutsideAddNewOrEditAndUpdateWithoutEditAreRefused) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  EXPECT_DAO_ERROR(rs->PutCollect("Name", "X"), 3020);
  EXPECT_DAO_ERROR(rs->Update(), 3020);
  EXPECT_DAO_ERROR(rs->CancelUpdate(), 3020);
  EXPECT_DAO_ERROR(rs->GetFields()->GetItem("Nope"), 3265);
  rs->Edit();
  rs->PutCollect("Name", "Changed");
  rs->MoveNext();  // a move drops the pending edit
  rs->MoveFirst();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Ann");
}

TEST_F(EngineTest, RefusedValuesLeaveTheRowUnchanged) {
  auto db = CreateCustomers();
  db->Execute("CREATE TABLE Small (ID COUNTER PRIMARY KEY, B BYTE, I SHORT, L LONG, T TEXT(5))");
  db->Execute("INSERT INTO Small (B, I, L, T) VALUES (1, 2, 3, 'abc')");
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Small");
  struct Case {
    const char* field;
    _variant_t value;
    int error;
  } cases[] = {
      // The conversion rules themselves are ValueConversion's; one refusal of each kind here.
      {"B", _variant_t(256L), 3421},
      {"L", _variant_t("twelve"), 3421},
      {"T", _variant_t(u"\u00e4\u00f6\u00fc\u00df\u20ac!"), 3163},
  };
  for (const auto& c : cases) {
    rs->Edit();
    EXPECT_DAO_ERROR(rs->PutCollect(c.field, c.value), c.error);
    rs->Update();
  }
  RecordsetPtr check = db->OpenRecordset("SELECT * FROM Small");
  EXPECT_EQ(Long(check->GetCollect("B")), 1);
  EXPECT_EQ(Long(check->GetCollect("I")), 2);
  EXPECT_EQ(Long(check->GetCollect("L")), 3);
  EXPECT_EQ(Text(check->GetCollect("T")), "abc");
  // Five characters fit, whatever their UTF-8 length.
  rs->Edit();
  rs->PutCollect("T", u"\u00e4\u00f6\u00fc\u00df\u20ac");
  rs->PutCollect("B", "200");  // numeric text converts
  rs->Update();
  check->Requery();
  EXPECT_EQ(dao::Utf8(check->GetCollect("T").bstrVal),
            "\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f\xe2\x82\xac");
  EXPECT_EQ(Long(check->GetCollect("B")), 200);
}

TEST_F(EngineTest, ValuesRoundTripWithTheirVariantTypes) {
  auto db = Create();
  db->Execute(
      "CREATE TABLE T (ID COUNTER PRIMARY KEY, Bo BIT, By BYTE, Sh SHORT, Lo LONG, Si SINGLE, "
      "Do DOUBLE, Cu CURRENCY, Da DATETIME, Te TEXT(50), Me MEMO, Bi LONGBINARY)");
  CY cy;
  cy.int64 = 123456789;  // 12345.6789
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, 3);
  for (LONG i = 0; i < 3; ++i) {
    BYTE b = static_cast<BYTE>(i * 100);
    SafeArrayPutElement(sa, &i, &b);
  }
  _variant_t bytes;
  bytes.vt = VT_ARRAY | VT_UI1;
  bytes.parray = sa;
  struct Case {
    const char* field;
    _variant_t value;
    VARTYPE vt;
  } cases[] = {
      {"Bo", _variant_t(true), VT_BOOL},
      {"By", _variant_t(static_cast<BYTE>(250)), VT_UI1},
      {"Sh", _variant_t(static_cast<SHORT>(-12345)), VT_I2},
      {"Lo", _variant_t(static_cast<LONG>(-2000000000)), VT_I4},
      {"Si", _variant_t(1.5f), VT_R4},
      {"Do", _variant_t(3.25e100), VT_R8},
      {"Cu", _variant_t(cy), VT_CY},
      {"Da", _variant_t(36526.5, VT_DATE), VT_DATE},
      {"Te", _variant_t(u"Gr\u00fc\u00dfe"), VT_BSTR},
      {"Me", _variant_t(std::string(5000, 'm').c_str()), VT_BSTR},
      {"Bi", bytes, static_cast<VARTYPE>(VT_ARRAY | VT_UI1)},
  };
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM T");
  rs->AddNew();
  try {
    for (const auto& c : cases) rs->PutCollect(c.field, c.value);
    rs->Update();
  } catch (const _com_error& e) {
    FAIL() << Description(e);
  }
  db->Close();
  auto again = Open();
  RecordsetPtr back = again->OpenRecordset("SELECT * FROM T");
  for (const auto& c : cases) {
    _variant_t v = back->GetCollect(c.field);
    EXPECT_EQ(v.vt, c.vt) << c.field;
    if (c.vt == (VT_ARRAY | VT_UI1)) {
      LONG hi = -1;
      SafeArrayGetUBound(v.parray, 1, &hi);
      EXPECT_EQ(hi, 2);
      LONG i = 2;
      BYTE b = 0;
      SafeArrayGetElement(v.parray, &i, &b);
      EXPECT_EQ(b, 200);
    } else {
      EXPECT_TRUE(dao::ToValue(v, "") == dao::ToValue(c.value, "")) << c.field;
    }
  }
  // Null in every type.
  back->Edit();
  for (const auto& c : cases) back->PutCollect(c.field, _variant_t());  // VT_EMPTY stores Null
  back->Update();
  for (const auto& c : cases) EXPECT_EQ(back->GetCollect(c.field).vt, VT_NULL) << c.field;
}

TEST_F(EngineTest, OneUpdateOnAJoinRowChangesBothTables) {
  auto db = Create();
  db->Execute(
      "CREATE TABLE tblBLOB_FILES (FIL_ID COUNTER PRIMARY KEY, FIL_Filename TEXT(255), "
      "FIL_lTotalSize LONG, FIL_lUsedSpace LONG, FIL_lFreeSpace LONG, FIL_lBlobCount LONG)");
  db->Execute(
      "CREATE TABLE tblBLOB_BLOCKS (BLOB_ID COUNTER PRIMARY KEY, BLOB_FIL_ID LONG, BLOB_lStart "
      "LONG, BLOB_lTotalSize LONG, BLOB_lDataLength LONG, BLOB_RefCount LONG, BLOB_Deleted YESNO)");
  RecordsetPtr blocks = db->OpenRecordset("SELECT * FROM tblBLOB_BLOCKS");
  blocks->AddNew();
  LONG blobId = Long(blocks->GetCollect("BLOB_ID"));
  RecordsetPtr files = db->OpenRecordset("SELECT * FROM tblBLOB_FILES ORDER BY FIL_lTotalSize");
  files->AddNew();
  LONG fileId = Long(files->GetCollect("FIL_ID"));
  files->PutCollect("FIL_Filename", "blob00000001.bin");
  files->PutCollect("FIL_lTotalSize", 388L);
  files->PutCollect("FIL_lUsedSpace", 388L);
  files->PutCollect("FIL_lFreeSpace", 0L);
  files->PutCollect("FIL_lBlobCount", 1L);
  blocks->PutCollect("BLOB_FIL_ID", fileId);
  blocks->PutCollect("BLOB_lStart", 288L);
  blocks->PutCollect("BLOB_lTotalSize", 100L);
  blocks->PutCollect("BLOB_lDataLength", 80L);
  blocks->PutCollect("BLOB_RefCount", 1L);
  blocks->PutCollect("BLOB_Deleted", false);
  files->Update();
  blocks->Update();
  files->Close();
  blocks->Close();

  std::string join =
      "SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
      "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE BLOB_ID = " +
      std::to_string(blobId);
  RecordsetPtr rs = db->OpenRecordset(join.c_str());
  ASSERT_FALSE(rs->GetEOF());
  EXPECT_EQ(Text(rs->GetCollect("FIL_Filename")), "blob00000001.bin");
  rs->Edit();
  rs->PutCollect("BLOB_RefCount", 0L);
  rs->PutCollect("BLOB_Deleted", true);
  rs->PutCollect("FIL_lUsedSpace", Long(rs->GetCollect("FIL_lUsedSpace")) - 100);
  rs->PutCollect("FIL_lFreeSpace", Long(rs->GetCollect("FIL_lFreeSpace")) + 100);
  rs->PutCollect("FIL_lBlobCount", 0L);
  rs->Update(dao::dbUpdateRegular, VARIANT_FALSE);
  rs->Close();

  RecordsetPtr f = db->OpenRecordset("SELECT * FROM tblBLOB_FILES");
  EXPECT_EQ(Long(f->GetCollect("FIL_lUsedSpace")), 288);
  EXPECT_EQ(Long(f->GetCollect("FIL_lFreeSpace")), 100);
  EXPECT_EQ(Long(f->GetCollect("FIL_lBlobCount")), 0);
  RecordsetPtr b = db->OpenRecordset("SELECT * FROM tblBLOB_BLOCKS");
  EXPECT_EQ(Long(b->GetCollect("BLOB_RefCount")), 0);
  EXPECT_EQ(b->GetCollect("BLOB_Deleted").boolVal, VARIANT_TRUE);
  RecordsetPtr count = db->OpenRecordset("SELECT Count(*) AS BLOB_CountTotal FROM tblBLOB_BLOCKS");
  EXPECT_EQ(Long(count->GetCollect("BLOB_CountTotal")), 1);
  EXPECT_DAO_ERROR(count->Edit(), 3027);
}

TEST_F(EngineTest, StoredQueriesOpenLikeTablesAndAreUpdatable) {
  auto db = CreateCustomers();
  db->CreateQueryDef("qryRich", "SELECT ID, Name, Amount FROM Customers WHERE Amount >= 20");
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM qryRich WHERE Name <> 'Bob'");
  ASSERT_FALSE(rs->GetEOF());
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Cid");
  EXPECT_EQ(rs->GetFields()->GetCount(), 3);
  rs->Edit();
  rs->PutCollect("Name", "Cyd");
  rs->Update();
  rs->AddNew();
  LONG id = Long(rs->GetCollect("ID"));
  rs->PutCollect("Name", "Max");
  rs->PutCollect("Amount", 99L);
  rs->Update();
  RecordsetPtr check = db->OpenRecordset("SELECT * FROM Customers ORDER BY ID");
  check->MoveLast();
  EXPECT_EQ(Long(check->GetCollect("ID")), id);
  EXPECT_EQ(Text(check->GetCollect("Name")), "Max");
  check->FindFirst("Name = 'Cyd'");
  EXPECT_FALSE(check->GetNoMatch());
  RecordsetPtr byName = db->OpenRecordset("qryRich");
  byName->MoveLast();
  EXPECT_EQ(byName->GetRecordCount(), 3);
}

TEST_F(EngineTest, SystemStatementsRunAsWritten) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers WHERE ID = 2;");
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Bob");
  RecordsetPtr none = db->OpenRecordset("SELECT * FROM Customers WHERE Name = 'O''Neil'");
  EXPECT_TRUE(none->GetEOF());
  db->Execute("DELETE FROM Customers WHERE Name = 'Bob'");
  EXPECT_EQ(db->GetRecordsAffected(), 1);
  EXPECT_DAO_ERROR(db->OpenRecordset("SELECT * FROM Customers WHERE (("), 3075);
}

TEST_F(EngineTest, FailuresArriveAsErrorInfoOfTheFailingObject) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  rs->MoveLast();
  rs->MoveNext();
  HRESULT hr = rs->raw_MoveNext();
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800A0BCD));
  ISupportErrorInfo* support = nullptr;
  ASSERT_EQ(rs->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(dao::IID_Recordset), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(dao::IID_Database), S_FALSE);
  support->Release();
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  BSTR source = nullptr, description = nullptr;
  info->GetSource(&source);
  info->GetDescription(&description);
  EXPECT_EQ(dao::Utf8(source), "DAO.Recordset");
  EXPECT_NE(dao::Utf8(description).find("No current record"), std::string::npos);
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
  // The throwing form carries the same information.
  try {
    db->GetTableDefs()->GetItem("Missing");
    ADD_FAILURE() << "no error";
  } catch (const _com_error& e) {
    EXPECT_EQ(DaoNumber(e), 3265);
    EXPECT_EQ(dao::Utf8(e.Source()), "DAO.TableDefs");
    EXPECT_NE(Description(e).find("Missing"), std::string::npos);
  }
  try {
    db->GetProperties()->GetItem("Nope");
    ADD_FAILURE() << "no error";
  } catch (const _com_error& e) {
    EXPECT_EQ(DaoNumber(e), 3270);
    EXPECT_EQ(dao::Utf8(e.Source()), "DAO.Properties");
  }
}

// Lookups by name remember the last field found: whatever order and case the
// names come in, each must still answer its own field (the first of equal
// names), and unknown names must still fail.
TEST_F(EngineTest, FieldsAreFoundByNameInAnyOrderAndCase) {
  auto db = CreateCustomers();
  auto rs = db->OpenRecordset("SELECT ID, Name, 7 AS x, 8 AS X FROM Customers ORDER BY ID");
  // Each read: a name and what it must answer (a number, or a text when
  // `text` is set).
  struct Read {
    const char16_t* name;
    LONG number;
    const char* text;
  };
  const Read sequences[][5] = {
      {{u"ID", 1, nullptr},
       {u"Name", 0, "Ann"},
       {u"x", 7, nullptr},
       {u"X", 7, nullptr},
       {u"ID", 1, nullptr}},
      {{u"X", 7, nullptr},
       {u"x", 7, nullptr},
       {u"name", 0, "Ann"},
       {u"id", 1, nullptr},
       {u"NAME", 0, "Ann"}},
      {{u"Name", 0, "Ann"},
       {u"Name", 0, "Ann"},
       {u"ID", 1, nullptr},
       {u"ID", 1, nullptr},
       {u"x", 7, nullptr}},
  };
  for (const auto& sequence : sequences)
    for (int pass = 0; pass < 3; ++pass)
      for (const Read& read : sequence) {
        _variant_t got = rs->GetCollect(_variant_t(read.name));
        if (read.text) {
          ASSERT_EQ(got.vt, VT_BSTR) << dao::Utf8(read.name);
          EXPECT_EQ(dao::Utf8(_bstr_t(got)), read.text);
        } else {
          ASSERT_EQ(got.vt, VT_I4) << dao::Utf8(read.name);
          EXPECT_EQ(got.lVal, read.number) << dao::Utf8(read.name);
        }
      }
  EXPECT_DAO_ERROR(rs->GetCollect("Nam"), 3265);
  EXPECT_DAO_ERROR(rs->GetCollect("Names"), 3265);
  EXPECT_DAO_ERROR(rs->GetCollect(""), 3265);
  EXPECT_EQ(static_cast<LONG>(rs->GetCollect(static_cast<LONG>(3))), 8);  // by number: the second
  EXPECT_EQ(static_cast<LONG>(rs->GetCollect("x")), 7);
  rs->MoveNext();
  EXPECT_EQ(dao::Utf8(_bstr_t(rs->GetCollect("Name"))), "Bob");
  EXPECT_EQ(static_cast<LONG>(rs->GetCollect("ID")), 2);
}

// Texts come back as BSTRs of exactly their characters, ASCII or not.
TEST_F(EngineTest, TextsAreReadBackWithEveryCharacter) {
  auto db = Create();
  db->Execute("CREATE TABLE T (ID COUNTER PRIMARY KEY, Te MEMO)");
  const std::u16string texts[] = {u"",
                                  u"a",
                                  u"plain ascii text",
                                  u"\u00e4\u00f6\u00fc",
                                  u"mixed \u20ac end",
                                  u"\U0001F600 astral",
                                  std::u16string(300, u'z') + u"\u00df"};
  {
    auto rs = db->OpenRecordset("SELECT * FROM T");
    for (const auto& t : texts) {
      rs->AddNew();
      rs->PutCollect("Te", _variant_t(_bstr_t(std::u16string_view(t))));
      rs->Update();
    }
  }
  auto rs = db->OpenRecordset("SELECT Te FROM T ORDER BY ID");
  for (const auto& t : texts) {
    ASSERT_FALSE(rs->GetEOF());
    _variant_t v = rs->GetCollect("Te");
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), t);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->GetEOF());
}

}  // namespace

// Texts that differ only in the literals of their WHERE condition share one translation and one
// prepared statement; each must still find exactly its own rows.
TEST_F(EngineTest, TextsOfOneShapeFindTheirOwnRows) {
  auto db = CreateCustomers();
  db->Execute("INSERT INTO Customers (Name, Amount) VALUES ('O''Hara', 40)");
  const auto ids = [&](const std::string& jet) {
    RecordsetPtr rs = db->OpenRecordset(jet.c_str());
    std::string out;
    for (; !rs->GetEOF(); rs->MoveNext()) {
      if (!out.empty()) out += ",";
      out += Text(rs->GetCollect("Name"));
    }
    return out;
  };
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 1"), "Ann");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 3"), "Cid");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 9"), "");
    // Texts that differ from the last one where its number stands, but not
    // by a plain run of digits there, are read as the texts they are.
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 03"), "Cid");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 2.5"), "");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 1e0"), "Ann");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 1234567890"), "");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 2 OR ID = 1"), "Ann,Bob");
    EXPECT_DAO_ERROR(ids("SELECT * FROM Customers WHERE ID = 2]"), 3075);
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 2"), "Bob");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Name = 'O''Hara'"), "O'Hara");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Name = 'bob'"), "Bob");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Amount > 15.5 ORDER BY ID"), "Bob,Cid,O'Hara");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Amount > 25 ORDER BY ID"), "Cid,O'Hara");
    // Literal Between bounds are put in order at translation: each order stands on its own.
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Amount Between 35 And 15 ORDER BY ID"), "Bob,Cid");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Amount Between 5 And 25 ORDER BY ID"), "Ann,Bob");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Amount Between 45 And 35 ORDER BY ID"), "O'Hara");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Name Like 'c*'"), "Cid");
    EXPECT_EQ(ids("SELECT * FROM Customers WHERE Name Like '*o*' ORDER BY ID"), "Bob,O'Hara");
    EXPECT_DAO_ERROR(ids("SELECT * FROM Customers WHERE Name Like '[a'"), 3075);
  }
  // An expression's type comes from the values of each open.
  const char* typed = "SELECT ID, IIf(ID = 1, 'x', 5) AS E FROM Customers WHERE ID = ";
  RecordsetPtr text = db->OpenRecordset((std::string(typed) + "1").c_str());
  RecordsetPtr number = db->OpenRecordset((std::string(typed) + "2").c_str());
  EXPECT_EQ(text->GetFields()->GetItem("E")->GetType(), dao::dbText);
  EXPECT_NE(number->GetFields()->GetItem("E")->GetType(), dao::dbText);
  EXPECT_EQ(Text(text->GetCollect("E")), "x");
  EXPECT_EQ(Long(number->GetCollect("E")), 5);
  // Find and edits on a recordset whose condition is bound.
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers WHERE Amount >= 20 ORDER BY ID");
  rs->FindFirst("Name Like 'o*'");
  ASSERT_FALSE(rs->GetNoMatch());
  rs->Edit();
  rs->PutCollect("Name", "Olga");
  rs->Update();
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Olga");
  rs->FindFirst("Name = 'Ann'");  // outside the recordset's condition
  EXPECT_TRUE(rs->GetNoMatch());
  EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 4"), "Olga");
  // One-off texts (a DELETE per record through Execute, a criteria per Find)
  // stay out of the statement cache; texts that come again enter it, which
  // keeps the least recently used ones within its bound.
  const dao::Connection& conn = db->Core()->Conn();
  const std::size_t before = conn.CachedTexts();
  for (int i = 0; i < 600; ++i) {
    db->Execute(("DELETE FROM Customers WHERE ID = " + std::to_string(1000 + i)).c_str());
    rs->FindFirst(("ID = " + std::to_string(1000 + i)).c_str());
  }
  EXPECT_LE(conn.CachedTexts(), before + 4);
  for (int i = 0; i < 600; ++i)
    for (int again = 0; again < 2; ++again)
      db->Execute(("DELETE FROM Customers WHERE ID = " + std::to_string(1000 + i)).c_str());
  EXPECT_EQ(conn.CachedTexts(), dao::Connection::kMaxCachedTexts);
  EXPECT_EQ(ids("SELECT * FROM Customers WHERE ID = 4"), "Olga");
}

TEST_F(EngineTest, SchemaChangesAreSeenByTextsOpenedBefore) {
  auto db = CreateCustomers();
  const char* jet = "SELECT * FROM T WHERE K = 1";
  db->Execute("CREATE TABLE T (K LONG PRIMARY KEY, A TEXT(10))");
  db->Execute("INSERT INTO T (K, A) VALUES (1, 'a')");
  EXPECT_EQ(db->OpenRecordset(jet)->GetFields()->GetCount(), 2);
  db->Execute("DROP TABLE T");
  db->Execute("CREATE TABLE T (K LONG PRIMARY KEY, A TEXT(10), B LONG)");
  db->Execute("INSERT INTO T (K, A, B) VALUES (1, 'x', 7)");
  RecordsetPtr rs = db->OpenRecordset(jet);
  EXPECT_EQ(rs->GetFields()->GetCount(), 3);
  EXPECT_EQ(Long(rs->GetCollect("B")), 7);

  // A table created and rolled back inside a transaction.
  db->BeginTrans();
  db->Execute("CREATE TABLE U (K LONG PRIMARY KEY)");
  db->Execute("INSERT INTO U (K) VALUES (1)");
  EXPECT_FALSE(db->OpenRecordset("SELECT * FROM U WHERE K = 1")->GetEOF());
  db->Rollback();
  EXPECT_DAO_ERROR(db->OpenRecordset("SELECT * FROM U WHERE K = 1"), 3078);

  // A stored query redefined.
  auto q = db->CreateQueryDef("qry", "SELECT ID, Name FROM Customers");
  EXPECT_EQ(db->OpenRecordset("SELECT * FROM qry WHERE ID = 2")->GetFields()->GetCount(), 2);
  q->PutSQL("SELECT ID, Name, Amount FROM Customers");
  rs = db->OpenRecordset("SELECT * FROM qry WHERE ID = 2");
  EXPECT_EQ(rs->GetFields()->GetCount(), 3);
  EXPECT_EQ(Text(rs->GetCollect("Name")), "Bob");
}

// After an Edit the recordset serves the row's new values without reading it again; they
// must be exactly what a fresh read of the row finds, in every type and after conversions.
TEST_F(EngineTest, ValuesAfterAnEditEqualAFreshRead) {
  auto db = Create();
  db->Execute(
      "CREATE TABLE T (ID COUNTER PRIMARY KEY, Bo BIT, By BYTE, Sh SHORT, Lo LONG, Si SINGLE, "
      "Do DOUBLE, Cu CURRENCY, Da DATETIME, Te TEXT(50), Me MEMO)");
  db->Execute("INSERT INTO T (Lo, Te) VALUES (1, 'one')");
  db->Execute("INSERT INTO T (Lo, Te) VALUES (2, 'two')");
  const std::vector<std::pair<const char*, _variant_t>> edits = {
      {"Bo", _variant_t("True")},     {"By", _variant_t(200.4)},
      {"Sh", _variant_t("-123")},     {"Lo", _variant_t(7.5)},
      {"Si", _variant_t(0.1)},        {"Do", _variant_t(1.0f / 3.0f)},
      {"Cu", _variant_t(1.23456789)}, {"Da", _variant_t("2001-02-03 04:05:06")},
      {"Te", _variant_t(42L)},        {"Me", _variant_t(u"\u00e4\u20ac\U0001F600")},
      {"Te", _variant_t()},
  };
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM T WHERE ID > 0 ORDER BY ID");
  auto other = Open();
  for (const auto& [field, value] : edits) {
    SCOPED_TRACE(field);
    rs->MoveFirst();
    rs->Edit();
    rs->PutCollect(field, value);
    rs->Update();
    _variant_t cached = rs->GetCollect(field);
    _variant_t fresh = other->OpenRecordset("SELECT * FROM T WHERE ID = 1")->GetCollect(field);
    EXPECT_EQ(cached.vt, fresh.vt);
    EXPECT_TRUE(dao::ToValue(cached, "") == dao::ToValue(fresh, ""));
    rs->MoveNext();  // the other row is untouched
    EXPECT_EQ(Long(rs->GetCollect("Lo")), 2);
  }
  // A change elsewhere between the read and the Update is not hidden by the Update.
  rs->MoveFirst();
  EXPECT_EQ(Text(rs->GetCollect("Me")), dao::Utf8(u"\u00e4\u20ac\U0001F600"));
  other->Execute("UPDATE T SET Me = 'elsewhere' WHERE ID = 1");
  rs->Edit();
  rs->PutCollect("Lo", 9L);
  rs->Update();
  EXPECT_EQ(Text(rs->GetCollect("Me")), "elsewhere");
  EXPECT_EQ(Long(rs->GetCollect("Lo")), 9);

  // A computed field follows the columns it is computed from.
  RecordsetPtr q = db->OpenRecordset("SELECT ID, Lo, Lo * 2 AS Twice FROM T WHERE ID = 1");
  q->Edit();
  q->PutCollect("Lo", 21L);
  q->Update();
  EXPECT_EQ(Long(q->GetCollect("Twice")), 42);
}
