// engine_scale_bench: costs that must stay flat as a table or a connection's
// history grows, each at two sizes (the ratio of their per-item times shows
// whether the cost is flat), with the raw SQLite C API beneath it.
//
// Workloads:
//   KeyedAfterOneOffs/<n>  n distinct one-off texts first (a DELETE per record
//                          through Execute and a Find criteria per value, half
//                          each), then 10,000 keyed one-record opens, timed;
//                          the per-open time must not grow with n
//   KeyedRawBound          the floor beneath it: one prepared statement, bound
//   AutoNumberAppend/<n>   n rows appended by AddNew/Update into a table whose
//                          AutoNumber is not its primary key, in transactions
//                          of 1,000; the per-row time must not grow with n
//   AutoNumberAppendRaw/<n> the same rows through one INSERT statement, the
//                          numbers counted by the caller
//   MemoScan/<n>           open "SELECT * FROM <table>" over n rows that each
//                          hold a 256 KiB memo and read every row's Title; the
//                          memos are read only when asked for, so this costs
//                          what the small values cost (counters: heapMB, the
//                          process heap the open recordset holds; sqlitePeakMB,
//                          SQLite's peak memory above where it started)
//   MemoScanRaw/<n>        SELECT ID, Title of the same rows (the small values)
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "Engine/Dao.h"

