// A client record for driver tests: an IRecord with a record definition id
// and id field values (text or long) kept in a map by field definition id.
// SetIdFieldValue stores what the driver hands back (an auto value).
#pragma once

#include <map>
#include <string>

#include "DataBase/AccessDriver/IRecord.h"

namespace vemtest {

class TestRecord : public IRecord {
 public:
  explicit TestRecord(LONG lRecordDefId) : m_lRecordDefId(lRecordDefId) {}

  TestRecord& Text(LONG lFieldID, const std::string& text);
  TestRecord& Long(LONG lFieldID, LONG lValue);
  // The value the record holds for lFieldID (kind 0 when none).
  IdValue Value(LONG lFieldID) const;
  int SetCalls() const { return m_setCalls; }

  LONG GetRecordDefId() override { return m_lRecordDefId; }
  void GetIdFieldValue(LONG lID, IdValue& value) override;
  void SetIdFieldValue(LONG lID, const IdValue& value) override;

 private:
  LONG m_lRecordDefId;
  std::map<LONG, IdValue> m_values;
  int m_setCalls = 0;
};

}  // namespace vemtest
