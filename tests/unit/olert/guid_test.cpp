// GUID text: the braced upper-case form, reading in any case, and refusing
// everything malformed.
#include <gtest/gtest.h>

#include <cctype>

#include "olert_test_support.h"
#include "platform/olert/olert.h"

namespace {

using olert_test::U16;

std::string Text(const GUID& g) {
  OLECHAR buf[64];
  int n = StringFromGUID2(g, buf, 64);
  EXPECT_EQ(n, 39);
  return std::string(buf, buf + n - 1);
}

TEST(GuidText, StandardIdentifiersPrintInRegistryForm) {
  EXPECT_EQ(Text(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(Text(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  EXPECT_EQ(Text(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
  EXPECT_EQ(Text(IID_IEnumVARIANT), "{00020404-0000-0000-C000-000000000046}");
  EXPECT_EQ(Text(IID_IErrorInfo), "{1CF2B120-547D-101B-8E65-08002B2BD119}");
  EXPECT_EQ(Text(IID_ICreateErrorInfo), "{22F03340-547D-101B-8E65-08002B2BD119}");
  EXPECT_EQ(Text(IID_ISupportErrorInfo), "{DF0B3D60-548F-101B-8E65-08002B2BD119}");
  EXPECT_EQ(Text(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GuidText, BufferMustHoldAllThirtyNineCharacters) {
  OLECHAR buf[39];
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, buf, 38), 0);
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, nullptr, 39), 0);
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, buf, 39), 39);
  EXPECT_EQ(buf[38], 0);
}

TEST(GuidText, ReadsBackInEitherCase) {
  const GUID samples[] = {IID_IErrorInfo, IID_IObjectSafety,
                          {0xFFFFFFFF, 0xABCD, 0xEF01, {0xFF, 0, 1, 2, 3, 4, 5, 0x99}}};
  for (const GUID& g : samples) {
    std::string text = Text(g);
    CLSID back;
    ASSERT_EQ(CLSIDFromString(U16(text).c_str(), &back), S_OK) << text;
    EXPECT_EQ(back, g);
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(CLSIDFromString(U16(lower).c_str(), &back), S_OK) << lower;
    EXPECT_EQ(back, g);
    IID iid;
    ASSERT_EQ(IIDFromString(U16(lower).c_str(), &iid), S_OK);
    EXPECT_EQ(iid, g);
  }
  LPOLESTR allocated = nullptr;
  ASSERT_EQ(StringFromCLSID(IID_IDispatch, &allocated), S_OK);
  EXPECT_EQ(std::u16string(allocated), u"{00020400-0000-0000-C000-000000000046}");
  CoTaskMemFree(allocated);
}

TEST(GuidText, MalformedTextIsRefused) {
  olert_test::ScopedRegistry registry;  // text without a brace is tried as a ProgID
  const char* bad[] = {
      "",
      "{}",
      "00020400-0000-0000-C000-000000000046",
      "{00020400-0000-0000-C000-000000000046",
      "{00020400-0000-0000-C000-000000000046}}",
      "{00020400-0000-0000-C000-00000000004}",
      "{00020400-0000-0000-C000-0000000000467}",
      "{00020400+0000-0000-C000-000000000046}",
      "{00020400-0000-0000-C0000-00000000046}",
      "{0002040G-0000-0000-C000-000000000046}",
      "{00020400-0000-0000-C000-00000000004 }",
      "{ 0020400-0000-0000-C000-000000000046}",
      "not a guid",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    CLSID out = IID_IDispatch;
    EXPECT_EQ(CLSIDFromString(U16(text).c_str(), &out), CO_E_CLASSSTRING);
    EXPECT_EQ(out, CLSID_NULL);
    IID iid = IID_IDispatch;
    EXPECT_EQ(IIDFromString(U16(text).c_str(), &iid), E_INVALIDARG);
  }
  CLSID out;
  EXPECT_EQ(CLSIDFromString(nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(CLSIDFromString(u"{00020400-0000-0000-C000-000000000046}", nullptr), E_INVALIDARG);
}

}  // namespace
