// driver_bench: the database driver against the raw path beneath it (the
// SQLite C API on the same kind of file, the field cipher called directly),
// same work, one run.
//
// Model: a static model (SDM) defined through a small client callback over
// one database file built by the engine (format 1.1 of encrypted values):
//   tblRead   ID LONG key, L LONG, S TEXT(50), D DOUBLE, SH SHORT, DT DATETIME
//   tblCrypt  CID LONG key, xLong TEXT(44) encrypted LONG,
//             xStr TEXT(252) encrypted STRING (values of 40 characters)
//
// Workloads (items/s counts records, ChangeSecret counts values):
//   LoaderRead   10,000 keyed one-record reads per iteration over 10,000 rows,
//                random ids: CreateLoader, Open(record by LONG id), GetLong,
//                GetString, GetDouble, GetShort, GetDate, Close.
//                RawBound:   one prepared "SELECT L, S, D, SH, DT FROM tblRead
//                            WHERE ID = ?1": bind, step, read, reset (the floor)
//                RawPrepare: "SELECT * FROM tblRead WHERE ID = <n>;" prepared
//                            per read, as the engine must (for context)
//                Target: Driver within 3x of RawBound.
//   SaverAppend  100,000 records appended in one transaction on a fresh file:
//                CreateSaver, OpenNew, PutLong(CID), PutLong(xLong),
//                PutString(xStr), Close.
//                Raw:           INSERT of the id and of cipher texts computed
//                               before timing. Target: Driver within 4x.
//                RawWithCipher: the same INSERTs with both values enciphered
//                               inside the timed loop (for context: the
//                               driver's figure includes that work)
//   ChangeSecret 100,000 records with two encrypted values each, re-encrypted
//                from one secret to the other (DaoDatabase::ChangeSecret;
//                the iterations alternate between the two secrets).
//                Raw:         in one transaction, read rowid, id and both
//                             texts, then per record Decrypt both with the
//                             old cipher, Encrypt both with the new one and
//                             one prepared UPDATE of both columns by rowid.
//                             Target: Driver within 2x.
//                RawPerField: one UPDATE per value (for context: the driver
//                             stores each re-encrypted value as its own
//                             update)
// Encrypting and deciphering single values is in cipher_bench.
// File setup (copy of an empty template, the model's construction, filling)
// and the read-back checks after each iteration are outside the timed region.
// The sizes are the full ones; the whole program runs in about a minute on
// two cores. VEM_DRIVER_BENCH_RECORDS=<n> runs SaverAppend and ChangeSecret
// with n records instead (for profiling, e.g. under callgrind).
// Run a Release build:
//   cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/rel --target driver_bench && build/rel/bench/driver_bench
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchModel.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/FieldCipher.h"
#include "DataBase/AccessDriver/ILoader.h"
#include "DataBase/AccessDriver/IRecord.h"
#include "DataBase/AccessDriver/ISaver.h"
#include "DataBase/AccessDriver/SDM.h"
#include "Engine/Dao.h"
#include "Platform/ComUtil.h"
#include "Platform/OleAuto.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "vem/StaticDataModel.h"

