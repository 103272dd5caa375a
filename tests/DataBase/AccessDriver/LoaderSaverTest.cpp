// DaoLoader and DaoSaver on real database files: every typed read and
// write, plain and encrypted, the stored forms, and the failures of bad
// input (unknown ids, NULLs, missing records, invalid dates, tampered or
// moved encrypted values). The blob fields: BlobStoreTest.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "DataBase/AccessDriver/DaoLoader.h"
#include "DataBase/AccessDriver/DaoSaver.h"
#include "DataBase/AccessDriver/FieldCipher.h"
#include "DriverFixture.h"
#include "Platform/Text.h"

namespace drivertest {
namespace {

using vemtest::TestRecord;

DateParts Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  DateParts p;
  p.year = static_cast<std::uint16_t>(y);
  p.month = static_cast<std::uint16_t>(mo);
  p.day = static_cast<std::uint16_t>(d);
  p.hour = static_cast<std::uint16_t>(h);
  p.minute = static_cast<std::uint16_t>(mi);
  p.second = static_cast<std::uint16_t>(s);
  p.millisecond = static_cast<std::uint16_t>(ms);
  return p;
}

// The values written into one record (plain or encrypted alike).
struct Values {
  std::string text =
      "Gr\xFC\xDF"
      "e O'Neil";  // Windows-1252
  bool b = true;
  std::int8_t c = -56;
  BYTE uc = 255;
  SHORT s = std::numeric_limits<SHORT>::min();
  USHORT us = 65535;
  LONG l = std::numeric_limits<LONG>::min();
  ULONG ul = 0xFFFFFFFFu;
  float f = 1.5f;
  double d = -1e300;
  DateParts dt = Date(2000, 1, 1, 12, 0, 0, 0);
};

// Field ids of one record definition, in the order of Values.
struct Fields {
  LONG text, b, c, uc, s, us, l, ul, f, d, dt;
};
constexpr Fields kPlainFields{kName, kB, kC, kUC, kS, kUS, kL, kUL, kF, kD, kDT};
constexpr Fields kCryptFields{kXStr, kXB, kXC, kXUC, kXS, kXUS, kXL, kXUL, kXF, kXD, kXDT};

void WriteAll(ISaver& saver, const Fields& f, const Values& v) {
  saver.PutString(f.text, v.text);
  saver.PutBool(f.b, v.b);
  saver.PutChar(f.c, v.c);
  saver.PutUChar(f.uc, v.uc);
  saver.PutShort(f.s, v.s);
  saver.PutUShort(f.us, v.us);
  saver.PutLong(f.l, v.l);
  saver.PutULong(f.ul, v.ul);
  saver.PutFloat(f.f, v.f);
  saver.PutDouble(f.d, v.d);
  saver.PutDate(f.dt, v.dt);
}

// Reads field lField through get into a value that starts as T{} (none of
// the expected values) and compares it.
template <class T, class U>
void ExpectRead(ILoader& loader, void (ILoader::*get)(LONG, T&), LONG lField, const U& expected) {
  T value{};
  (loader.*get)(lField, value);
  EXPECT_EQ(value, static_cast<T>(expected)) << "field " << lField;
}

void ExpectAll(ILoader& loader, const Fields& f, const Values& v) {
  ExpectRead(loader, &ILoader::GetString, f.text, v.text);
  ExpectRead(loader, &ILoader::GetBool, f.b, v.b);
  ExpectRead(loader, &ILoader::GetChar, f.c, v.c);
  ExpectRead(loader, &ILoader::GetUChar, f.c, v.c);  // the signed byte read unsigned
  ExpectRead(loader, &ILoader::GetUChar, f.uc, v.uc);
  ExpectRead(loader, &ILoader::GetShort, f.s, v.s);
  ExpectRead(loader, &ILoader::GetUShort, f.us, v.us);
  ExpectRead(loader, &ILoader::GetLong, f.l, v.l);
  ExpectRead(loader, &ILoader::GetULong, f.ul, v.ul);
  ExpectRead(loader, &ILoader::GetFloat, f.f, v.f);
  ExpectRead(loader, &ILoader::GetDouble, f.d, v.d);
  DateParts dt;
  loader.GetDate(f.dt, dt);
  EXPECT_EQ(Str(dt), Str(v.dt));
}

class LoaderSaverTest : public DriverTest {
 protected:
  void SetUp() override {
    BuildModel();
    const BYTE secret[] = {'s', 'e', 'c', 'r', 'e', 't'};
    const BYTE random[] = {1, 2, 3, 4, 5, 6, 7, 8};
    m_pModel->SetSecret(secret, sizeof secret, random, sizeof random);
  }

