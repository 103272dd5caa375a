// DaoLoader and DaoSaver on real database files: every typed read and
// write, plain and encrypted, the stored forms, and the failures of bad
// input (unknown ids, NULLs, missing records, invalid dates, tampered or
// moved encrypted values).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "DataBase/AccessDriver/DaoLoader.h"
#include "DataBase/AccessDriver/DaoSaver.h"
#include "DataBase/AccessDriver/FieldCipher.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DriverFixture.h"
#include "Platform/Text.h"

namespace drivertest {
namespace {

using vemtest::TestRecord;

// A blob strategy double: Save answers a preset id, Load records its id.
class FakeBlob : public IBlobStrategy {
 public:
  explicit FakeBlob(LONG lSaveId = -1) : m_lSaveId(lSaveId) {}
  std::unique_ptr<IBlobStrategy> Clone() override { return nullptr; }
  bool IsPresent() override { return false; }
  LONG GetLength() override { return -1; }
  HANDLE OpenReadHandle(LONG*) override { return nullptr; }
  void CloseReadHandle() override {}
  HANDLE OpenWriteHandle() override { return nullptr; }
  void CloseWriteHandle() override {}
  std::istream& OpenRead() override { return m_in; }
  void CloseRead() override {}
  std::ostream& OpenWrite() override { return m_out; }
  void CloseWrite() override {}
  void Erase() override {}
  void new_() override {}
  void delete_() override {}
  void Load(LONG lBlobId) override {
    m_lLoaded = lBlobId;
    ++m_loads;
  }
  LONG Save() override {
    ++m_saves;
    return m_lSaveId;
  }
  LONG m_lSaveId;
  LONG m_lLoaded = -99;
  int m_loads = 0;
  int m_saves = 0;
  std::istream m_in{nullptr};
  std::ostream m_out{nullptr};
};

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

bool SameDate(const DateParts& a, const DateParts& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
         a.minute == b.minute && a.second == b.second && a.millisecond == b.millisecond;
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

void ExpectAll(ILoader& loader, const Fields& f, const Values& v) {
  std::string text;
  loader.GetString(f.text, text);
  EXPECT_EQ(text, v.text);
  bool b = !v.b;
  loader.GetBool(f.b, b);
  EXPECT_EQ(b, v.b);
  std::int8_t c = 0;
  loader.GetChar(f.c, c);
  EXPECT_EQ(c, v.c);
  BYTE uc = 0;
  loader.GetUChar(f.c, uc);
  EXPECT_EQ(uc, static_cast<BYTE>(v.c)) << "the signed byte read unsigned";
  loader.GetUChar(f.uc, uc);
  EXPECT_EQ(uc, v.uc);
  SHORT s = 0;
  loader.GetShort(f.s, s);
  EXPECT_EQ(s, v.s);
  USHORT us = 0;
  loader.GetUShort(f.us, us);
  EXPECT_EQ(us, v.us);
  LONG l = 0;
  loader.GetLong(f.l, l);
  EXPECT_EQ(l, v.l);
  ULONG ul = 0;
  loader.GetULong(f.ul, ul);
  EXPECT_EQ(ul, v.ul);
  float fl = 0;
  loader.GetFloat(f.f, fl);
  EXPECT_EQ(fl, v.f);
  double d = 0;
  loader.GetDouble(f.d, d);
  EXPECT_EQ(d, v.d);
  DateParts dt;
  loader.GetDate(f.dt, dt);
  EXPECT_TRUE(SameDate(dt, v.dt)) << dt.year << "-" << dt.month << "-" << dt.day << " " << dt.hour
                                  << ":" << dt.minute << ":" << dt.second << "." << dt.millisecond;
}

class LoaderSaverTest : public DriverTest {
 protected:
  void SetUp() override {
    BuildModel();
    const BYTE secret[] = {'s', 'e', 'c', 'r', 'e', 't'};
    const BYTE random[] = {1, 2, 3, 4, 5, 6, 7, 8};
    m_pModel->ForEachDatabase(
        [&](IDatabase& db) { db.SetSecret(secret, sizeof secret, random, sizeof random); });
  }

  // Appends a record to record definition lRecordDef with id lIdField =
  // idValue, after write(saver).
  template <class Write>
  void Append(LONG lRecordDef, TestRecord& record, Write&& write) {
    std::unique_ptr<ISaver> saver = Db(Rec(lRecordDef).m_lDatabaseID).CreateSaver(Rec(lRecordDef));
    ASSERT_TRUE(saver->OpenNew(record));
    write(*saver);
    ASSERT_TRUE(saver->Close());
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

TEST_F(LoaderSaverTest, PlainValuesOfEveryTypeReadBackAsWritten) {
  TestRecord record(kPlain);
  record.Long(kID, 1);
  const Values values;
  FakeBlob blob(17);
  Append(kPlain, record, [&](ISaver& saver) {
    saver.PutLong(kID, 1);
    WriteAll(saver, kPlainFields, values);
    saver.SetBlob(kBlob, blob);
  });
  EXPECT_EQ(blob.m_saves, 1);
  std::unique_ptr<ILoader> loader = Load(kPlain, record);
  ExpectAll(*loader, kPlainFields, values);
  FakeBlob read;
  loader->GetBlob(kBlob, read);
  EXPECT_EQ(read.m_lLoaded, 17);
  // Stored forms: Boolean -1, the date as its OLE value.
  _variant_t vB = RawMain("SELECT B FROM tblPlain", "B");
  vB.ChangeType(VT_I4);
  EXPECT_EQ(vB.lVal, -1);
  _variant_t vDT = RawMain("SELECT DT FROM tblPlain", "DT");
  vDT.ChangeType(VT_R8);
  EXPECT_EQ(vDT.dblVal, 36526.5);
  EXPECT_EQ(Traces(), 0u);
}

// Every valid date and time round-trips, plain and encrypted, the first and
// last day of the range with their times included (before day 0 the time is
// a positive fraction: 1 January 100 12:00 is -657434.5).
TEST_F(LoaderSaverTest, DatesAtTheirBoundsRoundTrip) {
  const DateParts dates[] = {Date(100, 1, 1),
                             Date(100, 1, 1, 12),
                             Date(100, 1, 1, 23, 59, 59, 999),
                             Date(100, 1, 2, 0, 0, 1),
                             Date(9999, 12, 31),
                             Date(9999, 12, 31, 0, 0, 1),
                             Date(9999, 12, 31, 12),
                             Date(9999, 12, 31, 23, 59, 59, 999),
                             Date(1899, 12, 30),
                             Date(1899, 12, 29, 6, 0, 0),
                             Date(2000, 2, 29, 0, 0, 1, 1),
                             Date(1600, 3, 1, 12, 30, 30, 500)};
  LONG id = 1;
  for (const DateParts& date : dates) {
    TestRecord plain(kPlain);
    plain.Long(kID, id);
    Append(kPlain, plain, [&](ISaver& s) {
      s.PutLong(kID, id);
      s.PutDate(kDT, date);
    });
    DateParts a;
    Load(kPlain, plain)->GetDate(kDT, a);
    EXPECT_TRUE(SameDate(a, date)) << "plain " << date.year << " " << date.hour;
    TestRecord crypt(kCrypt);
    crypt.Text(kCID, std::to_string(id));
    Append(kCrypt, crypt, [&](ISaver& s) {
      s.PutString(kCID, std::to_string(id));
      s.PutDate(kXDT, date);
    });
    DateParts b;
    Load(kCrypt, crypt)->GetDate(kXDT, b);
    EXPECT_TRUE(SameDate(b, date)) << "encrypted " << date.year << " " << date.hour;
    ++id;
  }
}

TEST_F(LoaderSaverTest, InvalidDatePartsRaiseAndStoreNothing) {
  TestRecord record(kPlain);
  record.Long(kID, 1);
  Append(kPlain, record, [&](ISaver& s) {
    s.PutLong(kID, 1);
    s.PutDate(kDT, Date(2000, 1, 1, 12));
  });
  const DateParts invalid[] = {Date(2001, 2, 29), Date(2000, 13, 1),
                               Date(2000, 1, 0),  Date(2000, 1, 1, 24),
                               Date(10000, 1, 1), Date(2000, 1, 1, 0, 0, 0, 1000),
                               Date(99, 12, 31)};
  for (const DateParts& date : invalid) {
    std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kPlain));
    ASSERT_TRUE(saver->Open(record));
    const std::string text = EXPECT_VEM_ERROR(saver->PutDate(kDT, date), E_INVALIDARG);
    EXPECT_NE(text.find("DT"), std::string::npos) << text;
    saver->Close();
  }
  DateParts stored;
  Load(kPlain, record)->GetDate(kDT, stored);
  EXPECT_TRUE(SameDate(stored, Date(2000, 1, 1, 12)));
}

TEST_F(LoaderSaverTest, EncryptedValuesOfEveryTypeReadBackAndHaveTheirLengths) {
  TestRecord record(kCrypt);
  record.Text(kCID, "k'1");
  const Values values;
  Append(kCrypt, record, [&](ISaver& saver) {
    saver.PutString(kCID, "k'1");
    WriteAll(saver, kCryptFields, values);
  });
  ExpectAll(*Load(kCrypt, record), kCryptFields, values);
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
  // The loader view of GetVariant gives the deciphered text.
  VARIANT v;
  VariantInit(&v);
  std::unique_ptr<ILoader> loader = Load(kCrypt, record);
  static_cast<IDaoLoader&>(*loader).GetVariant(kXStr, v);
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(_bstr_t(v.bstrVal, true), _bstr_t(values.text.c_str()));
  EXPECT_EQ(Traces(), 0u);
  VariantClear(&v);
}

TEST_F(LoaderSaverTest, EmptyEncryptedTextIsACipherTextIn11AndNullIn10) {
  TestRecord record(kCrypt);
  record.Text(kCID, "e");
  Append(kCrypt, record, [&](ISaver& s) {
    s.PutString(kCID, "e");
    s.PutString(kXStr, "");
  });
  _variant_t v = RawMain("SELECT xStr FROM tblCrypt", "xStr");
  ASSERT_EQ(v.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(v.bstrVal), 40u);
  std::string text = "x";
  Load(kCrypt, record)->GetString(kXStr, text);
  EXPECT_EQ(text, "");

  TestRecord other(kOther);  // database 1 has no version: format 1.0
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

TEST_F(LoaderSaverTest, ThousandByteEncryptedTextCrossesThePieceBoundary) {
  std::string value;
  for (int i = 0; i < 1000; ++i) value += static_cast<char>('A' + i % 26);
  TestRecord record(kCrypt);
  record.Text(kCID, "long");
  Append(kCrypt, record, [&](ISaver& s) {
    s.PutString(kCID, "long");
    s.PutString(kXStr, value);
  });
  _variant_t stored = RawMain("SELECT xStr FROM tblCrypt", "xStr");
  EXPECT_EQ(SysStringLen(stored.bstrVal), 1372u);
  std::string text;
  Load(kCrypt, record)->GetString(kXStr, text);
  EXPECT_EQ(text, value);
}

// Encrypted texts are handled in fixed stack buffers up to kStackTextChars
// stored characters (and plain bytes) and in buffers of their size beyond:
// values on both sides of each limit, Windows-1252 bytes included, read back
// through GetString and GetVariant; plain texts with and without non-ASCII
// characters store their UTF-16 form; a stored text with a non-ASCII
// character fails the MAC as any other text that is no Base64.
TEST_F(LoaderSaverTest, TextsAroundTheFixedBufferLimitsReadBackExactly) {
  // 356 plain bytes are the longest value whose text (512) fits the stack.
  static_assert(EncryptedTextLength(356) == kStackTextChars);
  const std::size_t lengths[] = {355, 356, 357, 511, 512, 513, 700};
  for (const std::size_t n : lengths) {
    std::string value;
    for (std::size_t i = 0; i < n; ++i)
      value += static_cast<char>(i % 3 == 0 ? '\xE4' : 'a' + i % 26);
    std::string id = "n";
    id += std::to_string(n);
    TestRecord record(kCrypt);
    record.Text(kCID, id);
    Append(kCrypt, record, [&](ISaver& s) {
      s.PutString(kCID, id);
      s.PutString(kXStr, value);
    });
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
    TestRecord record(kPlain);
    record.Long(kID, static_cast<LONG>(name.size()));
    Append(kPlain, record, [&](ISaver& s) {
      s.PutLong(kID, static_cast<LONG>(name.size()));
      s.PutString(kName, name);
    });
    _variant_t stored =
        RawMain("SELECT Name FROM tblPlain WHERE ID = " + std::to_string(name.size()), "Name");
    EXPECT_EQ(std::u16string(_bstr_t(stored).view()), platform::AnsiToWide(name));
    std::string text;
    Load(kPlain, record)->GetString(kName, text);
    EXPECT_EQ(text, name);
  }

  TestRecord record(kCrypt);
  record.Text(kCID, "u");
  Append(kCrypt, record, [&](ISaver& s) {
    s.PutString(kCID, "u");
    s.PutString(kXStr, "value");
  });
  {
    dao::DatabasePtr db = Raw(MainPath(), ";PWD=pw0");
    dao::RecordsetPtr rs = db->OpenRecordset("SELECT * FROM tblCrypt WHERE CID = 'u'");
    std::u16string altered(_bstr_t(rs->GetCollect(_variant_t("xStr"))).view());
    altered[20] = u'\u00E9';
    rs->Edit();
    rs->PutCollect(_variant_t("xStr"), _variant_t(_bstr_t(altered)));
    rs->Update();
    rs->Close();
    db->Close();
  }
  std::string text;
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, record)->GetString(kXStr, text), 0),
            "illegal MAC found in database");
}

TEST_F(LoaderSaverTest, MovedOrAlteredEncryptedValuesFailTheMac) {
  for (const char* id : {"a", "b"}) {
    TestRecord record(kCrypt);
    record.Text(kCID, id);
    Append(kCrypt, record, [&](ISaver& s) {
      s.PutString(kCID, id);
      s.PutLong(kXL, 42);
      s.PutLong(kXUL, 42);
      s.PutBool(kXB, true);
    });
  }
  {
    dao::DatabasePtr db = Raw(MainPath(), ";PWD=pw0");
    dao::RecordsetPtr a = db->OpenRecordset("SELECT * FROM tblCrypt WHERE CID = 'a'");
    const _variant_t vLong = a->GetCollect(_variant_t("xLong"));
    _bstr_t bools(a->GetCollect(_variant_t("xBool")));
    dao::RecordsetPtr b = db->OpenRecordset("SELECT * FROM tblCrypt WHERE CID = 'b'");
    b->Edit();
    b->PutCollect(_variant_t("xLong"), vLong);   // moved to another record
    b->PutCollect(_variant_t("xULong"), vLong);  // moved to another field
    b->Update();
    std::u16string altered(bools.view());
    altered[20] = altered[20] == u'A' ? u'B' : u'A';  // still Base64
    a->Edit();
    a->PutCollect(_variant_t("xBool"), _variant_t(_bstr_t(altered)));
    a->Update();
    a->Close();
    b->Close();
    db->Close();
  }
  TestRecord a(kCrypt), b(kCrypt);
  a.Text(kCID, "a");
  b.Text(kCID, "b");
  bool bValue = false;
  LONG lValue = 7;
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, a)->GetBool(kXB, bValue), 0),
            "illegal MAC found in database");
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, b)->GetLong(kXL, lValue), 0),
            "illegal MAC found in database");
  ULONG ulValue = 7;
  EXPECT_EQ(EXPECT_VEM_ERROR(Load(kCrypt, b)->GetULong(kXUL, ulValue), 0),
            "illegal MAC found in database");
  EXPECT_EQ(lValue, 7);
  Load(kCrypt, a)->GetLong(kXL, lValue);  // the original still reads
  EXPECT_EQ(lValue, 42);
}

