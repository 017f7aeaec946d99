#include "cpu_convert.h"

#include <libyuv.h>

#include <algorithm>


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

// BT.709 studio range to full-range RGB in 16.16 fixed point. libyuv's own
// BT.709 tables cannot hold the blue coefficient (2.1124) and are off by up
// to 13 levels in blue, so the colour conversion is done here, in plain
// arithmetic the compiler vectorises.
constexpr int32_t kY = 76309;    // 1.164383
constexpr int32_t kRV = 117489;  // 1.792741
constexpr int32_t kGU = 13975;   // 0.213249
constexpr int32_t kGV = 34925;   // 0.532909
constexpr int32_t kBU = 138438;  // 2.112402

inline uint8_t Clamp8(int32_t v) { return static_cast<uint8_t>(std::clamp(v >> 16, 0, 255)); }

// One row of chroma interpolated to full width. H.264's chroma samples sit
// level with the even pixels and halfway between two rows (MPEG-2 siting):
// vertically 3/4 of the nearer row and 1/4 of the farther, horizontally the
// sample itself or the mean of two.
void ChromaRow(const uint8_t* __restrict near, const uint8_t* __restrict far, int chromaWidth,
               int16_t* __restrict u, int16_t* __restrict v) {
  for (int c = 0; c + 1 < chromaWidth; ++c) {
    int au = 3 * near[2 * c] + far[2 * c], nu = 3 * near[2 * c + 2] + far[2 * c + 2];
    int av = 3 * near[2 * c + 1] + far[2 * c + 1], nv = 3 * near[2 * c + 3] + far[2 * c + 3];
    u[2 * c] = static_cast<int16_t>((4 * au + 8) >> 4);
    u[2 * c + 1] = static_cast<int16_t>((2 * au + 2 * nu + 8) >> 4);
    v[2 * c] = static_cast<int16_t>((4 * av + 8) >> 4);
    v[2 * c + 1] = static_cast<int16_t>((2 * av + 2 * nv + 8) >> 4);
  }
  // The last sample has no right neighbour: its pixels repeat it.
  int c = chromaWidth - 1;
  int au = 3 * near[2 * c] + far[2 * c], av = 3 * near[2 * c + 1] + far[2 * c + 1];
  u[2 * c] = u[2 * c + 1] = static_cast<int16_t>((4 * au + 8) >> 4);
  v[2 * c] = v[2 * c + 1] = static_cast<int16_t>((4 * av + 8) >> 4);
}

// Planar results first: this loop vectorises, an interleaved store does not.
void ConvertRow(const uint8_t* __restrict y, const int16_t* __restrict u, const int16_t* __restrict v,
                uint8_t* __restrict r, uint8_t* __restrict g, uint8_t* __restrict b, int width) {
  for (int x = 0; x < width; ++x) {
    int32_t luma = (y[x] - 16) * kY + 32768;
    int32_t cb = u[x] - 128, cr = v[x] - 128;
    b[x] = Clamp8(luma + cb * kBU);
    g[x] = Clamp8(luma - cb * kGU - cr * kGV);
    r[x] = Clamp8(luma + cr * kRV);
  }
}

void Nv12ToBgraPrecise(const Nv12Image& src, uint8_t* dst, int dstStride, CpuScratch* s) {
  int chromaWidth = Half(src.width), chromaHeight = Half(src.height);
  s->planes.resize(static_cast<size_t>(src.width) * 3);
  s->u.resize(static_cast<size_t>(chromaWidth) * 2);
  s->v.resize(static_cast<size_t>(chromaWidth) * 2);
  uint8_t* r = s->planes.data();
  uint8_t* g = r + src.width;
  uint8_t* b = g + src.width;
  for (int row = 0; row < src.height; ++row) {
    int c = row / 2;
    int other = (row & 1) ? (c + 1 < chromaHeight ? c + 1 : c) : (c > 0 ? c - 1 : c);
    ChromaRow(src.uv + static_cast<size_t>(c) * src.uvPitch, src.uv + static_cast<size_t>(other) * src.uvPitch,
              chromaWidth, s->u.data(), s->v.data());
    ConvertRow(src.y + static_cast<size_t>(row) * src.yPitch, s->u.data(), s->v.data(), r, g, b, src.width);
    libyuv::MergeARGBPlane(r, 0, g, 0, b, 0, nullptr, 0, dst + static_cast<size_t>(row) * dstStride, 0, src.width, 1);
  }
}