namespace {

constexpr int kReadRows = 10000;
constexpr int kLookups = 10000;  // per LoaderRead iteration
// Records of SaverAppend and ChangeSecret: 100,000, or the number in the
// environment variable VEM_DRIVER_BENCH_RECORDS (smaller runs for profiling).
const int kCryptRecords = [] {
  const char* text = std::getenv("VEM_DRIVER_BENCH_RECORDS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 100000;
}();
constexpr int kStringChars = 40;
constexpr ULONG kVersion11 = DaoDatabase::kDriverVersion11;

constexpr char kCryptTable[] = "tblCrypt";
constexpr char kLongColumn[] = "xLong";
constexpr char kStrColumn[] = "xStr";
constexpr char kSecretA[] = "erstes Geheimnis";
constexpr char kSecretB[] = "zweites Geheimnis";

// Field definition ids.
enum : LONG { kID = 0, kL, kS, kD, kSH, kDT, kCID = 10, kXLong, kXStr };
// Record definition ids.
enum : LONG { kRead = 0, kCrypt = 1 };

const BYTE* Bytes(const char* text) {
  return reinterpret_cast<const BYTE*>(text);
}
ULONG Length(const char* text) {
  return static_cast<ULONG>(std::strlen(text));
}

// ---- Values -----------------------------------------------------------------

LONG LongValue(int id) {
  return static_cast<LONG>(id) * 37 - 5;
}

std::string StrValue(int id) {
  char text[64];
  std::snprintf(text, sizeof text, "Bemerkung zu Kunde %08d: Filiale Ost", id);
  return text;  // kStringChars characters
}

// ---- The client's side ------------------------------------------------------

// A client record identified by one LONG id field.
class LongIdRecord : public IRecord {
 public:
  LongIdRecord(LONG lRecordDefId, LONG lIdField)
      : m_lRecordDefId(lRecordDefId), m_lIdField(lIdField) {}
  void Set(LONG lValue) { m_lValue = lValue; }

  LONG GetRecordDefId() override { return m_lRecordDefId; }
  void GetIdFieldValue(LONG lID, IdValue& value) override {
    if (lID != m_lIdField) return;
    value.m_lKind = IdValue::kLong;
    value.m_lValue = m_lValue;
  }
  void SetIdFieldValue(LONG, const IdValue&) override {}

 private:
  LONG m_lRecordDefId;
  LONG m_lIdField;
  LONG m_lValue = 0;
};

// The static model over one file; its database must open.
// tblRead (plain fields of every kind) and the encrypted table.
vembench::BenchModelCallback DriverCallback(const std::string& path) {
  return vembench::BenchModelCallback(path,
                                      {{kID, "ID", 7, -1, false},
                                       {kL, "L", 7, -1, false},
                                       {kS, "S", 1, 50, false},
                                       {kD, "D", 10, -1, false},
                                       {kSH, "SH", 5, -1, false},
                                       {kDT, "DT", 11, -1, false},
                                       {kCID, "CID", 7, -1, false},
                                       {kXLong, kLongColumn, 7, -1, true},
                                       {kXStr, kStrColumn, 1, 161, true}},
                                      {{kRead, "tblRead", {kID, kL, kS, kD, kSH, kDT}},
                                       {kCrypt, kCryptTable, {kCID, kXLong, kXStr}}});
}

struct Model {
  explicit Model(const std::string& path)
      : callback(DriverCallback(path)), pModel(std::make_unique<SDM>(nullptr, &callback)) {
    if (!Db().IsOpen()) throw std::runtime_error("the model could not open " + path);
  }
  DaoDatabase& Db() { return static_cast<DaoDatabase&>(pModel->GetDatabase(0)); }
  const SRecordDef& Rec(LONG lID) { return pModel->GetRecordDef(lID); }

  vembench::BenchModelCallback callback;
  std::unique_ptr<SDM> pModel;
};

// ---- Files ------------------------------------------------------------------

// A temporary directory with an empty template database (both tables, driver
// version 1.1) that every workload copies into a fresh file.
struct Files {
  Files() : templatePath(dir.File("template.vdb")) {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(templatePath);
    pDb->Execute(
        "CREATE TABLE tblRead (ID LONG PRIMARY KEY, L LONG, S TEXT(50), D DOUBLE, SH SHORT, "
        "DT DATETIME)");
    pDb->Execute("CREATE TABLE tblCrypt (CID LONG PRIMARY KEY, xLong TEXT(44), xStr TEXT(252))");
    vemtest::SetLongProperty(*pDb, "vemDriverVersion", static_cast<LONG>(kVersion11));
    pDb->Close();
  }

  std::string Fresh(const std::string& stem) {
    const std::string path = dir.File(stem + std::to_string(++serial) + ".vdb");
    std::filesystem::copy_file(templatePath, path);
    return path;
  }
  static void Remove(const std::string& path) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
  }

  vemtest::TempDir dir;
  std::string templatePath;
  int serial = 0;
};

Files& TheFiles() {
  static Files files;
  return files;
}

// ---- Raw SQLite helpers -----------------------------------------------------

sqlite3* OpenRaw(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    const std::string message = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close_v2(db);
    throw std::runtime_error("cannot open " + path + ": " + message);
  }
  sqlite3_busy_timeout(db, 10000);
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);  // as the engine
  return db;
}

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw std::runtime_error(std::string(sql) + ": " + message);
  }
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string(sql) + ": " + sqlite3_errmsg(db));
  return s;
}

