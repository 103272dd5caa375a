// blob_bench: the blob store against plain file work, same bytes, one run.
//
// Model: a static model over one database file with the two blob tables and
// a table tblDoc whose record definition the strategies serve.
//
// Workloads (bytes/s counts blob data; the argument is the blob size, 1 MiB
// and 50 MiB, both above the packing limit: each blob gets a file of its own):
//   Write_Stream  one blob written through OpenWrite in 64 KiB writes and
//                 saved (temporary file, rename, headers, fsync of file and
//                 directory, both table rows in one transaction).
//   Write_Handle  the same through OpenWriteHandle and WriteFile.
//   Write_Plain   the same bytes written to a new file through a raw handle
//                 in 64 KiB writes, fsync. Target: Write_* >= 70% of it.
//   Read_Stream   the blob read through OpenRead in 64 KiB reads.
//   Read_Handle   the blob read through OpenReadHandle and ReadFile.
//   Read_Plain    the same bytes read from a plain file through a raw handle
//                 in 64 KiB reads. Target: Read_* >= 80% of it.
//   Versus_*      each of the four blob rows in turns with its plain row in
//                 one benchmark (robust against other load on the machine);
//                 the counter plain_pct is the blob rate in percent of the
//                 plain rate.
//   SaveSmall     10,000 blobs of 4 KiB stored one after the other (packed
//                 into blob files of up to 10 MiB); items/s = blobs per second.
// Rates are over wall-clock time (the fsyncs wait without CPU). Written
// blob files are removed outside the timed part (SaveSmall also clears the
// rows after its one round).
// Run a Release build:
//   cmake --preset release && cmake --build build/release --target blob_bench
//   build/release/bench/blob_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchModel.h"
#include "DataBase/AccessDriver/DAO_BLOB.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/SDM.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"
#include "Platform/Win32.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "vem/StaticDataModel.h"

namespace {

constexpr std::size_t kSmall = 4096;
constexpr int kSmallBlobs = 10000;
constexpr std::size_t kChunk = 65536;

struct Store {
  Store() : path(dir.File("blobs.vdb")), callback(vembench::BlobDocCallback(path)) {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(path);
    pDb->Execute("CREATE TABLE tblDoc (ID LONG PRIMARY KEY, Doc LONG)");
    vemtest::AddBlobTables(*pDb);
    pDb->Close();
    pModel = std::make_unique<SDM>(nullptr, &callback);
  }
  DaoDatabase& Db() { return static_cast<DaoDatabase&>(pModel->GetDatabase(0)); }
  std::unique_ptr<IBlobStrategy> New() { return Db().CreateBlobStrategy(pModel->GetRecordDef(0)); }
  LONG Save(const std::vector<char>& data) {
    std::unique_ptr<IBlobStrategy> b = New();
    b->OpenWrite().write(data.data(), static_cast<std::streamsize>(data.size()));
    b->CloseWrite();
    return b->Save();
  }

