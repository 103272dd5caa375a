// IRecord: the driver's view of a client record, as far as the driver needs
// it: which record definition it belongs to and the values of its id fields.
// The COM layer builds one over the client's IComRecord for the duration of a
// single driver call; the driver never keeps an IRecord after the call.
#pragma once

#include <string>

#include "Platform/WinTypes.h"

// The value of an id field. Id fields are either long or text; the kind is
// the field type code of the value (STRING 1, LONG 7), 0 when the record gave
// no usable value.
struct IdValue {
  static constexpr LONG kNone = 0;
  static constexpr LONG kText = 1;  // FieldType::STRING
  static constexpr LONG kLong = 7;  // FieldType::LONG

  LONG m_lKind = kNone;
  LONG m_lValue = 0;   // the value when m_lKind is kLong
  std::string m_text;  // the value (Windows-1252) when m_lKind is kText
};

class IRecord {
 public:
  virtual ~IRecord() = default;

  // The id of the record definition that the record belongs to.
  virtual LONG GetRecordDefId() = 0;
  // Fills value with the value of the id field with field definition id lID;
  // leaves it unchanged when the record has no value of a usable type.
  virtual void GetIdFieldValue(LONG lID, IdValue& value) = 0;
  // Stores value into the record's id field with field definition id lID
  // (the number the database assigned to an auto-value field).
  virtual void SetIdFieldValue(LONG lID, const IdValue& value) = 0;
};
