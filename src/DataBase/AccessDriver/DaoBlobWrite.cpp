// DaoBlobStrategy, writing side: the temporary file written through a
// stream or a raw handle, and Save with Store, which moves its block into a
// blob file (see DAO_BLOB.h).
//
// Order of a store, so that the tables never refer to bytes that are not on
// disk and a failed store loses nothing stored: the block goes into the
// blob file (appended, or the temporary file renamed), the file is synced
// (and, after a rename, its directory), then both table rows change in one
// transaction; the temporary file is deleted only after that, so a retry
// into a new file still has it. The blob the strategy referred to before is
// released only after the new one is stored.
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>
#include <system_error>
#include <vector>

#include "DataBase/AccessDriver/DAO_BLOB.h"
#include "DataBase/AccessDriver/DaoBlobSupport.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"

using namespace blobstore;

namespace {

constexpr DWORD kCopyBufferSize = 0x8000;

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

std::ostream& DaoBlobStrategy::OpenWrite() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  const std::ios_base::iostate mask = m_outStream.exceptions();
  if (!m_outStream.good()) {
    // Still failed from an earlier open: raised at once to the caller.
    try {
      m_outStream.exceptions(std::ios_base::badbit | std::ios_base::failbit |
                             std::ios_base::eofbit);
    } catch (...) {
      m_outStream.exceptions(mask);
      throw;
    }
  }
  if (m_outStream.is_open()) {
    Trace(4, __LINE__, "attempt to open BLOB for write twice");
    return m_outStream;
  }
  m_outStream.clear();
  try {
    if (m_tempPath.empty()) m_tempPath = m_pDatabase->MakeTempFileName();
    // A fresh temporary file is empty: opened without truncation, since a
    // truncating open makes the file system write the file back when it is
    // closed (and its removal wait for that), which a packed blob never needs.
    std::error_code ec;
    const bool bEmpty = std::filesystem::file_size(m_tempPath, ec) == 0 && !ec;
    m_outStream.open(m_tempPath, std::ios_base::in | std::ios_base::out | std::ios_base::binary |
                                     (bEmpty ? std::ios_base::openmode{} : std::ios_base::trunc));
    if (!m_outStream.is_open())
      throw std::runtime_error("temporary blob file " + m_tempPath + " could not be opened");
    BYTE fileBytes[kBlobFileHeaderSize];
    BlobFileHeader().Encode(fileBytes);
    BYTE blockBytes[kBlobBlockHeaderSize];
    BlobBlockHeader().Encode(blockBytes);
    m_outStream.write(reinterpret_cast<const char*>(fileBytes), sizeof fileBytes);
    m_outStream.write(reinterpret_cast<const char*>(blockBytes), sizeof blockBytes);
    if (!m_outStream)
      throw std::runtime_error("headers of temporary blob file " + m_tempPath +
                               " could not be written");
    m_lTempDataStart = static_cast<LONG>(kBlobFileHeaderSize);
    m_lTempDataLength = 0;
    m_pending = PendingOperation::Write;
    m_bTempLengthUnknown = false;
  } catch (const std::exception& e) {
    if (const auto* pVem = dynamic_cast<const vem_error*>(&e)) {
      Report(*pVem);
    } else {
      Trace(4, __LINE__, e.what());
      Trace(4, __LINE__, "stream operation failed");
      ReportLastError();
    }
    if (m_outStream.is_open()) m_outStream.close();
    DeleteTempFile();
    m_outStream.setstate(std::ios_base::badbit);
  }
  m_outStream.exceptions(mask);
  return m_outStream;
}

void DaoBlobStrategy::CloseWrite() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_outStream.is_open()) {
    const std::streamoff put = m_outStream.tellp();
    if (put == -1) {
      Trace(4, __LINE__, "tellp failed");
      ReportLastError();
      m_bTempLengthUnknown = true;
    } else {
      m_lTempDataLength =
          static_cast<LONG>(put - m_lTempDataStart - static_cast<LONG>(kBlobBlockHeaderSize));
      m_bTempLengthUnknown = false;
    }
    m_outStream.close();
    if (m_outStream.fail()) m_bTempLengthUnknown = true;  // the last bytes did not reach the file
  } else {
    Trace(4, __LINE__, "CloseWrite called on a closed file");
  }
  m_outStream.clear();
}