// The picture scaled to w x h into a tightly packed NV12 scratch buffer.
bool ScaleToScratch(const Nv12Image& src, int w, int h, std::vector<uint8_t>* scratch, Nv12Target* out) {
  size_t ySize = static_cast<size_t>(w) * h;
  size_t uvSize = static_cast<size_t>(Half(w)) * 2 * Half(h);
  scratch->resize(ySize + uvSize);
  *out = Nv12Target{scratch->data(), w, scratch->data() + ySize, Half(w) * 2, w, h};
  return libyuv::NV12Scale(src.y, src.yPitch, src.uv, src.uvPitch, src.width, src.height, out->y, out->yPitch,
                           out->uv, out->uvPitch, w, h, libyuv::kFilterBilinear) == 0;
}

}  // namespace

bool ConvertNv12(const Nv12Image& src, const Nv12Target& dst, bool fit, bool mirror, CpuScratch* scratch) {
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return false;
  FitRect r = FitDestination(src.width, src.height, dst.width, dst.height, fit);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  if (w != dst.width || h != dst.height) {
    libyuv::SetPlane(dst.y, dst.yPitch, dst.width, dst.height, 16);
    libyuv::SetPlane(dst.uv, dst.uvPitch, Half(dst.width) * 2, Half(dst.height), 128);
  }
  Nv12Target picture;
  if (!ScaleToScratch(src, w, h, &scratch->nv12, &picture)) return false;
  // The chroma plane holds one Cb/Cr pair per 2 x 2 pixels; a place at an
  // odd pixel starts in the pair that covers it.
  uint8_t* yAt = dst.y + static_cast<size_t>(r.top) * dst.yPitch + r.left;
  uint8_t* uvAt = dst.uv + static_cast<size_t>(r.top / 2) * dst.uvPitch + (r.left / 2) * 2;
  if (mirror) {
    return libyuv::NV12Mirror(picture.y, picture.yPitch, picture.uv, picture.uvPitch, yAt, dst.yPitch, uvAt,
                              dst.uvPitch, w, h) == 0;
  }
  return libyuv::NV12Copy(picture.y, picture.yPitch, picture.uv, picture.uvPitch, yAt, dst.yPitch, uvAt,
                          dst.uvPitch, w, h) == 0;
}

bool ConvertNv12ToBgra(const Nv12Image& src, uint8_t* dst, int dstStride, int width, int height, bool fit,
                       bool mirror, CpuScratch* scratch) {
  if (src.width <= 0 || src.height <= 0 || width <= 0 || height <= 0) return false;
  FitRect r = FitDestination(src.width, src.height, width, height, fit);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  if (w != width || h != height) libyuv::ARGBRect(dst, dstStride, 0, 0, width, height, kBarArgb);

  // Scale in YUV first: fewer bytes to convert when shrinking.
  Nv12Image from = src;
  if (w != src.width || h != src.height) {
    Nv12Target scaled;
    if (!ScaleToScratch(src, w, h, &scratch->nv12, &scaled)) return false;
    from = Nv12Image{scaled.y, scaled.yPitch, scaled.uv, scaled.uvPitch, w, h};
  }
  uint8_t* at = dst + static_cast<size_t>(r.top) * dstStride + static_cast<size_t>(r.left) * 4;
  if (!mirror) {
    Nv12ToBgraPrecise(from, at, dstStride, scratch);
    return true;
  }
  // The flip needs the converted rows somewhere else first.
  scratch->bgra.resize(static_cast<size_t>(w) * 4 * h);
  Nv12ToBgraPrecise(from, scratch->bgra.data(), w * 4, scratch);
  return libyuv::ARGBMirror(scratch->bgra.data(), w * 4, at, dstStride, w, h) == 0;
}
