// jetsql_bench: the Jet SQL translator and the SQL functions it emits against SQLite's own
// statements and built-in functions, same data, one run (in-memory database, 100,000 rows).
//
// Workloads (Jet form against Raw form):
//   Translate  a loader's one-record statement translated, against SQLite preparing the result
//              (translation runs once per open; it should cost no more than the prepare)
//   Like       a scan with Name Like 'name 1*' (jet_like) against SQLite's LIKE 'name 1%'
//   Compare    a scan with Name = 'NAME 5' under JETNOCASE against NOCASE
//   Sort       ORDER BY Name under JETNOCASE against NOCASE
//   Concat     Name & Qty (jet_concat) against Name || Qty
//   UCase      UCase(Name) (jet_ucase) against upper(Name)
// Per-row functions should stay within about twice their built-in counterparts.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <stdexcept>
#include <string>

#include "Engine/JetSql/JetSql.h"

namespace {

constexpr int kRows = 100000;

sqlite3* Db() {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    if (sqlite3_open(":memory:", &d) != SQLITE_OK) throw std::runtime_error("open :memory:");
    jetsql::RegisterJetFunctions(d);
    sqlite3_exec(d,
                 "CREATE TABLE t (Id INTEGER PRIMARY KEY, Name TEXT COLLATE JETNOCASE, "
                 "Plain TEXT COLLATE NOCASE, Qty INTEGER);"
                 "BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(d, "INSERT INTO t (Name, Plain, Qty) VALUES (?1, ?1, ?2)", -1, &ins,
                       nullptr);
    for (int i = 0; i < kRows; ++i) {
      const std::string name = "name " + std::to_string(i);
      sqlite3_bind_text(ins, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(ins, 2, i % 1000);
      sqlite3_step(ins);
      sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(d, "COMMIT", nullptr, nullptr, nullptr);
    return d;
  }();
  return db;
}

// Runs a query to the end; answers the number of rows.
long RunQuery(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(db));
  long rows = 0;
  while (sqlite3_step(stmt) == SQLITE_ROW) ++rows;
  sqlite3_finalize(stmt);
  return rows;
}

const char* kLoader = "SELECT * FROM t WHERE Name = 'O''Neil' AND Id = 7;";

void BM_Translate_Jet(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(jetsql::TranslateStatement(kLoader));
}

void BM_Translate_RawPrepare(benchmark::State& state) {
  sqlite3* db = Db();
  const std::string sql = jetsql::TranslateStatement(kLoader).sql;
  for (auto _ : state) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    sqlite3_finalize(stmt);
  }
}

void Scan(benchmark::State& state, const std::string& sql) {
  sqlite3* db = Db();
  long rows = 0;
  for (auto _ : state) rows = RunQuery(db, sql);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["matched"] = static_cast<double>(rows);
}

void BM_Like_Jet(benchmark::State& state) {
  Scan(state, "SELECT Id FROM t WHERE " + jetsql::TranslateExpression("Name Like 'name 1*'"));
}
void BM_Like_Raw(benchmark::State& state) {
  Scan(state, "SELECT Id FROM t WHERE Plain LIKE 'name 1%'");
}
void BM_Compare_Jet(benchmark::State& state) {
  Scan(state, "SELECT Id FROM t WHERE " + jetsql::TranslateExpression("Name = 'NAME 5'"));
}
void BM_Compare_Raw(benchmark::State& state) {
  Scan(state, "SELECT Id FROM t WHERE Plain = 'NAME 5'");
}
void BM_Sort_Jet(benchmark::State& state) {
  Scan(state, jetsql::TranslateStatement("SELECT Id FROM t ORDER BY Name").sql);
}
void BM_Sort_Raw(benchmark::State& state) {
  Scan(state, "SELECT Id FROM t ORDER BY Plain");
}
void BM_Concat_Jet(benchmark::State& state) {
  Scan(state, jetsql::TranslateStatement("SELECT Name & Qty FROM t").sql);
}
void BM_Concat_Raw(benchmark::State& state) {
  Scan(state, "SELECT Plain || Qty FROM t");
}
void BM_UCase_Jet(benchmark::State& state) {
  Scan(state, jetsql::TranslateStatement("SELECT UCase(Name) FROM t").sql);
}
void BM_UCase_Raw(benchmark::State& state) {
  Scan(state, "SELECT upper(Plain) FROM t");
}

BENCHMARK(BM_Translate_Jet);
BENCHMARK(BM_Translate_RawPrepare);
BENCHMARK(BM_Like_Jet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Like_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compare_Jet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Compare_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort_Jet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Concat_Jet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Concat_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UCase_Jet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UCase_Raw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
