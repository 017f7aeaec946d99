#pragma once
// What the window's controls ask of the phone, worked out without any
// window: the quality a click on the quality menu requests, and the
// position and pace of a dragged slider.
#include <cstdint>

struct QualityRequest {
  int resolution;  // 0 720p, 1 1080p, 2 4K
  int rate;        // 0 30 fps, 1 60 fps
};

struct QualityNow {
  int width = 0, height = 0, fps = 0;  // the stream's, 0 while unknown
  int requestedResolution = -1;        // a request not yet met, -1 none
  int requestedRate = -1;
  uint8_t rates[3] = {0, 0, 0};        // per resolution: bit 0 = 30 fps, bit 1 = 60 fps
};

// For the resolution cells (ids 20 to 22) and the frame-rate cells (30, 31):
// the other half comes from the pending request, else the stream; a rate the
// phone does not offer at that resolution becomes 60 fps if it offers that,
// else 30 fps.
QualityRequest ChooseQuality(int controlId, const QualityNow& now);

// The slider's value under the mouse: x in client pixels at the window's
// DPI, the slider's region in DIP (its ends 8 DIP inside), clamped to 0..1.
float SliderValueAt(float x, float dpi, float left, float right);

// At most one request per 80 ms while a slider moves; the first move after
// the press always sends.
class SliderPace {
 public:
  void Start() { lastSendMs_ = 0; }
  bool ShouldSend(uint64_t nowMs) {
    if (lastSendMs_ != 0 && nowMs - lastSendMs_ < 80) return false;
    lastSendMs_ = nowMs;
    return true;
  }

 private:
  uint64_t lastSendMs_ = 0;
};
