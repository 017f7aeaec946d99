// Presenting the two windows: a flip-model swap chain per visible window,
// its back buffer as the Direct2D target, the preview as a Direct2D bitmap
// of the pipeline's texture, and the snapshot the drawing works from.
#include <windows.h>
#include <d2d1_1.h>
#include <dxgi1_2.h>

#include <algorithm>
#include <utility>

#include "../../common/text_win.h"
#include "../link/phone_link.h"
#include "../video/video_pipeline.h"
#include "../video/virtual_camera.h"
#include "app.h"
#include "app_window.h"
#include "diagnostics_win.h"
#include "notices_win.h"
#include "options.h"
#include "ui_rules.h"

using Microsoft::WRL::ComPtr;

namespace {

bool EnsureSwapChain(AppWindow& w) {
  if (w.swapChain) return true;
  if (!g_app.dxgiDevice) return false;  // lost, and not made again yet
  if (!w.context) {
    if (!g_app.d2dDevice ||
        FAILED(g_app.d2dDevice->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &w.context))) {
      return false;
    }
    w.painter = std::make_unique<Painter>(g_app.d2dFactory.Get(), g_app.dwriteFactory.Get());
  }
  ComPtr<IDXGIDevice1> device1;
  if (SUCCEEDED(g_app.dxgiDevice.As(&device1))) device1->SetMaximumFrameLatency(1);
  ComPtr<IDXGIAdapter> adapter;
  ComPtr<IDXGIFactory2> factory;
  if (FAILED(g_app.dxgiDevice->GetAdapter(&adapter)) || FAILED(adapter->GetParent(IID_PPV_ARGS(&factory)))) {
    return false;
  }
  RECT client{};
  GetClientRect(w.window, &client);
  DXGI_SWAP_CHAIN_DESC1 desc{};
  desc.Width = static_cast<UINT>(std::max(1L, client.right - client.left));
  desc.Height = static_cast<UINT>(std::max(1L, client.bottom - client.top));
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  desc.SampleDesc.Count = 1;
  desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
  desc.BufferCount = 2;
  desc.Scaling = DXGI_SCALING_STRETCH;
  desc.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
  desc.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
  if (FAILED(factory->CreateSwapChainForHwnd(g_app.d3dDevice.Get(), w.window, &desc, nullptr, nullptr, &w.swapChain))) {
    return false;
  }
  factory->MakeWindowAssociation(w.window, DXGI_MWA_NO_ALT_ENTER);
  return true;
}

bool EnsureTarget(AppWindow& w) {
  if (w.target) return true;
  ComPtr<IDXGISurface> surface;
  if (FAILED(w.swapChain->GetBuffer(0, IID_PPV_ARGS(&surface)))) return false;
  const D2D1_BITMAP_PROPERTIES1 props = D2D1::BitmapProperties1(
      D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
      D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE), w.dpi, w.dpi);
  return SUCCEEDED(w.context->CreateBitmapFromDxgiSurface(surface.Get(), &props, &w.target));
}

void RefreshPreviewBitmap(ID2D1DeviceContext* context) {
  ComPtr<ID3D11Texture2D> texture;
  uint64_t generation = 0;
  g_video.GetPreview(&texture, &generation);
  if (!texture) {
    g_ui.previewBitmap.Reset();
    g_ui.previewTexture.Reset();
    return;
  }
  if (g_ui.previewBitmap && static_cast<int64_t>(generation) == g_ui.previewGeneration &&
      texture == g_ui.previewTexture) {
    return;
  }
  // After a lost device the windows are on the new one before the session
  // thread has moved: a picture of the old device must not be drawn here.
  ComPtr<ID3D11Device> owner;
  texture->GetDevice(&owner);
  if (owner.Get() != g_app.d3dDevice.Get()) {
    ReleasePreviewBitmap();
    return;
  }
  ComPtr<IDXGISurface> surface;
  ComPtr<ID2D1Bitmap1> bitmap;
  const D2D1_BITMAP_PROPERTIES1 props = D2D1::BitmapProperties1(
      D2D1_BITMAP_OPTIONS_NONE, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE), 96, 96);
  if (FAILED(texture.As(&surface)) || FAILED(context->CreateBitmapFromDxgiSurface(surface.Get(), &props, &bitmap))) {
    return;
  }
  g_ui.previewBitmap = bitmap;
  g_ui.previewTexture = texture;
  g_ui.previewGeneration = static_cast<int64_t>(generation);
}

