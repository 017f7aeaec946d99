#pragma once
// The one video object of the program: the Direct3D 11 device shared with
// the decoder and the windows, the H.264 decoder, the converters for the
// preview, the camera and the snapshot, the counters and the latency figures.
#include <d2d1_1.h>
#include <d3d11_1.h>
#include <mfidl.h>
#include <mftransform.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../core/latency_stats.h"
#include "camera_feed.h"
#include "cpu_convert.h"
#include "preview_target.h"

// One decoded picture. On the GPU path a texture (and its array slice); on
// the CPU path the NV12 planes in memory, valid while it is handled.
struct DecodedFrame {
  ID3D11Texture2D* texture = nullptr;
  UINT subresource = 0;
  int64_t timestampUs = 0;
  const Nv12Image* cpu = nullptr;
};

struct VideoConverter {
  Microsoft::WRL::ComPtr<ID3D11VideoProcessorEnumerator> enumerator;
  Microsoft::WRL::ComPtr<ID3D11VideoProcessor> processor;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> outputTexture;
  Microsoft::WRL::ComPtr<ID3D11VideoProcessorOutputView> outputView;
  int32_t inputWidth = 0, inputHeight = 0;
  int32_t outputWidth = 0, outputHeight = 0;
  DXGI_FORMAT outputFormat = DXGI_FORMAT_UNKNOWN;
  struct InputView {
    ID3D11Texture2D* texture;
    UINT subresource;
    Microsoft::WRL::ComPtr<ID3D11VideoProcessorInputView> view;
  };
  std::vector<InputView> inputViews;
  CpuScratch scratch;  // CPU path
  std::vector<uint8_t> pixels;
};

// A Direct3D 11 device and the decoder's manager of it.
struct GraphicsDevice {
  Microsoft::WRL::ComPtr<ID3D11Device> device;
  Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
  Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> manager;
  UINT resetToken = 0;
  // False for a hardware device made without video support: decoding and
  // conversion then run on the CPU.
  bool videoSupport = true;
};

// A hardware device with video support, else one without it (virtual
// machines and remote sessions may refuse only that), else WARP; false when
// none can be made.
[[nodiscard]] bool CreateGraphicsDevice(GraphicsDevice* out);

// Test seams: the next `count` device creations fail; the next picture
// decoded finds its device removed. Only the test mode calls them.
void FailNextDeviceCreations(int count);
// Test seam: as on a PC without a hardware adapter, only WARP can be made.
void FailHardwareDevices(bool on);
void FailVideoSupport(bool on);
// Test seam: decoders come from `factory` (null: the system's H.264 decoder).
void UseDecoderFactoryForTests(HRESULT (*factory)(IMFTransform** out));

class VideoPipeline {
 public:
  // Device (start-up, exit).
  [[nodiscard]] bool InitGraphics();
  // UI thread, after the device was lost: the pipeline moves to `next`.
  // With no session decoding, everything on the old device is dropped at
  // once; otherwise the session thread drops it before its next picture.
  void ReplaceDevice(GraphicsDevice next);
  // Bumped by each replacement; a loss reported for an older one is stale.
  uint32_t DeviceGeneration() const { return deviceGeneration_; }
  // The removal the session side found on its device (S_OK: none).
  HRESULT LostDeviceReason() const { return lostReason_; }
  void SimulateDeviceLoss() { simulatedLoss_ = true; }
  // Test mode: the next picture's decoding stalls this long first.
  void SimulateStall(int ms) { simulatedStallMs_ = ms; }
  void SetD2dLock(ID2D1Multithread* lock) { d2dLock_ = lock; }
  void SetTargetWindow(HWND window) { targetWindow_ = window; }
  void Close();

  // Converters.
  bool EnsureConverter(VideoConverter& c, int inputWidth, int inputHeight, int outputWidth, int outputHeight,
                       DXGI_FORMAT format, bool shaderBindable);
  bool Convert(VideoConverter& c, const DecodedFrame& frame, bool fit);
  void ResetConverter(VideoConverter& c);
  void ClearInputViews(VideoConverter& c);

  // Window side.
  void SetMirror(bool on) { mirror_ = on; }
  bool Mirror() const { return mirror_; }
  void SetPreviewTarget(int width, int height, bool wanted);
  void GetPreview(Microsoft::WRL::ComPtr<ID3D11Texture2D>* texture, uint64_t* generation);
  bool PreviewReady() const { return previewReady_; }
  int64_t PreviewTimestampUs() const { return previewTimestampUs_; }
  void ClearFramePosted() { framePosted_.exchange(false); }
  void RequestSnapshot(const std::wstring& path);

  // Session side (one session thread at a time).
  void Configure(int width, int height, int fps);
  void Decode(const uint8_t* data, size_t size, int64_t timestampUs, bool keyframe, bool show);
  void Teardown();
  bool IsSomeoneWatching();
  void SetClockOffset(int64_t offsetUs);
  double LatencyMs(int64_t timestampUs) const;
  void ClearKeyframeSeen() { keyframeSeen_ = false; }
  void ClearClock() { clockValid_ = false; }

  ID3D11Device* Device() const { return device_.Get(); }
  bool HasVideoProcessing() const { return videoDevice_ && videoContext_; }
  bool HasDecoder() const { return decoder_ != nullptr; }
  uint32_t DisplayWidth() const { return displayWidth_; }
  uint32_t DisplayHeight() const { return displayHeight_; }
  uint32_t CodedWidth() const { return codedWidth_; }
  uint32_t CodedHeight() const { return codedHeight_; }

