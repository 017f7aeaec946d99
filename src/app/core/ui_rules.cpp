#include "ui_rules.h"

#include <algorithm>
#include <cmath>

int ShownLatencyMs(const LatencyFigures lastSecond[kStageCount], double roundTripMs, double decodeMs) {
  for (int stage : {kStageShown, kStageCamera, kStageDecoded}) {
    const LatencyFigures& f = lastSecond[stage];
    if (f.count <= 0) continue;
    if (f.average >= 0) return static_cast<int>(std::lround(f.average));
    break;
  }
  if (roundTripMs >= 0) return static_cast<int>(std::lround(roundTripMs / 2 + decodeMs));
  return -1;
}

PreviewSize PreviewSizeFor(const PreviewWindows& w) {
  const bool mainArea = w.mainShown || w.liveCapturePending;
  const float dpi = mainArea ? w.mainDpi : w.panelDpi;
  const float width = mainArea ? 346.0f : 272.0f, height = mainArea ? 196.0f : 152.0f;
  return {static_cast<int>(width * dpi / 96 + 0.5f), static_cast<int>(height * dpi / 96 + 0.5f),
          w.mainShown || w.panelVisible || w.liveCapturePending};
}

PixelRect PanelOpenPlacement(unsigned dpi, const PixelRect& work) {
  const double s = dpi / 96.0;
  const int margin = static_cast<int>(14 * s);
  const int w = static_cast<int>(300 * s + 0.5), h = static_cast<int>(312 * s + 0.5);
  const int left = work.right - margin - w, top = work.bottom - margin - h;
  return {left, top, left + w, top + h};
}

uint32_t TrayColour(bool connected, bool paused) {
  if (!connected) return 0;
  return paused ? 0x9AA0AA : 0x3DDC84;
}

std::string TrayTooltip(bool connected, bool paused, const std::string& deviceName) {
  if (!connected) return "Orvane \xC2\xB7 Esperando el celu";
  return std::string("Orvane \xC2\xB7 ") + (paused ? "En pausa" : "En vivo") + " (" + deviceName + ")";
}

void ToStraightAlpha(uint8_t* bgra, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, bgra += 4) {
    const unsigned alpha = bgra[3];
    for (int c = 0; c < 3; ++c) {
      bgra[c] = alpha == 0 ? 0 : static_cast<uint8_t>(std::min(255u, bgra[c] * 255u / alpha));
    }
  }
}
