// encrypted_records_bench: records with two encrypted fields through the
// driver (field cipher, format 1.1) against plain SQLite on the same data, in
// one run. Its counterpart sqlcipher_bench runs the same workloads on
// whole-file encryption (SQLCipher; its own program, since SQLCipher's
// symbols clash with SQLite's); bench/encrypted_records.sh runs both and
// prints the medians side by side.
//
// Data (EncryptedRecordsData.h): 100,000 records of tblPerson: ID LONG key,
// Name TEXT(30) plain, Note (34 characters) and Amount (DOUBLE) encrypted.
// WAL and synchronous=NORMAL on every side (the engine's settings).
//
// Workloads (one iteration each; milliseconds per iteration):
//   Append     all records in one transaction on a fresh file. Driver: per
//              record CreateSaver, OpenNew, PutLong(ID), PutString(Name),
//              PutString(Note), PutDouble(Amount), Close. Plain: one
//              prepared INSERT.
//   KeyedRead  10,000 random ids. Driver: per id CreateLoader, Open,
//              GetLong(ID), GetString(Name), GetString(Note),
//              GetDouble(Amount), Close. Plain: one prepared SELECT by id.
//   Scan       every record, all four fields. Driver: a recordset strategy
//              and its loader view, MoveNext to the end. Plain: SELECT *.
//   Rekey      the change of secret of the whole file (Driver:
//              ChangeSecret, alternating between two secrets; rewrites
//              every encrypted value).
// The cipher's share: Append/DriverNoCipher and Scan/DriverNoCipher repeat
// the driver's append and scan with Note and Amount declared plain texts
// (holding the same cipher texts); Encrypt/Bare and Decrypt/Bare call the
// field cipher directly on the same 200,000 values. (Driver - NoCipher) /
// Bare is the cost of the cipher on the saver and loader paths relative to
// the bare cipher.
// Run with repetitions interleaved for stable medians, e.g.
//   encrypted_records_bench --benchmark_repetitions=7
//     --benchmark_enable_random_interleaving=true
// (bench/encrypted_records.sh does so and adds sqlcipher_bench).
// VEM_ENCRYPTED_BENCH_RECORDS=<n> uses n records (for profiling).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchModel.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/FieldCipher.h"
#include "DataBase/AccessDriver/ILoader.h"
#include "DataBase/AccessDriver/IRecord.h"
#include "DataBase/AccessDriver/IRecordsetStrategy.h"
#include "DataBase/AccessDriver/ISaver.h"
#include "DataBase/AccessDriver/SDM.h"
#include "EncryptedRecordsData.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"
#include "SqliteWorkloads.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "vem/StaticDataModel.h"

namespace {

using namespace encrecords;

enum : LONG { kID = 0, kName, kNote, kAmount };  // field definition ids
constexpr LONG kPerson = 0;                      // record definition id

const BYTE* Bytes(const char* text) {
  return reinterpret_cast<const BYTE*>(text);
}
ULONG Length(const char* text) {
  return static_cast<ULONG>(std::strlen(text));
}

// A client record identified by its LONG id.
class PersonRecord : public IRecord {
 public:
  void Set(LONG lValue) { m_lValue = lValue; }
  LONG GetRecordDefId() override { return kPerson; }
  void GetIdFieldValue(LONG lID, IdValue& value) override {
    if (lID != kID) return;
    value.m_lKind = IdValue::kLong;
    value.m_lValue = m_lValue;
  }
  void SetIdFieldValue(LONG, const IdValue&) override {}

 private:
  LONG m_lValue = 0;
};

// tblPerson over one database file. bCrypt false: Note and Amount are
// declared plain texts, so that their stored cipher texts are read and
// written as they are (the no-cipher baseline of the loader and saver paths).
vembench::BenchModelCallback PersonCallback(const std::string& path, bool bCrypt) {
  return vembench::BenchModelCallback(path,
                                      {{kID, "ID", 7, -1, false},
                                       {kName, "Name", 1, 30, false},
                                       {kNote, "Note", 1, 100, bCrypt},
                                       {kAmount, "Amount", bCrypt ? 10 : 1, 48, bCrypt}},
                                      {{kPerson, "tblPerson", {kID, kName, kNote, kAmount}}});
}

// The static model over one file, with secret A set.
struct Model {
  explicit Model(const std::string& path, bool bCrypt = true)
      : callback(PersonCallback(path, bCrypt)), pModel(std::make_unique<SDM>(nullptr, &callback)) {
    if (!Db().IsOpen()) throw std::runtime_error("the model could not open " + path);
    Db().SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
  }
  DaoDatabase& Db() { return static_cast<DaoDatabase&>(pModel->GetDatabase(0)); }
  const SRecordDef& Person() { return pModel->GetRecordDef(kPerson); }

