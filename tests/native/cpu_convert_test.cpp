#include <gtest/gtest.h>
#include <libyuv/cpu_id.h>

#include <algorithm>
#include <cmath>
#include <random>

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

// BT.709 studio range to full range, in doubles: channel 0 B, 1 G, 2 R.
int Exact(double y, double cb, double cr, int channel) {
  double luma = 1.1644 * (y - 16), v = luma + 2.1124 * (cb - 128);
  if (channel == 1) v = luma - 0.2132 * (cb - 128) - 0.5329 * (cr - 128);
  if (channel == 2) v = luma + 1.7927 * (cr - 128);
  return static_cast<int>(std::clamp(std::round(v), 0.0, 255.0));
}

// Chroma component k (0 Cb, 1 Cr) at a pixel, interpolated in doubles with
// MPEG-2 siting: 3/4 of the nearer chroma row and 1/4 of the farther, the
// sample at even pixels, the mean of two at odd ones, edges repeated.
double Sited(const std::vector<uint8_t>& uv, int width, int height, int x, int row, int k) {
  int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2, near = row / 2;
  int far = row % 2 ? std::min(near + 1, chromaHeight - 1) : std::max(near - 1, 0);
  auto vertical = [&](int c) {
    return (3.0 * uv[static_cast<size_t>(near * chromaWidth + c) * 2 + k] +
            uv[static_cast<size_t>(far * chromaWidth + c) * 2 + k]) / 4;
  };
  int c = x / 2;
  return x % 2 ? (vertical(c) + vertical(std::min(c + 1, chromaWidth - 1))) / 2 : vertical(c);
}

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

TEST(CpuConvert, EveryLumaWithChromaFromZeroToFullIsWithinOneLevelOfBt709) {
  CpuScratch scratch;
  Picture p(256, 2, 0);
  for (int x = 0; x < 256; ++x) p.y[x] = p.y[256 + x] = static_cast<uint8_t>(x);
  Bgra out(256, 2);
  int worst = 0;
  for (int cb = 0; cb < 256; cb += 5) {  // 0, 5, ... 255
    for (int cr = 0; cr < 256; cr += 5) {
      for (size_t i = 0; i < p.uv.size(); i += 2) {
        p.uv[i] = static_cast<uint8_t>(cb);
        p.uv[i + 1] = static_cast<uint8_t>(cr);
      }
      ASSERT_TRUE(ConvertNv12ToBgra(p.View(), out.px.data(), 256 * 4, 256, 2, false, false, &scratch));
      for (int yy = 0; yy < 2; ++yy) {
        for (int x = 0; x < 256; ++x) {
          for (int ch = 0; ch < 3; ++ch) worst = std::max(worst, std::abs(out.At(x, yy)[ch] - Exact(x, cb, cr, ch)));
          ASSERT_EQ(out.At(x, yy)[3], 255);
        }
      }
    }
  }
  RecordProperty("worst", worst);
  EXPECT_LE(worst, 1);
}

// Random pictures whose widths leave every kind of row end (the vector
// steps take 32, 16 and 1 pixels), converted with and without the AVX2 rows:
// the same bytes either way, within a level of the exactly sited result.
// Without AVX2 here only the second half can be checked, and the test says
// it was skipped.
TEST(CpuConvert, SitedChromaIsWithinOneLevelAtAnySizeMirroredOrNot) {
  const bool avx2 = ConversionHasAvx2Rows();
  std::mt19937 random(709);
  CpuScratch scratch;
  int worst = 0;
  for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {5, 2}, {17, 4}, {33, 5}, {61, 6}, {66, 3}, {97, 7}, {130, 4}}) {
    std::vector<uint8_t> y(static_cast<size_t>(w) * h), uv(static_cast<size_t>((w + 1) / 2) * 2 * ((h + 1) / 2));
    for (auto& b : y) b = static_cast<uint8_t>(random());
    for (auto& b : uv) b = static_cast<uint8_t>(random());
    Nv12Image src{y.data(), w, uv.data(), (w + 1) / 2 * 2, w, h};
    for (bool mirror : {false, true}) {
      Bgra widest(w, h), narrower(w, h);
      ASSERT_TRUE(ConvertNv12ToBgra(src, widest.px.data(), w * 4, w, h, false, mirror, &scratch));
      libyuv::MaskCpuFlags(~libyuv::kCpuHasAVX2);
      const bool masked = !ConversionHasAvx2Rows();
      bool converted = ConvertNv12ToBgra(src, narrower.px.data(), w * 4, w, h, false, mirror, &scratch);
      libyuv::MaskCpuFlags(-1);
      ASSERT_TRUE(masked) << "the narrower conversion ran without the AVX2 rows";
      ASSERT_TRUE(converted);
      ASSERT_EQ(widest.px, narrower.px) << w << "x" << h << " mirror " << mirror;
      for (int row = 0; row < h; ++row) {
        for (int x = 0; x < w; ++x) {
          double cb = Sited(uv, w, h, x, row, 0), cr = Sited(uv, w, h, x, row, 1);
          const uint8_t* px = widest.At(mirror ? w - 1 - x : x, row);
          for (int ch = 0; ch < 3; ++ch) {
            int error = std::abs(px[ch] - Exact(y[static_cast<size_t>(row) * w + x], cb, cr, ch));
            worst = std::max(worst, error);
            ASSERT_LE(error, 1) << w << "x" << h << " at " << x << "," << row << " channel " << ch;
          }
        }
      }
    }
  }
  RecordProperty("worst", worst);
  if (!avx2) GTEST_SKIP() << "no AVX2 rows here (not built in, or not on this CPU): the rows were checked "
                             "against the exact result, but not against the AVX2 rows";
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

