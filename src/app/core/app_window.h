#pragma once
// The UI thread's windows: procedures, the one-second tick, rendering,
// mouse handling, the tray icon and the actions of the controls. Everything
// here belongs to the UI thread.
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <string>

#include "../link/app_state.h"
#include "../ui/painter_win.h"
#include "actions.h"

struct AppWindow {
  HWND window = nullptr;
  bool isPanel = false;
  float dpi = 96.0f;
  // Made at the first render while shown, dropped when hidden.
  Microsoft::WRL::ComPtr<IDXGISwapChain1> swapChain;
  Microsoft::WRL::ComPtr<ID2D1Bitmap1> target;
  // Made once.
  Microsoft::WRL::ComPtr<ID2D1DeviceContext> context;
  std::unique_ptr<Painter> painter;
  HitList hits;  // from the last frame drawn
  int32_t hoveredId = 0;
  int32_t pressedId = 0;
  bool tracking = false;
  bool qualityMenuOpen = false;
  bool moreMenuOpen = false;
  int32_t dragging = 0;  // 45 focus or 46 blur slider while dragged
  HitRegion sliderRegion{};
  SliderPace sliderPace;
  // The last frame's snapshot, and the state version its texts come from.
  UiSnapshot shown;
  uint64_t shownVersion = 0;
};

extern AppWindow g_main;
extern AppWindow g_panel;

// The UI thread's other state.
struct UiState {
  AppState state;  // copy of the link's live state
  uint64_t stateVersion = 1;  // counts RefreshState
  uint64_t lastRenderTick = 0;
  uint64_t panelDeactivatedTick = 0;
  uint64_t copiedUntil = 0;  // the "copied" feedback runs until then
  bool microphoneOn = true;
  uint64_t firstFrameTick = 0;  // first new-picture message, for the live capture
  // The preview as a Direct2D bitmap, made again when the pipeline's
  // texture or its generation changes.
  Microsoft::WRL::ComPtr<ID2D1Bitmap1> previewBitmap;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> previewTexture;
  int64_t previewGeneration = -1;
  int64_t lastShownTimestampUs = -1;
  // The graphics device was lost and no new one could be made yet.
  bool deviceLost = false;
  bool deviceRetryLogged = false;
  // Test mode: the next drawing or presenting reports a lost device; the
  // device says it was removed when next asked.
  bool failNextDraw = false;
  bool failNextPresent = false;
  bool failNextDeviceCheck = false;
  // Tray icon.
  uint32_t trayColour = 0xFFFFFFFF;  // none yet
  HICON trayIcon = nullptr;
  bool trayVersion4 = false;  // the shell sends NIN_SELECT for a click
};

extern UiState g_ui;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The UI's copy of the link's state, taken again; a phone that went away
// since the last copy ends its session on screen and in the log.
void RefreshState();
LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Rendering (render_win.cpp).
void RenderWindow(AppWindow& w);
void RenderBothWindows();
void DropSwapChain(AppWindow& w);
void ReleasePreviewBitmap();
// Everything the windows hold of the graphics device, before it closes.
void ReleaseWindowGraphics();
void UpdatePreviewSize();
void ShowMainWindow();
void HideWindow(AppWindow& w);
// What one frame of this window shows, from the live state; its texts are
// made again only when RefreshState ran since the last frame.
const UiSnapshot& SnapshotFor(AppWindow& w);

// The graphics device (device_recovery_win.cpp).
// The windows draw with `device` from now on; false when Direct2D cannot
// use it.
bool AttachWindowsToDevice(ID3D11Device* device);
// Once per loss: logged, everything on the old device dropped, a new one
// made and handed to the pipeline. Safe to call again while recovering.
void OnGraphicsDeviceLost(HRESULT reason);
// The one-second tick: a device that could not be made is tried again, a
// removed one is noticed even while nothing is drawn (the windows hidden,
// as a program started with Windows is); in test mode a requested fault is
// simulated.
void GraphicsDeviceTick();
// Asks the device whether it was removed, and recovers when it was.
void CheckGraphicsDevice();
// Test mode: the fault the "--simular-falla" file asks for, simulated now
// (also before the first device is made).
void SimulateRequestedFault();
// Test mode: the words of the fault file given with "--simular-falla",
// which is then removed; empty when there is none.
std::string TakeSimulatedFault();

// Tray icon and panel (tray_win.cpp).
void UpdateTrayIcon(bool add);
void OnTrayMessage(WPARAM wParam, LPARAM lParam);
void OpenPanel();

// Actions of the controls (actions_win.cpp).
void RunAction(AppWindow& w, int32_t id);
void MoveSlider(AppWindow& w, int x);
void EndSliderDrag(AppWindow& w);
// The phone counts as paused when the PC paused it or it says so.
bool LinkPaused();