  // Appends a record to record definition lRecordDef after write(saver).
  template <class Write>
  void Append(LONG lRecordDef, TestRecord& record, Write&& write) {
    std::unique_ptr<ISaver> saver = Db(Rec(lRecordDef).m_lDatabaseID).CreateSaver(Rec(lRecordDef));
    ASSERT_TRUE(saver->OpenNew(record));
    write(*saver);
    ASSERT_TRUE(saver->Close());
  }
  // Appends record id of tblPlain (LONG id) or tblCrypt (text id) after
  // write(saver); answers the record.
  template <class Write>
  TestRecord AppendWithId(LONG lRecordDef, const std::string& id, Write&& write) {
    TestRecord record(lRecordDef);
    if (lRecordDef == kPlain)
      record.Long(kID, std::stol(id));
    else
      record.Text(kCID, id);
    Append(lRecordDef, record, [&](ISaver& s) {
      if (lRecordDef == kPlain)
        s.PutLong(kID, std::stol(id));
      else
        s.PutString(kCID, id);
      write(s);
    });
    return record;
  }
  std::unique_ptr<ILoader> Load(LONG lRecordDef, TestRecord& record) {
    std::unique_ptr<ILoader> loader =
        Db(Rec(lRecordDef).m_lDatabaseID).CreateLoader(Rec(lRecordDef));
    EXPECT_TRUE(loader->Open(record));
    return loader;
  }
  _variant_t RawMain(const std::string& sql, const char* column) {
    return RawValue(MainPath(), ";PWD=pw0", sql, column);
  }
};

// Plain and encrypted, every type: the values read back; stored forms
// (Boolean -1, the date as its OLE value; the lengths of the cipher texts)
// and the loader view of GetVariant (the deciphered text).
TEST_F(LoaderSaverTest, ValuesOfEveryTypeReadBackAsWritten) {
  const Values values;
  TestRecord plain =
      AppendWithId(kPlain, "1", [&](ISaver& saver) { WriteAll(saver, kPlainFields, values); });
  ExpectAll(*Load(kPlain, plain), kPlainFields, values);
  _variant_t vB = RawMain("SELECT B FROM tblPlain", "B");
  vB.ChangeType(VT_I4);
  EXPECT_EQ(vB.lVal, -1);
  _variant_t vDT = RawMain("SELECT DT FROM tblPlain", "DT");
  vDT.ChangeType(VT_R8);
  EXPECT_EQ(vDT.dblVal, 36526.5);

  TestRecord crypt =
      AppendWithId(kCrypt, "k'1", [&](ISaver& saver) { WriteAll(saver, kCryptFields, values); });
  ExpectAll(*Load(kCrypt, crypt), kCryptFields, values);
  const struct {
    const char* column;
    unsigned length;
  } lengths[] = {{"xBool", 40},  {"xChar", 40},   {"xShort", 40}, {"xLong", 44},
                 {"xFloat", 44}, {"xDouble", 48}, {"xDate", 48}};
  for (const auto& l : lengths) {
    _variant_t v = RawMain(std::string("SELECT ") + l.column + " FROM tblCrypt", l.column);
    ASSERT_EQ(v.vt, VT_BSTR) << l.column;
    EXPECT_EQ(SysStringLen(v.bstrVal), l.length) << l.column;
  }
  _variant_t v;
  static_cast<IDaoLoader&>(*Load(kCrypt, crypt)).GetVariant(kXStr, v.GetVARIANT());
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(_bstr_t(v), _bstr_t(platform::AnsiToWide(values.text).c_str()));
  EXPECT_EQ(Traces(), 0u);
}

// Every valid date and time round-trips, plain and encrypted, the first and
// last day of the range with their times included (before day 0 the time is
// a positive fraction: 1 January 100 12:00 is -657434.5). An invalid one
// raises naming the date and the field, and stores nothing.
TEST_F(LoaderSaverTest, DatesRoundTripAtTheirBoundsAndInvalidOnesAreRefused) {
  const int dates[][7] = {
      {100, 1, 1, 0, 0, 0, 0},     {100, 1, 1, 12, 0, 0, 0},        {100, 1, 1, 23, 59, 59, 999},
      {100, 1, 2, 0, 0, 1, 0},     {9999, 12, 31, 0, 0, 0, 0},      {9999, 12, 31, 0, 0, 1, 0},
      {9999, 12, 31, 12, 0, 0, 0}, {9999, 12, 31, 23, 59, 59, 999}, {1899, 12, 30, 0, 0, 0, 0},
      {1899, 12, 29, 6, 0, 0, 0},  {2000, 2, 29, 0, 0, 1, 1},       {1600, 3, 1, 12, 30, 30, 500},
  };
  LONG id = 1;
  for (const int* d : dates) {
    const DateParts date = Date(d[0], d[1], d[2], d[3], d[4], d[5], d[6]);
    for (const LONG lRecordDef : {kPlain, kCrypt}) {
      const LONG lField = lRecordDef == kPlain ? LONG{kDT} : LONG{kXDT};
      TestRecord record =
          AppendWithId(lRecordDef, std::to_string(id), [&](ISaver& s) { s.PutDate(lField, date); });
      DateParts read;
      Load(lRecordDef, record)->GetDate(lField, read);
      EXPECT_EQ(Str(read), Str(date)) << lRecordDef;
    }
    ++id;
  }
  TestRecord record(kPlain);
  record.Long(kID, 1);
  for (const DateParts& date : {Date(2001, 2, 29), Date(2000, 1, 1, 0, 0, 0, 1000)}) {
    std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kPlain));
    ASSERT_TRUE(saver->Open(record));
    const std::string text = EXPECT_VEM_ERROR(saver->PutDate(kDT, date), E_INVALIDARG);
    EXPECT_EQ(text, "invalid date " +
                        std::string(date.month == 2 ? "2001-02-29 00:00:00.000"
                                                    : "2000-01-01 00:00:00.1000") +
                        " for field DT of tblPlain");
    saver->Close();
  }
  DateParts stored;
  Load(kPlain, record)->GetDate(kDT, stored);
  EXPECT_EQ(Str(stored), Str(Date(100, 1, 1)));
}

