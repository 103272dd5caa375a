// DaoBlobStrategy: the blob store's handle on one blob value (IBlobStrategy
// over the engine and the blob files). Reading side (DAO_BLOB.cpp): Load,
// the input stream limited to the blob's data, the raw read handle, Reset,
// Clone and the reference counts. Writing side (DaoBlobWrite.cpp): the
// temporary file written through a stream or a raw handle, and Save, which
// moves it into a blob file under the database's named mutex.
//
// Files: the blob file path is GetBlobFilePath of the row's FIL_Filename,
// which must read "blob" + at least eight digits + ".bin" (anything else is
// refused, so that no table content can lead outside the blob directory).
// Durability: a store makes the blob file's bytes (and, after a rename, the
// directory entry) durable before the tables refer to them; the two table
// rows change in one transaction.
//
// Every failure is told to the model's back channel (trace, and an Error
// report with the code and text) before it is raised or answered as a
// failed stream or null handle. One thread at a time.
#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "DataBase/AccessDriver/BlobStreams.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "Engine/Dao.h"
#include "Platform/WinTypes.h"

class DataModel;
class DaoDatabase;
class vem_error;
struct BlobBlockHeader;
struct SRecordDef;

class DaoBlobStrategy : public IBlobStrategy {
 public:
  enum class PendingOperation { None = 0, Write = 1, AddReference = 2, Erase = 3 };

  // Blobs up to this size are packed into existing files ...
  static constexpr ULONG kMaxPackedBlob = 0x20000;
  // ... while the file stays within this size.
  static constexpr ULONG kMaxPackedFile = 0xA00000;

  DaoBlobStrategy(DataModel* pModel, const SRecordDef& recordDef, DaoDatabase& database);
  // Reset: a pending temporary file is deleted. Open raw handles stay open.
  ~DaoBlobStrategy() override;
  DaoBlobStrategy(const DaoBlobStrategy&) = delete;
  DaoBlobStrategy& operator=(const DaoBlobStrategy&) = delete;

  std::unique_ptr<IBlobStrategy> Clone() override;
  bool IsPresent() override { return m_lBlobId != -1; }
  LONG GetLength() override { return m_lDataLength; }
  HANDLE OpenReadHandle(LONG* plLength) override;
  void CloseReadHandle() override;
  HANDLE OpenWriteHandle() override;
  void CloseWriteHandle() override;
  std::istream& OpenRead() override;
  void CloseRead() override;
  std::ostream& OpenWrite() override;
  void CloseWrite() override;
  void Erase() override;
  void new_() override;
  // Gives up one reference now, under the database's named mutex.
  void delete_() override;

  // Raises vem_error kVemErrBlobNoRow (the strategy then refers to no blob)
  // when lBlobId has no row, or a refused file name.
  void Load(LONG lBlobId) override;
  // Under the database's named mutex. Raises vem_error (reported first); a
  // write whose length is unknown (CloseWrite could not read the position)
  // or whose write handle is still open fails, and nothing is stored.
  LONG Save() override;

  PendingOperation GetPendingOperation() const { return m_pending; }
  const std::string& GetBlobFilePath() const { return m_blobFilePath; }
  const std::string& GetTempPath() const { return m_tempPath; }

  // The path of the blob file named fileName, row naming the row for the
  // error; raises vem_error kVemErrBlobNoRow unless fileName is
  // "blob" + eight or more digits + ".bin".
  std::string BlobFilePathOf(const std::string& fileName, const std::string& row);

 private:
  // Reading and reference counting (DAO_BLOB.cpp).
  void Reset();
  void AddReference();
  // Gives up one reference to the bound blob; the blob id becomes -1.
  void RemoveReference();
  // Gives up one reference to the blob lBlobId (its file path, block start).
  void Release(LONG lBlobId, const std::string& path, LONG lBlockStart);
  // The row of blob lBlobId joined with its file's row (inside CallEngine);
  // a blob id without a row is traced and raised as kVemErrBlobNoRow.
  dao::RecordsetPtr OpenBlobRow(LONG lBlobId);
  // Adds lDelta (+1 or -1) to a blob's reference count in the tables, moving
  // the file's accounting when the block comes to life or dies; answers the
  // new count.
  LONG ChangeReferenceCount(LONG lBlobId, LONG lDelta);
  // Marks the block at lBlockStart of the blob file path deleted in the
  // file's headers, or (bLive) live again after a revival.
  void MarkBlockInFile(const std::string& path, LONG lBlockStart, bool bLive);
  // Writing (DaoBlobWrite.cpp).
  void SaveLocked();
  void Store(bool bForceNewFile);
  // Appends the temporary file's block to the blob file path, whose table
  // row (FIL_ID lFileId) says it is lTotalSize bytes long; the block gets
  // blob id lBlobId. Durable on return.
  void AppendToBlobFile(const std::string& path, LONG lFileId, LONG lTotalSize, LONG lBlobId);
  // Renames the temporary file to the blob file path of file lFileId and
  // writes its headers; durable (directory entry included) on return.
  void CreateBlobFile(const std::string& path, LONG lFileId, LONG lBlobId);
  void DeleteTempFile();

  // Raises vem_error kVemErrBlobHeader (traced) unless the block header read
  // at the loaded start is the loaded blob's (id and data length).
  void CheckBlockIsOurs(const BlobBlockHeader& header, const std::string& path);

  // Back channel helpers.
  void Trace(LONG lLevel, LONG lLine, const std::string& text);
  void ReportLastError();
  void Report(const vem_error& e);

  DataModel* m_pModel;             // not owned; its back channel hears every failure
  const SRecordDef* m_pRecordDef;  // not owned
  LONG m_lBlobId = -1;
  std::string m_blobFilePath;
  LONG m_lBlockStart = -1;
  LONG m_lDataLength = -1;
  blob_ifstream m_inStream;
  HANDLE m_hRead = nullptr;
  std::string m_tempPath;
  LONG m_lTempDataStart = -1;
  LONG m_lTempDataLength = -1;
  std::ofstream m_outStream;
  HANDLE m_hWrite = nullptr;
  PendingOperation m_pending = PendingOperation::None;
  bool m_bTempLengthUnknown = false;  // CloseWrite could not read the put position
  DaoDatabase* m_pDatabase;           // not owned
};
