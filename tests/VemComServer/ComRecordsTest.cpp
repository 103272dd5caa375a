// Loader, saver and recordset objects: values by type, dates, moves and
// finds, the cached loader and saver, and lifetimes.
#include <cmath>
#include <functional>

#include "ComFixture.h"
#include "VemComServer/Module.h"

namespace comtest {
namespace {

_variant_t Of(VARTYPE vt, std::function<void(VARIANT&)> set) {
  _variant_t v;
  v.vt = vt;
  set(v);
  return v;
}

_variant_t Text(const char16_t* sz) {
  return Of(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(sz); });
}

std::u16string TextOf(const VARIANT& v) {
  return v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"<not a text>";
}

TEST_F(ComTest, ValuesAreWrittenByVariantTypeAndReadByFieldType) {
  Ptr<IComDataModel> pModel = OpenModel();
  // Each row: field of tblCustomer (encrypted fields 12 to 21 cover every
  // type), the VARIANT written, the type read back and a check of the value.
  const struct {
    LONG lField;
    _variant_t written;
    VARTYPE vtRead;
    std::function<bool(const VARIANT&)> same;
  } cases[] = {
      {kCusName, Text(u"Gr\u00fc\u00dfe"), VT_BSTR,
       [](const VARIANT& v) { return TextOf(v) == u"Gr\u00fc\u00dfe"; }},
      {12, Text(u"geheim"), VT_BSTR, [](const VARIANT& v) { return TextOf(v) == u"geheim"; }},
      {13, Of(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; }), VT_BOOL,
       [](const VARIANT& v) { return v.boolVal == VARIANT_TRUE; }},
      {14, Of(VT_I1, [](VARIANT& v) { v.cVal = -5; }), VT_I1,
       [](const VARIANT& v) { return v.cVal == -5; }},
      {15, Of(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), VT_UI1,
       [](const VARIANT& v) { return v.bVal == 200; }},
      {16, Of(VT_I2, [](VARIANT& v) { v.iVal = -300; }), VT_I2,
       [](const VARIANT& v) { return v.iVal == -300; }},
      {17, Of(VT_UI2, [](VARIANT& v) { v.uiVal = 60000; }), VT_UI2,
       [](const VARIANT& v) { return v.uiVal == 60000; }},
      {18, Of(VT_I4, [](VARIANT& v) { v.lVal = -70000; }), VT_I4,
       [](const VARIANT& v) { return v.lVal == -70000; }},
      {19, Of(VT_UI4, [](VARIANT& v) { v.ulVal = 4000000000u; }), VT_UI4,
       [](const VARIANT& v) { return v.ulVal == 4000000000u; }},
      {20, Of(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }), VT_R4,
       [](const VARIANT& v) { return v.fltVal == 1.5f; }},
      {21, Of(VT_R8, [](VARIANT& v) { v.dblVal = -2.25; }), VT_R8,
       [](const VARIANT& v) { return v.dblVal == -2.25; }},
      // Converted by the driver to the field's type.
      {18, Of(VT_I2, [](VARIANT& v) { v.iVal = 77; }), VT_I4,
       [](const VARIANT& v) { return v.lVal == 77; }},
  };
  for (const auto& c : cases) {
    ClientRecord customer(kCustomer);
    customer.Long(kCusId, 0);
    Ptr<IComSaver> pSaver;
    ASSERT_EQ(pModel->CreateComSaver(kCustomer, &pSaver), S_OK);
    ASSERT_EQ(pSaver->OpenNew(&customer), S_OK);
    EXPECT_EQ(pSaver->PutValue(c.lField, c.written), S_OK) << c.lField;
    ASSERT_EQ(pSaver->Close(), S_OK);
    Ptr<IComLoader> pLoader;
    ASSERT_EQ(pModel->CreateComLoader(kCustomer, &pLoader), S_OK);
    ASSERT_EQ(pLoader->Open(&customer), S_OK);
    _variant_t read;
    EXPECT_EQ(pLoader->GetValue(c.lField, &read), S_OK) << c.lField;
    EXPECT_EQ(read.vt, c.vtRead) << c.lField;
    EXPECT_TRUE(read.vt == c.vtRead && c.same(read)) << c.lField;
  }
}