TEST_F(LoaderSaverTest, NullColumnsAndBadInputEndInTheDefinedResults) {
  TestRecord record(kPlain);
  record.Long(kID, 1);
  Append(kPlain, record, [&](ISaver& s) { s.PutLong(kID, 1); });
  std::unique_ptr<ILoader> loader = Load(kPlain, record);
  LONG l = 5;
  const std::size_t before = Traces();
  EXPECT_VEM_ERROR(loader->GetLong(kL, l), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Traces(), before + 1) << "the engine error is traced once";
  EXPECT_EQ(l, 5);
  std::string text = "x";
  loader->GetString(kName, text);
  EXPECT_EQ(text, "");
  VARIANT v;
  VariantInit(&v);
  static_cast<IDaoLoader&>(*loader).GetVariant(kName, v);
  EXPECT_EQ(v.vt, VT_NULL);
  FakeBlob blob;
  loader->GetBlob(kBlob, blob);
  EXPECT_EQ(blob.m_lLoaded, -1);
  EXPECT_VEM_ERROR(loader->GetLong(999, l), E_INVALIDARG);
  EXPECT_VEM_ERROR(loader->GetLong(-1, l), E_INVALIDARG);
  EXPECT_TRUE(loader->Close());
  EXPECT_VEM_ERROR(loader->GetLong(kL, l), E_POINTER);

  // A record that does not exist: reads fail with the engine's "no current record".
  TestRecord missing(kPlain);
  missing.Long(kID, 99);
  std::unique_ptr<ILoader> none = Load(kPlain, missing);
  EXPECT_VEM_ERROR(none->GetLong(kL, l), 0x800A0BCD);
}

