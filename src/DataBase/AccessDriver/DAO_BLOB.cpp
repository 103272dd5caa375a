// DaoBlobStrategy, reading side: Load, the limited input stream, the raw
// read handle, Reset, Clone and the reference counts (see DAO_BLOB.h).
#include "DataBase/AccessDriver/DAO_BLOB.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "DataBase/AccessDriver/DaoBlobSupport.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"

using namespace blobstore;

DaoBlobStrategy::DaoBlobStrategy(DataModel* pModel, const SRecordDef& recordDef,
                                 DaoDatabase& database)
    : m_pModel(pModel), m_pRecordDef(&recordDef), m_pDatabase(&database) {}

DaoBlobStrategy::~DaoBlobStrategy() {
  try {
    Reset();
  } catch (...) {  // closing files never raises here; nothing to report to
  }
}

void DaoBlobStrategy::Trace(LONG lLevel, LONG lLine, const std::string& text) {
  if (m_pModel != nullptr)
    m_pModel->GetBackChannel().TraceText(lLevel, kTraceFile, lLine, text.c_str());
}

void DaoBlobStrategy::ReportLastError() {
  const int error = errno;
  const LONG lCode = error != 0 ? static_cast<LONG>(error) : static_cast<LONG>(GetLastError());
  if (lCode != 0 && m_pModel != nullptr)
    m_pModel->GetBackChannel().Error(lCode, nullptr, nullptr, nullptr);
}

void DaoBlobStrategy::Report(const vem_error& e) {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().Error(e.code(), e.what(), nullptr, nullptr);
}

void DaoBlobStrategy::CheckBlockIsOurs(const BlobBlockHeader& header, const std::string& path) {
  if (header.lBlobId == m_lBlobId && header.lDataLength == m_lDataLength) return;
  // A compaction moved the block after the blob was loaded: never another
  // blob's bytes.
  Trace(2, __LINE__, "BLOB header does not match its table row: " + path);
  throw vem_error("blob file " + path + " holds no block of blob id " + std::to_string(m_lBlobId) +
                      " at offset " + std::to_string(m_lBlockStart) +
                      " (moved since it was loaded: load the blob again)",
                  kVemErrBlobHeader);
}

std::string DaoBlobStrategy::BlobFilePathOf(const std::string& fileName, const std::string& row) {
  if (!IsBlobFileName(fileName)) {
    const std::string text = "tblBLOB_FILES row " + row + " names the blob file \"" + fileName +
                             "\", which is not of the form blob<8 or more digits>.bin";
    Trace(4, __LINE__, text);
    throw vem_error(text, kVemErrBlobNoRow);
  }
  return m_pDatabase->GetBlobFilePath(fileName);
}

void DaoBlobStrategy::Load(LONG lBlobId) {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_inStream.is_open()) {
    CloseRead();
    Trace(4, __LINE__, "BLOB load warning: instream not closed before load");
  }
  if (m_outStream.is_open()) {
    CloseWrite();
    Trace(4, __LINE__, "BLOB load warning: outstream not closed before load");
  }
  Reset();
  if (lBlobId == -1) return;
  CallEngine(m_pModel, [&] {
    dao::RecordsetPtr pJoin = OpenBlobRow(lBlobId);
    const LONG lFileId = LongOf(pJoin->GetCollect(_variant_t("FIL_ID")));
    const std::string path = BlobFilePathOf(
        TextOf(pJoin->GetCollect(_variant_t("FIL_Filename"))),
        "FIL_ID " + std::to_string(lFileId) + " (blob id " + std::to_string(lBlobId) + ")");
    const LONG lStart = LongOf(pJoin->GetCollect(_variant_t("BLOB_lStart")));
    const LONG lLength = LongOf(pJoin->GetCollect(_variant_t("BLOB_lDataLength")));
    pJoin->Close();
    m_lBlobId = lBlobId;
    m_blobFilePath = path;
    m_lBlockStart = lStart;
    m_lDataLength = lLength;
  });
}

dao::RecordsetPtr DaoBlobStrategy::OpenBlobRow(LONG lBlobId) {
  dao::RecordsetPtr pJoin =
      m_pDatabase->GetEngineDatabase().OpenRecordset(_bstr_t(JoinSql(lBlobId).c_str()));
  if (pJoin->GetEOF()) {
    pJoin->Close();
    Trace(4, __LINE__, "BLOB table integrity error: no record in blob table for this id");
    throw vem_error("blob id " + std::to_string(lBlobId) + " has no row in tblBLOB_BLOCKS",
                    kVemErrBlobNoRow);
  }
  return pJoin;
}

