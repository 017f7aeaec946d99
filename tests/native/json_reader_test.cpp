#include <gtest/gtest.h>

#include "app/link/json_reader.h"
#include "app/link/messages.h"

namespace {

std::string Str(std::string_view text, std::string_view key, std::string initial = "(sin tocar)") {
  std::string out = initial;
  JsonString(text, key, &out);
  return out;
}

TEST(JsonReader, FindSkipsKeysNotFollowedByAColon) {
  std::string_view t = R"({"a":"model", "model" : "x"})";
  ASSERT_TRUE(JsonFind(t, "model"));
  EXPECT_EQ(t.substr(*JsonFind(t, "model")), "\"x\"}");
  EXPECT_FALSE(JsonFind(t, "Model")) << "case-sensitive";
  EXPECT_FALSE(JsonFind("{\"k\"", "k"));
  EXPECT_EQ(JsonFind("{\"k\":", "k"), 5u) << "the value may start at the very end";
  EXPECT_EQ(Str(R"({"outer":{"k":"deep"}})", "k"), "deep") << "any depth";
}

TEST(JsonReader, Booleans) {
  bool b = false;
  EXPECT_TRUE(JsonBool(R"({"p":true})", "p", &b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(JsonBool(R"({"p": false})", "p", &b));
  EXPECT_FALSE(b);
  b = true;
  EXPECT_FALSE(JsonBool(R"({"p":"true"})", "p", &b));
  EXPECT_FALSE(JsonBool(R"({"p":tru)", "p", &b));
  EXPECT_FALSE(JsonBool(R"({"p":1})", "p", &b));
  EXPECT_TRUE(b) << "out untouched when absent";
}

TEST(JsonReader, NumbersReadLikeStrtod) {
  double d = -7;
  EXPECT_TRUE(JsonNumber(R"({"v":1.9})", "v", &d));
  EXPECT_EQ(d, 1.9);
  EXPECT_TRUE(JsonNumber(R"({"v":-2e3,"w":0})", "v", &d));
  EXPECT_EQ(d, -2000);
  d = -7;
  EXPECT_FALSE(JsonNumber(R"({"v":"1"})", "v", &d));
  EXPECT_FALSE(JsonNumber(R"({"v":null})", "v", &d));
  EXPECT_FALSE(JsonNumber(R"({"v":{}})", "v", &d));
  EXPECT_EQ(d, -7);
}

TEST(JsonReader, StringEscapes) {
  EXPECT_EQ(Str(R"({"s":"a\"b\\c\/d"})", "s"), "a\"b\\c/d");
  EXPECT_EQ(Str(R"({"s":"\b\f\n\r\t"})", "s"), "\b\f\n\r\t");
  EXPECT_EQ(Str(R"({"s":"\u00e9"})", "s"), "\xc3\xa9");
  EXPECT_EQ(Str(R"({"s":"\u0041\u20ac"})", "s"), "A\xe2\x82\xac");
  EXPECT_EQ(Str(R"({"s":"\ud83d\udcf7"})", "s"), "\xed\xa0\xbd\xed\xb3\xb7") << "halves encoded one by one";
  EXPECT_EQ(Str(R"({"s":"\u00zz"})", "s"), std::string("\0", 1)) << "hex reading stops at a non-digit";
  EXPECT_EQ(Str(R"({"s":"\x"})", "s"), "x");
  EXPECT_EQ(Str(R"({"s":"ab\u12")", "s"), "ab12") << "a cut \\u is dropped";
}

TEST(JsonReader, StringWithoutClosingQuoteIsAbsent) {
  EXPECT_EQ(Str(R"({"s":"abc)", "s"), "(sin tocar)");
  EXPECT_EQ(Str(R"({"s":"abc\")", "s"), "(sin tocar)");
  EXPECT_EQ(Str(R"({"s":"abc\)", "s"), "(sin tocar)");
  EXPECT_EQ(Str(R"({"s":12})", "s"), "(sin tocar)");
  EXPECT_EQ(Str(R"({"s":""})", "s"), "");
}

TEST(JsonReader, CutTakesOutTheWholeValue) {
  std::string object, rest;
  ASSERT_TRUE(JsonCut(R"({"caps":{"a":[1,{"b":"}]"}]},"blur":0.4})", "caps", &object, &rest));
  EXPECT_EQ(object, R"({"a":[1,{"b":"}]"}]})");
  EXPECT_EQ(rest, R"({,"blur":0.4})");
  ASSERT_TRUE(JsonCut(R"({"x":1,"caps":"no","caps":["y\"]"]})", "caps", &object, &rest));
  EXPECT_EQ(object, R"(["y\"]"])") << "a value that is no object is passed over";
  EXPECT_FALSE(JsonCut(R"({"caps":{"a":[1})", "caps", &object, &rest)) << "unterminated";
  EXPECT_FALSE(JsonCut(R"({"caps":1})", "caps", &object, &rest));
}

TEST(JsonReader, CapsBits) {
  uint8_t r[3] = {9, 9, 9};
  ASSERT_TRUE(ReadCapsBits(R"({"caps":{"720p":[30,60],"4K":[30]},"blur":0.4})", r));
  EXPECT_EQ(r[0], 3);
  EXPECT_EQ(r[1], 0);
  EXPECT_EQ(r[2], 1);
  ASSERT_TRUE(ReadCapsBits(R"({"caps":{"1080p":[ 24, 60 ,x30, -30]}})", r));
  EXPECT_EQ(r[1], 3) << "24 is skipped, x is skipped, 30 after it is read";
  ASSERT_TRUE(ReadCapsBits(R"({"caps":{"focus":{},"720p":[30]}})", r));
  EXPECT_EQ(r[0], 0) << "the caps text ends at its first closing brace";
  EXPECT_FALSE(ReadCapsBits(R"({"cap")", r));
  EXPECT_FALSE(ReadCapsBits(R"({"caps":[30]})", r));
  EXPECT_FALSE(ReadCapsBits(R"({"caps":{"720p":[30])", r));
  EXPECT_TRUE(ReadCapsBits(R"({"caps":{"720p":[30}})", r));
  EXPECT_EQ(r[0], 0) << "no closing bracket inside caps: byte stays 0";
}

TEST(JsonWriter, EscapeQuotesBackslashesAndControlBytes) {
  EXPECT_EQ(JsonEscape("a\"b\\c\td\ne\x01\x1f\x7f\xc3\xa9"), "a\\\"b\\\\c\\u0009d\\u000ae\\u0001\\u001f\x7f\xc3\xa9");
  EXPECT_EQ(JsonEscape(std::string("\0", 1)), "\\u0000");
}

}  // namespace
