#include "cpu_convert.h"

#include <libyuv.h>

#include <algorithm>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ORVANE_CONVERT_SSE2 1
// GCC for 64-bit Windows cannot align its stack to 32 bytes, yet may spill
// AVX registers there with aligned moves, which fault. That build has the
// AVX2 rows only where the assembler encodes every aligned move as an
// unaligned one (ORVANE_UNALIGNED_VECTOR_MOVES, defined by the build with
// that option); otherwise it keeps to SSE2.
#if defined(__clang__) || (defined(__GNUC__) && (!defined(_WIN32) || defined(ORVANE_UNALIGNED_VECTOR_MOVES)))
#include <immintrin.h>
#define ORVANE_CONVERT_AVX2 1
#define ORVANE_AVX2 __attribute__((target("avx2")))
#endif
#endif

bool ConversionHasAvx2Rows() {
#ifdef ORVANE_CONVERT_AVX2
  return libyuv::TestCpuFlag(libyuv::kCpuHasAVX2) != 0;
#else
  return false;
#endif
}

FitRect FitDestination(int pictureWidth, int pictureHeight, int outputWidth, int outputHeight, bool fit) {
  FitRect r{0, 0, outputWidth, outputHeight};
  if (!fit || pictureWidth <= 0 || pictureHeight <= 0 || outputWidth <= 0 || outputHeight <= 0) return r;
  double src = static_cast<double>(pictureWidth) / pictureHeight;
  double dst = static_cast<double>(outputWidth) / outputHeight;
  double difference = (src > dst ? src - dst : dst - src) / dst;
  if (difference <= 0.03) return r;
  if (src > dst) {
    int height = static_cast<int>(outputWidth / src);
    r.top = (outputHeight - height) >> 1;
    r.bottom = r.top + height;
  } else {
    int width = static_cast<int>(outputHeight * src);
    r.left = (outputWidth - width) >> 1;
    r.right = r.left + width;
  }
  return r;
}

namespace {

int Half(int v) { return (v + 1) / 2; }

// BT.709 studio range to full-range RGB. libyuv's BT.709 tables keep 6-bit
// coefficients in signed bytes, which cannot hold blue's 2.1124, and miss
// by up to 13 levels; ours keep 14 to 16 bits.
//
// Everything fits 16-bit lanes: levels carry 6 fraction bits, products are
// the high halves of 16 x 16 bit multiplies. The vector rows and the plain
// code for row ends take the same integer steps, so a pixel gets the same
// bytes whichever code made it.
constexpr int kFraction = 6;
// Luma: (Y << 8) * kY >> 16 is 1.164383 * 64 * Y.
constexpr int kY = 19077;
// Rounding, plus one for the high halves' truncation, less 16 * 1.164383 * 64.
constexpr int kYOffset = (1 << (kFraction - 1)) + 1 - 1192;
// Chroma, per sample: s = 3 * near + far - 512 is 4 (C - 128) (the vertical
// weights below), and (s << 6) * k >> 16 with k = coefficient * 8192 is
// coefficient * 32 (C - 128): half a pixel's term. An even pixel sits on its
// sample and takes the term twice; an odd one sits halfway and takes the
// sum of its two neighbours' terms, which is their mean, exactly.
constexpr int kBU = 17305;  // 2.112402
constexpr int kRV = 14686;  // 1.792741
constexpr int kGU = 1747;   // 0.213249
constexpr int kGV = 4366;   // 0.532909

inline int MulHigh(int a, int k) { return (a * k) >> 16; }  // what pmulhw and pmulhuw keep

// Without saturation, unlike the vector rows; the clamp makes that the same.
inline uint8_t Level(int luma, int chroma) {
  return static_cast<uint8_t>(std::clamp((luma + chroma) >> kFraction, 0, 255));
}

// One row's chroma terms for B, G and R, one per chroma sample, and one more
// for the odd pixel past the last sample.
struct ChromaTerms {
  int16_t* b;
  int16_t* g;
  int16_t* r;
};

// The vector rows below each start at a given index and return where they
// stopped; the next narrower one, and at last the plain code, go on from
// there.

#ifdef ORVANE_CONVERT_SSE2
int ChromaSse2(const uint8_t* __restrict near, const uint8_t* __restrict far, int c, int chromaWidth,
               ChromaTerms t) {
  const __m128i low = _mm_set1_epi16(0x00FF), centre = _mm_set1_epi16(512);
  const __m128i bu = _mm_set1_epi16(kBU), gu = _mm_set1_epi16(-kGU), gv = _mm_set1_epi16(-kGV),
                rv = _mm_set1_epi16(kRV);
  for (; c + 8 <= chromaWidth; c += 8) {
    __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(near + 2 * c));
    __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(far + 2 * c));
    __m128i nu = _mm_and_si128(n, low), nv = _mm_srli_epi16(n, 8);
    __m128i fu = _mm_and_si128(f, low), fv = _mm_srli_epi16(f, 8);
    __m128i u = _mm_add_epi16(_mm_add_epi16(nu, nu), _mm_add_epi16(nu, fu));
    __m128i v = _mm_add_epi16(_mm_add_epi16(nv, nv), _mm_add_epi16(nv, fv));
    u = _mm_slli_epi16(_mm_sub_epi16(u, centre), 6);
    v = _mm_slli_epi16(_mm_sub_epi16(v, centre), 6);
    __m128i g = _mm_add_epi16(_mm_mulhi_epi16(u, gu), _mm_mulhi_epi16(v, gv));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t.b + c), _mm_mulhi_epi16(u, bu));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t.g + c), g);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(t.r + c), _mm_mulhi_epi16(v, rv));
  }
  return c;
}

