// IBlobStrategy: one blob value of the blob store. A loader binds it to the
// blob id held in a record's BLOB column (Load); the client reads the blob
// through a stream or a raw handle, writes new content into a temporary file
// the same ways, or changes its reference count (Erase, new_, delete_); a
// saver asks it to carry out its pending operation and stores the blob id it
// answers (Save). Implemented over the engine by DaoBlobStrategy. Used by
// one thread at a time; the caller owns what Clone answers.
#pragma once

#include <istream>
#include <memory>
#include <ostream>

#include "Platform/WinTypes.h"

class IBlobStrategy {
 public:
  virtual ~IBlobStrategy() = default;

  // A new strategy bound to the same blob and the same pending write.
  virtual std::unique_ptr<IBlobStrategy> Clone() = 0;
  // True when the strategy refers to a blob.
  virtual bool IsPresent() = 0;
  // The blob's data length, -1 without a blob.
  virtual LONG GetLength() = 0;
  // A raw handle at the first data byte; the data length goes to *plLength.
  // Null on failure (reported to the back channel, *plLength untouched).
  virtual HANDLE OpenReadHandle(LONG* plLength) = 0;
  virtual void CloseReadHandle() = 0;
  // A raw handle at the first data byte of a fresh temporary file; null on
  // failure. Close it with CloseWriteHandle before the record is saved.
  virtual HANDLE OpenWriteHandle() = 0;
  virtual void CloseWriteHandle() = 0;
  // The input stream at the first data byte, ending at the blob's last
  // byte; in a failed state when the blob cannot be opened.
  virtual std::istream& OpenRead() = 0;
  virtual void CloseRead() = 0;
  // The output stream at the first data byte of a fresh temporary file; in
  // a failed state when it cannot be made.
  virtual std::ostream& OpenWrite() = 0;
  virtual void CloseWrite() = 0;
  // The blob is given up by the record at the next Save.
  virtual void Erase() = 0;
  // One more reference is taken at the next Save.
  virtual void new_() = 0;
  // One reference is given up now.
  virtual void delete_() = 0;

  // Binds the strategy to the blob lBlobId; -1 means the record has no blob.
  virtual void Load(LONG lBlobId) = 0;
  // Carries out the pending operation (store a new blob, keep or drop the
  // bound one) and answers the blob id the record is to hold, -1 for none.
  virtual LONG Save() = 0;

 protected:
  IBlobStrategy() = default;
  IBlobStrategy(const IBlobStrategy&) = default;
  IBlobStrategy& operator=(const IBlobStrategy&) = default;
};
