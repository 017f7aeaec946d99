#include <d3d10.h>
#include <mfapi.h>

#include "../core/log.h"
#include "video_pipeline.h"
#include "../core/window_messages.h"

using Microsoft::WRL::ComPtr;

VideoPipeline g_video;

namespace {
constexpr size_t kMaxInputViews = 40;
}  // namespace

HRESULT CreateVideoTexture(ID3D11Device* device, int width, int height, DXGI_FORMAT format, UINT bindFlags,
                            ID3D11Texture2D** texture) {
  D3D11_TEXTURE2D_DESC desc{};
  desc.Width = static_cast<UINT>(width);
  desc.Height = static_cast<UINT>(height);
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = format;
  desc.SampleDesc.Count = 1;
  desc.Usage = D3D11_USAGE_DEFAULT;
  desc.BindFlags = bindFlags;
  return device->CreateTexture2D(&desc, nullptr, texture);
}

void VideoPipeline::ResetConverter(VideoConverter& c) {
  c.inputViews.clear();
  c.outputView.Reset();
  c.outputTexture.Reset();
  c.processor.Reset();
  c.enumerator.Reset();
  c.inputWidth = c.inputHeight = c.outputWidth = c.outputHeight = 0;
  c.outputFormat = DXGI_FORMAT_UNKNOWN;
}

void VideoPipeline::ClearInputViews(VideoConverter& c) { c.inputViews.clear(); }

bool VideoPipeline::EnsureConverter(VideoConverter& c, int inputWidth, int inputHeight, int outputWidth,
                                    int outputHeight, DXGI_FORMAT format, bool shaderBindable) {
  if (!videoDevice_ || !videoContext_) return false;
  if (c.processor && c.inputWidth == inputWidth && c.inputHeight == inputHeight && c.outputWidth == outputWidth &&
      c.outputHeight == outputHeight && c.outputFormat == format) {
    return true;
  }
  ResetConverter(c);

  UINT fps = configuredFps_ >= 1 ? static_cast<UINT>(configuredFps_) : 60;
  D3D11_VIDEO_PROCESSOR_CONTENT_DESC content{};
  content.InputFrameFormat = D3D11_VIDEO_FRAME_FORMAT_PROGRESSIVE;
  content.InputFrameRate = {fps, 1};
  content.InputWidth = static_cast<UINT>(inputWidth);
  content.InputHeight = static_cast<UINT>(inputHeight);
  content.OutputFrameRate = {fps, 1};
  content.OutputWidth = static_cast<UINT>(outputWidth);
  content.OutputHeight = static_cast<UINT>(outputHeight);
  content.Usage = D3D11_VIDEO_USAGE_OPTIMAL_SPEED;
  if (FAILED(videoDevice_->CreateVideoProcessorEnumerator(&content, &c.enumerator)) ||
      FAILED(videoDevice_->CreateVideoProcessor(c.enumerator.Get(), 0, &c.processor))) {
    ResetConverter(c);
    return false;
  }

  D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC viewDesc{};
  viewDesc.ViewDimension = D3D11_VPOV_DIMENSION_TEXTURE2D;
  UINT bind = D3D11_BIND_RENDER_TARGET | (shaderBindable ? D3D11_BIND_SHADER_RESOURCE : 0);
  if (FAILED(CreateVideoTexture(device_.Get(), outputWidth, outputHeight, format, bind, &c.outputTexture)) ||
      FAILED(videoDevice_->CreateVideoProcessorOutputView(c.outputTexture.Get(), c.enumerator.Get(), &viewDesc,
                                                          &c.outputView))) {
    ResetConverter(c);
    return false;
  }

  videoContext_->VideoProcessorSetStreamFrameFormat(c.processor.Get(), 0, D3D11_VIDEO_FRAME_FORMAT_PROGRESSIVE);
  videoContext_->VideoProcessorSetStreamAutoProcessingMode(c.processor.Get(), 0, FALSE);
  // Bit value 20: BT.709 matrix, studio range 16-235; 0: full-range RGB.
  D3D11_VIDEO_PROCESSOR_COLOR_SPACE studio709{};
  studio709.YCbCr_Matrix = 1;
  studio709.Nominal_Range = D3D11_VIDEO_PROCESSOR_NOMINAL_RANGE_16_235;
  D3D11_VIDEO_PROCESSOR_COLOR_SPACE fullRgb{};
  videoContext_->VideoProcessorSetStreamColorSpace(c.processor.Get(), 0, &studio709);
  videoContext_->VideoProcessorSetOutputColorSpace(c.processor.Get(),
                                                   format == DXGI_FORMAT_NV12 ? &studio709 : &fullRgb);

  c.inputWidth = inputWidth;
  c.inputHeight = inputHeight;
  c.outputWidth = outputWidth;
  c.outputHeight = outputHeight;
  c.outputFormat = format;
  return true;
}