void StepDone(sqlite3* db, sqlite3_stmt* s) {
  if (sqlite3_step(s) != SQLITE_DONE)
    throw std::runtime_error(std::string(sqlite3_sql(s)) + ": " + sqlite3_errmsg(db));
  sqlite3_reset(s);
}

// ---- Precomputed inputs -----------------------------------------------------

// The plain values of tblCrypt and their cipher texts under secret A.
struct CryptInputs {
  CryptInputs() {
    FieldCipher cipher;
    cipher.SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
    strings.reserve(kCryptRecords);
    longTexts.reserve(kCryptRecords);
    strTexts.reserve(kCryptRecords);
    char longText[EncryptedBufferSize(4)];
    char strText[EncryptedBufferSize(kStringChars)];
    for (int id = 1; id <= kCryptRecords; ++id) {
      strings.push_back(StrValue(id));
      const _variant_t vId(static_cast<LONG>(id));
      BYTE plain[4];
      const auto l = static_cast<std::uint32_t>(LongValue(id));
      for (int i = 0; i < 4; ++i) plain[i] = static_cast<BYTE>(l >> (8 * i));
      cipher.Encrypt(kCryptTable, kLongColumn, vId, longText, plain, 4, kVersion11);
      cipher.Encrypt(kCryptTable, kStrColumn, vId, strText, Bytes(strings.back().c_str()),
                     kStringChars, kVersion11);
      longTexts.emplace_back(longText);
      strTexts.emplace_back(strText);
    }
  }
  std::vector<std::string> strings;    // plain xStr by id - 1
  std::vector<std::string> longTexts;  // xLong under A by id - 1
  std::vector<std::string> strTexts;   // xStr under A by id - 1
};

const CryptInputs& Inputs() {
  static const CryptInputs inputs;
  return inputs;
}

// Fills tblCrypt of the file at path with records 1..kCryptRecords under A.
void FillCrypt(const std::string& path) {
  const CryptInputs& in = Inputs();
  sqlite3* db = OpenRaw(path);
  Exec(db, "BEGIN IMMEDIATE");
  sqlite3_stmt* s = Prepare(db, "INSERT INTO tblCrypt (CID, xLong, xStr) VALUES (?1, ?2, ?3)");
  for (int id = 1; id <= kCryptRecords; ++id) {
    sqlite3_bind_int(s, 1, id);
    sqlite3_bind_text(s, 2, in.longTexts[id - 1].c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 3, in.strTexts[id - 1].c_str(), -1, SQLITE_STATIC);
    StepDone(db, s);
  }
  sqlite3_finalize(s);
  Exec(db, "COMMIT");
  sqlite3_close_v2(db);
}

// Reads record id of tblCrypt through the driver and answers whether both
// values are the ones written.
bool DriverHasRecord(Model& model, int id) {
  LongIdRecord record(kCrypt, kCID);
  record.Set(id);
  std::unique_ptr<ILoader> loader = model.Db().CreateLoader(model.Rec(kCrypt));
  loader->Open(record);
  LONG l = 0;
  std::string s;
  loader->GetLong(kXLong, l);
  loader->GetString(kXStr, s);
  loader->Close();
  return l == LongValue(id) && s == StrValue(id);
}

