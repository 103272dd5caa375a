// DaoDatabase: check and compaction of the blob files (see DaoDatabase.h).
//
// One file's compaction, in this order, so that a crash at any instant
// leaves every stored blob readable:
//  1. CheckBlobFile: the file against the tables; a file it refuses is left
//     as it is.
//  2. In one transaction: the blocks still in use (and deleted blocks whose
//     row cannot be deleted) are copied into the file's copy name (its name
//     + ".tmp", a name only compaction uses) whose header carries the
//     file's id and the flag kBlobFileCompacting; each kept
//     block's row gets its new start, the rows of dropped blocks go, the
//     file's row gets the copy's counters.
//  3. The copy's final header (flag still set) is written and the copy is
//     synced; one rename makes it the blob file; the directory is synced.
//  4. The transaction is committed (synced); then the flag is cleared.
// A crash before 3 leaves the old file and old tables (and a copy under the
// copy name, which the tables never describe: removed); a crash
// between 3 and 4 leaves the copy in place, flagged, with the tables old or
// new: RecoverBlobCompaction tells which from the copy's own block headers
// and finishes the transaction's work, or only clears the flag.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

#include "DataBase/AccessDriver/BlobHeaders.h"
#include "DataBase/AccessDriver/DaoBlobSupport.h"
#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "DataBase/AccessDriver/DataModel.h"

using namespace blobstore;