void DaoBlobStrategy::Reset() {
  if (!m_blobFilePath.empty()) {
    if (m_inStream.is_open()) m_inStream.close();
    m_inStream.clear();
    m_lBlobId = -1;
    m_blobFilePath.clear();
    m_lBlockStart = -1;
    m_lDataLength = -1;
  }
  if (!m_tempPath.empty()) {
    if (m_outStream.is_open()) m_outStream.close();
    m_outStream.clear();
    DeleteTempFile();
  }
  m_pending = PendingOperation::None;
  m_bTempLengthUnknown = false;
}

void DaoBlobStrategy::DeleteTempFile() {
  if (!m_tempPath.empty()) std::remove(m_tempPath.c_str());
  m_tempPath.clear();
  m_lTempDataStart = -1;
  m_lTempDataLength = -1;
}

std::unique_ptr<IBlobStrategy> DaoBlobStrategy::Clone() {
  auto pClone = std::make_unique<DaoBlobStrategy>(m_pModel, *m_pRecordDef, *m_pDatabase);
  pClone->m_lBlobId = m_lBlobId;
  pClone->m_blobFilePath = m_blobFilePath;
  pClone->m_lBlockStart = m_lBlockStart;
  pClone->m_lDataLength = m_lDataLength;
  pClone->m_tempPath = m_tempPath;
  pClone->m_lTempDataStart = m_lTempDataStart;
  pClone->m_lTempDataLength = m_lTempDataLength;
  pClone->m_pending = m_pending;
  pClone->m_bTempLengthUnknown = m_bTempLengthUnknown;
  return pClone;
}

HANDLE DaoBlobStrategy::OpenReadHandle(LONG* plLength) {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_hRead != nullptr) {
    Trace(4, __LINE__, "attempt to open BLOB for read twice");
    return m_hRead;
  }
  FileHandle file;
  try {
    if (m_pending == PendingOperation::Erase || m_lBlobId == -1 || m_blobFilePath.empty()) {
      Trace(4, __LINE__, "try to open NULL BLOB");
      throw vem_error(kVemErrBlobNotOpen);
    }
    const std::string& path = m_blobFilePath;
    file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (!file) {
      Trace(4, __LINE__, "open blob file failed (" + path + ")");
      throw vem_error(path, kVemErrBlobFileOpen);
    }
    BlobFileHeader fileHeader;
    if (!fileHeader.Read(ReaderOf(file.get()))) {
      Trace(2, __LINE__, "BLOB file header could not be read: " + path);
      ReportLastError();
      throw vem_error(path, kVemErrBlobHeader);
    }
    if (fileHeader.nVersion > kBlobHeaderVersion) {
      Trace(4, __LINE__, "BLOB file version error: header version too high (" + path + ")");
      throw vem_error(path, kVemErrBlobFileVersion);
    }
    BlobBlockHeader blockHeader;
    if (!SeekTo(file.get(), m_lBlockStart) || !blockHeader.Read(ReaderOf(file.get()))) {
      Trace(2, __LINE__, "BLOB header could not be read: " + path);
      ReportLastError();
      throw vem_error(path, kVemErrBlobHeader);
    }
    if (blockHeader.nVersion > kBlobHeaderVersion) {
      Trace(4, __LINE__, "BLOB block version error: header version too high (" + path + ")");
      throw vem_error(path, kVemErrBlobBlockVersion);
    }
    CheckBlockIsOurs(blockHeader, path);
    const DWORD dwSize = GetFileSize(file.get(), nullptr);
    const LONGLONG dataEnd =
        static_cast<LONGLONG>(m_lBlockStart) + blockHeader.nSize + m_lDataLength;
    if (dwSize == INVALID_FILE_SIZE || static_cast<LONGLONG>(dwSize) < dataEnd) {
      Trace(2, __LINE__, "BLOB header could not be read: " + path);
      throw vem_error("blob file " + path + " is truncated: blob id " + std::to_string(m_lBlobId) +
                          " ends at " + std::to_string(dataEnd),
                      kVemErrBlobHeader);
    }
    *plLength = m_lDataLength;
    m_hRead = file.release();
    return m_hRead;
  } catch (const vem_error& e) {
    Report(e);
  } catch (const std::exception& e) {
    Trace(4, __LINE__, e.what());
    ReportLastError();
  }
  return nullptr;
}

void DaoBlobStrategy::CloseReadHandle() {
  if (m_hRead != nullptr) {
    CloseHandle(m_hRead);
    m_hRead = nullptr;
  } else {
    Trace(4, __LINE__, "CloseRead called on a closed file");
  }
}