// 16 levels of one channel: luma for pixels 0-7 and 8-15, terms from the
// pair of the first pixel on.
inline __m128i ChannelSse2(const int16_t* terms, __m128i lumaLow, __m128i lumaHigh) {
  __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms));
  __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms + 1));
  __m128i even = _mm_add_epi16(here, here), odd = _mm_add_epi16(here, next);
  // Saturating: a sum past 511 levels still ends as 255.
  __m128i low = _mm_srai_epi16(_mm_adds_epi16(lumaLow, _mm_unpacklo_epi16(even, odd)), kFraction);
  __m128i high = _mm_srai_epi16(_mm_adds_epi16(lumaHigh, _mm_unpackhi_epi16(even, odd)), kFraction);
  return _mm_packus_epi16(low, high);
}

template <bool kMirror>
int PixelsSse2(const uint8_t* __restrict y, ChromaTerms t, uint8_t* __restrict out, int x, int width) {
  const __m128i zero = _mm_setzero_si128(), opaque = _mm_set1_epi8(-1);
  const __m128i ky = _mm_set1_epi16(kY), offset = _mm_set1_epi16(kYOffset);
  for (; x + 16 <= width; x += 16) {
    __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    __m128i lumaLow = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpacklo_epi8(zero, luma), ky), offset);
    __m128i lumaHigh = _mm_add_epi16(_mm_mulhi_epu16(_mm_unpackhi_epi8(zero, luma), ky), offset);
    int c = x / 2;
    __m128i b = ChannelSse2(t.b + c, lumaLow, lumaHigh);
    __m128i g = ChannelSse2(t.g + c, lumaLow, lumaHigh);
    __m128i r = ChannelSse2(t.r + c, lumaLow, lumaHigh);
    __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
    __m128i raLow = _mm_unpacklo_epi8(r, opaque), raHigh = _mm_unpackhi_epi8(r, opaque);
    __m128i quads[4] = {_mm_unpacklo_epi16(bgLow, raLow), _mm_unpackhi_epi16(bgLow, raLow),
                        _mm_unpacklo_epi16(bgHigh, raHigh), _mm_unpackhi_epi16(bgHigh, raHigh)};
    for (int i = 0; i < 4; ++i) {
      if constexpr (kMirror) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * (width - x - 4 * i - 4)),
                         _mm_shuffle_epi32(quads[i], _MM_SHUFFLE(0, 1, 2, 3)));
      } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * (x + 4 * i)), quads[i]);
      }
    }
  }
  return x;
}
#endif

#ifdef ORVANE_CONVERT_AVX2
// The same steps twice as wide.
ORVANE_AVX2 int ChromaAvx2(const uint8_t* __restrict near, const uint8_t* __restrict far, int c, int chromaWidth,
                           ChromaTerms t) {
  const __m256i low = _mm256_set1_epi16(0x00FF), centre = _mm256_set1_epi16(512);
  const __m256i bu = _mm256_set1_epi16(kBU), gu = _mm256_set1_epi16(-kGU), gv = _mm256_set1_epi16(-kGV),
                rv = _mm256_set1_epi16(kRV);
  for (; c + 16 <= chromaWidth; c += 16) {
    __m256i n = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(near + 2 * c));
    __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(far + 2 * c));
    __m256i nu = _mm256_and_si256(n, low), nv = _mm256_srli_epi16(n, 8);
    __m256i fu = _mm256_and_si256(f, low), fv = _mm256_srli_epi16(f, 8);
    __m256i u = _mm256_add_epi16(_mm256_add_epi16(nu, nu), _mm256_add_epi16(nu, fu));
    __m256i v = _mm256_add_epi16(_mm256_add_epi16(nv, nv), _mm256_add_epi16(nv, fv));
    u = _mm256_slli_epi16(_mm256_sub_epi16(u, centre), 6);
    v = _mm256_slli_epi16(_mm256_sub_epi16(v, centre), 6);
    __m256i g = _mm256_add_epi16(_mm256_mulhi_epi16(u, gu), _mm256_mulhi_epi16(v, gv));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.b + c), _mm256_mulhi_epi16(u, bu));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.g + c), g);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.r + c), _mm256_mulhi_epi16(v, rv));
  }
  return c;
}

