#include <d3d10.h>
#include <mfapi.h>

#include "../core/log.h"
#include "video_pipeline.h"

using Microsoft::WRL::ComPtr;

VideoPipeline g_video;

bool VideoPipeline::InitGraphics() {
  videoContext1_.Reset();
  videoContext_.Reset();
  videoDevice_.Reset();
  context_.Reset();
  device_.Reset();

  const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1};
  HRESULT hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr,
                                 D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT, levels,
                                 ARRAYSIZE(levels), D3D11_SDK_VERSION, &device_, nullptr, &context_);
  if (FAILED(hr)) {
    LogLine("D3D11 por hardware falló (0x%08x), uso WARP", static_cast<unsigned>(hr));
    device_.Reset();
    context_.Reset();
    hr = D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels,
                           ARRAYSIZE(levels), D3D11_SDK_VERSION, &device_, nullptr, &context_);
    if (FAILED(hr)) {
      device_.Reset();
      context_.Reset();
      return false;
    }
  }

  // The decoder, the session thread and the windows share this device.
  ComPtr<ID3D10Multithread> multithread;
  if (SUCCEEDED(device_.As(&multithread))) multithread->SetMultithreadProtected(TRUE);

  // Without these no converter can be built on the GPU.
  (void)device_.As(&videoDevice_);
  (void)context_.As(&videoContext_);
  (void)context_.As(&videoContext1_);

  if (SUCCEEDED(MFCreateDXGIDeviceManager(&resetToken_, &deviceManager_))) {
    deviceManager_->ResetDevice(device_.Get(), resetToken_);
  }
  return true;
}

void VideoPipeline::RequestSnapshot(const std::wstring& path) {
  std::lock_guard lock(previewLock_);
  snapshotPath_ = path;
}

void VideoPipeline::Close() {
  // The decoder, the converters and the camera block come with their own
  // code; the device itself lives until the process ends.
}
