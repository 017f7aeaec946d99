#include <initguid.h>

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <wmcodecdsp.h>

#include <optional>

#include "../core/log.h"
#include "../core/platform.h"
#include "video_pipeline.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kMaxOutputsPerInput = 8;

// Enter/Leave of the Direct2D lock around one picture, on every way out.
class D2dLockGuard {
 public:
  explicit D2dLockGuard(ID2D1Multithread* lock) : lock_(lock) {
    if (lock_) lock_->Enter();
  }
  ~D2dLockGuard() {
    if (lock_) lock_->Leave();
  }
  D2dLockGuard(const D2dLockGuard&) = delete;
  D2dLockGuard& operator=(const D2dLockGuard&) = delete;

 private:
  ID2D1Multithread* lock_;
};

// The decoder's output buffer, locked for reading for as long as it lives.
class LockedBuffer {
 public:
  explicit LockedBuffer(IMFMediaBuffer* buffer) : buffer_(buffer) {
    if (SUCCEEDED(buffer_.As(&buffer2d_)) && SUCCEEDED(buffer2d_->Lock2D(&data_, &pitch_))) return;
    buffer2d_.Reset();
    data_ = nullptr;
    DWORD max = 0;
    if (FAILED(buffer_->Lock(&data_, &max, &length_))) data_ = nullptr;
  }
  ~LockedBuffer() {
    if (!data_) return;
    if (buffer2d_) buffer2d_->Unlock2D();
    else buffer_->Unlock();
  }
  LockedBuffer(const LockedBuffer&) = delete;
  LockedBuffer& operator=(const LockedBuffer&) = delete;

  BYTE* data() const { return data_; }
  bool is2d() const { return buffer2d_ != nullptr; }
  LONG pitch() const { return pitch_; }
  DWORD length() const { return length_; }

 private:
  ComPtr<IMFMediaBuffer> buffer_;
  ComPtr<IMF2DBuffer> buffer2d_;
  BYTE* data_ = nullptr;
  LONG pitch_ = 0;
  DWORD length_ = 0;
};

int64_t Now100ns() { return MicrosecondsNow() * 10; }

HRESULT (*g_decoderFactory)(IMFTransform** out) = nullptr;

}  // namespace

void UseDecoderFactoryForTests(HRESULT (*factory)(IMFTransform** out)) { g_decoderFactory = factory; }

void VideoPipeline::Configure(int width, int height, int fps) {
  if (width <= 0 || height <= 0 || width > 7680 || height > 4320) return;
  if (fps < 1 || fps > 240) fps = 60;
  TakePendingDevice();
  if (decoder_ && width == configuredWidth_ && height == configuredHeight_ && fps == configuredFps_) return;
  configuredWidth_ = width;
  configuredHeight_ = height;
  configuredFps_ = fps;
  decoder_.Reset();
  ownOutputSample_.Reset();
  keyframeSeen_ = false;
  if (!CreateDecoder()) LogLine("No se pudo crear el decodificador H.264");
}

