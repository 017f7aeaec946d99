#include "app/core/ui_rules.h"

#include <gtest/gtest.h>

namespace {

LatencyFigures Avg(double average, int count) {
  LatencyFigures f;
  f.average = average;
  f.count = count;
  return f;
}

TEST(ShownLatency, TheLatestStageWithSamplesWinsThenTheRoundTrip) {
  LatencyFigures s[kStageCount];
  EXPECT_EQ(ShownLatencyMs(s, -1, 7), -1) << "nothing measured";
  EXPECT_EQ(ShownLatencyMs(s, 40, 7.4), 27) << "half the round trip plus decoding, rounded";
  s[kStageArrival] = Avg(3, 30);
  EXPECT_EQ(ShownLatencyMs(s, 40, 7.4), 27) << "arrival alone is not a shown delay";
  s[kStageDecoded] = Avg(12.5, 30);
  EXPECT_EQ(ShownLatencyMs(s, 40, 7), 13);
  s[kStageCamera] = Avg(20.4, 30);
  EXPECT_EQ(ShownLatencyMs(s, 40, 7), 20);
  s[kStageShown] = Avg(31.6, 1);
  EXPECT_EQ(ShownLatencyMs(s, 40, 7), 32);
  s[kStageShown] = Avg(-1, 0);
  EXPECT_EQ(ShownLatencyMs(s, 40, 7), 20) << "a stage without samples this second is skipped";
  s[kStageCamera] = Avg(-3, 30);
  EXPECT_EQ(ShownLatencyMs(s, 40, 7), 27) << "a negative average (clock skew) falls back to the round trip";
  EXPECT_EQ(ShownLatencyMs(s, -1, 7), -1);
}

TEST(PreviewSize, FollowsTheShownWindowAndItsDpi) {
  PreviewWindows w;
  PreviewSize p = PreviewSizeFor(w);
  EXPECT_FALSE(p.wanted) << "no window shows a preview";

  w.mainShown = true, w.mainDpi = 144, w.panelVisible = true, w.panelDpi = 96;
  p = PreviewSizeFor(w);
  EXPECT_TRUE(p.wanted);
  EXPECT_EQ(p.width, 519);  // 346 * 1.5
  EXPECT_EQ(p.height, 294);

  w.mainShown = false;
  p = PreviewSizeFor(w);
  EXPECT_EQ(p.width, 272);
  EXPECT_EQ(p.height, 152);

  w.panelDpi = 120;  // 340, 190
  w.panelVisible = false;
  w.liveCapturePending = true;
  p = PreviewSizeFor(w);
  EXPECT_TRUE(p.wanted) << "a pending live capture draws the hidden main window";
  EXPECT_EQ(p.width, 519);
  w.liveCapturePending = false, w.panelVisible = true;
  p = PreviewSizeFor(w);
  EXPECT_EQ(p.width, 340);
  EXPECT_EQ(p.height, 190);
  w.panelDpi = 110;  // 311.67 -> 312, 174.17 -> 174
  p = PreviewSizeFor(w);
  EXPECT_EQ(p.width, 312);
  EXPECT_EQ(p.height, 174);
}

TEST(PanelPlacement, BottomRightOfTheWorkAreaOnAnyMonitor) {
  PixelRect r = PanelOpenPlacement(96, {0, 0, 1920, 1040});
  EXPECT_EQ(r.right, 1920 - 14);
  EXPECT_EQ(r.bottom, 1040 - 14);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 312);
  // A second monitor left of the primary one at 150 %: margin 21, 450 x 468.
  r = PanelOpenPlacement(144, {-2560, 0, 0, 1400});
  EXPECT_EQ(r.left, -21 - 450);
  EXPECT_EQ(r.top, 1400 - 21 - 468);
  EXPECT_EQ(r.right, -21);
  // 110 DPI: margin 16.04 -> 16, 343.75 -> 344, 357.5 -> 358.
  r = PanelOpenPlacement(110, {0, 0, 1000, 1000});
  EXPECT_EQ(r.right, 984);
  EXPECT_EQ(r.right - r.left, 344);
  EXPECT_EQ(r.bottom - r.top, 358);
}

TEST(TrayIcon, ColourTooltipAndReopenDelay) {
  EXPECT_EQ(TrayColour(false, true), 0u);
  EXPECT_EQ(TrayColour(true, false), 0x3DDC84u);
  EXPECT_EQ(TrayColour(true, true), 0x9AA0AAu);
  EXPECT_EQ(TrayTooltip(false, false, "x"), "Orvane \xC2\xB7 Esperando el celu");
  EXPECT_EQ(TrayTooltip(true, false, "Pixel 8"), "Orvane \xC2\xB7 En vivo (Pixel 8)");
  EXPECT_EQ(TrayTooltip(true, true, ""), "Orvane \xC2\xB7 En pausa ()");
  EXPECT_FALSE(PanelMayOpen(10'300, 10'000)) << "the click that closed the panel";
  EXPECT_TRUE(PanelMayOpen(10'301, 10'000));
  EXPECT_TRUE(PanelMayOpen(5'000, 0)) << "never deactivated";
}

TEST(TrayIcon, StraightAlphaUndoesPremultiplication) {
  uint8_t px[] = {
      0x10, 0x40, 0x80, 0x80,  // half transparent: doubled, capped
      0x3D, 0xDC, 0x84, 0xFF,  // opaque: unchanged
      0x05, 0x06, 0x07, 0x00,  // fully transparent: black
      0x30, 0x30, 0x30, 0x20,  // rounding error above alpha: capped at 255
  };
  ToStraightAlpha(px, 4);
  const uint8_t expected[] = {0x1F, 0x7F, 0xFF, 0x80, 0x3D, 0xDC, 0x84, 0xFF,
                              0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x20};
  for (size_t i = 0; i < sizeof px; ++i) EXPECT_EQ(px[i], expected[i]) << "byte " << i;
}

}  // namespace