namespace {

constexpr int kRows = 10000;   // rows of the table the keyed opens read
constexpr int kKeyed = 10000;  // keyed opens per iteration
constexpr int kBatch = 1000;   // appended rows per transaction

struct Fixture {
  Fixture() {
    dir = std::filesystem::temp_directory_path() /
          ("engine_scale_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    path = (dir / "bench.vdb").string();
    engine = dao::CreateDBEngine();
    auto db = engine->CreateDatabase(path.c_str());
    db->Execute("CREATE TABLE t (ID COUNTER PRIMARY KEY, Name TEXT(50), Amount DOUBLE, Qty LONG)");
    db->BeginTrans();
    auto rs = db->OpenRecordset("SELECT * FROM t WHERE ID = 0");
    for (int i = 0; i < kRows; ++i) {
      rs->AddNew();
      rs->PutCollect("Name", ("name " + std::to_string(i)).c_str());
      rs->PutCollect("Amount", i * 1.5);
      rs->PutCollect("Qty", static_cast<LONG>(i % 1000));
      rs->Update();
    }
    db->CommitTrans();
    db->Close();
  }
  ~Fixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  dao::DatabasePtr Open() { return engine->OpenDatabase(path.c_str()); }
  std::filesystem::path dir;
  std::string path;
  dao::DBEnginePtr engine;
};

Fixture& F() {
  static Fixture f;
  return f;
}

void KeyedOpens(const dao::DatabasePtr& db, std::mt19937& rng, double& sum) {
  std::uniform_int_distribution<int> pick(1, kRows);
  for (int i = 0; i < kKeyed; ++i) {
    std::string sql = "SELECT * FROM t WHERE ID = " + std::to_string(pick(rng)) + ";";
    auto rs = db->OpenRecordset(sql.c_str());
    sum += static_cast<LONG>(rs->GetCollect("ID"));
    _variant_t n = rs->GetCollect("Name");
    sum += SysStringLen(n.bstrVal);
    sum += static_cast<double>(rs->GetCollect("Amount"));
    sum += static_cast<LONG>(rs->GetCollect("Qty"));
    rs->Close();
  }
}

void BM_KeyedAfterOneOffs(benchmark::State& state) {
  auto& f = F();
  auto db = f.Open();  // a connection of its own: a fresh history
  const int oneOffs = static_cast<int>(state.range(0));
  auto finder = db->OpenRecordset("SELECT * FROM t WHERE Qty = 7");
  for (int i = 0; i < oneOffs; ++i) {
    if (i % 2)
      db->Execute(("DELETE FROM t WHERE ID = " + std::to_string(kRows + i)).c_str());
    else
      finder->FindFirst(("Amount = " + std::to_string(i) + ".25").c_str());
  }
  std::mt19937 rng(42);
  double sum = 0;
  for (auto _ : state) KeyedOpens(db, rng, sum);
  benchmark::DoNotOptimize(sum);
  finder->Close();
  db->Close();
  state.SetItemsProcessed(state.iterations() * kKeyed);
}

void BM_KeyedRawBound(benchmark::State& state) {
  auto& f = F();
  sqlite3* raw = nullptr;
  sqlite3_open_v2(f.path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(raw, "SELECT * FROM t WHERE ID = ?1", -1, &s, nullptr);
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(1, kRows);
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < kKeyed; ++i) {
      sqlite3_bind_int(s, 1, pick(rng));
      if (sqlite3_step(s) == SQLITE_ROW) {
        sum += sqlite3_column_int(s, 0);
        std::string n(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                      static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
        sum +=
            static_cast<double>(n.size()) + sqlite3_column_double(s, 2) + sqlite3_column_int(s, 3);
      }
      sqlite3_reset(s);
    }
  }
  benchmark::DoNotOptimize(sum);
  sqlite3_finalize(s);
  sqlite3_close_v2(raw);
  state.SetItemsProcessed(state.iterations() * kKeyed);
}

void BM_AutoNumberAppend(benchmark::State& state) {
  auto& f = F();
  auto db = f.Open();
  const int rows = static_cast<int>(state.range(0));
  _variant_t code("Code"), value("V");
  for (auto _ : state) {
    state.PauseTiming();
    db->Execute("CREATE TABLE c (Code LONG PRIMARY KEY, N COUNTER, V LONG)");
    state.ResumeTiming();
    auto rs = db->OpenRecordset("SELECT * FROM c WHERE Code = 0");
    for (int i = 0; i < rows; ++i) {
      if (i % kBatch == 0) db->BeginTrans();
      rs->AddNew();
      rs->PutCollect(code, static_cast<LONG>(i));
      rs->PutCollect(value, static_cast<LONG>(i % 100));
      rs->Update();
      if (i % kBatch == kBatch - 1 || i == rows - 1) db->CommitTrans();
    }
    rs->Close();
    state.PauseTiming();
    db->Execute("DROP TABLE c");
    state.ResumeTiming();
  }
  db->Close();
  state.SetItemsProcessed(state.iterations() * rows);
}

void BM_AutoNumberAppendRaw(benchmark::State& state) {
  auto& f = F();
  sqlite3* raw = nullptr;
  sqlite3_open_v2(f.path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_busy_timeout(raw, 10000);
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    sqlite3_exec(raw, "CREATE TABLE r (Code INTEGER NOT NULL PRIMARY KEY, N INTEGER, V INTEGER)",
                 nullptr, nullptr, nullptr);
    state.ResumeTiming();
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw, "INSERT INTO r (Code, N, V) VALUES (?1, ?2, ?3)", -1, &s, nullptr);
    for (int i = 0; i < rows; ++i) {
      if (i % kBatch == 0) sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      sqlite3_bind_int(s, 1, i);
      sqlite3_bind_int(s, 2, i + 1);
      sqlite3_bind_int(s, 3, i % 100);
      sqlite3_step(s);
      sqlite3_reset(s);
      if (i % kBatch == kBatch - 1 || i == rows - 1)
        sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(s);
    state.PauseTiming();
    sqlite3_exec(raw, "DROP TABLE r", nullptr, nullptr, nullptr);
    state.ResumeTiming();
  }
  sqlite3_close_v2(raw);
  state.SetItemsProcessed(state.iterations() * rows);
}

constexpr std::size_t kMemoBytes = 256 * 1024;

// Table m<n>: n rows (ID, Title, a 256 KiB Body memo), made once.
std::string MemoTable(std::int64_t rows) {
  static std::set<std::int64_t> made;
  std::string table = "m";
  table += std::to_string(rows);
  if (!made.insert(rows).second) return table;
  auto& f = F();
  f.Open()->Execute(
      ("CREATE TABLE " + table + " (ID COUNTER PRIMARY KEY, Title TEXT(50), Body MEMO)").c_str());
  sqlite3* raw = nullptr;
  sqlite3_open_v2(f.path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(raw, ("INSERT INTO " + table + " (Title, Body) VALUES (?1, ?2)").c_str(), -1,
                     &s, nullptr);
  const std::string body(kMemoBytes, 'm');
  for (std::int64_t i = 0; i < rows; ++i) {
    const std::string title = "title " + std::to_string(i);
    sqlite3_bind_text(s, 1, title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close_v2(raw);
  return table;
}

std::size_t HeapBytes() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

void BM_MemoScan(benchmark::State& state) {
  const std::string sql = "SELECT * FROM " + MemoTable(state.range(0));
  auto db = F().Open();
  _variant_t title("Title");
  std::size_t chars = 0, heap = 0;
  sqlite3_int64 now = 0, peak = 0, base = 0;
  for (auto _ : state) {
    sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &base, &peak, 1);
    const std::size_t before = HeapBytes();
    auto rs = db->OpenRecordset(sql.c_str());
    for (; !rs->GetEOF(); rs->MoveNext()) {
      _variant_t t = rs->GetCollect(title);
      chars += SysStringLen(t.bstrVal);
    }
    heap = std::max(heap, HeapBytes() - std::min(before, HeapBytes()));
    rs->Close();
  }
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &now, &peak, 0);
  benchmark::DoNotOptimize(chars);
  db->Close();
  state.counters["heapMB"] = static_cast<double>(heap) / (1 << 20);
  state.counters["sqlitePeakMB"] = static_cast<double>(peak - base) / (1 << 20);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MemoScanRaw(benchmark::State& state) {
  const std::string sql = "SELECT ID, Title FROM " + MemoTable(state.range(0));
  sqlite3* raw = nullptr;
  sqlite3_open_v2(F().path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::size_t chars = 0;
  for (auto _ : state) {
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(raw, sql.c_str(), -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
      chars += static_cast<std::size_t>(sqlite3_column_int(s, 0) + sqlite3_column_bytes(s, 1));
    sqlite3_finalize(s);
  }
  benchmark::DoNotOptimize(chars);
  sqlite3_close_v2(raw);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_KeyedAfterOneOffs)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyedRawBound)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoNumberAppend)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoNumberAppendRaw)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoScan)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoScanRaw)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
