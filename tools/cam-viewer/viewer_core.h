#pragma once
// The camera viewer's pieces that need no Media Foundation: its command
// line, its output lines, the picture arithmetic and the pull schedule.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/video/cpu_convert.h"

// "last" for an index: the last sample that was not black (the last one that
// carried the phone's picture), written once the pulling ends.
inline constexpr int kLastPicture = -1;

struct SampleFile {
  int index = 0;
  std::wstring path;
};

struct ViewerOptions {
  std::wstring dll;    // loaded from this file, or
  std::wstring clsid;  // created by its class id, through the registration
  std::wstring stopEvent;  // a named event that ends the run
  int hostPid = 0;         // a process whose end ends the run
  std::wstring out;        // output appended to this file instead of the standard streams
  bool untilStopped = false;  // no --seconds with --stop-event: runs until told
  int width = 0;  // 0 with height 0: the source's current type
  int height = 0;
  double fps = 0;  // 0: the first type of that size
  double seconds = 3;
  int samples = -1;  // -1: run for `seconds`
  bool allocator = false;
  bool eager = false;  // asks again as soon as a sample arrives, as applications' readers do
  bool listTypes = false;
  std::vector<SampleFile> png;
  std::vector<SampleFile> raw;
};

// Empty when the arguments make sense, else what is wrong with them.
std::string ParseViewerOptions(const std::vector<std::wstring>& args, ViewerOptions* options);

struct VideoTypeInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t fpsNumerator = 0;
  uint32_t fpsDenominator = 0;
};

// The first type of that size (and frame rate, when fps > 0), or -1.
int PickType(const std::vector<VideoTypeInfo>& types, int width, int height, double fps);

// The printed names of Media Foundation events; "event N" for the rest.
std::string EventName(uint32_t type);
std::string HexStatus(uint32_t status);

// One JSON object on one line. Keys are ours; string values are escaped.
class JsonLine {
 public:
  JsonLine& Num(std::string_view key, double value, int decimals);
  JsonLine& Int(std::string_view key, int64_t value);
  JsonLine& Str(std::string_view key, std::string_view value);
  JsonLine& Bool(std::string_view key, bool value);
  JsonLine& Null(std::string_view key);
  // A frame rate: whole when it is, else three decimals.
  JsonLine& Fps(std::string_view key, uint32_t numerator, uint32_t denominator);
  std::string Text() const { return text_ + "}\n"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
};

// NV12 laid out as a 2-D buffer hands it out: the luma rows from the first
// scan line, the interleaved chroma rows right after `height` of them.
Nv12Image Nv12InBuffer(const uint8_t* scan0, int pitch, int width, int height);
// Bytes a buffer needs to hold that picture at that pitch.
size_t Nv12BufferBytes(int pitch, int width, int height);
// The planes without their padding: width x height luma bytes, then
// width x height/2 chroma bytes.
std::vector<uint8_t> PackNv12(const Nv12Image& picture);
double LumaMean(const Nv12Image& picture);
// The frame number tools/make-clips draws in a band of blocks along the
// bottom edge, read at any scale of the clip; -1 without that band.
int ReadFrameNumber(const Nv12Image& picture);

// When each pull is due, in µs from the first one. Due times come from the
// frame count, not from the last wake-up, so late wake-ups do not add up;
// after falling more than a frame behind, the schedule starts again from
// then rather than pulling a burst to catch up.
class PullSchedule {
 public:
  PullSchedule(uint32_t fpsNumerator, uint32_t fpsDenominator);
  int64_t NextDueUs() const;
  int64_t PeriodUs() const { return Offset(1); }
  void Pulled(int64_t nowUs);

 private:
  int64_t Offset(int64_t frames) const;
  uint32_t numerator_;
  uint32_t denominator_;
  int64_t baseUs_ = 0;
  int64_t frames_ = 0;
};
