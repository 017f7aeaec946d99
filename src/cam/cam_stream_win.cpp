// The source's one video stream: six NV12 types, and a sample for every
// request, filled at once from the shared block.
#include <mfapi.h>
#include <mferror.h>

#include "cam_objects_win.h"

using Microsoft::WRL::ComPtr;

namespace {

struct TypeSize {
  UINT32 width, height, fps;
};
constexpr TypeSize kTypes[] = {{1920, 1080, 30}, {1920, 1080, 60}, {1280, 720, 30},
                               {1280, 720, 60},  {3840, 2160, 30}, {640, 360, 30}};

HRESULT MakeType(const TypeSize& t, IMFMediaType** out) {
  ComPtr<IMFMediaType> type;
  HRESULT hr = MFCreateMediaType(&type);
  if (FAILED(hr)) return hr;
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
  MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, t.width, t.height);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, t.fps, 1);
  MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
  type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
  type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
  type->SetUINT32(MF_MT_DEFAULT_STRIDE, t.width);
  type->SetUINT32(MF_MT_SAMPLE_SIZE, t.width * t.height * 3 / 2);
  type->SetUINT32(MF_MT_AVG_BITRATE, t.fps * t.width * t.height * 12);
  *out = type.Detach();
  return S_OK;
}

}  // namespace

HRESULT Flujo::Initialize() {
  HRESULT hr = MFCreateAttributes(&attributes_, 8);
  if (FAILED(hr)) return hr;
  attributes_->SetGUID(kMfDeviceStreamStreamCategory, kPinNameVideoCapture);
  attributes_->SetUINT32(kMfDeviceStreamStreamId, 0);
  attributes_->SetUINT32(kMfDeviceStreamFrameServerShared, 1);
  attributes_->SetUINT32(kMfDeviceStreamFrameSourceTypes, kMfFrameSourceTypesColor);
  hr = MFCreateEventQueue(&queue_);
  if (FAILED(hr)) return hr;

  ComPtr<IMFMediaType> types[std::size(kTypes)];
  IMFMediaType* list[std::size(kTypes)];
  for (size_t i = 0; i < std::size(kTypes); ++i) {
    hr = MakeType(kTypes[i], &types[i]);
    if (FAILED(hr)) return hr;
    list[i] = types[i].Get();
  }
  hr = MFCreateStreamDescriptor(0, static_cast<DWORD>(std::size(list)), list, &descriptor_);
  ComPtr<IMFMediaTypeHandler> handler;
  if (SUCCEEDED(hr)) hr = descriptor_->GetMediaTypeHandler(&handler);
  if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(list[0]);
  return hr;
}

Flujo::~Flujo() { CloseBlock(&block_); }

STDMETHODIMP Flujo::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IMFMediaEventGenerator || iid == IID_IMFMediaStream ||
      iid == __uuidof(IMFMediaStream2)) {
    return Answer(static_cast<IMFMediaStream2*>(this), out);
  }
  if (iid == IID_IMFAttributes) return Answer(static_cast<IMFAttributes*>(this), out);
  if (iid == kIidIKsControl) return Answer(static_cast<IKsControl*>(this), out);
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Flujo::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP Flujo::GetMediaSource(IMFMediaSource** source) {
  if (!source) return E_POINTER;
  *source = nullptr;
  Locked lock(lock_);
  if (!source_) return MF_E_SHUTDOWN;
  return Answer(static_cast<IMFMediaSource*>(source_), reinterpret_cast<void**>(source));
}

STDMETHODIMP Flujo::GetStreamDescriptor(IMFStreamDescriptor** descriptor) {
  if (!descriptor) return E_POINTER;
  *descriptor = nullptr;
  Locked lock(lock_);
  if (!descriptor_) return MF_E_SHUTDOWN;
  return Answer(descriptor_.Get(), reinterpret_cast<void**>(descriptor));
}

void Flujo::FillFrame(uint8_t* data, uint32_t pitch) {
  if (!block_.view) (void)EnsureBlock(&block_);
  FillFrameFrom(block_.view, &reader_, {data, pitch, width_, height_}, fpsNumerator_ / fpsDenominator_,
                GetTickCount64());
}