  vembench::BenchModelCallback callback;
  std::unique_ptr<SDM> pModel;
};

// A temporary directory with an empty driver template (format 1.1) and an
// empty plain SQLite template that every file of a workload copies.
struct Files {
  Files() : driverTemplate(dir.File("driver.vdb")), plainTemplate(dir.File("plain.db")) {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(driverTemplate);
    pDb->Execute(
        "CREATE TABLE tblPerson (ID LONG PRIMARY KEY, Name TEXT(30), Note TEXT(100), "
        "Amount TEXT(48))");
    vemtest::SetLongProperty(*pDb, "vemDriverVersion",
                             static_cast<LONG>(DaoDatabase::kDriverVersion11));
    pDb->Close();
    sqlite3* db = OpenPlain(plainTemplate, SQLITE_OPEN_CREATE);
    Exec(db, "CREATE TABLE tblPerson (ID INTEGER PRIMARY KEY, Name TEXT, Note TEXT, Amount REAL)");
    sqlite3_close_v2(db);
  }

  std::string Fresh(const std::string& from, const std::string& stem) {
    const std::string path = dir.File(stem + std::to_string(++serial));
    std::filesystem::copy_file(from, path);
    return path;
  }
  static void Remove(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
  }

  static sqlite3* OpenPlain(const std::string& path, int extraFlags = 0) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | extraFlags, nullptr) !=
        SQLITE_OK) {
      const std::string message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
      sqlite3_close_v2(db);
      throw std::runtime_error("cannot open " + path + ": " + message);
    }
    Exec(db, "PRAGMA journal_mode=WAL");
    Exec(db, "PRAGMA synchronous=NORMAL");
    return db;
  }

  vemtest::TempDir dir;
  std::string driverTemplate, plainTemplate;
  int serial = 0;
};

Files& TheFiles() {
  static Files files;
  return files;
}

// Appends records 1..Records() through the driver in one transaction.
void AppendThroughDriver(Model& model) {
  DaoDatabase& db = model.Db();
  const SRecordDef& person = model.Person();
  PersonRecord record;
  db.BeginTrans();
  for (int id = 1; id <= Records(); ++id) {
    record.Set(id);
    std::unique_ptr<ISaver> saver = db.CreateSaver(person);
    saver->OpenNew(record);
    saver->PutLong(kID, id);
    saver->PutString(kName, Name(id));
    saver->PutString(kNote, Note(id));
    saver->PutDouble(kAmount, Amount(id));
    saver->Close();
  }
  db.CommitTrans();
}

// Reads record id through the driver: true when it holds what was written.
bool DriverReads(Model& model, int id) {
  PersonRecord record;
  record.Set(id);
  std::unique_ptr<ILoader> loader = model.Db().CreateLoader(model.Person());
  loader->Open(record);
  std::string name, note;
  double amount = 0;
  loader->GetString(kName, name);
  loader->GetString(kNote, note);
  loader->GetDouble(kAmount, amount);
  loader->Close();
  return name == Name(id) && note == Note(id) && amount == Amount(id);
}

// One filled file per side for the reads, the scan and the change of secret.
struct Filled {
  Filled()
      : driverPath(TheFiles().Fresh(TheFiles().driverTemplate, "filled.vdb")),
        plainPath(TheFiles().Fresh(TheFiles().plainTemplate, "filled.db")) {
    model = std::make_unique<Model>(driverPath);
    AppendThroughDriver(*model);
    plainModel = std::make_unique<Model>(driverPath, false);
    plain = Files::OpenPlain(plainPath);
    AppendRows(plain);
    // The stored texts under secret A, for the no-cipher and bare baselines.
    sqlite3* db = Files::OpenPlain(driverPath);
    sqlite3_stmt* s = Prepare(db, "SELECT Note, Amount FROM tblPerson ORDER BY ID");
    while (sqlite3_step(s) == SQLITE_ROW) {
      noteTexts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
      amountTexts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    }
    sqlite3_finalize(s);
    sqlite3_close_v2(db);
    cipherA.SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
  }
  ~Filled() { sqlite3_close_v2(plain); }

  std::string driverPath, plainPath;
  std::unique_ptr<Model> model;
  std::unique_ptr<Model> plainModel;  // the same file, Note and Amount plain texts
  sqlite3* plain = nullptr;
  bool bUnderA = true;                              // the driver's values are under secret A
  std::vector<std::string> noteTexts, amountTexts;  // as stored under A, by ID - 1
  FieldCipher cipherA;
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
  } catch (const _com_error& e) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(e.Error()));
    state.SkipWithError((std::string("engine error ") + text).c_str());
  }
}