bool VideoPipeline::CreateDecoder() {
  decoder_.Reset();
  HRESULT hr = g_decoderFactory ? g_decoderFactory(decoder_.ReleaseAndGetAddressOf())
                                : CoCreateInstance(CLSID_CMSH264DecoderMFT, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_PPV_ARGS(&decoder_));
  if (FAILED(hr)) {
    LogLine("CoCreateInstance H264 MFT 0x%08x", static_cast<unsigned>(hr));
    decoder_.Reset();
    return false;
  }

  hardware_ = false;
  ComPtr<IMFAttributes> attributes;
  if (SUCCEEDED(decoder_->GetAttributes(&attributes)) && attributes) {
    UINT32 aware = 0;
    if (SUCCEEDED(attributes->GetUINT32(MF_SA_D3D11_AWARE, &aware)) && aware && deviceManager_) {
      hr = decoder_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, reinterpret_cast<ULONG_PTR>(deviceManager_.Get()));
      hardware_ = SUCCEEDED(hr);
      if (FAILED(hr)) LogLine("SET_D3D_MANAGER falló 0x%08x: decodifico por software", static_cast<unsigned>(hr));
    }
    // Before the media types: a decoder may build its pipeline when the
    // output type is set and read this only then (newer Wine does). In this
    // mode each picture comes out for its own input when the stream has no
    // reordering.
    attributes->SetUINT32(MF_LOW_LATENCY, 1);
  }

  ComPtr<ICodecAPI> codec;
  if (SUCCEEDED(decoder_->QueryInterface(IID_ICodecAPI, reinterpret_cast<void**>(codec.GetAddressOf())))) {
    VARIANT one;
    VariantInit(&one);
    one.vt = VT_UI4;
    one.ulVal = 1;
    codec->SetValue(&CODECAPI_AVLowLatencyMode, &one);
    // One worker thread keeps the hardware decoder's latency lowest;
    // ORVANE_HILOS (any value) leaves the decoder's own choice.
    if (hardware_ && GetEnvironmentVariableW(L"ORVANE_HILOS", nullptr, 0) == 0 &&
        GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      codec->SetValue(&CODECAPI_AVDecNumWorkerThreads, &one);
    }
  }

  ComPtr<IMFMediaType> input;
  hr = MFCreateMediaType(&input);
  if (SUCCEEDED(hr)) {
    input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    MFSetAttributeSize(input.Get(), MF_MT_FRAME_SIZE, static_cast<UINT32>(configuredWidth_),
                       static_cast<UINT32>(configuredHeight_));
    MFSetAttributeRatio(input.Get(), MF_MT_FRAME_RATE, static_cast<UINT32>(configuredFps_), 1);
    MFSetAttributeRatio(input.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    input->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    hr = decoder_->SetInputType(0, input.Get(), 0);
  }
  if (FAILED(hr)) {
    LogLine("SetInputType 0x%08x", static_cast<unsigned>(hr));
    decoder_.Reset();
    return false;
  }
  if (!SelectOutputType()) {
    decoder_.Reset();
    return false;
  }
  decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0);
  decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0);
  LogLine("Decodificador listo %dx%d@%d (%s)", configuredWidth_, configuredHeight_, configuredFps_,
          hardware_ ? "hardware D3D11" : "software");
  path_ = ConversionPath::Undecided;
  return true;
}

bool VideoPipeline::CreateUploadTexture() {
  HRESULT hr = CreateVideoTexture(device_.Get(), static_cast<int>(codedWidth_), static_cast<int>(codedHeight_),
                                  DXGI_FORMAT_NV12, D3D11_BIND_SHADER_RESOURCE, &uploadTexture_);
  if (SUCCEEDED(hr)) return true;
  uploadTexture_.Reset();
  LogLine("No se pudo crear la textura NV12 (0x%08x): convierto la imagen por CPU", static_cast<unsigned>(hr));
  return false;
}

// A hardware decoder's textures go to the video processor as they are; a
// software decoder's pictures are uploaded into an NV12 texture first.
void VideoPipeline::DecideConversionPath() {
  bool gpu = HasVideoProcessing() && (hardware_ || CreateUploadTexture());
  path_ = gpu ? ConversionPath::Gpu : ConversionPath::Cpu;
  LogLine("Conversión de la imagen por %s", gpu ? "GPU (procesador de video D3D11)"
                                          : HasVideoProcessing() ? "CPU (sin textura NV12)"
                                                                 : "CPU (este Direct3D no tiene procesador de video)");
}

bool VideoPipeline::SelectOutputType() {
  ComPtr<IMFMediaType> chosen;
  for (DWORD i = 0;; ++i) {
    ComPtr<IMFMediaType> type;
    if (FAILED(decoder_->GetOutputAvailableType(0, i, &type))) break;
    GUID subtype{};
    if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFVideoFormat_NV12) {
      chosen = type;
      break;
    }
  }
  if (!chosen) {
    LogLine("El decodificador no ofrece NV12");
    return false;
  }
  HRESULT hr = decoder_->SetOutputType(0, chosen.Get(), 0);
  if (FAILED(hr)) {
    LogLine("SetOutputType 0x%08x", static_cast<unsigned>(hr));
    return false;
  }
  UINT32 w = 0, h = 0;
  if (SUCCEEDED(MFGetAttributeSize(chosen.Get(), MF_MT_FRAME_SIZE, &w, &h))) {
    codedWidth_ = w;
    codedHeight_ = h;
  }
  displayWidth_ = codedWidth_;
  displayHeight_ = codedHeight_;
  MFVideoArea area{};
  UINT32 blobSize = 0;
  if (SUCCEEDED(chosen->GetBlob(MF_MT_MINIMUM_DISPLAY_APERTURE, reinterpret_cast<UINT8*>(&area), sizeof area,
                                &blobSize)) &&
      blobSize == sizeof area && area.Area.cx > 0 && area.Area.cy > 0) {
    displayWidth_ = static_cast<uint32_t>(area.Area.cx);
    displayHeight_ = static_cast<uint32_t>(area.Area.cy);
  } else if (configuredWidth_ > 0 && codedWidth_ >= static_cast<uint32_t>(configuredWidth_) &&
             codedHeight_ >= static_cast<uint32_t>(configuredHeight_)) {
    displayWidth_ = static_cast<uint32_t>(configuredWidth_);
    displayHeight_ = static_cast<uint32_t>(configuredHeight_);
  }
  MFT_OUTPUT_STREAM_INFO info{};
  if (SUCCEEDED(decoder_->GetOutputStreamInfo(0, &info))) {
    decoderProvidesSamples_ =
        (info.dwFlags & (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES | MFT_OUTPUT_STREAM_CAN_PROVIDE_SAMPLES)) != 0;
    outputBufferSize_ = info.cbSize;
  }
  ownOutputSample_.Reset();
  uploadTexture_.Reset();
  ClearAllInputViews();
  return true;
}

