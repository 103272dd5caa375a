// compact_bench: compaction against plain file work on the same bytes.
//
// Workloads (each iteration starts from a freshly built store, outside the
// timing; bytes/s counts the live bytes kept):
//   Blobs_Compact   CompactBlobFiles on a blob store of 200 MiB in blobs of
//                   128 KiB (packed into files of up to 10 MiB) with every
//                   second blob deleted: check, copy, one row update or delete
//                   per block in one transaction per file, rename, syncs.
//   Blobs_PlainCopy the same live byte ranges of the same files copied into
//                   new files with plain reads and writes (32 KiB), each new
//                   file synced and renamed over the old one.
//                   Target: Blobs_Compact >= 50% of Blobs_PlainCopy.
//   Database_Compact DaoDatabase::Compact of a database of 200,000 rows
//                   of 250 bytes of which half were deleted (27 MiB after): the engine's
//                   compacted copy, its sync and the rename.
//   Database_VacuumInto SQLite's own VACUUM INTO of the same file to a new
//                   file (no sync, no rename; an ASCII stand-in for the
//                   engine's case-blind collation).
// Run a Release build:
//   cmake --build build/release --target compact_bench
//   build/release/bench/compact_bench
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchModel.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DataBase/AccessDriver/SDM.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"
#include "Platform/Win32.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "vem/StaticDataModel.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBlob = 128 * 1024;
constexpr std::size_t kStoreBytes = 200u << 20;
constexpr int kRows = 200000;

// A database with the blob tables and a 200 MiB store, every second blob
// released.
struct Store {
  Store() : path(dir.File("blobs.vdb")), callback(vembench::BlobDocCallback(path)) {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(path);
    pDb->Execute("CREATE TABLE tblDoc (ID LONG PRIMARY KEY, Doc LONG, Pad TEXT(255))");
    vemtest::AddBlobTables(*pDb);
    pDb->Close();
    pModel = std::make_unique<SDM>(nullptr, &callback);
    std::vector<char> data(kBlob);
    for (std::size_t i = 0; i < kBlob; ++i) data[i] = static_cast<char>(i * 131 + i / 251);
    for (std::size_t n = 0; n < kStoreBytes / kBlob; ++n) {
      std::unique_ptr<IBlobStrategy> b = New();
      b->OpenWrite().write(data.data(), static_cast<std::streamsize>(data.size()));
      b->CloseWrite();
      const LONG id = b->Save();
      if (n % 2 == 1) {
        std::unique_ptr<IBlobStrategy> r = New();
        r->Load(id);
        r->delete_();
      } else {
        liveBytes += kBlob;
      }
    }
  }
  DaoDatabase& Db() { return static_cast<DaoDatabase&>(pModel->GetDatabase(0)); }
  std::unique_ptr<IBlobStrategy> New() { return Db().CreateBlobStrategy(pModel->GetRecordDef(0)); }

  vemtest::TempDir dir;
  std::string path;
  vembench::BenchModelCallback callback;
  std::unique_ptr<SDM> pModel;
  std::int64_t liveBytes = 0;
};

void Blobs_Compact(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<Store>();
    state.ResumeTiming();
    if (!store->Db().CompactBlobFiles()) state.SkipWithError("compaction failed");
    state.PauseTiming();
    bytes += store->liveBytes;
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
}