void Append_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    TheTexts();  // made before any timing
    for (auto _ : state) {
      state.PauseTiming();
      const std::string path = TheFiles().Fresh(TheFiles().driverTemplate, "append.vdb");
      auto model = std::make_unique<Model>(path);
      state.ResumeTiming();
      AppendThroughDriver(*model);
      state.PauseTiming();
      const bool bOk = DriverReads(*model, 1) && DriverReads(*model, Records());
      model.reset();
      Files::Remove(path);
      if (!bOk) state.SkipWithError("the appended records do not read back");
      state.ResumeTiming();
    }
  });
}

void Append_Plain(benchmark::State& state) {
  Guarded(state, [&] {
    TheTexts();  // made before any timing
    for (auto _ : state) {
      state.PauseTiming();
      const std::string path = TheFiles().Fresh(TheFiles().plainTemplate, "append.db");
      sqlite3* db = Files::OpenPlain(path);
      state.ResumeTiming();
      AppendRows(db);
      state.PauseTiming();
      sqlite3_close_v2(db);
      Files::Remove(path);
      state.ResumeTiming();
    }
  });
}

void KeyedRead_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    DaoDatabase& db = f.model->Db();
    const SRecordDef& person = f.model->Person();
    const std::vector<int> ids = LookupIds();
    PersonRecord record;
    std::string name, note;
    for (auto _ : state) {
      double sum = 0;
      for (const int id : ids) {
        record.Set(id);
        std::unique_ptr<ILoader> loader = db.CreateLoader(person);
        loader->Open(record);
        LONG lId = 0;
        double amount = 0;
        loader->GetLong(kID, lId);
        loader->GetString(kName, name);
        loader->GetString(kNote, note);
        loader->GetDouble(kAmount, amount);
        loader->Close();
        sum += lId + amount + static_cast<double>(name.size() + note.size());
      }
      benchmark::DoNotOptimize(sum);
    }
    if (!DriverReads(*f.model, ids.front())) state.SkipWithError("a record does not read back");
  });
}

void KeyedRead_Plain(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    const std::vector<int> ids = LookupIds();
    for (auto _ : state) benchmark::DoNotOptimize(KeyedReads(f.plain, ids));
  });
}

void Scan_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    std::string name, note;
    for (auto _ : state) {
      std::unique_ptr<IRecordsetStrategy> rs =
          f.model->Db().CreateRecordsetStrategy(f.model->Person());
      rs->Open();
      IDaoLoader& loader = rs->GetLoader();
      double sum = 0;
      int count = 0;
      while (!rs->IsEOF()) {
        LONG lId = 0;
        double amount = 0;
        loader.GetLong(kID, lId);
        loader.GetString(kName, name);
        loader.GetString(kNote, note);
        loader.GetDouble(kAmount, amount);
        sum += lId + amount + static_cast<double>(name.size() + note.size());
        ++count;
        rs->MoveNext();
      }
      rs->Close();
      benchmark::DoNotOptimize(sum);
      if (count != Records()) state.SkipWithError("the scan missed records");
    }
  });
}

void Scan_Plain(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    for (auto _ : state) {
      double sum = 0;
      if (ScanRows(f.plain, sum) != Records()) state.SkipWithError("the scan missed records");
      benchmark::DoNotOptimize(sum);
    }
  });
}

void Rekey_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    DaoDatabase& db = f.model->Db();
    for (auto _ : state) {
      const char* from = f.bUnderA ? kSecretA : kSecretB;
      const char* to = f.bUnderA ? kSecretB : kSecretA;
      db.ChangeSecret(Bytes(from), Length(from), Bytes(to), Length(to), nullptr, 0);
      f.bUnderA = !f.bUnderA;
      state.PauseTiming();
      if (!DriverReads(*f.model, 1) || !DriverReads(*f.model, Records()))
        state.SkipWithError("the re-encrypted records do not read back");
      state.ResumeTiming();
    }
  });
}

// ---- The cipher's share of the loader and saver paths -----------------------
// Scan/DriverNoCipher and Append/DriverNoCipher do the work of Scan/Driver
// and Append/Driver with Note and Amount declared plain texts holding the
// same cipher texts: the differences are what the cipher costs on those
// paths, to compare with Decrypt/Bare and Encrypt/Bare (the field cipher
// called directly on the same 200,000 values).