void VideoPipeline::Decode(const uint8_t* data, size_t size, int64_t timestampUs, bool keyframe, bool show) {
  if (size == 0) return;
  if (const int stall = simulatedStallMs_.exchange(0); stall > 0) Sleep(static_cast<DWORD>(stall));
  TakePendingDevice();
  if (!decoder_ || DeviceLost()) return;
  showLatest_ = show;
  if (!keyframeSeen_) {
    if (!keyframe) return;
    keyframeSeen_ = true;
  }

  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  BYTE* bytes = nullptr;
  if (FAILED(MFCreateSample(&sample)) || FAILED(MFCreateMemoryBuffer(static_cast<DWORD>(size), &buffer)) ||
      FAILED(buffer->Lock(&bytes, nullptr, nullptr))) {
    return;
  }
  memcpy(bytes, data, size);
  buffer->Unlock();
  buffer->SetCurrentLength(static_cast<DWORD>(size));
  sample->AddBuffer(buffer.Get());
  sample->SetSampleTime(timestampUs * 10);
  sample->SetSampleDuration(10000000 / (configuredFps_ >= 1 ? configuredFps_ : 60));
  if (keyframe) sample->SetUINT32(MFSampleExtension_CleanPoint, 1);

  inputStampQpc_ = Now100ns();
  HRESULT hr = decoder_->ProcessInput(0, sample.Get(), 0);
  if (hr == MF_E_NOTACCEPTING) {
    Drain();
    if (!decoder_) return;
    hr = decoder_->ProcessInput(0, sample.Get(), 0);
  }
  if (FAILED(hr)) {
    LogLine("ProcessInput 0x%08x", static_cast<unsigned>(hr));
    return;
  }
  // No MFT_MESSAGE_COMMAND_DRAIN here to hurry a held picture out: a drain
  // ends the stream, so the next sample would be a discontinuity, and Wine 8's
  // decoder ignores the message anyway.
  Drain();
}

void VideoPipeline::Drain() {
  for (int i = 0; i < kMaxOutputsPerInput; ++i) {
    if (!decoder_) return;
    if (!decoderProvidesSamples_ && !ownOutputSample_) {
      DWORD size = outputBufferSize_ ? outputBufferSize_ : codedWidth_ * codedHeight_ * 3 / 2;
      ComPtr<IMFSample> sample;
      ComPtr<IMFMediaBuffer> buffer;
      if (FAILED(MFCreateSample(&sample)) || FAILED(MFCreateMemoryBuffer(size, &buffer)) ||
          FAILED(sample->AddBuffer(buffer.Get()))) {
        return;
      }
      ownOutputSample_ = sample;
    }
    MFT_OUTPUT_DATA_BUFFER output{};
    output.dwStreamID = 0;
    output.pSample = decoderProvidesSamples_ ? nullptr : ownOutputSample_.Get();
    DWORD status = 0;
    HRESULT hr = decoder_->ProcessOutput(0, 1, &output, &status);
    if (output.pEvents) output.pEvents->Release();
    if (hr == MF_E_TRANSFORM_NEED_MORE_INPUT) return;
    if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
      if (!SelectOutputType()) {
        ReleaseDecoder();
        return;
      }
      continue;
    }
    if (FAILED(hr)) {
      LogLine("ProcessOutput 0x%08x", static_cast<unsigned>(hr));
      return;
    }
    if (!output.pSample) continue;
    double ms = static_cast<double>(Now100ns() - inputStampQpc_) / 10000.0;
    decodeMs_ = 0.1 * ms + 0.9 * decodeMs_;
    HandleOutput(output.pSample);
    if (decoderProvidesSamples_) output.pSample->Release();
  }
}

