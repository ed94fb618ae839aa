// BSTR allocation: length prefix, terminator, embedded NULs and null rules.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/olert/olert.h"

namespace {

uint32_t PrefixOf(BSTR b) {
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(b) - 4, 4);
  return bytes;
}

TEST(Bstr, AllocStringCopiesUpToNulWithBytePrefixAndTerminator) {
  BSTR b = SysAllocString(u"Quill");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(PrefixOf(b), 10u);
  EXPECT_EQ(std::u16string(b), u"Quill");
  EXPECT_EQ(b[5], 0);
  SysFreeString(b);
}

TEST(Bstr, AllocStringLenKeepsEmbeddedNuls) {
  const char16_t text[] = {u'a', 0, u'b', 0, u'c'};
  BSTR b = SysAllocStringLen(text, 5);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(PrefixOf(b), 10u);
  EXPECT_EQ(std::u16string(b, 5), std::u16string(text, 5));
  EXPECT_EQ(b[5], 0);
  SysFreeString(b);
}

TEST(Bstr, NullSourceWithLengthGivesZeroedText) {
  BSTR b = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(b[i], 0) << i;
  SysFreeString(b);
}

TEST(Bstr, EmptyTextIsARealString) {
  BSTR b = SysAllocStringLen(u"", 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 0u);
  EXPECT_EQ(PrefixOf(b), 0u);
  EXPECT_EQ(b[0], 0);
  SysFreeString(b);
}

TEST(Bstr, NullRules) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);  // no-op
  EXPECT_EQ(SysReAllocString(nullptr, u"x"), FALSE);
}

TEST(Bstr, ByteLengthAllocationKeepsOddByteCounts) {
  BSTR b = SysAllocStringByteLen("abc", 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringByteLen(b), 3u);
  EXPECT_EQ(SysStringLen(b), 1u);
  EXPECT_EQ(std::memcmp(b, "abc", 3), 0);
  EXPECT_EQ(reinterpret_cast<const char*>(b)[3], 0);
  EXPECT_EQ(reinterpret_cast<const char*>(b)[4], 0);
  SysFreeString(b);
}

TEST(Bstr, ReallocationReplacesTheText) {
  BSTR b = SysAllocString(u"old");
  ASSERT_EQ(SysReAllocString(&b, u"newer"), TRUE);
  EXPECT_EQ(std::u16string(b), u"newer");
  ASSERT_EQ(SysReAllocStringLen(&b, u"xy\0z", 4), TRUE);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(b[3], u'z');
  SysFreeString(b);
}

TEST(Bstr, ImpossibleLengthsFailInsteadOfWrapping) {
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

}  // namespace