// Reads record id of tblCrypt raw and answers whether both values decipher
// under cipher to the ones written.
bool RawHasRecord(sqlite3* db, const FieldCipher& cipher, int id) {
  sqlite3_stmt* s = Prepare(db, "SELECT xLong, xStr FROM tblCrypt WHERE CID = ?1");
  sqlite3_bind_int(s, 1, id);
  bool bOk = false;
  if (sqlite3_step(s) == SQLITE_ROW) {
    const _variant_t vId(static_cast<LONG>(id));
    const _variant_t vLong(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    const _variant_t vStr(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    BYTE l[4] = {};
    BYTE str[256] = {};
    try {
      cipher.Decrypt(kCryptTable, kLongColumn, vId, vLong, l, sizeof l, kVersion11);
      const LONG n =
          cipher.Decrypt(kCryptTable, kStrColumn, vId, vStr, str, sizeof str, kVersion11);
      const auto value =
          static_cast<LONG>(l[0] | l[1] << 8 | l[2] << 16 | static_cast<std::uint32_t>(l[3]) << 24);
      bOk = value == LongValue(id) && std::string(reinterpret_cast<const char*>(str),
                                                  static_cast<std::size_t>(n)) == StrValue(id);
    } catch (const vem_error&) {
      bOk = false;
    }
  }
  sqlite3_finalize(s);
  return bOk;
}

// Runs body, turning a failure into the benchmark's error.
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

// ---- LoaderRead -------------------------------------------------------------

struct ReadFixture {
  ReadFixture() : path(TheFiles().Fresh("read")) {
    {
      dao::DBEnginePtr pEngine = dao::CreateDBEngine();
      dao::DatabasePtr pDb = pEngine->OpenDatabase(_bstr_t(path.c_str()));
      pDb->BeginTrans();
      dao::RecordsetPtr rs = pDb->OpenRecordset("SELECT * FROM tblRead WHERE ID = 0");
      const _variant_t id("ID"), l("L"), s("S"), d("D"), sh("SH"), dt("DT");
      for (int i = 1; i <= kReadRows; ++i) {
        rs->AddNew();
        rs->PutCollect(id, _variant_t(static_cast<LONG>(i)));
        rs->PutCollect(l, _variant_t(static_cast<LONG>(i * 3)));
        rs->PutCollect(s, _variant_t(("Kunde " + std::to_string(i)).c_str()));
        rs->PutCollect(d, _variant_t(i * 0.25));
        rs->PutCollect(sh, _variant_t(static_cast<SHORT>(i % 30000)));
        rs->PutCollect(dt, _variant_t(40000.0 + i / 1000.0, VT_DATE));
        rs->Update();
      }
      rs->Close();
      pDb->CommitTrans();
      pDb->Close();
    }
    pModel = std::make_unique<Model>(path);
    raw = OpenRaw(path);
  }
  ~ReadFixture() { sqlite3_close_v2(raw); }

  std::string path;
  std::unique_ptr<Model> pModel;
  sqlite3* raw = nullptr;
};

ReadFixture& Read() {
  static ReadFixture fixture;
  return fixture;
}

void LoaderRead_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    ReadFixture& f = Read();
    DaoDatabase& db = f.pModel->Db();
    const SRecordDef& rec = f.pModel->Rec(kRead);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, kReadRows);
    LongIdRecord record(kRead, kID);
    for (auto _ : state) {
      double sum = 0;
      for (int i = 0; i < kLookups; ++i) {
        record.Set(pick(rng));
        std::unique_ptr<ILoader> loader = db.CreateLoader(rec);
        loader->Open(record);
        LONG l = 0;
        std::string s;
        double d = 0;
        SHORT sh = 0;
        DateParts dt;
        loader->GetLong(kL, l);
        loader->GetString(kS, s);
        loader->GetDouble(kD, d);
        loader->GetShort(kSH, sh);
        loader->GetDate(kDT, dt);
        loader->Close();
        sum += l + static_cast<double>(s.size()) + d + sh + dt.day;
      }
      benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kLookups);
  });
}