// What the driver says happened to the device, or else what was returned.
HRESULT RemovalReasonOr(HRESULT returned) {
  const HRESULT reason = g_app.d3dDevice ? g_app.d3dDevice->GetDeviceRemovedReason() : S_OK;
  return FAILED(reason) ? reason : returned;
}

}  // namespace

namespace {

// What changes with the link's state or once a second: texts, the QR code,
// the delay and the CPU figures. Made again only after RefreshState.
void FillStateFields(UiSnapshot& s) {
  const AppState& a = g_ui.state;
  s.pairingCode = Utf8ToWide(g_link.PairingCode());
  s.qr = g_qr.Code();
  s.pcName = g_link.ComputerName();
  s.pendingPhones.clear();
  for (const PairingRequest& r : a.pending) s.pendingPhones.push_back(Utf8ToWide(r.deviceName));
  s.phoneName = Utf8ToWide(a.deviceName);
  LatencyFigures last[kStageCount];
  for (int stage = 0; stage < kStageCount; ++stage) last[stage] = g_video.Latency().LastSecond(stage);
  s.latencyMs = ShownLatencyMs(last, a.roundTripMs, g_video.DecodeMs());
  s.cameraReady = g_cameraReady;
  const Notice notice = CurrentNotice(a.connected);
  s.noticeMessage = notice.message;
  s.noticeAction = notice.action;
  const CpuMemorySample& cpu = CurrentCpuMemory();
  s.cpuPercent = cpu.cpuPercent;
  s.ramMb = cpu.memoryMb;
}

// What may change from one frame to the next: plain values, no text.
void FillFrameFields(const AppWindow& w, UiSnapshot& s) {
  const AppState& a = g_ui.state;
  s.connected = a.connected;
  s.width = a.width, s.height = a.height, s.fps = a.fps;
  s.paused = LinkPaused();
  s.microphoneOn = g_ui.microphoneOn;
  s.mirrorOn = g_video.Mirror();
  s.copiedRecently = GetTickCount64() < g_ui.copiedUntil;
  s.preview = a.connected && g_video.PreviewReady() ? g_ui.previewBitmap.Get() : nullptr;
  s.hoverId = w.hoveredId;
  s.capsKnown = a.capsKnown;
  std::copy(std::begin(a.rates), std::end(a.rates), s.caps);
  s.pendingResolution = a.requestedResolution;
  s.pendingFps = a.requestedRate;
  s.qualityMenuOpen = a.connected && w.qualityMenuOpen;
  s.moreMenuOpen = !w.isPanel && a.connected && w.moreMenuOpen;
  s.focusSupported = a.focusSupported;
  s.focusModes = a.focusModes;
  s.focusMode = a.focusMode;
  s.focusValue = a.focusValue;
  s.faces = a.faces;
  s.blurSupported = a.blurSupported;
  s.blurValue = a.blurValue;
  s.draggedId = w.isPanel ? 0 : w.dragging;
}

}  // namespace

const UiSnapshot& SnapshotFor(AppWindow& w) {
  if (w.shownVersion != g_ui.stateVersion) {
    FillStateFields(w.shown);
    w.shownVersion = g_ui.stateVersion;
  }
  FillFrameFields(w, w.shown);
  return w.shown;
}

void DropSwapChain(AppWindow& w) {
  if (w.context) w.context->SetTarget(nullptr);
  w.target.Reset();
  w.swapChain.Reset();
}

void ReleaseWindowGraphics() {
  for (AppWindow* w : {&g_main, &g_panel}) {
    DropSwapChain(*w);
    w->painter.reset();
    w->context.Reset();
  }
  ReleasePreviewBitmap();
}