std::istream& DaoBlobStrategy::OpenRead() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  const std::ios_base::iostate mask = m_inStream.exceptions();
  if (!m_inStream.good()) {
    // Still failed from an earlier open: raised at once to the caller.
    try {
      m_inStream.exceptions(std::ios_base::badbit | std::ios_base::failbit | std::ios_base::eofbit);
    } catch (...) {
      m_inStream.exceptions(mask);
      throw;
    }
  }
  if (m_inStream.is_open()) {
    Trace(4, __LINE__, "attempt to open BLOB for read twice");
    m_inStream.rdbuf()->rearm();
    return m_inStream;
  }
  m_inStream.clear();
  try {
    if (m_pending == PendingOperation::Erase || m_lBlobId == -1 || m_blobFilePath.empty()) {
      Trace(4, __LINE__, "try to open NULL BLOB");
      throw vem_error(kVemErrBlobNotOpen);
    }
    const std::string& path = m_blobFilePath;
    m_inStream.open(path);
    if (!m_inStream.is_open()) {
      Trace(4, __LINE__, "open blob file failed (" + path + ")");
      throw vem_error(path, kVemErrBlobFileOpen);
    }
    const BlobByteReader read = [&](BYTE* p, std::size_t n) {
      m_inStream.read(reinterpret_cast<char*>(p), static_cast<std::streamsize>(n));
      return m_inStream.gcount() == static_cast<std::streamsize>(n);
    };
    BlobFileHeader fileHeader;
    if (!fileHeader.Read(read)) {
      Trace(2, __LINE__, "BLOB file header could not be read: " + path);
      throw vem_error(path, kVemErrBlobHeader);
    }
    if (fileHeader.nVersion > kBlobHeaderVersion) {
      Trace(4, __LINE__, "BLOB file version error: header version too high (" + path + ")");
      throw vem_error(path, kVemErrBlobFileVersion);
    }
    BlobBlockHeader blockHeader;
    if (!m_inStream.seekg(m_lBlockStart) || !blockHeader.Read(read)) {
      Trace(2, __LINE__, "BLOB header could not be read: " + path);
      throw vem_error(path, kVemErrBlobHeader);
    }
    if (blockHeader.nVersion > kBlobHeaderVersion) {
      Trace(4, __LINE__, "BLOB block version error: header version too high (" + path + ")");
      throw vem_error(path, kVemErrBlobBlockVersion);
    }
    CheckBlockIsOurs(blockHeader, path);
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(path, ec);
    const auto dataEnd = static_cast<std::uintmax_t>(m_lBlockStart) +
                         static_cast<std::uintmax_t>(blockHeader.nSize) +
                         static_cast<std::uintmax_t>(m_lDataLength);
    if (ec || fileSize < dataEnd) {
      Trace(2, __LINE__, "BLOB header could not be read: " + path);
      throw vem_error("blob file " + path + " is truncated: blob id " + std::to_string(m_lBlobId) +
                          " ends at " + std::to_string(dataEnd),
                      kVemErrBlobHeader);
    }
    m_inStream.rdbuf()->limit(m_lDataLength);
  } catch (const vem_error& e) {
    Report(e);
    m_inStream.exceptions(std::ios_base::goodbit);
    if (m_inStream.is_open()) m_inStream.close();
    m_inStream.setstate(std::ios_base::badbit);
    return m_inStream;
  } catch (const std::exception& e) {
    Trace(4, __LINE__, e.what());
    ReportLastError();
    m_inStream.exceptions(std::ios_base::goodbit);
    if (m_inStream.is_open()) m_inStream.close();
    m_inStream.setstate(std::ios_base::badbit);
    return m_inStream;
  }
  m_inStream.exceptions(mask);
  return m_inStream;
}

void DaoBlobStrategy::CloseRead() {
  if (m_inStream.is_open())
    m_inStream.close();
  else
    Trace(4, __LINE__, "CloseRead called on a closed file");
  m_inStream.clear();
}

void DaoBlobStrategy::Erase() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_outStream.is_open()) {
    Trace(4, __LINE__, "trying to Erase a BLOB which is open for writing");
    return;
  }
  if (m_inStream.is_open()) {
    Trace(4, __LINE__, "trying to Erase a BLOB which is open for reading");
    return;
  }
  if (!m_blobFilePath.empty()) m_pending = PendingOperation::Erase;
}

void DaoBlobStrategy::new_() {
  if (m_pending == PendingOperation::None) m_pending = PendingOperation::AddReference;
}

