// The generic access data model on real database files: the walk over
// tables and queries, keyword matching, ids from "Enum" and the counters,
// the type mapping and the crypt length rule, placeholders, record and id
// fields, and failures (and that they leave nothing behind).
#include "DataBase/AccessDriver/GADM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "DataBase/AccessDriver/DaoDatabase.h"
#include "DataBase/AccessDriver/DaoException.h"
#include "Platform/ComBase.h"
#include "Support/DatabaseFixture.h"
#include "Support/RecordingBackChannel.h"
#include "Support/TempDir.h"

namespace {

using vemtest::FixtureField;
using vemtest::FixtureQuery;
using vemtest::FixtureTable;

constexpr LONG kStringType = 1, kBoolType = 2, kCharType = 3, kUCharType = 4, kShortType = 5,
               kUShortType = 6, kLongType = 7, kULongType = 8, kFloatType = 9, kDoubleType = 10,
               kDateTimeType = 11, kBlobType = 12;

// A field definition as (id, name, type, length, crypt).
using FieldRow = std::tuple<LONG, std::string, LONG, LONG, bool>;

struct RecordRow {
  LONG lID;
  LONG lDatabaseID;
  std::string name;
  std::vector<LONG> fields;
  std::vector<LONG> idFields;
  LONG lAutoValue;  // -1: none
  bool operator==(const RecordRow&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RecordRow& r) {
  os << "{" << r.lID << ", db " << r.lDatabaseID << ", " << r.name << ", fields";
  for (LONG l : r.fields) os << " " << l;
  os << ", id fields";
  for (LONG l : r.idFields) os << " " << l;
  return os << ", auto " << r.lAutoValue << "}";
}

std::vector<FieldRow> FieldRows(const DataModel& model) {
  std::vector<FieldRow> rows;
  model.ForEachFieldDef([&](const SFieldDef& f) {
    rows.emplace_back(f.m_lID, f.m_name, f.m_lType, f.m_lLength, f.m_bCrypt);
  });
  return rows;
}

std::vector<RecordRow> RecordRows(const DataModel& model) {
  std::vector<RecordRow> rows;
  model.ForEachRecordDef([&](const SRecordDef& r) {
    RecordRow row{r.m_lID, r.m_lDatabaseID, r.m_name, {}, {}, -1};
    for (const auto& f : r.m_fields) row.fields.push_back(f->m_lID);
    for (const auto& f : r.m_idFields) row.idFields.push_back(f->m_lID);
    if (r.m_pAutoValueField) row.lAutoValue = r.m_pAutoValueField->m_lID;
    EXPECT_EQ(r.m_pModel, &model);
    rows.push_back(std::move(row));
  });
  return rows;
}

FixtureField Long(const char* name, std::optional<LONG> enumId = {}) {
  return {name, dao::dbLong, 0, false, {}, enumId};
}
FixtureField Text(const char* name, LONG size, std::optional<std::string> description = {},
                  std::optional<LONG> enumId = {}) {
  return {name, dao::dbText, size, false, std::move(description), enumId};
}

class GadmTest : public ::testing::Test {
 protected:
  std::string Path() const { return m_dir.File("model.vdb"); }

  // A new database at Path() with the given tables and queries.
  void Build(const std::vector<FixtureTable>& tables, const std::vector<FixtureQuery>& queries = {},
             const std::string& password = "pw") {
    dao::DatabasePtr pDb = vemtest::CreateDatabase(Path(), password);
    for (const FixtureTable& table : tables) vemtest::AddTable(*pDb, table);
    for (const FixtureQuery& query : queries) vemtest::AddQuery(*pDb, query);
    pDb->Close();
  }

  std::unique_ptr<GADM> Model(const std::string& password = "pw") {
    return std::make_unique<GADM>(&m_backChannel, Path(), password);
  }

  // The vem_error of a failing construction.
  vem_error Failure(const std::string& password = "pw") {
    try {
      Model(password);
    } catch (const vem_error& e) {
      return e;
    }
    ADD_FAILURE() << "the model was built";
    return vem_error("no failure", 0);
  }

