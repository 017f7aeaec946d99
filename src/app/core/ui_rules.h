#pragma once
// Rules of the windows and the tray icon that need no window: the latency
// the window shows, the preview size the pipeline must produce, where the
// panel opens, the tray icon's colour and tooltip and its pixels.
#include <cstddef>
#include <cstdint>
#include <string>

#include "latency_stats.h"
#include "window_geometry.h"

// The delay shown to the user, in whole ms, -1 while unknown: the last
// second's average of the latest stage that had samples (shown, camera,
// decoded), else half the round trip plus the decode time once the round
// trip is measured.
int ShownLatencyMs(const LatencyFigures lastSecond[kStageCount], double roundTripMs, double decodeMs);

// Which windows want a preview, and how large it must be in pixels.
struct PreviewWindows {
  bool mainShown = false;  // visible and not minimised
  float mainDpi = 96;
  bool panelVisible = false;
  float panelDpi = 96;
  bool liveCapturePending = false;  // draws the main window even while it is hidden
};
struct PreviewSize {
  int width, height;
  bool wanted;
};
PreviewSize PreviewSizeFor(const PreviewWindows& w);

// The panel, bottom-right in the work area of a monitor, 14 DIP from its edges.
PixelRect PanelOpenPlacement(unsigned dpi, const PixelRect& work);

// A click on the tray icon that comes right after the panel lost the focus
// to it only closes the panel; it opens again from the next click on.
inline bool PanelMayOpen(uint64_t nowMs, uint64_t deactivatedMs) { return nowMs - deactivatedMs > 300; }

// 0 without a phone, grey while paused, green while live (0xRRGGBB).
uint32_t TrayColour(bool connected, bool paused);
// "Orvane · En vivo (name)", "Orvane · En pausa (name)", "Orvane · Esperando el celu".
std::string TrayTooltip(bool connected, bool paused, const std::string& deviceName);

// Premultiplied BGRA to straight alpha in place: each colour channel times
// 255 over alpha, capped at 255; fully transparent pixels become 0.
void ToStraightAlpha(uint8_t* bgra, size_t pixels);
