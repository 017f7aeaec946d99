#include "actions.h"

#include <algorithm>

#include "../link/messages.h"

QualityRequest ChooseQuality(int controlId, const QualityNow& now) {
  int resolution, rate;
  if (controlId >= 20 && controlId <= 22) {
    resolution = controlId - 20;
    rate = now.requestedRate >= 0 ? now.requestedRate : RateIndex(now.fps);
  } else {
    rate = controlId - 30;
    resolution = now.requestedResolution >= 0 ? now.requestedResolution : ResolutionIndex(now.width, now.height);
    if (resolution < 0) resolution = 1;
  }
  const uint8_t offered = now.rates[resolution];
  if (rate < 0 || rate > 1 || !(offered >> rate & 1)) rate = offered & 2 ? 1 : 0;
  return {resolution, rate};
}

float SliderValueAt(float x, float dpi, float left, float right) {
  const float value = (x * 96.0f / dpi - (left + 8)) / (right - left - 16);
  return std::clamp(value, 0.0f, 1.0f);
}