void Scan_DriverNoCipher(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    std::string name, note, amount;
    for (auto _ : state) {
      std::unique_ptr<IRecordsetStrategy> rs =
          f.plainModel->Db().CreateRecordsetStrategy(f.plainModel->Person());
      rs->Open();
      IDaoLoader& loader = rs->GetLoader();
      double sum = 0;
      while (!rs->IsEOF()) {
        LONG lId = 0;
        loader.GetLong(kID, lId);
        loader.GetString(kName, name);
        loader.GetString(kNote, note);
        loader.GetString(kAmount, amount);
        sum += lId + static_cast<double>(name.size() + note.size() + amount.size());
        rs->MoveNext();
      }
      rs->Close();
      benchmark::DoNotOptimize(sum);
    }
  });
}

void Decrypt_Bare(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    for (auto _ : state) {
      BYTE note[kStackTextChars];
      BYTE amount[8];
      LONG total = 0;
      for (int id = 1; id <= Records(); ++id) {
        const _variant_t vId(static_cast<LONG>(id));
        total += f.cipherA.DecryptText("tblPerson", "Note", vId, f.noteTexts[id - 1], note,
                                       sizeof note, DaoDatabase::kDriverVersion11);
        total += f.cipherA.DecryptText("tblPerson", "Amount", vId, f.amountTexts[id - 1], amount,
                                       sizeof amount, DaoDatabase::kDriverVersion11);
      }
      benchmark::DoNotOptimize(total);
    }
  });
}

void Append_DriverNoCipher(benchmark::State& state) {
  Guarded(state, [&] {
    Filled& f = TheFilled();
    for (auto _ : state) {
      state.PauseTiming();
      const std::string path = TheFiles().Fresh(TheFiles().driverTemplate, "plainappend.vdb");
      auto model = std::make_unique<Model>(path, false);
      DaoDatabase& db = model->Db();
      const SRecordDef& person = model->Person();
      PersonRecord record;
      state.ResumeTiming();
      db.BeginTrans();
      for (int id = 1; id <= Records(); ++id) {
        record.Set(id);
        std::unique_ptr<ISaver> saver = db.CreateSaver(person);
        saver->OpenNew(record);
        saver->PutLong(kID, id);
        saver->PutString(kName, Name(id));
        saver->PutString(kNote, f.noteTexts[id - 1]);
        saver->PutString(kAmount, f.amountTexts[id - 1]);
        saver->Close();
      }
      db.CommitTrans();
      state.PauseTiming();
      model.reset();
      Files::Remove(path);
      state.ResumeTiming();
    }
  });
}

void Encrypt_Bare(benchmark::State& state) {
  Guarded(state, [&] {
    FieldCipher cipher;
    cipher.SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
    TheTexts();
    for (auto _ : state) {
      char text[EncryptedBufferSize(kNoteChars)];
      std::size_t total = 0;
      for (int id = 1; id <= Records(); ++id) {
        const _variant_t vId(static_cast<LONG>(id));
        const std::string& note = Note(id);
        cipher.Encrypt("tblPerson", "Note", vId, text, reinterpret_cast<const BYTE*>(note.data()),
                       static_cast<ULONG>(note.size()), DaoDatabase::kDriverVersion11);
        total += text[0];
        BYTE amount[8];
        const double value = Amount(id);
        std::memcpy(amount, &value, sizeof amount);
        cipher.Encrypt("tblPerson", "Amount", vId, text, amount, sizeof amount,
                       DaoDatabase::kDriverVersion11);
        total += text[0];
      }
      benchmark::DoNotOptimize(total);
    }
  });
}

}  // namespace

#define VEM_ROUND(fn, name) \
  BENCHMARK(fn)->Name(name)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond)

VEM_ROUND(Append_Driver, "Append/Driver");
VEM_ROUND(Append_Plain, "Append/PlainSQLite");
VEM_ROUND(KeyedRead_Driver, "KeyedRead/Driver");
VEM_ROUND(KeyedRead_Plain, "KeyedRead/PlainSQLite");
VEM_ROUND(Scan_Driver, "Scan/Driver");
VEM_ROUND(Scan_Plain, "Scan/PlainSQLite");
VEM_ROUND(Rekey_Driver, "Rekey/Driver");
VEM_ROUND(Append_DriverNoCipher, "Append/DriverNoCipher");
VEM_ROUND(Encrypt_Bare, "Encrypt/Bare");
VEM_ROUND(Scan_DriverNoCipher, "Scan/DriverNoCipher");
VEM_ROUND(Decrypt_Bare, "Decrypt/Bare");

BENCHMARK_MAIN();
