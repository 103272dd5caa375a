// Helpers shared by the two halves of DaoBlobStrategy (DAO_BLOB.cpp,
// DaoBlobWrite.cpp): the raw file handle holder, exact reads and writes,
// and the engine value conversions. Internal to the blob store.
#pragma once

#include <cstddef>
#include <string>

#include "DataBase/AccessDriver/BlobHeaders.h"
#include "Platform/ComUtil.h"
#include "Platform/Win32.h"
#include "Platform/WinTypes.h"

namespace blobstore {

inline constexpr const char* kTraceFile = "DataBase\\AccessDriver\\DAO_BLOB";

// Owns a raw file handle; closes it when dropped.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle& operator=(HANDLE h) {
    Close();
    m_h = h == INVALID_HANDLE_VALUE ? nullptr : h;
    return *this;
  }
  HANDLE get() const { return m_h; }
  explicit operator bool() const { return m_h != nullptr; }
  HANDLE release() {
    HANDLE h = m_h;
    m_h = nullptr;
    return h;
  }
  // Closes the handle; false when closing reported a failure.
  bool Close() {
    if (m_h == nullptr) return true;
    const BOOL ok = CloseHandle(m_h);
    m_h = nullptr;
    return ok != FALSE;
  }

 private:
  HANDLE m_h = nullptr;
};

inline bool ReadExact(HANDLE h, BYTE* p, std::size_t n) {
  DWORD got = 0;
  return ReadFile(h, p, static_cast<DWORD>(n), &got, nullptr) != FALSE && got == n;
}
inline bool WriteExact(HANDLE h, const BYTE* p, std::size_t n) {
  DWORD put = 0;
  return WriteFile(h, p, static_cast<DWORD>(n), &put, nullptr) != FALSE && put == n;
}
inline bool SeekTo(HANDLE h, LONG lOffset) {
  return SetFilePointer(h, lOffset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}
inline BlobByteReader ReaderOf(HANDLE h) {
  return [h](BYTE* p, std::size_t n) { return ReadExact(h, p, n); };
}
inline bool WriteHeader(HANDLE h, const BlobFileHeader& header) {
  BYTE bytes[kBlobFileHeaderSize];
  header.Encode(bytes);
  return WriteExact(h, bytes, sizeof bytes);
}
inline bool WriteHeader(HANDLE h, const BlobBlockHeader& header) {
  BYTE bytes[kBlobBlockHeaderSize];
  header.Encode(bytes);
  return WriteExact(h, bytes, sizeof bytes);
}

// Makes the directory entries of directory durable. False when that fails.
inline bool SyncDirectory(const std::string& directory) {
  FileHandle dir(CreateFileA(directory.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return dir && FlushFileBuffers(dir.get()) != FALSE && dir.Close();
}

// True for "blob" + eight or more digits + ".bin": the only names a table
// row may give a blob file (nothing outside the blob directory).
inline bool IsBlobFileName(const std::string& fileName) {
  bool bValid = fileName.size() >= 16 && fileName.compare(0, 4, "blob") == 0 &&
                fileName.compare(fileName.size() - 4, 4, ".bin") == 0;
  for (std::size_t i = 4; bValid && i + 4 < fileName.size(); ++i)
    bValid = fileName[i] >= '0' && fileName[i] <= '9';
  return bValid;
}

inline LONG LongOf(_variant_t v) {
  if (v.vt != VT_I4) v.ChangeType(VT_I4);
  return v.lVal;
}
inline bool BoolOf(_variant_t v) {
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return false;
  if (v.vt != VT_BOOL) v.ChangeType(VT_BOOL);
  return v.boolVal != VARIANT_FALSE;
}
inline std::string TextOf(const _variant_t& v) {
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return std::string();
  const _bstr_t text(v);
  return text.length() == 0 ? std::string() : std::string(static_cast<const char*>(text));
}

// The join of one block with its file.
inline std::string JoinSql(LONG lBlobId) {
  return "SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
         "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE BLOB_ID = " +
         std::to_string(lBlobId);
}

}  // namespace blobstore
