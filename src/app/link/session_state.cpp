#include "session_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

void ResetForActivation(AppState* s, const std::string& device, const std::string& model) {
  std::vector<PairingRequest> pending = std::move(s->pending);
  *s = AppState{};
  s->connected = true;
  s->deviceName = device;
  s->model = model;
  s->pending = std::move(pending);
}

bool ApplyStatus(AppState* s, const StatusMessage& m, uint64_t nowMs, uint64_t focusCommandMs,
                 uint64_t blurCommandMs, std::string* capsLine) {
  bool changed = false;
  if (m.hasCaps) {
    bool focusSupported = m.focusModes != 0;
    if (s->blurSupported != m.capsBlur || s->focusModes != m.focusModes || s->focusSupported != focusSupported) {
      changed = true;
    }
    s->blurSupported = m.capsBlur;
    s->focusModes = m.focusModes;
    s->focusSupported = focusSupported;
  }
  if (m.hasFocus) {
    if (m.faces != s->faces) {
      s->faces = m.faces;
      changed = true;
    }
    if (nowMs - focusCommandMs > 500) {
      if (m.hasMode) {
        for (int mode = 0; mode < 3; ++mode) {
          if (m.mode == kFocusModeNames[mode] && mode != s->focusMode) {
            s->focusMode = mode;
            changed = true;
          }
        }
      }
      if (m.hasValue && m.value >= 0 && m.value <= 1 && std::fabs(m.value - s->focusValue) > 0.004) {
        s->focusValue = static_cast<float>(m.value);
        changed = true;
      }
    }
  }
  if (nowMs - blurCommandMs > 500 && m.hasBlur && m.blur >= 0 && m.blur <= 1 &&
      std::fabs(m.blur - s->blurValue) > 0.004) {
    s->blurValue = static_cast<float>(m.blur);
    changed = true;
  }
  if (m.hasPaused) {
    if (m.paused != s->paused) changed = true;
    s->paused = m.paused;
  }
  if (m.hasBattery) s->battery = m.battery;
  if (m.hasCamera) s->camera = m.camera;
  if (m.hasCaps && (!s->capsKnown || s->rates[0] != m.rates[0] || s->rates[1] != m.rates[1] ||
                    s->rates[2] != m.rates[2])) {
    for (int i = 0; i < 3; ++i) s->rates[i] = m.rates[i];
    s->capsKnown = true;
    char line[128];
    std::snprintf(line, sizeof line, "caps del celu: 720p=%u 1080p=%u 4K=%u (bit0=30 bit1=60)", m.rates[0],
                  m.rates[1], m.rates[2]);
    *capsLine = line;
    changed = true;
  }
  return changed;
}

ConfigOutcome ApplyConfig(AppState* s, int width, int height, int fps, uint64_t nowMs, uint64_t qualityRequestMs) {
  ConfigOutcome out;
  int resolution = ResolutionIndex(width, height);
  int rate = RateIndex(fps);
  bool changed = s->width != 0 && (s->width != width || s->height != height || s->fps != fps);
  if (s->requestedResolution >= 0) {
    if (resolution == s->requestedResolution && rate == s->requestedRate) {
      char line[160];
      std::snprintf(line, sizeof line, "Calidad aplicada: %s@%d (%llu ms después del pedido)",
                    kResolutionNames[resolution], kRates[rate],
                    static_cast<unsigned long long>(nowMs - qualityRequestMs));
      out.appliedLine = line;
      s->requestedResolution = -1;
      s->requestedRate = -1;
    }
  } else {
    out.adopt = changed && resolution >= 0 && rate >= 0;
  }
  s->width = width;
  s->height = height;
  s->fps = fps;
  if (out.adopt) out.savedText = QualityText(resolution, rate);
  return out;
}

bool ParseSavedQuality(const std::string& text, int* resolution, int* rate) {
  size_t at = text.find('@');
  if (at == std::string::npos) return false;
  std::string name = text.substr(0, at);
  long fps = std::atol(text.c_str() + at + 1);
  for (int r = 0; r < 3; ++r) {
    if (name != kResolutionNames[r]) continue;
    int i = RateIndex(static_cast<int>(fps));
    if (i < 0 || (fps != 30 && fps != 60)) return false;
    *resolution = r;
    *rate = i;
    return true;
  }
  return false;
}

std::string QualityText(int resolution, int rate) {
  return std::string(kResolutionNames[resolution]) + "@" + std::to_string(kRates[rate]);
}

int64_t ClockEstimator::OnPing(int64_t nowUs, int64_t phoneUs) {
  offsets_.push_back(nowUs - phoneUs);
  if (offsets_.size() > kWindow) offsets_.pop_front();
  int64_t minOffset = *std::min_element(offsets_.begin(), offsets_.end());
  int64_t minTrip = roundTrips_.empty() ? 0 : *std::min_element(roundTrips_.begin(), roundTrips_.end());
  return minOffset - minTrip / 2;
}

int64_t ClockEstimator::OnPong(int64_t nowUs, int64_t sentUs) {
  int64_t trip = nowUs - sentUs;
  roundTrips_.push_back(trip);
  if (roundTrips_.size() > kWindow) roundTrips_.pop_front();
  return trip;
}

double SmoothRoundTrip(double storedMs, double sampleMs) {
  return storedMs < 0 ? sampleMs : storedMs * 0.7 + sampleMs * 0.3;
}
