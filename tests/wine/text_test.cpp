#include <gtest/gtest.h>

#include "common/text_win.h"

namespace {

TEST(Text, Utf8AndWideRoundTripOnExactBytes) {
  const std::string utf8 = "Se\xc3\xb1or \xe2\x82\xac \xf0\x9f\x93\xb7";  // "Señor € 📷"
  const std::wstring wide = L"Se\x00f1or \x20ac \xd83d\xdcf7";
  EXPECT_EQ(Utf8ToWide(utf8), wide);
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(Text, EmbeddedNulIsKept) {
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
  std::wstring wide = Utf8ToWide("a\xff" "b");
  EXPECT_EQ(wide, L"a\xfffd" L"b");
  std::string utf8 = WideToUtf8(std::wstring(L"x\xd800y"));  // lone surrogate half
  EXPECT_EQ(utf8, "x\xef\xbf\xbdy");
}

}  // namespace
