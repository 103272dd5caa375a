// Database files for tests, benchmarks and the demo, built through the
// engine the way a user prepares a database for the server: tables and
// queries marked with "Description" and numbered with "Enum" properties,
// encrypted text columns, a blob reference column, the blob tables and the
// database properties.
//
// Two levels:
//   - builders (AddTable, AddQuery, SetLongProperty, SetTextProperty), shared
//     with `vem create`, for a test that needs a database of its own shape;
//   - CreateFixtureDatabase, the one realistic database that later tests can
//     rely on. Its content is listed below; the ids are those of the generic
//     model (GADM) built from it.
//
// The fixture database (tables empty; password kFixturePassword by default)
//
// Database properties: "vemDriverVersion" (dbLong, options.driverVersion,
// default 0x01010000; absent when nullopt); with options.withCounters
// (default true) "EnumRecordDefMax" = 20 and "EnumFieldMax" = 50. No
// "vemDatabaseVersion" (the database version reads as 0x01000000).
//
// tblCustomer, Description "DM customers", Enum 1 -> record definition 1
//   field          engine type        Description       Enum -> model: type, length, crypt
//   CUS_ID         Long, AutoNumber   -                 10   LONG, -1; primary key, auto value
//   CUS_Name       Text(50)           -                 11   STRING, 50
//   CUS_Secret     Text(252)          "CRYPT STRING"    12   STRING, 161, crypt
//   CUS_Active     Text(40)           "CRYPT BOOL"      13   BOOL, 40, crypt
//   CUS_Char       Text(40)           "CRYPT CHAR"      14   CHAR, 40, crypt
//   CUS_UChar      Text(40)           "CRYPT UCHAR"     15   UCHAR, 40, crypt
//   CUS_Short      Text(40)           "CRYPT SHORT"     16   SHORT, 40, crypt
//   CUS_UShort     Text(40)           "CRYPT USHORT"    17   USHORT, 40, crypt
//   CUS_Long       Text(44)           "CRYPT LONG"      18   LONG, 44, crypt
//   CUS_ULong      Text(44)           "CRYPT ULONG"     19   ULONG, 44, crypt
//   CUS_Float      Text(44)           "CRYPT FLOAT"     20   FLOAT, 44, crypt
//   CUS_Double     Text(48)           "CRYPT DOUBLE"    21   DOUBLE, 48, crypt
//   CUS_Birthday   Text(48)           "CRYPT DATETIME"  22   DATETIME, 48, crypt
//   CUS_Note       Memo               -                 -    STRING, 64000 (id: field counter,
//                                                            50 with counters, 0 without)
// tblDocument, Description "DM documents", Enum 2 -> record definition 2
//   DOC_ID         Long, AutoNumber   -                 30   LONG, -1; primary key, auto value
//   DOC_CUS_ID     Long               -                 31   LONG, -1
//   DOC_Title      Text(100)          -                 32   STRING, 100
//   DOC_Data       Long               "BLOB"            33   BLOB, -1 (blob id column)
//   DOC_Pages      Integer            -                 34   SHORT, -1
//   DOC_Flag       Boolean            -                 35   BOOL, -1
//   DOC_Byte       Byte               -                 36   UCHAR, -1
//   DOC_Price      Double             -                 37   DOUBLE, -1
//   DOC_Created    Date               -                 38   DATETIME, -1
//   DOC_Amount     Currency           -                 39   STRING, -1 (no model type)
// tblNote, Description "DM notes", no Enum -> record definition 20 (record
//   counter; 0 without counters)
//   NOT_Key        Text(20)           -                 -    STRING, 20; primary key
//                                                            (id 51 with counters, 1 without)
//   NOT_Text       Text(200)          -                 -    STRING, 200 (52 / 2)
// tblScratch, Description "scratch" (not "DM": not part of the model)
//   SCR_Value      Long
// tblBLOB_FILES (no Description): FIL_ID Long AutoNumber primary key,
//   FIL_Filename Text(255), FIL_lTotalSize, FIL_lUsedSpace, FIL_lFreeSpace,
//   FIL_lBlobCount Long
// tblBLOB_BLOCKS (no Description): BLOB_ID Long AutoNumber primary key,
//   BLOB_FIL_ID, BLOB_lStart, BLOB_lTotalSize, BLOB_lDataLength,
//   BLOB_RefCount Long, BLOB_Deleted Boolean
// qryCustomerDocs, Description "DM customer documents", Enum 3 -> record
//   definition 3: SELECT CUS_ID, CUS_Name, DOC_ID, DOC_Title FROM tblCustomer
//   INNER JOIN tblDocument ON tblCustomer.CUS_ID = tblDocument.DOC_CUS_ID;
//   DOC_ID has Description "ID" (the record's id field). All its fields are
//   table fields, so it adds no field definitions: fields 10, 11, 30, 32, id
//   field 30, auto value 30 (the engine reports DOC_ID as an AutoNumber).
//
// Resulting slots. With counters: field slots 0..52 (placeholders at 0..9,
// 23..29, 40..49), record slots 0..20 (filled: 1, 2, 3, 20). Without
// counters: field slots 0..39 (placeholders at 3..9, 23..29), record slots
// 0..3 (tblNote is record 0). One database, id 0; its driver version is
// options.driverVersion (0x01000000 when absent), its database version
// 0x01000000.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DatabaseBuilder.h"
#include "Engine/Dao.h"
#include "Platform/WinTypes.h"

namespace vemtest {

inline constexpr const char* kFixturePassword = "VemFixture1";
inline constexpr LONG kFixtureDriverVersion = 0x01010000;
inline constexpr LONG kFixtureEnumRecordDefMax = 20;
inline constexpr LONG kFixtureEnumFieldMax = 50;

// The builders are those of `vem create` (tools/vem/DatabaseBuilder.h).
using FixtureField = vemtool::FieldSpec;
using FixtureTable = vemtool::TableSpec;
using FixtureQuery = vemtool::QuerySpec;
using vemtool::AddBlobTables;
using vemtool::AddQuery;
using vemtool::AddTable;
using vemtool::CreateDatabase;
using vemtool::SetLongProperty;
using vemtool::SetTextProperty;

struct FixtureOptions {
  std::string password = kFixturePassword;
  std::optional<LONG> driverVersion = kFixtureDriverVersion;  // nullopt: no property
  bool withCounters = true;  // "EnumRecordDefMax" = 20, "EnumFieldMax" = 50
};

// Creates the fixture database described above at path (which must not
// exist) and closes it.
void CreateFixtureDatabase(const std::string& path, const FixtureOptions& options = {});

}  // namespace vemtest
