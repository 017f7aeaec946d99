#pragma once
// Scaling and colour conversion of NV12 pictures on the CPU (libyuv), for
// graphics devices without a video processor. The results match what the
// GPU converters produce: same sizes, same bars, same colours.
#include <cstdint>
#include <vector>

struct Nv12Image {
  const uint8_t* y = nullptr;
  int yPitch = 0;
  const uint8_t* uv = nullptr;
  int uvPitch = 0;
  int width = 0;  // the visible part
  int height = 0;
};

struct Nv12Target {
  uint8_t* y = nullptr;
  int yPitch = 0;
  uint8_t* uv = nullptr;
  int uvPitch = 0;
  int width = 0;
  int height = 0;
};

struct FitRect {
  int left, top, right, bottom;
};

// Whether the conversion runs its AVX2 rows here: built with them, on a
// CPU that has AVX2 (and not masked off).
bool ConversionHasAvx2Rows();

// Where a picture of the given aspect goes in the output. Without fit, or
// when the aspects differ by at most 3 %, the whole output; otherwise
// letter- or pillar-boxed and centred.
FitRect FitDestination(int pictureWidth, int pictureHeight, int outputWidth, int outputHeight, bool fit);

// Buffers a converter keeps between pictures, so the per-picture path does
// not allocate.
struct CpuScratch {
  std::vector<uint8_t> nv12;    // the scaled picture
  std::vector<uint8_t> planes;  // its chroma as planes, before and after scaling
  std::vector<int16_t> chroma;  // one row's chroma terms for B, G and R
};

// BT.709 studio-range NV12 to studio-range NV12; bars are black (Y 16,
// Cb/Cr 128). Mirror flips the picture left to right inside its place.
bool ConvertNv12(const Nv12Image& src, const Nv12Target& dst, bool fit, bool mirror, CpuScratch* scratch);

// BT.709 studio-range NV12 to full-range BGRA with opaque alpha, chroma
// interpolated bilinearly as a video processor does; bars are R 11 G 12 B 14.
bool ConvertNv12ToBgra(const Nv12Image& src, uint8_t* dst, int dstStride, int width, int height, bool fit,
                       bool mirror, CpuScratch* scratch);

inline constexpr uint32_t kBarArgb = 0xFF0B0C0Eu;  // A R G B as libyuv writes them: B 14, G 12, R 11