HANDLE DaoBlobStrategy::OpenWriteHandle() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_hWrite != nullptr) {
    Trace(4, __LINE__, "attempt to open BLOB for write twice");
    return m_hWrite;
  }
  FileHandle file;
  try {
    if (m_tempPath.empty()) m_tempPath = m_pDatabase->MakeTempFileName();
    file = CreateFileA(m_tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!file) {
      Trace(4, __LINE__, "open temp file failed (" + m_tempPath + ")");
      throw vem_error(m_tempPath, kVemErrBlobFileOpen);
    }
    if (!WriteHeader(file.get(), BlobFileHeader())) {
      Trace(2, __LINE__, "BLOB file header could not be written: " + m_tempPath);
      ReportLastError();
      throw vem_error(m_tempPath, kVemErrBlobWrite);
    }
    if (!WriteHeader(file.get(), BlobBlockHeader())) {
      Trace(2, __LINE__, "BLOB header could not be written: " + m_tempPath);
      ReportLastError();
      throw vem_error(m_tempPath, kVemErrBlobWrite);
    }
    m_lTempDataStart = static_cast<LONG>(kBlobFileHeaderSize);
    m_lTempDataLength = 0;
    m_pending = PendingOperation::Write;
    m_bTempLengthUnknown = false;
    m_hWrite = file.release();
    return m_hWrite;
  } catch (const vem_error& e) {
    Report(e);
  } catch (const std::exception& e) {
    Trace(4, __LINE__, e.what());
    ReportLastError();
  }
  file.Close();
  DeleteTempFile();
  return nullptr;
}

void DaoBlobStrategy::CloseWriteHandle() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_hWrite == nullptr) {
    Trace(4, __LINE__, "CloseWriteHandle called on a closed file");
    return;
  }
  DWORD dwHigh = 0;
  const DWORD dwSize = GetFileSize(m_hWrite, &dwHigh);
  const LONG lHeaders = m_lTempDataStart + static_cast<LONG>(kBlobBlockHeaderSize);
  if (dwSize != INVALID_FILE_SIZE && dwHigh == 0 && dwSize <= 0x7FFFFFFF &&
      static_cast<LONG>(dwSize) >= lHeaders) {
    m_lTempDataLength = static_cast<LONG>(dwSize) - lHeaders;
    m_bTempLengthUnknown = false;
  } else {
    Trace(4, __LINE__, "GetFileSize failed");
    ReportLastError();
    m_bTempLengthUnknown = true;
  }
  if (!CloseHandle(m_hWrite)) m_bTempLengthUnknown = true;  // a write did not reach the file
  m_hWrite = nullptr;
}

LONG DaoBlobStrategy::Save() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  std::lock_guard<Mutex> lock(m_pDatabase->GetMutex());
  if (m_inStream.is_open()) {
    CloseRead();
    Trace(4, __LINE__, "BLOB save warning: instream not closed before save");
  }
  if (m_outStream.is_open()) {
    CloseWrite();
    Trace(4, __LINE__, "BLOB save warning: outstream not closed before save");
  }
  try {
    SaveLocked();
  } catch (const vem_error& e) {
    Report(e);
    throw;
  }
  return m_lBlobId;
}

void DaoBlobStrategy::SaveLocked() {
  switch (m_pending) {
    case PendingOperation::Write: {
      if (m_hWrite != nullptr)
        throw vem_error("the write handle on temporary blob file " + m_tempPath +
                            " is still open: the blob is not stored",
                        kVemErrBlobWrite);
      if (m_bTempLengthUnknown || m_lTempDataLength < 0 || m_tempPath.empty())
        throw vem_error("the write into temporary blob file " + m_tempPath +
                            " failed or its length is unknown: the blob is not stored",
                        kVemErrBlobWrite);
      const LONG lOldId = m_lBlobId;
      const std::string oldPath = m_blobFilePath;
      const LONG lOldStart = m_lBlockStart;
      try {
        Store(false);
      } catch (const vem_error&) {
        Trace(4, __LINE__, "BLOB save failed, retry in new blob file");
        Store(true);
      }
      if (lOldId != -1 && !oldPath.empty()) {
        // The new blob is stored and the record is to hold it; a failure to
        // release the old one is told but does not undo the store.
        try {
          Release(lOldId, oldPath, lOldStart);
        } catch (const vem_error& e) {
          Report(e);
        }
      }
      break;
    }
    case PendingOperation::AddReference:
      AddReference();
      m_pending = PendingOperation::None;
      break;
    case PendingOperation::Erase:
      RemoveReference();
      Reset();
      break;
    case PendingOperation::None:
      break;
  }
}