void VideoPipeline::HandleOutput(IMFSample* sample) {
  ComPtr<IMFMediaBuffer> buffer;
  if (FAILED(sample->GetBufferByIndex(0, &buffer))) return;
  LONGLONG sampleTime = 0;
  sample->GetSampleTime(&sampleTime);

  D2dLockGuard d2d(d2dLock_.Get());
  DecodedFrame frame;
  frame.timestampUs = sampleTime / 10;
  ComPtr<ID3D11Texture2D> texture;
  Nv12Image cpu;
  std::optional<LockedBuffer> locked;

  if (path_ == ConversionPath::Undecided) DecideConversionPath();
  ComPtr<IMFDXGIBuffer> dxgi;
  UINT planeRows = codedHeight_;
  if (hardware_ && SUCCEEDED(buffer.As(&dxgi)) && SUCCEEDED(dxgi->GetResource(IID_PPV_ARGS(&texture)))) {
    if (path_ == ConversionPath::Gpu) {
      dxgi->GetSubresourceIndex(&frame.subresource);
      frame.texture = texture.Get();
    } else {
      // No video processor for the decoder's texture: its 2-D buffer maps
      // the picture into memory, where the luma plane has the texture's rows.
      D3D11_TEXTURE2D_DESC desc{};
      texture->GetDesc(&desc);
      planeRows = desc.Height;
    }
  }
  if (!frame.texture) {
    // A stream change drops the upload texture; one that cannot be made
    // again sends this decoder's pictures the CPU way.
    if (path_ == ConversionPath::Gpu && !uploadTexture_ && !CreateUploadTexture()) path_ = ConversionPath::Cpu;
    locked.emplace(buffer.Get());
    if (locked->data()) {
      UINT pitch = locked->is2d() ? static_cast<UINT>(locked->pitch()) : codedWidth_;
      bool whole = locked->is2d() || locked->length() >= codedWidth_ * codedHeight_ * 3 / 2;
      if (path_ == ConversionPath::Gpu) {
        if (whole) {
          context_->UpdateSubresource(uploadTexture_.Get(), 0, nullptr, locked->data(), pitch, pitch * codedHeight_);
          frame.texture = uploadTexture_.Get();
        }
        locked.reset();
      } else if (whole) {
        cpu = Nv12Image{locked->data(), static_cast<int>(pitch), locked->data() + static_cast<size_t>(pitch) * planeRows,
                        static_cast<int>(pitch), static_cast<int>(displayWidth_), static_cast<int>(displayHeight_)};
        frame.cpu = &cpu;
      }
    }
  }
  if (!frame.texture && !frame.cpu) return;
  HandleFrame(frame);
}

void VideoPipeline::HandleFrame(const DecodedFrame& frame) {
  ++decodedFrames_;
  latency_.Record(kStageDecoded, LatencyMs(frame.timestampUs));
  if (!showLatest_) {
    ++skippedFrames_;
    return;
  }
  ProducePreview(frame);
  if (cameraFeed_.IsWatched() && WriteCameraFrame(frame)) latency_.Record(kStageCamera, LatencyMs(frame.timestampUs));
  std::wstring path;
  {
    std::lock_guard lock(previewLock_);
    if (!snapshotPath_.empty() && decodedFrames_ > 30) path.swap(snapshotPath_);
  }
  if (!path.empty()) TakeSnapshot(frame, path);
}

void VideoPipeline::Teardown() {
  // A session that ends before its first picture never took the device: the
  // UI thread could otherwise replace it while the converters are cleared.
  EnterSession();
  if (decoder_) {
    decoder_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
    decoder_->ProcessMessage(MFT_MESSAGE_COMMAND_FLUSH, 0);
  }
  ReleaseDecoder();
  ClearAllInputViews();
  configuredWidth_ = configuredHeight_ = 0;
  keyframeSeen_ = false;
  previewReady_ = false;
  LeaveSession();
}

void VideoPipeline::ReleaseDecoder() {
  decoder_.Reset();
  ownOutputSample_.Reset();
  uploadTexture_.Reset();
  path_ = ConversionPath::Undecided;
}

void VideoPipeline::ClearAllInputViews() {
  ClearInputViews(previewConverter_);
  ClearInputViews(cameraConverter_);
  ClearInputViews(snapshotConverter_);
}

bool VideoPipeline::IsSomeoneWatching() {
  if (previewTarget_.Load().wanted) return true;
  {
    std::lock_guard lock(previewLock_);
    if (!snapshotPath_.empty()) return true;
  }
  return cameraFeed_.IsWatched();
}

void VideoPipeline::SetClockOffset(int64_t offsetUs) {
  clockOffsetUs_ = offsetUs;
  clockValid_ = true;
}

double VideoPipeline::LatencyMs(int64_t timestampUs) const {
  if (!clockValid_) return -1e9;
  return static_cast<double>(MicrosecondsNow() - clockOffsetUs_ - timestampUs) / 1000.0;
}
