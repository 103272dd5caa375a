// Database files for tests, built through the engine (see DatabaseFixture.h).
#include "Support/DatabaseFixture.h"

namespace vemtest {

namespace {

FixtureField Crypt(const char* name, LONG size, const char* keyword, LONG enumId) {
  return {name, dao::dbText, size, false, std::string(keyword), enumId};
}

}  // namespace

void CreateFixtureDatabase(const std::string& path, const FixtureOptions& options) {
  dao::DatabasePtr pDb = CreateDatabase(path, options.password);
  if (options.driverVersion) SetLongProperty(*pDb, "vemDriverVersion", *options.driverVersion);
  if (options.withCounters) {
    SetLongProperty(*pDb, "EnumRecordDefMax", kFixtureEnumRecordDefMax);
    SetLongProperty(*pDb, "EnumFieldMax", kFixtureEnumFieldMax);
  }

  AddTable(*pDb, {"tblCustomer",
                  {{"CUS_ID", dao::dbLong, 0, true, {}, 10},
                   {"CUS_Name", dao::dbText, 50, false, {}, 11},
                   Crypt("CUS_Secret", 252, "CRYPT STRING", 12),
                   Crypt("CUS_Active", 40, "CRYPT BOOL", 13),
                   Crypt("CUS_Char", 40, "CRYPT CHAR", 14),
                   Crypt("CUS_UChar", 40, "CRYPT UCHAR", 15),
                   Crypt("CUS_Short", 40, "CRYPT SHORT", 16),
                   Crypt("CUS_UShort", 40, "CRYPT USHORT", 17),
                   Crypt("CUS_Long", 44, "CRYPT LONG", 18),
                   Crypt("CUS_ULong", 44, "CRYPT ULONG", 19),
                   Crypt("CUS_Float", 44, "CRYPT FLOAT", 20),
                   Crypt("CUS_Double", 48, "CRYPT DOUBLE", 21),
                   Crypt("CUS_Birthday", 48, "CRYPT DATETIME", 22),
                   {"CUS_Note", dao::dbMemo, 0, false, {}, {}}},
                  {"CUS_ID"},
                  "DM customers",
                  1});
  AddTable(*pDb, {"tblDocument",
                  {{"DOC_ID", dao::dbLong, 0, true, {}, 30},
                   {"DOC_CUS_ID", dao::dbLong, 0, false, {}, 31},
                   {"DOC_Title", dao::dbText, 100, false, {}, 32},
                   {"DOC_Data", dao::dbLong, 0, false, "BLOB", 33},
                   {"DOC_Pages", dao::dbInteger, 0, false, {}, 34},
                   {"DOC_Flag", dao::dbBoolean, 0, false, {}, 35},
                   {"DOC_Byte", dao::dbByte, 0, false, {}, 36},
                   {"DOC_Price", dao::dbDouble, 0, false, {}, 37},
                   {"DOC_Created", dao::dbDate, 0, false, {}, 38},
                   {"DOC_Amount", dao::dbCurrency, 0, false, {}, 39}},
                  {"DOC_ID"},
                  "DM documents",
                  2});
  AddTable(*pDb, {"tblNote",
                  {{"NOT_Key", dao::dbText, 20, false, {}, {}},
                   {"NOT_Text", dao::dbText, 200, false, {}, {}}},
                  {"NOT_Key"},
                  "DM notes",
                  {}});
  AddTable(*pDb, {"tblScratch", {{"SCR_Value", dao::dbLong, 0, false, {}, {}}}, {}, "scratch", {}});
  AddBlobTables(*pDb);
  AddQuery(*pDb, {"qryCustomerDocs",
                  "SELECT CUS_ID, CUS_Name, DOC_ID, DOC_Title FROM tblCustomer INNER JOIN "
                  "tblDocument ON tblCustomer.CUS_ID = tblDocument.DOC_CUS_ID",
                  "DM customer documents",
                  3,
                  {{"DOC_ID", "ID"}},
                  {}});
  pDb->Close();
}

}  // namespace vemtest
