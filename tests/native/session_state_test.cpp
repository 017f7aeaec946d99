#include <gtest/gtest.h>

#include "app/link/session_state.h"

namespace {

AppState Active() {
  AppState s;
  s.pending = {{3, "otro"}};
  ResetForActivation(&s, "Quon", "iPhone15,2");
  return s;
}

TEST(Activation, StartsFromTheTableValuesAndKeepsThePendingList) {
  AppState s;
  s.width = 1920;
  s.roundTripMs = 12;
  s.blurValue = 0.5f;
  s.pending = {{3, "otro"}};
  ResetForActivation(&s, "Quon", "iPhone15,2");
  EXPECT_TRUE(s.connected);
  EXPECT_EQ(s.deviceName, "Quon");
  EXPECT_EQ(s.width, 0);
  EXPECT_EQ(s.roundTripMs, -1);
  EXPECT_EQ(s.battery, -1);
  EXPECT_EQ(s.requestedResolution, -1);
  EXPECT_EQ(s.focusValue, 0.5f);
  EXPECT_EQ(s.blurValue, 0.0f);
  ASSERT_EQ(s.pending.size(), 1u);
}

TEST(Status, CapsAreStoredAndLoggedOnce) {
  AppState s = Active();
  std::string line;
  StatusMessage m = ReadStatus(R"({"caps":{"720p":[30,60],"4K":[30],"focus":["face","manual"],"blur":true}})");
  EXPECT_TRUE(ApplyStatus(&s, m, 10000, 0, 0, &line));
  EXPECT_EQ(line, "caps del celu: 720p=3 1080p=0 4K=1 (bit0=30 bit1=60)");
  EXPECT_TRUE(s.capsKnown && s.blurSupported && s.focusSupported);
  EXPECT_EQ(s.focusModes, 0b101);
  line.clear();
  EXPECT_FALSE(ApplyStatus(&s, m, 10000, 0, 0, &line));
  EXPECT_TRUE(line.empty());
}

TEST(Status, EchoesWithin500msOfACommandAreIgnored) {
  AppState s = Active();
  std::string line;
  s.blurValue = 0.8f;  // the PC just asked for 0.8
  StatusMessage echo = ReadStatus(R"({"blur":0.3,"focus":{"mode":"auto","value":0.9,"faces":2}})");
  EXPECT_TRUE(ApplyStatus(&s, echo, 10400, 10000, 10000, &line)) << "faces always count";
  EXPECT_EQ(s.blurValue, 0.8f);
  EXPECT_EQ(s.focusMode, 0);
  EXPECT_EQ(s.focusValue, 0.5f);
  EXPECT_EQ(s.faces, 2);
  EXPECT_TRUE(ApplyStatus(&s, echo, 10501, 10000, 10000, &line));
  EXPECT_FLOAT_EQ(s.blurValue, 0.3f);
  EXPECT_EQ(s.focusMode, 1);
  EXPECT_FLOAT_EQ(s.focusValue, 0.9f);
}

TEST(Status, SmallOrOutOfRangeValuesChangeNothing) {
  AppState s = Active();
  std::string line;
  s.focusValue = 0.5f;
  EXPECT_FALSE(ApplyStatus(&s, ReadStatus(R"({"focus":{"value":0.503}})"), 99999, 0, 0, &line));
  EXPECT_FALSE(ApplyStatus(&s, ReadStatus(R"({"blur":1.5})"), 99999, 0, 0, &line));
  EXPECT_FALSE(ApplyStatus(&s, ReadStatus(R"({"focus":{"mode":"macro"}})"), 99999, 0, 0, &line));
  EXPECT_FALSE(ApplyStatus(&s, ReadStatus(R"({"battery":0.5,"camera":"Tele"})"), 99999, 0, 0, &line));
  EXPECT_EQ(s.battery, 0.5);
  EXPECT_EQ(s.camera, "Tele");
  EXPECT_TRUE(ApplyStatus(&s, ReadStatus(R"({"paused":true})"), 99999, 0, 0, &line));
  EXPECT_FALSE(ApplyStatus(&s, ReadStatus(R"({"paused":true})"), 99999, 0, 0, &line));
}

TEST(Config, FirstConfigNeverSavesALaterChangedOneDoes) {
  AppState s = Active();
  ConfigOutcome o = ApplyConfig(&s, 1920, 1080, 30, 1000, 0);
  EXPECT_FALSE(o.adopt);
  o = ApplyConfig(&s, 1920, 1080, 30, 2000, 0);
  EXPECT_FALSE(o.adopt) << "unchanged";
  o = ApplyConfig(&s, 1280, 720, 30, 3000, 0);
  EXPECT_TRUE(o.adopt);
  EXPECT_EQ(o.savedText, "720p@30");
  o = ApplyConfig(&s, 1280, 720, 25, 3000, 0);
  EXPECT_FALSE(o.adopt) << "25 fps has no class";
  EXPECT_EQ(s.fps, 25);
}

TEST(Config, PendingRequestIsMetOnlyByItsClass) {
  AppState s = Active();
  ApplyConfig(&s, 1280, 720, 30, 1000, 0);
  s.requestedResolution = 1;
  s.requestedRate = 0;
  ConfigOutcome o = ApplyConfig(&s, 1280, 720, 60, 2000, 1500);
  EXPECT_FALSE(o.adopt) << "another class while a request is pending is not saved";
  EXPECT_TRUE(o.appliedLine.empty());
  EXPECT_EQ(s.requestedResolution, 1);
  o = ApplyConfig(&s, 1920, 1080, 30, 2300, 1500);
  EXPECT_EQ(o.appliedLine, "Calidad aplicada: 1080p@30 (800 ms después del pedido)");
  EXPECT_EQ(s.requestedResolution, -1);
  EXPECT_EQ(s.requestedRate, -1);
  EXPECT_FALSE(o.adopt);
}

TEST(SavedQuality, OnlyKnownNamesAndRates) {
  int r = -1, f = -1;
  EXPECT_TRUE(ParseSavedQuality("4K@30", &r, &f));
  EXPECT_EQ(r, 2);
  EXPECT_EQ(f, 0);
  EXPECT_TRUE(ParseSavedQuality("720p@60fps", &r, &f)) << "digits read as atol reads them";
  EXPECT_EQ(f, 1);
  EXPECT_TRUE(ParseSavedQuality("1080p@ 30x", &r, &f)) << "atol skips white space";
  for (const char* bad : {"1440p@30", "1080p@25", "1080p", "", "@30", "4k@30", "1080p@x30"}) {
    EXPECT_FALSE(ParseSavedQuality(bad, &r, &f)) << bad;
  }
  EXPECT_EQ(QualityText(1, 1), "1080p@60");
}

TEST(Clock, OffsetIsTheSmallestSampleLessHalfTheSmallestRoundTrip) {
  ClockEstimator c;
  EXPECT_EQ(c.OnPing(1000500, 500), 1000000) << "no round trip yet";
  EXPECT_EQ(c.OnPong(2000000, 1990000), 10000);
  EXPECT_EQ(c.OnPong(3000000, 2996000), 4000);
  EXPECT_EQ(c.OnPing(3000700, 1500), 1000000 - 2000) << "the smaller offset and the smaller round trip";
  // Only the last 10 samples count.
  ClockEstimator d;
  d.OnPing(100, 0);  // offset 100, soon forgotten
  int64_t last = 0;
  for (int i = 0; i < 10; ++i) last = d.OnPing(1000 + i, 0);
  EXPECT_EQ(last, 1000);
  ClockEstimator e;
  e.OnPong(7, 0);  // round trip 7: half truncates to 3
  EXPECT_EQ(e.OnPing(100, 0), 97);
}

TEST(Clock, RoundTripSmoothing) {
  EXPECT_EQ(SmoothRoundTrip(-1, 12), 12);
  EXPECT_DOUBLE_EQ(SmoothRoundTrip(10, 20), 13);
}

}  // namespace
