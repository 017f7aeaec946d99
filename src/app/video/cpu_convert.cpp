#include "cpu_convert.h"

#include <libyuv.h>


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
  int cw = Half(w), ch = Half(h);
  scratch->chroma.resize(static_cast<size_t>(cw) * ch * 2);
  uint8_t* u = scratch->chroma.data();
  uint8_t* v = u + static_cast<size_t>(cw) * ch;
  libyuv::SplitUVPlane(from.uv, from.uvPitch, u, cw, v, cw, cw, ch);

  uint8_t* at = dst + static_cast<size_t>(r.top) * dstStride + static_cast<size_t>(r.left) * 4;
  uint8_t* out = at;
  int outStride = dstStride;
  if (mirror) {
    // The flip needs the converted rows somewhere else first.
    scratch->bgra.resize(static_cast<size_t>(w) * 4 * h);
    out = scratch->bgra.data();
    outStride = w * 4;
  }
  if (libyuv::I420ToARGBMatrixFilter(from.y, from.yPitch, u, cw, v, cw, out, outStride, &libyuv::kYuvH709Constants,
                                     w, h, libyuv::kFilterBilinear) != 0) {
    return false;
  }
  return !mirror || libyuv::ARGBMirror(out, outStride, at, dstStride, w, h) == 0;
}