void DaoBlobStrategy::Store(bool bForceNewFile) {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  const LONG lLength = m_lTempDataLength;
  {
    // The temporary file must hold exactly the headers and the data.
    std::error_code ec;
    const auto size = std::filesystem::file_size(m_tempPath, ec);
    if (ec) {
      Trace(4, __LINE__, "missing tmp file " + m_tempPath);
      throw vem_error("temporary blob file " + m_tempPath + " is missing", kVemErrBlobWrite);
    }
    if (size != static_cast<std::uintmax_t>(m_lTempDataStart) + kBlobBlockHeaderSize +
                    static_cast<std::uintmax_t>(lLength)) {
      Trace(4, __LINE__, "tmp file is corrupt or could not be read");
      throw vem_error("temporary blob file " + m_tempPath + " holds " + std::to_string(size) +
                          " bytes, not the headers and " + std::to_string(lLength) + " data bytes",
                      kVemErrBlobWrite);
    }
  }
  std::string path;
  bool bRenamed = false;
  try {
    CallEngine(m_pModel, [&] {
      dao::Database& db = m_pDatabase->GetEngineDatabase();
      // Only the rows a store can use are read: none of the blocks (a new
      // row is added) and only the files the block still fits into, so
      // that a store costs the same however many blobs the tables hold.
      dao::RecordsetPtr pBlocks =
          db.OpenRecordset(_bstr_t("SELECT * FROM tblBLOB_BLOCKS WHERE BLOB_ID IS NULL"));
      pBlocks->AddNew();
      const LONG lBlobId = LongOf(pBlocks->GetCollect(_variant_t("BLOB_ID")));
      const bool bPack = !bForceNewFile && static_cast<ULONG>(lLength) <= kMaxPackedBlob;
      const std::string filesSql =
          bPack ? "SELECT * FROM tblBLOB_FILES WHERE FIL_lTotalSize <= " +
                      std::to_string(kMaxPackedFile - kBlobBlockHeaderSize -
                                     static_cast<ULONG>(lLength)) +
                      " ORDER BY FIL_lTotalSize"
                : std::string("SELECT * FROM tblBLOB_FILES WHERE FIL_ID IS NULL");
      dao::RecordsetPtr pFiles = db.OpenRecordset(_bstr_t(filesSql.c_str()));
      LONG lFileId = -1;
      LONG lStart = -1;
      if (bPack) {
        for (; !pFiles->GetEOF(); pFiles->MoveNext()) {
          const LONG lTotal = LongOf(pFiles->GetCollect(_variant_t("FIL_lTotalSize")));
          if (static_cast<ULONG>(lLength) + kBlobBlockHeaderSize + static_cast<ULONG>(lTotal) >
              kMaxPackedFile)
            continue;
          const LONG lId = LongOf(pFiles->GetCollect(_variant_t("FIL_ID")));
          std::string candidate;
          try {
            candidate = BlobFilePathOf(TextOf(pFiles->GetCollect(_variant_t("FIL_Filename"))),
                                       "FIL_ID " + std::to_string(lId));
          } catch (const vem_error&) {
            continue;  // told; never a file outside the blob directory
          }
          std::error_code ec;
          const auto size = std::filesystem::file_size(candidate, ec);
          if (!ec && size != static_cast<std::uintmax_t>(lTotal)) {
            Trace(4, __LINE__, "BLOB file (" + candidate + ") corrupt, try next one");
            continue;
          }
          path = candidate;
          lFileId = lId;
          lStart = lTotal;
          break;
        }
      }
      if (lFileId != -1) {
        pFiles->Edit();
        AppendToBlobFile(path, lFileId, lStart, lBlobId);
      } else {
        for (;;) {
          pFiles->AddNew();
          lFileId = LongOf(pFiles->GetCollect(_variant_t("FIL_ID")));
          char name[32];
          std::snprintf(name, sizeof name, "blob%08ld.bin", static_cast<long>(lFileId));
          path = m_pDatabase->GetBlobFilePath(name);
          if (!Exists(path)) {
            pFiles->PutCollect(_variant_t("FIL_Filename"), _variant_t(name));
            break;
          }
          pFiles->CancelUpdate();
        }
        for (const char* column : {"FIL_lTotalSize", "FIL_lUsedSpace"})
          pFiles->PutCollect(_variant_t(column),
                             _variant_t(static_cast<LONG>(kBlobFileHeaderSize)));
        for (const char* column : {"FIL_lFreeSpace", "FIL_lBlobCount"})
          pFiles->PutCollect(_variant_t(column), _variant_t(LONG{0}));
        lStart = m_lTempDataStart;
        CreateBlobFile(path, lFileId, lBlobId);
        bRenamed = true;
      }
      const LONG lBlock = lLength + static_cast<LONG>(kBlobBlockHeaderSize);
      auto add = [&](const char* column, LONG lDelta) {
        pFiles->PutCollect(_variant_t(column),
                           _variant_t(LongOf(pFiles->GetCollect(_variant_t(column))) + lDelta));
      };
      add("FIL_lTotalSize", lBlock);
      add("FIL_lUsedSpace", lBlock);
      add("FIL_lBlobCount", 1);
      pBlocks->PutCollect(_variant_t("BLOB_FIL_ID"), _variant_t(lFileId));
      pBlocks->PutCollect(_variant_t("BLOB_lStart"), _variant_t(lStart));
      pBlocks->PutCollect(_variant_t("BLOB_lTotalSize"), _variant_t(lBlock));
      pBlocks->PutCollect(_variant_t("BLOB_lDataLength"), _variant_t(lLength));
      pBlocks->PutCollect(_variant_t("BLOB_RefCount"), _variant_t(LONG{1}));
      pBlocks->PutCollect(_variant_t("BLOB_Deleted"), _variant_t(false));
      // Both rows or neither.
      db.BeginTrans();
      try {
        pFiles->Update();
        pBlocks->Update();
        db.CommitTrans(0);
      } catch (...) {
        db.Rollback();
        throw;
      }
      pFiles->Close();
      pBlocks->Close();
      m_lBlobId = lBlobId;
      m_blobFilePath = path;
      m_lBlockStart = lStart;
      m_lDataLength = lLength;
    });
  } catch (...) {
    // A renamed temporary file goes back, so that a retry still has it.
    if (bRenamed) std::rename(path.c_str(), m_tempPath.c_str());
    throw;
  }
  if (!bRenamed) std::remove(m_tempPath.c_str());
  m_tempPath.clear();
  m_lTempDataStart = -1;
  m_lTempDataLength = -1;
  m_pending = PendingOperation::None;
}