void LoaderRead_RawBound(benchmark::State& state) {
  Guarded(state, [&] {
    ReadFixture& f = Read();
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, kReadRows);
    sqlite3_stmt* s = Prepare(f.raw, "SELECT L, S, D, SH, DT FROM tblRead WHERE ID = ?1");
    for (auto _ : state) {
      double sum = 0;
      for (int i = 0; i < kLookups; ++i) {
        sqlite3_bind_int(s, 1, pick(rng));
        if (sqlite3_step(s) == SQLITE_ROW) {
          const LONG l = sqlite3_column_int(s, 0);
          const std::string text(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                                 static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
          const double d = sqlite3_column_double(s, 2);
          const int sh = sqlite3_column_int(s, 3);
          const double dt = sqlite3_column_double(s, 4);
          sum += l + static_cast<double>(text.size()) + d + sh + dt;
        }
        sqlite3_reset(s);
      }
      benchmark::DoNotOptimize(sum);
    }
    sqlite3_finalize(s);
    state.SetItemsProcessed(state.iterations() * kLookups);
  });
}

void LoaderRead_RawPrepare(benchmark::State& state) {
  Guarded(state, [&] {
    ReadFixture& f = Read();
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(1, kReadRows);
    for (auto _ : state) {
      double sum = 0;
      for (int i = 0; i < kLookups; ++i) {
        const std::string sql =
            std::string("SELECT * FROM tblRead WHERE ID = ").append(std::to_string(pick(rng))) +
            ";";
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(f.raw, sql.c_str(), -1, &s, nullptr);
        if (sqlite3_step(s) == SQLITE_ROW) {
          const LONG l = sqlite3_column_int(s, 1);
          const std::string text(reinterpret_cast<const char*>(sqlite3_column_text(s, 2)),
                                 static_cast<std::size_t>(sqlite3_column_bytes(s, 2)));
          const double d = sqlite3_column_double(s, 3);
          const int sh = sqlite3_column_int(s, 4);
          const double dt = sqlite3_column_double(s, 5);
          sum += l + static_cast<double>(text.size()) + d + sh + dt;
        }
        sqlite3_finalize(s);
      }
      benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kLookups);
  });
}

// ---- SaverAppend ------------------------------------------------------------

void SaverAppend_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    const CryptInputs& in = Inputs();
    for (auto _ : state) {
      state.PauseTiming();
      const std::string path = TheFiles().Fresh("append");
      auto pModel = std::make_unique<Model>(path);
      DaoDatabase& db = pModel->Db();
      db.SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
      const SRecordDef& rec = pModel->Rec(kCrypt);
      LongIdRecord record(kCrypt, kCID);
      state.ResumeTiming();

      db.BeginTrans();
      for (int id = 1; id <= kCryptRecords; ++id) {
        record.Set(id);
        std::unique_ptr<ISaver> saver = db.CreateSaver(rec);
        saver->OpenNew(record);
        saver->PutLong(kCID, id);
        saver->PutLong(kXLong, LongValue(id));
        saver->PutString(kXStr, in.strings[id - 1]);
        saver->Close();
      }
      db.CommitTrans();

      state.PauseTiming();
      const bool bOk = DriverHasRecord(*pModel, 1) && DriverHasRecord(*pModel, kCryptRecords);
      pModel.reset();
      Files::Remove(path);
      if (!bOk) state.SkipWithError("the appended records do not read back");
      state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kCryptRecords);
  });
}