ORVANE_AVX2 inline __m256i ChannelAvx2(const int16_t* terms, __m256i lumaLow, __m256i lumaHigh) {
  __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(terms));
  __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(terms + 1));
  __m256i even = _mm256_add_epi16(here, here), odd = _mm256_add_epi16(here, next);
  __m256i low = _mm256_srai_epi16(_mm256_adds_epi16(lumaLow, _mm256_unpacklo_epi16(even, odd)), kFraction);
  __m256i high = _mm256_srai_epi16(_mm256_adds_epi16(lumaHigh, _mm256_unpackhi_epi16(even, odd)), kFraction);
  return _mm256_packus_epi16(low, high);
}

// AVX2 unpacks and packs work within each 128-bit half, so the pixels come
// out as 0-3 with 16-19, 4-7 with 20-23, and so on, and are put back in
// order before they are stored.
template <bool kMirror>
ORVANE_AVX2 int PixelsAvx2(const uint8_t* __restrict y, ChromaTerms t, uint8_t* __restrict out, int x, int width) {
  const __m256i zero = _mm256_setzero_si256(), opaque = _mm256_set1_epi8(-1);
  const __m256i ky = _mm256_set1_epi16(kY), offset = _mm256_set1_epi16(kYOffset);
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  for (; x + 32 <= width; x += 32) {
    __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x));
    __m256i lumaLow = _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, luma), ky), offset);
    __m256i lumaHigh = _mm256_add_epi16(_mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, luma), ky), offset);
    int c = x / 2;
    __m256i b = ChannelAvx2(t.b + c, lumaLow, lumaHigh);
    __m256i g = ChannelAvx2(t.g + c, lumaLow, lumaHigh);
    __m256i r = ChannelAvx2(t.r + c, lumaLow, lumaHigh);
    __m256i bgLow = _mm256_unpacklo_epi8(b, g), bgHigh = _mm256_unpackhi_epi8(b, g);
    __m256i raLow = _mm256_unpacklo_epi8(r, opaque), raHigh = _mm256_unpackhi_epi8(r, opaque);
    __m256i q0 = _mm256_unpacklo_epi16(bgLow, raLow), q1 = _mm256_unpackhi_epi16(bgLow, raLow);
    __m256i q2 = _mm256_unpacklo_epi16(bgHigh, raHigh), q3 = _mm256_unpackhi_epi16(bgHigh, raHigh);
    __m256i eights[4] = {_mm256_permute2x128_si256(q0, q1, 0x20), _mm256_permute2x128_si256(q2, q3, 0x20),
                         _mm256_permute2x128_si256(q0, q1, 0x31), _mm256_permute2x128_si256(q2, q3, 0x31)};
    for (int i = 0; i < 4; ++i) {
      if constexpr (kMirror) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * (width - x - 8 * i - 8)),
                            _mm256_permutevar8x32_epi32(eights[i], reverse));
      } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * (x + 8 * i)), eights[i]);
      }
    }
  }
  return x;
}
#endif

// H.264's chroma samples sit level with the even pixels and halfway between
// two rows (MPEG-2 siting): vertically 3/4 of the nearer row and 1/4 of the
// farther, horizontally the sample itself or the mean of two.
void ChromaRow(const uint8_t* __restrict near, const uint8_t* __restrict far, int chromaWidth, ChromaTerms t,
               [[maybe_unused]] bool avx2) {
  int c = 0;
#ifdef ORVANE_CONVERT_AVX2
  if (avx2) c = ChromaAvx2(near, far, c, chromaWidth, t);
#endif
#ifdef ORVANE_CONVERT_SSE2
  c = ChromaSse2(near, far, c, chromaWidth, t);
#endif
  for (; c < chromaWidth; ++c) {
    int u = (3 * near[2 * c] + far[2 * c] - 512) * 64;
    int v = (3 * near[2 * c + 1] + far[2 * c + 1] - 512) * 64;
    t.b[c] = static_cast<int16_t>(MulHigh(u, kBU));
    t.g[c] = static_cast<int16_t>(MulHigh(u, -kGU) + MulHigh(v, -kGV));
    t.r[c] = static_cast<int16_t>(MulHigh(v, kRV));
  }
  // The last sample has no right neighbour: the pixel after it repeats it.
  t.b[chromaWidth] = t.b[chromaWidth - 1];
  t.g[chromaWidth] = t.g[chromaWidth - 1];
  t.r[chromaWidth] = t.r[chromaWidth - 1];
}

