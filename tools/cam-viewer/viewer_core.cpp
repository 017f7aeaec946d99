#include "viewer_core.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cwchar>

namespace {

bool WholeNumber(const std::wstring& text, long min, long max, int* value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  errno = 0;
  long v = std::wcstol(text.c_str(), &end, 10);
  if (errno != 0 || *end != L'\0' || v < min || v > max) return false;
  *value = static_cast<int>(v);
  return true;
}

bool PositiveNumber(const std::wstring& text, double* value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  errno = 0;
  double v = std::wcstod(text.c_str(), &end);
  if (errno != 0 || *end != L'\0' || !std::isfinite(v) || v <= 0) return false;
  *value = v;
  return true;
}

// INDEX:PATH, or last:PATH. The first colon ends the index, so a drive
// letter stays with the path.
bool SampleFileArg(const std::wstring& text, SampleFile* file) {
  size_t colon = text.find(L':');
  if (colon == std::wstring::npos || colon + 1 == text.size()) return false;
  file->path = text.substr(colon + 1);
  if (text.compare(0, colon, L"last") == 0) {
    file->index = kLastPicture;
    return true;
  }
  return WholeNumber(text.substr(0, colon), 0, 1 << 30, &file->index);
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

std::string ParseViewerOptions(const std::vector<std::wstring>& args, ViewerOptions* o) {
  bool haveSeconds = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a == L"--allocator") {
      o->allocator = true;
      continue;
    }
    if (a == L"--eager") {
      o->eager = true;
      continue;
    }
    if (a == L"--list-types") {
      o->listTypes = true;
      continue;
    }
    if (i + 1 >= args.size()) return "missing value after " + Narrow(a);
    const std::wstring& v = args[++i];
    bool ok = true;
    if (a == L"--dll") {
      o->dll = v;
      ok = !v.empty();
    } else if (a == L"--clsid") {
      o->clsid = v;
      ok = v.size() == 38 && v.front() == L'{' && v.back() == L'}';
    } else if (a == L"--stop-event") {
      o->stopEvent = v;
      ok = !v.empty();
    } else if (a == L"--out") {
      o->out = v;
      ok = !v.empty();
    } else if (a == L"--host") {
      ok = WholeNumber(v, 1, 0x7fffffff, &o->hostPid);
    } else if (a == L"--width") {
      ok = WholeNumber(v, 1, 16384, &o->width);
    } else if (a == L"--height") {
      ok = WholeNumber(v, 1, 16384, &o->height);
    } else if (a == L"--fps") {
      ok = PositiveNumber(v, &o->fps);
    } else if (a == L"--seconds") {
      ok = PositiveNumber(v, &o->seconds);
      haveSeconds = true;
    } else if (a == L"--samples") {
      ok = WholeNumber(v, 0, 1 << 30, &o->samples);
    } else if (a == L"--png" || a == L"--raw") {
      SampleFile f;
      ok = SampleFileArg(v, &f);
      (a == L"--png" ? o->png : o->raw).push_back(f);
    } else {
      return "unknown argument " + Narrow(a);
    }
    if (!ok) return "bad value for " + Narrow(a) + ": " + Narrow(v);
  }
  if (o->dll.empty() == o->clsid.empty()) return "one of --dll and --clsid is required";
  o->untilStopped = !o->stopEvent.empty() && !haveSeconds && o->samples < 0;
  if ((o->width == 0) != (o->height == 0)) return "--width and --height go together";
  if (o->fps > 0 && o->width == 0) return "--fps needs --width and --height";
  if (haveSeconds && o->samples >= 0) return "--seconds and --samples exclude each other";
  return {};
}

int PickType(const std::vector<VideoTypeInfo>& types, int width, int height, double fps) {
  for (size_t i = 0; i < types.size(); ++i) {
    const VideoTypeInfo& t = types[i];
    if (t.width != static_cast<uint32_t>(width) || t.height != static_cast<uint32_t>(height)) continue;
    // 29.97 names 30000/1001; no two real rates are this close.
    if (fps > 0 && (t.fpsDenominator == 0 ||
                    std::fabs(static_cast<double>(t.fpsNumerator) / t.fpsDenominator - fps) > 0.01))
      continue;
    return static_cast<int>(i);
  }
  return -1;
}

