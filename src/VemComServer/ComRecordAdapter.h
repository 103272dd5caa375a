// ComRecordAdapter: a client's IComRecord presented to the driver as an
// IRecord, for the duration of one driver call (built on the stack; the
// driver never keeps it). Holds one reference to the client's record.
#pragma once

#include "DataBase/AccessDriver/IRecord.h"
#include "vem/ComRecords.h"

namespace vemserver {

class ComRecordAdapter final : public IRecord {
 public:
  // pRecord must not be null (the COM methods check it first).
  explicit ComRecordAdapter(IComRecord* pRecord) noexcept;
  ~ComRecordAdapter() override;

  ComRecordAdapter(const ComRecordAdapter&) = delete;
  ComRecordAdapter& operator=(const ComRecordAdapter&) = delete;

  // The id the client's GetRecordDefId wrote; vem_error with the client's
  // HRESULT when its call fails.
  LONG GetRecordDefId() override;
  // VT_I4 gives a long id value, VT_BSTR a text (Windows-1252); any other
  // answer, or a failed call, leaves value unchanged.
  void GetIdFieldValue(LONG lID, IdValue& value) override;
  // Hands a long as VT_I4 and a text as VT_BSTR (VT_ERROR E_OUTOFMEMORY when
  // the BSTR cannot be made), anything else as VT_EMPTY; the client's
  // HRESULT is not looked at.
  void SetIdFieldValue(LONG lID, const IdValue& value) override;

 private:
  IComRecord* m_pRecord;
};

}  // namespace vemserver
