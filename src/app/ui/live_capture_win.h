#pragma once
// "--captura-en-vivo": the main window drawn once with the live preview
// into a PNG file.
#include <d2d1_1.h>
#include <dwrite.h>

#include <string>

#include "painter_win.h"

class VideoPipeline;

// Copies the pipeline's preview texture (under Direct2D's lock: the session
// thread uses the same device), draws the main window with it at the given
// DPI over `snapshot` (the live state), saves the PNG and logs
// "Captura en vivo <path>: ok|ERROR". Without a preview texture, or when its
// copy cannot be made, nothing is written or logged. True when written.
bool CaptureLiveWindow(const std::wstring& path, UiSnapshot snapshot, float dpi, VideoPipeline& video,
                       ID2D1Factory1* d2d, IDWriteFactory* dwrite, ID2D1Multithread* lock);
