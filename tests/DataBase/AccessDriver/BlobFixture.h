// Fixture of the blob store tests: the standard driver model with the two
// blob tables, helpers that store and read blobs through strategies, and
// CheckStore, which checks the tables against the files on disk
// independently of the blob store's own code.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/BlobHeaders.h"
#include "DataBase/AccessDriver/DAO_BLOB.h"
#include "DriverFixture.h"
#include "Platform/Win32.h"
#include "Utility/Coding.h"

namespace drivertest {

using Bytes = std::vector<BYTE>;

inline Bytes Pattern(std::size_t n, int seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<BYTE>((i * 131 + seed * 17 + i / 251) & 0xFF);
  return b;
}

// The integer in environment variable name, or fallback.
inline int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atoi(value) : fallback;
}

inline Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes b(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return b;
}

class BlobTest : public DriverTest {
 protected:
  void SetUp() override {
    {
      dao::DatabasePtr db = Raw(MainPath(), ";PWD=pw0");
      db->Execute(
          "CREATE TABLE tblBLOB_FILES (FIL_ID COUNTER PRIMARY KEY, FIL_Filename TEXT(255), "
          "FIL_lTotalSize LONG, FIL_lUsedSpace LONG, FIL_lFreeSpace LONG, FIL_lBlobCount LONG)");
      db->Execute(
          "CREATE TABLE tblBLOB_BLOCKS (BLOB_ID COUNTER PRIMARY KEY, BLOB_FIL_ID LONG, "
          "BLOB_lStart LONG, BLOB_lTotalSize LONG, BLOB_lDataLength LONG, BLOB_RefCount LONG, "
          "BLOB_Deleted YESNO)");
      db->Close();
    }
    BuildModel();
  }

  std::unique_ptr<DaoBlobStrategy> NewBlob() {
    std::unique_ptr<IBlobStrategy> p = Db(0).CreateBlobStrategy(Rec(kPlain));
    return std::unique_ptr<DaoBlobStrategy>(static_cast<DaoBlobStrategy*>(p.release()));
  }
  std::string BlobDir() { return Db(0).GetBlobDirectory(); }