STDMETHODIMP Flujo::RequestSample(IUnknown* token) {
  Locked lock(lock_);
  if (!queue_) return MF_E_SHUTDOWN;
  ComPtr<IMFSample> sample;
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr;
  if (allocator_) {
    hr = allocator_->AllocateSample(&sample);
  } else {
    hr = MFCreateSample(&sample);
    if (SUCCEEDED(hr)) hr = MFCreate2DMediaBuffer(width_, height_, MAKEFOURCC('N', 'V', '1', '2'), FALSE, &buffer);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
  }
  if (FAILED(hr)) return hr;
  buffer.Reset();
  hr = sample->GetBufferByIndex(0, &buffer);
  if (FAILED(hr)) return hr;

  const DWORD pictureBytes = width_ * height_ * 3 / 2;
  ComPtr<IMF2DBuffer2> buffer2d;
  BYTE* scanline = nullptr;
  BYTE* start = nullptr;
  LONG pitch = 0;
  DWORD length = 0;
  if (SUCCEEDED(buffer.As(&buffer2d)) &&
      SUCCEEDED(buffer2d->Lock2DSize(MF2DBuffer_LockFlags_Write, &scanline, &pitch, &start, &length))) {
    // Only a buffer that holds the whole picture at its pitch is written.
    if (pitch > 0 && static_cast<uint64_t>(pitch) * height_ * 3 / 2 <= length) {
      FillFrame(scanline, static_cast<uint32_t>(pitch));
    }
    buffer2d->Unlock2D();
    // Readers that look at the plain buffer see the whole picture too.
    buffer->SetCurrentLength(pictureBytes);
  } else {
    BYTE* data = nullptr;
    DWORD max = 0;
    if (SUCCEEDED(buffer->Lock(&data, &max, nullptr))) {
      if (max >= pictureBytes) {
        FillFrame(data, width_);
        buffer->SetCurrentLength(pictureBytes);
      }
      buffer->Unlock();
    }
  }

  sample->SetSampleTime(MFGetSystemTime());
  sample->SetSampleDuration(static_cast<LONGLONG>(fpsDenominator_) * 10000000 / fpsNumerator_);
  if (token) sample->SetUnknown(kMfSampleExtensionToken, token);
  return queue_->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample.Get());
}

STDMETHODIMP Flujo::SetStreamState(MF_STREAM_STATE state) {
  Locked lock(lock_);
  if (state == state_) return S_OK;
  switch (state) {
    case MF_STREAM_STATE_PAUSED:
      if (state_ != MF_STREAM_STATE_RUNNING) return MF_E_INVALID_STATE_TRANSITION;
      state_ = MF_STREAM_STATE_PAUSED;
      return S_OK;
    case MF_STREAM_STATE_RUNNING:
      return StartLocked(nullptr);
    case MF_STREAM_STATE_STOPPED:
      return StopLocked();
    default:
      return MF_E_INVALID_STATE_TRANSITION;
  }
}

STDMETHODIMP Flujo::GetStreamState(MF_STREAM_STATE* state) {
  if (!state) return E_POINTER;
  Locked lock(lock_);
  *state = state_;
  return S_OK;
}

MF_STREAM_STATE Flujo::State() {
  Locked lock(lock_);
  return state_;
}

HRESULT Flujo::StartStream(IMFMediaType* type) {
  Locked lock(lock_);
  return StartLocked(type);
}

HRESULT Flujo::StopStream() {
  Locked lock(lock_);
  return StopLocked();
}

HRESULT Flujo::StartLocked(IMFMediaType* type) {
  if (!queue_) return MF_E_SHUTDOWN;
  if (type) mediaType_ = type;
  if (mediaType_) {
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    MFGetAttributeSize(mediaType_.Get(), MF_MT_FRAME_SIZE, &width, &height);
    // The samples are written at this size: nothing but a picture size a
    // slot could hold is accepted.
    if (!PictureSizeValid(width, height) || width % 2 || height % 2) return MF_E_INVALIDMEDIATYPE;
    width_ = width;
    height_ = height;
    MFGetAttributeRatio(mediaType_.Get(), MF_MT_FRAME_RATE, &numerator, &denominator);
    if (numerator == 0 || denominator == 0) numerator = 30, denominator = 1;
    fpsNumerator_ = numerator;
    fpsDenominator_ = denominator;
  }
  if (allocator_) {
    HRESULT hr = allocator_->InitializeSampleAllocator(10, mediaType_.Get());
    if (FAILED(hr)) return hr;
  }
  if (EnsureBlock(&block_)) {
    CameraBlockHeader* header = HeaderOf(block_.view);
    Poke(header->requestedWidth, width_);
    Poke(header->requestedHeight, height_);
    Poke(header->requestedFps, fpsNumerator_ / fpsDenominator_);
    Poke(header->readerHeartbeat, GetTickCount64());
  }
  HRESULT hr = queue_->QueueEventParamVar(MEStreamStarted, GUID_NULL, S_OK, nullptr);
  state_ = MF_STREAM_STATE_RUNNING;
  return hr;
}

HRESULT Flujo::StopLocked() {
  if (!queue_) return MF_E_SHUTDOWN;
  if (allocator_) allocator_->UninitializeSampleAllocator();
  if (block_.view) Poke(HeaderOf(block_.view)->readerHeartbeat, uint64_t{0});
  HRESULT hr = queue_->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
  state_ = MF_STREAM_STATE_STOPPED;
  return hr;
}

void Flujo::ShutdownStream() {
  Locked lock(lock_);
  if (queue_) queue_->Shutdown();
  queue_.Reset();
  descriptor_.Reset();
  allocator_.Reset();
  source_ = nullptr;
  if (block_.view) Poke(HeaderOf(block_.view)->readerHeartbeat, uint64_t{0});
}

HRESULT Flujo::SetAllocator(IUnknown* allocator) {
  Locked lock(lock_);
  allocator_.Reset();
  return allocator->QueryInterface(IID_PPV_ARGS(&allocator_));
}
