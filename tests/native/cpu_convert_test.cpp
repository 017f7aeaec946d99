#include <gtest/gtest.h>

#include "app/video/cpu_convert.h"

namespace {

// A studio-range NV12 picture of one luma value with a vertical stripe of
// another in its left quarter, neutral chroma.
struct Picture {
  int w, h;
  std::vector<uint8_t> y, uv;
  Picture(int width, int height, uint8_t luma, uint8_t stripe = 0) : w(width), h(height) {
    y.assign(static_cast<size_t>(w) * h, luma);
    uv.assign(static_cast<size_t>((w + 1) / 2) * 2 * ((h + 1) / 2), 128);
    if (stripe) {
      for (int r = 0; r < h; ++r) std::fill_n(y.begin() + static_cast<ptrdiff_t>(r) * w, w / 4, stripe);
    }
  }
  Nv12Image View() const { return {y.data(), w, uv.data(), (w + 1) / 2 * 2, w, h}; }
};

struct Bgra {
  int w, h;
  std::vector<uint8_t> px;
  Bgra(int width, int height) : w(width), h(height), px(static_cast<size_t>(width) * height * 4, 0x77) {}
  const uint8_t* At(int x, int yy) const { return &px[(static_cast<size_t>(yy) * w + x) * 4]; }
};

TEST(Fit, LetterAndPillarBoxesAsSpecified) {
  FitRect r = FitDestination(1920, 1080, 640, 480, true);
  EXPECT_EQ(r.top, 60);
  EXPECT_EQ(r.bottom - r.top, 360);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 640);
  r = FitDestination(1080, 1920, 1920, 1080, true);
  EXPECT_EQ(r.right - r.left, 607);
  EXPECT_EQ(r.left, 656);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.bottom, 1080);
}

TEST(Fit, SmallAspectDifferencesAreStretched) {
  FitRect r = FitDestination(1920, 1080, 1920, 1060, true);  // about 1.9 %
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 1920);
  EXPECT_EQ(r.bottom, 1060);
  r = FitDestination(1920, 1080, 1280, 720, true);
  EXPECT_EQ(r.bottom, 720);
  r = FitDestination(1920, 1080, 640, 480, false);
  EXPECT_EQ(r.top, 0) << "without fit the whole output is used";
}

TEST(CpuConvert, StudioRangeBecomesFullRangeBgra) {
  CpuScratch scratch;
  for (auto [luma, expected] : {std::pair{16, 0}, std::pair{235, 255}, std::pair{126, 128}}) {
    Picture p(64, 36, static_cast<uint8_t>(luma));
    Bgra out(64, 36);
    ASSERT_TRUE(ConvertNv12ToBgra(p.View(), out.px.data(), 64 * 4, 64, 36, true, false, &scratch));
    const uint8_t* c = out.At(10, 10);
    EXPECT_NEAR(c[0], expected, 1) << luma;
    EXPECT_NEAR(c[1], expected, 1) << luma;
    EXPECT_NEAR(c[2], expected, 1) << luma;
    EXPECT_EQ(c[3], 255);
  }
}

TEST(CpuConvert, BgraBarsAreTheSpecifiedBlueGrey) {
  CpuScratch scratch;
  Picture p(1920, 1080, 235);
  Bgra out(640, 480);
  ASSERT_TRUE(ConvertNv12ToBgra(p.View(), out.px.data(), 640 * 4, 640, 480, true, false, &scratch));
  for (int yy : {0, 59, 420, 479}) {
    const uint8_t* c = out.At(300, yy);
    EXPECT_EQ(c[0], 14) << yy;
    EXPECT_EQ(c[1], 12) << yy;
    EXPECT_EQ(c[2], 11) << yy;
    EXPECT_EQ(c[3], 255) << yy;
  }
  for (int yy : {60, 240, 419}) EXPECT_GE(out.At(300, yy)[1], 250) << yy;
}

