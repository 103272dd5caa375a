// gadm_bench: construction of the generic access data model against the
// work beneath it, on one database built once in setup.
//
// Database: 50 "DM" tables (Enum 0..49) of 20 fields each: an AutoNumber
// primary key, Long, Text(50) and "CRYPT LONG" Text(44) columns, every
// field with an "Enum"; database properties vemDriverVersion and the two
// counters.
//
// Workloads:
//   GadmConstruct  GADM(path, password): opens the parse database, walks
//                  tables and fields twice (field and record definitions),
//                  opens the model's database, closes the parse database
//   EngineWalk     the same reads through the engine directly, once: open,
//                  every table's Description and Enum, every field's name,
//                  type, size, attributes, Description and Enum, the primary
//                  index's fields; no model is built
//   RawCatalog     the catalog rows beneath the engine read with the SQLite
//                  C API (sqlite_master, MSysColumns, MSysProperties,
//                  MSysIndexes): the floor of any walk
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <string>

#include "DataBase/AccessDriver/GADM.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"

namespace {

constexpr int kTables = 50;
constexpr int kFieldsPerTable = 20;
constexpr const char* kPassword = "bench";

struct BenchDatabase {
  BenchDatabase() : path(dir.File("gadm_bench.vdb")) {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(path, kPassword);
    vemtest::SetLongProperty(*pDb, "vemDriverVersion", 0x01010000);
    vemtest::SetLongProperty(*pDb, "EnumRecordDefMax", kTables);
    vemtest::SetLongProperty(*pDb, "EnumFieldMax", kTables * kFieldsPerTable);
    LONG lFieldId = 0;
    for (int t = 0; t < kTables; ++t) {
      vemtest::FixtureTable table;
      // Built by appending: GCC 12 warns (-Wrestrict, a false positive) on
      // "literal" + std::to_string(...) in optimised builds.
      const std::string number = std::to_string(t);
      table.name = std::string("tbl").append(number);
      table.description = std::string("DM table ").append(number);
      table.enumId = t;
      const std::string prefix = std::string("T").append(number).append("_");
      table.fields.push_back({prefix + "ID", dao::dbLong, 0, true, {}, lFieldId++});
      table.primaryKey = {prefix + "ID"};
      for (int f = 1; f < kFieldsPerTable; ++f) {
        const std::string name = std::string(prefix).append("F").append(std::to_string(f));
        switch (f % 3) {
          case 0:
            table.fields.push_back({name, dao::dbLong, 0, false, {}, lFieldId++});
            break;
          case 1:
            table.fields.push_back({name, dao::dbText, 50, false, {}, lFieldId++});
            break;
          default:
            table.fields.push_back({name, dao::dbText, 44, false, "CRYPT LONG", lFieldId++});
            break;
        }
      }
      vemtest::AddTable(*pDb, table);
    }
    pDb->Close();
  }
  vemtest::TempDir dir;
  std::string path;
};

BenchDatabase& Database() {
  static BenchDatabase db;
  return db;
}

void GadmConstruct(benchmark::State& state) {
  const std::string& path = Database().path;
  for (auto _ : state) {
    GADM model(nullptr, path, kPassword);
    benchmark::DoNotOptimize(model.FieldDefSlots());
  }
  state.counters["fields/s"] = benchmark::Counter(static_cast<double>(kTables * kFieldsPerTable),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(GadmConstruct)->Unit(benchmark::kMillisecond);

// The value of a property or VT_EMPTY, as the model reads it.
_variant_t Property(dao::Properties& properties, const char* name) {
  dao::PropertyPtr pProperty;
  _variant_t v;
  if (SUCCEEDED(properties.get_Item(_variant_t(name), &pProperty)) && pProperty)
    v = pProperty->GetValue();
  return v;
}

void EngineWalk(benchmark::State& state) {
  const std::string& path = Database().path;
  dao::DBEnginePtr pEngine = dao::CreateDBEngine();
  const std::string connect = std::string(";PWD=") + kPassword;
  for (auto _ : state) {
    dao::DatabasePtr pDb = pEngine->OpenDatabase(path.c_str(), _variant_t(static_cast<LONG>(0)),
                                                 _variant_t(false), _variant_t(connect.c_str()));
    long sum = 0;
    dao::TableDefsPtr pTables = pDb->GetTableDefs();
    const short nTables = pTables->GetCount();
    for (short i = 0; i < nTables; ++i) {
      dao::TableDefPtr pTable = pTables->GetItem(_variant_t(static_cast<LONG>(i)));
      dao::PropertiesPtr pTableProps = pTable->GetProperties();
      sum += Property(*pTableProps, "Description").vt + Property(*pTableProps, "Enum").vt;
      dao::IndexesPtr pIndexes = pTable->GetIndexes();
      dao::FieldsPtr pPrimary = pIndexes->GetItem(_variant_t(static_cast<LONG>(0)))->GetFields();
      dao::FieldsPtr pFields = pTable->GetFields();
      const short nFields = pFields->GetCount();
      for (short j = 0; j < nFields; ++j) {
        dao::FieldPtr pField = pFields->GetItem(_variant_t(static_cast<LONG>(j)));
        _bstr_t name = pField->GetName();
        sum += pField->GetType() + pField->GetSize() + pField->GetAttributes();
        dao::PropertiesPtr pProps = pField->GetProperties();
        sum += Property(*pProps, "Description").vt + Property(*pProps, "Enum").vt;
        dao::FieldPtr pKey;
        sum += SUCCEEDED(pPrimary->get_Item(_variant_t(name), &pKey)) ? 1 : 0;
      }
    }
    pDb->Close();
    benchmark::DoNotOptimize(sum);
  }
  state.counters["fields/s"] = benchmark::Counter(static_cast<double>(kTables * kFieldsPerTable),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(EngineWalk)->Unit(benchmark::kMillisecond);

void RawCatalog(benchmark::State& state) {
  const std::string& path = Database().path;
  const char* queries[] = {
      "SELECT name FROM sqlite_master WHERE type='table'",
      "SELECT TableName, ColumnName, Type, Size, Attributes FROM MSysColumns ORDER BY TableName, "
      "Ordinal",
      "SELECT Kind, ObjectName, SubName, Name, Type, Value FROM MSysProperties",
      "SELECT TableName, IndexName, IsPrimary, Fields FROM MSysIndexes"};
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    long rows = 0;
    for (const char* sql : queries) {
      sqlite3_stmt* stmt = nullptr;
      sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(stmt); ++c)
          benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
        ++rows;
      }
      sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    benchmark::DoNotOptimize(rows);
  }
  state.counters["fields/s"] = benchmark::Counter(static_cast<double>(kTables * kFieldsPerTable),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(RawCatalog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
