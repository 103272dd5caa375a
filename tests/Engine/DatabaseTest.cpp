// Databases: creation and opening, passwords, exclusive use, catalog and
// properties, transactions, compaction, several processes.
#include <grp.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "EngineTestSupport.h"
#include "Support/ChildProcess.h"

namespace {

using namespace enginetest;
using dao::RecordsetPtr;

TEST_F(EngineTest, OpenRefusesMissingForeignAndDamagedFiles) {
  EXPECT_DAO_ERROR(Open("missing.vdb"), 3024);
  { std::ofstream(Path("text.vdb")) << "this is not a database, just some text"; }
  EXPECT_DAO_ERROR(Open("text.vdb"), 3343);
  { std::ofstream(Path("empty.vdb")); }
  EXPECT_DAO_ERROR_TEXT(Open("empty.vdb"), 3343, "empty");
  {
    // A SQLite file made by someone else lacks the catalog.
    auto foreign = std::make_unique<dao::Connection>(Path("foreign.vdb"),
                                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    foreign->Exec("CREATE TABLE t(x)", "test");
  }
  EXPECT_DAO_ERROR(Open("foreign.vdb"), 3343);
  Create("good.vdb")->Close();
  EXPECT_DAO_ERROR(Create("good.vdb"), 3204);
  {
    // Damage the first page.
    std::fstream f(Path("good.vdb"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0);
    f << "garbage garbage garbage garbage";
  }
  EXPECT_DAO_ERROR(Open("good.vdb"), 3343);
}

TEST_F(EngineTest, PasswordGuardsTheOpenAndOnlyAHashIsStored) {
  Create("pw.vdb", ";PWD=s3cret")->Close();
  EXPECT_DAO_ERROR(Open("pw.vdb"), 3031);
  EXPECT_DAO_ERROR(Open("pw.vdb", ";PWD=S3cret"), 3031);  // case-sensitive
  EXPECT_DAO_ERROR(Open("pw.vdb", "MS Access;PWD=wrong"), 3031);
  auto db = Open("pw.vdb", "MS Access;pwd=s3cret");
  EXPECT_EQ(dao::Utf8(db->GetName()), Path("pw.vdb"));
  db->Close();
  std::ifstream in(Path("pw.vdb"), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.find("s3cret"), std::string::npos);
  // A file asking for a slower check than the engine ever writes is refused
  // at once instead of holding the open for minutes.
  dao::Connection(Path("pw.vdb"), SQLITE_OPEN_READWRITE)
      .Exec("UPDATE MSysInfo SET Value = '2000000000' WHERE Key = 'PasswordRounds'", "test");
  EXPECT_DAO_ERROR(Open("pw.vdb", ";PWD=s3cret"), 3343);
}

TEST_F(EngineTest, ExclusiveAndReadOnlyOpensAreHonoured) {
  CreateCustomers()->Close();
  {
    auto shared = Open();
    EXPECT_DAO_ERROR(Open("test.vdb", "", true), 3045);
  }
  auto exclusive = Open("test.vdb", "", true);
  EXPECT_DAO_ERROR(Open(), 3356);
  exclusive->Close();
  Open()->Close();
  // Read-only, shared or exclusive: it reads and refuses writes; exclusive keeps others out.
  for (bool alone : {false, true}) {
    SCOPED_TRACE(alone);
    auto db = m_engine->OpenDatabase(Path("test.vdb").c_str(), _variant_t(alone), _variant_t(true));
    EXPECT_EQ(CountRows(db, "Customers"), 3);
    EXPECT_DAO_ERROR(db->Execute("DELETE FROM Customers"), 3027);
    EXPECT_DAO_ERROR(db->Execute("CREATE TABLE t (x LONG)"), 3027);
    RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
    EXPECT_DAO_ERROR(rs->AddNew(), 3027);
    rs->Edit();
    rs->PutCollect("Name", "X");
    EXPECT_DAO_ERROR(rs->Update(), 3027);
    EXPECT_EQ(CountRows(db, "Customers WHERE Name = 'X'"), 0);
    if (alone) EXPECT_DAO_ERROR(Open(), 3356);
    db->Close();
  }
  Open()->Close();
}

TEST_F(EngineTest, TableDefsListOnlyUserTables) {
  auto db = CreateCustomers();
  db->Execute("CREATE TABLE Orders (OrderID COUNTER PRIMARY KEY, CustomerID LONG, Total DOUBLE)");
  auto defs = db->GetTableDefs();
  ASSERT_EQ(defs->GetCount(), 2);
  EXPECT_EQ(dao::Utf8(defs->GetItem(0L)->GetName()), "Customers");
  EXPECT_EQ(dao::Utf8(defs->GetItem(1L)->GetName()), "Orders");
  EXPECT_DAO_ERROR(defs->GetItem("MSysColumns"), 3265);
  EXPECT_DAO_ERROR(defs->GetItem("sqlite_sequence"), 3265);
  EXPECT_DAO_ERROR(db->Execute("CREATE TABLE MSysMine (x LONG)"), 3001);
  auto td = defs->GetItem("customers");  // names compare case-insensitively
  auto fields = td->GetFields();
  ASSERT_EQ(fields->GetCount(), 5);
  auto id = fields->GetItem("ID");
  EXPECT_EQ(id->GetType(), dao::dbLong);
  EXPECT_EQ(id->GetAttributes() & dao::dbAutoIncrField, dao::dbAutoIncrField);
  EXPECT_EQ(fields->GetItem("Name")->GetType(), dao::dbText);
  EXPECT_EQ(fields->GetItem("Name")->GetSize(), 20);
  EXPECT_EQ(fields->GetItem("Amount")->GetType(), dao::dbCurrency);
  EXPECT_EQ(fields->GetItem("Joined")->GetType(), dao::dbDate);
  EXPECT_EQ(fields->GetItem("Active")->GetType(), dao::dbBoolean);
  auto indexes = td->GetIndexes();
  ASSERT_EQ(indexes->GetCount(), 1);
  EXPECT_TRUE(indexes->GetItem(0L)->GetPrimary());
  EXPECT_EQ(dao::Utf8(indexes->GetItem(0L)->GetFields()->GetItem(0L)->GetName()), "ID");
}

TEST_F(EngineTest, TablesBuiltThroughObjectsMatchDdl) {
  auto db = Create();
  auto td = db->CreateTableDef("People");
  auto id = td->CreateField("PersonID", static_cast<LONG>(dao::dbLong));
  id->PutAttributes(id->GetAttributes() | dao::dbAutoIncrField);
  td->GetFields()->Append(id);
  td->GetFields()->Append(td->CreateField("Name", static_cast<LONG>(dao::dbText), 30L));
  td->GetFields()->Append(td->CreateField("Code", static_cast<LONG>(dao::dbText), 10L));
  auto pk = td->CreateIndex("PrimaryKey");
  pk->PutPrimary(VARIANT_TRUE);
  pk->GetFields()->Append(pk->CreateField("PersonID"));
  td->GetIndexes()->Append(pk);
  auto unique = td->CreateIndex("ByCode");
  unique->PutUnique(VARIANT_TRUE);
  unique->GetFields()->Append(unique->CreateField("Code"));
  unique->GetProperties()->Append(
      unique->CreateProperty("Description", static_cast<LONG>(dao::dbText), "codes"));
  td->GetIndexes()->Append(unique);
  td->GetProperties()->Append(
      td->CreateProperty("Description", static_cast<LONG>(dao::dbText), "DM people"));
  auto name = td->GetFields()->GetItem("Name");
  name->GetProperties()->Append(name->CreateProperty("Enum", static_cast<LONG>(dao::dbLong), 7L));
  db->GetTableDefs()->Append(td);

  RecordsetPtr rs = db->OpenRecordset("People");
  rs->AddNew();
  EXPECT_EQ(Long(rs->GetCollect("PersonID")), 1);
  rs->PutCollect("Name", "Ann");
  rs->PutCollect("Code", "A1");
  rs->Update();
  rs->AddNew();
  rs->PutCollect("Code", "a1");  // the unique index compares text case-insensitively
  EXPECT_DAO_ERROR(rs->Update(), 3022);
  rs->CancelUpdate();
  auto stored = db->GetTableDefs()->GetItem("People");
  EXPECT_EQ(Text(stored->GetProperties()->GetItem("Description")->GetValue()), "DM people");
  EXPECT_EQ(
      Long(stored->GetFields()->GetItem("Name")->GetProperties()->GetItem("Enum")->GetValue()), 7);
  EXPECT_EQ(stored->GetIndexes()->GetCount(), 2);
  auto byCode = stored->GetIndexes()->GetItem("ByCode");
  EXPECT_EQ(Text(byCode->GetProperties()->GetItem("Description")->GetValue()), "codes");
  // An index added to the stored table keeps its properties too.
  auto byName = stored->CreateIndex("ByName");
  byName->GetFields()->Append(byName->CreateField("Name"));
  byName->GetProperties()->Append(
      byName->CreateProperty("Enum", static_cast<LONG>(dao::dbLong), 4L));
  stored->GetIndexes()->Append(byName);
  EXPECT_EQ(Long(db->GetTableDefs()
                     ->GetItem("People")
                     ->GetIndexes()
                     ->GetItem("ByName")
                     ->GetProperties()
                     ->GetItem("Enum")
                     ->GetValue()),
            4);
  EXPECT_DAO_ERROR(db->GetTableDefs()->Append(td), 3367);
}

TEST_F(EngineTest, FieldsAppendedToAnExistingTableAppearInRecordsets) {
  auto db = CreateCustomers();
  RecordsetPtr before = db->OpenRecordset("SELECT * FROM Customers");
  EXPECT_EQ(before->GetFields()->GetCount(), 5);
  auto td = db->GetTableDefs()->GetItem("Customers");
  td->GetFields()->Append(td->CreateField("Notes", static_cast<LONG>(dao::dbMemo)));
  EXPECT_DAO_ERROR(
      td->GetFields()->Append(td->CreateField("notes", static_cast<LONG>(dao::dbText))), 3367);
  RecordsetPtr after = db->OpenRecordset("SELECT * FROM Customers");
  EXPECT_EQ(after->GetFields()->GetCount(), 6);
  after->Edit();
  after->PutCollect("Notes", "long text");
  after->Update();
  EXPECT_EQ(Text(after->GetCollect("Notes")), "long text");
  EXPECT_EQ(db->GetTableDefs()->GetItem("Customers")->GetFields()->GetItem("Notes")->GetType(),
            dao::dbMemo);
  // Another connection that had read the table before sees the new field
  // with its type in its next recordset, and can write it.
  auto other = Open();
  other->OpenRecordset("SELECT * FROM Customers WHERE ID = 1")->Close();
  EXPECT_EQ(other->GetTableDefs()->GetItem("Customers")->GetFields()->GetCount(), 6);
  td->GetFields()->Append(td->CreateField("Code", static_cast<LONG>(dao::dbText), 4L));
  db->Execute("CREATE TABLE Later (N LONG)");
  // Its TableDefs see them as well.
  EXPECT_EQ(other->GetTableDefs()->GetItem("Customers")->GetFields()->GetCount(), 7);
  EXPECT_EQ(other->GetTableDefs()->GetItem("Later")->GetFields()->GetItem("N")->GetType(),
            dao::dbLong);
  RecordsetPtr seen = other->OpenRecordset("SELECT * FROM Customers WHERE ID = 2");
  ASSERT_EQ(seen->GetFields()->GetCount(), 7);
  EXPECT_EQ(seen->GetFields()->GetItem("Code")->GetType(), dao::dbText);
  seen->Edit();
  seen->PutCollect("Code", "AB");
  EXPECT_DAO_ERROR(seen->PutCollect("Code", "ABCDE"), 3163);  // its size is known too
  seen->Update();
  EXPECT_EQ(Text(db->OpenRecordset("SELECT Code FROM Customers WHERE ID = 2")->GetCollect("Code")),
            "AB");
}

TEST_F(EngineTest, PropertiesOnEveryObjectPersistAcrossReopen) {
  {
    auto db = CreateCustomers();
    db->CreateQueryDef("qryAll", "SELECT * FROM Customers");
    auto props = db->GetProperties();
    props->Append(
        db->CreateProperty("vemDriverVersion", static_cast<LONG>(dao::dbLong), 0x01010000L));
    props->Append(db->CreateProperty("EnumRecordDefMax", static_cast<LONG>(dao::dbLong), 10L));
    EXPECT_DAO_ERROR(
        props->Append(db->CreateProperty("enumrecorddefmax", static_cast<LONG>(dao::dbLong), 1L)),
        3367);
    auto td = db->GetTableDefs()->GetItem("Customers");
    td->GetProperties()->Append(
        td->CreateProperty("Description", static_cast<LONG>(dao::dbText), "DM1"));
    td->GetProperties()->Append(td->CreateProperty("Enum", static_cast<LONG>(dao::dbLong), 3L));
    auto field = td->GetFields()->GetItem("Name");
    field->GetProperties()->Append(
        field->CreateProperty("Description", static_cast<LONG>(dao::dbText), "CRYPT STRING"));
    auto q = db->GetQueryDefs()->GetItem("qryAll");
    q->GetProperties()->Append(
        q->CreateProperty("Description", static_cast<LONG>(dao::dbText), "DM query"));
    auto qf = q->GetFields()->GetItem("ID");
    qf->GetProperties()->Append(
        qf->CreateProperty("Description", static_cast<LONG>(dao::dbText), "ID field"));
    // A property whose value cannot take its type is refused.
    EXPECT_DAO_ERROR(props->Append(db->CreateProperty("Bad", static_cast<LONG>(dao::dbLong), "x")),
                     3421);
    props->GetItem("EnumRecordDefMax")->PutValue(11L);
  }
  auto db = Open();
  auto p = db->GetProperties()->GetItem("vemDriverVersion");
  EXPECT_EQ(p->GetType(), dao::dbLong);
  _variant_t v = p->GetValue();
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 0x01010000);
  EXPECT_EQ(Long(db->GetProperties()->GetItem("EnumRecordDefMax")->GetValue()), 11);
  EXPECT_DAO_ERROR(db->GetProperties()->GetItem("Bad"), 3270);
  auto td = db->GetTableDefs()->GetItem("Customers");
  EXPECT_EQ(Text(td->GetProperties()->GetItem("Description")->GetValue()), "DM1");
  EXPECT_EQ(td->GetProperties()->GetItem("Enum")->GetValue().vt, VT_I4);
  EXPECT_EQ(
      Text(td->GetFields()->GetItem("Name")->GetProperties()->GetItem("Description")->GetValue()),
      "CRYPT STRING");
  EXPECT_DAO_ERROR(td->GetFields()->GetItem("Amount")->GetProperties()->GetItem("Description"),
                   3270);
  // A recordset's field shows the properties of its table field.
  RecordsetPtr rs = db->OpenRecordset("SELECT Name FROM Customers");
  EXPECT_EQ(
      Text(rs->GetFields()->GetItem("Name")->GetProperties()->GetItem("Description")->GetValue()),
      "CRYPT STRING");
  auto q = db->GetQueryDefs()->GetItem("qryAll");
  EXPECT_EQ(Text(q->GetProperties()->GetItem("Description")->GetValue()), "DM query");
  EXPECT_EQ(
      Text(q->GetFields()->GetItem("ID")->GetProperties()->GetItem("Description")->GetValue()),
      "ID field");
  EXPECT_EQ(dao::Utf8(q->GetSQL()), "SELECT * FROM Customers");
  EXPECT_EQ(db->GetQueryDefs()->GetCount(), 1);
}

TEST_F(EngineTest, NestedTransactionsRollBackTheRightLevel) {
  auto db = CreateCustomers();
  EXPECT_DAO_ERROR(db->CommitTrans(), 3034);
  EXPECT_DAO_ERROR(db->Rollback(), 3034);
  // Inner rolled back, outer committed.
  db->BeginTrans();
  db->Execute("INSERT INTO Customers (Name) VALUES ('outer1')");
  db->BeginTrans();
  db->Execute("INSERT INTO Customers (Name) VALUES ('inner1')");
  db->Rollback();
  db->CommitTrans();
  EXPECT_EQ(CountRows(db, "Customers WHERE Name = 'outer1'"), 1);
  EXPECT_EQ(CountRows(db, "Customers WHERE Name = 'inner1'"), 0);
  // Inner committed, outer rolled back: both gone.
  db->BeginTrans();
  db->Execute("INSERT INTO Customers (Name) VALUES ('outer2')");
  db->BeginTrans();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  rs->AddNew();
  rs->PutCollect("Name", "inner2");
  rs->Update();
  db->CommitTrans();
  db->Rollback();
  EXPECT_EQ(CountRows(db, "Customers WHERE Name LIKE '*2'"), 0);
  // Five levels, not six.
  for (int i = 0; i < 5; ++i) db->BeginTrans();
  EXPECT_DAO_ERROR(db->BeginTrans(), 3003);
  for (int i = 0; i < 4; ++i) db->CommitTrans();
  db->CommitTrans(dao::dbForceOSFlush);
  // Another connection sees committed work only.
  db->BeginTrans();
  db->Execute("UPDATE Customers SET Amount = 1");
  auto other = Open();
  EXPECT_EQ(CountRows(other, "Customers WHERE Amount = 1"), 0);
  db->CommitTrans(1);
  EXPECT_EQ(CountRows(other, "Customers WHERE Amount = 1"), CountRows(db, "Customers"));
}

TEST_F(EngineTest, CompactedCopyHoldsTheSameRowsAndProperties) {
  {
    auto db = CreateCustomers();
    db->GetProperties()->Append(
        db->CreateProperty("vemDatabaseVersion", static_cast<LONG>(dao::dbLong), 5L));
    db->Execute("DELETE FROM Customers WHERE Name = 'Bob'");
    // Open elsewhere: refused.
    EXPECT_DAO_ERROR(m_engine->CompactDatabase(Path("test.vdb").c_str(), Path("copy.vdb").c_str()),
                     3045);
  }
  m_engine->CompactDatabase(Path("test.vdb").c_str(), Path("copy.vdb").c_str());
  EXPECT_DAO_ERROR(m_engine->CompactDatabase(Path("test.vdb").c_str(), Path("copy.vdb").c_str()),
                   3204);
  EXPECT_DAO_ERROR(m_engine->CompactDatabase(Path("none.vdb").c_str(), Path("x.vdb").c_str()),
                   3024);
  auto copy = Open("copy.vdb");
  EXPECT_EQ(CountRows(copy, "Customers"), 2);
  EXPECT_EQ(Long(copy->GetProperties()->GetItem("vemDatabaseVersion")->GetValue()), 5);
  RecordsetPtr rs = copy->OpenRecordset("SELECT * FROM Customers");
  rs->AddNew();
  EXPECT_EQ(Long(rs->GetCollect("ID")), 4);  // AutoNumbers continue, never reused
  rs->CancelUpdate();
  copy->Close();
  // Password protected: the copy takes the password of its connect text.
  Create("pw.vdb", ";PWD=one")->Close();
  EXPECT_DAO_ERROR(
      m_engine->CompactDatabase(Path("pw.vdb").c_str(), Path("pw2.vdb").c_str(), ";PWD=bad"), 3031);
  EXPECT_FALSE(std::filesystem::exists(Path("pw2.vdb")));
  m_engine->CompactDatabase(Path("pw.vdb").c_str(), Path("pw2.vdb").c_str(), ";PWD=two",
                            dao::vtMissing(), ";PWD=one");
  EXPECT_DAO_ERROR(Open("pw2.vdb", ";PWD=one"), 3031);
  Open("pw2.vdb", ";PWD=two")->Close();
}

TEST_F(EngineTest, CompactionInPlaceReplacesTheFileByOneRename) {
  const std::string path = Path("test.vdb"), temp = Path("dbtemp.vdb");
  auto journalMode = [&] {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string mode;
    sqlite3_exec(
        db, "PRAGMA journal_mode",
        [](void* p, int, char** values, char**) {
          *static_cast<std::string*>(p) = values[0];
          return 0;
        },
        &mode, nullptr);
    sqlite3_close(db);
    return mode;
  };
  auto inode = [&] {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  ino_t original = 0;
  {
    auto db = CreateCustomers();
    original = inode();
    db->Execute("DELETE FROM Customers WHERE Name = 'Bob'");
    // Open elsewhere: refused, nothing changes.
    EXPECT_DAO_ERROR(m_engine->CompactDatabaseInPlace(path.c_str(), temp.c_str()), 3045);
  }
  std::ofstream(temp) << "taken";
  EXPECT_DAO_ERROR(m_engine->CompactDatabaseInPlace(path.c_str(), temp.c_str()), 3204);
  std::filesystem::remove(temp);
  EXPECT_EQ(inode(), original);
  EXPECT_EQ(journalMode(), "wal");
  // What a crash during an earlier compaction leaves: the marker naming its
  // unfinished copy, the copy with its journal. The next compaction removes
  // them, but never the database itself or a file elsewhere, whatever the
  // marker names.
  const std::string stale = Path("dbstale.vdb"), marker = path + "-compacting";
  std::filesystem::create_directories(Path("sub"));
  std::ofstream(Path("sub/x.vdb")) << "kept";
  std::ofstream(stale) << "unfinished";
  std::ofstream(stale + "-journal") << "journal";
  for (const std::string& named : {path, Path("sub/x.vdb"), std::string("dbstale.vdb"), stale}) {
    SCOPED_TRACE(named);
    std::ofstream(marker) << named << "\n";
    m_engine->CompactDatabaseInPlace(path.c_str(), temp.c_str());
    EXPECT_TRUE(std::filesystem::exists(Path("sub/x.vdb")));
    EXPECT_EQ(std::filesystem::exists(stale), named != stale);
    EXPECT_EQ(std::filesystem::exists(stale + "-journal"), named != stale);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_FALSE(std::filesystem::exists(temp));
    auto db = Open();
    EXPECT_EQ(CountRows(db, "Customers"), 2);
    db->Close();
  }
  EXPECT_NE(inode(), original);
  EXPECT_EQ(journalMode(), "wal");
  // A compaction killed before its rename leaves the file in rollback-journal mode: the next
  // writable open puts it back into WAL.
  sqlite3* raw = nullptr;
  sqlite3_open(path.c_str(), &raw);
  sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  ASSERT_EQ(journalMode(), "delete");
  Open()->Close();
  EXPECT_EQ(journalMode(), "wal");
}

TEST_F(EngineTest, TwoProcessesAppendingToOneTableLoseNothing) {
  CreateCustomers()->Close();
  constexpr int kPerProcess = 200;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        auto engine = dao::CreateDBEngine();
        auto db = engine->OpenDatabase(Path("test.vdb").c_str());
        RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers WHERE ID = 0");
        std::string name = "p";  // built by appending: GCC 12 misreads "p" + string (-Wrestrict)
        name += std::to_string(c);
        for (int i = 0; i < kPerProcess; ++i) {
          if (i % 50 == 0) db->BeginTrans();
          rs->AddNew();
          rs->PutCollect("Name", name.c_str());
          rs->PutCollect("Amount", static_cast<LONG>(i));
          rs->Update();
          if (i % 50 == 49) db->CommitTrans();
        }
      } catch (...) {
        status = 1;
      }
      _exit(status);
    }
    children[c] = pid;
  }
  for (pid_t pid : children) {
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto db = Open();
  EXPECT_EQ(CountRows(db, "Customers"), 3 + 2 * kPerProcess);
  EXPECT_EQ(CountRows(db, "Customers WHERE Name = 'p0'"), kPerProcess);
}

// A file this process may not write: in a directory it may not write (where
// the -shm that readers share cannot be made) or with mode 444. As root, whom
// file modes do not stop, the reading child drops to the user "nobody".
TEST_F(EngineTest, FilesThisProcessMayNotWriteAreReadReadOnly) {
  namespace fs = std::filesystem;
  const fs::path dir = m_dir.path();
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  fs::create_directory(dir / "ro");
  fs::create_directory(dir / "rw");
  CreateCustomers("ro/a.vdb")->Close();
  CreateCustomers("rw/b.vdb")->Close();
  const auto readOnlyFile = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto readOnlyDir =
      readOnlyFile | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  fs::permissions(dir / "ro" / "a.vdb", readOnlyFile);
  fs::permissions(dir / "ro", readOnlyDir);
  fs::permissions(dir / "rw" / "b.vdb", readOnlyFile);
  fs::permissions(dir / "rw", fs::perms::all);
  // The child answers 0, or the number of the step that went wrong.
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd& parent) -> int {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      return 99;
    auto engine = dao::CreateDBEngine();
    int step = 0;
    auto refused = [&](const std::function<void()>& write, int number) {
      try {
        write();
      } catch (const _com_error& e) {
        return DaoNumber(e) == number;
      }
      return false;
    };
    try {
      for (const char* name : {"ro/a.vdb", "rw/b.vdb"}) {
        for (bool readOnly : {true, false}) {  // as asked, or found so at open
          auto db =
              engine->OpenDatabase(Path(name).c_str(), _variant_t(false), _variant_t(readOnly));
          if (++step, CountRows(db, "Customers") != 3) return step;
          if (++step, !refused([&] { db->Execute("DELETE FROM Customers"); }, 3027)) return step;
          RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
          if (++step, !refused([&] { rs->AddNew(); }, 3027)) return step;
        }
        // Exclusive use needs a lock this process cannot take: refused plainly.
        auto exclusive = [&] {
          engine->OpenDatabase(Path(name).c_str(), _variant_t(true), _variant_t(true));
        };
        if (++step, !refused(exclusive, 3027)) return step;
      }
      // Read without sharing: another process opening the file is noticed.
      auto db = engine->OpenDatabase(Path("ro/a.vdb").c_str(), _variant_t(false), _variant_t(true));
      if (++step, CountRows(db, "Customers") != 3) return step;
      parent.Send('r');
      if (++step, parent.Receive() != 'w') return step;
      if (++step, !refused([&] { CountRows(db, "Customers"); }, 3045)) return step;
    } catch (const _com_error& e) {
      return 100 + step;
    }
    return 0;
  });
  ASSERT_EQ(child.channel().Receive(), 'r');
  fs::permissions(dir / "ro", fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(dir / "ro" / "a.vdb", fs::perms::owner_write, fs::perm_options::add);
  {
    auto writer = Open("ro/a.vdb");
    writer->Execute("INSERT INTO Customers (Name) VALUES ('Dan')");
    child.channel().Send('w');
    EXPECT_EQ(child.Wait(), 0);
  }
  fs::permissions(dir / "rw" / "b.vdb", fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(EngineTest, AutoNumberOutsideThePrimaryKeyIsAssignedToo) {
  auto db = Create();
  db->Execute("CREATE TABLE Codes (Code TEXT(5) PRIMARY KEY, N COUNTER, Label TEXT(20))");
  db->Execute("INSERT INTO Codes (Code, N) VALUES ('Z', 5)");  // before any AddNew
  RecordsetPtr rs = db->OpenRecordset("Codes");
  for (const char* code : {"A", "B"}) {
    rs->AddNew();
    rs->PutCollect("Code", code);
    rs->Update();
  }
  db->Execute("INSERT INTO Codes (Code, N) VALUES ('C', 10)");
  rs->AddNew();
  EXPECT_EQ(Long(rs->GetCollect("N")), 11);  // past every stored number
  rs->PutCollect("Code", "D");
  rs->Update();
  db->Execute("UPDATE Codes SET N = 30 WHERE Code = 'Z'");
  rs->AddNew();
  EXPECT_EQ(Long(rs->GetCollect("N")), 31);
  rs->PutCollect("Code", "E");
  rs->Update();
  rs->Requery();
  std::set<LONG> numbers;
  for (; !rs->GetEOF(); rs->MoveNext()) numbers.insert(Long(rs->GetCollect("N")));
  EXPECT_EQ(numbers, (std::set<LONG>{6, 7, 10, 11, 30, 31}));
  // The key is a text: a duplicate is refused and the table is unchanged.
  rs->AddNew();
  rs->PutCollect("Code", "a");
  EXPECT_DAO_ERROR(rs->Update(), 3022);
  EXPECT_EQ(CountRows(db, "Codes"), 6);
}

TEST_F(EngineTest, ClosedObjectsRefuseWork) {
  auto db = CreateCustomers();
  RecordsetPtr rs = db->OpenRecordset("SELECT * FROM Customers");
  rs->Close();
  EXPECT_DAO_ERROR(rs->MoveNext(), 3420);
  RecordsetPtr rs2 = db->OpenRecordset("SELECT * FROM Customers");
  db->Close();
  EXPECT_DAO_ERROR(rs2->GetCollect("Name"), 3420);
  EXPECT_DAO_ERROR(db->OpenRecordset("SELECT * FROM Customers"), 3420);
  auto db2 = Open();
  RecordsetPtr rs3 = db2->OpenRecordset("SELECT * FROM Customers");
  EXPECT_EQ(rs3->get_Fields(nullptr), E_POINTER);
  EXPECT_EQ(rs3->get_Collect(_variant_t("Name"), nullptr), E_POINTER);
  EXPECT_EQ(db2->GetTableDefs()->raw_Append(nullptr), E_POINTER);
}

}  // namespace