// The empty text: in format 1.1 the cipher text of no bytes, in format 1.0
// (database 1 has no version) NULL; both read as "".
TEST_F(LoaderSaverTest, EmptyEncryptedTextIsACipherTextIn11AndNullIn10) {
  TestRecord record = AppendWithId(kCrypt, "e", [&](ISaver& s) { s.PutString(kXStr, ""); });
  _variant_t v = RawMain("SELECT xStr FROM tblCrypt", "xStr");
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(v.bstrVal), 40u);
  std::string text = "x";
  Load(kCrypt, record)->GetString(kXStr, text);
  EXPECT_EQ(text, "");

  TestRecord other(kOther);
  other.Long(kOID, 5);
  Append(kOther, other, [&](ISaver& s) {
    s.PutLong(kOID, 5);
    s.PutString(kOSecret, "");
  });
  EXPECT_EQ(RawValue(OtherPath(), ";PWD=pw1", "SELECT OSecret FROM tblOther", "OSecret").vt,
            VT_NULL);
  Load(kOther, other)->GetString(kOSecret, text);
  EXPECT_EQ(text, "");
}

// Encrypted texts are handled in fixed stack buffers up to kStackTextChars
// stored characters (and plain bytes) and in buffers of their size beyond:
// values on both sides of each limit, Windows-1252 bytes included, and one
// of 1000 bytes, whose text crosses the cipher's piece boundary (1024
// characters), read back through GetString and GetVariant; plain texts
// with and without non-ASCII characters store their UTF-16 form.
TEST_F(LoaderSaverTest, TextsAroundTheFixedBufferLimitsReadBackExactly) {
  // 356 plain bytes are the longest value whose text (512) fits the stack.
  static_assert(EncryptedTextLength(356) == kStackTextChars);
  for (const std::size_t n : {355, 356, 357, 511, 512, 513, 700, 1000}) {
    std::string value;
    for (std::size_t i = 0; i < n; ++i)
      value += static_cast<char>(i % 3 == 0 ? '\xE4' : 'a' + i % 26);
    const std::string id = "n" + std::to_string(n);
    TestRecord record = AppendWithId(kCrypt, id, [&](ISaver& s) { s.PutString(kXStr, value); });
    if (n == 1000) {
      _variant_t stored = RawMain("SELECT xStr FROM tblCrypt WHERE CID = 'n1000'", "xStr");
      EXPECT_EQ(SysStringLen(stored.bstrVal), 1372u);
    }
    std::string text;
    std::unique_ptr<ILoader> loader = Load(kCrypt, record);
    loader->GetString(kXStr, text);
    EXPECT_EQ(text, value) << n;
    _variant_t v;
    static_cast<IDaoLoader&>(*loader).GetVariant(kXStr, v.GetVARIANT());
    EXPECT_EQ(platform::WideToAnsi(_bstr_t(v).view()), value) << n;
  }
  for (const std::string name : {"plain ascii",
                                 "Gr\xFC\xDF"
                                 "e \x80"}) {
    const std::string id = std::to_string(name.size());
    TestRecord record = AppendWithId(kPlain, id, [&](ISaver& s) { s.PutString(kName, name); });
    _variant_t stored = RawMain("SELECT Name FROM tblPlain WHERE ID = " + id, "Name");
    EXPECT_EQ(std::u16string(_bstr_t(stored).view()), platform::AnsiToWide(name));
    std::string text;
    Load(kPlain, record)->GetString(kName, text);
    EXPECT_EQ(text, name);
  }
}

