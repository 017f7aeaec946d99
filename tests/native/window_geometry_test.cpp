#include <gtest/gtest.h>

#include "app/core/window_geometry.h"

namespace {

TEST(WindowGeometry, At144DpiTheWindowsAreOneAndAHalfTimesLarger) {
  PixelRect main = MainWindowPlacement(144, {0, 0, 2560, 1400});
  EXPECT_EQ(main.right - main.left, 570);
  EXPECT_EQ(main.bottom - main.top, 840);
  EXPECT_EQ(main.left, (2560 - 570) / 2);
  EXPECT_EQ(main.top, (1400 - 840) / 2);
  PixelRect panel = PanelInitialPlacement(144);
  EXPECT_EQ(panel.right, 450);
  EXPECT_EQ(panel.bottom, 468);
}

TEST(WindowGeometry, MainWindowRoundsAndPanelTruncates) {
  // 110 DPI: 435.41 -> 435, 641.66 -> 642; panel 343.75 -> 343, 357.5 -> 357.
  PixelRect main = MainWindowPlacement(110, {0, 0, 1000, 1000});
  EXPECT_EQ(main.right - main.left, 435);
  EXPECT_EQ(main.bottom - main.top, 642);
  PixelRect panel = PanelInitialPlacement(110);
  EXPECT_EQ(panel.right, 343);
  EXPECT_EQ(panel.bottom, 357);
}

TEST(WindowGeometry, CentringUsesTheWorkAreaAndTruncatesTowardZero) {
  // A work area on a monitor left of the primary one has negative coordinates.
  PixelRect main = MainWindowPlacement(96, {-1921, 0, -1, 1040});
  EXPECT_EQ(main.left, (-1921 + -1 - 380) / 2);
  EXPECT_EQ(main.left, -1151);
  EXPECT_EQ(main.top, (1040 - 560) / 2);
}

}  // namespace
