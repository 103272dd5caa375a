// DaoRecordsetStrategy on real database files: query building with
// placeholders, filter and sort, navigation (failed moves traced and
// answered false), finds, append / update / delete through the views, and
// the closed strategy.
#include <gtest/gtest.h>

#include "DataBase/AccessDriver/DaoRecordsetStrategy.h"
#include "DataBase/AccessDriver/IRecordsetStrategy.h"
#include "DriverFixture.h"

namespace drivertest {
namespace {

using vemtest::TestRecord;

class RecordsetStrategyTest : public DriverTest {
 protected:
  void SetUp() override { BuildModel(); }

  std::unique_ptr<IRecordsetStrategy> Strategy(LONG lRecordDef) {
    return Db(Rec(lRecordDef).m_lDatabaseID).CreateRecordsetStrategy(Rec(lRecordDef));
  }
  // Appends plain rows (ID, Name, L) through a strategy.
  void AppendRows(const std::vector<std::pair<LONG, std::string>>& rows) {
    std::unique_ptr<IRecordsetStrategy> rs = Strategy(kPlain);
    rs->Open();
    for (const auto& [id, name] : rows) {
      TestRecord record(kPlain);
      record.Long(kID, id);
      IDaoSaver& saver = rs->BeginAppend(record);
      saver.PutLong(kID, id);
      saver.PutString(kName, name);
      saver.PutLong(kL, id * 10);
      EXPECT_TRUE(rs->FinishAppend());
    }
    rs->Close();
  }
  // The ids of the rows in cursor order.
  std::vector<LONG> Ids(IRecordsetStrategy& rs) {
    std::vector<LONG> ids;
    if (!rs.MoveFirst()) return ids;
    do {
      LONG id = 0;
      rs.GetLoader().GetLong(kID, id);
      ids.push_back(id);
    } while (rs.MoveNext());
    return ids;
  }
};

TEST_F(RecordsetStrategyTest, PlaceholdersBecomeColumnNames) {
  EXPECT_EQ(DaoRecordsetStrategy::TranslatePlaceholders(Rec(kPlain), "{7} = 5"), "L = 5");
  EXPECT_EQ(DaoRecordsetStrategy::TranslatePlaceholders(Rec(kPlain), "{1} & {1} <> '{1}' {99}"),
            "Name & Name <> 'Name' {99}");
  DaoRecordsetStrategy rs(Db(0), Rec(kPlain));
  EXPECT_EQ(rs.BuildQuery(), "SELECT * FROM tblPlain");
  rs.Filter("{7} = 5");
  rs.Sort("{1} DESC");
  EXPECT_EQ(rs.BuildQuery(), "SELECT * FROM tblPlain WHERE L = 5 ORDER BY Name DESC");
  rs.Sort("ID");
  EXPECT_EQ(rs.BuildQuery(), "SELECT * FROM tblPlain WHERE L = 5 ORDER BY ID");
}

TEST_F(RecordsetStrategyTest, EmptyTableOpensWithoutMoving) {
  std::unique_ptr<IRecordsetStrategy> rs = Strategy(kPlain);
  rs->Open();
  EXPECT_TRUE(rs->IsOpen());
  EXPECT_TRUE(rs->IsBOF());
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_EQ(rs->GetRecordCount(), 0);
  EXPECT_EQ(Traces(), 0u);
  // Without a current record reads and edits fail with the engine's 3021,
  // traced once each.
  LONG l = 0;
  EXPECT_VEM_ERROR(rs->GetLoader().GetLong(kL, l), 0x800A0BCD);
  EXPECT_VEM_ERROR(rs->BeginUpdate(), 0x800A0BCD);
  EXPECT_VEM_ERROR(rs->Delete(), 0x800A0BCD);
  EXPECT_EQ(Traces(), 3u);
  // Appending hands the counter's value back to the record.
  std::unique_ptr<IRecordsetStrategy> autoRs = Strategy(kAuto);
  autoRs->Open();
  TestRecord a(kAuto);
  a.Long(kAID, 0);
  autoRs->BeginAppend(a).PutString(kAName, "x");
  autoRs->FinishAppend();
  EXPECT_EQ(a.Value(kAID).m_lValue, 1);
}

TEST_F(RecordsetStrategyTest, NavigationFilterSortFindsUpdateAndDelete) {
  AppendRows({{1, "Cid"}, {2, "Ann"}, {3, "Bob"}, {4, "O'Neil"}});
  std::unique_ptr<IRecordsetStrategy> rs = Strategy(kPlain);
  rs->Filter("{7} >= 20");  // closed: only stored
  EXPECT_FALSE(rs->IsOpen());
  rs->Open();
  EXPECT_EQ(rs->GetRecordCount(), 3);
  EXPECT_EQ(rs->GetPosition(), 0);
  EXPECT_EQ(Ids(*rs), (std::vector<LONG>{2, 3, 4}));
  rs->Sort("{1} DESC");  // open: re-opens at once
  EXPECT_EQ(Ids(*rs), (std::vector<LONG>{4, 3, 2}));
  rs->Filter("");
  rs->Sort("");
  EXPECT_EQ(rs->GetRecordCount(), 4);

  EXPECT_TRUE(rs->MoveLast());
  const std::size_t before = Traces();
  EXPECT_FALSE(rs->MoveNext());  // onto EOF
  EXPECT_TRUE(rs->IsEOF());
  EXPECT_FALSE(rs->MoveNext());  // past EOF: the engine refuses, traced
  EXPECT_FALSE(rs->MoveTo(10));  // past the end: traced
  EXPECT_EQ(Traces(), before + 2);
  const std::string trace = m_backChannel.TraceTexts().back();
  EXPECT_EQ(trace.rfind("VEM DaoException(46): DAO.Recordset: ", 0), 0u) << trace;
  EXPECT_TRUE(rs->MoveTo(2));
  EXPECT_EQ(rs->GetPosition(), 2);
  EXPECT_TRUE(rs->MoveFirst());
  EXPECT_FALSE(rs->MovePrev());

  EXPECT_TRUE(rs->FindFirst("{1} = 'O''Neil'"));
  LONG id = 0;
  rs->GetLoader().GetLong(kID, id);
  EXPECT_EQ(id, 4);
  EXPECT_TRUE(rs->FindPrev("{7} < 40"));
  rs->GetLoader().GetLong(kID, id);
  EXPECT_EQ(id, 3);
  EXPECT_TRUE(rs->FindLast("{1} Like 'B*' Or {1} = 'Cid'"));
  rs->GetLoader().GetLong(kID, id);
  EXPECT_EQ(id, 3);
  EXPECT_TRUE(rs->FindFirst("{7} > 0"));
  EXPECT_TRUE(rs->FindNext("{7} > 0"));
  rs->GetLoader().GetLong(kID, id);
  EXPECT_EQ(id, 2);
  EXPECT_FALSE(rs->FindFirst("{1} = 'nobody'"));
  EXPECT_TRUE(rs->IsOpen());
  // A condition the engine cannot read is raised, translated.
  EXPECT_VEM_ERROR(rs->FindFirst("{1} = = 'x'"), 0x800A0C05);

  // Update and delete through the views.
  ASSERT_TRUE(rs->FindFirst("{0} = 2"));
  rs->BeginUpdate().PutString(kName, "B");
  EXPECT_TRUE(rs->FinishUpdate());
  std::string name;
  rs->GetLoader().GetString(kName, name);
  EXPECT_EQ(name, "B");
  EXPECT_TRUE(rs->GetLoader().Open(*std::make_unique<TestRecord>(kPlain)));
  ASSERT_TRUE(rs->MoveFirst());
  rs->Delete();
  rs->Refresh();
  EXPECT_EQ(Ids(*rs), (std::vector<LONG>{2, 3, 4}));
  EXPECT_EQ(RawLong("SELECT Sum(ID) AS n FROM tblPlain"), 9);
  EXPECT_EQ(std::string(_bstr_t(RawValue(MainPath(), ";PWD=pw0",
                                         "SELECT Name FROM tblPlain WHERE ID = 2", "Name"))),
            "B");
}

TEST_F(RecordsetStrategyTest, ClosedStrategyRaisesEPointer) {
  std::unique_ptr<IRecordsetStrategy> rs = Strategy(kPlain);
  const std::string text = EXPECT_VEM_ERROR(rs->GetRecordCount(), E_POINTER);
  EXPECT_EQ(text,
            "VemAccessDriver: the recordset strategy over tblPlain is not open - error code: "
            "0x80004003");
  EXPECT_VEM_ERROR(rs->IsEOF(), E_POINTER);
  EXPECT_VEM_ERROR(rs->FindFirst("ID = 1"), E_POINTER);
  LONG l = 0;
  EXPECT_VEM_ERROR(rs->GetLoader().GetLong(kL, l), E_POINTER);
  EXPECT_VEM_ERROR(rs->GetSaver().PutLong(kL, 1), E_POINTER);
  TestRecord record(kPlain);
  EXPECT_VEM_ERROR(rs->BeginAppend(record), E_POINTER);
  // The moves let the engine's error pass untranslated.
  try {
    rs->MoveNext();
    ADD_FAILURE() << "MoveNext on a closed strategy did not fail";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_POINTER);
  }
  rs->Close();  // closing a closed strategy does nothing
  rs->Refresh();
}

}  // namespace
}  // namespace drivertest