void ReleasePreviewBitmap() {
  g_ui.previewBitmap.Reset();
  g_ui.previewTexture.Reset();
  g_ui.previewGeneration = -1;
}

void RenderWindow(AppWindow& w) {
  if (!w.window || !IsWindowVisible(w.window) || IsIconic(w.window)) return;
  if (!EnsureSwapChain(w) || !EnsureTarget(w)) {
    // A device removed while nothing was drawn shows here first.
    CheckGraphicsDevice();
    return;
  }
  ID2D1DeviceContext* dc = w.context.Get();
  if (g_ui.state.connected) RefreshPreviewBitmap(dc);
  dc->SetTarget(w.target.Get());
  dc->SetDpi(w.dpi, w.dpi);
  dc->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  w.painter->UseTarget(dc);
  const UiSnapshot& snapshot = SnapshotFor(w);
  dc->BeginDraw();
  if (w.isPanel) {
    DrawPanel(*w.painter, snapshot, &w.hits);
  } else {
    DrawMainWindow(*w.painter, snapshot, &w.hits);
  }
  HRESULT hr = dc->EndDraw();
  dc->SetTarget(nullptr);
  if (std::exchange(g_ui.failNextDraw, false)) hr = D2DERR_RECREATE_TARGET;
  if (hr == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) {
    OnGraphicsDeviceLost(RemovalReasonOr(hr));
    return;
  }
  hr = w.swapChain->Present(0, 0);
  if (std::exchange(g_ui.failNextPresent, false)) hr = DXGI_ERROR_DEVICE_REMOVED;
  if (hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_RESET) {
    OnGraphicsDeviceLost(RemovalReasonOr(hr));
    return;
  }
  // The delay until the picture is on screen, once per picture shown.
  const int64_t shown = g_video.PreviewTimestampUs();
  if (g_ui.state.connected && g_ui.previewBitmap && g_ui.previewGeneration != -1 &&
      shown != g_ui.lastShownTimestampUs) {
    g_ui.lastShownTimestampUs = shown;
    g_video.Latency().Record(kStageShown, g_video.LatencyMs(shown));
  }
}

void RenderBothWindows() {
  RenderWindow(g_main);
  RenderWindow(g_panel);
  g_ui.lastRenderTick = GetTickCount64();
}

namespace {
bool MainWindowShown() { return IsWindowVisible(g_main.window) && !IsIconic(g_main.window); }
}  // namespace

void UpdatePreviewSize() {
  PreviewWindows w;
  w.mainShown = MainWindowShown();
  w.mainDpi = g_main.dpi;
  w.panelVisible = g_panel.window && IsWindowVisible(g_panel.window);
  w.panelDpi = g_panel.dpi;
  w.liveCapturePending = !g_options.capturaEnVivo.empty();
  const PreviewSize size = PreviewSizeFor(w);
  g_video.SetPreviewTarget(size.width, size.height, size.wanted);
}

void ShowMainWindow() {
  if (g_panel.window) HideWindow(g_panel);
  ShowWindow(g_main.window, SW_SHOW);
  if (IsIconic(g_main.window)) ShowWindow(g_main.window, SW_RESTORE);
  SetForegroundWindow(g_main.window);
  UpdatePreviewSize();
  RenderBothWindows();
}

void HideWindow(AppWindow& w) {
  if (w.dragging) {
    // A drag cut short by the window going ends as a release would: the
    // slider's last value is sent (the blur's saved), and the mouse let go.
    EndSliderDrag(w);
    if (GetCapture() == w.window) ReleaseCapture();
  }
  ShowWindow(w.window, SW_HIDE);
  w.qualityMenuOpen = false;
  w.moreMenuOpen = false;
  // The swap chain stays for the next show. Windows destroys a released
  // flip-model chain only once the device's queue is flushed, and a new
  // chain for the same window can fail until then: the panel, hidden and
  // shown again at every tray click, would stay empty. It goes with the
  // device or at exit.
  AppWindow& other = w.isPanel ? g_main : g_panel;
  if (!other.window || !IsWindowVisible(other.window)) ReleasePreviewBitmap();
}