// bEncrypt: the cipher texts are computed inside the timed loop (for
// context: the driver's appends include that work; the raw floor does not).
template <bool bEncrypt>
void SaverAppend_Raw(benchmark::State& state) {
  Guarded(state, [&] {
    const CryptInputs& in = Inputs();
    FieldCipher cipherA;
    cipherA.SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
    char longText[EncryptedBufferSize(4)];
    char strText[EncryptedBufferSize(kStringChars)];
    for (auto _ : state) {
      state.PauseTiming();
      const std::string path = TheFiles().Fresh("rawappend");
      sqlite3* db = OpenRaw(path);
      state.ResumeTiming();

      Exec(db, "BEGIN IMMEDIATE");
      sqlite3_stmt* s = Prepare(db, "INSERT INTO tblCrypt (CID, xLong, xStr) VALUES (?1, ?2, ?3)");
      for (int id = 1; id <= kCryptRecords; ++id) {
        sqlite3_bind_int(s, 1, id);
        if constexpr (bEncrypt) {
          const _variant_t vId(static_cast<LONG>(id));
          BYTE plain[4];
          const auto l = static_cast<std::uint32_t>(LongValue(id));
          for (int i = 0; i < 4; ++i) plain[i] = static_cast<BYTE>(l >> (8 * i));
          cipherA.Encrypt(kCryptTable, kLongColumn, vId, longText, plain, 4, kVersion11);
          const std::string& value = in.strings[id - 1];
          cipherA.Encrypt(kCryptTable, kStrColumn, vId, strText, Bytes(value.c_str()),
                          static_cast<ULONG>(value.size()), kVersion11);
          sqlite3_bind_text(s, 2, longText, -1, SQLITE_STATIC);
          sqlite3_bind_text(s, 3, strText, -1, SQLITE_STATIC);
        } else {
          sqlite3_bind_text(s, 2, in.longTexts[id - 1].c_str(), -1, SQLITE_STATIC);
          sqlite3_bind_text(s, 3, in.strTexts[id - 1].c_str(), -1, SQLITE_STATIC);
        }
        StepDone(db, s);
      }
      sqlite3_finalize(s);
      Exec(db, "COMMIT");

      state.PauseTiming();
      const bool bOk = RawHasRecord(db, cipherA, kCryptRecords);
      sqlite3_close_v2(db);
      Files::Remove(path);
      if (!bOk) state.SkipWithError("the inserted records do not read back");
      state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kCryptRecords);
  });
}

// ---- ChangeSecret -----------------------------------------------------------

// Two files of kCryptRecords records under A: one for the driver, one for
// the raw loop. Each side remembers which secret its values are under.
struct SecretFixture {
  SecretFixture() : driverPath(TheFiles().Fresh("secret")), rawPath(TheFiles().Fresh("rawsecret")) {
    FillCrypt(driverPath);
    FillCrypt(rawPath);
    pModel = std::make_unique<Model>(driverPath);
    pModel->Db().SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
    raw = OpenRaw(rawPath);
    cipherA.SetSecret(Bytes(kSecretA), Length(kSecretA), nullptr, 0);
    cipherB.SetSecret(Bytes(kSecretB), Length(kSecretB), nullptr, 0);
  }
  ~SecretFixture() { sqlite3_close_v2(raw); }

  std::string driverPath, rawPath;
  std::unique_ptr<Model> pModel;
  sqlite3* raw = nullptr;
  FieldCipher cipherA, cipherB;
  bool bDriverUnderA = true;
  bool bRawUnderA = true;
};

SecretFixture& Secret() {
  static SecretFixture fixture;
  return fixture;
}

void ChangeSecret_Driver(benchmark::State& state) {
  Guarded(state, [&] {
    SecretFixture& f = Secret();
    DaoDatabase& db = f.pModel->Db();
    for (auto _ : state) {
      const char* from = f.bDriverUnderA ? kSecretA : kSecretB;
      const char* to = f.bDriverUnderA ? kSecretB : kSecretA;
      db.ChangeSecret(Bytes(from), Length(from), Bytes(to), Length(to), nullptr, 0);
      f.bDriverUnderA = !f.bDriverUnderA;

      state.PauseTiming();
      if (!DriverHasRecord(*f.pModel, 1) || !DriverHasRecord(*f.pModel, kCryptRecords))
        state.SkipWithError("the re-encrypted records do not read back");
      state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * kCryptRecords);
  });
}

