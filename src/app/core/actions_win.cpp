// What a click on each control does, and the two sliders' drag.
#include <windows.h>

#include <cstring>

#include "../link/phone_link.h"
#include "../video/video_pipeline.h"
#include "../ui/controls_win.h"
#include "app_window.h"
#include "notices_win.h"

namespace {

constexpr int32_t kFocusSlider = 45, kBlurSlider = 46;

// "Orvane Cam" on the clipboard; the feedback runs even when the clipboard
// cannot be opened.
void CopyCameraName() {
  static const wchar_t kName[] = L"Orvane Cam";
  static_assert(sizeof kName == 22);
  if (OpenClipboard(g_main.window)) {
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof kName)) {
      if (void* p = GlobalLock(block)) {
        memcpy(p, kName, sizeof kName);
        GlobalUnlock(block);
        EmptyClipboard();
        if (!SetClipboardData(CF_UNICODETEXT, block)) GlobalFree(block);
      } else {
        GlobalFree(block);
      }
    }
    CloseClipboard();
  }
  g_ui.copiedUntil = GetTickCount64() + 1500;
  SetTimer(g_main.window, 2, 1600, nullptr);
}

void RequestQualityFor(int32_t id) {
  const AppState& a = g_ui.state;
  QualityNow now;
  now.width = a.width, now.height = a.height, now.fps = a.fps;
  now.requestedResolution = a.requestedResolution;
  now.requestedRate = a.requestedRate;
  for (int i = 0; i < 3; ++i) now.rates[i] = a.rates[i];
  const QualityRequest q = ChooseQuality(id, now);
  g_link.RequestQuality(q.resolution, q.rate);
}

}  // namespace

bool LinkPaused() { return g_link.PausedByPc() || g_ui.state.paused; }

void RunAction(AppWindow& w, int32_t id) {
  switch (id) {
    case 1:
    case 2:
      HideWindow(g_main);
      UpdatePreviewSize();
      break;
    case 3:
      CopyCameraName();
      break;
    case 4:
      g_ui.microphoneOn = !g_ui.microphoneOn;
      break;
    case 5:
      g_video.SetMirror(!g_video.Mirror());
      break;
    case 6:
    case 9:
      g_link.RequestPause(!g_link.PausedByPc());
      break;
    case 7:
      g_link.Disconnect();
      break;
    case 8:
      ShowMainWindow();
      break;
    case 10:
      if (!g_ui.state.connected) {
        DestroyWindow(g_main.window);  // the program ends
        return;
      }
      g_link.Disconnect();
      break;
    case 11:
      w.qualityMenuOpen = !w.qualityMenuOpen;
      w.moreMenuOpen = false;
      break;
    case kNoticeId:
      RunNoticeAction(g_ui.state.connected);
      break;
    case 12:
      w.qualityMenuOpen = false;
      w.moreMenuOpen = false;
      break;
    case 20:
    case 21:
    case 22:
    case 30:
    case 31:
      RequestQualityFor(id);
      break;
    case 40:
      w.moreMenuOpen = !w.moreMenuOpen;
      w.qualityMenuOpen = false;
      break;
    case 41:
    case 42:
    case 43:
      g_link.RequestFocus(id - 41, g_ui.state.focusValue);
      break;
    default:
      if (id >= 100 && static_cast<size_t>(id - 100) < g_ui.state.pending.size()) {
        g_link.Approve(g_ui.state.pending[static_cast<size_t>(id - 100)].id);
      }
      break;
  }
  RefreshState();
  UpdateTrayIcon(false);
  RenderBothWindows();
}

void MoveSlider(AppWindow& w, int x) {
  const float value = SliderValueAt(static_cast<float>(x), w.dpi, w.sliderRegion.left, w.sliderRegion.right);
  const bool send = w.sliderPace.ShouldSend(GetTickCount64());
  if (w.dragging == kFocusSlider) {
    g_ui.state.focusValue = value;
    if (send) g_link.RequestFocus(2, value);
  } else if (w.dragging == kBlurSlider) {
    g_ui.state.blurValue = value;
    if (send) g_link.RequestBlur(value, false);
  }
  RenderWindow(w);
}

void EndSliderDrag(AppWindow& w) {
  if (w.dragging == kFocusSlider) g_link.RequestFocus(2, g_ui.state.focusValue);
  if (w.dragging == kBlurSlider) g_link.RequestBlur(g_ui.state.blurValue, true);
  w.dragging = 0;
  w.pressedId = 0;
  RefreshState();
  RenderBothWindows();
}
