// DaoDatabase: Check and Compact (see DaoDatabase.h).
//
// The database file is never deleted before its compacted copy is in place:
// the engine writes the copy to a new file beside it ("db" + six characters
// + the database's extension), the copy is synced, and one rename puts it
// in the file's place (then the directory is synced). A crash leaves either
// the old file or the new one, never none; a copy left behind by a crash is
// a file of its own that nothing refers to. The engine refuses to compact a
// file that another process has open; that refusal is raised and nothing
// changes (an open database is opened again first).
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "DataBase/AccessDriver/DaoBlobSupport.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "Platform/Random.h"

using namespace blobstore;

namespace {

namespace fs = std::filesystem;

constexpr const char* kDatabaseTraceFile = "DataBase\\AccessDriver\\DaoDatabase";

// Removes a file and the engine's side files of it when dropped, unless
// released.
class TempDatabaseFile {
 public:
  explicit TempDatabaseFile(std::string path) : m_path(std::move(path)) {}
  ~TempDatabaseFile() {
    if (m_path.empty()) return;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      std::remove((m_path + suffix).c_str());
  }
  TempDatabaseFile(const TempDatabaseFile&) = delete;
  TempDatabaseFile& operator=(const TempDatabaseFile&) = delete;
  void Release() { m_path.clear(); }

 private:
  std::string m_path;
};

// A name "db" + six characters + extension in directory that no file has.
std::string UniqueCopyName(const fs::path& directory, const std::string& extension) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::error_code ec;
  for (int attempt = 0; attempt < 100; ++attempt) {
    BYTE random[6];
    platform::RandomBytes(random, sizeof random);
    std::string stem = "db";
    for (BYTE b : random) stem += kChars[b % (sizeof kChars - 1)];
    const fs::path candidate = directory / (stem + extension);
    if (!fs::exists(candidate, ec) && !fs::exists(candidate.string() + "-wal", ec))
      return candidate.string();
  }
  return std::string();
}

}  // namespace

bool DaoDatabase::CompactDatabaseFile() {
  std::error_code ec;
  const fs::path source = fs::absolute(fs::path(m_path), ec);
  const std::string temp = UniqueCopyName(source.parent_path(), source.extension().string());
  if (temp.empty()) return false;
  TempDatabaseFile guard(temp);
  CallEngine(m_pModel, [&] {
    ThreadDBEngine().CompactDatabase(_bstr_t(m_path.c_str()), _bstr_t(temp.c_str()),
                                     _variant_t(m_connect.c_str()), dao::vtMissing(),
                                     _variant_t(m_connect.c_str()));
  });
  auto traced = [&](const std::string& text) {
    if (m_pModel != nullptr)
      m_pModel->GetBackChannel().TraceText(4, kDatabaseTraceFile, __LINE__, text.c_str());
    return false;
  };
  if (!fs::exists(temp, ec)) return traced("compacted copy " + temp + " was not written");
  {
    FileHandle copy(CreateFileA(temp.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy || !FlushFileBuffers(copy.get()) || !copy.Close())
      return traced("compacted copy " + temp + " could not be synced; " + m_path + " is unchanged");
  }
  if (std::rename(temp.c_str(), source.c_str()) != 0)
    return traced("compacted copy " + temp + " could not replace " + m_path + "; it is unchanged");
  guard.Release();
  if (!SyncDirectory(source.parent_path().string()))
    traced("directory of " + m_path + " could not be synced after its compaction");
  return true;
}

bool DaoDatabase::Compact() {
  const bool bWasOpen = IsOpen();
  Close();
  CBackChannel* pBackChannel = m_pModel != nullptr ? &m_pModel->GetBackChannel() : nullptr;
  auto progress = [&](SHORT nPercent, SHORT eAction) {
    if (pBackChannel != nullptr)
      pBackChannel->Progress(-1, nullptr, nullptr, nullptr, nPercent, eAction);
  };
  progress(0, 0);
  bool bResult = false;
  try {
    bResult = CompactDatabaseFile();
  } catch (...) {
    // Refused or failed: the file is as it was, and so is the database.
    if (bWasOpen) {
      try {
        Open();
      } catch (const vem_error&) {
        // Traced; the failure of the compaction is the one raised.
      }
    }
    throw;
  }
  progress(10, 2);
  try {
    Open();
    CompactBlobFiles();
    Close();
  } catch (const vem_error&) {
    // Traced and reported; the run goes on.
    try {
      Close();
    } catch (const vem_error&) {
    }
  }
  progress(100, 2);
  progress(0, 1);
  if (bWasOpen) Open();
  return bResult;
}

bool DaoDatabase::Check() {
  return Compact();
}
