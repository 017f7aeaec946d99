// The graphics device's life: made at start-up, and made again when the
// driver takes it away (an update, a reset after a hang, a GPU switch). The
// UI thread makes the new device; the session thread, which alone uses the
// decoder and the converters while a phone streams, moves onto it between
// two pictures.
#include <d3d10.h>
#include <mfapi.h>

#include <utility>

#include "../core/log.h"
#include "../core/window_messages.h"
#include "video_pipeline.h"

using Microsoft::WRL::ComPtr;

namespace {
std::atomic<int> g_failingCreations{0};
std::atomic<bool> g_noHardware{false};
std::atomic<bool> g_noVideoSupport{false};

HRESULT CreateDevice(D3D_DRIVER_TYPE type, UINT flags, GraphicsDevice* out) {
  const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1};
  HRESULT hr = D3D11CreateDevice(nullptr, type, nullptr, flags, levels, ARRAYSIZE(levels), D3D11_SDK_VERSION,
                                 &out->device, nullptr, &out->context);
  if (FAILED(hr)) {
    out->device.Reset();
    out->context.Reset();
  }
  return hr;
}

}  // namespace

void FailNextDeviceCreations(int count) { g_failingCreations = count; }
void FailHardwareDevices(bool on) { g_noHardware = on; }
void FailVideoSupport(bool on) { g_noVideoSupport = on; }

bool CreateGraphicsDevice(GraphicsDevice* out) {
  *out = GraphicsDevice{};
  if (g_failingCreations > 0) {
    --g_failingCreations;
    return false;
  }
  HRESULT hr = DXGI_ERROR_UNSUPPORTED;
  if (!g_noHardware) {
    hr = g_noVideoSupport ? E_INVALIDARG
                          : CreateDevice(D3D_DRIVER_TYPE_HARDWARE,
                                         D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT, out);
    if (FAILED(hr)) {
      LogLine("D3D11 por hardware con video falló (0x%08x): lo intento sin video", static_cast<unsigned>(hr));
      hr = CreateDevice(D3D_DRIVER_TYPE_HARDWARE, D3D11_CREATE_DEVICE_BGRA_SUPPORT, out);
      out->videoSupport = false;
    }
  }
  if (FAILED(hr)) {
    LogLine("D3D11 por hardware falló (0x%08x), uso WARP", static_cast<unsigned>(hr));
    out->videoSupport = true;
    if (FAILED(CreateDevice(D3D_DRIVER_TYPE_WARP, D3D11_CREATE_DEVICE_BGRA_SUPPORT, out))) {
      *out = GraphicsDevice{};
      return false;
    }
  }
  // The decoder, the session thread and the windows share this device.
  ComPtr<ID3D10Multithread> multithread;
  if (SUCCEEDED(out->device.As(&multithread))) multithread->SetMultithreadProtected(TRUE);
  // Without video support the decoder works in memory, not on the device.
  if (out->videoSupport && SUCCEEDED(MFCreateDXGIDeviceManager(&out->resetToken, &out->manager)) &&
      FAILED(out->manager->ResetDevice(out->device.Get(), out->resetToken))) {
    out->manager.Reset();
  }
  return true;
}

bool VideoPipeline::InitGraphics() {
  GraphicsDevice d;
  if (!CreateGraphicsDevice(&d)) return false;
  RetiredDevice old;
  std::lock_guard lock(previewLock_);
  RetireDeviceLocked(&old);
  UseDevice(std::move(d));
  return true;
}

void VideoPipeline::UseDevice(GraphicsDevice&& d) {
  device_ = std::move(d.device);
  context_ = std::move(d.context);
  deviceManager_ = std::move(d.manager);
  resetToken_ = d.resetToken;
  // Without these no GPU converter can be built; the CPU path takes over.
  if (d.videoSupport) {
    (void)device_.As(&videoDevice_);
    (void)context_.As(&videoContext_);
    (void)context_.As(&videoContext1_);
  }
  usedGeneration_ = deviceGeneration_;
  lostReason_ = S_OK;
  lossPosted_ = false;
}

// Everything made on the device moves to `old`; the members start afresh.
void VideoPipeline::RetireDeviceLocked(RetiredDevice* old) {
  old->decoder = std::move(decoder_);
  old->outputSample = std::move(ownOutputSample_);
  old->upload = std::move(uploadTexture_);
  old->cameraStaging = std::move(cameraStaging_);
  path_ = ConversionPath::Undecided;
  old->preview = std::exchange(previewConverter_, VideoConverter{});
  old->camera = std::exchange(cameraConverter_, VideoConverter{});
  old->snapshot = std::exchange(snapshotConverter_, VideoConverter{});
  ++generation_;
  previewReady_ = false;
  old->videoContext1 = std::move(videoContext1_);
  old->videoContext = std::move(videoContext_);
  old->videoDevice = std::move(videoDevice_);
  old->manager = std::move(deviceManager_);
  old->context = std::move(context_);
  old->device = std::move(device_);
}

void VideoPipeline::ReplaceDevice(GraphicsDevice next) {
  RetiredDevice old;
  std::optional<GraphicsDevice> superseded;
  std::lock_guard lock(previewLock_);
  ++deviceGeneration_;
  // A replacement the session has not taken yet is itself replaced.
  superseded = std::exchange(pendingDevice_, std::move(next));
  if (!sessionInside_) AdoptPendingLocked(&old);
}

void VideoPipeline::AdoptPendingLocked(RetiredDevice* old) {
  RetireDeviceLocked(old);
  UseDevice(std::move(*pendingDevice_));
  pendingDevice_.reset();
}

// Session thread, between two pictures: the old device's objects go, a
// decoder is made on the new one, and it waits for a key frame.
void VideoPipeline::TakePendingDevice() {
  RetiredDevice old;
  bool configured;
  {
    std::lock_guard lock(previewLock_);
    sessionInside_ = true;
    if (!pendingDevice_) return;
    AdoptPendingLocked(&old);
    configured = configuredWidth_ > 0;
  }
  old = RetiredDevice{};
  keyframeSeen_ = false;
  LogLine("El video pasa al dispositivo gráfico nuevo");
  if (configured && !CreateDecoder()) LogLine("No se pudo crear el decodificador H.264");
}

void VideoPipeline::EnterSession() {
  RetiredDevice old;
  std::lock_guard lock(previewLock_);
  sessionInside_ = true;
  if (pendingDevice_) AdoptPendingLocked(&old);
}

// Session thread, at its end: a replacement made meanwhile is taken now, so
// nothing holds the old device while no phone streams.
void VideoPipeline::LeaveSession() {
  RetiredDevice old;
  std::lock_guard lock(previewLock_);
  sessionInside_ = false;
  if (pendingDevice_) AdoptPendingLocked(&old);
}

// True while the device is removed: nothing more is asked of it. The UI
// thread hears of it once per device and replaces it.
bool VideoPipeline::DeviceLost() {
  HRESULT reason = lostReason_;
  if (reason == S_OK) {
    if (simulatedLoss_.exchange(false)) reason = DXGI_ERROR_DEVICE_REMOVED;
    else if (device_) reason = device_->GetDeviceRemovedReason();
    if (reason == S_OK) return false;
    lostReason_ = reason;
  }
  if (!lossPosted_ && targetWindow_) {
    lossPosted_ = PostMessageW(targetWindow_, kMsgDeviceLost, static_cast<WPARAM>(reason),
                               static_cast<LPARAM>(usedGeneration_)) != FALSE;
  }
  return true;
}
