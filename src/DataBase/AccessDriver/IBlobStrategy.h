// IBlobStrategy: a blob of the blob store as the loaders and savers see it.
// A loader binds it to the blob id held in a record's BLOB column (Load); a
// saver asks it to carry out its pending operation and stores the blob id it
// answers (Save). Implemented over the engine by DaoBlobStrategy; the COM
// layer owns it.
#pragma once

#include "Platform/WinTypes.h"

class IBlobStrategy {
 public:
  virtual ~IBlobStrategy() = default;

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