bool VideoPipeline::EnsureCpuOutput(VideoConverter& c, int outputWidth, int outputHeight, DXGI_FORMAT format,
                                    bool shaderBindable) {
  if (c.outputTexture && c.outputWidth == outputWidth && c.outputHeight == outputHeight &&
      c.outputFormat == format) {
    return true;
  }
  ResetConverter(c);
  if (FAILED(CreateVideoTexture(device_.Get(), outputWidth, outputHeight, format,
                                 shaderBindable ? D3D11_BIND_SHADER_RESOURCE : 0, &c.outputTexture))) {
    ResetConverter(c);
    return false;
  }
  c.outputWidth = outputWidth;
  c.outputHeight = outputHeight;
  c.outputFormat = format;
  return true;
}

bool VideoPipeline::Convert(VideoConverter& c, const DecodedFrame& frame, bool fit) {
  if (!c.processor || !frame.texture) return false;
  ID3D11VideoProcessorInputView* input = nullptr;
  for (const auto& v : c.inputViews) {
    if (v.texture == frame.texture && v.subresource == frame.subresource) input = v.view.Get();
  }
  if (!input) {
    if (c.inputViews.size() > kMaxInputViews) c.inputViews.clear();
    D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC desc{};
    desc.ViewDimension = D3D11_VPIV_DIMENSION_TEXTURE2D;
    desc.Texture2D.ArraySlice = frame.subresource;
    ComPtr<ID3D11VideoProcessorInputView> view;
    if (FAILED(videoDevice_->CreateVideoProcessorInputView(frame.texture, c.enumerator.Get(), &desc, &view))) {
      return false;
    }
    c.inputViews.push_back({frame.texture, frame.subresource, view});
    input = view.Get();
  }

  RECT source = {0, 0, static_cast<LONG>(displayWidth_), static_cast<LONG>(displayHeight_)};
  FitRect fitted = FitDestination(static_cast<int>(displayWidth_), static_cast<int>(displayHeight_),
                                  c.outputWidth, c.outputHeight, fit);
  RECT destination = {fitted.left, fitted.top, fitted.right, fitted.bottom};
  RECT whole = {0, 0, c.outputWidth, c.outputHeight};
  videoContext_->VideoProcessorSetStreamSourceRect(c.processor.Get(), 0, TRUE, &source);
  videoContext_->VideoProcessorSetStreamDestRect(c.processor.Get(), 0, TRUE, &destination);
  videoContext_->VideoProcessorSetOutputTargetRect(c.processor.Get(), TRUE, &whole);

  D3D11_VIDEO_COLOR background{};
  if (c.outputFormat == DXGI_FORMAT_NV12) {
    background.YCbCr = {0.0625f, 0.5f, 0.5f, 1.0f};
  } else {
    background.RGBA = {0.043f, 0.047f, 0.055f, 1.0f};
  }
  videoContext_->VideoProcessorSetOutputBackgroundColor(c.processor.Get(), c.outputFormat == DXGI_FORMAT_NV12,
                                                       &background);
  if (videoContext1_) {
    videoContext1_->VideoProcessorSetStreamMirror(c.processor.Get(), 0, TRUE, mirror_ ? TRUE : FALSE, FALSE);
  }

  D3D11_VIDEO_PROCESSOR_STREAM stream{};
  stream.Enable = TRUE;
  stream.pInputSurface = input;
  return SUCCEEDED(videoContext_->VideoProcessorBlt(c.processor.Get(), c.outputView.Get(), 0, 1, &stream));
}

void VideoPipeline::SetPreviewTarget(int width, int height, bool wanted) {
  previewTarget_.Store({width & ~1, height & ~1, wanted});
}

void VideoPipeline::GetPreview(ComPtr<ID3D11Texture2D>* texture, uint64_t* generation) {
  std::lock_guard lock(previewLock_);
  *texture = previewConverter_.outputTexture;
  *generation = generation_;
}