void DaoBlobStrategy::AppendToBlobFile(const std::string& path, LONG lFileId, LONG lTotalSize,
                                       LONG lBlobId) {
  auto failed = [&](const std::string& what) {
    Trace(4, __LINE__, "stream operation failed");
    ReportLastError();
    return vem_error("blob file " + path + ": " + what, kVemErrBlobWrite);
  };
  const LONG lLength = m_lTempDataLength;
  FileHandle blob(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!blob) throw failed("cannot be opened for an append");
  BlobFileHeader fileHeader;
  if (!fileHeader.Read(ReaderOf(blob.get()))) throw failed("file header unreadable");
  if (fileHeader.lFileId != lFileId || fileHeader.nVersion > kBlobHeaderVersion) {
    Trace(4, __LINE__, path);
    throw vem_error("blob file " + path + " has a header of file id " +
                        std::to_string(fileHeader.lFileId) + " version " +
                        std::to_string(fileHeader.nVersion) + ", not of FIL_ID " +
                        std::to_string(lFileId),
                    kVemErrBlobHeader);
  }
  fileHeader.ulFlags |= kBlobFileWritePending;
  if (!SeekTo(blob.get(), 0) || !WriteHeader(blob.get(), fileHeader))
    throw failed("file header could not be written");
  const DWORD dwEnd = SetFilePointer(blob.get(), 0, nullptr, FILE_END);
  if (dwEnd != static_cast<DWORD>(lTotalSize)) {
    Trace(4, __LINE__, path);
    throw vem_error(path, kVemErrBlobHeader);
  }
  BlobBlockHeader blockHeader;
  blockHeader.lBlobId = lBlobId;
  blockHeader.lTotalSize = -1;
  blockHeader.lDataLength = -1;
  blockHeader.ulFlags = kBlobBlockBeingWritten;
  if (!WriteHeader(blob.get(), blockHeader)) throw failed("block header could not be written");

  FileHandle temp(CreateFileA(m_tempPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BlobBlockHeader tempBlock;
  if (!temp || !SeekTo(temp.get(), m_lTempDataStart) || !tempBlock.Read(ReaderOf(temp.get())))
    throw failed("temporary file " + m_tempPath + " unreadable");
  std::vector<BYTE> buffer(kCopyBufferSize);
  LONGLONG copied = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(temp.get(), buffer.data(), kCopyBufferSize, &got, nullptr))
      throw failed("temporary file " + m_tempPath + " unreadable");
    if (got == 0) break;
    if (!WriteExact(blob.get(), buffer.data(), got)) throw failed("data could not be written");
    copied += got;
  }
  temp.Close();
  if (copied != lLength) {
    Trace(4, __LINE__, "tmp file is corrupt or could not be read");
    throw vem_error("temporary blob file " + m_tempPath + " held " + std::to_string(copied) +
                        " data bytes, " + std::to_string(lLength) + " expected",
                    kVemErrBlobWrite);
  }
  const LONG lBlock = lLength + static_cast<LONG>(kBlobBlockHeaderSize);
  fileHeader.lTotalSize += lBlock;
  fileHeader.lUsedSpace += lBlock;
  fileHeader.ulFlags &= ~kBlobFileWritePending;
  fileHeader.lBlobCount += 1;
  blockHeader.lTotalSize = lBlock;
  blockHeader.lDataLength = lLength;
  blockHeader.ulFlags = kBlobBlockLive;
  if (!SeekTo(blob.get(), 0) || !WriteHeader(blob.get(), fileHeader) ||
      !SeekTo(blob.get(), lTotalSize) || !WriteHeader(blob.get(), blockHeader))
    throw failed("headers could not be written");
  if (!FlushFileBuffers(blob.get()) || !blob.Close()) throw failed("could not be synced");
}