// bPerField: one UPDATE per value instead of one per record (for context:
// the driver stores each re-encrypted value as its own update).
template <bool bPerField>
void ChangeSecret_Raw(benchmark::State& state) {
  struct Row {
    sqlite3_int64 rowid;
    LONG id;
    std::string longText, strText;
  };
  Guarded(state, [&] {
    SecretFixture& f = Secret();
    std::vector<Row> rows;
    for (auto _ : state) {
      const FieldCipher& from = f.bRawUnderA ? f.cipherA : f.cipherB;
      FieldCipher& to = f.bRawUnderA ? f.cipherB : f.cipherA;
      Exec(f.raw, "BEGIN IMMEDIATE");
      rows.clear();
      sqlite3_stmt* select = Prepare(f.raw, "SELECT rowid, CID, xLong, xStr FROM tblCrypt");
      while (sqlite3_step(select) == SQLITE_ROW) {
        rows.push_back({sqlite3_column_int64(select, 0), sqlite3_column_int(select, 1),
                        reinterpret_cast<const char*>(sqlite3_column_text(select, 2)),
                        reinterpret_cast<const char*>(sqlite3_column_text(select, 3))});
      }
      sqlite3_finalize(select);
      sqlite3_stmt* update =
          Prepare(f.raw, "UPDATE tblCrypt SET xLong = ?1, xStr = ?2 WHERE rowid = ?3");
      sqlite3_stmt* updateLong = Prepare(f.raw, "UPDATE tblCrypt SET xLong = ?1 WHERE rowid = ?2");
      sqlite3_stmt* updateStr = Prepare(f.raw, "UPDATE tblCrypt SET xStr = ?1 WHERE rowid = ?2");
      BYTE longPlain[4];
      BYTE strPlain[256];
      char longText[EncryptedBufferSize(sizeof longPlain)];
      char strText[EncryptedBufferSize(sizeof strPlain)];
      for (const Row& row : rows) {
        const _variant_t vId(row.id);
        const _variant_t vLong(row.longText.c_str());
        const _variant_t vStr(row.strText.c_str());
        const LONG nLong = from.Decrypt(kCryptTable, kLongColumn, vId, vLong, longPlain,
                                        sizeof longPlain, kVersion11);
        const LONG nStr =
            from.Decrypt(kCryptTable, kStrColumn, vId, vStr, strPlain, sizeof strPlain, kVersion11);
        to.Encrypt(kCryptTable, kLongColumn, vId, longText, longPlain, static_cast<ULONG>(nLong),
                   kVersion11);
        to.Encrypt(kCryptTable, kStrColumn, vId, strText, strPlain, static_cast<ULONG>(nStr),
                   kVersion11);
        if constexpr (bPerField) {
          sqlite3_bind_text(updateLong, 1, longText, -1, SQLITE_STATIC);
          sqlite3_bind_int64(updateLong, 2, row.rowid);
          StepDone(f.raw, updateLong);
          sqlite3_bind_text(updateStr, 1, strText, -1, SQLITE_STATIC);
          sqlite3_bind_int64(updateStr, 2, row.rowid);
          StepDone(f.raw, updateStr);
        } else {
          sqlite3_bind_text(update, 1, longText, -1, SQLITE_STATIC);
          sqlite3_bind_text(update, 2, strText, -1, SQLITE_STATIC);
          sqlite3_bind_int64(update, 3, row.rowid);
          StepDone(f.raw, update);
        }
      }
      sqlite3_finalize(update);
      sqlite3_finalize(updateLong);
      sqlite3_finalize(updateStr);
      Exec(f.raw, "COMMIT");
      f.bRawUnderA = !f.bRawUnderA;

      state.PauseTiming();
      const FieldCipher& now = f.bRawUnderA ? f.cipherA : f.cipherB;
      if (!RawHasRecord(f.raw, now, 1) || !RawHasRecord(f.raw, now, kCryptRecords))
        state.SkipWithError("the re-encrypted rows do not read back");
      state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 2 * kCryptRecords);
  });
}

}  // namespace

BENCHMARK(LoaderRead_Driver)
    ->Name("LoaderRead/Driver")
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LoaderRead_RawBound)
    ->Name("LoaderRead/RawBound")
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LoaderRead_RawPrepare)
    ->Name("LoaderRead/RawPrepare")
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SaverAppend_Driver)
    ->Name("SaverAppend/Driver")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(SaverAppend_Raw, false)
    ->Name("SaverAppend/Raw")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(SaverAppend_Raw, true)
    ->Name("SaverAppend/RawWithCipher")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ChangeSecret_Driver)
    ->Name("ChangeSecret/Driver")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(ChangeSecret_Raw, false)
    ->Name("ChangeSecret/Raw")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(ChangeSecret_Raw, true)
    ->Name("ChangeSecret/RawPerField")
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
