#include <windows.h>
#include <shellapi.h>

#include "../link/phone_link.h"
#include "../ui/qr_draw.h"
#include "../video/video_pipeline.h"
#include "app.h"
#include "app_window.h"
#include "diagnostics_win.h"
#include "log.h"
#include "options.h"

AppWindow g_main;
AppWindow g_panel;

namespace {

constexpr UINT_PTR kTickTimer = 1;
AppState g_state;  // the UI thread's copy of the link's live state

AppWindow* WindowOf(HWND window) { return window == g_panel.window ? &g_panel : &g_main; }

void WriteSecondLines() {
  const CpuMemorySample& cpu = CurrentCpuMemory();
  StateLineValues v;
  v.cpuPercent = cpu.cpuPercent;
  v.memoryMb = cpu.memoryMb;
  v.connected = g_state.connected;
  v.width = g_state.width;
  v.height = g_state.height;
  v.fps = g_state.fps;
  v.receivedFps = g_state.receivedFps;
  v.receivedMbps = g_state.receivedMbps;
  v.decodedFrames = g_video.DecodedFrames();
  v.cameraFrames = g_video.CameraFrames();
  v.roundTripMs = g_state.roundTripMs;
  v.decodeMs = g_video.DecodeMs();
  v.hardware = g_video.Hardware();
  LogLine("%s", StateLineText(v).c_str());

  LatencyStats& latency = g_video.Latency();
  latency.RollSecond();
  if (g_state.connected && g_video.ClockValid()) {
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

uint64_t g_lastRenderTick = 0;

// The camera keeps the last picture while a phone is connected, paused
// here or on the phone, and turns black without one.
void UpdateCameraLink() { g_video.Camera().SetLinkState(g_state.connected, g_link.PausedByPc() || g_state.paused); }

void OnTick() {
  SampleCpuAndMemory();
  g_state = g_link.Snapshot();
  UpdateCameraLink();
  UpdateTrayIcon(false);
  WriteSecondLines();
  uint64_t now = GetTickCount64();
  if (g_options.salirTras > 0 && now - g_app.startTick > static_cast<uint64_t>(g_options.salirTras) * 1000) {
    DestroyWindow(g_app.mainWindow);
    return;
  }
  if (now - g_lastRenderTick > 900) RenderBothWindows();
}

// Messages both windows handle alike; false lets the window's own
// procedure go on.
bool HandleCommon(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  AppWindow* self = WindowOf(window);
  switch (message) {
    case WM_SIZE:
      UpdatePreviewSize();
      *result = 0;
      return true;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      RenderBothWindows();
      *result = 0;
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
      *result = 0;  // no visible frame: the client area is the whole window
      return true;
    case WM_NCHITTEST: {
      if (self->isPanel) {
        *result = HTCLIENT;
        return true;
      }
      POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ScreenToClient(window, &p);
      // The top band drags the window.
      *result = static_cast<float>(p.y) * 96.0f / self->dpi < 40.0f ? HTCAPTION : HTCLIENT;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

void RenderBothWindows() { g_lastRenderTick = GetTickCount64(); }
void UpdatePreviewSize() {}
void UpdateTrayIcon(bool) {}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleCommon(window, message, wParam, lParam, &result)) return result;
  if (g_app.taskbarCreatedMessage != 0 && message == g_app.taskbarCreatedMessage) {
    UpdateTrayIcon(true);
    return 0;
  }
  switch (message) {
    case WM_DESTROY: {
      if (g_state.connected) g_video.Latency().Report("al salir");
      NOTIFYICONDATAW icon{};
      icon.cbSize = sizeof icon;
      icon.hWnd = window;
      icon.uID = 1;
      Shell_NotifyIconW(NIM_DELETE, &icon);
      PostQuitMessage(0);
      return 0;
    }
    case WM_KEYDOWN:
      return 0;
    case WM_TIMER:
      if (wParam == kTickTimer) OnTick();
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
      RenderBothWindows();
      return 0;
    case kMsgStateChanged: {
      const bool wasConnected = g_state.connected;
      g_state = g_link.Snapshot();
      // A session that ended keeps its totals: they are written now, before
      // the next phone's session resets them.
      if (wasConnected && !g_state.connected) g_video.Latency().Report("al cortar");
      UpdateCameraLink();
      // A new pairing code (a session ended, or too many wrong guesses)
      // shows at once; an unchanged address is not encoded again.
      BuildQr();
      UpdateTrayIcon(false);
      UpdatePreviewSize();
      RenderBothWindows();
      return 0;
    }
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
        ShowWindow(window, SW_HIDE);
        UpdatePreviewSize();
        return 0;
      }
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) ShowWindow(window, SW_HIDE);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
