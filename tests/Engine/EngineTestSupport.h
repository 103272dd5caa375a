// Shared helpers of the engine tests: a temporary directory with an engine,
// database builders and checks for DAO errors.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Engine/Dao.h"
#include "Support/TempDir.h"

namespace enginetest {

// The DAO error number of a raised engine error (0x800A0000 | n).
inline int DaoNumber(const _com_error& e) {
  return (static_cast<unsigned>(e.Error()) & 0xFFFF0000u) == 0x800A0000u ? (e.Error() & 0xFFFF)
                                                                         : -1;
}

inline std::string Description(const _com_error& e) {
  return dao::Utf8(e.Description());
}

// Expects `stmt` to raise DAO error `number` with a description that contains `text`.
#define EXPECT_DAO_ERROR_TEXT(stmt, number, text)                                          \
  do {                                                                                     \
    try {                                                                                  \
      stmt;                                                                                \
      ADD_FAILURE() << #stmt " did not fail (expected DAO error " << (number) << ")";      \
    } catch (const _com_error& e) {                                                        \
      EXPECT_EQ(::enginetest::DaoNumber(e), (number))                                      \
          << #stmt ": " << ::enginetest::Description(e) << " (0x" << std::hex << e.Error() \
          << std::dec << ")";                                                              \
      EXPECT_NE(::enginetest::Description(e).find(text), std::string::npos)                \
          << #stmt ": '" << ::enginetest::Description(e) << "' lacks " << (text);          \
    }                                                                                      \
  } while (0)

// Expects `stmt` to raise DAO error `number`.
#define EXPECT_DAO_ERROR(stmt, number) EXPECT_DAO_ERROR_TEXT(stmt, number, std::string())

class EngineTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return m_dir.File(name); }

  dao::DatabasePtr Create(const std::string& name = "test.vdb", const std::string& connect = "") {
    return m_engine->CreateDatabase(_bstr_t(Path(name).c_str()), _bstr_t(connect.c_str()));
  }
  dao::DatabasePtr Open(const std::string& name = "test.vdb", const std::string& connect = "",
                        bool exclusive = false) {
    return m_engine->OpenDatabase(_bstr_t(Path(name).c_str()), _variant_t(exclusive),
                                  _variant_t(false), _variant_t(connect.c_str()));
  }
  // A database with table Customers (ID counter key, Name, Amount, Joined)
  // and three rows: Ann, Bob, Cid.
  dao::DatabasePtr CreateCustomers(const std::string& name = "test.vdb") {
    dao::DatabasePtr db = Create(name);
    db->Execute(
        "CREATE TABLE Customers (ID COUNTER PRIMARY KEY, Name TEXT(20), Amount CURRENCY, "
        "Joined DATETIME, Active YESNO)");
    db->Execute("INSERT INTO Customers (Name, Amount, Active) VALUES ('Ann', 10.5, True)");
    db->Execute("INSERT INTO Customers (Name, Amount, Active) VALUES ('Bob', 20, False)");
    db->Execute("INSERT INTO Customers (Name, Amount, Active) VALUES ('Cid', 30, True)");
    return db;
  }

  vemtest::TempDir m_dir;
  dao::DBEnginePtr m_engine = dao::CreateDBEngine();
};

inline std::string Text(const _variant_t& v) {
  return v.vt == VT_BSTR ? dao::Utf8(v.bstrVal) : std::string("<vt ") + std::to_string(v.vt) + ">";
}

inline LONG Long(const _variant_t& v) {
  _variant_t c = v;
  c.ChangeType(VT_I4);
  return c.lVal;
}

// The number of rows of `from` (a table, with a WHERE condition if wanted).
inline LONG CountRows(const dao::DatabasePtr& db, const std::string& from) {
  return Long(db->OpenRecordset(("SELECT Count(*) AS n FROM " + from).c_str())->GetCollect("n"));
}

}  // namespace enginetest
