#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>

#include "app/link/json_reader.h"
#include "app/link/messages.h"

namespace {

TEST(Hello, DefaultsAndPresence) {
  HelloMessage h = ReadHello("");
  EXPECT_EQ(TruncatedInt(h.v), 0);
  EXPECT_EQ(h.device, "iPhone");
  EXPECT_EQ(h.model, "");
  EXPECT_FALSE(h.hasCode || h.hasToken);

  h = ReadHello(R"({"v":1,"device":"Quon","model":"iPhone15,2","code":"","token":"abc"})");
  EXPECT_EQ(TruncatedInt(h.v), 1);
  EXPECT_EQ(h.device, "Quon");
  EXPECT_EQ(h.model, "iPhone15,2");
  EXPECT_TRUE(h.hasCode) << "an empty code is still a code";
  EXPECT_EQ(h.code, "");
  EXPECT_TRUE(h.hasToken);
  EXPECT_EQ(h.token, "abc");
}

TEST(Hello, VersionIsTheIntegerPart) {
  EXPECT_EQ(TruncatedInt(ReadHello(R"({"v":1.9})").v), 1);
  EXPECT_EQ(TruncatedInt(ReadHello(R"({"v":"1"})").v), 0);
  EXPECT_EQ(TruncatedInt(ReadHello(R"({"v":-1.5})").v), -1);
  EXPECT_EQ(TruncatedInt(ReadHello(R"({"v":1e300})").v), 0);
  EXPECT_EQ(TruncatedInt(ReadHello(R"({"v":nan})").v), 0);
}

TEST(Config, DefaultsAndQualityClass) {
  ConfigMessage c = ReadConfig("{}");
  EXPECT_EQ(c.codec, "h264");
  EXPECT_EQ(c.width, 0);
  EXPECT_EQ(c.fps, 60);
  c = ReadConfig(R"({"codec":"hevc","width":1920.7,"height":1080,"fps":29.97})");
  EXPECT_EQ(c.codec, "hevc");
  EXPECT_EQ(TruncatedInt(c.width), 1920);
  EXPECT_EQ(ResolutionIndex(1280, 720), 0);
  EXPECT_EQ(ResolutionIndex(1080, 1920), 1) << "the smaller side decides";
  EXPECT_EQ(ResolutionIndex(3840, 2160), 2);
  EXPECT_EQ(ResolutionIndex(1920, 1088), -1);
  EXPECT_EQ(RateIndex(30), 0);
  EXPECT_EQ(RateIndex(60), 1);
  EXPECT_EQ(RateIndex(29), -1);
}

TEST(Status, TopLevelBlurIsNotCapsBlur) {
  StatusMessage s = ReadStatus(R"({"caps":{"720p":[30,60],"4K":[30]},"blur":0.4})");
  EXPECT_TRUE(s.hasCaps);
  EXPECT_FALSE(s.capsBlur);
  EXPECT_TRUE(s.hasBlur);
  EXPECT_EQ(s.blur, 0.4);
  ASSERT_TRUE(s.hasRates);
  EXPECT_EQ(s.rates[0], 3);
  EXPECT_EQ(s.rates[1], 0);
  EXPECT_EQ(s.rates[2], 1);
}

TEST(Status, FocusWithoutFacesReportsZero) {
  StatusMessage s = ReadStatus(R"({"focus":{"mode":"manual","value":0.25}})");
  EXPECT_TRUE(s.hasFocus);
  EXPECT_EQ(s.faces, 0);
  EXPECT_EQ(s.mode, "manual");
  EXPECT_TRUE(s.hasValue);
  EXPECT_EQ(s.value, 0.25);
  EXPECT_FALSE(s.hasBlur);
  EXPECT_FALSE(s.hasCaps);
}

TEST(Status, EverythingAtOnce) {
  StatusMessage s = ReadStatus(
      R"({"caps":{"720p":[30],"1080p":[30,60],"focus":["face","manual"],"blur":true},)"
      R"("focus":{"mode":"auto","value":0.5,"faces":2,"blur":0.9},"blur":0.15,"paused":true,)"
      R"("battery":0.8,"camera":"Gran angular"})");
  EXPECT_TRUE(s.capsBlur);
  EXPECT_EQ(s.focusModes, 0b101);
  EXPECT_EQ(s.faces, 2);
  EXPECT_EQ(s.mode, "auto");
  EXPECT_EQ(s.blur, 0.15) << "blur inside focus is not the top-level one";
  EXPECT_TRUE(s.hasPaused && s.paused);
  EXPECT_EQ(s.battery, 0.8);
  EXPECT_EQ(s.camera, "Gran angular");
  EXPECT_EQ(s.rates[0], 1);
  EXPECT_EQ(s.rates[1], 3);
}

TEST(Status, AbsentKeysStayAbsent) {
  StatusMessage s = ReadStatus(R"({"battery":"alta"})");
  EXPECT_FALSE(s.hasCaps || s.hasFocus || s.hasBlur || s.hasPaused || s.hasBattery || s.hasCamera || s.hasRates);
}

TEST(Texts, WelcomeEscapesOnlyThePcName) {
  EXPECT_EQ(WelcomeText("PC \"uno\"\t", "id-1", std::string(64, 'a')),
            "{\"pc\":\"PC \\\"uno\\\"\\u0009\",\"id\":\"id-1\",\"token\":\"" + std::string(64, 'a') + "\"}");
  EXPECT_EQ(DenyText("busy"), R"({"reason":"busy"})");
}

TEST(Texts, CommandsAreExact) {
  EXPECT_EQ(QualityCommand(1, 0), R"({"cmd":"quality","res":"1080p","fps":30})");
  EXPECT_EQ(QualityCommand(2, 1), R"({"cmd":"quality","res":"4K","fps":60})");
  EXPECT_EQ(PauseCommand(), R"({"cmd":"pause"})");
  EXPECT_EQ(ResumeCommand(), R"({"cmd":"resume"})");
  EXPECT_EQ(KeyframeCommand(), R"({"cmd":"keyframe"})");
  EXPECT_EQ(FocusCommand(2, 0.4256), R"({"cmd":"focus","mode":"manual","value":0.426})");
  EXPECT_EQ(FocusCommand(0, 1), R"({"cmd":"focus","mode":"face","value":1.000})");
  EXPECT_EQ(BlurCommand(0.5), R"({"cmd":"blur","value":0.500})");
  EXPECT_EQ(SavedBlurCommand(0.6f), R"({"cmd":"blur","value":0.60})");
  EXPECT_EQ(SavedBlurCommand(0), R"({"cmd":"blur","value":0.00})");
}

TEST(Texts, DecimalPointWhateverTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  struct Restore {
    std::string saved;
    ~Restore() { std::setlocale(LC_NUMERIC, saved.c_str()); }
  } restore{old ? old : "C"};
  // scripts/setup makes this locale: without it the check below proves nothing.
  ASSERT_TRUE(std::setlocale(LC_NUMERIC, "es_AR.UTF-8")) << "no es_AR.UTF-8 locale: run scripts/setup";
  char comma[8];
  std::snprintf(comma, sizeof comma, "%.1f", 0.5);
  ASSERT_STREQ(comma, "0,5") << "the locale writes a decimal comma";
  EXPECT_EQ(BlurCommand(0.25), R"({"cmd":"blur","value":0.250})");
  double v = 0;
  EXPECT_TRUE(JsonNumber(R"({"v":0.5})", "v", &v));
  EXPECT_EQ(v, 0.5);
}

}  // namespace
