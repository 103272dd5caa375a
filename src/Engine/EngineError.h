// Engine errors: the DAO error numbers the engine raises and the exception
// that carries one through the engine's inner layers.
//
// Inside the engine every failure is an EngineError (number, description,
// source kind). The DAO object layer catches it at each raw_ method, sets the
// thread's error info and answers 0x800A0000 | number; nothing else escapes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace dao {

// DAO's error numbers (the subset this engine raises).
enum DaoError : int {
  kErrReserved = 3000,
  kErrInvalidArgument = 3001,
  kErrTooManyTransactions = 3003,
  kErrUpdateWithoutEdit = 3020,
  kErrNoCurrentRecord = 3021,
  kErrDuplicateKey = 3022,
  kErrFileNotFound = 3024,
  kErrDiskFull = 3026,
  kErrReadOnly = 3027,
  kErrBadPassword = 3031,
  kErrCommitWithoutBegin = 3034,
  kErrDiskIo = 3043,
  kErrBadPath = 3044,
  kErrFileInUse = 3045,
  kErrTooFewParameters = 3061,
  kErrExecuteSelect = 3065,
  kErrUnknownName = 3070,
  kErrQuerySyntax = 3075,
  kErrFindSyntax = 3077,
  kErrInputNotFound = 3078,
  kErrUndefinedFunction = 3085,
  kErrInvalidName = 3125,
  kErrFieldTooLong = 3163,
  kErrFieldNotUpdatable = 3164,
  kErrWriteConflict = 3197,
  kErrRecordDeleted = 3167,
  kErrTableExists = 3010,
  kErrDatabaseExists = 3204,
  kErrLocked = 3218,
  kErrInvalidOperation = 3219,
  kErrNotSupported = 3251,
  kErrItemNotFound = 3265,
  kErrPropertyNotFound = 3270,
  kErrSyntaxDdl = 3290,
  kErrRequiredNull = 3314,
  kErrZeroLength = 3315,
  kErrUnrecognizedFormat = 3343,
  kErrOpenedExclusively = 3356,
  kErrNameExists = 3367,
  kErrObjectInvalid = 3420,
  kErrConversion = 3421,
  kErrCriteriaTypeMismatch = 3464,
};

// The HRESULT under which a DAO error number travels: 0x800A0000 | n.
constexpr std::int32_t DaoHResult(int number) {
  return static_cast<std::int32_t>(0x800A0000u | static_cast<std::uint32_t>(number & 0xFFFF));
}

class EngineError : public std::runtime_error {
 public:
  // A DAO error: HRESULT 0x800A0000 | number.
  EngineError(int number, const std::string& description)
      : std::runtime_error(description), m_number(number), m_hr(DaoHResult(number)) {}
  // An error with a platform HRESULT (E_POINTER, E_OUTOFMEMORY, ...).
  static EngineError FromHResult(std::int32_t hr, const std::string& description) {
    EngineError e(0, description);
    e.m_hr = hr;
    return e;
  }

  int number() const { return m_number; }  // 0 when the error is a platform HRESULT
  std::int32_t hresult() const { return m_hr; }
  const char* description() const { return what(); }

 private:
  int m_number;
  std::int32_t m_hr;
};

[[noreturn]] inline void Fail(int number, const std::string& description) {
  throw EngineError(number, description);
}

}  // namespace dao
