#pragma once
// Where the windows first appear, in pixels, for a monitor's DPI and work
// area.

struct PixelRect {
  int left, top, right, bottom;
};

// The main window is rounded to the nearest pixel and centred in the work
// area; the panel's first size is truncated (it is sized again when it opens).
PixelRect MainWindowPlacement(unsigned dpi, const PixelRect& work);
PixelRect PanelInitialPlacement(unsigned dpi);
