#include "window_geometry.h"

PixelRect MainWindowPlacement(unsigned dpi, const PixelRect& work) {
  double s = dpi / 96.0;
  int w = static_cast<int>(380 * s + 0.5);
  int h = static_cast<int>(560 * s + 0.5);
  int x = (work.left + work.right - w) / 2;
  int y = (work.top + work.bottom - h) / 2;
  return {x, y, x + w, y + h};
}

PixelRect PanelInitialPlacement(unsigned dpi) {
  double s = dpi / 96.0;
  return {0, 0, static_cast<int>(300 * s), static_cast<int>(312 * s)};
}
