// The blob store's header records (see BlobHeaders.h).
#include "DataBase/AccessDriver/BlobHeaders.h"

#include <algorithm>
#include <cstring>

#include "Utility/Coding.h"

namespace {

// Reads the stored size, then the rest of a header of at most kMax bytes
// into bytes (offsets as in the layout); answers the stored size or 0.
template <std::size_t kMax>
std::size_t ReadHeaderBytes(const BlobByteReader& read, BYTE (&bytes)[kMax]) {
  std::memset(bytes, 0, kMax);
  if (!read(bytes, kFixed16Size)) return 0;
  const auto nSize = static_cast<SHORT>(DecodeFixed16(bytes));
  if (nSize < 4 || static_cast<std::size_t>(nSize) > kMax) return 0;
  if (!read(bytes + kFixed16Size, static_cast<std::size_t>(nSize) - kFixed16Size)) return 0;
  return static_cast<std::size_t>(nSize);
}

// The 32-bit field at offset, when the stored size covers it.
void Field32(const BYTE* bytes, std::size_t size, std::size_t offset, LONG& value) {
  if (size >= offset + kFixed32Size) value = static_cast<LONG>(DecodeFixed32(bytes + offset));
}
void Field32(const BYTE* bytes, std::size_t size, std::size_t offset, ULONG& value) {
  if (size >= offset + kFixed32Size) value = DecodeFixed32(bytes + offset);
}

}  // namespace

void BlobFileHeader::SetDatabaseName(const std::string& name) {
  std::memset(szDatabaseName, 0, sizeof szDatabaseName);
  std::memcpy(szDatabaseName, name.data(), std::min(name.size(), kBlobNameSize - 1));
}

void BlobFileHeader::Encode(BYTE (&bytes)[kBlobFileHeaderSize]) const {
  EncodeFixed16(bytes, static_cast<std::uint16_t>(kBlobFileHeaderSize));
  EncodeFixed16(bytes + 2, static_cast<std::uint16_t>(nVersion));
  std::memcpy(bytes + 4, szDatabaseName, kBlobNameSize);
  bytes[4 + kBlobNameSize - 1] = 0;
  EncodeFixed32(bytes + 264, static_cast<std::uint32_t>(lFileId));
  EncodeFixed32(bytes + 268, static_cast<std::uint32_t>(lTotalSize));
  EncodeFixed32(bytes + 272, static_cast<std::uint32_t>(lUsedSpace));
  EncodeFixed32(bytes + 276, static_cast<std::uint32_t>(lFreeSpace));
  EncodeFixed32(bytes + 280, ulFlags);
  EncodeFixed32(bytes + 284, static_cast<std::uint32_t>(lBlobCount));
}

bool BlobFileHeader::Read(const BlobByteReader& read) {
  lFileId = -1;
  lTotalSize = lUsedSpace = lFreeSpace = lBlobCount = 0;
  ulFlags = 0;
  BYTE bytes[kBlobFileHeaderSize];
  const std::size_t size = ReadHeaderBytes(read, bytes);
  if (size == 0) return false;
  nSize = static_cast<SHORT>(size);
  nVersion = static_cast<SHORT>(DecodeFixed16(bytes + 2));
  if (size > 4) {
    std::memcpy(szDatabaseName, bytes + 4, std::min(size - 4, kBlobNameSize));
    szDatabaseName[kBlobNameSize - 1] = 0;
  }
  Field32(bytes, size, 264, lFileId);
  Field32(bytes, size, 268, lTotalSize);
  Field32(bytes, size, 272, lUsedSpace);
  Field32(bytes, size, 276, lFreeSpace);
  Field32(bytes, size, 280, ulFlags);
  Field32(bytes, size, 284, lBlobCount);
  return true;
}

void BlobBlockHeader::Encode(BYTE (&bytes)[kBlobBlockHeaderSize]) const {
  EncodeFixed16(bytes, static_cast<std::uint16_t>(kBlobBlockHeaderSize));
  EncodeFixed16(bytes + 2, static_cast<std::uint16_t>(nVersion));
  EncodeFixed32(bytes + 4, static_cast<std::uint32_t>(lBlobId));
  EncodeFixed32(bytes + 8, static_cast<std::uint32_t>(lTotalSize));
  EncodeFixed32(bytes + 12, static_cast<std::uint32_t>(lDataLength));
  EncodeFixed32(bytes + 16, ulFlags);
}

bool BlobBlockHeader::Read(const BlobByteReader& read) {
  lBlobId = -1;
  lTotalSize = lDataLength = 0;
  ulFlags = 0;
  BYTE bytes[kBlobBlockHeaderSize];
  const std::size_t size = ReadHeaderBytes(read, bytes);
  if (size == 0) return false;
  nSize = static_cast<SHORT>(size);
  nVersion = static_cast<SHORT>(DecodeFixed16(bytes + 2));
  Field32(bytes, size, 4, lBlobId);
  Field32(bytes, size, 8, lTotalSize);
  Field32(bytes, size, 12, lDataLength);
  Field32(bytes, size, 16, ulFlags);
  return true;
}
