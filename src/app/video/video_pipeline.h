#pragma once
// The one video object of the program: the Direct3D 11 device shared with
// the decoder and the windows, the counters and the latency figures.
#include <d2d1_1.h>
#include <d3d11_1.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "../core/latency_stats.h"

class VideoPipeline {
 public:
  [[nodiscard]] bool InitGraphics();
  void SetD2dLock(ID2D1Multithread* lock) { d2dLock_ = lock; }
  void SetTargetWindow(HWND window) { targetWindow_ = window; }
  void SetMirror(bool on) { mirror_ = on; }
  bool Mirror() const { return mirror_; }
  void RequestSnapshot(const std::wstring& path);
  void Close();

  ID3D11Device* Device() const { return device_.Get(); }
  bool HasVideoProcessing() const { return videoDevice_ && videoContext_; }

  LatencyStats& Latency() { return latency_; }
  unsigned long long DecodedFrames() const { return decodedFrames_; }
  unsigned long long CameraFrames() const { return cameraFrames_; }
  unsigned long long SkippedFrames() const { return skippedFrames_; }
  double DecodeMs() const { return decodeMs_; }
  bool Hardware() const { return hardware_; }
  bool ClockValid() const { return clockValid_; }
  int64_t ClockOffsetUs() const { return clockOffsetUs_; }

 private:
  Microsoft::WRL::ComPtr<ID3D11Device> device_;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
  Microsoft::WRL::ComPtr<ID3D11VideoDevice> videoDevice_;
  Microsoft::WRL::ComPtr<ID3D11VideoContext> videoContext_;
  Microsoft::WRL::ComPtr<ID3D11VideoContext1> videoContext1_;
  Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> deviceManager_;
  UINT resetToken_ = 0;
  std::atomic<bool> mirror_{false};
  Microsoft::WRL::ComPtr<ID2D1Multithread> d2dLock_;
  HWND targetWindow_ = nullptr;

  std::mutex previewLock_;
  std::wstring snapshotPath_;

  LatencyStats latency_;
  std::atomic<unsigned long long> decodedFrames_{0};
  std::atomic<unsigned long long> cameraFrames_{0};
  std::atomic<unsigned long long> skippedFrames_{0};
  std::atomic<double> decodeMs_{0};
  std::atomic<bool> hardware_{false};
  std::atomic<bool> clockValid_{false};
  std::atomic<int64_t> clockOffsetUs_{0};
};

extern VideoPipeline g_video;