void DaoBlobStrategy::CreateBlobFile(const std::string& path, LONG lFileId, LONG lBlobId) {
  const LONG lLength = m_lTempDataLength;
  if (std::rename(m_tempPath.c_str(), path.c_str()) != 0) {
    if (Exists(path))
      Trace(4, __LINE__, "filename " + path + " in use");
    else if (Exists(m_tempPath))
      Trace(4, __LINE__, "could not rename tmp file (" + m_tempPath + " -> " + path + ")");
    else
      Trace(4, __LINE__, "missing tmp file " + m_tempPath);
    throw vem_error("temporary blob file " + m_tempPath + " could not become " + path,
                    kVemErrBlobWrite);
  }
  auto failed = [&](const std::string& what) {
    Trace(4, __LINE__, "stream operation failed");
    ReportLastError();
    std::rename(path.c_str(), m_tempPath.c_str());
    return vem_error("blob file " + path + ": " + what, kVemErrBlobWrite);
  };
  // The new directory entry is synced while the file's bytes are: two
  // device flushes that overlap instead of one after the other. Both must
  // have succeeded before the tables may refer to the file.
  std::future<bool> directorySynced;
  try {
    directorySynced = std::async(std::launch::async, [directory = m_pDatabase->GetBlobDirectory()] {
      return SyncDirectory(directory);
    });
  } catch (const std::system_error&) {  // no thread to spare: synced below, in turn
  }
  BlobFileHeader fileHeader;
  fileHeader.SetDatabaseName(m_pDatabase->GetDatabaseFileName());
  fileHeader.lFileId = lFileId;
  const LONG lBlock = lLength + static_cast<LONG>(kBlobBlockHeaderSize);
  fileHeader.lTotalSize = fileHeader.lUsedSpace = static_cast<LONG>(kBlobFileHeaderSize) + lBlock;
  fileHeader.lBlobCount = 1;
  BlobBlockHeader blockHeader;
  blockHeader.lBlobId = lBlobId;
  blockHeader.lTotalSize = lBlock;
  blockHeader.lDataLength = lLength;
  {
    FileHandle blob(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!blob) throw failed("cannot be opened");
    if (!WriteHeader(blob.get(), fileHeader) || !WriteHeader(blob.get(), blockHeader))
      throw failed("headers could not be written");
    if (!FlushFileBuffers(blob.get()) || !blob.Close()) throw failed("could not be synced");
  }
  const bool bDirectorySynced = directorySynced.valid()
                                    ? directorySynced.get()
                                    : SyncDirectory(m_pDatabase->GetBlobDirectory());
  if (!bDirectorySynced) throw failed("directory could not be synced");
}
