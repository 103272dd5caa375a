// Check and compaction of the blob files: what compaction keeps, drops and
// repairs; what the check refuses (the file and the tables then stay as
// they were); the progress reports; interrupted compactions finished by the
// next open; and processes killed while compacting. Every case ends with
// the independent table-versus-files check (CheckStore).
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <thread>

#include "BlobFixture.h"
#include "DataBase/AccessDriver/DaoSaver.h"
#include "Support/ChildProcess.h"

namespace drivertest {
namespace {

namespace fs = std::filesystem;

void PatchLong(const std::string& path, long offset, ULONG value) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  BYTE bytes[4];
  EncodeFixed32(bytes, value);
  f.seekp(offset);
  f.write(reinterpret_cast<const char*>(bytes), 4);
}

ULONG LongAt(const std::string& path, std::size_t offset) {
  const Bytes b = FileBytes(path);
  return b.size() >= offset + 4 ? DecodeFixed32(&b[offset]) : 0xFFFFFFFFu;
}

void Sql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

class BlobCompactTest : public BlobTest {
 protected:
  std::vector<std::pair<SHORT, SHORT>> ProgressPairs() {
    std::vector<std::pair<SHORT, SHORT>> out;
    for (const auto& c : m_backChannel.Calls(vemtest::BackChannelCallKind::Progress))
      out.emplace_back(c.nPercent, c.eAction);
    return out;
  }
};

// Compaction of files the check accepts, from three stored blobs (one
// file): live blocks are kept (and moved; a strategy that loaded a moved
// block never reads it at its old place), deleted ones dropped with their
// rows; a deleted row that cannot be deleted keeps its block and marks the
// file; a header that counts more than the table, or a live block flagged
// deleted, are repaired.
TEST_F(BlobCompactTest, CompactionKeepsLiveBlocksAndDropsDeletedOnes) {
  using Ids = std::vector<LONG>;
  auto releaseAll = [&](const Ids& ids) {
    for (LONG id : ids) Release(id);
  };
  auto keepFirstRow = [&](const Ids& ids) {
    Release(ids[0]);
    Release(ids[2]);
    m_pModel.reset();
    const std::string trigger =
        "CREATE TRIGGER keep BEFORE DELETE ON tblBLOB_BLOCKS WHEN old.BLOB_ID = " +
        std::to_string(ids[0]) + " BEGIN SELECT RAISE(ABORT, 'kept'); END";
    Sql(MainPath(), trigger.c_str());
    BuildModel();
  };
  auto growHeaderTotal = [&](const Ids& ids) {
    std::ofstream(FilePath(FileOf(ids[0])), std::ios::app | std::ios::binary)
        << std::string(77, 'x');
    PatchLong(FilePath(FileOf(ids[0])), 268, 288 + 120 + 220 + 320 + 77);
  };
  auto flagDeleted = [&](const Ids& ids) {
    PatchLong(FilePath(FileOf(ids[1])), StartOf(ids[1]) + 16, 1);
  };
  const struct {
    const char* name;
    std::function<void(const Ids&)> prepare;
    const char* kept;  // which of the three blobs keep a row
    LONG fileLength;
    ULONG flags;
    bool unchanged;  // the file's bytes are as before
  } cases[] = {
      {"all live", [](const Ids&) {}, "111", 288 + 120 + 220 + 320, 0, true},
      {"middle deleted", [&](const Ids& ids) { Release(ids[1]); }, "101", 288 + 120 + 320, 0,
       false},
      {"all deleted", releaseAll, "000", 288, 0, false},
      {"deleted row that cannot be deleted", keepFirstRow, "110", 288 + 120 + 220, 1, false},
      {"header total larger than the table's", growHeaderTotal, "111", 288 + 120 + 220 + 320, 0,
       false},
      {"live block flagged deleted", flagDeleted, "111", 288 + 120 + 220 + 320, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetStore();
    std::vector<LONG> ids;
    for (int i = 1; i <= 3; ++i) ids.push_back(Store(Pattern(100 * i, i)));
    const std::string path = FilePath(FileOf(ids[0]));
    c.prepare(ids);
    const Bytes before = FileBytes(path);
    auto stale = NewBlob();  // loaded before the compaction
    stale->Load(ids[2]);
    const LONG lOldStart = StartOf(ids[2]);
    EXPECT_TRUE(Db(0).CompactBlobFiles());
    if (c.kept[2] == '1' && StartOf(ids[2]) != lOldStart) {
      LONG lLength = 0;
      EXPECT_EQ(stale->OpenReadHandle(&lLength), nullptr);
    }
    const Bytes after = FileBytes(path);
    EXPECT_EQ(static_cast<LONG>(after.size()), c.fileLength);
    EXPECT_EQ(after == before, c.unchanged);
    EXPECT_EQ(LongAt(path, 280), c.flags);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      EXPECT_EQ(Blocks("BLOB_ID = " + std::to_string(ids[i])), c.kept[i] == '1' ? 1 : 0) << i;
      if (c.kept[i] == '1' && RefsOf(ids[i]) > 0) {
        EXPECT_EQ(Read(ids[i], i % 2 == 0), Pattern(100 * (i + 1), static_cast<int>(i + 1)));
      }
    }
    CheckStore();
    Sql(MainPath(), "DROP TRIGGER IF EXISTS keep");
  }
}

// Files the check refuses are reported with its code and left as they are,
// tables included; the other files are still compacted.
TEST_F(BlobCompactTest, CheckRefusesDamagedFilesAndLeavesThemAlone) {
  struct Case {
    const char* name;
    std::function<void(const std::string& path, LONG blob)> damage;
    ULONG code;
  };
  const Case cases[] = {
      {"file header version", [](const std::string& p, LONG) { PatchLong(p, 0, 0x00020120); },
       0xC004A803},
      {"file id", [](const std::string& p, LONG) { PatchLong(p, 264, 999); }, 0xC004A808},
      {"blob id", [this](const std::string& p, LONG b) { PatchLong(p, StartOf(b) + 4, 999); },
       0xC004A809},
      {"deleted row, live block",
       [this](const std::string&, LONG b) {
         Release(b);
         PatchLong(FilePath(FileOf(b)), StartOf(b) + 16, 0);
       },
       0xC004A80A},
      {"block total size",
       [this](const std::string& p, LONG b) { PatchLong(p, StartOf(b) + 8, 21); }, 0xC004A80C},
      {"block data length",
       [this](const std::string& p, LONG b) { PatchLong(p, StartOf(b) + 12, 1); }, 0xC004A80D},
      {"block version",
       [this](const std::string& p, LONG b) { PatchLong(p, StartOf(b), 0x00020014); }, 0xC004A804},
      {"block being written",
       [this](const std::string& p, LONG b) { PatchLong(p, StartOf(b) + 16, 2); }, 0xC004A80F},
      {"header blob count below the table's",
       [](const std::string& p, LONG) { PatchLong(p, 284, 0); }, 0xC004A816},
      {"file shorter than the table says",
       [](const std::string& p, LONG) { fs::resize_file(p, fs::file_size(p) - 1); }, 0xC004A813},
      {"file missing", [](const std::string& p, LONG) { fs::remove(p); }, 0xC004A811},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetStore();
    const LONG first = Store(Pattern(100, 1));
    const LONG damaged = Store(Pattern(200, 2));
    const LONG other = Store(Pattern(200000, 3));  // a file of its own
    Release(other);
    const std::string path = FilePath(FileOf(damaged));
    c.damage(path, damaged);
    const Bytes before = FileBytes(path);
    const std::string otherPath = FilePath(FileOf(other));
    m_backChannel.Clear();
    EXPECT_FALSE(Db(0).CompactBlobFiles());
    EXPECT_EQ(ErrorsWithCode(static_cast<LONG>(c.code)), 1u);
    EXPECT_EQ(FileBytes(path), before);
    EXPECT_EQ(fs::file_size(otherPath), 288u);  // the sound file was compacted
    EXPECT_EQ(Blocks("BLOB_ID = " + std::to_string(other)), 0);
    EXPECT_EQ(Blocks("BLOB_FIL_ID = " + std::to_string(FileOf(first))), 2);
    EXPECT_EQ(StartOf(damaged), 288 + 120);
  }
}

TEST_F(BlobCompactTest, ProgressAndOpenStateOfADatabaseCompaction) {
  const LONG a = Store(Pattern(10, 1));
  Store(Pattern(20, 2));
  Release(a);
  for (bool bOpen : {true, false}) {
    if (!bOpen) Db(0).Close();
    m_backChannel.Clear();
    EXPECT_TRUE(bOpen ? Db(0).Compact() : Db(0).Check());
    EXPECT_EQ(Db(0).IsOpen(), bOpen);
    // Per block: the share processed before it (2 blocks, then 1).
    const std::vector<std::pair<SHORT, SHORT>> expected =
        bOpen ? std::vector<std::pair<SHORT, SHORT>>{{0, 0},  {10, 2},  {0, 2},
                                                     {50, 2}, {100, 2}, {0, 1}}
              : std::vector<std::pair<SHORT, SHORT>>{{0, 0}, {10, 2}, {0, 2}, {100, 2}, {0, 1}};
    EXPECT_EQ(ProgressPairs(), expected);
  }
  Db(0).Open();
  CheckStore();
  // With no blocks at all every file is still checked and rewritten.
  Db(0).GetEngineDatabase().Execute("DELETE FROM tblBLOB_BLOCKS");
  Db(0).GetEngineDatabase().Execute(
      "UPDATE tblBLOB_FILES SET FIL_lTotalSize = 288, FIL_lUsedSpace = 288, FIL_lBlobCount = 0");
  const std::string path = FilePath(Long("SELECT FIL_ID AS n FROM tblBLOB_FILES"));
  fs::resize_file(path, 288);
  PatchLong(path, 268, 288);
  PatchLong(path, 272, 288);
  PatchLong(path, 284, 0);
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_TRUE(Db(0).CompactBlobFiles());
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  CheckStore();
}

// A database another process has open is not compacted: the refusal is
// raised, the file is the same file, and the database stays open.
TEST_F(BlobCompactTest, DatabaseHeldByAnotherProcessIsNotCompacted) {
  const LONG id = Store(Pattern(50, 1));
  const std::string path = MainPath();
  // Forked with no connection open: a child must not inherit SQLite's lock
  // bookkeeping of open files.
  m_pModel.reset();
  vemtest::ChildProcess child([&](const vemtest::ChannelEnd& parent) {
    DaoDatabase db(0, path, false, false, ";PWD=pw0", nullptr);
    parent.Send(db.IsOpen() ? 'o' : 'x');
    parent.Receive();
    return 0;
  });
  ASSERT_EQ(child.channel().Receive(), 'o');
  BuildModel();
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_THROW(Db(0).Compact(), vem_error);
  EXPECT_TRUE(Db(0).IsOpen());
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  child.channel().Send('q');
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(Read(id, false), Pattern(50, 1));
  for (const auto& e : fs::directory_iterator(m_dir.path()))
    EXPECT_NE(e.path().filename().string().rfind("db", 0), 0u) << e.path();
}

// The states a crash can leave, made exactly, then a fresh open.
TEST_F(BlobCompactTest, OpenFinishesAnInterruptedCompaction) {
  enum class State { CopyNotRenamed, RenamedTablesLost, CommittedFlagSet };
  for (State state : {State::CopyNotRenamed, State::RenamedTablesLost, State::CommittedFlagSet}) {
    SCOPED_TRACE(static_cast<int>(state));
    BuildModel();
    ResetStore();
    std::vector<LONG> ids;
    for (int i = 1; i <= 4; ++i) ids.push_back(Store(Pattern(100 * i, i)));
    Release(ids[0]);
    Release(ids[2]);
    const std::string path = FilePath(FileOf(ids[1]));
    const std::string marker = BlobDir() + "/" + DaoDatabase::kBlobCompactionMarker;
    m_pModel.reset();
    const std::string savedDb = m_dir.File("saved.vdb");
    fs::copy_file(MainPath(), savedDb);
    const Bytes oldFile = FileBytes(path);
    BuildModel();
    ASSERT_TRUE(Db(0).CompactBlobFiles());
    const Bytes copy = FileBytes(path);
    m_pModel.reset();
    std::ofstream(marker).flush();
    if (state == State::CopyNotRenamed) {
      const std::string temp = path + ".tmp";
      fs::rename(path, temp);
      fs::resize_file(temp, 100);  // half written
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(oldFile.data()), static_cast<long>(oldFile.size()));
      fs::copy_file(savedDb, MainPath(), fs::copy_options::overwrite_existing);
    } else {
      PatchLong(path, 280, 4);
      if (state == State::RenamedTablesLost)
        fs::copy_file(savedDb, MainPath(), fs::copy_options::overwrite_existing);
    }
    fs::remove(savedDb);
    BuildModel();
    EXPECT_FALSE(fs::exists(marker));
    for (std::size_t i : {1u, 3u})
      EXPECT_EQ(Read(ids[i], false), Pattern(100 * (i + 1), static_cast<int>(i + 1)));
    CheckStore();
    EXPECT_EQ(FileBytes(path), state == State::CopyNotRenamed ? oldFile : copy);
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int kKillRounds = 5;
#else
constexpr int kKillRounds = 12;
#endif

// A child compacts the database and its blob files over and over until it is
// killed at a random instant; then a fresh open and a check find every blob
// and value stored before readable and identical, and the tables and files
// agree.
// VEM_COMPACT_CRASH_ROUNDS and VEM_COMPACT_CRASH_SEED run it for longer, or
// with another seed.
TEST_F(BlobCompactTest, ProcessKilledWhileCompactingLosesNothing) {
  const int rounds = EnvInt("VEM_COMPACT_CRASH_ROUNDS", kKillRounds);
  auto rng = static_cast<std::uint32_t>(EnvInt("VEM_COMPACT_CRASH_SEED", 4711));
  {
    DaoSaver saver(Db(0), Rec(kPlain));
    vemtest::TestRecord record(kPlain);
    record.Long(kID, 7);
    saver.OpenNew(record);
    saver.PutLong(kID, 7);
    saver.PutLong(kL, 4242);
    saver.Close();
  }
  std::map<LONG, Bytes> live;
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    // New blobs (some packed, some of their own file), and some released.
    for (int i = 0; i < 6; ++i) {
      rng = rng * 1664525u + 1013904223u;
      const Bytes data = Pattern((rng >> 8) % 3 == 0 ? 140000 : (rng >> 12) % 5000, round * 7 + i);
      live[Store(data)] = data;
    }
    for (auto it = live.begin(); it != live.end();) {
      rng = rng * 1664525u + 1013904223u;
      if ((rng >> 10) % 3 == 0) {
        Release(it->first);
        it = live.erase(it);
      } else {
        ++it;
      }
    }
    m_pModel.reset();
    auto child = std::make_unique<vemtest::ChildProcess>([&](const vemtest::ChannelEnd& parent) {
      vemtest::RecordingBackChannel backChannel{0};
      SDM model(&backChannel, &m_callback);
      parent.Send('s');
      DaoDatabase& db = static_cast<DaoDatabase&>(model.GetDatabase(0));
      for (;;) round % 2 == 0 ? db.CompactBlobFiles() : db.Compact();
      return 0;
    });
    ASSERT_EQ(child->channel().Receive(), 's');
    rng = rng * 1664525u + 1013904223u;
    // Blob compaction alone in even rounds, the whole database's in odd
    // ones (which take longer).
    std::this_thread::sleep_for(
        std::chrono::microseconds((rng >> 8) % (round % 2 == 0 ? 20000 : 400000)));
    child.reset();  // SIGKILL
    BuildModel();
    ASSERT_TRUE(Db(0).IsOpen());
    EXPECT_TRUE(Db(0).CompactBlobFiles());
    for (const auto& [id, data] : live) ASSERT_EQ(Read(id, true), data) << "blob " << id;
    EXPECT_EQ(Long("SELECT L AS n FROM tblPlain WHERE ID = 7"), 4242);
    CheckStore();
  }
  // A database compaction killed midway left its unfinished copy ("db" and
  // six characters); the next one removes it.
  Db(0).Compact();
  for (const auto& e : fs::directory_iterator(fs::path(MainPath()).parent_path())) {
    const std::string name = e.path().filename().string();
    EXPECT_FALSE(name.size() == 12 && name.compare(0, 2, "db") == 0 &&
                 name.compare(8, 4, ".vdb") == 0)
        << name;
    EXPECT_EQ(name.find("-compacting"), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace drivertest
