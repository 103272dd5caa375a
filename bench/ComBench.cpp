// com_bench: the COM layer against the driver calls beneath it, same work,
// one run. Both paths work on one fixture database (Support/DatabaseFixture.h,
// table tblDocument: DOC_ID auto value 30, DOC_CUS_ID LONG 31, DOC_Title
// STRING 32, DOC_Price DOUBLE 37), the COM path through the generic model
// that ComVemServer builds, the driver path through a GADM of its own over
// the same file.
//
// Workloads (items/s counts records):
//   LoaderRead     kRows keyed one-record reads per iteration (ids in a fixed
//                  shuffled order): Open(record by LONG id), three typed
//                  reads (LONG, STRING, DOUBLE), Close.
//                  Com: IComLoader::Open/GetValue x3/Close; Driver: ILoader
//                  Open/GetLong/GetString/GetDouble/Close.
//   SaverAppend    kAppends records per iteration, one transaction: OpenNew,
//                  three typed writes, Close.
//   RecordsetScan  Open, then MoveNext over the kRows rows reading two
//                  fields through the recordset's loader, Close.
// Target: every Com figure within 1.2x of its Driver figure.
// Run a Release build: cmake --build build/release --target com_bench &&
//   build/release/bench/com_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/GADM.h"
#include "Platform/ComUtil.h"
#include "Platform/Text.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "Support/TestRecord.h"
#include "VemComServer/ComVemServer.h"
#include "vem/vem.h"

namespace {

constexpr int kRows = 2000;
constexpr int kAppends = 1000;
enum : LONG { kDocument = 2, kDocId = 30, kDocCusId = 31, kDocTitle = 32, kDocPrice = 37 };

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw std::runtime_error(std::string(what) + " failed");
}

// A client record with one LONG id value.
class BenchRecord : public IComRecord {
 public:
  LONG m_lId = 0;
  STDMETHOD(QueryInterface)(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(GetRecordDefId)(LONG* plID) override {
    *plID = kDocument;
    return S_OK;
  }
  STDMETHOD(GetIdFieldValue)(LONG, VARIANT* pValue) override {
    pValue->vt = VT_I4;
    pValue->lVal = m_lId;
    return S_OK;
  }
  STDMETHOD(SetIdFieldValue)(LONG, VARIANT varValue) override {
    if (varValue.vt == VT_I4) m_lId = varValue.lVal;
    return S_OK;
  }
};

// The file, the two models over it and the ids of the filled rows.
struct Bench {
  vemtest::TempDir dir;
  std::string path = dir.File("bench.vdb");
  std::unique_ptr<GADM> pDriverModel;
  ComPtr<IComDataModel> pComModel;
  std::vector<LONG> ids;

