// A client record for driver tests (see TestRecord.h).
#include "Support/TestRecord.h"

namespace vemtest {

TestRecord& TestRecord::Text(LONG lFieldID, const std::string& text) {
  IdValue& value = m_values[lFieldID];
  value.m_lKind = IdValue::kText;
  value.m_lValue = 0;
  value.m_text = text;
  return *this;
}

TestRecord& TestRecord::Long(LONG lFieldID, LONG lValue) {
  IdValue& value = m_values[lFieldID];
  value.m_lKind = IdValue::kLong;
  value.m_lValue = lValue;
  value.m_text.clear();
  return *this;
}

IdValue TestRecord::Value(LONG lFieldID) const {
  auto it = m_values.find(lFieldID);
  return it != m_values.end() ? it->second : IdValue();
}

void TestRecord::GetIdFieldValue(LONG lID, IdValue& value) {
  auto it = m_values.find(lID);
  if (it != m_values.end()) value = it->second;
}

void TestRecord::SetIdFieldValue(LONG lID, const IdValue& value) {
  ++m_setCalls;
  m_values[lID] = value;
}

}  // namespace vemtest
