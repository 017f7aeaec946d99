#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>

#include "../link/phone_link.h"
#include "../ui/live_capture_win.h"
#include "../ui/qr_draw.h"
#include "../video/video_pipeline.h"
#include "app.h"
#include "app_window.h"
#include "diagnostics_win.h"
#include "log.h"
#include "notices_win.h"
#include "options.h"

AppWindow g_main;
AppWindow g_panel;
UiState g_ui;

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kCopiedTimer = 2;

AppWindow& WindowOf(HWND window) { return window == g_panel.window ? g_panel : g_main; }

void WriteSecondLines() {
  const CpuMemorySample& cpu = CurrentCpuMemory();
  StateLineValues v;
  v.cpuPercent = cpu.cpuPercent;
  v.memoryMb = cpu.memoryMb;
  v.connected = g_ui.state.connected;
  v.width = g_ui.state.width;
  v.height = g_ui.state.height;
  v.fps = g_ui.state.fps;
  v.receivedFps = g_ui.state.receivedFps;
  v.receivedMbps = g_ui.state.receivedMbps;
  v.decodedFrames = g_video.DecodedFrames();
  v.cameraFrames = g_video.CameraFrames();
  v.roundTripMs = g_ui.state.roundTripMs;
  v.decodeMs = g_video.DecodeMs();
  v.hardware = g_video.Hardware();
  LogLine("%s", StateLineText(v).c_str());

  LatencyStats& latency = g_video.Latency();
  latency.RollSecond();
  if (g_ui.state.connected && g_video.ClockValid()) {
    DelayLineValues d;
    for (int stage = 0; stage < kStageCount; ++stage) {
      LatencyFigures f = latency.LastSecond(stage);
      d.average[stage] = f.average;
      d.worst[stage] = f.worst;
    }
    d.clockOffsetUs = g_video.ClockOffsetUs();
    d.skippedFrames = g_video.SkippedFrames();
    LogLine("%s", DelayLineText(d).c_str());
  }
}

// The camera keeps the last picture while a phone is connected, paused
// here or on the phone, and turns black without one.
void UpdateCameraLink() { g_video.Camera().SetLinkState(g_ui.state.connected, LinkPaused()); }

// "--captura-en-vivo": once, 4 s after the first picture arrived.
void CaptureLiveOnce(uint64_t now) {
  if (g_options.capturaEnVivo.empty() || g_ui.firstFrameTick == 0 || now - g_ui.firstFrameTick <= 4000) return;
  CaptureLiveWindow(g_options.capturaEnVivo, SnapshotFor(g_main), g_main.dpi, g_video, g_app.d2dFactory.Get(),
                    g_app.dwriteFactory.Get(), g_app.d2dMultithread.Get());
  g_options.capturaEnVivo.clear();
  UpdatePreviewSize();
}

void OnTick() {
  GraphicsDeviceTick();
  NoticeTick(GetTickCount64());
  SampleCpuAndMemory();
  RefreshState();
  UpdateCameraLink();
  UpdateTrayIcon(false);
  WriteSecondLines();
  ++g_ui.stateVersion;  // the second's delay figures are new
  uint64_t now = GetTickCount64();
  CaptureLiveOnce(now);
  if (g_options.salirTras > 0 && now - g_app.startTick > static_cast<uint64_t>(g_options.salirTras) * 1000) {
    DestroyWindow(g_app.mainWindow);
    return;
  }
  if (now - g_ui.lastRenderTick > 900) RenderBothWindows();
}

// The region under a client point in pixels, found in DIPs.
const HitRegion* RegionAt(const AppWindow& w, LPARAM lParam) {
  const float scale = 96.0f / w.dpi;
  return w.hits.At(static_cast<float>(GET_X_LPARAM(lParam)) * scale, static_cast<float>(GET_Y_LPARAM(lParam)) * scale);
}