TEST(CpuConvert, Nv12BarsAreBlackAndThePictureIsPillarBoxed) {
  CpuScratch scratch;
  Picture p(1080, 1920, 200);
  std::vector<uint8_t> y(1920 * 1080, 0), uv(1920 * 540, 0);
  Nv12Target t{y.data(), 1920, uv.data(), 1920, 1920, 1080};
  ASSERT_TRUE(ConvertNv12(p.View(), t, true, false, &scratch));
  EXPECT_EQ(y[500 * 1920 + 655], 16);
  EXPECT_EQ(y[500 * 1920 + 656], 200);
  EXPECT_EQ(y[500 * 1920 + 1262], 200);
  EXPECT_EQ(y[500 * 1920 + 1263], 16);
  EXPECT_EQ(uv[250 * 1920 + 10], 128);
  EXPECT_EQ(uv[250 * 1920 + 1919], 128);
}

TEST(CpuConvert, SameAspectIsStretchedToTheWholeCamera) {
  CpuScratch scratch;
  Picture p(1920, 1080, 100);
  std::vector<uint8_t> y(1280 * 720, 0), uv(1280 * 360, 0);
  Nv12Target t{y.data(), 1280, uv.data(), 1280, 1280, 720};
  ASSERT_TRUE(ConvertNv12(p.View(), t, true, false, &scratch));
  EXPECT_EQ(y.front(), 100);
  EXPECT_EQ(y.back(), 100);
}

TEST(CpuConvert, MirrorFlipsLeftToRight) {
  CpuScratch scratch;
  Picture p(64, 36, 235, 16);  // dark stripe on the left
  Bgra plain(64, 36), flipped(64, 36);
  ASSERT_TRUE(ConvertNv12ToBgra(p.View(), plain.px.data(), 256, 64, 36, false, false, &scratch));
  ASSERT_TRUE(ConvertNv12ToBgra(p.View(), flipped.px.data(), 256, 64, 36, false, true, &scratch));
  EXPECT_LT(plain.At(2, 5)[1], 10);
  EXPECT_GT(plain.At(61, 5)[1], 245);
  EXPECT_GT(flipped.At(2, 5)[1], 245);
  EXPECT_LT(flipped.At(61, 5)[1], 10);

  std::vector<uint8_t> y(64 * 36), uv(64 * 18);
  Nv12Target t{y.data(), 64, uv.data(), 64, 64, 36};
  ASSERT_TRUE(ConvertNv12(p.View(), t, false, true, &scratch));
  EXPECT_EQ(y[5 * 64 + 63], 16);
  EXPECT_EQ(y[5 * 64 + 0], 235);
}

TEST(CpuConvert, PitchedSourceAndCroppedCodedLines) {
  // A 1920 x 1088 coded picture with a pitch of 2048 whose display size is
  // 1920 x 1080: the 8 extra lines (bright here) never reach the output.
  int pitch = 2048;
  std::vector<uint8_t> y(static_cast<size_t>(pitch) * 1088, 50), uv(static_cast<size_t>(pitch) * 544, 128);
  std::fill(y.begin() + static_cast<ptrdiff_t>(pitch) * 1080, y.end(), 235);
  Nv12Image src{y.data(), pitch, uv.data(), pitch, 1920, 1080};
  CpuScratch scratch;
  Bgra out(1920, 1080);
  ASSERT_TRUE(ConvertNv12ToBgra(src, out.px.data(), 1920 * 4, 1920, 1080, false, false, &scratch));
  EXPECT_LT(out.At(100, 1079)[1], 50);
}

TEST(CpuConvert, EmptyPicturesAreRefused) {
  CpuScratch scratch;
  Picture p(64, 36, 100);
  Bgra out(4, 4);
  EXPECT_FALSE(ConvertNv12ToBgra(p.View(), out.px.data(), 16, 0, 4, true, false, &scratch));
  Nv12Image none{};
  EXPECT_FALSE(ConvertNv12ToBgra(none, out.px.data(), 16, 4, 4, true, false, &scratch));
}

}  // namespace