// A value moved to another record or field, a changed Base64 character, a
// non-ASCII character (no Base64): each fails the MAC; the target is left
// as it was and the original still reads.
TEST_F(LoaderSaverTest, MovedOrAlteredEncryptedValuesFailTheMac) {
  auto put = [](ISaver& s) {
    s.PutLong(kXL, 42);
    s.PutLong(kXUL, 42);
    s.PutBool(kXB, true);
    s.PutString(kXStr, "value");
  };
  TestRecord a = AppendWithId(kCrypt, "a", put), b = AppendWithId(kCrypt, "b", put);
  {
    dao::DatabasePtr db = Raw(MainPath(), ";PWD=pw0");
    dao::RecordsetPtr ra = db->OpenRecordset("SELECT * FROM tblCrypt WHERE CID = 'a'");
    const _variant_t vLong = ra->GetCollect(_variant_t("xLong"));
    std::u16string bools(_bstr_t(ra->GetCollect(_variant_t("xBool"))).view());
    std::u16string text(_bstr_t(ra->GetCollect(_variant_t("xStr"))).view());
    dao::RecordsetPtr rb = db->OpenRecordset("SELECT * FROM tblCrypt WHERE CID = 'b'");
    rb->Edit();
    rb->PutCollect(_variant_t("xLong"), vLong);   // moved to another record
    rb->PutCollect(_variant_t("xULong"), vLong);  // moved to another field
    rb->Update();
    bools[20] = bools[20] == u'A' ? u'B' : u'A';  // still Base64
    text[20] = u'\u00E9';
    ra->Edit();
    ra->PutCollect(_variant_t("xBool"), _variant_t(_bstr_t(bools)));
    ra->PutCollect(_variant_t("xStr"), _variant_t(_bstr_t(text)));
    ra->Update();
    ra->Close();
    rb->Close();
    db->Close();
  }
  bool bValue = false;
  LONG lValue = 7;
  ULONG ulValue = 7;
  std::string s;
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, a)->GetBool(kXB, bValue), 0), kIllegalMac);
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, a)->GetString(kXStr, s), 0), kIllegalMac);
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, b)->GetLong(kXL, lValue), 0), kIllegalMac);
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, b)->GetULong(kXUL, ulValue), 0), kIllegalMac);
  EXPECT_EQ(lValue, 7);
  Load(kCrypt, a)->GetLong(kXL, lValue);  // the original still reads
  EXPECT_EQ(lValue, 42);
}

