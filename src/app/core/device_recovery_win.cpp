// A graphics device the driver took away (an update, a reset after a hang,
// a GPU switch, a remote session) is made again: the windows, the decoder
// and the camera's pictures come back without a restart.
#include <windows.h>
#include <d2d1_1.h>

#include <atomic>
#include <sstream>
#include <string>
#include <utility>

#include "../link/phone_link.h"
#include "../video/video_pipeline.h"
#include "app.h"
#include "app_window.h"
#include "log.h"
#include "options.h"
#include "platform.h"

using Microsoft::WRL::ComPtr;

bool AttachWindowsToDevice(ID3D11Device* device) {
  ComPtr<IDXGIDevice> dxgi;
  ComPtr<ID2D1Device> d2d;
  if (!device || FAILED(device->QueryInterface(IID_PPV_ARGS(&dxgi))) ||
      FAILED(g_app.d2dFactory->CreateDevice(dxgi.Get(), &d2d))) {
    return false;
  }
  g_app.d3dDevice = device;
  g_app.dxgiDevice = dxgi;
  g_app.d2dDevice = d2d;
  return true;
}

namespace {

// A device that cannot be made now is tried again at the next tick.
bool TryNewGraphicsDevice() {
  GraphicsDevice next;
  if (!CreateGraphicsDevice(&next) || !AttachWindowsToDevice(next.device.Get())) {
    if (!g_ui.deviceRetryLogged) LogLine("No se pudo crear el dispositivo gráfico: lo intento de nuevo cada segundo");
    g_ui.deviceRetryLogged = true;
    return false;
  }
  g_video.ReplaceDevice(std::move(next));
  g_ui.deviceLost = false;
  g_ui.deviceRetryLogged = false;
  LogLine("Dispositivo gráfico nuevo listo");
  // The decoder starts again at a key frame: asked for now, the camera's
  // picture comes back with the next one the phone sends.
  g_link.RequestKeyframe();
  for (HWND window : {g_app.mainWindow, g_app.panelWindow}) {
    if (window) InvalidateRect(window, nullptr, FALSE);
  }
  return true;
}

// Test mode: says in the log when the device it is attached to is finally
// destroyed, so a test sees that nothing still holds a lost device. It is
// only ever destroyed by its own Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class ReleaseProbe final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != __uuidof(IUnknown)) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      LogLine("Prueba: el dispositivo gráfico anterior quedó liberado");
      delete this;
    }
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};
#pragma GCC diagnostic pop

// {5B0E6F4A-3C1D-4E2B-9F8A-7D6C5B4A3921}
constexpr GUID kReleaseProbeKey = {0x5b0e6f4a, 0x3c1d, 0x4e2b, {0x9f, 0x8a, 0x7d, 0x6c, 0x5b, 0x4a, 0x39, 0x21}};

}  // namespace

// Test mode: the file's words say which fault comes next: "dibujo" (the
// next drawing), "presentacion" (the next present), "decodificacion" (the
// next picture decoded), "sin-dispositivo N" (the next N devices cannot be
// made), "sin-hardware" (from now on only WARP), "sin-video" (hardware
// devices only without video support), "dispositivo" (the device says it
// was removed at the next check), "cuelgue N" (the next picture's decoding
// stalls N seconds, holding its session thread), "excepcion" (an access
// violation on this thread, once logged, for the crash log). The file is
// removed once read.
void SimulateRequestedFault() {
  std::string text = TakeSimulatedFault();
  if (text.empty()) return;
  if (g_app.d3dDevice) {
    auto* probe = new ReleaseProbe;
    g_app.d3dDevice->SetPrivateDataInterface(kReleaseProbeKey, probe);
    probe->Release();
  }
  std::istringstream words(text);
  std::string word;
  bool crash = false;
  while (words >> word) {
    if (word == "dibujo") {
      g_ui.failNextDraw = true;
    } else if (word == "presentacion") {
      g_ui.failNextPresent = true;
    } else if (word == "decodificacion") {
      g_video.SimulateDeviceLoss();
    } else if (word == "sin-hardware") {
      FailHardwareDevices(true);
    } else if (word == "dispositivo") {
      g_ui.failNextDeviceCheck = true;
    } else if (word == "sin-video") {
      FailVideoSupport(true);
    } else if (word == "excepcion") {
      crash = true;
    } else if (word == "cuelgue") {
      int seconds = 0;
      words >> seconds;
      g_video.SimulateStall(seconds * 1000);
    } else if (word == "sin-dispositivo") {
      int count = 0;
      words >> count;
      FailNextDeviceCreations(count);
    }
  }
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  LogLine("Prueba: falla simulada (%s)", text.c_str());
  if (crash) RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

std::string TakeSimulatedFault() {
  std::string text;
  if (!g_options.prueba || g_options.simularFalla.empty() || !ReadWholeFile(g_options.simularFalla, &text, 4096)) {
    return {};
  }
  DeleteFileW(g_options.simularFalla.c_str());
  return text;
}

void OnGraphicsDeviceLost(HRESULT reason) {
  if (!g_ui.deviceLost) {
    LogLine("Se perdió el dispositivo gráfico (0x%08x): lo hago de nuevo", static_cast<unsigned>(reason));
    g_ui.deviceLost = true;
    ReleaseWindowGraphics();
    g_app.d2dDevice.Reset();
    g_app.dxgiDevice.Reset();
    g_app.d3dDevice.Reset();
  }
  TryNewGraphicsDevice();
}

void CheckGraphicsDevice() {
  if (g_ui.deviceLost || !g_app.d3dDevice) return;
  HRESULT reason = std::exchange(g_ui.failNextDeviceCheck, false) ? DXGI_ERROR_DEVICE_REMOVED
                                                                   : g_app.d3dDevice->GetDeviceRemovedReason();
  if (FAILED(reason)) OnGraphicsDeviceLost(reason);
}

void GraphicsDeviceTick() {
  if (g_ui.deviceLost) TryNewGraphicsDevice();
  SimulateRequestedFault();
  CheckGraphicsDevice();
}