int32_t HitAt(const AppWindow& w, LPARAM lParam) {
  const HitRegion* r = RegionAt(w, lParam);
  return r ? r->id : 0;
}

void OnMouseMove(AppWindow& w, LPARAM lParam) {
  if (!w.tracking) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = w.window;
    w.tracking = TrackMouseEvent(&track) != FALSE;
  }
  if (w.dragging) {
    MoveSlider(w, GET_X_LPARAM(lParam));
    return;
  }
  const int32_t id = HitAt(w, lParam);
  if (id != w.hoveredId) {
    w.hoveredId = id;
    RenderWindow(w);
  }
  SetCursor(LoadCursorW(nullptr, id != 0 ? IDC_HAND : IDC_ARROW));
}

void OnButtonDown(AppWindow& w, LPARAM lParam) {
  const HitRegion* region = RegionAt(w, lParam);
  w.pressedId = region ? region->id : 0;
  if (w.pressedId == 45 || w.pressedId == 46) {
    w.sliderRegion = *region;
    w.dragging = w.pressedId;
    w.sliderPace.Start();
    SetCapture(w.window);
    MoveSlider(w, GET_X_LPARAM(lParam));
  }
}

void OnButtonUp(AppWindow& w, LPARAM lParam) {
  if (w.dragging) {
    MoveSlider(w, GET_X_LPARAM(lParam));
    EndSliderDrag(w);
    ReleaseCapture();
    return;
  }
  const int32_t id = HitAt(w, lParam);
  const int32_t pressed = w.pressedId;
  w.pressedId = 0;
  if (id != 0 && id == pressed) RunAction(w, id);
}

// Messages both windows handle alike; false lets the window's own
// procedure go on.
bool HandleCommon(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  AppWindow& self = WindowOf(window);
  *result = 0;
  switch (message) {
    case WM_SIZE:
      if (self.swapChain) {
        if (self.context) self.context->SetTarget(nullptr);
        self.target.Reset();
        self.swapChain->ResizeBuffers(0, 0, 0, DXGI_FORMAT_UNKNOWN, 0);
      }
      UpdatePreviewSize();
      return true;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      RenderWindow(self);
      return true;
    }
    case WM_ERASEBKGND:
      *result = 1;
      return true;
    case WM_SETCURSOR:
      if (LOWORD(lParam) != HTCLIENT) return false;
      *result = 1;
      return true;
    case WM_NCCALCSIZE:
      if (!wParam) return false;
      return true;  // no visible frame: the client area is the whole window
    case WM_NCHITTEST: {
      if (self.isPanel) {
        *result = HTCLIENT;
        return true;
      }
      POINT p = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(window, &p);
      // The top band drags the window, except over its buttons.
      const float scale = 96.0f / self.dpi;
      if (static_cast<float>(p.y) * scale < 40.0f) {
        *result = self.hits.Hit(static_cast<float>(p.x) * scale, static_cast<float>(p.y) * scale) != 0 ? HTCLIENT
                                                                                                      : HTCAPTION;
      } else {
        *result = HTCLIENT;
      }
      return true;
    }
    case WM_MOUSEMOVE:
      OnMouseMove(self, lParam);
      return true;
    case WM_LBUTTONDOWN:
      OnButtonDown(self, lParam);
      return true;
    case WM_LBUTTONUP:
      OnButtonUp(self, lParam);
      return true;
    case WM_WINDOWPOSCHANGED:
      // Shown or hidden by whoever (a second copy of the program shows the
      // main window from outside): the preview follows.
      if (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) UpdatePreviewSize();
      return false;
    case WM_CAPTURECHANGED:
      if (!self.dragging || reinterpret_cast<HWND>(lParam) == window) return false;
      EndSliderDrag(self);
      return true;
    case WM_MOUSELEAVE:
      self.tracking = false;
      if (self.hoveredId != 0) {
        self.hoveredId = 0;
        RenderWindow(self);
      }
      return true;
    default:
      return false;
  }
}

}  // namespace

