// DaoDatabase: the path operations of the blob store (see DaoDatabase.h).
#include <atomic>
#include <mutex>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/Win32.h"

namespace {

// The temporary-name counter of the process.
std::atomic<ULONG> g_tempCounter{0};

}  // namespace

std::string DaoDatabase::GetBlobFilePath(const std::string& fileName) {
  return GetBlobDirectory() + "/" + fileName;
}

std::string DaoDatabase::GetDatabaseFileName() {
  const std::string name = CallEngine(m_pModel, [&] {
    return std::string(static_cast<const char*>(GetEngineDatabase().GetName()));
  });
  const std::size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string DaoDatabase::TempFileNameOf(ULONG ulValue) {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[ulValue % 36]);
    ulValue /= 36;
  } while (ulValue != 0);
  return "~" + digits + ".tmp";
}

std::string DaoDatabase::MakeTempFileName() {
  const std::string directory = GetBlobDirectory();
  std::lock_guard<Mutex> lock(m_mutex);
  for (;;) {
    const std::string path = directory + "/" + TempFileNameOf(g_tempCounter.fetch_add(1));
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return path;
    }
    if (GetLastError() != ERROR_FILE_EXISTS)
      throw vem_error("temporary blob file " + path + " could not be created (error " +
                          std::to_string(GetLastError()) + ")",
                      kVemErrBlobFileOpen);
  }
}
