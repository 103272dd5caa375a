// Error information objects and the per-thread error slot.
#include <gtest/gtest.h>

#include <thread>

#include "Platform/OleAuto.h"
#include "TestObjects.h"

using platformtest::RefCount;
using platformtest::Utf8;

namespace {

// A new error information object with the given description, as IErrorInfo.
IErrorInfo* NewErrorInfo(const char16_t* description) {
  ICreateErrorInfo* create = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(description));
  IErrorInfo* info = nullptr;
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  return info;
}

std::string DescriptionOf(IErrorInfo* info) {
  BSTR text = nullptr;
  EXPECT_EQ(info->GetDescription(&text), S_OK);
  std::string result = Utf8(text);
  SysFreeString(text);
  return result;
}

// Empties the calling thread's slot, so that tests start clean.
void DrainSlot() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK) info->Release();
}

}  // namespace

TEST(ErrorInfo, OneObjectServesBothInterfaces) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  EXPECT_EQ(create->SetDescription(const_cast<LPOLESTR>(u"File 'x.mdb' not found")), S_OK);
  EXPECT_EQ(create->SetGUID(IID_ISupportErrorInfo), S_OK);
  EXPECT_EQ(create->SetHelpContext(42), S_OK);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  EXPECT_EQ(DescriptionOf(info), "File 'x.mdb' not found");
  BSTR text = reinterpret_cast<BSTR>(0x1);
  EXPECT_EQ(info->GetHelpFile(&text), S_OK);
  EXPECT_EQ(text, nullptr);  // never set
  GUID guid = GUID_NULL;
  DWORD context = 0;
  EXPECT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_TRUE(guid == IID_ISupportErrorInfo);
  EXPECT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 42u);
  EXPECT_EQ(info->GetSource(nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetGUID(nullptr), E_INVALIDARG);
  EXPECT_EQ(info->GetHelpContext(nullptr), E_INVALIDARG);

  // IUnknown is the same object through either interface.
  IUnknown* unknown1 = nullptr;
  IUnknown* unknown2 = nullptr;
  ASSERT_EQ(create->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown1)), S_OK);
  ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown2)), S_OK);
  EXPECT_EQ(unknown1, unknown2);
  void* other = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(info->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(RefCount(info), 4u);
  unknown1->Release();
  unknown2->Release();
  info->Release();
  EXPECT_EQ(create->Release(), 0u);  // the last reference frees it
}

// Set takes a reference and replaces (releasing) what the slot held; Get
// hands the slot's reference over and empties it. Each thread has its own
// slot, released when the thread ends.
TEST(ErrorInfo, EachThreadsSlotHoldsOneReference) {
  DrainSlot();
  IErrorInfo* got = reinterpret_cast<IErrorInfo*>(0x1);
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(got, nullptr);

  IErrorInfo* info = NewErrorInfo(u"first");
  IErrorInfo* second = NewErrorInfo(u"second");
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  EXPECT_EQ(RefCount(info), 2u);  // ours and the slot's
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, info);
  EXPECT_EQ(RefCount(info), 2u);  // the slot's reference went to us
  got->Release();
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);  // cleared
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  ASSERT_EQ(SetErrorInfo(0, second), S_OK);
  EXPECT_EQ(RefCount(info), 1u);

  HRESULT otherSawBefore = E_FAIL;
  std::string otherSawAfter;
  std::thread other([&] {
    otherSawBefore = GetErrorInfo(0, &got);
    SetErrorInfo(0, info);
    if (GetErrorInfo(0, &got) == S_OK) {
      otherSawAfter = DescriptionOf(got);
      got->Release();
    }
    SetErrorInfo(0, info);  // left in the slot when the thread ends
  });
  other.join();
  EXPECT_EQ(otherSawBefore, S_FALSE);
  EXPECT_EQ(otherSawAfter, "first");
  EXPECT_EQ(RefCount(info), 1u) << "the ended thread's slot released it";
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(DescriptionOf(got), "second");
  got->Release();

  ASSERT_EQ(SetErrorInfo(0, second), S_OK);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);  // clears
  EXPECT_EQ(RefCount(second), 1u);
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(SetErrorInfo(1, info), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(1, &got), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
  info->Release();
  second->Release();
}
