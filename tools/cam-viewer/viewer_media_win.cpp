#include "viewer_media_win.h"

#include <cstdio>

#include "common/text_win.h"

namespace {

LARGE_INTEGER g_startTicks, g_tickRate;

}  // namespace

void StartClock() {
  QueryPerformanceFrequency(&g_tickRate);
  QueryPerformanceCounter(&g_startTicks);
}

int64_t NowUs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return (now.QuadPart - g_startTicks.QuadPart) * 1'000'000 / g_tickRate.QuadPart;
}

int64_t QpcUs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  // In two parts, so the product cannot overflow however long the machine has run.
  const int64_t rate = g_tickRate.QuadPart;
  return now.QuadPart / rate * 1'000'000 + now.QuadPart % rate * 1'000'000 / rate;
}

void SleepUntil(int64_t dueUs) {
  for (int64_t left = dueUs - NowUs(); left > 0; left = dueUs - NowUs())
    Sleep(static_cast<DWORD>((left + 999) / 1000));
}

JsonLine Stamped() {
  JsonLine line;
  line.Num("t", static_cast<double>(NowUs()) / 1000.0, 1);
  return line;
}

void Emit(const JsonLine& line) {
  std::fputs(line.Text().c_str(), stdout);
  std::fflush(stdout);
}

void Fail(const std::string& call, HRESULT hr) {
  std::fprintf(stderr, "cam-viewer: %s: %s\n", call.c_str(), HexStatus(static_cast<uint32_t>(hr)).c_str());
  std::fflush(stderr);
}

VideoTypeInfo Describe(IMFMediaType* type) {
  VideoTypeInfo info;
  (void)MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &info.width, &info.height);
  (void)MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &info.fpsNumerator, &info.fpsDenominator);
  return info;
}

// The FourCC of the video subtypes built on it, else the GUID.
std::string SubtypeName(IMFMediaType* type) {
  GUID subtype = GUID_NULL;
  if (FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) return "none";
  GUID base = MFVideoFormat_Base;
  base.Data1 = subtype.Data1;
  std::string name;
  for (int i = 0; i < 4; ++i) name += static_cast<char>((subtype.Data1 >> (8 * i)) & 0xFF);
  bool printable = true;
  for (char c : name) printable = printable && c >= 0x20 && c < 0x7F;
  if (IsEqualGUID(base, subtype) && printable) return name;
  wchar_t text[64] = {};
  StringFromGUID2(subtype, text, 64);
  return WideToUtf8(text);
}
