// The structure hash: its byte layout (expected digests were computed
// outside this code from the byte strings written out below: every name,
// type, length, flag and version that enters it is pinned there), the empty
// model, the driver version read when the hash is computed, and models with
// gaps in their record ids.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DataModel.h"
#include "DataBase/AccessDriver/GADM.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "Utility/Md5.h"

namespace {

// A model whose definitions the test stores directly.
class HashModel : public DataModel {
 public:
  HashModel() : DataModel(nullptr) {}

  void AddFieldDef(LONG lID, const std::string& name, LONG lType, LONG lLength, bool bCrypt) {
    StoreFieldDef(std::make_shared<const SFieldDef>(lID, name, lType, lLength, bCrypt));
  }
  SRecordDef& AddRecordDef(LONG lID, const std::string& name, LONG lDatabaseID) {
    return StoreRecordDef(std::make_unique<SRecordDef>(lID, name, lDatabaseID));
  }
  void AddField(LONG lRecordID, LONG lFieldID, bool bIdField, bool bAutoValue) {
    GetRecordDef(lRecordID).AddField(GetSharedFieldDef(lFieldID), bIdField, bAutoValue);
  }
  void AddCommandDef(LONG lID, const std::string& name, LONG lDatabaseID) {
    StoreCommandDef(std::make_unique<SCommandDef>(lID, name, lDatabaseID));
  }
  void AddDatabase(const std::string& path, const std::string& password) {
    StoreDatabase(std::make_unique<DaoDatabase>(0, path, false, false, ";PWD=" + password, this));
  }

 protected:
  void DefDatabases() override {}
  void DefFieldDefs() override {}
  void DefRecordDefs() override {}
  void DefCommandDefs() override {}
};

std::string Hex(const std::array<BYTE, kMd5DigestSize>& digest) {
  return Md5DigestToHex(digest);
}

class StructureHashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vemtest::CreateFixtureDatabase(Fixture());  // driver version 0x01010000, no database version
  }
  std::string Fixture() const { return m_dir.File("fixture.vdb"); }

  std::unique_ptr<HashModel> Tiny() {
    auto pModel = std::make_unique<HashModel>();
    pModel->AddFieldDef(0, "id", 7, -1, false);
    pModel->AddFieldDef(1, "pw", 1, 10, true);
    pModel->AddRecordDef(0, "tbl", 0);
    pModel->AddField(0, 0, true, true);
    pModel->AddField(0, 1, false, false);
    pModel->AddCommandDef(0, "cmd", 0);
    pModel->AddDatabase(Fixture(), vemtest::kFixturePassword);
    return pModel;
  }

  vemtest::TempDir m_dir;
};

TEST_F(StructureHashTest, EmptyModelHashesTheEmptyInput) {
  HashModel model;
  EXPECT_EQ(Hex(model.StructureHash()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(StructureHashTest, TinyModelHashesItsByteLayout) {
  // field 0: id 0, "id", LONG 7, length -1, not encrypted
  // field 1: id 1, "pw", STRING 1, length 10, encrypted
  // record 0: "tbl" in database 0, auto value field 0, fields 0 and 1, id field 0
  // command 0: "cmd" in database 0
  // database 0: driver version 0x01010000, database version 0x01000000, id 0
  const std::string fieldId = std::string("\x00\x00\x00\x00", 4) + "id" +
                              std::string("\x07\x00\x00\x00\xff\xff\xff\xff\x00", 9);
  const std::string fieldPw = std::string("\x01\x00\x00\x00", 4) + "pw" +
                              std::string("\x01\x00\x00\x00\x0a\x00\x00\x00\x01", 9);
  const std::string layout = fieldId + fieldPw +                      //
                             std::string(8, '\0') + "tbl" +           // record 0
                             fieldId + fieldId + fieldPw + fieldId +  // auto, fields, ids
                             std::string(8, '\0') + "cmd" +           // command 0
                             std::string("\x00\x00\x01\x01\x00\x00\x00\x01", 8) +  // versions
                             std::string(4, '\0');                                 // database id
  ASSERT_EQ(layout.size(), 124u);
  // Digest of the layout above, computed independently (Python hashlib).
  const char* expected = "f4b884ffa3ad6959f512450603b40680";
  ASSERT_EQ(Md5DigestToHex(Md5Digest(layout)), expected);
  // Computed anew on each call, from the same definitions: the same value.
  auto pModel = Tiny();
  EXPECT_EQ(Hex(pModel->StructureHash()), expected);
  EXPECT_EQ(Hex(pModel->StructureHash()), expected);
}

TEST_F(StructureHashTest, DriverVersionEntersAndReopeningKeepsTheHash) {
  GADM first(nullptr, Fixture(), vemtest::kFixturePassword);
  const std::string reference = Hex(first.StructureHash());
  {
    GADM again(nullptr, Fixture(), vemtest::kFixturePassword);
    EXPECT_EQ(Hex(again.StructureHash()), reference);
  }
  // The same definitions in a database of another driver version.
  vemtest::FixtureOptions options;
  options.driverVersion = std::nullopt;  // reads as 0x01000000
  vemtest::CreateFixtureDatabase(m_dir.File("old.vdb"), options);
  GADM old(nullptr, m_dir.File("old.vdb"), vemtest::kFixturePassword);
  EXPECT_NE(Hex(old.StructureHash()), reference);
  // Upgrading the version of the first model's database changes its hash.
  first.GetDatabase(0).SetDriverVersion(0x01020000);
  EXPECT_NE(Hex(first.StructureHash()), reference);
}

TEST_F(StructureHashTest, RecordIdGapsAreSkipped) {
  // Record ids 0 and 2 from "Enum": slot 1 of the record table stays empty.
  const std::string path = m_dir.File("gaps.vdb");
  dao::DatabasePtr pDb = vemtest::CreateDatabase(path, "pw");
  vemtest::SetLongProperty(*pDb, "vemDriverVersion", 0x01010000);
  vemtest::AddTable(*pDb, {"T0", {{"a", dao::dbLong, 0, false, {}, 0}}, {}, "DM", 0});
  vemtest::AddTable(*pDb, {"T2", {{"b", dao::dbLong, 0, false, {}, 1}}, {}, "DM", 2});
  pDb->Close();
  GADM model(nullptr, path, "pw");
  ASSERT_EQ(model.RecordDefSlots(), 3u);
  // field a: 00000000 "a" 07000000 ffffffff 00; field b: 01000000 "b" ...;
  // record 0: 00000000 00000000 "T0" field a; record 2: 02000000 00000000
  // "T2" field b; database: 00000101 00000001 00000000.
  const std::string fieldA = std::string("\x00\x00\x00\x00", 4) + "a" +
                             std::string("\x07\x00\x00\x00\xff\xff\xff\xff\x00", 9);
  const std::string fieldB = std::string("\x01\x00\x00\x00", 4) + "b" +
                             std::string("\x07\x00\x00\x00\xff\xff\xff\xff\x00", 9);
  const std::string layout = fieldA + fieldB + std::string(8, '\0') + "T0" + fieldA +
                             std::string("\x02\x00\x00\x00\x00\x00\x00\x00", 8) + "T2" + fieldB +
                             std::string("\x00\x00\x01\x01\x00\x00\x00\x01", 8) +
                             std::string(4, '\0');
  const char* expected = "2e9d9c41c66b35d52f23b3e4f3583bf9";  // Python hashlib of layout
  ASSERT_EQ(Md5DigestToHex(Md5Digest(layout)), expected);
  EXPECT_EQ(Hex(model.StructureHash()), expected);
}

}  // namespace