TEST_F(ComTest, DatesBlobsAndUnwritableTypes) {
  Ptr<IComDataModel> pModel = OpenModel();
  ClientRecord doc(kDocument);
  doc.Long(kDocId, AppendDocument(pModel.get(), u"kept"));
  {
    Ptr<IComSaver> pSaver;
    ASSERT_EQ(pModel->CreateComSaver(kDocument, &pSaver), S_OK);
    ASSERT_EQ(pSaver->Open(&doc), S_OK);
    EXPECT_EQ(pSaver->PutValueDate(kDocCreated, 2024, 2, 29, 13, 14, 15, 0), S_OK);
    // Types without a write: nothing is written, S_OK.
    for (VARTYPE vt : std::vector<VARTYPE>{VT_NULL, VT_DATE, VT_EMPTY, VT_CY, VT_BYREF | VT_I4}) {
      _variant_t v;
      v.vt = vt;
      v.date = 1.0;
      EXPECT_EQ(pSaver->PutValue(kDocTitle, v), S_OK) << vt;
    }
    ASSERT_EQ(pSaver->Close(), S_OK);
  }
  Ptr<IComLoader> pLoader;
  ASSERT_EQ(pModel->CreateComLoader(kDocument, &pLoader), S_OK);
  ASSERT_EQ(pLoader->Open(&doc), S_OK);
  _variant_t v;
  ASSERT_EQ(pLoader->GetValue(kDocTitle, &v), S_OK);
  EXPECT_EQ(TextOf(v), u"kept");
  for (LONG lField : {kDocCreated, kDocData}) {  // read through their own methods only
    EXPECT_EQ(pLoader->GetValue(lField, &v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY) << lField;
  }
  USHORT y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 9;
  ASSERT_EQ(pLoader->GetValueDate(kDocCreated, &y, &mo, &d, &h, &mi, &s, &ms), S_OK);
  EXPECT_EQ((std::vector<USHORT>{y, mo, d, h, mi, s, ms}),
            (std::vector<USHORT>{2024, 2, 29, 13, 14, 15, 0}));
}

TEST_F(ComTest, RecordsetMovesFindsAndItsCachedLoaderAndSaver) {
  Ptr<IComDataModel> pModel = OpenModel();
  for (const char16_t* sz : {u"a", u"b", u"c"}) AppendDocument(pModel.get(), sz);
  Ptr<IComRecordsetStrategy> pRecordset;
  ASSERT_EQ(pModel->CreateComRecordsetStrategy(kDocument, &pRecordset), S_OK);
  ASSERT_EQ(pRecordset->Open(), S_OK);
  LONG lCount = 0;
  ASSERT_EQ(pRecordset->GetRecordCount(&lCount), S_OK);
  EXPECT_EQ(lCount, 3);
  Ptr<IComLoader> pLoader, pLoader2;
  ASSERT_EQ(pRecordset->GetComLoader(&pLoader), S_OK);
  ASSERT_EQ(pRecordset->GetComLoader(&pLoader2), S_OK);
  EXPECT_EQ(pLoader.get(), pLoader2.get());

  auto title = [&] {
    _variant_t v;
    EXPECT_EQ(pLoader->GetValue(kDocTitle, &v), S_OK);
    return TextOf(v);
  };
  BSTR found = SysAllocString(u"{32} = 'b'");
  BSTR missing = SysAllocString(u"{32} = 'zzz'");
  const struct {
    const char* name;
    std::function<HRESULT()> call;
    HRESULT expected;
    std::u16string title;  // of the current record afterwards
  } steps[] = {
      {"MoveFirst", [&] { return pRecordset->MoveFirst(); }, S_OK, u"a"},
      {"MoveNext", [&] { return pRecordset->MoveNext(); }, S_OK, u"b"},
      {"MoveLast", [&] { return pRecordset->MoveLast(); }, S_OK, u"c"},
      {"MoveNext at the end", [&] { return pRecordset->MoveNext(); }, S_FALSE, u""},
      {"FindFirst", [&] { return pRecordset->FindFirst(found); }, S_OK, u"b"},
      {"FindNext without a match", [&] { return pRecordset->FindNext(missing); }, E_FAIL, u""},
      {"FindLast without a match", [&] { return pRecordset->FindLast(missing); }, E_FAIL, u""},
      {"MoveTo", [&] { return pRecordset->MoveTo(2); }, S_OK, u"c"},
  };
  for (const auto& step : steps) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(step.call(), step.expected) << step.name;
    if (step.expected == S_FALSE) {
      EXPECT_TRUE(TakeErrorInfo().description.empty()) << step.name;
    }
    if (!step.title.empty()) {
      EXPECT_EQ(title(), step.title) << step.name;
    }
  }
  SysFreeString(found);
  SysFreeString(missing);

  // One saver object, pointed at the saver of the latest call.
  ClientRecord added(kDocument);
  added.Long(kDocId, 0);
  Ptr<IComSaver> pAppend, pUpdate, pSaver;
  ASSERT_EQ(pRecordset->BeginAppend(&added, &pAppend), S_OK);
  ASSERT_EQ(pAppend->PutValue(kDocTitle, Text(u"d")), S_OK);
  ASSERT_EQ(pRecordset->FinishAppend(), S_OK);
  ASSERT_EQ(pRecordset->MoveFirst(), S_OK);
  ASSERT_EQ(pRecordset->BeginUpdate(&pUpdate), S_OK);
  ASSERT_EQ(pRecordset->GetComSaver(&pSaver), S_OK);
  EXPECT_EQ(pAppend.get(), pUpdate.get());
  EXPECT_EQ(pAppend.get(), pSaver.get());
  ASSERT_EQ(pUpdate->PutValue(kDocTitle, Text(u"A")), S_OK);
  ASSERT_EQ(pRecordset->FinishUpdate(), S_OK);
  EXPECT_EQ(title(), u"A");
  ASSERT_EQ(pRecordset->Close(), S_OK);
  ASSERT_EQ(pRecordset->Open(), S_OK);
  ASSERT_EQ(pRecordset->GetRecordCount(&lCount), S_OK);
  EXPECT_EQ(lCount, 4);
  EXPECT_EQ(added.m_lRefs, 0);
}

