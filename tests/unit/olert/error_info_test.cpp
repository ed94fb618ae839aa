// Error information: the object's fields, and the one slot per thread that
// GetErrorInfo empties.
#include <gtest/gtest.h>

#include <thread>

#include "olert_test_support.h"
#include "platform/olert/olert.h"

namespace {

using olert_test::Ascii;

// An IErrorInfo of the test's own, to see that the slot takes and gives
// back references exactly.
class CountedError final : public IErrorInfo {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT GetGUID(GUID*) override { return E_NOTIMPL; }
  HRESULT GetSource(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetDescription(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetHelpFile(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetHelpContext(DWORD*) override { return E_NOTIMPL; }
  std::atomic<ULONG> refs{1};
};

IErrorInfo* MakeError(const char16_t* description) {
  ICreateErrorInfo* create = nullptr;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetGUID(IID_IDispatch);
  create->SetSource(const_cast<LPOLESTR>(u"Harrow.Quill"));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetHelpContext(7);
  IErrorInfo* info = nullptr;
  EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  create->Release();
  return info;
}

TEST(ErrorInfo, ObjectKeepsWhatWasSetAndHandsOutCopies) {
  IErrorInfo* info = MakeError(u"Something failed");
  GUID guid;
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_EQ(guid, IID_IDispatch);
  BSTR source = nullptr, description = nullptr, help = nullptr;
  ASSERT_EQ(info->GetSource(&source), S_OK);
  ASSERT_EQ(info->GetDescription(&description), S_OK);
  ASSERT_EQ(info->GetHelpFile(&help), S_OK);
  EXPECT_EQ(Ascii(source), "Harrow.Quill");
  EXPECT_EQ(Ascii(description), "Something failed");
  EXPECT_EQ(help, nullptr);
  DWORD context = 0;
  ASSERT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 7u);
  EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(info->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  SysFreeString(source);
  SysFreeString(description);
  info->Release();
}

TEST(ErrorInfo, GetHandsTheObjectOverAndClearsTheSlot) {
  IErrorInfo* info = MakeError(u"once");
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  info->Release();  // the slot holds its own reference
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  ASSERT_EQ(got, info);
  BSTR description = nullptr;
  got->GetDescription(&description);
  EXPECT_EQ(Ascii(description), "once");
  SysFreeString(description);
  got->Release();
  got = reinterpret_cast<IErrorInfo*>(1);
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(got, nullptr);
}

TEST(ErrorInfo, SetReplacesAndNullClears) {
  CountedError first, second;
  ASSERT_EQ(SetErrorInfo(0, &first), S_OK);
  EXPECT_EQ(first.refs, 2u);
  ASSERT_EQ(SetErrorInfo(0, &second), S_OK);
  EXPECT_EQ(first.refs, 1u);
  EXPECT_EQ(second.refs, 2u);
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(second.refs, 1u);
  IErrorInfo* got;
  EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
  EXPECT_EQ(SetErrorInfo(1, &first), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, EachThreadHasItsOwnSlot) {
  IErrorInfo* main_error = MakeError(u"main");
  ASSERT_EQ(SetErrorInfo(0, main_error), S_OK);
  CountedError left_behind;
  std::thread other([&] {
    IErrorInfo* got = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);  // nothing of the main thread's
    IErrorInfo* mine = MakeError(u"other");
    SetErrorInfo(0, mine);
    mine->Release();
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    BSTR d = nullptr;
    got->GetDescription(&d);
    EXPECT_EQ(Ascii(d), "other");
    SysFreeString(d);
    got->Release();
    SetErrorInfo(0, &left_behind);  // dropped when the thread ends
  });
  other.join();
  EXPECT_EQ(left_behind.refs, 1u);
  IErrorInfo* got = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got, main_error);
  got->Release();
  main_error->Release();
}

}  // namespace
