// DaoDatabase: Check and Compact (see DaoDatabase.h).
//
// The database file is never deleted before its compacted copy is in place:
// the engine writes the copy to a new file beside it ("db" + six characters
// + the database's extension), syncs it, and renames it over the file while
// it still holds the file exclusively (no other process can open the old
// file meanwhile and go on writing to it). A crash leaves either the old
// file or the new one, never none; a copy left behind by a crash is a file
// of its own that nothing refers to. The engine refuses to compact a file
// that another process has open; that refusal is raised and nothing changes
// (an open database is opened again first).
#include <filesystem>
#include <system_error>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "Platform/Random.h"

namespace {

namespace fs = std::filesystem;

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
  CallEngine(m_pModel, [&] {
    ThreadDBEngine().CompactDatabaseInPlace(_bstr_t(m_path.c_str()), _bstr_t(temp.c_str()),
                                            _variant_t(m_connect.c_str()));
  });
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