// One row of pixels, written right to left when mirrored.
template <bool kMirror>
void PixelRow(const uint8_t* __restrict y, ChromaTerms t, uint8_t* __restrict out, int width,
              [[maybe_unused]] bool avx2) {
  int x = 0;
#ifdef ORVANE_CONVERT_AVX2
  if (avx2) x = PixelsAvx2<kMirror>(y, t, out, x, width);
#endif
#ifdef ORVANE_CONVERT_SSE2
  x = PixelsSse2<kMirror>(y, t, out, x, width);
#endif
  for (; x < width; ++x) {
    int c = x / 2, other = c + (x & 1);
    int luma = MulHigh(y[x] << 8, kY) + kYOffset;
    uint8_t* p = out + 4 * (kMirror ? width - 1 - x : x);
    p[0] = Level(luma, t.b[c] + t.b[other]);
    p[1] = Level(luma, t.g[c] + t.g[other]);
    p[2] = Level(luma, t.r[c] + t.r[other]);
    p[3] = 255;
  }
}

void Nv12ToBgraPrecise(const Nv12Image& src, uint8_t* dst, int dstStride, bool mirror, CpuScratch* s) {
  bool avx2 = libyuv::TestCpuFlag(libyuv::kCpuHasAVX2) != 0;
  int chromaWidth = Half(src.width), chromaHeight = Half(src.height);
  size_t stride = static_cast<size_t>(chromaWidth) + 16;  // the repeated last term, then slack
  s->chroma.resize(stride * 3);
  ChromaTerms t{s->chroma.data(), s->chroma.data() + stride, s->chroma.data() + 2 * stride};
  for (int row = 0; row < src.height; ++row) {
    int c = row / 2;
    int other = (row & 1) ? (c + 1 < chromaHeight ? c + 1 : c) : (c > 0 ? c - 1 : c);
    ChromaRow(src.uv + static_cast<size_t>(c) * src.uvPitch, src.uv + static_cast<size_t>(other) * src.uvPitch,
              chromaWidth, t, avx2);
    const uint8_t* y = src.y + static_cast<size_t>(row) * src.yPitch;
    uint8_t* out = dst + static_cast<size_t>(row) * dstStride;
    if (mirror) {
      PixelRow<true>(y, t, out, src.width, avx2);
    } else {
      PixelRow<false>(y, t, out, src.width, avx2);
    }
  }
}

// The output outside the picture's place r, filled by fill(x, y, w, h).
template <typename Fill>
void Bars(const FitRect& r, int width, int height, Fill fill) {
  if (r.top > 0) fill(0, 0, width, r.top);
  if (r.bottom < height) fill(0, r.bottom, width, height - r.bottom);
  if (r.left > 0) fill(0, r.top, r.left, r.bottom - r.top);
  if (r.right < width) fill(r.right, r.top, width - r.right, r.bottom - r.top);
}

// A tightly packed NV12 picture of w x h in a scratch buffer.
Nv12Target ScratchPicture(int w, int h, std::vector<uint8_t>* scratch) {
  size_t ySize = static_cast<size_t>(w) * h;
  scratch->resize(ySize + static_cast<size_t>(Half(w)) * 2 * Half(h));
  return Nv12Target{scratch->data(), w, scratch->data() + ySize, Half(w) * 2, w, h};
}