  vemtest::TempDir dir;
  std::string path;
  vembench::BenchModelCallback callback;
  std::unique_ptr<SDM> pModel;
};

// Removes every blob: rows and files (outside the timing).
void Clear(Store& store) {
  store.Db().GetEngineDatabase().Execute("DELETE FROM tblBLOB_BLOCKS");
  store.Db().GetEngineDatabase().Execute("DELETE FROM tblBLOB_FILES");
  for (const auto& e : std::filesystem::directory_iterator(store.Db().GetBlobDirectory()))
    std::filesystem::remove(e.path());
}

// Removes the blob files only (outside the timing): the rows stay, as in a
// store in use (deleting them makes the engine restart its log, with two
// syncs, in the next store). Blobs above the packing limit get files of
// their own and never look at the rows of other files.
void RemoveFiles(Store& store) {
  for (const auto& e : std::filesystem::directory_iterator(store.Db().GetBlobDirectory()))
    std::filesystem::remove(e.path());
}

std::vector<char> Data(std::size_t n) {
  std::vector<char> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<char>(i * 131 + i / 251);
  return data;
}

void WriteBlob(benchmark::State& state, bool bHandle) {
  Store store;
  const std::vector<char> data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<IBlobStrategy> b = store.New();
    if (bHandle) {
      HANDLE h = b->OpenWriteHandle();
      DWORD put = 0;
      for (std::size_t at = 0; at < data.size(); at += kChunk)
        WriteFile(h, data.data() + at, static_cast<DWORD>(std::min(kChunk, data.size() - at)), &put,
                  nullptr);
      b->CloseWriteHandle();
    } else {
      std::ostream& os = b->OpenWrite();
      for (std::size_t at = 0; at < data.size(); at += kChunk)
        os.write(data.data() + at,
                 static_cast<std::streamsize>(std::min(kChunk, data.size() - at)));
      b->CloseWrite();
    }
    if (b->Save() < 0) state.SkipWithError("save failed");
    state.PauseTiming();
    b.reset();
    RemoveFiles(store);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void Write_Stream(benchmark::State& state) {
  WriteBlob(state, false);
}
void Write_Handle(benchmark::State& state) {
  WriteBlob(state, true);
}

void Write_Plain(benchmark::State& state) {
  vemtest::TempDir dir;
  const std::string file = dir.File("plain.bin");
  const std::vector<char> data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    HANDLE h =
        CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    for (std::size_t at = 0; at < data.size(); at += kChunk)
      WriteFile(h, data.data() + at, static_cast<DWORD>(std::min(kChunk, data.size() - at)), &put,
                nullptr);
    if (!FlushFileBuffers(h) || !CloseHandle(h)) state.SkipWithError("write failed");
    state.PauseTiming();
    std::remove(file.c_str());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void ReadBlob(benchmark::State& state, bool bHandle) {
  Store store;
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const LONG id = store.Save(Data(size));
  std::unique_ptr<IBlobStrategy> b = store.New();
  b->Load(id);
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    std::size_t total = 0;
    if (bHandle) {
      LONG lLength = 0;
      HANDLE h = b->OpenReadHandle(&lLength);
      DWORD got = 0;
      while (
          total < static_cast<std::size_t>(lLength) &&
          ReadFile(h, buffer.data(),
                   static_cast<DWORD>(std::min(kChunk, static_cast<std::size_t>(lLength) - total)),
                   &got, nullptr) &&
          got > 0)
        total += got;
      b->CloseReadHandle();
    } else {
      std::istream& is = b->OpenRead();
      while (is.read(buffer.data(), kChunk) || is.gcount() > 0)
        total += static_cast<std::size_t>(is.gcount());
      b->CloseRead();
    }
    if (total != size) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void Read_Stream(benchmark::State& state) {
  ReadBlob(state, false);
}
void Read_Handle(benchmark::State& state) {
  ReadBlob(state, true);
}

void Read_Plain(benchmark::State& state) {
  vemtest::TempDir dir;
  const std::string file = dir.File("plain.bin");
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  {
    const std::vector<char> data = Data(size);
    std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
  }
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::size_t total = 0;
    DWORD got = 0;
    while (ReadFile(h, buffer.data(), static_cast<DWORD>(kChunk), &got, nullptr) && got > 0)
      total += got;
    CloseHandle(h);
    if (total != size) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void SaveSmall(benchmark::State& state) {
  Store store;
  const std::vector<char> data = Data(kSmall);
  for (auto _ : state) {
    for (int i = 0; i < kSmallBlobs; ++i)
      if (store.Save(data) < 0) state.SkipWithError("save failed");
    state.PauseTiming();
    Clear(store);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kSmallBlobs);
  state.SetBytesProcessed(state.iterations() * kSmallBlobs * static_cast<int64_t>(kSmall));
}

// The blob rows against the plain rows in turns within one benchmark, so
// that other load on the machine falls on both alike: each iteration times
// the plain work and the blob work (in alternating order); the row's time is
// the blob's, and the counter plain_pct is the blob's rate in percent of the
// plain rate (targets: 70 for writes, 80 for reads).
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

void WriteOnce(Store& store, const std::vector<char>& data, bool bHandle) {
  std::unique_ptr<IBlobStrategy> b = store.New();
  if (bHandle) {
    HANDLE h = b->OpenWriteHandle();
    DWORD put = 0;
    for (std::size_t at = 0; at < data.size(); at += kChunk)
      WriteFile(h, data.data() + at, static_cast<DWORD>(std::min(kChunk, data.size() - at)), &put,
                nullptr);
    b->CloseWriteHandle();
  } else {
    std::ostream& os = b->OpenWrite();
    for (std::size_t at = 0; at < data.size(); at += kChunk)
      os.write(data.data() + at, static_cast<std::streamsize>(std::min(kChunk, data.size() - at)));
    b->CloseWrite();
  }
  if (b->Save() < 0) throw std::runtime_error("save failed");
}

void WritePlainOnce(const std::string& file, const std::vector<char>& data) {
  HANDLE h =
      CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD put = 0;
  for (std::size_t at = 0; at < data.size(); at += kChunk)
    WriteFile(h, data.data() + at, static_cast<DWORD>(std::min(kChunk, data.size() - at)), &put,
              nullptr);
  if (!FlushFileBuffers(h) || !CloseHandle(h)) throw std::runtime_error("write failed");
}

std::size_t ReadOnce(IBlobStrategy& b, std::vector<char>& buffer, bool bHandle) {
  std::size_t total = 0;
  if (bHandle) {
    LONG lLength = 0;
    HANDLE h = b.OpenReadHandle(&lLength);
    DWORD got = 0;
    while (total < static_cast<std::size_t>(lLength) &&
           ReadFile(h, buffer.data(),
                    static_cast<DWORD>(std::min(kChunk, static_cast<std::size_t>(lLength) - total)),
                    &got, nullptr) &&
           got > 0)
      total += got;
    b.CloseReadHandle();
  } else {
    std::istream& is = b.OpenRead();
    while (is.read(buffer.data(), kChunk) || is.gcount() > 0)
      total += static_cast<std::size_t>(is.gcount());
    b.CloseRead();
  }
  return total;
}

std::size_t ReadPlainOnce(const std::string& file, std::vector<char>& buffer) {
  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::size_t total = 0;
  DWORD got = 0;
  while (ReadFile(h, buffer.data(), static_cast<DWORD>(kChunk), &got, nullptr) && got > 0)
    total += got;
  CloseHandle(h);
  return total;
}

void Versus(benchmark::State& state, bool bRead, bool bHandle) {
  Store store;
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::vector<char> data = Data(size);
  const std::string file = store.dir.File("plain.bin");
  std::vector<char> buffer(kChunk);
  std::unique_ptr<IBlobStrategy> reader;
  if (bRead) {
    std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
    reader = store.New();
    reader->Load(store.Save(data));
  }
  double plain = 0, blob = 0;
  bool bPlainFirst = true;
  for (auto _ : state) {
    double tPlain = 0, tBlob = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const Clock::time_point t0 = Clock::now();
      if ((turn == 0) == bPlainFirst) {
        if (bRead ? ReadPlainOnce(file, buffer) != size : (WritePlainOnce(file, data), false))
          state.SkipWithError("short read");
        tPlain = Seconds(t0);
      } else {
        if (bRead ? ReadOnce(*reader, buffer, bHandle) != size
                  : (WriteOnce(store, data, bHandle), false))
          state.SkipWithError("short read");
        tBlob = Seconds(t0);
      }
    }
    bPlainFirst = !bPlainFirst;
    plain += tPlain;
    blob += tBlob;
    state.SetIterationTime(tBlob);
    if (!bRead) {
      std::remove(file.c_str());
      RemoveFiles(store);
    }
  }
  state.counters["plain_pct"] = blob > 0 ? 100.0 * plain / blob : 0;
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
void Versus_Write_Stream(benchmark::State& state) {
  Versus(state, false, false);
}
void Versus_Write_Handle(benchmark::State& state) {
  Versus(state, false, true);
}
void Versus_Read_Stream(benchmark::State& state) {
  Versus(state, true, false);
}
void Versus_Read_Handle(benchmark::State& state) {
  Versus(state, true, true);
}

#define BLOB_SIZES ->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(Write_Plain) BLOB_SIZES;
BENCHMARK(Write_Stream) BLOB_SIZES;
BENCHMARK(Write_Handle) BLOB_SIZES;
BENCHMARK(Read_Plain) BLOB_SIZES;
BENCHMARK(Read_Stream) BLOB_SIZES;
BENCHMARK(Read_Handle) BLOB_SIZES;
#define VERSUS_SIZES ->Arg(1 << 20)->Arg(50 << 20)->Unit(benchmark::kMillisecond)->UseManualTime()
BENCHMARK(Versus_Write_Stream) VERSUS_SIZES;
BENCHMARK(Versus_Write_Handle) VERSUS_SIZES;
BENCHMARK(Versus_Read_Stream) VERSUS_SIZES;
BENCHMARK(Versus_Read_Handle) VERSUS_SIZES;
BENCHMARK(SaveSmall)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
