// Blob store: the path operations, the header reading rule, the limited
// input stream, writing and reading blobs through streams and raw handles,
// the packing rules, reference counts and the failures of bad input. After
// every writing test the tables are checked against the files on disk
// (CheckStore), independently of the strategy.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "BlobFixture.h"
#include "DataBase/AccessDriver/BlobHeaders.h"
#include "DataBase/AccessDriver/DAO_BLOB.h"
#include "DataBase/AccessDriver/DaoLoader.h"
#include "DataBase/AccessDriver/DaoSaver.h"
#include "Platform/Win32.h"
#include "Support/ChildProcess.h"
#include "Utility/Coding.h"

namespace drivertest {
namespace {

namespace fs = std::filesystem;

TEST_F(BlobTest, PathOperationsAndTemporaryNames) {
  const std::string dir = fs::absolute(MainPath()).string() + "_blob";
  EXPECT_EQ(BlobDir(), dir);
  EXPECT_EQ(Db(0).GetBlobFilePath("blob00000001.bin"), dir + "/blob00000001.bin");
  EXPECT_EQ(Db(0).GetDatabaseFileName(), "main.vdb");
  EXPECT_EQ(DaoDatabase::TempFileNameOf(0), "~0.tmp");
  EXPECT_EQ(DaoDatabase::TempFileNameOf(10), "~a.tmp");
  EXPECT_EQ(DaoDatabase::TempFileNameOf(35), "~z.tmp");
  EXPECT_EQ(DaoDatabase::TempFileNameOf(36), "~10.tmp");
  // Names are created exclusively; names taken by files are passed by.
  const std::string first = Db(0).MakeTempFileName();
  EXPECT_TRUE(fs::exists(first));
  const std::string stem = fs::path(first).stem().string();  // "~<base 36>"
  const ULONG ulNext = std::stoul(stem.substr(1), nullptr, 36) + 1;
  for (ULONG u : {ulNext, ulNext + 1}) std::ofstream(dir + "/" + DaoDatabase::TempFileNameOf(u));
  EXPECT_EQ(Db(0).MakeTempFileName(), dir + "/" + DaoDatabase::TempFileNameOf(ulNext + 2));
  for (ULONG u : {ulNext - 1, ulNext, ulNext + 1, ulNext + 2})
    fs::remove(dir + "/" + DaoDatabase::TempFileNameOf(u));
}

// A header reads its stored size first, then as many bytes as it states:
// fields beyond them keep their defaults; a size that cannot hold the
// version, or exceeds the layout, and a short read are refused.
TEST(BlobHeaders, ReadingRule) {
  BlobBlockHeader written;
  written.lBlobId = 7;
  written.lTotalSize = 25;
  written.lDataLength = 5;
  written.ulFlags = 1;
  BYTE bytes[kBlobBlockHeaderSize];
  written.Encode(bytes);
  struct Case {
    SHORT nSize, nVersion;
    std::size_t available;
    bool ok;
    LONG id, total, length;
  } cases[] = {
      {20, 1, 20, true, 7, 25, 5},   // whole
      {4, 1, 20, true, -1, 0, 0},    // version and size only: the rest defaults
      {12, 2, 20, true, 7, 25, 0},   // a higher version reads (the caller refuses it)
      {20, 1, 19, false, -1, 0, 0},  // short read
      {2, 1, 20, false, -1, 0, 0},   // cannot hold the version
      {24, 1, 20, false, -1, 0, 0},  // larger than the layout
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nSize);
    BYTE in[kBlobBlockHeaderSize];
    std::copy(bytes, bytes + sizeof bytes, in);
    EncodeFixed16(in, static_cast<std::uint16_t>(c.nSize));
    EncodeFixed16(in + 2, static_cast<std::uint16_t>(c.nVersion));
    std::size_t at = 0;
    BlobBlockHeader h;
    h.lBlobId = 99;
    EXPECT_EQ(h.Read([&](BYTE* p, std::size_t n) {
      if (at + n > c.available) return false;
      std::copy(in + at, in + at + n, p);
      at += n;
      return true;
    }),
              c.ok);
    EXPECT_EQ(h.lBlobId, c.id);
    EXPECT_EQ(h.lTotalSize, c.total);
    EXPECT_EQ(h.lDataLength, c.length);
    if (c.ok) {
      EXPECT_EQ(at, static_cast<std::size_t>(c.nSize));
      EXPECT_EQ(h.nVersion, c.nVersion);
    }
  }
}

// The large round trip: 50 MiB, and 30 rounds of kills; fewer under
// AddressSanitizer, whose checked byte loops would take too long.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kLargeBlob = 8u << 20;
constexpr int kCrashRounds = 10;
#else
constexpr std::size_t kLargeBlob = 50u << 20;
constexpr int kCrashRounds = 30;
#endif

TEST_F(BlobTest, RoundTripsThroughStreamsAndHandles) {
  const std::size_t sizes[] = {0, 1, 131072, 131073, kLargeBlob};
  int seed = 0;
  std::vector<std::pair<LONG, Bytes>> stored;
  for (std::size_t size : sizes) {
    for (bool bHandle : {false, true}) {
      const Bytes data = Pattern(size, ++seed);
      const LONG files = FileCount();
      const LONG id = Store(data, bHandle);
      ASSERT_NE(id, -1);
      // Up to 131072 bytes: packed into the first file; above: a file of its own.
      EXPECT_EQ(FileCount(), files + ((size > 131072 || files == 0) ? 1 : 0)) << size;
      stored.emplace_back(id, data);
    }
  }
  for (const auto& [id, data] : stored)
    for (bool bHandle : {false, true}) EXPECT_EQ(Read(id, bHandle), data) << id << " " << bHandle;
  auto b = NewBlob();
  b->Load(stored[4].first);
  EXPECT_TRUE(b->IsPresent());
  EXPECT_EQ(b->GetLength(), 131072);
  CheckStore();
}

TEST_F(BlobTest, TenMebibyteFileLimit) {
  // A file of 288 + 20 + X bytes takes a blob of 100 bytes exactly when it
  // then reaches 10485760 bytes.
  for (LONG extra : {0, 1}) {
    const LONG big = 10485760 - 100 - 20 - 308 + extra;
    const LONG bigId = Store(Pattern(static_cast<std::size_t>(big), 1));
    const LONG smallId = Store(Pattern(100, 2));
    EXPECT_EQ(FileOf(bigId) == FileOf(smallId), extra == 0) << extra;
    EXPECT_EQ(Read(smallId, false), Pattern(100, 2));
    CheckStore();
    ResetStore();
  }
}

TEST_F(BlobTest, StreamNeverShowsBytesOfTheNextBlock) {
  const Bytes first = Pattern(10000, 3), second(5000, 0xEE);
  const LONG id = Store(first);
  Store(second);
  auto b = NewBlob();
  b->Load(id);
  using Step = std::function<Bytes(std::istream&)>;
  const std::vector<std::pair<const char*, Step>> ways = {
      {"get",
       [](std::istream& is) {
         Bytes got;
         for (int c; (c = is.get()) != EOF;) got.push_back(static_cast<BYTE>(c));
         return got;
       }},
      {"block read",
       [](std::istream& is) {
         Bytes got(100000);
         is.read(reinterpret_cast<char*>(got.data()), 100000);
         got.resize(static_cast<std::size_t>(is.gcount()));
         return got;
       }},
      {"readsome and peek",
       [](std::istream& is) {
         Bytes got;
         char buf[777];
         for (;;) {
           if (is.rdbuf()->in_avail() <= 0 && is.peek() == EOF) break;
           const std::streamsize n = is.readsome(buf, sizeof buf);
           if (n == 0) {
             int c = is.get();
             if (c == EOF) break;
             got.push_back(static_cast<BYTE>(c));
           }
           got.insert(got.end(), buf, buf + n);
         }
         return got;
       }},
      {"iterator after seek",
       [](std::istream& is) {
         const auto start = is.tellg();
         is.ignore(5000);
         is.seekg(start);
         return Bytes(std::istreambuf_iterator<char>(is), {});
       }},
  };
  for (const auto& [name, read] : ways) {
    std::istream& is = b->OpenRead();
    ASSERT_TRUE(is.good()) << name;
    EXPECT_EQ(read(is), first) << name;
    EXPECT_EQ(is.rdbuf()->in_avail(), -1) << name;
    b->CloseRead();
  }
  // A second open without a close keeps the position and re-arms the limit.
  std::istream& is = b->OpenRead();
  is.ignore(10000);
  EXPECT_EQ(is.peek(), EOF);
  is.clear();
  b->OpenRead();
  EXPECT_TRUE(Traced("attempt to open BLOB for read twice"));
  EXPECT_EQ(is.peek(), EOF);
  b->CloseRead();
  b->CloseRead();
  EXPECT_TRUE(Traced("CloseRead called on a closed file"));
  EXPECT_THROW(b->OpenRead().rdbuf()->pubsetbuf(nullptr, 0), vem_error);
  b->CloseRead();
}

// The saver stores a blob's id, its pending data saved first (nothing
// pending and none loaded: NULL); the loader binds the blob of the id (NULL:
// no blob). An encrypted BLOB field (field 60 over tblCrypt's xStr) takes
// and holds no blob id: the blob is neither saved nor loaded.
TEST_F(BlobTest, SaverStoresAndLoaderBindsTheBlob) {
  m_pModel.reset();
  m_callback.post = [](IComStaticDataModelCreator* c) {
    c->AddFieldDef(60, _bstr_t("xStr"), 12, -1, VARIANT_TRUE);
    c->AddFieldToRecordDef(kCrypt, 60, VARIANT_FALSE, VARIANT_FALSE);
    return S_OK;
  };
  BuildModel();
  auto blob = NewBlob(), none = NewBlob(), pending = NewBlob();
  Write(*blob, Pattern(300, 4), false);
  Write(*pending, Pattern(100, 5), false);
  vemtest::TestRecord one(kPlain), two(kPlain), crypt(kCrypt);
  one.Long(kID, 1);
  two.Long(kID, 2);
  crypt.Text(kCID, "b");
  for (vemtest::TestRecord* pRecord : {&one, &two, &crypt}) {
    const LONG lRecordDef = pRecord == &crypt ? kCrypt : kPlain;
    DaoSaver saver(Db(0), Rec(lRecordDef));
    ASSERT_TRUE(saver.OpenNew(*pRecord));
    if (pRecord == &crypt) {
      saver.PutString(kCID, "b");
      saver.SetBlob(60, *pending);
    } else {
      saver.PutLong(kID, pRecord == &one ? 1 : 2);
      saver.SetBlob(kBlob, pRecord == &one ? *blob : *none);
    }
    ASSERT_TRUE(saver.Close());
  }
  EXPECT_EQ(Long("SELECT COUNT(*) AS n FROM tblBLOB_BLOCKS"), 1);
  EXPECT_EQ(
      RawValue(MainPath(), ";PWD=pw0", "SELECT BlobId FROM tblPlain WHERE ID = 2", "BlobId").vt,
      VT_NULL);
  auto read = NewBlob();
  DaoLoader plain(Db(0), Rec(kPlain)), encrypted(Db(0), Rec(kCrypt));
  ASSERT_TRUE(plain.Open(one));
  plain.GetBlob(kBlob, *read);
  EXPECT_EQ(read->GetLength(), 300);
  ASSERT_TRUE(encrypted.Open(crypt));
  encrypted.GetBlob(60, *read);
  EXPECT_EQ(read->GetLength(), 300);
  plain.Close();
  ASSERT_TRUE(plain.Open(two));
  plain.GetBlob(kBlob, *read);
  EXPECT_FALSE(read->IsPresent());
  EXPECT_EQ(Read(blob->Save(), false), Pattern(300, 4));  // nothing pending: same id
  pending.reset();                                        // its temporary file goes with it
  CheckStore();
}

// new_ takes a reference, delete_ drops one; the last one deletes the
// block in the table and in the file, and a deleted blob still loads and
// comes back with new_. Rewriting a strategy's blob releases the old one
// after the new one is stored.
TEST_F(BlobTest, ReferenceCounts) {
  const LONG id = Store(Pattern(500, 5));
  auto take = [&] {
    auto b = NewBlob();
    b->Load(id);
    b->new_();
    b->Erase();  // new_ then Erase: Erase wins; new_ after it changes nothing
    b->new_();
    EXPECT_EQ(b->GetPendingOperation(), DaoBlobStrategy::PendingOperation::Erase);
    b->Load(id);
    b->new_();
    EXPECT_EQ(b->Save(), id);
  };
  take();
  EXPECT_EQ(RefsOf(id), 2);
  Release(id);
  EXPECT_EQ(RefsOf(id), 1);
  CheckStore();
  Release(id);
  EXPECT_EQ(RefsOf(id), 0);
  CheckStore();
  EXPECT_EQ(Read(id, false), Pattern(500, 5));
  take();  // revived: headers back in step
  EXPECT_EQ(RefsOf(id), 1);
  CheckStore();
  // Erase with an open stream changes nothing; without, Save answers -1.
  auto b = NewBlob();
  b->Load(id);
  b->OpenRead();
  b->Erase();
  EXPECT_TRUE(Traced("trying to Erase a BLOB which is open for reading"));
  b->CloseRead();
  b->Erase();
  b->OpenRead();
  EXPECT_TRUE(Traced("try to open NULL BLOB"));
  b->CloseRead();
  EXPECT_EQ(b->Save(), -1);
  EXPECT_FALSE(b->IsPresent());
  EXPECT_EQ(RefsOf(id), 0);
  CheckStore();
  Write(*b, Pattern(50, 6), true);
  const LONG first = b->Save();
  Write(*b, Pattern(60, 7), false);
  const LONG second = b->Save();
  EXPECT_NE(first, second);
  EXPECT_EQ(RefsOf(first), 0);
  EXPECT_EQ(Read(second, true), Pattern(60, 7));
  CheckStore();
}

TEST_F(BlobTest, MissingBlobFileRetriesIntoANewFile) {
  const LONG id = Store(Pattern(10, 8));
  const std::string file = BlobDir() + "/blob00000001.bin";
  ASSERT_TRUE(fs::exists(file));
  fs::rename(file, file + ".away");
  const LONG next = Store(Pattern(20, 9));
  EXPECT_TRUE(Traced("BLOB save failed, retry in new blob file"));
  EXPECT_EQ(FileCount(), 2);
  EXPECT_EQ(Read(next, false), Pattern(20, 9));
  fs::rename(file + ".away", file);
  EXPECT_EQ(Read(id, true), Pattern(10, 8));
  CheckStore();
}

TEST_F(BlobTest, FailedWritesStoreNothing) {
  Store(Pattern(10, 1));
  const LONG blocks = Long("SELECT COUNT(*) AS n FROM tblBLOB_BLOCKS");
  struct Case {
    const char* name;
    std::function<void(DaoBlobStrategy&)> spoil;
    const char* trace;
  } cases[] = {
      {"put position unknown",
       [](DaoBlobStrategy& b) {
         std::ostream& os = b.OpenWrite();
         os << "data";
         os.setstate(std::ios::failbit);
         b.CloseWrite();
       },
       "tellp failed"},
      {"write handle still open",
       [](DaoBlobStrategy& b) { ASSERT_NE(b.OpenWriteHandle(), nullptr); }, nullptr},
      {"temporary file vanished",
       [](DaoBlobStrategy& b) {
         Write(b, Pattern(10, 2), false);
         fs::remove(b.GetTempPath());
       },
       "missing tmp file"},
      {"temporary file cut short",
       [](DaoBlobStrategy& b) {
         Write(b, Pattern(10, 2), false);
         fs::resize_file(b.GetTempPath(), 300);
       },
       "tmp file is corrupt or could not be read"},
  };
  for (const Case& c : cases) {
    auto b = NewBlob();
    c.spoil(*b);
    const std::size_t errors = ErrorsWithCode(kVemErrBlobWrite);
    EXPECT_VEM_ERROR(b->Save(), kVemErrBlobWrite);
    EXPECT_GT(ErrorsWithCode(kVemErrBlobWrite), errors) << c.name;
    if (c.trace != nullptr) {
      EXPECT_TRUE(Traced(c.trace)) << c.name;
    }
    EXPECT_EQ(Long("SELECT COUNT(*) AS n FROM tblBLOB_BLOCKS"), blocks) << c.name;
    b->CloseWriteHandle();
    b.reset();
    CheckStore();
  }
}

TEST_F(BlobTest, BadStoredDataIsRefused) {
  const LONG id = Store(Pattern(40, 1));
  const std::string file = BlobDir() + "/blob00000001.bin";
  const Bytes original = FileBytes(file);
  auto patch = [&](std::size_t at, std::uint16_t value) {
    Bytes b = original;
    EncodeFixed16(&b[at], value);
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  };
  struct Case {
    const char* name;
    std::function<void()> spoil;
    LONG code;
  } cases[] = {
      {"file header version 2", [&] { patch(2, 2); }, kVemErrBlobFileVersion},
      {"block header version 2", [&] { patch(288 + 2, 2); }, kVemErrBlobBlockVersion},
      {"file header size 300", [&] { patch(0, 300); }, kVemErrBlobHeader},
      {"truncated",
       [&] {
         patch(0, 288);
         fs::resize_file(file, 288 + 20 + 39);
       },
       kVemErrBlobHeader},
      {"missing", [&] { fs::remove(file); }, kVemErrBlobFileOpen},
  };
  for (const Case& c : cases) {
    c.spoil();
    auto b = NewBlob();
    b->Load(id);
    LONG lLength = -2;
    const std::size_t errors = ErrorsWithCode(c.code);
    EXPECT_EQ(b->OpenReadHandle(&lLength), nullptr) << c.name;
    EXPECT_EQ(lLength, -2) << c.name;
    EXPECT_TRUE(b->OpenRead().bad()) << c.name;
    EXPECT_EQ(ErrorsWithCode(c.code), errors + 2) << c.name;
    b->CloseRead();
    patch(0, 288);
  }
  // A blob id without a row, a file name that would leave the blob directory.
  auto b = NewBlob();
  EXPECT_VEM_ERROR(b->Load(id + 100), kVemErrBlobNoRow);
  EXPECT_FALSE(b->IsPresent());
  Db(0).GetEngineDatabase().Execute("UPDATE tblBLOB_FILES SET FIL_Filename = '../../main.vdb'");
  const std::string text = EXPECT_VEM_ERROR(b->Load(id), kVemErrBlobNoRow);
  EXPECT_NE(text.find("FIL_ID 1"), std::string::npos) << text;
  EXPECT_FALSE(b->IsPresent());
}

TEST_F(BlobTest, DeleteWaitsForTheNamedMutex) {
  const LONG id = Store(Pattern(10, 1));
  auto b = NewBlob();
  b->Load(id);
  std::atomic<bool> held{false}, released{false};
  std::thread other([&] {
    Mutex mutex;
    mutex.setName(
        DaoDatabase::MutexNameOf(static_cast<const char*>(Db(0).GetEngineDatabase().GetName()))
            .c_str());
    mutex.lock();
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    released = true;
    mutex.unlock();
  });
  while (!held) std::this_thread::yield();
  b->delete_();
  EXPECT_TRUE(released);
  other.join();
  CheckStore();
}

// Blobs whose content follows from their length, so that any reader can
// check them.
Bytes Content(LONG lLength) {
  return Pattern(static_cast<std::size_t>(lLength), static_cast<int>(lLength % 7));
}
LONG LengthOf(int i) {
  return i % 5 == 4 ? 131072 + 1000 * i : 37 * i * i + i;
}

std::unique_ptr<IBlobStrategy> NewBlobOf(DataModel& model) {
  return static_cast<DaoDatabase&>(model.GetDatabase(0))
      .CreateBlobStrategy(model.GetRecordDef(kPlain));
}
LONG StoreWith(DataModel& model, const Bytes& data) {
  std::unique_ptr<IBlobStrategy> b = NewBlobOf(model);
  std::ostream& os = b->OpenWrite();
  os.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  b->CloseWrite();
  return b->Save();
}

TEST_F(BlobTest, ProcessesStoringAndDeletingAtOnceKeepTheStoreConsistent) {
  constexpr int kProcesses = 4, kMaxOperations = 40;
  // Each process stores blobs of content derived from (process, step) and
  // deletes some of those it holds, for at most kMaxOperations or 2 s; then
  // it writes "id length seed" of the blobs it still holds, and "id -1 0"
  // of those it deleted, to a file of its own.
  auto work = [&](int process) -> int {
    vemtest::RecordingBackChannel backChannel{0};
    SDM model(&backChannel, &m_callback);
    struct Held {
      LONG id, length;
      int seed;
    };
    std::vector<Held> held;
    std::vector<LONG> deleted;
    std::uint32_t rng = 2654435761u * static_cast<std::uint32_t>(process + 1);
    const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < kMaxOperations && std::chrono::steady_clock::now() < stop; ++i) {
      rng = rng * 1664525u + 1013904223u;
      if (!held.empty() && (rng >> 8) % 3 == 0) {
        const std::size_t k = (rng >> 12) % held.size();
        std::unique_ptr<IBlobStrategy> b = NewBlobOf(model);
        b->Load(held[k].id);
        b->delete_();
        deleted.push_back(held[k].id);
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(k));
      } else {
        const int seed = process * 1000 + i;
        const LONG length = LengthOf(i + process);
        held.push_back(
            {StoreWith(model, Pattern(static_cast<std::size_t>(length), seed)), length, seed});
        if (held.back().id < 0) return 10 + i;
      }
    }
    std::ofstream out(MainPath() + ".held" + std::to_string(process));
    for (const Held& h : held) out << h.id << ' ' << h.length << ' ' << h.seed << '\n';
    for (LONG id : deleted) out << id << " -1 0\n";
    return out.good() ? 0 : 2;
  };
  std::vector<std::unique_ptr<vemtest::ChildProcess>> children;
  for (int c = 0; c < kProcesses; ++c)
    children.push_back(std::make_unique<vemtest::ChildProcess>(
        [&, c](const vemtest::ChannelEnd&) { return work(c); }));
  for (auto& child : children) ASSERT_EQ(child->Wait(), 0);
  std::size_t held = 0, deleted = 0;
  for (int c = 0; c < kProcesses; ++c) {
    std::ifstream in(MainPath() + ".held" + std::to_string(c));
    LONG id, length;
    int seed;
    while (in >> id >> length >> seed) {
      if (length < 0) {
        ++deleted;
        EXPECT_EQ(RefsOf(id), 0) << id;
        continue;
      }
      ++held;
      EXPECT_EQ(RefsOf(id), 1) << id;
      const Bytes data = Pattern(static_cast<std::size_t>(length), seed);
      EXPECT_EQ(Read(id, false), data) << id;
      EXPECT_EQ(Read(id, true), data) << id;
    }
  }
  EXPECT_EQ(static_cast<std::size_t>(Long("SELECT COUNT(*) AS n FROM tblBLOB_BLOCKS")),
            held + deleted);
  EXPECT_GT(deleted, 0u);
  CheckStore();
}