// Bilinear, with the chroma split, scaled plane by plane and merged again:
// libyuv's filter for interleaved pairs (behind NV12Scale) weighs two
// neighbours by 127/128 in all and so shrinks every Cb and Cr by 1/128 (128
// becomes 127: two levels of blue), while its plane filter weighs them by a
// whole. Sizes are checked by the callers.
void Scale(const Nv12Image& src, const Nv12Target& to, CpuScratch* s) {
  if (to.width == src.width && to.height == src.height) {
    libyuv::NV12Copy(src.y, src.yPitch, src.uv, src.uvPitch, to.y, to.yPitch, to.uv, to.uvPitch, to.width, to.height);
    return;
  }
  int fromWidth = Half(src.width), fromHeight = Half(src.height), toWidth = Half(to.width), toHeight = Half(to.height);
  size_t fromSize = static_cast<size_t>(fromWidth) * fromHeight, toSize = static_cast<size_t>(toWidth) * toHeight;
  s->planes.resize(2 * (fromSize + toSize));
  uint8_t* u = s->planes.data();
  uint8_t* v = u + fromSize;
  uint8_t* scaledU = v + fromSize;
  uint8_t* scaledV = scaledU + toSize;
  libyuv::ScalePlane(src.y, src.yPitch, src.width, src.height, to.y, to.yPitch, to.width, to.height,
                     libyuv::kFilterBilinear);
  libyuv::SplitUVPlane(src.uv, src.uvPitch, u, fromWidth, v, fromWidth, fromWidth, fromHeight);
  libyuv::ScalePlane(u, fromWidth, fromWidth, fromHeight, scaledU, toWidth, toWidth, toHeight, libyuv::kFilterBilinear);
  libyuv::ScalePlane(v, fromWidth, fromWidth, fromHeight, scaledV, toWidth, toWidth, toHeight, libyuv::kFilterBilinear);
  libyuv::MergeUVPlane(scaledU, toWidth, scaledV, toWidth, to.uv, to.uvPitch, toWidth, toHeight);
}

}  // namespace

bool ConvertNv12(const Nv12Image& src, const Nv12Target& dst, bool fit, bool mirror, CpuScratch* scratch) {
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return false;
  FitRect r = FitDestination(src.width, src.height, dst.width, dst.height, fit);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  // The chroma plane holds one Cb/Cr pair per 2 x 2 pixels; a place at an
  // odd pixel starts in the pair that covers it, and the picture's pairs
  // overwrite that one.
  FitRect pairs{r.left / 2, r.top / 2, r.left / 2 + Half(w), r.top / 2 + Half(h)};
  Bars(r, dst.width, dst.height, [&](int x, int y, int bw, int bh) {
    libyuv::SetPlane(dst.y + static_cast<size_t>(y) * dst.yPitch + x, dst.yPitch, bw, bh, 16);
  });
  Bars(pairs, Half(dst.width), Half(dst.height), [&](int x, int y, int bw, int bh) {
    libyuv::SetPlane(dst.uv + static_cast<size_t>(y) * dst.uvPitch + 2 * x, dst.uvPitch, 2 * bw, bh, 128);
  });
  uint8_t* yAt = dst.y + static_cast<size_t>(r.top) * dst.yPitch + r.left;
  uint8_t* uvAt = dst.uv + static_cast<size_t>(pairs.top) * dst.uvPitch + 2 * pairs.left;
  // Straight into place: the camera's usual case costs one scale and no copy.
  if (!mirror) {
    Scale(src, Nv12Target{yAt, dst.yPitch, uvAt, dst.uvPitch, w, h}, scratch);
    return true;
  }
  Nv12Target picture = ScratchPicture(w, h, &scratch->nv12);
  Scale(src, picture, scratch);
  return libyuv::NV12Mirror(picture.y, picture.yPitch, picture.uv, picture.uvPitch, yAt, dst.yPitch, uvAt,
                            dst.uvPitch, w, h) == 0;
}

bool ConvertNv12ToBgra(const Nv12Image& src, uint8_t* dst, int dstStride, int width, int height, bool fit,
                       bool mirror, CpuScratch* scratch) {
  if (src.width <= 0 || src.height <= 0 || width <= 0 || height <= 0) return false;
  FitRect r = FitDestination(src.width, src.height, width, height, fit);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  Bars(r, width, height,
       [&](int x, int y, int bw, int bh) { libyuv::ARGBRect(dst, dstStride, x, y, bw, bh, kBarArgb); });

  // Scale in YUV first: fewer bytes to convert when shrinking.
  Nv12Image from = src;
  if (w != src.width || h != src.height) {
    Nv12Target picture = ScratchPicture(w, h, &scratch->nv12);
    Scale(src, picture, scratch);
    from = Nv12Image{picture.y, picture.yPitch, picture.uv, picture.uvPitch, w, h};
  }
  Nv12ToBgraPrecise(from, dst + static_cast<size_t>(r.top) * dstStride + static_cast<size_t>(r.left) * 4, dstStride,
                    mirror, scratch);
  return true;
}