TEST_F(LoaderSaverTest, SaverOpenAndOpenNewCheckTheRecordsExistence) {
  TestRecord record(kPlain);
  record.Long(kID, 1);
  std::unique_ptr<ISaver> saver = Db(0).CreateSaver(Rec(kPlain));
  EXPECT_VEM_ERROR(saver->Open(record), 0xC004A006);
  Append(kPlain, record, [&](ISaver& s) {
    s.PutLong(kID, 1);
    s.PutLong(kL, 10);
  });
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

TEST_F(LoaderSaverTest, PutVariantAndBlobRules) {
  TestRecord record(kPlain);
  record.Long(kID, 1);
  FakeBlob none(-1);
  Append(kPlain, record, [&](ISaver& s) {
    auto& saver = static_cast<IDaoSaver&>(s);
    saver.PutLong(kID, 1);
    saver.PutVariant(kL, _variant_t(LONG{42}));
    saver.PutVariant(kName, _variant_t(""));
    saver.SetBlob(kBlob, none);
  });
  LONG l = 0;
  Load(kPlain, record)->GetLong(kL, l);
  EXPECT_EQ(l, 42);
  EXPECT_EQ(RawMain("SELECT Name FROM tblPlain", "Name").vt, VT_NULL);
  EXPECT_EQ(RawMain("SELECT BlobId FROM tblPlain", "BlobId").vt, VT_NULL);

  TestRecord crypt(kCrypt);
  crypt.Text(kCID, "v");
  Append(kCrypt, crypt, [&](ISaver& s) {
    auto& saver = static_cast<IDaoSaver&>(s);
    saver.PutString(kCID, "v");
    saver.PutVariant(kXStr, _variant_t(LONG{42}));  // a number is stored as its text
  });
  std::string text;
  Load(kCrypt, crypt)->GetString(kXStr, text);
  EXPECT_EQ(text, "42");
}

TEST_F(DriverTest, EncryptedBlobFieldIsLeftAlone) {
  // Field 60: an encrypted BLOB field over tblCrypt's xStr column.
  m_callback.post = [](IComStaticDataModelCreator* c) {
    c->AddFieldDef(60, _bstr_t("xStr"), 12, -1, VARIANT_TRUE);
    c->AddFieldToRecordDef(kCrypt, 60, VARIANT_FALSE, VARIANT_FALSE);
    return S_OK;
  };
  BuildModel();
  TestRecord record(kCrypt);
  record.Text(kCID, "b");
  FakeBlob blob(5);
  {
    DaoSaver saver(Db(0), Rec(kCrypt));
    saver.OpenNew(record);
    saver.PutString(kCID, "b");
    saver.SetBlob(60, blob);
    saver.Close();
  }
  EXPECT_EQ(blob.m_saves, 0);
  DaoLoader loader(Db(0), Rec(kCrypt));
  loader.Open(record);
  loader.GetBlob(60, blob);
  EXPECT_EQ(blob.m_loads, 0);
}

}  // namespace
}  // namespace drivertest