// A child stores blobs (packed and of their own file) until it is killed
// (SIGKILL) after a random delay, somewhere in Save. Then every blob the
// tables hold reads back whole, and what is left over is only of the kinds
// the blob check handles (CheckStore after a crash). Storing goes on.
// VEM_BLOB_CRASH_ROUNDS and VEM_BLOB_CRASH_SEED run it for longer, or with
// another seed.
TEST_F(BlobTest, AProcessKilledWhileStoringLosesNoStoredBlob) {
  const int rounds = EnvInt("VEM_BLOB_CRASH_ROUNDS", kCrashRounds);
  auto rng = static_cast<std::uint32_t>(EnvInt("VEM_BLOB_CRASH_SEED", 12345));
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    const int first = round * 7;
    auto child = std::make_unique<vemtest::ChildProcess>([&](const vemtest::ChannelEnd& parent) {
      vemtest::RecordingBackChannel backChannel{0};
      SDM model(&backChannel, &m_callback);
      parent.Send('s');
      for (int i = first;; ++i) StoreWith(model, Content(LengthOf(i % 40)));
      return 0;
    });
    ASSERT_EQ(child->channel().Receive(), 's');
    rng = rng * 1664525u + 1013904223u;
    std::this_thread::sleep_for(std::chrono::microseconds((rng >> 8) % 40000));
    child.reset();  // SIGKILL, wherever the child is
    for (const Block& b : CheckStore(true)) {
      EXPECT_EQ(b.refs, 1) << "blob " << b.id;
      EXPECT_EQ(Read(b.id, false), Content(b.length)) << "blob " << b.id;
    }
    const LONG id = Store(Content(LengthOf(round % 40)));
    EXPECT_EQ(Read(id, true), Content(LengthOf(round % 40)));
  }
  EXPECT_GE(Long("SELECT COUNT(*) AS n FROM tblBLOB_BLOCKS"), rounds);
}

}  // namespace
}  // namespace drivertest