void VideoPipeline::RequestSnapshot(const std::wstring& path) {
  std::lock_guard lock(previewLock_);
  snapshotPath_ = path;
}

void VideoPipeline::ProducePreview(const DecodedFrame& frame) {
  PreviewTarget target = previewTarget_.Load();
  int width = target.width, height = target.height;
  if (!target.wanted || width == 0 || height == 0) return;
  bool ready;
  {
    std::lock_guard lock(previewLock_);
    ID3D11Texture2D* before = previewConverter_.outputTexture.Get();
    ready = frame.cpu ? EnsureCpuOutput(previewConverter_, width, height, DXGI_FORMAT_B8G8R8A8_UNORM, true)
                      : EnsureConverter(previewConverter_, static_cast<int>(codedWidth_),
                                        static_cast<int>(codedHeight_), width, height, DXGI_FORMAT_B8G8R8A8_UNORM,
                                        true);
    if (previewConverter_.outputTexture.Get() != before) ++generation_;
  }
  if (!ready) return;
  bool converted;
  if (frame.cpu) {
    VideoConverter& c = previewConverter_;
    c.pixels.resize(static_cast<size_t>(width) * height * 4);
    converted = ConvertNv12ToBgra(*frame.cpu, c.pixels.data(), width * 4, width, height, true, mirror_, &c.scratch);
    if (converted) {
      context_->UpdateSubresource(c.outputTexture.Get(), 0, nullptr, c.pixels.data(), static_cast<UINT>(width * 4),
                                  0);
    }
  } else {
    converted = Convert(previewConverter_, frame, true);
  }
  if (!converted) return;
  previewReady_ = true;
  previewTimestampUs_ = frame.timestampUs;
  // A post that fails (a full queue, a window on its way out) must not
  // leave the flag set, or no picture would ever be announced again.
  if (targetWindow_ && !framePosted_.exchange(true) && !PostMessageW(targetWindow_, kMsgNewFrame, 0, 0)) {
    framePosted_ = false;
  }
}

void VideoPipeline::TakeSnapshot(const DecodedFrame& frame, const std::wstring& path) {
  int width = static_cast<int>(displayWidth_), height = static_cast<int>(displayHeight_);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  if (frame.cpu) {
    bool converted = ConvertNv12ToBgra(*frame.cpu, pixels.data(), width * 4, width, height, false, mirror_,
                                       &snapshotConverter_.scratch);
    snapshotConverter_.scratch = CpuScratch{};  // only needed for this one picture
    if (!converted) return;
  } else {
    bool ok = EnsureConverter(snapshotConverter_, static_cast<int>(codedWidth_), static_cast<int>(codedHeight_),
                              width, height, DXGI_FORMAT_B8G8R8A8_UNORM, false) &&
              Convert(snapshotConverter_, frame, false);
    D3D11_TEXTURE2D_DESC desc{};
    ComPtr<ID3D11Texture2D> staging;
    D3D11_MAPPED_SUBRESOURCE mapped{};
    if (ok) {
      snapshotConverter_.outputTexture->GetDesc(&desc);
      desc.Usage = D3D11_USAGE_STAGING;
      desc.BindFlags = 0;
      desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
      ok = SUCCEEDED(device_->CreateTexture2D(&desc, nullptr, &staging));
    }
    if (ok) {
      context_->CopyResource(staging.Get(), snapshotConverter_.outputTexture.Get());
      ok = SUCCEEDED(context_->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped));
    }
    if (!ok) {
      ResetConverter(snapshotConverter_);
      return;
    }
    for (int row = 0; row < height; ++row) {
      memcpy(&pixels[static_cast<size_t>(row) * width * 4], static_cast<uint8_t*>(mapped.pData) + row * mapped.RowPitch,
             static_cast<size_t>(width) * 4);
    }
    context_->Unmap(staging.Get(), 0);
    ResetConverter(snapshotConverter_);
  }
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
  bool saved = SavePng(path, pixels.data(), width, height, width * 4);
  LogLine("Cuadro decodificado guardado (%ux%u) en PNG: %s", displayWidth_, displayHeight_, saved ? "ok" : "ERROR");
}

void VideoPipeline::Close() {
  Teardown();
  cameraStaging_.Reset();
  cameraFeed_.Close();
}
