// sqlcipher_bench: the workloads of encrypted_records_bench on whole-file
// encryption (SQLCipher, Debian's libsqlcipher with its default settings),
// the same records and keys (EncryptedRecordsData.h). A program of its own:
// SQLCipher exports the sqlite3_* symbols of the SQLite it carries.
//
//   Append     all records in one transaction on a fresh keyed file: one
//              prepared INSERT
//   KeyedRead  10,000 random ids: one prepared SELECT of all four columns
//   Scan       SELECT of all four columns of every record
//   Rekey      PRAGMA rekey of the filled file (alternating two keys)
// WAL and synchronous=NORMAL, as the driver's engine.
#include <benchmark/benchmark.h>
#include <sqlite3.h>  // SQLCipher's (its include directory comes first)
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "EncryptedRecordsData.h"
#include "SqliteWorkloads.h"

namespace {

using namespace encrecords;

// Opens (creating) a file under the key and reads its schema, so that the
// key derivation is done before any timing.
sqlite3* OpenKeyed(const std::string& path, const char* key) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    sqlite3_close_v2(db);
    throw std::runtime_error("cannot open " + path);
  }
  Exec(db, std::string("PRAGMA key = '") + key + "'");
  Exec(db, "SELECT count(*) FROM sqlite_master");
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA synchronous=NORMAL");
  return db;
}

// A temporary directory of its own, removed at exit.
struct Dir {
  Dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sqlcipherXXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~Dir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string File(const std::string& name) const { return path + "/" + name; }
  std::string path;
  int serial = 0;
};

Dir& TheDir() {
  static Dir dir;
  return dir;
}

void Remove(const std::string& path) {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
}

sqlite3* CreateTable(const std::string& path) {
  sqlite3* db = OpenKeyed(path, kSecretA);
  Exec(db, "CREATE TABLE tblPerson (ID INTEGER PRIMARY KEY, Name TEXT, Note TEXT, Amount REAL)");
  return db;
}

struct Filled {
  Filled() : path(TheDir().File("filled.db")) {
    db = CreateTable(path);
    AppendRows(db);
  }
  ~Filled() { sqlite3_close_v2(db); }
  std::string path;
  sqlite3* db = nullptr;
  bool bUnderA = true;
};

Filled& TheFilled() {
  static Filled filled;
  return filled;
}

template <class Body>
void Guarded(benchmark::State& state, Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void Append_SqlCipher(benchmark::State& state) {
  Guarded(state, [&] {
    TheTexts();  // made before any timing
    for (auto _ : state) {
      state.PauseTiming();
      const std::string path = TheDir().File("append" + std::to_string(++TheDir().serial));
      sqlite3* db = CreateTable(path);
      state.ResumeTiming();
      AppendRows(db);
      state.PauseTiming();
      sqlite3_close_v2(db);
      Remove(path);
      state.ResumeTiming();
    }
  });
}

void KeyedRead_SqlCipher(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    const std::vector<int> ids = LookupIds();
    for (auto _ : state) benchmark::DoNotOptimize(KeyedReads(f.db, ids));
  });
}

void Scan_SqlCipher(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    for (auto _ : state) {
      double sum = 0;
      if (ScanRows(f.db, sum) != Records()) state.SkipWithError("the scan missed records");
      benchmark::DoNotOptimize(sum);
    }
  });
}

void Rekey_SqlCipher(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    for (auto _ : state) {
      const char* to = f.bUnderA ? kSecretB : kSecretA;
      Exec(f.db, std::string("PRAGMA rekey = '") + to + "'");
      f.bUnderA = !f.bUnderA;
    }
  });
}

}  // namespace

#define VEM_ROUND(fn, name) \
  BENCHMARK(fn)->Name(name)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond)

VEM_ROUND(Append_SqlCipher, "Append/SQLCipher");
VEM_ROUND(KeyedRead_SqlCipher, "KeyedRead/SQLCipher");
VEM_ROUND(Scan_SqlCipher, "Scan/SQLCipher");
VEM_ROUND(Rekey_SqlCipher, "Rekey/SQLCipher");

BENCHMARK_MAIN();