  vemtest::TempDir m_dir;
  vemtest::RecordingBackChannel m_backChannel{4};
};

TEST_F(GadmTest, TwoTablesYieldSharedFieldDefinitionsAndRecords) {
  Build({{"A", {{"id", dao::dbLong, 0, true, {}, {}}, Text("name", 50)}, {"id"}, "DM1", {}},
         {"B", {Long("id"), Text("code", 44, "CRYPT LONG")}, {}, "DM", {}}});
  auto pModel = Model();
  EXPECT_EQ(FieldRows(*pModel), (std::vector<FieldRow>{{0, "id", kLongType, -1, false},
                                                       {1, "name", kStringType, 50, false},
                                                       {2, "id", kLongType, -1, false},
                                                       {3, "code", kLongType, 44, true}}));
  EXPECT_EQ(RecordRows(*pModel),
            (std::vector<RecordRow>{{0, 0, "A", {0, 1}, {0}, 0}, {1, 0, "B", {0, 3}, {}, -1}}));
  ASSERT_EQ(pModel->DatabaseSlots(), 1u);
  EXPECT_TRUE(pModel->GetDatabase(0).IsOpen());
  // The record definitions share the model's field definition objects.
  EXPECT_EQ(pModel->GetRecordDef(1).m_fields[0].get(), &pModel->GetFieldDef(0));
  // The three notes of the pre-definition step, from the GADM source file.
  std::vector<std::string> traces = m_backChannel.TraceTexts();
  const char* notes[] = {"GADM parse database",
                         "success GADM m_pEngine.CreateInstance(__uuidof(DAO::DBEngine))",
                         "success OpenDatabase"};
  ASSERT_GE(traces.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(traces[i].rfind("VEM GADM(", 0), 0u) << traces[i];
    EXPECT_TRUE(traces[i].ends_with(std::string("): ") + notes[i])) << traces[i];
  }
}

// The engine types map to field types; Long, Text and Memo columns take
// theirs from the "Description", matched by its exact, case-sensitive
// prefix: "BLOB" (a Long), "CRYPT <type>" (a Text at least the type's
// minimum size, its length the column size) and "CRYPT STRING" (its length
// follows the Base64 framing of the column size, a memo's 64000). Tables
// take part when their Description starts with "DM" ("DMX" does, "dm" and
// "D M" do not). Properties of another type ("Enum" as a text or an
// Integer, a numeric "Description", a text "EnumFieldMax") count as absent.
TEST_F(GadmTest, FieldTypesFollowTheEngineTypesAndTheDescriptions) {
  struct Crypt {
    const char* keyword;
    LONG lType, lMinimum;
  };
  const Crypt crypts[] = {{"CRYPT BOOL", kBoolType, 40},     {"CRYPT CHAR", kCharType, 40},
                          {"CRYPT UCHAR", kUCharType, 40},   {"CRYPT SHORT", kShortType, 40},
                          {"CRYPT USHORT", kUShortType, 40}, {"CRYPT LONG", kLongType, 44},
                          {"CRYPT ULONG", kULongType, 44},   {"CRYPT FLOAT", kFloatType, 44},
                          {"CRYPT DOUBLE", kDoubleType, 48}, {"CRYPT DATETIME", kDateTimeType, 48}};
  // Each column with the field definition it makes.
  const struct {
    const char* name;
    short type;
    LONG size;
    const char* description;  // null: none
    LONG lType, lLength;
    bool bCrypt;
  } columns[] = {{"fBool", dao::dbBoolean, 0, nullptr, kBoolType, -1, false},
                 {"fByte", dao::dbByte, 0, nullptr, kUCharType, -1, false},
                 {"fInt", dao::dbInteger, 0, nullptr, kShortType, -1, false},
                 {"fBlob", dao::dbLong, 0, "BLOB data", kBlobType, -1, false},
                 {"fBlobLower", dao::dbLong, 0, "blob", kLongType, -1, false},
                 {"fCur", dao::dbCurrency, 0, nullptr, kStringType, -1, false},
                 {"fSingle", dao::dbSingle, 0, nullptr, kStringType, -1, false},
                 {"fDouble", dao::dbDouble, 0, nullptr, kDoubleType, -1, false},
                 {"fDate", dao::dbDate, 0, nullptr, kDateTimeType, -1, false},
                 {"fBinary", dao::dbLongBinary, 0, nullptr, kStringType, -1, false},
                 {"fText", dao::dbText, 12, "BLOB", kStringType, 12, false},
                 {"s252", dao::dbText, 252, "CRYPT STRING", kStringType, 161, true},
                 {"s255", dao::dbText, 255, "CRYPT STRING", kStringType, -28, true},
                 {"memo", dao::dbMemo, 0, "CRYPT STRING", kStringType, 47972, true},
                 {"plainMemo", dao::dbMemo, 0, nullptr, kStringType, 64000, false},
                 {"longer", dao::dbText, 44, "CRYPT LONGER TEXT", kLongType, 44, true},
                 {"lower", dao::dbText, 44, "crypt long", kStringType, 44, false},
                 {"a", dao::dbLong, 0, nullptr, kLongType, -1, false},
                 {"b", dao::dbLong, 0, nullptr, kLongType, -1, false},
                 {"c", dao::dbLong, 0, nullptr, kLongType, -1, false}};
  std::vector<FixtureField> fields;
  std::vector<FieldRow> expected;
  for (const auto& c : columns) {
    std::optional<std::string> description;
    if (c.description != nullptr) description = c.description;
    fields.push_back({c.name, c.type, c.size, false, description, {}});
    expected.emplace_back(static_cast<LONG>(expected.size()), c.name, c.lType, c.lLength, c.bCrypt);
  }
  for (const Crypt& c : crypts) {
    fields.push_back(Text(c.keyword + 6, c.lMinimum, c.keyword));
    expected.emplace_back(static_cast<LONG>(expected.size()), c.keyword + 6, c.lType, c.lMinimum,
                          true);
  }
  dao::DatabasePtr pDb = vemtest::CreateDatabase(Path(), "pw");
  vemtest::AddTable(*pDb, {"T", fields, {}, "DMX", {}});
  vemtest::AddTable(*pDb, {"T2", {Long("skipped1")}, {}, "dm", {}});
  vemtest::AddTable(*pDb, {"T3", {Long("skipped2")}, {}, "D M", {}});
  dao::FieldsPtr pFields = pDb->GetTableDefs()->GetItem(_variant_t("T"))->GetFields();
  auto mark = [&](const char* field, const char* property, short type, const _variant_t& value) {
    dao::FieldPtr pField = pFields->GetItem(_variant_t(field));
    pField->GetProperties()->Append(
        pField->CreateProperty(property, _variant_t(static_cast<LONG>(type)), value));
  };
  mark("a", "Enum", dao::dbText, _variant_t("7"));
  mark("b", "Description", dao::dbLong, _variant_t(static_cast<LONG>(5)));
  mark("c", "Enum", dao::dbInteger, _variant_t(static_cast<SHORT>(8)));
  vemtest::SetTextProperty(*pDb, "EnumFieldMax", "3");
  pDb->Close();
  EXPECT_EQ(FieldRows(*Model()), expected);
  // One below the minimum: the construction fails naming the field, code 0.
  for (const Crypt& c : crypts) {
    std::filesystem::remove(Path());
    Build({{"T", {Long("k"), Text("tooSmall", c.lMinimum - 1, c.keyword)}, {}, "DM", {}}});
    const vem_error e = Failure();
    EXPECT_STREQ(e.what(), "crypt field length too small in fieldtooSmall") << c.keyword;
    EXPECT_EQ(e.code(), 0) << c.keyword;
  }
  using K = GADM::Keyword;
  struct Case {
    const char* text;
    K first, last, expected;
  };
  const Case cases[] = {
      {"DM", K::DM, K::CRYPT_DATETIME, K::DM},
      {"D", K::DM, K::CRYPT_DATETIME, K::None},
      {"", K::DM, K::CRYPT_DATETIME, K::None},
      {"IDENTITY", K::DM, K::CRYPT_DATETIME, K::ID},
      {"CRYPT USHORT", K::CRYPT_STRING, K::CRYPT_DATETIME, K::CRYPT_USHORT},
      {"CRYPT SHORTS", K::CRYPT_STRING, K::CRYPT_DATETIME, K::CRYPT_SHORT},
      {"CRYPT STRING", K::CRYPT_BOOL, K::CRYPT_DATETIME, K::None},  // outside the range tried
      {"BLOB", K::DM, K::DM, K::None},
      {" DM", K::DM, K::DM, K::None},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GADM::MatchDescription(c.text, c.first, c.last), c.expected) << c.text;
}

// Gaps among small ids are filled; ids far above them (up to the largest
// LONG) are kept as they are, without a table of their size.
TEST_F(GadmTest, EnumGapsInFieldsAreFilledWithPlaceholdersAndLargeIdsStaySparse) {
  constexpr LONG kBig = 0x100000, kMax = 0x7FFFFFFF;
  Build({{"T",
          {Long("first", 0), Long("fifth", 5), Long("big", kBig), Long("max", kMax)},
          {},
          "DM",
          kBig},
         {"U", {Long("u", 6)}, {}, "DM", kMax}});
  auto pModel = Model();
  std::vector<FieldRow> expected{{0, "first", kLongType, -1, false}};
  for (LONG l = 1; l <= 4; ++l) expected.emplace_back(l, "", kCharType, -1, false);
  expected.emplace_back(5, "fifth", kLongType, -1, false);
  expected.emplace_back(6, "u", kLongType, -1, false);
  expected.emplace_back(kBig, "big", kLongType, -1, false);
  expected.emplace_back(kMax, "max", kLongType, -1, false);
  EXPECT_EQ(FieldRows(*pModel), expected);
  EXPECT_EQ(RecordRows(*pModel), (std::vector<RecordRow>{{kBig, 0, "T", {0, 5, kBig, kMax}, {}, -1},
                                                         {kMax, 0, "U", {6}, {}, -1}}));
  EXPECT_EQ(pModel->GetRecordDef(kMax).m_name, "U");
  EXPECT_EQ(pModel->GetFieldDef(kBig).m_name, "big");
  EXPECT_THROW(pModel->GetFieldDef(kBig - 1), vem_error);
  EXPECT_THROW(pModel->GetRecordDef(kMax - 1), vem_error);
}

TEST_F(GadmTest, IdsComeFromEnumOrTheDatabaseCounters) {
  dao::DatabasePtr pDb = vemtest::CreateDatabase(Path(), "pw");
  vemtest::SetLongProperty(*pDb, "EnumRecordDefMax", 7);
  vemtest::SetLongProperty(*pDb, "EnumFieldMax", 4);
  vemtest::AddTable(*pDb, {"T1", {Long("a"), Long("b", 2), Long("c")}, {}, "DM", 3});
  vemtest::AddTable(*pDb, {"T2", {Long("a"), Long("d")}, {"d"}, "DM", {}});
  pDb->Close();
  auto pModel = Model();
  std::vector<FieldRow> expected;
  for (LONG l : {0, 1, 3}) expected.emplace_back(l, "", kCharType, -1, false);
  expected.insert(expected.begin() + 2, {2, "b", kLongType, -1, false});
  expected.emplace_back(4, "a", kLongType, -1, false);
  expected.emplace_back(5, "c", kLongType, -1, false);
  expected.emplace_back(6, "a", kLongType, -1, false);  // second "a": made, referred to by none
  expected.emplace_back(7, "d", kLongType, -1, false);
  EXPECT_EQ(FieldRows(*pModel), expected);
  EXPECT_EQ(RecordRows(*pModel), (std::vector<RecordRow>{{3, 0, "T1", {4, 2, 5}, {}, -1},
                                                         {7, 0, "T2", {4, 7}, {7}, -1}}));
}

TEST_F(GadmTest, QueriesAddOnlyUnknownFieldsAndTakeIdFieldsFromDescriptions) {
  Build({{"tblA",
          {{"a_id", dao::dbLong, 0, true, {}, {}},
           Text("a_name", 30),
           {"a_memo", dao::dbMemo, 0, false, {}, {}},
           Long("a_ref")},
          {"a_id"},
          "DM",
          {}}},
        {{"qryA",
          "SELECT a_id, a_name, a_name AS label, a_memo AS memoLabel, a_ref AS blobRef FROM tblA",
          "DM query",
          {},
          {{"a_id", "ID key"},
           {"a_name", "id lower case"},
           {"blobRef", "BLOB"},
           {"memoLabel", "CRYPT STRING"}},
          {{"label", 9}}},
         {"qryHidden", "SELECT a_name AS hidden FROM tblA", "not DM", {}, {}, {}}});
  auto pModel = Model();
  // Known names add nothing and take no id from the counter; a query's
  // text field has its Size as length, a memo -1; no query field is
  // encrypted, whatever its Description says.
  std::vector<FieldRow> expected{
      {0, "a_id", kLongType, -1, false},        {1, "a_name", kStringType, 30, false},
      {2, "a_memo", kStringType, 64000, false}, {3, "a_ref", kLongType, -1, false},
      {4, "memoLabel", kStringType, -1, false}, {5, "blobRef", kBlobType, -1, false}};
  for (LONG l = 6; l <= 8; ++l) expected.emplace_back(l, "", kCharType, -1, false);
  expected.emplace_back(9, "label", kStringType, 30, false);
  EXPECT_EQ(FieldRows(*pModel), expected);
  EXPECT_EQ(RecordRows(*pModel), (std::vector<RecordRow>{{0, 0, "tblA", {0, 1, 2, 3}, {0}, 0},
                                                         {1, 0, "qryA", {0, 1, 9, 4, 5}, {0}, 0}}));
}

TEST_F(GadmTest, WrongPasswordFailsWithTheEnginesError) {
  Build({{"T", {Long("a")}, {}, "DM", {}}}, {}, "right");
  const vem_error e = Failure("wrong");
  EXPECT_EQ(static_cast<ULONG>(e.code()), 0x800A0BD7u);  // DAO 3031, not a valid password
  EXPECT_NE(std::string(e.what()).find(" - error code: 0x800A0BD7"), std::string::npos) << e.what();
  // The failure was traced once, after the first two notes.
  const std::vector<std::string> traces = m_backChannel.TraceTexts();
  ASSERT_EQ(traces.size(), 3u);
  EXPECT_TRUE(traces[2].ends_with(e.what())) << traces[2];
}

// Every construction, failed or not, leaves the thread's COM initialisation
// as it found it once the model is gone (checked on a fresh thread).
TEST_F(GadmTest, ConstructionLeavesNoComInitialisationBehind) {
  const struct {
    bool bTooSmall;  // an encrypted column below its minimum size
    const char* password;
    bool bFails;
  } cases[] = {{true, "pw", true}, {true, "wrong", true}, {false, "pw", false}};
  const std::string path = Path();
  for (const auto& c : cases) {
    std::filesystem::remove(path);
    std::vector<FixtureField> fields{Long("a")};
    if (c.bTooSmall) fields.push_back(Text("tiny", 10, "CRYPT LONG"));
    Build({{"T", fields, {}, "DM", {}}}, {}, "pw");
    HRESULT hrAfter = E_FAIL;
    bool bFailed = false;
    std::thread([&] {
      try {
        GADM model(nullptr, path, c.password);
        EXPECT_TRUE(model.GetDatabase(0).IsOpen());
      } catch (const vem_error&) {
        bFailed = true;
      }
      hrAfter = CoInitialize(nullptr);  // S_OK only when the count is back at 0
      CoUninitialize();
    }).join();
    EXPECT_EQ(bFailed, c.bFails) << c.password;
    EXPECT_EQ(hrAfter, S_OK) << c.password;
  }
}

TEST_F(GadmTest, EnumIdOutsideTheTablesIsRefused) {
  Build({{"T", {Long("a", -1)}, {}, "DM", {}}});
  const vem_error e = Failure();
  EXPECT_EQ(e.code(), E_INVALIDARG);
  EXPECT_NE(std::string(e.what()).find("-1"), std::string::npos) << e.what();
}

}  // namespace