TEST_F(LoaderSaverTest, NullColumnsAndBadInputEndInTheDefinedResults) {
  TestRecord record = AppendWithId(kPlain, "1", [](ISaver&) {});
  std::unique_ptr<ILoader> loader = Load(kPlain, record);
  LONG l = 5;
  const std::size_t before = Traces();
  EXPECT_VEM_ERROR(loader->GetLong(kL, l), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Traces(), before + 1) << "the engine error is traced once";
  EXPECT_EQ(l, 5);
  std::string text = "x";
  loader->GetString(kName, text);
  EXPECT_EQ(text, "");
  _variant_t v;
  static_cast<IDaoLoader&>(*loader).GetVariant(kName, v.GetVARIANT());
  EXPECT_EQ(v.vt, VT_NULL);
  EXPECT_VEM_ERROR(loader->GetLong(999, l), E_INVALIDARG);
  EXPECT_VEM_ERROR(loader->GetLong(-1, l), E_INVALIDARG);
  EXPECT_TRUE(loader->Close());
  EXPECT_VEM_ERROR(loader->GetLong(kL, l), E_POINTER);

  // A record that does not exist: reads fail with the engine's "no current record".
  TestRecord missing(kPlain);
  missing.Long(kID, 99);
  EXPECT_VEM_ERROR(Load(kPlain, missing)->GetLong(kL, l), 0x800A0BCD);
}

TEST_F(LoaderSaverTest, SaverOpenAndOpenNewCheckTheRecordsExistence) {
  TestRecord record(kPlain);
  record.Long(kID, 1);
  std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kPlain));
  EXPECT_VEM_ERROR(saver->Open(record), 0xC004A006);
  AppendWithId(kPlain, "1", [](ISaver& s) { s.PutLong(kL, 10); });
  EXPECT_VEM_ERROR(saver->OpenNew(record), 0xC004A007);
  ASSERT_TRUE(saver->Open(record));
  saver->PutLong(kL, 11);
  saver->Close();
  LONG l = 0;
  Load(kPlain, record)->GetLong(kL, l);
  EXPECT_EQ(l, 11);
  EXPECT_VEM_ERROR(saver->PutLong(kL, 12), E_POINTER);

  // A saver destroyed without Close stores nothing.
  TestRecord two(kPlain);
  two.Long(kID, 2);
  {
    std::unique_ptr<ISaver> dropped = Db(0).CreateSaver(Rec(kPlain));
    dropped->OpenNew(two);
    dropped->PutLong(kID, 2);
  }
  EXPECT_EQ(RawLong("SELECT Count(*) AS n FROM tblPlain"), 1);
}

TEST_F(LoaderSaverTest, AutoValueIsHandedBackToTheRecord) {
  for (LONG expected : {1, 2}) {
    TestRecord record(kAuto);
    record.Long(kAID, 0);
    Append(kAuto, record, [&](ISaver& s) { s.PutString(kAName, "n"); });
    EXPECT_EQ(record.Value(kAID).m_lKind, IdValue::kLong);
    EXPECT_EQ(record.Value(kAID).m_lValue, expected);
  }
  TestRecord noValue(kAuto);  // no value for the auto field: nothing handed back
  noValue.Text(kAName, "x");
  std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kAuto));
  saver->OpenNew(noValue);
  EXPECT_EQ(noValue.SetCalls(), 0);
}

// PutVariant: a number stored as is; the empty text as NULL; into an
// encrypted field a number is stored as its text.
TEST_F(LoaderSaverTest, PutVariantStoresNumbersTextsAndNulls) {
  TestRecord record = AppendWithId(kPlain, "1", [&](ISaver& s) {
    static_cast<IDaoSaver&>(s).PutVariant(kL, _variant_t(LONG{42}));
    static_cast<IDaoSaver&>(s).PutVariant(kName, _variant_t(""));
  });
  LONG l = 0;
  Load(kPlain, record)->GetLong(kL, l);
  EXPECT_EQ(l, 42);
  EXPECT_EQ(RawMain("SELECT Name FROM tblPlain", "Name").vt, VT_NULL);
  TestRecord crypt = AppendWithId(kCrypt, "v", [&](ISaver& s) {
    static_cast<IDaoSaver&>(s).PutVariant(kXStr, _variant_t(LONG{42}));
  });
  std::string text;
  Load(kCrypt, crypt)->GetString(kXStr, text);
  EXPECT_EQ(text, "42");
}

}  // namespace
}  // namespace drivertest