void RefreshState() {
  const bool wasConnected = g_ui.state.connected;
  g_ui.state = g_link.Snapshot();
  ++g_ui.stateVersion;
  // Whichever refresh sees the phone gone first (the state message, the
  // tick, the action that disconnected it) ends the session here.
  if (wasConnected && !g_ui.state.connected) {
    ReleasePreviewBitmap();
    // The menus belong to that phone: the next one starts with them closed.
    for (AppWindow* w : {&g_main, &g_panel}) w->qualityMenuOpen = w->moreMenuOpen = false;
    // A session that ended keeps its totals: they are written now, before
    // the next phone's session resets them.
    g_video.Latency().Report("al cortar");
  }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleCommon(window, message, wParam, lParam, &result)) return result;
  if (g_app.taskbarCreatedMessage != 0 && message == g_app.taskbarCreatedMessage) {
    UpdateTrayIcon(true);  // the shell started again
    return 0;
  }
  switch (message) {
    case WM_DESTROY: {
      if (g_ui.state.connected) g_video.Latency().Report("al salir");
      NOTIFYICONDATAW icon{};
      icon.cbSize = sizeof icon;
      icon.hWnd = window;
      icon.uID = 1;
      Shell_NotifyIconW(NIM_DELETE, &icon);
      PostQuitMessage(0);
      return 0;
    }
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE && (g_main.qualityMenuOpen || g_main.moreMenuOpen)) {
        g_main.qualityMenuOpen = false;
        g_main.moreMenuOpen = false;
        RenderWindow(g_main);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kTickTimer) {
        OnTick();
      } else if (wParam == kCopiedTimer) {
        KillTimer(window, kCopiedTimer);
        RenderBothWindows();  // the "copied" feedback ends
      }
      return 0;
    case WM_DPICHANGED: {
      g_main.dpi = HIWORD(wParam);
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      UpdatePreviewSize();
      return 0;
    }
    case kMsgNewFrame:
      g_video.ClearFramePosted();
      if (g_ui.firstFrameTick == 0) g_ui.firstFrameTick = GetTickCount64();
      // Posted messages come before input: when drawing a picture takes
      // longer than the time between pictures, the mouse and keys would
      // wait for as long as the phone streams. Waiting input goes first;
      // its own drawing, or the next picture's, shows the newest picture.
      // The one-second tick likewise: a timer's message is only made once
      // no posted message waits, so pictures that come faster than they
      // are drawn would starve it (the state, the log, "--salir-tras").
      if (HIWORD(GetQueueStatus(QS_INPUT | QS_TIMER)) == 0) RenderBothWindows();
      return 0;
    case kMsgStateChanged: {
      RefreshState();
      UpdateCameraLink();
      // A new pairing code (a session ended, or too many wrong guesses)
      // shows at once; an unchanged address is not encoded again.
      BuildQr();
      UpdateTrayIcon(false);
      UpdatePreviewSize();
      RenderBothWindows();
      return 0;
    }
    case kMsgTray:
      OnTrayMessage(wParam, lParam);
      return 0;
    case kMsgDeviceLost:
      // A loss of a device already replaced is old news.
      if (static_cast<uint32_t>(lParam) == g_video.DeviceGeneration()) {
        OnGraphicsDeviceLost(static_cast<HRESULT>(wParam));
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleCommon(window, message, wParam, lParam, &result)) return result;
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        // Already hidden (Escape, Cortar): the panel did not lose a click,
        // and the tray's next one must open it.
        if (!IsWindowVisible(window)) return 0;
        HideWindow(g_panel);
        g_ui.panelDeactivatedTick = GetTickCount64();
        UpdatePreviewSize();
        return 0;
      }
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) {
        if (g_panel.qualityMenuOpen) {
          g_panel.qualityMenuOpen = false;
          RenderWindow(g_panel);
        } else {
          HideWindow(g_panel);
        }
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
