// The engine's value rules (DAO conversions, storage) and the DDL parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "Engine/Ddl.h"
#include "Engine/EngineError.h"
#include "Engine/Value.h"

namespace {

using namespace dao;

TEST(ValueConversion, DaoRulesAcceptInRangeValuesAndRefuseTheRest) {
  ColumnInfo text5{"T", dbText, 5, 0, false};
  ColumnInfo byteCol{"B", dbByte, 1, 0, false};
  ColumnInfo intCol{"I", dbInteger, 2, 0, false};
  ColumnInfo longCol{"L", dbLong, 4, 0, false};
  ColumnInfo boolCol{"Bo", dbBoolean, 1, 0, false};
  ColumnInfo curCol{"C", dbCurrency, 8, 0, false};
  ColumnInfo dateCol{"D", dbDate, 8, 0, false};
  ColumnInfo single{"S", dbSingle, 4, 0, false};
  struct Case {
    const ColumnInfo* column;
    Value in;
    int error;  // 0: accepted
    Value out;
  } cases[] = {
      {&byteCol, std::int32_t{255}, 0, std::uint8_t{255}},
      {&byteCol, std::int32_t{256}, kErrConversion, {}},
      {&byteCol, std::int32_t{-1}, kErrConversion, {}},
      {&byteCol, 2.5, 0, std::uint8_t{2}},  // half to even
      {&intCol, std::string(" 123 "), 0, std::int16_t{123}},
      {&intCol, std::int32_t{32768}, kErrConversion, {}},
      {&longCol, 2147483647.4, 0, std::int32_t{2147483647}},
      {&longCol, 2147483648.0, kErrConversion, {}},
      {&longCol, std::string("12abc"), kErrConversion, {}},
      {&longCol, Bytes{1, 2}, kErrConversion, {}},
      {&boolCol, std::int32_t{5}, 0, true},
      {&boolCol, std::string("False"), 0, false},
      {&curCol, 1.23456, 0, Currency{12346}},
      {&curCol, 1e16, kErrConversion, {}},
      {&dateCol, std::string("2000-01-01 12:00:00"), 0, Date{36526.5}},
      {&dateCol, std::string("1/2/2000"), 0, Date{36527.0}},  // US order
      {&dateCol, std::string("2000-02-30"), kErrConversion, {}},
      {&single, 1e39, kErrConversion, {}},
      {&text5, std::string("abcde"), 0, std::string("abcde")},
      {&text5, std::string("abcdef"), kErrFieldTooLong, {}},
      {&text5, std::string("\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac"), 0,
       std::string("\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac")},
      {&text5, std::int32_t{12}, 0, std::string("12")},
      {&text5, Value{}, 0, Value{}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    try {
      Value out = ConvertForField(c.in, *c.column, "t");
      EXPECT_EQ(c.error, 0) << "case " << i << " was accepted";
      EXPECT_TRUE(out == c.out) << "case " << i;
    } catch (const EngineError& e) {
      EXPECT_EQ(e.number(), c.error) << "case " << i << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("'" + c.column->name + "'"), std::string::npos)
          << e.what();
    }
  }
}

TEST(ValueConversion, CurrencyAmountsRoundTripExactlyBelow2To39AndNotAbove) {
  auto roundTrips = [](std::int64_t scaled) {
    Currency back;
    return CurrencyFromAmount(CurrencyAmount(Currency{scaled}), back) && back.scaled == scaled;
  };
  int failures = 0;
  for (std::int64_t k = kMaxCurrencyScaled - 300000; k <= kMaxCurrencyScaled; ++k)
    failures += !roundTrips(k) + !roundTrips(-k);
  std::mt19937_64 rng(20261207);
  for (int binade = 0; binade < 53; ++binade)  // scaled values of every magnitude up to the limit
    for (int i = 0; i < 4000; ++i) {
      const std::int64_t k = static_cast<std::int64_t>(std::min<std::uint64_t>(
          (std::uint64_t{1} << binade) + rng() % (std::uint64_t{1} << binade), kMaxCurrencyScaled));
      failures += !roundTrips(k) + !roundTrips(-k);
    }
  EXPECT_EQ(failures, 0);
  // Above 2^39 a double is too coarse for 4 places: some amounts would come
  // back as others, which is why they are refused.
  int lost = 0;
  for (std::int64_t k = kMaxCurrencyScaled + 1; k < kMaxCurrencyScaled + 100000; ++k)
    lost += std::nearbyint(static_cast<long double>(static_cast<double>(k) / 10000.0) * 10000) !=
            static_cast<long double>(k);
  EXPECT_GT(lost, 0);
  Currency c;
  EXPECT_FALSE(CurrencyFromAmount(kCurrencyAmountLimit, c));
  EXPECT_FALSE(CurrencyFromAmount(std::numeric_limits<double>::infinity(), c));
}

TEST(ValueConversion, DatesRoundTripThroughText) {
  for (double d : {0.0, 36526.5, -1.25, 2958465.0, 45000.75}) {
    double back = -99;
    ASSERT_TRUE(ParseDateText(FormatDate(d), back)) << FormatDate(d);
    EXPECT_NEAR(back, d, 1e-9) << FormatDate(d);
  }
}

TEST(Ddl, ParsesTypesSizesKeysAndIndexes) {
  DdlStatement st = ParseDdl(
      "CREATE TABLE [My Table] (ID COUNTER PRIMARY KEY, Name TEXT(50) NOT NULL, Memo1 MEMO, "
      "B BYTE, S SHORT, L LONG, Si SINGLE, D DOUBLE, C CURRENCY, Dt DATETIME, F YESNO, "
      "Bin BINARY(16), Ole LONGBINARY, T TEXT, CONSTRAINT uq UNIQUE (Name, L));");
  ASSERT_EQ(st.kind, DdlStatement::CreateTable);
  EXPECT_EQ(st.table.name, "My Table");
  ASSERT_EQ(st.table.fields.size(), 14u);
  EXPECT_EQ(st.table.fields[0].type, dbLong);
  EXPECT_TRUE(st.table.fields[0].attributes & dbAutoIncrField);
  EXPECT_EQ(st.table.fields[1].size, 50);
  EXPECT_TRUE(st.table.fields[1].required);
  int types[] = {dbLong,   dbText,     dbMemo, dbByte,    dbInteger, dbLong,       dbSingle,
                 dbDouble, dbCurrency, dbDate, dbBoolean, dbBinary,  dbLongBinary, dbText};
  for (std::size_t i = 0; i < std::size(types); ++i)
    EXPECT_EQ(st.table.fields[i].type, types[i]) << i;
  ASSERT_EQ(st.table.indexes.size(), 2u);
  EXPECT_TRUE(st.table.indexes[0].primary);
  EXPECT_EQ(st.table.indexes[1].name, "uq");
  EXPECT_EQ(st.table.indexes[1].fields.size(), 2u);

  DdlStatement ix =
      ParseDdl("CREATE UNIQUE INDEX ByName ON People (Last DESC, First) WITH DISALLOW NULL");
  ASSERT_EQ(ix.kind, DdlStatement::CreateIndex);
  EXPECT_TRUE(ix.index.unique);
  EXPECT_TRUE(ix.index.required);
  EXPECT_TRUE(ix.index.descending[0]);
  EXPECT_EQ(ParseDdl("DELETE FROM t").kind, DdlStatement::None);
  for (const char* bad : {"CREATE TABLE t (x WIDGET)", "CREATE TABLE t (x TEXT(300))",
                          "CREATE TABLE (x LONG)", "CREATE TABLE t (x LONG", "DROP INDEX i"}) {
    try {
      ParseDdl(bad);
      ADD_FAILURE() << bad;
    } catch (const EngineError& e) {
      EXPECT_EQ(e.number(), kErrSyntaxDdl) << bad;
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos);
    }
  }
}

}  // namespace
