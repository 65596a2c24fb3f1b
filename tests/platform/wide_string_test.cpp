#include "platform/wide_string.h"

#include <gtest/gtest.h>

using namespace vorlin::platform;

TEST(WideString, Utf8RoundTrips) {
  const std::wstring text = L"a\u00e9\u6e2c\U0001F600z";
  const std::string utf8 = ToUtf8(text);
  EXPECT_EQ(utf8, "a\xc3\xa9\xe6\xb8\xac\xf0\x9f\x98\x80z");
  EXPECT_EQ(FromUtf8(utf8), text);
  EXPECT_EQ(ToUtf8(static_cast<const wchar_t*>(nullptr)), "");
}

TEST(WideString, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(FromUtf8("a\xff" "b"), L"a\ufffdb");
  EXPECT_EQ(FromUtf8("\xe6\xb8"), L"\ufffd");          // cut short
  EXPECT_EQ(FromUtf8("\xc0\x80"), L"\ufffd");          // overlong
  EXPECT_EQ(FromUtf8("\xed\xa0\x80"), L"\ufffd");      // surrogate
  EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0x110000))), "\xef\xbf\xbd");
}