// Every byte of the output, for a place at an odd column and one at an odd
// row: bars wherever the picture is not, nothing left as it was, and the
// flat picture with its colours whole after scaling (libyuv's filter for
// interleaved chroma loses 1/128 of Cb and Cr). A place at an odd pixel
// starts in the chroma pair that covers it.
TEST(CpuConvert, BarsFillWhatTheScaledPictureLeavesAndItKeepsItsColours) {
  CpuScratch scratch;
  struct Case {
    int srcW, srcH, dstW, dstH;
    FitRect place, pairs;  // in pixels, in chroma pairs
  };
  for (Case c : {Case{90, 160, 161, 90, {55, 0, 105, 90}, {27, 0, 52, 45}},
                 Case{160, 90, 90, 161, {0, 55, 90, 105}, {0, 27, 45, 52}}}) {
    Picture p(c.srcW, c.srcH, 200);
    for (size_t i = 0; i < p.uv.size(); i += 2) p.uv[i] = 90, p.uv[i + 1] = 160;
    int pitch = (c.dstW + 1) / 2 * 2, chromaRows = (c.dstH + 1) / 2;
    auto inside = [](const FitRect& r, int x, int y) {
      return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    for (bool mirror : {false, true}) {
      std::vector<uint8_t> y(static_cast<size_t>(c.dstW) * c.dstH, 0), uv(static_cast<size_t>(pitch) * chromaRows, 0);
      ASSERT_TRUE(ConvertNv12(p.View(), {y.data(), c.dstW, uv.data(), pitch, c.dstW, c.dstH}, true, mirror, &scratch));
      Bgra out(c.dstW, c.dstH);
      ASSERT_TRUE(ConvertNv12ToBgra(p.View(), out.px.data(), c.dstW * 4, c.dstW, c.dstH, true, mirror, &scratch));
      for (int row = 0; row < c.dstH; ++row) {
        for (int x = 0; x < c.dstW; ++x) {
          bool picture = inside(c.place, x, row);
          ASSERT_EQ(y[static_cast<size_t>(row) * c.dstW + x], picture ? 200 : 16) << x << "," << row;
          const uint8_t* px = out.At(x, row);
          for (int ch = 0; ch < 3; ++ch) {
            if (picture) {
              ASSERT_NEAR(px[ch], Exact(200, 90, 160, ch), 1) << x << "," << row;
            } else {
              ASSERT_EQ(px[ch], (kBarArgb >> (8 * ch)) & 0xFF) << x << "," << row;
            }
          }
          ASSERT_EQ(px[3], 255);
        }
      }
      for (int row = 0; row < chromaRows; ++row) {
        for (int pair = 0; pair < pitch / 2; ++pair) {
          bool picture = inside(c.pairs, pair, row);
          ASSERT_EQ(uv[static_cast<size_t>(row) * pitch + 2 * pair], picture ? 90 : 128) << pair << "," << row;
          ASSERT_EQ(uv[static_cast<size_t>(row) * pitch + 2 * pair + 1], picture ? 160 : 128) << pair << "," << row;
        }
      }
    }
  }
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