  LatencyStats& Latency() { return latency_; }
  CameraFeed& Camera() { return cameraFeed_; }
  unsigned long long DecodedFrames() const { return decodedFrames_; }
  unsigned long long CameraFrames() const { return cameraFrames_; }
  unsigned long long SkippedFrames() const { return skippedFrames_; }
  double DecodeMs() const { return decodeMs_; }
  bool Hardware() const { return hardware_; }
  bool ClockValid() const { return clockValid_; }
  int64_t ClockOffsetUs() const { return clockOffsetUs_; }

 private:
  bool CreateDecoder();
  bool SelectOutputType();
  void Drain();
  void HandleOutput(IMFSample* sample);
  void HandleFrame(const DecodedFrame& frame);
  void ProducePreview(const DecodedFrame& frame);
  bool WriteCameraFrame(const DecodedFrame& frame);
  void TakeSnapshot(const DecodedFrame& frame, const std::wstring& path);
  void ReleaseDecoder();
  void ClearAllInputViews();
  void DecideConversionPath();
  bool CreateUploadTexture();
  bool EnsureCpuOutput(VideoConverter& c, int outputWidth, int outputHeight, DXGI_FORMAT format,
                       bool shaderBindable);

  // What was made on a device, moved out under previewLock_ and released
  // after it, so no lock is held while a driver tears a device down.
  struct RetiredDevice {
    Microsoft::WRL::ComPtr<ID3D11Device> device;  // released last
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
    Microsoft::WRL::ComPtr<IMFDXGIDeviceManager> manager;
    Microsoft::WRL::ComPtr<ID3D11VideoDevice> videoDevice;
    Microsoft::WRL::ComPtr<ID3D11VideoContext> videoContext;
    Microsoft::WRL::ComPtr<ID3D11VideoContext1> videoContext1;
    VideoConverter preview, camera, snapshot;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> cameraStaging, upload;
    Microsoft::WRL::ComPtr<IMFSample> outputSample;
    Microsoft::WRL::ComPtr<IMFTransform> decoder;  // released first
  };
  void UseDevice(GraphicsDevice&& d);
  void RetireDeviceLocked(RetiredDevice* old);
  void AdoptPendingLocked(RetiredDevice* old);
  void TakePendingDevice();
  // Session thread, before it lets go of what it made: a replacement made
  // meanwhile is taken first, and none is adopted under it until it leaves.
  void EnterSession();
  void LeaveSession();
  bool DeviceLost();

  // Device. Swapped only by the session thread between pictures, or by the
  // UI thread while no session is inside (under previewLock_).
  std::optional<GraphicsDevice> pendingDevice_;  // previewLock_
  bool sessionInside_ = false;                    // previewLock_
  std::atomic<uint32_t> deviceGeneration_{0};
  std::atomic<HRESULT> lostReason_{S_OK};
  uint32_t usedGeneration_ = 0;  // the generation device_ came with
  bool lossPosted_ = false;      // session thread
  std::atomic<bool> simulatedLoss_{false};
  std::atomic<int> simulatedStallMs_{0};
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

  // Preview and snapshot.
  std::mutex previewLock_;  // preview converter, generation, snapshot path
  SharedPreviewTarget previewTarget_;
  VideoConverter previewConverter_;
  VideoConverter cameraConverter_;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> cameraStaging_;  // session thread
  CameraFeed cameraFeed_;
  VideoConverter snapshotConverter_;
  uint64_t generation_ = 0;
  std::atomic<bool> previewReady_{false};
  std::atomic<int64_t> previewTimestampUs_{0};
  std::atomic<bool> framePosted_{false};
  std::wstring snapshotPath_;

  // Decoder (session thread only).
  Microsoft::WRL::ComPtr<IMFTransform> decoder_;
  std::atomic<bool> hardware_{false};
  bool decoderProvidesSamples_ = false;
  std::atomic<bool> keyframeSeen_{false};
  int32_t configuredWidth_ = 0, configuredHeight_ = 0, configuredFps_ = 60;
  uint32_t codedWidth_ = 0, codedHeight_ = 0;
  uint32_t displayWidth_ = 0, displayHeight_ = 0;
  uint32_t outputBufferSize_ = 0;
  Microsoft::WRL::ComPtr<IMFSample> ownOutputSample_;
  Microsoft::WRL::ComPtr<ID3D11Texture2D> uploadTexture_;
  // Decided at each decoder's first picture: GPU converters, or the CPU path
  // when there is no video processor or no NV12 texture can be made.
  enum class ConversionPath { Undecided, Gpu, Cpu };
  ConversionPath path_ = ConversionPath::Undecided;
  int64_t inputStampQpc_ = 0;
  bool showLatest_ = true;

  LatencyStats latency_;
  std::atomic<unsigned long long> decodedFrames_{0};
  std::atomic<unsigned long long> cameraFrames_{0};
  std::atomic<unsigned long long> skippedFrames_{0};
  std::atomic<double> decodeMs_{0};
  std::atomic<bool> clockValid_{false};
  std::atomic<int64_t> clockOffsetUs_{0};
};

extern VideoPipeline g_video;

// A one-level texture of default usage on the pipeline's device.
HRESULT CreateVideoTexture(ID3D11Device* device, int width, int height, DXGI_FORMAT format, UINT bindFlags,
                           ID3D11Texture2D** texture);

// Saves 32-bit BGRA pixels as a PNG file through WIC (COM must be up).
bool SavePng(const std::wstring& path, const uint8_t* pixels, int width, int height, int stride);