void Blobs_PlainCopy(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<Store>();
    // The live ranges of every file, from the tables.
    std::vector<std::pair<std::string, std::vector<std::pair<LONG, LONG>>>> files;
    {
      dao::Database& db = store->Db().GetEngineDatabase();
      dao::RecordsetPtr rs = db.OpenRecordset(
          "SELECT FIL_Filename, BLOB_lStart, BLOB_lTotalSize FROM tblBLOB_FILES INNER JOIN "
          "tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = tblBLOB_BLOCKS.BLOB_FIL_ID WHERE BLOB_Deleted "
          "= False ORDER BY FIL_ID, BLOB_lStart");
      for (; !rs->GetEOF(); rs->MoveNext()) {
        const std::string name =
            static_cast<const char*>(_bstr_t(rs->GetCollect(_variant_t("FIL_Filename"))));
        if (files.empty() || files.back().first != name) files.push_back({name, {}});
        _variant_t s = rs->GetCollect(_variant_t("BLOB_lStart")),
                   t = rs->GetCollect(_variant_t("BLOB_lTotalSize"));
        s.ChangeType(VT_I4);
        t.ChangeType(VT_I4);
        files.back().second.emplace_back(s.lVal, t.lVal);
      }
    }
    const std::string directory = store->Db().GetBlobDirectory();
    state.ResumeTiming();
    std::vector<char> buffer(0x8000);
    for (const auto& [name, ranges] : files) {
      const std::string path = directory + "/" + name, copy = directory + "/copy.tmp";
      std::FILE* in = std::fopen(path.c_str(), "rb");
      HANDLE out = CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
      DWORD put = 0;
      std::fread(buffer.data(), 1, 288, in);
      WriteFile(out, buffer.data(), 288, &put, nullptr);
      for (const auto& [start, total] : ranges) {
        std::fseek(in, start, SEEK_SET);
        for (LONG left = total; left > 0;) {
          const std::size_t n =
              std::min<std::size_t>(static_cast<std::size_t>(left), buffer.size());
          std::fread(buffer.data(), 1, n, in);
          WriteFile(out, buffer.data(), static_cast<DWORD>(n), &put, nullptr);
          left -= static_cast<LONG>(n);
        }
      }
      std::fclose(in);
      if (!FlushFileBuffers(out) || !CloseHandle(out)) state.SkipWithError("copy failed");
      std::rename(copy.c_str(), path.c_str());
    }
    state.PauseTiming();
    bytes += store->liveBytes;
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
}

// A database of kRows rows of about 300 bytes, every second row deleted.
std::string MakeDatabase(const vemtest::TempDir& dir, const char* name) {
  const std::string path = dir.File(name);
  {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(path);
    pDb->Execute("CREATE TABLE tblDoc (ID LONG PRIMARY KEY, Doc LONG, Pad TEXT(255))");
    pDb->Close();
  }
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO tblDoc VALUES (?1, ?1, ?2)", -1, &s, nullptr);
  const std::string pad(250, 'p');
  for (int i = 0; i < kRows; ++i) {
    sqlite3_bind_int(s, 1, i);
    sqlite3_bind_text(s, 2, pad.c_str(), static_cast<int>(pad.size()), SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "DELETE FROM tblDoc WHERE ID % 2 = 1; COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return path;
}

void Database_Compact(benchmark::State& state) {
  vemtest::TempDir dir;
  const std::string path = MakeDatabase(dir, "db.vdb");
  vembench::BenchModelCallback callback = vembench::BlobDocCallback(path);
  SDM model(nullptr, &callback);
  DaoDatabase& db = static_cast<DaoDatabase&>(model.GetDatabase(0));
  std::int64_t bytes = 0;
  for (auto _ : state) {
    if (!db.Compact()) state.SkipWithError("compaction failed");
    bytes += static_cast<std::int64_t>(fs::file_size(path));
  }
  state.SetBytesProcessed(bytes);
}

void Database_VacuumInto(benchmark::State& state) {
  vemtest::TempDir dir;
  const std::string path = MakeDatabase(dir, "db.vdb");
  const std::string copy = dir.File("copy.vdb");
  std::int64_t bytes = 0;
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    // The engine's indexes on text use its case-blind collation; an ASCII
    // one stands in for it here.
    sqlite3_create_collation(db, "JETNOCASE", SQLITE_UTF8, nullptr,
                             [](void*, int n1, const void* p1, int n2, const void* p2) {
                               const int n = std::min(n1, n2);
                               const int c = strncasecmp(static_cast<const char*>(p1),
                                                         static_cast<const char*>(p2),
                                                         static_cast<std::size_t>(n));
                               return c != 0 ? c : n1 - n2;
                             });
    char* error = nullptr;
    if (sqlite3_exec(db, ("VACUUM INTO '" + copy + "'").c_str(), nullptr, nullptr, &error) !=
        SQLITE_OK) {
      state.SkipWithError(error != nullptr ? error : "VACUUM INTO failed");
      sqlite3_free(error);
      sqlite3_close(db);
      break;
    }
    sqlite3_close(db);
    state.PauseTiming();
    bytes += static_cast<std::int64_t>(fs::file_size(copy));
    std::remove(copy.c_str());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(bytes);
}

}  // namespace

BENCHMARK(Blobs_Compact)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(Blobs_PlainCopy)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(Database_Compact)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(Database_VacuumInto)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_MAIN();
