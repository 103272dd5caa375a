// The two header records of the blob store's files and the rule by which
// they are read. Each blob file starts with a BlobFileHeader; each block in
// it starts with a BlobBlockHeader directly followed by the blob's data.
// Integers are little-endian and written field by field (Utility/Coding.h).
//
// BlobFileHeader (288 bytes, offset 0 of a blob file):
//   OFFSET SIZE FIELD
//      0     2  header size (288); a reader reads this first, then the rest
//      2     2  version; readers refuse a version above 1
//      4   260  database file name, NUL-terminated
//    264     4  file id (FIL_ID), -1 in a temporary file
//    268     4  total size  (FIL_lTotalSize)
//    272     4  used space  (FIL_lUsedSpace)
//    276     4  free space  (FIL_lFreeSpace)
//    280     4  flags: 1 holds deleted blocks, 2 write under way,
//               4 compaction copy being written
//    284     4  blob count  (FIL_lBlobCount)
//
// BlobBlockHeader (20 bytes, at BLOB_lStart):
//      0     2  header size (20)
//      2     2  version
//      4     4  blob id (BLOB_ID), -1 in a temporary file
//      8     4  total size = 20 + data length
//     12     4  data length
//     16     4  flags: 0 live, 1 deleted, 2 being written
//
// A temporary file is a blob file with one block: both headers made by
// default, the data from offset 308.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "Platform/WinTypes.h"

inline constexpr std::size_t kBlobFileHeaderSize = 288;
inline constexpr std::size_t kBlobBlockHeaderSize = 20;
inline constexpr std::size_t kBlobNameSize = 260;
inline constexpr SHORT kBlobHeaderVersion = 1;

inline constexpr ULONG kBlobFileHasDeleted = 1;
inline constexpr ULONG kBlobFileWritePending = 2;
inline constexpr ULONG kBlobFileCompacting = 4;
inline constexpr ULONG kBlobBlockLive = 0;
inline constexpr ULONG kBlobBlockDeleted = 1;
inline constexpr ULONG kBlobBlockBeingWritten = 2;

// Reads exactly n bytes into the buffer; false on a short read or failure.
using BlobByteReader = std::function<bool(BYTE* pBuffer, std::size_t n)>;

struct BlobFileHeader {
  SHORT nSize = static_cast<SHORT>(kBlobFileHeaderSize);
  SHORT nVersion = kBlobHeaderVersion;
  char szDatabaseName[kBlobNameSize] = {};
  LONG lFileId = -1;
  LONG lTotalSize = 0;
  LONG lUsedSpace = 0;
  LONG lFreeSpace = 0;
  ULONG ulFlags = 0;
  LONG lBlobCount = 0;

  // Copies name (cut to 259 characters) into szDatabaseName.
  void SetDatabaseName(const std::string& name);
  // The record's bytes, full size, version as held.
  void Encode(BYTE (&bytes)[kBlobFileHeaderSize]) const;
  // Reads the header by the reading rule: fields from the id on are reset
  // to their defaults, 2 bytes give the stored size, then size - 2 bytes
  // fill the record from offset 2; fields the size does not cover keep
  // their defaults. False on a short read and on a stored size that cannot
  // hold the version (below 4) or exceeds the layout (above 288): such a
  // header is unreadable. The version is left to the caller to check.
  bool Read(const BlobByteReader& read);
};

struct BlobBlockHeader {
  SHORT nSize = static_cast<SHORT>(kBlobBlockHeaderSize);
  SHORT nVersion = kBlobHeaderVersion;
  LONG lBlobId = -1;
  LONG lTotalSize = 0;
  LONG lDataLength = 0;
  ULONG ulFlags = 0;

  void Encode(BYTE (&bytes)[kBlobBlockHeaderSize]) const;
  bool Read(const BlobByteReader& read);  // as BlobFileHeader::Read (sizes 4 to 20)
};