namespace {

namespace fs = std::filesystem;

constexpr const char* kCompactTraceFile = "DataBase\\AccessDriver\\DaoBLOBCompact";
constexpr DWORD kCopyBufferSize = 0x8000;
// The compaction copy of blob file "x" is "x.tmp": a name no other writer
// uses, so that a copy left by a crash is recognised by its name alone (a
// crash may leave it empty or half written).
constexpr const char* kCopySuffix = ".tmp";

// Check codes.
constexpr LONG kErrFileId = static_cast<LONG>(0xC004A808);
constexpr LONG kErrBlobId = static_cast<LONG>(0xC004A809);
constexpr LONG kErrNotMarkedDeleted = static_cast<LONG>(0xC004A80A);
constexpr LONG kErrStart = static_cast<LONG>(0xC004A80B);
constexpr LONG kErrBlockSize = static_cast<LONG>(0xC004A80C);
constexpr LONG kErrDataSize = static_cast<LONG>(0xC004A80D);
constexpr LONG kErrBlockHeader = static_cast<LONG>(0xC004A80E);
constexpr LONG kErrWritePending = static_cast<LONG>(0xC004A80F);
constexpr LONG kErrSeek = static_cast<LONG>(0xC004A812);
constexpr LONG kErrTotalSize = static_cast<LONG>(0xC004A813);
constexpr LONG kErrUsedSpace = static_cast<LONG>(0xC004A814);
constexpr LONG kErrFreeSpace = static_cast<LONG>(0xC004A815);
constexpr LONG kErrBlobCount = static_cast<LONG>(0xC004A816);

_variant_t Col(const char* name) {
  return _variant_t(name);
}

LONG LongCol(dao::Recordset& rs, const char* name) {
  return LongOf(rs.GetCollect(Col(name)));
}

// The file's length; -1 when it cannot be told.
LONGLONG FileLength(HANDLE h) {
  DWORD dwHigh = 0;
  const DWORD dwLow = GetFileSize(h, &dwHigh);
  if (dwLow == INVALID_FILE_SIZE && GetLastError() != 0) return -1;
  return (static_cast<LONGLONG>(dwHigh) << 32) | dwLow;
}

FileHandle OpenForUpdate(const std::string& path) {
  return FileHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// One block as a blob file's headers describe it.
struct FileBlock {
  LONG lStart;
  BlobBlockHeader header;
};

}  // namespace

void DaoDatabase::BlobTrace(LONG lLevel, LONG lLine, const std::string& text) {
  if (m_pModel != nullptr)
    m_pModel->GetBackChannel().TraceText(lLevel, kCompactTraceFile, lLine, text.c_str());
}

void DaoDatabase::BlobFail(LONG lLine, const std::string& trace, const std::string& path,
                           LONG lCode) {
  BlobTrace(4, lLine, trace + " (" + path + ")");
  throw vem_error(path, lCode);
}

void DaoDatabase::BlobStreamFailure(LONG lLine, const std::string& what) {
  const int error = errno;
  const LONG lLast = error != 0 ? static_cast<LONG>(error) : static_cast<LONG>(GetLastError());
  BlobTrace(4, lLine, "stream operation failed");
  if (lLast != 0 && m_pModel != nullptr)
    m_pModel->GetBackChannel().Error(lLast, nullptr, nullptr, nullptr);
  throw vem_error(what, kVemErrBlobWrite);
}

bool DaoDatabase::HasBlobTables() {
  return CallEngine(m_pModel, [&] {
    dao::TableDefsPtr pTableDefs;
    if (FAILED(GetEngineDatabase().get_TableDefs(&pTableDefs)) || !pTableDefs) return false;
    dao::TableDefPtr pTableDef;
    return SUCCEEDED(pTableDefs->get_Item(_variant_t("tblBLOB_FILES"), &pTableDef)) &&
           static_cast<bool>(pTableDef);
  });
}

bool DaoDatabase::CheckBlobFile(LONG lFileId, dao::Recordset& rFiles) {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  std::lock_guard<Mutex> lock(m_mutex);
  const std::string fileName =
      CallEngine(m_pModel, [&] { return TextOf(rFiles.GetCollect(Col("FIL_Filename"))); });
  if (!IsBlobFileName(fileName))
    BlobFail(__LINE__, "tblBLOB_FILES names the blob file \"" + fileName + "\"",
             "blob file id " + std::to_string(lFileId), kVemErrBlobFileOpen);
  const std::string path = GetBlobFilePath(fileName);
  if (m_pModel != nullptr)
    m_pModel->GetBackChannel().Trace(1, kCompactTraceFile, __LINE__, "CheckBlobFile: %s",
                                     path.c_str());
  LONG lTableTotal = 0, lTableUsed = 0, lTableFree = 0, lTableCount = 0;
  CallEngine(m_pModel, [&] {
    lTableTotal = LongCol(rFiles, "FIL_lTotalSize");
    lTableUsed = LongCol(rFiles, "FIL_lUsedSpace");
    lTableFree = LongCol(rFiles, "FIL_lFreeSpace");
    lTableCount = LongCol(rFiles, "FIL_lBlobCount");
  });

  FileHandle file = OpenForUpdate(path);
  BlobFileHeader header;
  if (!file || !header.Read(ReaderOf(file.get())))
    BlobFail(__LINE__, "could not read blob file header", path, kVemErrBlobFileOpen);
  if (header.nVersion > kBlobHeaderVersion) {
    BlobTrace(4, __LINE__, "BLOB file version error: header version too high");
    throw vem_error(path, kVemErrBlobFileVersion);
  }
  if (header.lFileId != lFileId) {
    BlobTrace(
        4, __LINE__,
        "wrong file id (" +
            std::string(header.szDatabaseName, strnlen(header.szDatabaseName, kBlobNameSize)) +
            ")");
    throw vem_error(path, kErrFileId);
  }
  // A file shorter than its table says has lost bytes: left alone.
  const LONGLONG length = FileLength(file.get());
  if (length < lTableTotal)
    BlobFail(__LINE__, "wrong total size in blob file", path, kErrTotalSize);

  // Header repairs, written only when every check has passed.
  bool bRepaired = false;
  const std::string storedName(header.szDatabaseName,
                               strnlen(header.szDatabaseName, kBlobNameSize));
  const std::string databaseName = GetDatabaseFileName();
  if (storedName != databaseName) {
    header.SetDatabaseName(databaseName);
    bRepaired = true;
  }
  if (header.lTotalSize > lTableTotal) {
    BlobTrace(4, __LINE__, "total size of blob file header above its table's: " + storedName);
    header.lTotalSize = lTableTotal;
    bRepaired = true;
  } else if (header.lTotalSize < lTableTotal) {
    BlobFail(__LINE__, "wrong total size in blob file", path, kErrTotalSize);
  }
  if (header.lUsedSpace != lTableUsed) {
    BlobTrace(4, __LINE__,
              "used space of blob file header differs from its table's: " + storedName);
    header.lUsedSpace = lTableUsed;
    bRepaired = true;
  }
  if (header.lFreeSpace != lTableFree) {
    header.lFreeSpace = lTableFree;
    bRepaired = true;
  }
  if (header.lBlobCount > lTableCount) {
    header.lBlobCount = lTableCount;
    bRepaired = true;
  } else if (header.lBlobCount < lTableCount) {
    BlobFail(__LINE__, "wrong blob count in blob file", path, kErrBlobCount);
  }

  // The walk over the blocks the tables list, in start order.
  LONG lPosition = header.nSize;
  LONG lUsed = static_cast<LONG>(kBlobFileHeaderSize);
  LONG lFree = 0;
  LONG lLive = 0;
  std::vector<FileBlock> rewrites;  // live blocks whose deleted flag is cleared
  CallEngine(m_pModel, [&] {
    char sql[256];
    std::snprintf(sql, sizeof sql,
                  "SELECT * FROM tblBLOB_FILES INNER JOIN tblBLOB_BLOCKS ON tblBLOB_FILES.FIL_ID = "
                  "tblBLOB_BLOCKS.BLOB_FIL_ID WHERE FIL_ID = %ld ORDER BY BLOB_lStart",
                  static_cast<long>(lFileId));
    dao::RecordsetPtr pJoin = GetEngineDatabase().OpenRecordset(_bstr_t(sql));
    for (; !pJoin->GetEOF(); pJoin->MoveNext()) {
      if (!SeekTo(file.get(), lPosition))
        BlobFail(__LINE__, "could not set file pointer", path, kErrSeek);
      BlobBlockHeader block;
      if (!block.Read(ReaderOf(file.get())))
        BlobFail(__LINE__, "could not read blob header", path, kErrBlockHeader);
      if (LongCol(*pJoin, "BLOB_lStart") != lPosition)
        BlobFail(__LINE__, "wrong start position in blob file", path, kErrStart);
      if (block.nVersion > kBlobHeaderVersion)
        BlobFail(__LINE__, "version of blob block header is too high", path,
                 kVemErrBlobBlockVersion);
      if (LongCol(*pJoin, "BLOB_ID") != block.lBlobId)
        BlobFail(__LINE__, "wrong blob id", path, kErrBlobId);
      if (LongCol(*pJoin, "BLOB_lTotalSize") != block.lTotalSize)
        BlobFail(__LINE__, "wrong blob size", path, kErrBlockSize);
      if (LongCol(*pJoin, "BLOB_lDataLength") != block.lDataLength)
        BlobFail(__LINE__, "wrong blob data size", path, kErrDataSize);
      const bool bDeleted = BoolOf(pJoin->GetCollect(Col("BLOB_Deleted")));
      if (!bDeleted && (block.ulFlags & kBlobBlockDeleted) != 0) {
        block.ulFlags &= ~kBlobBlockDeleted;
        rewrites.push_back({lPosition, block});
      } else if (bDeleted && (block.ulFlags & kBlobBlockDeleted) == 0) {
        BlobFail(__LINE__, "blob not marked as deleted", path, kErrNotMarkedDeleted);
      }
      if ((block.ulFlags & kBlobBlockBeingWritten) != 0)
        BlobFail(__LINE__, "write operation pending", path, kErrWritePending);
      if (block.lTotalSize < static_cast<LONG>(kBlobBlockHeaderSize) ||
          block.lTotalSize > header.lTotalSize - lPosition)
        BlobFail(__LINE__, "wrong blob size", path, kErrBlockSize);
      lPosition += block.lTotalSize;
      if (bDeleted) {
        lFree += block.lTotalSize;
      } else {
        lUsed += block.lTotalSize;
        ++lLive;
      }
    }
    pJoin->Close();
  });
  if (lPosition != header.lTotalSize) BlobFail(__LINE__, "wrong total size", path, kErrTotalSize);
  if (lUsed != header.lUsedSpace) BlobFail(__LINE__, "wrong used space", path, kErrUsedSpace);
  if (lFree != header.lFreeSpace) BlobFail(__LINE__, "wrong free space", path, kErrFreeSpace);
  if (lLive != header.lBlobCount) BlobFail(__LINE__, "wrong blob count", path, kErrBlobCount);

  if (bRepaired || !rewrites.empty()) {
    for (const FileBlock& b : rewrites)
      if (!SeekTo(file.get(), b.lStart) || !WriteHeader(file.get(), b.header))
        BlobStreamFailure(__LINE__, "blob file " + path + ": a block header could not be written");
    if (bRepaired && (!SeekTo(file.get(), 0) || !WriteHeader(file.get(), header)))
      BlobStreamFailure(__LINE__, "blob file " + path + ": the header could not be written");
    if (!FlushFileBuffers(file.get()))
      BlobStreamFailure(__LINE__, "blob file " + path + " could not be synced");
  }
  if (!file.Close()) BlobStreamFailure(__LINE__, "blob file " + path + " could not be closed");
  return true;
}

bool DaoDatabase::CompactBlobFile(dao::Recordset& rFiles) {
  std::lock_guard<Mutex> lock(m_mutex);
  const LONG lFileId = CallEngine(m_pModel, [&] { return LongCol(rFiles, "FIL_ID"); });
  try {
    CheckBlobFile(lFileId, rFiles);
  } catch (const vem_error& e) {
    if (m_pModel != nullptr) {
      m_pModel->GetBackChannel().Trace(1, kCompactTraceFile, __LINE__, "CheckBlobFile failed!");
      m_pModel->GetBackChannel().Error(e.code(), nullptr, nullptr, nullptr);
    }
    return false;
  }
  const std::string path = GetBlobFilePath(
      CallEngine(m_pModel, [&] { return TextOf(rFiles.GetCollect(Col("FIL_Filename"))); }));
  const std::string directory = GetBlobDirectory();
  dao::Database& db = GetEngineDatabase();
  CallEngine(m_pModel, [&] { db.BeginTrans(); });

  std::string tempPath;
  bool bRenamed = false;
  BlobFileHeader copyHeader;
  try {
    FileHandle source = OpenForUpdate(path);
    BlobFileHeader sourceHeader;
    if (!source || !sourceHeader.Read(ReaderOf(source.get())))
      BlobStreamFailure(__LINE__, "blob file " + path + ": the header could not be read");
    tempPath = path + kCopySuffix;
    FileHandle copy(CreateFileA(tempPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy) BlobStreamFailure(__LINE__, "compaction copy " + tempPath + " could not be opened");
    copyHeader = sourceHeader;
    copyHeader.nSize = static_cast<SHORT>(kBlobFileHeaderSize);
    copyHeader.nVersion = kBlobHeaderVersion;
    copyHeader.ulFlags = kBlobFileCompacting;
    copyHeader.lTotalSize = copyHeader.lUsedSpace = static_cast<LONG>(kBlobFileHeaderSize);
    copyHeader.lFreeSpace = 0;
    copyHeader.lBlobCount = 0;
    if (!WriteHeader(copy.get(), copyHeader))
      BlobStreamFailure(__LINE__,
                        "compaction copy " + tempPath + ": the header could not be written");

    std::vector<BYTE> buffer(kCopyBufferSize);
    LONG lReadPosition = sourceHeader.nSize;
    LONG lSourceAt = -1;  // where the source's file pointer stands (-1: unknown)
    CallEngine(m_pModel, [&] {
      char sql[128];
      std::snprintf(sql, sizeof sql,
                    "SELECT * FROM tblBLOB_BLOCKS WHERE BLOB_FIL_ID = %ld ORDER BY BLOB_lStart",
                    static_cast<long>(lFileId));
      dao::RecordsetPtr pBlocks = db.OpenRecordset(_bstr_t(sql));
      for (; !pBlocks->GetEOF(); pBlocks->MoveNext()) {
        if (m_pModel != nullptr)
          m_pModel->GetBackChannel().Progress(
              -1, nullptr, nullptr, nullptr,
              static_cast<SHORT>(static_cast<LONGLONG>(m_lBlobBlocksDone) * 100 /
                                 m_lBlobBlocksTotal),
              2);
        ++m_lBlobBlocksDone;
        if (lSourceAt != lReadPosition && !SeekTo(source.get(), lReadPosition))
          BlobStreamFailure(__LINE__, "blob file " + path + ": could not move to a block");
        BlobBlockHeader block;
        if (!block.Read(ReaderOf(source.get())))
          BlobStreamFailure(__LINE__, "blob file " + path + ": a block header could not be read");
        lSourceAt = lReadPosition + block.nSize;
        lReadPosition += block.lTotalSize;
        if (BoolOf(pBlocks->GetCollect(Col("BLOB_Deleted")))) {
          try {
            pBlocks->Delete();
            continue;  // dropped
          } catch (const _com_error& error) {
            ErrorText(error, m_pModel);  // traced; the block is kept as a deleted one
          }
          pBlocks->Edit();
          pBlocks->PutCollect(Col("BLOB_lStart"), _variant_t(copyHeader.lTotalSize));
          pBlocks->Update();
          copyHeader.lFreeSpace += block.lTotalSize;
          copyHeader.ulFlags |= kBlobFileHasDeleted;
        } else {
          pBlocks->Edit();
          pBlocks->PutCollect(Col("BLOB_lStart"), _variant_t(copyHeader.lTotalSize));
          pBlocks->Update();
          copyHeader.lUsedSpace += block.lTotalSize;
          copyHeader.lBlobCount += 1;
        }
        copyHeader.lTotalSize += block.lTotalSize;
        if (!WriteHeader(copy.get(), block))
          BlobStreamFailure(__LINE__,
                            "compaction copy " + tempPath + ": a block could not be written");
        for (LONG lLeft = block.lDataLength; lLeft > 0;) {
          const DWORD n = static_cast<DWORD>(std::min<LONG>(lLeft, kCopyBufferSize));
          if (!ReadExact(source.get(), buffer.data(), n))
            BlobStreamFailure(__LINE__, "blob file " + path + ": block data could not be read");
          if (!WriteExact(copy.get(), buffer.data(), n))
            BlobStreamFailure(__LINE__,
                              "compaction copy " + tempPath + ": a block could not be written");
          lLeft -= static_cast<LONG>(n);
        }
        lSourceAt += block.lDataLength;
      }
      pBlocks->Close();
    });
    // The finished copy, still flagged as one until the tables are committed.
    if (!SeekTo(copy.get(), 0) || !WriteHeader(copy.get(), copyHeader) ||
        !FlushFileBuffers(copy.get()) || !copy.Close())
      BlobStreamFailure(__LINE__, "compaction copy " + tempPath + " could not be finished");
    source.Close();
    CallEngine(m_pModel, [&] {
      rFiles.Edit();
      rFiles.PutCollect(Col("FIL_lTotalSize"), _variant_t(copyHeader.lTotalSize));
      rFiles.PutCollect(Col("FIL_lUsedSpace"), _variant_t(copyHeader.lUsedSpace));
      rFiles.PutCollect(Col("FIL_lFreeSpace"), _variant_t(copyHeader.lFreeSpace));
      rFiles.PutCollect(Col("FIL_lBlobCount"), _variant_t(copyHeader.lBlobCount));
      rFiles.Update();
    });
    if (std::rename(tempPath.c_str(), path.c_str()) != 0) {
      BlobTrace(4, __LINE__, "could not rename " + tempPath + " to " + path);
      CallEngine(m_pModel, [&] { db.Rollback(); });
      std::remove(tempPath.c_str());
      return false;
    }
    bRenamed = true;
    if (!SyncDirectory(directory))
      BlobStreamFailure(__LINE__, "blob directory " + directory + " could not be synced");
    CallEngine(m_pModel, [&] { db.CommitTrans(dao::dbForceOSFlush); });
  } catch (...) {
    try {
      CallEngine(m_pModel, [&] { db.Rollback(); });
    } catch (const vem_error&) {
      // Traced; the transaction ends with the connection at the latest.
    }
    if (!bRenamed) {
      if (!tempPath.empty()) std::remove(tempPath.c_str());
      throw;
    }
    // The copy is the blob file now: the tables must follow it.
    try {
      RecoverBlobFile(lFileId, path);
    } catch (const vem_error&) {
      m_bBlobCompactionUnfinished = true;  // the next open or run finishes it
    }
    throw;
  }
  // Committed: the copy is an ordinary blob file now.
  copyHeader.ulFlags &= ~kBlobFileCompacting;
  FileHandle file = OpenForUpdate(path);
  if (!file || !WriteHeader(file.get(), copyHeader) || !FlushFileBuffers(file.get()) ||
      !file.Close()) {
    BlobTrace(4, __LINE__, "the compaction flag of " + path + " could not be cleared");
    m_bBlobCompactionUnfinished = true;
  }
  return true;
}

bool DaoDatabase::CompactBlobFiles() {
  if (m_pModel != nullptr) m_pModel->GetBackChannel().RefreshTraceLevel();
  if (!HasBlobTables()) return true;
  std::lock_guard<Mutex> lock(m_mutex);
  const std::string directory = GetBlobDirectory();
  const std::string marker = directory + "/" + kBlobCompactionMarker;
  {
    FileHandle created(CreateFileA(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!created || !created.Close() || !SyncDirectory(directory))
      BlobStreamFailure(__LINE__, "compaction marker " + marker + " could not be created");
  }
  m_bBlobCompactionUnfinished = !RecoverBlobCompaction();

  bool bResult = true;
  try {
    std::vector<LONG> fileIds;
    CallEngine(m_pModel, [&] {
      dao::Database& db = GetEngineDatabase();
      dao::RecordsetPtr pCount =
          db.OpenRecordset(_bstr_t("SELECT Count(*) AS BLOB_CountTotal FROM tblBLOB_BLOCKS"));
      m_lBlobBlocksTotal = LongCol(*pCount, "BLOB_CountTotal");
      pCount->Close();
      if (m_lBlobBlocksTotal <= 0) m_lBlobBlocksTotal = 1;
      m_lBlobBlocksDone = 0;
      dao::RecordsetPtr pFiles =
          db.OpenRecordset(_bstr_t("SELECT FIL_ID FROM tblBLOB_FILES ORDER BY FIL_lTotalSize"));
      for (; !pFiles->GetEOF(); pFiles->MoveNext()) fileIds.push_back(LongCol(*pFiles, "FIL_ID"));
      pFiles->Close();
    });
    for (LONG lFileId : fileIds) {
      dao::RecordsetPtr pRow = CallEngine(m_pModel, [&] {
        return GetEngineDatabase().OpenRecordset(_bstr_t(
            ("SELECT * FROM tblBLOB_FILES WHERE FIL_ID = " + std::to_string(lFileId)).c_str()));
      });
      if (CallEngine(m_pModel, [&] { return pRow->GetEOF(); })) continue;
      bResult = CompactBlobFile(*pRow) && bResult;
      CallEngine(m_pModel, [&] { pRow->Close(); });
    }
  } catch (const vem_error& e) {
    if (m_pModel != nullptr) m_pModel->GetBackChannel().Error(e.code(), e.what(), nullptr, nullptr);
    bResult = false;
  }
  if (!m_bBlobCompactionUnfinished) {
    std::remove(marker.c_str());
    SyncDirectory(directory);
  }
  return bResult;
}

bool DaoDatabase::RecoverBlobCompaction() {
  std::lock_guard<Mutex> lock(m_mutex);
  const std::string directory = GetBlobDirectory();
  bool bClean = true;
  // Copies never renamed into place: the tables never described them.
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != kCopySuffix || !IsBlobFileName(it->path().stem().string()))
      continue;
    BlobTrace(4, __LINE__, "removing the unfinished compaction copy " + it->path().string());
    if (std::remove(it->path().c_str()) != 0) bClean = false;
  }
  // Copies in place whose transaction may be lost.
  std::vector<std::pair<LONG, std::string>> files;
  CallEngine(m_pModel, [&] {
    dao::RecordsetPtr pFiles = GetEngineDatabase().OpenRecordset(
        _bstr_t("SELECT FIL_ID, FIL_Filename FROM tblBLOB_FILES"));
    for (; !pFiles->GetEOF(); pFiles->MoveNext())
      files.emplace_back(LongCol(*pFiles, "FIL_ID"),
                         TextOf(pFiles->GetCollect(Col("FIL_Filename"))));
    pFiles->Close();
  });
  for (const auto& [lFileId, name] : files) {
    if (!IsBlobFileName(name)) continue;
    const std::string path = GetBlobFilePath(name);
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BlobFileHeader header;
    if (!file || !header.Read(ReaderOf(file.get()))) continue;
    file.Close();
    if ((header.ulFlags & kBlobFileCompacting) == 0) continue;
    try {
      RecoverBlobFile(lFileId, path);
    } catch (const vem_error& e) {
      if (m_pModel != nullptr)
        m_pModel->GetBackChannel().Error(e.code(), e.what(), nullptr, nullptr);
      bClean = false;
    }
  }
  return bClean;
}

void DaoDatabase::RecoverBlobFile(LONG lFileId, const std::string& path) {
  auto refuse = [&](const std::string& why) {
    const std::string text =
        "interrupted compaction of blob file " + path + " cannot be finished: " + why;
    BlobTrace(4, __LINE__, text);
    throw vem_error(text, kErrTotalSize);
  };
  FileHandle file = OpenForUpdate(path);
  BlobFileHeader header;
  if (!file || !header.Read(ReaderOf(file.get())))
    BlobFail(__LINE__, "could not read blob file header", path, kVemErrBlobFileOpen);
  if (header.nVersion > kBlobHeaderVersion || header.lFileId != lFileId)
    refuse("its header is of another version or file");
  const LONGLONG length = FileLength(file.get());
  if (length < header.lTotalSize) refuse("the file is shorter than its header says");
  // The copy's blocks, from its own headers.
  std::map<LONG, FileBlock> blocks;  // by blob id
  LONG lUsed = header.nSize, lFree = 0, lLive = 0;
  for (LONG lAt = header.nSize; lAt < header.lTotalSize;) {
    BlobBlockHeader block;
    if (!SeekTo(file.get(), lAt) || !block.Read(ReaderOf(file.get())) ||
        block.lTotalSize < static_cast<LONG>(kBlobBlockHeaderSize) ||
        block.lTotalSize > header.lTotalSize - lAt)
      refuse("a block header is unreadable");
    blocks[block.lBlobId] = {lAt, block};
    if ((block.ulFlags & kBlobBlockDeleted) != 0) {
      lFree += block.lTotalSize;
    } else {
      lUsed += block.lTotalSize;
      ++lLive;
    }
    lAt += block.lTotalSize;
  }
  if (lUsed != header.lUsedSpace || lFree != header.lFreeSpace || lLive != header.lBlobCount)
    refuse("its header's counters do not match its blocks");
  // The copy must reach the disk before the tables name its layout.
  if (!FlushFileBuffers(file.get()) || !SyncDirectory(GetBlobDirectory()))
    BlobStreamFailure(__LINE__, "blob file " + path + " could not be synced");

  dao::Database& db = GetEngineDatabase();
  CallEngine(m_pModel, [&] {
    db.BeginTrans();
    try {
      char sql[128];
      std::snprintf(sql, sizeof sql, "SELECT * FROM tblBLOB_BLOCKS WHERE BLOB_FIL_ID = %ld",
                    static_cast<long>(lFileId));
      dao::RecordsetPtr pBlocks = db.OpenRecordset(_bstr_t(sql));
      std::size_t matched = 0;
      for (; !pBlocks->GetEOF(); pBlocks->MoveNext()) {
        const LONG lBlobId = LongCol(*pBlocks, "BLOB_ID");
        const bool bDeleted = BoolOf(pBlocks->GetCollect(Col("BLOB_Deleted")));
        const auto it = blocks.find(lBlobId);
        if (it == blocks.end()) {
          // Dropped by the copy: only a deleted block may be.
          if (!bDeleted) refuse("live blob " + std::to_string(lBlobId) + " is not in the copy");
          pBlocks->Delete();
          continue;
        }
        if (LongCol(*pBlocks, "BLOB_lTotalSize") != it->second.header.lTotalSize ||
            LongCol(*pBlocks, "BLOB_lDataLength") != it->second.header.lDataLength)
          refuse("blob " + std::to_string(lBlobId) + " differs in size from its row");
        ++matched;
        if (LongCol(*pBlocks, "BLOB_lStart") != it->second.lStart) {
          pBlocks->Edit();
          pBlocks->PutCollect(Col("BLOB_lStart"), _variant_t(it->second.lStart));
          pBlocks->Update();
        }
      }
      pBlocks->Close();
      if (matched != blocks.size()) refuse("the copy holds blocks its tables do not list");
      dao::RecordsetPtr pFile = db.OpenRecordset(_bstr_t(
          ("SELECT * FROM tblBLOB_FILES WHERE FIL_ID = " + std::to_string(lFileId)).c_str()));
      if (pFile->GetEOF()) refuse("its row is gone");
      pFile->Edit();
      pFile->PutCollect(Col("FIL_lTotalSize"), _variant_t(header.lTotalSize));
      pFile->PutCollect(Col("FIL_lUsedSpace"), _variant_t(header.lUsedSpace));
      pFile->PutCollect(Col("FIL_lFreeSpace"), _variant_t(header.lFreeSpace));
      pFile->PutCollect(Col("FIL_lBlobCount"), _variant_t(header.lBlobCount));
      pFile->Update();
      pFile->Close();
      db.CommitTrans(dao::dbForceOSFlush);
    } catch (...) {
      db.Rollback();
      throw;
    }
  });
  header.ulFlags &= ~kBlobFileCompacting;
  if (!SeekTo(file.get(), 0) || !WriteHeader(file.get(), header) || !FlushFileBuffers(file.get()) ||
      !file.Close())
    BlobStreamFailure(__LINE__, "blob file " + path + ": the compaction flag could not be cleared");
  BlobTrace(4, __LINE__, "finished the interrupted compaction of " + path);
}

void DaoDatabase::FinishInterruptedBlobCompaction() {
  if (m_bReadOnly || !IsOpen()) return;
  try {
    const std::string directory = GetBlobDirectory();
    const std::string marker = directory + "/" + kBlobCompactionMarker;
    std::error_code ec;
    if (!fs::exists(marker, ec)) return;
    std::lock_guard<Mutex> lock(m_mutex);
    if (!fs::exists(marker, ec)) return;  // a run of another process ended meanwhile
    if (HasBlobTables() && !RecoverBlobCompaction()) return;
    std::remove(marker.c_str());
    SyncDirectory(directory);
  } catch (const std::exception& e) {
    BlobTrace(4, __LINE__, std::string("interrupted blob compaction not finished: ") + e.what());
  }
}