void DaoBlobStrategy::delete_() {
  try {
    std::lock_guard<Mutex> lock(m_pDatabase->GetMutex());
    RemoveReference();
  } catch (const vem_error& e) {
    Report(e);
    throw;
  }
}

void DaoBlobStrategy::AddReference() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_blobFilePath.empty()) return;
  // A revived block: the file's headers follow the table.
  if (ChangeReferenceCount(m_lBlobId, 1) == 1) MarkBlockInFile(m_blobFilePath, m_lBlockStart, true);
}

void DaoBlobStrategy::RemoveReference() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (m_blobFilePath.empty()) return;
  Release(m_lBlobId, m_blobFilePath, m_lBlockStart);
  m_lBlobId = -1;
}

void DaoBlobStrategy::Release(LONG lBlobId, const std::string& path, LONG lBlockStart) {
  if (ChangeReferenceCount(lBlobId, -1) == 0) MarkBlockInFile(path, lBlockStart, false);
}

LONG DaoBlobStrategy::ChangeReferenceCount(LONG lBlobId, LONG lDelta) {
  LONG lNewCount = 0;
  CallEngine(m_pModel, [&] {
    dao::RecordsetPtr pJoin = OpenBlobRow(lBlobId);
    pJoin->Edit();
    lNewCount = LongOf(pJoin->GetCollect(_variant_t("BLOB_RefCount"))) + lDelta;
    pJoin->PutCollect(_variant_t("BLOB_RefCount"), _variant_t(lNewCount));
    // The block comes to life (1 after an increment) or dies (0 after a
    // decrement): the file's accounting moves its bytes accordingly.
    if (lNewCount == (lDelta > 0 ? 1 : 0)) {
      const LONG lTotal = LongOf(pJoin->GetCollect(_variant_t("BLOB_lTotalSize")));
      auto add = [&](const char* column, LONG lChange) {
        pJoin->PutCollect(_variant_t(column),
                          _variant_t(LongOf(pJoin->GetCollect(_variant_t(column))) + lChange));
      };
      pJoin->PutCollect(_variant_t("BLOB_Deleted"), _variant_t(lDelta < 0));
      add("FIL_lUsedSpace", lDelta * lTotal);
      add("FIL_lFreeSpace", -lDelta * lTotal);
      add("FIL_lBlobCount", lDelta);
    }
    pJoin->Update();
    pJoin->Close();
  });
  return lNewCount;
}

void DaoBlobStrategy::MarkBlockInFile(const std::string& path, LONG lBlockStart, bool bLive) {
  auto failed = [&](const std::string& what) {
    Trace(4, __LINE__, "stream operation failed");
    ReportLastError();
    return vem_error("blob file " + path + ": " + what, kVemErrBlobWrite);
  };
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw failed("cannot be opened to mark a block");
  BlobFileHeader fileHeader;
  if (!fileHeader.Read(ReaderOf(file.get()))) throw failed("file header unreadable");
  if (fileHeader.nVersion > kBlobHeaderVersion) {
    Trace(4, __LINE__, "BLOB file version error: header version too high");
    throw vem_error(path, kVemErrBlobFileVersion);
  }
  BlobBlockHeader blockHeader;
  if (!SeekTo(file.get(), lBlockStart) || !blockHeader.Read(ReaderOf(file.get())))
    throw failed("block header at " + std::to_string(lBlockStart) + " unreadable");
  if (blockHeader.nVersion > kBlobHeaderVersion) {
    Trace(4, __LINE__, "BLOB file version error: blob header version too high");
    throw vem_error(path, kVemErrBlobBlockVersion);
  }
  const LONG lSign = bLive ? 1 : -1;
  fileHeader.lBlobCount += lSign;
  fileHeader.lUsedSpace += lSign * blockHeader.lTotalSize;
  fileHeader.lFreeSpace -= lSign * blockHeader.lTotalSize;
  if (!bLive)
    fileHeader.ulFlags |= kBlobFileHasDeleted;
  else if (fileHeader.lFreeSpace == 0)
    fileHeader.ulFlags &= ~kBlobFileHasDeleted;
  blockHeader.ulFlags = bLive ? kBlobBlockLive : kBlobBlockDeleted;
  if (!SeekTo(file.get(), 0) || !WriteHeader(file.get(), fileHeader) ||
      !SeekTo(file.get(), lBlockStart) || !WriteHeader(file.get(), blockHeader) ||
      !FlushFileBuffers(file.get()) || !file.Close())
    throw failed("headers could not be written");
}