std::string EventName(uint32_t type) {
  // Values of MediaEventType (mfobjects.h).
  switch (type) {
    case 0: return "MEUnknown";
    case 1: return "MEError";
    case 2: return "MEExtendedType";
    case 3: return "MENonFatalError";
    case 201: return "MESourceStarted";
    case 202: return "MEStreamStarted";
    case 203: return "MESourceSeeked";
    case 204: return "MEStreamSeeked";
    case 205: return "MENewStream";
    case 206: return "MEUpdatedStream";
    case 207: return "MESourceStopped";
    case 208: return "MEStreamStopped";
    case 209: return "MESourcePaused";
    case 210: return "MEStreamPaused";
    case 211: return "MEEndOfPresentation";
    case 212: return "MEEndOfStream";
    case 213: return "MEMediaSample";
    case 214: return "MEStreamTick";
    case 216: return "MEStreamFormatChanged";
    case 219: return "MESourceCharacteristicsChanged";
    default: return "event " + std::to_string(type);
  }
}

std::string HexStatus(uint32_t status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", status);
  return text;
}

void JsonLine::Key(std::string_view key) {
  if (text_.size() > 1) text_ += ',';
  text_ += '"';
  text_ += key;
  text_ += "\":";
}

JsonLine& JsonLine::Num(std::string_view key, double value, int decimals) {
  Key(key);
  if (!std::isfinite(value)) {
    text_ += "null";
    return *this;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  text_ += text;
  return *this;
}

JsonLine& JsonLine::Int(std::string_view key, int64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Str(std::string_view key, std::string_view value) {
  Key(key);
  text_ += '"';
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += c;
    } else if (u < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", u);
      text_ += esc;
    } else {
      text_ += c;
    }
  }
  text_ += '"';
  return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Null(std::string_view key) {
  Key(key);
  text_ += "null";
  return *this;
}

JsonLine& JsonLine::Fps(std::string_view key, uint32_t numerator, uint32_t denominator) {
  if (denominator == 0) return Null(key);
  if (numerator % denominator == 0) return Int(key, numerator / denominator);
  return Num(key, static_cast<double>(numerator) / denominator, 3);
}

Nv12Image Nv12InBuffer(const uint8_t* scan0, int pitch, int width, int height) {
  Nv12Image p;
  p.y = scan0;
  p.yPitch = pitch;
  p.uv = scan0 + static_cast<ptrdiff_t>(pitch) * height;
  p.uvPitch = pitch;
  p.width = width;
  p.height = height;
  return p;
}

namespace {
size_t ChromaRowBytes(int width) { return static_cast<size_t>((width + 1) / 2) * 2; }
size_t ChromaRows(int height) { return static_cast<size_t>((height + 1) / 2); }
}  // namespace

size_t Nv12BufferBytes(int pitch, int width, int height) {
  // The last chroma row need not be padded out to the pitch.
  return static_cast<size_t>(pitch) * (static_cast<size_t>(height) + ChromaRows(height) - 1) +
         ChromaRowBytes(width);
}

std::vector<uint8_t> PackNv12(const Nv12Image& p) {
  size_t w = static_cast<size_t>(p.width), rowC = ChromaRowBytes(p.width), rowsC = ChromaRows(p.height);
  std::vector<uint8_t> out(w * static_cast<size_t>(p.height) + rowC * rowsC);
  uint8_t* at = out.data();
  for (int r = 0; r < p.height; ++r, at += w)
    std::copy_n(p.y + static_cast<ptrdiff_t>(r) * p.yPitch, w, at);
  for (size_t r = 0; r < rowsC; ++r, at += rowC)
    std::copy_n(p.uv + static_cast<ptrdiff_t>(r) * p.uvPitch, rowC, at);
  return out;
}

double LumaMean(const Nv12Image& p) {
  if (p.width <= 0 || p.height <= 0) return 0;
  uint64_t sum = 0;
  for (int r = 0; r < p.height; ++r) {
    const uint8_t* row = p.y + static_cast<ptrdiff_t>(r) * p.yPitch;
    for (int c = 0; c < p.width; ++c) sum += row[c];
  }
  return static_cast<double>(sum) / (static_cast<double>(p.width) * p.height);
}

namespace {

// The band: the bottom twelfth of the picture, in blocks a sixteenth of the
// width wide. Block 0 is white and block 1 black, so the reader learns both
// levels from the picture itself; blocks 2 to 13 carry the bits, the rest
// of the band is black.
constexpr int kBandBlocks = 16;
constexpr int kBandRows = 12;
constexpr int kFrameBits = 12;
constexpr int kFirstBitBlock = 2;
// White and black drawn by ffmpeg are 235 and 16; H.264 at crf 28 and
// scaling keep the middle of each block close to those.
constexpr double kMarkerContrast = 96;

// Mean luma of the middle half (each way) of a block of the band, so the
// coder's and scaler's smearing at the block edges stays out of it.
double BlockLuma(const Nv12Image& p, int block) {
  const int left = p.width * block / kBandBlocks, right = p.width * (block + 1) / kBandBlocks;
  const int top = p.height * (kBandRows - 1) / kBandRows;
  const int x0 = left + (right - left) / 4, x1 = right - (right - left) / 4;
  const int y0 = top + (p.height - top) / 4, y1 = p.height - (p.height - top) / 4;
  // A few pixels each way are plenty; a 4K picture need not be summed whole.
  const int stepX = std::max(1, (x1 - x0) / 8), stepY = std::max(1, (y1 - y0) / 8);
  uint32_t sum = 0, count = 0;
  for (int y = y0; y < y1; y += stepY) {
    const uint8_t* row = p.y + static_cast<ptrdiff_t>(y) * p.yPitch;
    for (int x = x0; x < x1; x += stepX, ++count) sum += row[x];
  }
  return count ? static_cast<double>(sum) / count : 0;
}

}  // namespace

int ReadFrameNumber(const Nv12Image& p) {
  if (!p.y || p.width < 2 * kBandBlocks || p.height < 2 * kBandRows) return -1;
  const double white = BlockLuma(p, 0), black = BlockLuma(p, 1);
  if (white - black < kMarkerContrast) return -1;
  const double middle = (white + black) / 2, margin = (white - black) / 4;
  int number = 0;
  for (int block = kFirstBitBlock; block < kBandBlocks; ++block) {
    const double luma = BlockLuma(p, block);
    // A block that is neither level is not the band but a picture that
    // happens to be light and dark in the right two places.
    if (std::fabs(luma - middle) < margin) return -1;
    const bool set = luma > middle;
    if (block >= kFirstBitBlock + kFrameBits) {
      if (set) return -1;
    } else if (set) {
      number |= 1 << (block - kFirstBitBlock);
    }
  }
  return number;
}

PullSchedule::PullSchedule(uint32_t numerator, uint32_t denominator)
    : numerator_(numerator), denominator_(denominator) {
  // A type without a usable rate is pulled at 30 per second.
  if (numerator_ == 0 || denominator_ == 0) numerator_ = 30, denominator_ = 1;
}

int64_t PullSchedule::Offset(int64_t frames) const {
  return frames * 1000000 * static_cast<int64_t>(denominator_) / static_cast<int64_t>(numerator_);
}

int64_t PullSchedule::NextDueUs() const { return baseUs_ + Offset(frames_); }

void PullSchedule::Pulled(int64_t nowUs) {
  ++frames_;
  if (nowUs > NextDueUs() + PeriodUs()) {
    baseUs_ = nowUs;
    frames_ = 0;
  }
}
