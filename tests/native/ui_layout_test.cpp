#include "app/ui/ui_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(UiTexts, NumbersCodesQualityAndDelay) {
  EXPECT_EQ(FormatLoad(9.5), L"9,5");
  EXPECT_EQ(FormatLoad(0), L"0,0");
  EXPECT_EQ(FormatLoad(12.4), L"12");
  EXPECT_EQ(FormatLoad(9.96), L"10,0") << "rounded below 10, with its decimal";
  EXPECT_EQ(RamText(37.5), L"38 MB");
  EXPECT_EQ(RamText(37.49), L"37 MB");
  EXPECT_EQ(SpacedPairingCode(L"735104"), L"735 104");
  EXPECT_EQ(SpacedPairingCode(L"73510"), L"73510");
  EXPECT_EQ(SpacedPairingCode(L"codigo \u00f1"), L"codigo \u00f1");
  EXPECT_EQ(QualityLabel(0, 0, 0), L"\u2014 \u00B7 \u2014");
  EXPECT_EQ(QualityLabel(3840, 2160, 30), L"4K \u00B7 30");
  EXPECT_EQ(QualityLabel(1280, 720, 30), L"720p \u00B7 30");
  EXPECT_EQ(QualityLabel(1080, 1920, 60), L"1080p \u00B7 60") << "portrait: the shorter side";
  EXPECT_EQ(DelayText(-1), L"\u00B7  \u2014 ms");
  EXPECT_EQ(DelayText(42), L"\u00B7  42 ms");
}

TEST(UiTexts, CaptureQualityOptions) {
  EXPECT_EQ(QualityOptionResolution(L"4K@30"), 2);
  EXPECT_EQ(QualityOptionRate(L"4K@30"), 30);
  EXPECT_EQ(QualityOptionResolution(L"720p"), 0);
  EXPECT_EQ(QualityOptionRate(L"720p"), -1) << "no rate: the sample's stays";
  EXPECT_EQ(QualityOptionResolution(L"1440p@60"), -1);
  EXPECT_EQ(QualityOptionRate(L"1080p@ 60fps"), 60) << "read like atoi";
  EXPECT_EQ(QualityOptionRate(L"1080p@x"), 0);
}

TEST(UiSliders, ValueIsClampedAndGreyNearZeroOrWhenOff) {
  SliderLook s = SliderFor(0.42f, true, true);
  EXPECT_EQ(s.text, L"42");
  EXPECT_TRUE(s.brightText && s.clickable);
  s = SliderFor(0.004f, true, true);
  EXPECT_EQ(s.text, L"0");
  EXPECT_FALSE(s.brightText) << "0.004 or less is grey even when enabled";
  s = SliderFor(1.7f, true, true);
  EXPECT_EQ(s.value, 1.0f);
  EXPECT_EQ(s.text, L"100");
  s = SliderFor(-0.3f, false, true);
  EXPECT_EQ(s.value, 0.0f);
  EXPECT_FALSE(s.clickable) << "disabled: drawn, not clickable";
  s = SliderFor(0.6f, true, false);
  EXPECT_EQ(s.text, L"\u2014");
  EXPECT_FALSE(s.brightText || s.clickable) << "unsupported";
}

TEST(UiCells, SegmentsFollowSupportMaskAndSelection) {
  CellLook c = SegmentFor(1, true, 0b011, 0);
  EXPECT_TRUE(c.available && c.clickable && !c.selected && !c.struck);
  c = SegmentFor(2, true, 0b011, 0);
  EXPECT_TRUE(c.struck && !c.clickable);
  c = SegmentFor(2, true, 0b011, 2);
  EXPECT_TRUE(c.selected && c.struck && !c.clickable) << "unavailable but selected keeps its plate";
  for (int i = 0; i < 3; ++i) {
    c = SegmentFor(i, false, 0b111, 0);
    EXPECT_FALSE(c.available || c.selected || c.struck || c.clickable) << "unsupported: all grey, none struck";
  }
}

TEST(UiCells, QualityMenuAvailabilitySelectionAndPending) {
  QualityState q;
  q.connected = true;
  q.width = 1920, q.height = 1080, q.fps = 30;
  // Caps unknown: everything grey, nothing struck or clickable, the current cells still lime.
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(ResolutionCellFor(i, q).available || ResolutionCellFor(i, q).struck);
  EXPECT_TRUE(ResolutionCellFor(1, q).selected);
  EXPECT_TRUE(RateCellFor(0, q).selected);

  q.capsKnown = true;
  q.caps[0] = 3, q.caps[1] = 1, q.caps[2] = 0;
  EXPECT_TRUE(ResolutionCellFor(0, q).clickable);
  EXPECT_FALSE(ResolutionCellFor(1, q).clickable) << "the current one";
  EXPECT_TRUE(ResolutionCellFor(2, q).struck) << "the phone offers no 4K";
  EXPECT_TRUE(RateCellFor(1, q).struck) << "1080p offers only 30 fps";

  q.pendingResolution = 0;  // 720p asked for, not yet applied
  EXPECT_FALSE(ResolutionCellFor(1, q).selected) << "the current one loses its plate";
  EXPECT_TRUE(ResolutionCellFor(0, q).pending);
  EXPECT_TRUE(RateCellFor(1, q).available) << "rates of the pending resolution";
  q.pendingResolution = 1;  // the same as the current one
  EXPECT_TRUE(ResolutionCellFor(1, q).selected);
  EXPECT_FALSE(ResolutionCellFor(1, q).pending);
  q.pendingRate = 1;
  EXPECT_TRUE(RateCellFor(1, q).pending);
  EXPECT_FALSE(RateCellFor(0, q).selected);
}

TEST(UiPending, OnlyTheLastTwoShowTheLastLowest) {
  EXPECT_TRUE(PendingRows(0).empty());
  std::vector<PendingRow> rows = PendingRows(3);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].index, 2);
  EXPECT_EQ(rows[0].bottom, 537.0f);
  EXPECT_EQ(rows[0].top, 481.0f);
  EXPECT_EQ(rows[1].index, 1);
  EXPECT_EQ(rows[1].bottom, 473.0f);
  EXPECT_EQ(PendingRows(1)[0].index, 0);
}

// The list's own rule; the regions the windows really draw are checked on
// the drawn frame, in the Windows tests.
TEST(UiHits, RegionsInFrontWinAndTheFirstThatHoldsThePointCounts) {
  HitList hits;
  hits.Add(0, 0, 10, 10, 1);
  hits.Add(20, 0, 30, 10, 2);
  EXPECT_EQ(hits.Hit(25, 5), 2);
  EXPECT_EQ(hits.Hit(15, 5), 0);
  EXPECT_EQ(hits.Hit(0, 0), 1) << "left and top edges belong to the region";
  EXPECT_EQ(hits.Hit(10, 5), 0) << "right edge does not: the next region starts there";
  hits.InsertFront({{20, 0, 30, 10, 3}, {0, 0, 100, 100, 4}});
  EXPECT_EQ(hits.Hit(25, 5), 3) << "in front, in their own order";
  EXPECT_EQ(hits.Hit(5, 5), 4) << "a catch-all in front takes what lies under it";
  ASSERT_EQ(hits.Regions().size(), 4u);
  EXPECT_EQ(hits.Regions()[3].id, 2);
}

}  // namespace