  // Writes data into b's temporary file through a stream or a raw handle.
  static void Write(DaoBlobStrategy& b, const Bytes& data, bool bHandle) {
    if (bHandle) {
      HANDLE h = b.OpenWriteHandle();
      ASSERT_NE(h, nullptr);
      DWORD put = 0;
      ASSERT_TRUE(WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr));
      b.CloseWriteHandle();
    } else {
      std::ostream& os = b.OpenWrite();
      ASSERT_TRUE(os.good());
      os.write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
      b.CloseWrite();
    }
  }
  // Stores data as a new blob; answers its id.
  LONG Store(const Bytes& data, bool bHandle = false) {
    auto b = NewBlob();
    Write(*b, data, bHandle);
    return b->Save();
  }
  // The blob's bytes read through a stream or a raw handle.
  Bytes Read(LONG lBlobId, bool bHandle) {
    auto b = NewBlob();
    b->Load(lBlobId);
    Bytes got;
    if (bHandle) {
      LONG lLength = -2;
      HANDLE h = b->OpenReadHandle(&lLength);
      EXPECT_NE(h, nullptr);
      if (h == nullptr) return got;
      got.resize(static_cast<std::size_t>(lLength));
      DWORD n = 0;
      if (lLength > 0) {
        EXPECT_TRUE(ReadFile(h, got.data(), static_cast<DWORD>(lLength), &n, nullptr));
      }
      b->CloseReadHandle();
    } else {
      // One byte more than the blob holds: the stream must stop at its end.
      std::istream& is = b->OpenRead();
      EXPECT_TRUE(is.good());
      got.resize(static_cast<std::size_t>(b->GetLength()) + 1);
      is.read(reinterpret_cast<char*>(got.data()), static_cast<std::streamsize>(got.size()));
      got.resize(static_cast<std::size_t>(is.gcount()));
      b->CloseRead();
    }
    return got;
  }
  LONG Long(const std::string& sql) { return RawLong(sql); }
  LONG FileCount() { return Long("SELECT COUNT(*) AS n FROM tblBLOB_FILES"); }
  // A column of the block row of a blob.
  LONG BlockLong(const char* column, LONG lBlobId) {
    return Long(std::string("SELECT ") + column +
                " AS n FROM tblBLOB_BLOCKS WHERE BLOB_ID = " + std::to_string(lBlobId));
  }
  LONG Blocks(const std::string& where) {
    return Long("SELECT COUNT(*) AS n FROM tblBLOB_BLOCKS WHERE " + where);
  }
  LONG RefsOf(LONG lBlobId) { return BlockLong("BLOB_RefCount", lBlobId); }
  LONG FileOf(LONG lBlobId) { return BlockLong("BLOB_FIL_ID", lBlobId); }
  LONG StartOf(LONG lBlobId) { return BlockLong("BLOB_lStart", lBlobId); }
  std::string FilePath(LONG lFileId) {
    char name[32];
    std::snprintf(name, sizeof name, "/blob%08ld.bin", static_cast<long>(lFileId));
    return BlobDir() + name;
  }
  // Drops one reference of the blob.
  void Release(LONG lBlobId) {
    auto b = NewBlob();
    b->Load(lBlobId);
    b->delete_();
  }
  // No blob rows and no blob files.
  void ResetStore() {
    Db(0).GetEngineDatabase().Execute("DELETE FROM tblBLOB_BLOCKS");
    Db(0).GetEngineDatabase().Execute("DELETE FROM tblBLOB_FILES");
    for (const auto& e : std::filesystem::directory_iterator(BlobDir()))
      std::filesystem::remove(e.path());
  }

  struct Block {
    LONG id, start, total, length, refs;
    bool deleted;
  };
  // The tables against the files, independently of the strategy; answers
  // the blocks. After a crash a file may end in bytes behind its
  // FIL_lTotalSize (a block never committed, which its header may already
  // count), and the directory may hold temporary files and blob files that
  // no row names.
  std::vector<Block> CheckStore(bool bAfterCrash = false) {
    dao::DatabasePtr db = Raw(MainPath(), ";PWD=pw0");
    dao::RecordsetPtr rs;
    auto l = [&](const char* c) {
      _variant_t v = rs->GetCollect(_variant_t(c));
      v.ChangeType(VT_I4);
      return v.lVal;
    };
    std::vector<Block> all;
    std::map<LONG, std::vector<Block>> blocks;
    rs = db->OpenRecordset("SELECT * FROM tblBLOB_BLOCKS ORDER BY BLOB_lStart");
    for (; !rs->GetEOF(); rs->MoveNext()) {
      all.push_back({l("BLOB_ID"), l("BLOB_lStart"), l("BLOB_lTotalSize"), l("BLOB_lDataLength"),
                     l("BLOB_RefCount"), l("BLOB_Deleted") != 0});
      blocks[l("BLOB_FIL_ID")].push_back(all.back());
    }
    std::set<std::string> named;
    rs = db->OpenRecordset("SELECT * FROM tblBLOB_FILES");
    for (; !rs->GetEOF(); rs->MoveNext()) {
      const LONG id = l("FIL_ID"), total = l("FIL_lTotalSize"), used = l("FIL_lUsedSpace"),
                 freeSpace = l("FIL_lFreeSpace"), count = l("FIL_lBlobCount");
      const std::string name =
          static_cast<const char*>(_bstr_t(rs->GetCollect(_variant_t("FIL_Filename"))));
      named.insert(name);
      EXPECT_EQ(BlobDir() + "/" + name, FilePath(id));
      const Bytes file = FileBytes(FilePath(id));
      const auto size = static_cast<LONG>(file.size());
      if (bAfterCrash ? size < total : size != total) {
        ADD_FAILURE() << name << ": " << size << " bytes, the table says " << total;
        continue;
      }
      EXPECT_EQ(used + freeSpace, total) << name;
      EXPECT_EQ(DecodeFixed16(file.data()), 288u);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 4)), "main.vdb");
      EXPECT_EQ(static_cast<LONG>(DecodeFixed32(&file[264])), id);
      if (!bAfterCrash) {
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(&file[268])), total);
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(&file[272])), used);
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(&file[276])), freeSpace);
        EXPECT_EQ(DecodeFixed32(&file[280]) & 6u, 0u);  // no write, no copy under way
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(&file[284])), count);
      }
      LONG at = 288, live = 0, liveBytes = 288, deadBytes = 0;
      for (const Block& b : blocks[id]) {
        EXPECT_EQ(b.start, at) << name;
        EXPECT_EQ(b.total, b.length + 20);
        EXPECT_EQ(b.deleted, b.refs == 0) << "blob " << b.id;
        const BYTE* h = &file[static_cast<std::size_t>(b.start)];
        EXPECT_EQ(DecodeFixed16(h), 20u);
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(h + 4)), b.id);
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(h + 8)), b.total);
        EXPECT_EQ(static_cast<LONG>(DecodeFixed32(h + 12)), b.length);
        EXPECT_EQ(DecodeFixed32(h + 16), b.deleted ? 1u : 0u) << "blob " << b.id;
        (b.deleted ? deadBytes : liveBytes) += b.total;
        live += b.deleted ? 0 : 1;
        at += b.total;
      }
      EXPECT_EQ(at, total) << name;
      EXPECT_EQ(used, liveBytes) << name;
      EXPECT_EQ(freeSpace, deadBytes) << name;
      EXPECT_EQ(count, live) << name;
      blocks.erase(id);
    }
    EXPECT_TRUE(blocks.empty()) << "blocks of unknown files";
    for (const auto& e : std::filesystem::directory_iterator(BlobDir())) {
      const std::string name = e.path().filename().string();
      const bool tmp = name.front() == '~' && e.path().extension() == ".tmp";
      const bool blob = name.size() == 16 && name.rfind("blob", 0) == 0;
      if (bAfterCrash)
        EXPECT_TRUE(tmp ||
                    (blob && (named.count(name) || std::filesystem::file_size(e.path()) >= 288)))
            << name;
      else
        EXPECT_TRUE(blob && named.count(name)) << name;
    }
    return all;
  }

  std::size_t ErrorsWithCode(LONG lCode) {
    std::size_t n = 0;
    for (const auto& c : m_backChannel.Calls(vemtest::BackChannelCallKind::Error))
      n += c.lCode == lCode ? 1 : 0;
    return n;
  }
  bool Traced(const std::string& text) {
    for (const std::string& t : m_backChannel.TraceTexts())
      if (t.find(text) != std::string::npos) return true;
    return false;
  }
};

}  // namespace drivertest
