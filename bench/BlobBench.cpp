// blob_bench: the blob store against the plain file work beneath it, same
// bytes, one run.
//
// Model: a static model over one database file with the two blob tables and
// a table tblDoc whose record definition the strategies serve.
//
// Workloads (bytes/s counts blob data):
//   SaveSmall   100 blobs of 4 KiB per iteration, each written through the
//               output stream and saved (temporary file, append into the
//               smallest blob file, fsync, both table rows in one
//               transaction).
//               Raw: the same 4 KiB written to a temporary file, copied to
//                    the end of one file, fsync, temporary file removed
//                    (the file work alone). Target: Driver within 3x.
//   ReadStream  one blob of 8 MiB read through OpenRead in 64 KiB reads.
//               Raw: std::ifstream over the same bytes of the blob file.
//               Target: Driver within 1.5x.
// Run a Release build:
//   cmake --preset release && cmake --build build/release --target blob_bench
//   build/release/bench/blob_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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
constexpr int kSmallPerIteration = 100;
constexpr std::size_t kLarge = 8u << 20;
constexpr std::size_t kReadChunk = 65536;

class BenchCallback : public IComStaticDataModelCallback {
 public:
  explicit BenchCallback(std::string path) : m_path(std::move(path)) {}
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IComStaticDataModelCallback) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(preDataModelDefinition)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(defDatabases)(IComStaticDataModelCreator* c) override {
    return c->AddDatabase(0, _bstr_t(m_path.c_str()), _bstr_t(""));
  }
  STDMETHOD(defFieldDefs)(IComStaticDataModelCreator* c) override {
    c->AddFieldDef(0, _bstr_t("ID"), 7, -1, VARIANT_FALSE);
    return c->AddFieldDef(1, _bstr_t("Doc"), 12, -1, VARIANT_FALSE);
  }
  STDMETHOD(defRecordDefs)(IComStaticDataModelCreator* c) override {
    c->AddRecordDef(0, _bstr_t("tblDoc"), 0);
    c->AddFieldToRecordDef(0, 0, VARIANT_TRUE, VARIANT_FALSE);
    return c->AddFieldToRecordDef(0, 1, VARIANT_FALSE, VARIANT_FALSE);
  }
  STDMETHOD(defCommandDefs)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(postDataModelDefinition)(IComStaticDataModelCreator*) override { return S_OK; }

 private:
  std::string m_path;
};

struct Store {
  Store() : path(dir.File("blobs.vdb")), callback(path) {
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
  BenchCallback callback;
  std::unique_ptr<SDM> pModel;
};

void SaveSmall_Driver(benchmark::State& state) {
  Store store;
  const std::vector<char> data(kSmall, 'x');
  for (auto _ : state)
    for (int i = 0; i < kSmallPerIteration; ++i) benchmark::DoNotOptimize(store.Save(data));
  state.SetBytesProcessed(state.iterations() * kSmallPerIteration * static_cast<int64_t>(kSmall));
}

void SaveSmall_Raw(benchmark::State& state) {
  vemtest::TempDir dir;
  const std::string target = dir.File("blob.bin"), temp = dir.File("~0.tmp");
  std::ofstream(target, std::ios::binary).write(std::string(288, '\0').data(), 288);
  const std::vector<char> data(kSmall, 'x');
  std::vector<char> buffer(0x8000);
  for (auto _ : state) {
    for (int i = 0; i < kSmallPerIteration; ++i) {
      std::ofstream(temp, std::ios::binary)
          .write(data.data(), static_cast<std::streamsize>(kSmall));
      HANDLE hIn = CreateFileA(temp.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      HANDLE hOut = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      SetFilePointer(hOut, 0, nullptr, FILE_END);
      DWORD got = 0, put = 0;
      while (ReadFile(hIn, buffer.data(), 0x8000, &got, nullptr) && got > 0)
        WriteFile(hOut, buffer.data(), got, &put, nullptr);
      FlushFileBuffers(hOut);
      CloseHandle(hOut);
      CloseHandle(hIn);
      std::remove(temp.c_str());
    }
  }
  state.SetBytesProcessed(state.iterations() * kSmallPerIteration * static_cast<int64_t>(kSmall));
}

void ReadStream_Driver(benchmark::State& state) {
  Store store;
  const LONG id = store.Save(std::vector<char>(kLarge, 'y'));
  std::unique_ptr<IBlobStrategy> b = store.New();
  b->Load(id);
  std::vector<char> buffer(kReadChunk);
  for (auto _ : state) {
    std::istream& is = b->OpenRead();
    std::size_t total = 0;
    while (is.read(buffer.data(), kReadChunk) || is.gcount() > 0)
      total += static_cast<std::size_t>(is.gcount());
    b->CloseRead();
    if (total != kLarge) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kLarge));
}

void ReadStream_Raw(benchmark::State& state) {
  Store store;
  store.Save(std::vector<char>(kLarge, 'y'));
  const std::string file = store.Db().GetBlobFilePath("blob00000001.bin");
  std::vector<char> buffer(kReadChunk);
  for (auto _ : state) {
    std::ifstream is(file, std::ios::binary);
    is.seekg(308);
    std::size_t total = 0;
    while (total < kLarge && (is.read(buffer.data(), static_cast<std::streamsize>(
                                                         std::min(kReadChunk, kLarge - total))) ||
                              is.gcount() > 0))
      total += static_cast<std::size_t>(is.gcount());
    if (total != kLarge) state.SkipWithError("short read");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kLarge));
}

BENCHMARK(SaveSmall_Driver)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveSmall_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadStream_Driver)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadStream_Raw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