  Bench() {
    vemtest::CreateFixtureDatabase(path);
    pDriverModel = std::make_unique<GADM>(nullptr, path, vemtest::kFixturePassword);
    ComPtr<IComGenericAccessDataModel> pServer;
    Check(vemserver::CreateComVemServer(IID_IComGenericAccessDataModel,
                                        reinterpret_cast<void**>(&pServer)),
          "CreateComVemServer");
    _bstr_t bstrPath(path.c_str()), bstrPassword(vemtest::kFixturePassword);
    Check(pServer->CreateAccessDataModel(nullptr, bstrPath, bstrPassword, &pComModel),
          "CreateAccessDataModel");
    pDriverModel->BeginTrans(0);
    std::unique_ptr<ISaver> pSaver = pDriverModel->CreateSaver(kDocument);
    for (int i = 0; i < kRows; ++i) {
      vemtest::TestRecord record(kDocument);
      record.Long(kDocId, 0);
      pSaver->OpenNew(record);
      pSaver->PutLong(kDocCusId, i);
      pSaver->PutString(kDocTitle, "Dokument " + std::to_string(i));
      pSaver->PutDouble(kDocPrice, i * 0.5);
      pSaver->Close();
      ids.push_back(record.Value(kDocId).m_lValue);
    }
    pDriverModel->CommitTrans(0);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
  }
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

void LoaderRead_Driver(benchmark::State& state) {
  Bench& b = TheBench();
  std::unique_ptr<ILoader> pLoader = b.pDriverModel->CreateLoader(kDocument);
  LONG l = 0;
  std::string s;
  double d = 0;
  for (auto _ : state) {
    for (LONG lId : b.ids) {
      vemtest::TestRecord record(kDocument);
      record.Long(kDocId, lId);
      pLoader->Open(record);
      pLoader->GetLong(kDocCusId, l);
      pLoader->GetString(kDocTitle, s);
      pLoader->GetDouble(kDocPrice, d);
      pLoader->Close();
    }
    benchmark::DoNotOptimize(d);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void LoaderRead_Com(benchmark::State& state) {
  Bench& b = TheBench();
  ComPtr<IComLoader> pLoader;
  Check(b.pComModel->CreateComLoader(kDocument, &pLoader), "CreateComLoader");
  BenchRecord record;
  _variant_t v;
  for (auto _ : state) {
    for (LONG lId : b.ids) {
      record.m_lId = lId;
      Check(pLoader->Open(&record), "Open");
      pLoader->GetValue(kDocCusId, &v);
      pLoader->GetValue(kDocTitle, &v);
      Check(pLoader->GetValue(kDocPrice, &v), "GetValue");
      pLoader->Close();
    }
    benchmark::DoNotOptimize(v.dblVal);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void SaverAppend_Driver(benchmark::State& state) {
  Bench& b = TheBench();
  std::unique_ptr<ISaver> pSaver = b.pDriverModel->CreateSaver(kDocument);
  for (auto _ : state) {
    b.pDriverModel->BeginTrans(0);
    for (int i = 0; i < kAppends; ++i) {
      vemtest::TestRecord record(kDocument);
      record.Long(kDocId, 0);
      pSaver->OpenNew(record);
      pSaver->PutLong(kDocCusId, i);
      pSaver->PutString(kDocTitle, "Anhang");
      pSaver->PutDouble(kDocPrice, 1.5);
      pSaver->Close();
    }
    b.pDriverModel->CommitTrans(0);
  }
  state.SetItemsProcessed(state.iterations() * kAppends);
}

void SaverAppend_Com(benchmark::State& state) {
  Bench& b = TheBench();
  ComPtr<IComSaver> pSaver;
  Check(b.pComModel->CreateComSaver(kDocument, &pSaver), "CreateComSaver");
  _variant_t vTitle, vPrice(1.5);
  vTitle.vt = VT_BSTR;
  vTitle.bstrVal = SysAllocString(u"Anhang");
  VARIANT_BOOL bDone = 0;
  for (auto _ : state) {
    Check(b.pComModel->BeginTrans(0, &bDone), "BeginTrans");
    for (int i = 0; i < kAppends; ++i) {
      BenchRecord record;
      Check(pSaver->OpenNew(&record), "OpenNew");
      _variant_t vLong;
      vLong.vt = VT_I4;
      vLong.lVal = i;
      pSaver->PutValue(kDocCusId, vLong);
      pSaver->PutValue(kDocTitle, vTitle);
      pSaver->PutValue(kDocPrice, vPrice);
      Check(pSaver->Close(), "Close");
    }
    Check(b.pComModel->CommitTrans(0, &bDone), "CommitTrans");
  }
  state.SetItemsProcessed(state.iterations() * kAppends);
}

void RecordsetScan_Driver(benchmark::State& state) {
  Bench& b = TheBench();
  std::unique_ptr<IRecordsetStrategy> pRecordset =
      b.pDriverModel->CreateRecordsetStrategy(kDocument);
  LONG l = 0;
  std::string s;
  long lRows = 0;
  for (auto _ : state) {
    pRecordset->Open();
    IDaoLoader& loader = pRecordset->GetLoader();
    for (bool bMoved = pRecordset->MoveFirst(); bMoved; bMoved = pRecordset->MoveNext()) {
      loader.GetLong(kDocCusId, l);
      loader.GetString(kDocTitle, s);
      ++lRows;
    }
    pRecordset->Close();
  }
  state.SetItemsProcessed(lRows);
}

void RecordsetScan_Com(benchmark::State& state) {
  Bench& b = TheBench();
  ComPtr<IComRecordsetStrategy> pRecordset;
  Check(b.pComModel->CreateComRecordsetStrategy(kDocument, &pRecordset), "CreateComRecordset");
  _variant_t v;
  long lRows = 0;
  for (auto _ : state) {
    Check(pRecordset->Open(), "Open");
    ComPtr<IComLoader> pLoader;
    Check(pRecordset->GetComLoader(&pLoader), "GetComLoader");
    for (HRESULT hr = pRecordset->MoveFirst(); hr == S_OK; hr = pRecordset->MoveNext()) {
      pLoader->GetValue(kDocCusId, &v);
      pLoader->GetValue(kDocTitle, &v);
      ++lRows;
    }
    Check(pRecordset->Close(), "Close");
  }
  state.SetItemsProcessed(lRows);
}

}  // namespace

BENCHMARK(LoaderRead_Driver)->Unit(benchmark::kMillisecond);
BENCHMARK(LoaderRead_Com)->Unit(benchmark::kMillisecond);
BENCHMARK(RecordsetScan_Driver)->Unit(benchmark::kMillisecond);
BENCHMARK(RecordsetScan_Com)->Unit(benchmark::kMillisecond);
// Last: the appends grow the table that the reads and scans work on.
BENCHMARK(SaverAppend_Driver)->Unit(benchmark::kMillisecond);
BENCHMARK(SaverAppend_Com)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
