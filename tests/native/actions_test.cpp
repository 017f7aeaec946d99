#include "app/core/actions.h"

#include <gtest/gtest.h>

namespace {

TEST(QualityChoice, TheOtherHalfComesFromTheRequestOrTheStreamAndMustBeOffered) {
  QualityNow now;
  now.rates[0] = 3, now.rates[1] = 3, now.rates[2] = 1;  // 4K at 30 only
  now.width = 3840, now.height = 2160, now.fps = 30;
  QualityRequest r = ChooseQuality(31, now);
  EXPECT_EQ(r.resolution, 2);
  EXPECT_EQ(r.rate, 0) << "60 fps at 4K is not offered: 4K at 30";

  QualityNow unknown;
  unknown.rates[0] = 3, unknown.rates[1] = 3, unknown.rates[2] = 1;
  r = ChooseQuality(30, unknown);
  EXPECT_EQ(r.resolution, 1) << "nothing known: 1080p";
  EXPECT_EQ(r.rate, 0);
  unknown.rates[1] = 2;  // 1080p only at 60
  r = ChooseQuality(30, unknown);
  EXPECT_EQ(r.rate, 1);

  QualityNow noRate;
  noRate.width = 1280, noRate.height = 720;  // fps unknown
  noRate.rates[0] = 3, noRate.rates[1] = 1;
  EXPECT_EQ(ChooseQuality(20, noRate).rate, 1) << "60 where it is offered";
  EXPECT_EQ(ChooseQuality(21, noRate).rate, 0) << "else 30";

  QualityNow pending;
  pending.width = 1920, pending.height = 1080, pending.fps = 30;
  pending.requestedResolution = 0, pending.requestedRate = 1;
  pending.rates[0] = 3, pending.rates[1] = 3;
  r = ChooseQuality(30, pending);
  EXPECT_EQ(r.resolution, 0) << "the requested resolution, not the stream's";
  r = ChooseQuality(21, pending);
  EXPECT_EQ(r.rate, 1) << "the requested rate, not the stream's";
}

TEST(SliderDrag, PositionIsClampedAndRequestsAreThinnedTo80Ms) {
  // The blur slider's region spans 89..313 DIP: its ends are 97 and 305.
  EXPECT_FLOAT_EQ(SliderValueAt(97, 96, 89, 313), 0.0f);
  EXPECT_FLOAT_EQ(SliderValueAt(305, 96, 89, 313), 1.0f);
  EXPECT_FLOAT_EQ(SliderValueAt(201 * 1.5f, 144, 89, 313), 0.5f) << "client pixels at 144 DPI";
  EXPECT_FLOAT_EQ(SliderValueAt(10, 96, 89, 313), 0.0f);
  EXPECT_FLOAT_EQ(SliderValueAt(500, 96, 89, 313), 1.0f);

  SliderPace pace;
  pace.Start();
  EXPECT_TRUE(pace.ShouldSend(1000)) << "the first move after the press";
  EXPECT_FALSE(pace.ShouldSend(1030));
  EXPECT_FALSE(pace.ShouldSend(1079));
  EXPECT_TRUE(pace.ShouldSend(1080));
  int sent = 0;
  for (uint64_t t = 1081; t < 2081; t += 10) sent += pace.ShouldSend(t);
  EXPECT_EQ(sent, 12) << "one per 80 ms over a second of moves";
  pace.Start();
  EXPECT_TRUE(pace.ShouldSend(2085)) << "a new drag sends at once";
}

}  // namespace