TEST_F(ComTest, ObjectsKeepWhatTheyNeedAliveWhateverTheReleaseOrder) {
  Ptr<IComDataModel> pModel = OpenModel();
  ClientRecord doc(kDocument);
  doc.Long(kDocId, AppendDocument(pModel.get(), u"alive"));
  Ptr<IComRecordsetStrategy> pRecordset;
  Ptr<IComLoader> pLoader, pCachedLoader;
  Ptr<IComBlobStrategy> pBlob;
  ASSERT_EQ(pModel->CreateComRecordsetStrategy(kDocument, &pRecordset), S_OK);
  ASSERT_EQ(pModel->CreateComLoader(kDocument, &pLoader), S_OK);
  ASSERT_EQ(pModel->CreateComBlobStrategy(kDocument, &pBlob), S_OK);
  ASSERT_EQ(pRecordset->Open(), S_OK);
  ASSERT_EQ(pRecordset->GetComLoader(&pCachedLoader), S_OK);
  pModel = nullptr;      // the data model first
  pRecordset = nullptr;  // then the recordset, whose cached loader is still held
  _variant_t v;
  EXPECT_EQ(pCachedLoader->GetValue(kDocTitle, &v), S_OK);
  EXPECT_EQ(TextOf(v), u"alive");
  EXPECT_EQ(pLoader->Open(&doc), S_OK);
  EXPECT_EQ(pLoader->GetValue(kDocTitle, &v), S_OK);
  EXPECT_EQ(TextOf(v), u"alive");
  VARIANT_BOOL b = 1;
  EXPECT_EQ(pBlob->IsPresent(&b), S_OK);
  EXPECT_EQ(b, VARIANT_FALSE);
  EXPECT_GT(vemserver::ModuleLockCount(), m_lLocksAtStart);
  // The fixture checks that the lock count is back once these are released.
}

}  // namespace
}  // namespace comtest
