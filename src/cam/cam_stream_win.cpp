// The source's one video stream: six NV12 types, and a sample for every
// request, handed out when there is a new picture to show or when the last
// one is due again.
#include <mfapi.h>
#include <mferror.h>

#include <algorithm>
#include <utility>

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

struct StreamFormat {
  UINT32 width, height, fpsNumerator, fpsDenominator;
};

// The format of one of the six types; false for any other. A type without a
// frame rate is taken at 30/1.
bool FormatOf(IMFMediaType* type, StreamFormat* out) {
  GUID major = GUID_NULL, subtype = GUID_NULL;
  if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Video ||
      FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) || subtype != MFVideoFormat_NV12) {
    return false;
  }
  UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
  if (FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height))) return false;
  (void)MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator);
  if (numerator == 0 || denominator == 0) numerator = 30, denominator = 1;
  for (const TypeSize& t : kTypes) {
    if (t.width == width && t.height == height && static_cast<uint64_t>(t.fps) * denominator == numerator) {
      *out = {width, height, numerator, denominator};
      return true;
    }
  }
  return false;
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
  if (FAILED(hr)) return hr;

  neverSet_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // The pool keeps this DLL loaded while one of its callbacks runs.
  TP_CALLBACK_ENVIRON environment;
  InitializeThreadpoolEnvironment(&environment);
  SetThreadpoolCallbackLibrary(&environment, g_module);
  wait_ = neverSet_ ? CreateThreadpoolWait(&Flujo::OnWake, this, &environment) : nullptr;
  DestroyThreadpoolEnvironment(&environment);
  return wait_ ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

Flujo::~Flujo() {
  EndWaits();
  CloseBlock(&block_);
  if (neverSet_) CloseHandle(neverSet_);
}

void PendingSamples::Push(PendingSample request) {
  items_[(first_ + count_++) % kMax] = std::move(request);
}

PendingSample PendingSamples::Pop() {
  PendingSample request = std::move(items_[first_]);
  first_ = (first_ + 1) % kMax;
  --count_;
  return request;
}

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
  // The source clears source_ under this lock first thing in its destructor,
  // so while the lock is held the object is still there; but its last
  // reference may already be gone, and then it must not be revived.
  Locked lock(lock_);
  if (!source_ || !source_->AddRefIfAlive()) return MF_E_SHUTDOWN;
  *source = static_cast<IMFMediaSource*>(source_);
  return S_OK;
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

// Writes the picture into the sample's buffer, or with `fill` false only
// checks that it could. Only a buffer that holds the whole picture at a
// pitch of at least the width is written (a foreign allocator's buffer may be
// narrower or shorter, and rows would then run past its end); any other is
// refused, and its length is left alone.
HRESULT Flujo::WritePicture(IMFMediaBuffer* buffer, bool fill) {
  const DWORD pictureBytes = width_ * height_ * 3 / 2;
  ComPtr<IMF2DBuffer2> buffer2d;
  BYTE* scanline = nullptr;
  BYTE* start = nullptr;
  LONG pitch = 0;
  DWORD length = 0;
  if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&buffer2d))) &&
      SUCCEEDED(buffer2d->Lock2DSize(MF2DBuffer_LockFlags_Write, &scanline, &pitch, &start, &length))) {
    // The rows start at the first scan line, which need not be the start.
    const bool fits = pitch >= static_cast<LONG>(width_) && scanline >= start && scanline - start <= length &&
                      static_cast<uint64_t>(pitch) * (height_ + height_ / 2) <=
                          length - static_cast<DWORD>(scanline - start);
    if (fits && fill) FillFrame(scanline, static_cast<uint32_t>(pitch));
    buffer2d->Unlock2D();
    if (!fits) return pitch < 0 ? MF_E_UNSUPPORTED_FORMAT : MF_E_BUFFERTOOSMALL;
    if (!fill) return S_OK;
    // Readers that look at the plain buffer see the whole picture too.
    return buffer->SetCurrentLength(pictureBytes);
  }
  BYTE* data = nullptr;
  DWORD max = 0;
  HRESULT hr = buffer->Lock(&data, &max, nullptr);
  if (FAILED(hr)) return hr;
  if (max >= pictureBytes && fill) FillFrame(data, width_);
  buffer->Unlock();
  if (max < pictureBytes) return MF_E_BUFFERTOOSMALL;
  return fill ? buffer->SetCurrentLength(pictureBytes) : S_OK;
}

HRESULT Flujo::NewSample(ComPtr<IMFSample>* sample) {
  if (allocator_) return allocator_->AllocateSample(sample->ReleaseAndGetAddressOf());
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = MFCreateSample(sample->ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr)) hr = MFCreate2DMediaBuffer(width_, height_, MAKEFOURCC('N', 'V', '1', '2'), FALSE, &buffer);
  if (SUCCEEDED(hr)) hr = (*sample)->AddBuffer(buffer.Get());
  return hr;
}

bool Flujo::NewPicture() { return NewPictureWaiting(block_.view, reader_, GetTickCount64()); }

// Fills the request's sample now and hands it out, stamped with this moment.
HRESULT Flujo::Deliver(const PendingSample& request) {
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = request.sample->GetBufferByIndex(0, &buffer);
  if (SUCCEEDED(hr)) hr = WritePicture(buffer.Get(), true);
  // A sample whose picture was not written is not handed out.
  if (FAILED(hr)) return hr;
  const LONGLONG now = MFGetSystemTime();
  pacer_.Delivered(now / 10);
  request.sample->SetSampleTime(now);
  request.sample->SetSampleDuration(static_cast<LONGLONG>(fpsDenominator_) * 10000000 / fpsNumerator_);
  if (request.token) request.sample->SetUnknown(kMfSampleExtensionToken, request.token.Get());
  return queue_->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, request.sample.Get());
}

// A request is answered at once when its sample is due (a picture not yet
// shown, or the last one due again); otherwise it waits, and the next
// picture or the due moment answers it. Its sample is taken and checked now,
// so a request that cannot be answered fails here, to its caller.
STDMETHODIMP Flujo::RequestSample(IUnknown* token) {
  Locked lock(lock_);
  if (!queue_) return MF_E_SHUTDOWN;
  if (pending_.Full()) return MF_E_NOTACCEPTING;
  if (!block_.view) (void)EnsureBlock(&block_);
  if (block_.view) Poke(HeaderOf(block_.view)->readerHeartbeat, GetTickCount64());
  PendingSample request{nullptr, token};
  HRESULT hr = NewSample(&request.sample);
  if (FAILED(hr)) return hr;
  if (pending_.Empty() && DueUs() <= MFGetSystemTime() / 10) return Deliver(request);
  ComPtr<IMFMediaBuffer> buffer;
  hr = request.sample->GetBufferByIndex(0, &buffer);
  if (SUCCEEDED(hr)) hr = WritePicture(buffer.Get(), false);
  if (FAILED(hr)) return hr;
  pending_.Push(std::move(request));
  ArmWait();
  return S_OK;
}

void Flujo::ArmWait() {
  if (!wait_) return;
  if (pending_.Empty()) {
    SetThreadpoolWait(wait_, nullptr, nullptr);
    return;
  }
  // Relative, in 100 ns units; at least 1 ms so a due time just missed
  // does not spin.
  const int64_t waitUs = std::max<int64_t>(1000, DueUs() - MFGetSystemTime() / 10);
  ULARGE_INTEGER relative;
  relative.QuadPart = static_cast<ULONGLONG>(-waitUs * 10);
  FILETIME timeout{relative.LowPart, relative.HighPart};
  SetThreadpoolWait(wait_, block_.event ? block_.event : neverSet_, &timeout);
}

void Flujo::AnswerDue() {
  PendingSamples failed;
  {
    Locked lock(lock_);
    if (!wait_ || !queue_) return;
    while (!pending_.Empty() && DueUs() <= MFGetSystemTime() / 10) {
      PendingSample request = pending_.Pop();
      // Checked when it was asked for: a sample that cannot be written now
      // has nobody left to tell, and is let go.
      if (FAILED(Deliver(request))) failed.Push(std::move(request));
    }
    ArmWait();
  }
}

void CALLBACK Flujo::OnWake(PTP_CALLBACK_INSTANCE, void* self, PTP_WAIT, TP_WAIT_RESULT) {
  static_cast<Flujo*>(self)->AnswerDue();
}

void Flujo::EndWaits() {
  PTP_WAIT wait = nullptr;
  PendingSamples dropped;
  {
    Locked lock(lock_);
    std::swap(wait, wait_);
    std::swap(dropped, pending_);
  }
  if (!wait) return;
  SetThreadpoolWait(wait, nullptr, nullptr);
  WaitForThreadpoolWaitCallbacks(wait, TRUE);
  CloseThreadpoolWait(wait);
}

STDMETHODIMP Flujo::SetStreamState(MF_STREAM_STATE state) {
  PendingSamples dropped;
  Locked lock(lock_);
  if (state == state_) return S_OK;
  switch (state) {
    case MF_STREAM_STATE_PAUSED:
      if (state_ != MF_STREAM_STATE_RUNNING) return MF_E_INVALID_STATE_TRANSITION;
      state_ = MF_STREAM_STATE_PAUSED;
      return S_OK;
    case MF_STREAM_STATE_RUNNING:
      return StartLocked(nullptr, &dropped);
    case MF_STREAM_STATE_STOPPED:
      return StopLocked(&dropped);
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
  PendingSamples dropped;
  Locked lock(lock_);
  return StartLocked(type, &dropped);
}

HRESULT Flujo::StopStream() {
  PendingSamples dropped;
  Locked lock(lock_);
  return StopLocked(&dropped);
}

HRESULT Flujo::StartLocked(IMFMediaType* type, PendingSamples* dropped) {
  if (!queue_) return MF_E_SHUTDOWN;
  IMFMediaType* next = type ? type : mediaType_.Get();
  StreamFormat format{width_, height_, fpsNumerator_, fpsDenominator_};
  // Checked before anything changes: a start that fails leaves the stream
  // as it was. The samples are written at the type's size, so nothing but
  // one of the six types may start it.
  if (next && !FormatOf(next, &format)) return MF_E_INVALIDMEDIATYPE;
  // Samples asked for at the old type (and from the allocator about to be
  // set up again) are not handed out.
  std::swap(*dropped, pending_);
  ArmWait();
  if (allocator_) {
    HRESULT hr = allocator_->InitializeSampleAllocator(10, next);
    if (FAILED(hr)) return hr;
  }
  mediaType_ = next;
  width_ = format.width;
  height_ = format.height;
  fpsNumerator_ = format.fpsNumerator;
  fpsDenominator_ = format.fpsDenominator;
  pacer_.Start(fpsNumerator_, fpsDenominator_);
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

HRESULT Flujo::StopLocked(PendingSamples* dropped) {
  if (!queue_) return MF_E_SHUTDOWN;
  std::swap(*dropped, pending_);
  ArmWait();
  if (allocator_) allocator_->UninitializeSampleAllocator();
  if (block_.view) Poke(HeaderOf(block_.view)->readerHeartbeat, uint64_t{0});
  HRESULT hr = queue_->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
  state_ = MF_STREAM_STATE_STOPPED;
  return hr;
}

void Flujo::ShutdownStream() {
  EndWaits();
  Locked lock(lock_);
  if (queue_) queue_->Shutdown();
  queue_.Reset();
  descriptor_.Reset();
  allocator_.Reset();
  source_ = nullptr;
  if (block_.view) Poke(HeaderOf(block_.view)->readerHeartbeat, uint64_t{0});
}

HRESULT Flujo::SetAllocator(IUnknown* allocator) {
  ComPtr<IMFVideoSampleAllocatorEx> given;
  HRESULT hr = allocator->QueryInterface(IID_PPV_ARGS(&given));
  Locked lock(lock_);
  if (FAILED(hr)) {
    allocator_.Reset();
    return hr;
  }
  // Handed over while the stream runs, it is set up now for the running
  // type, as the start would have done; one that cannot be leaves the
  // stream with the samples it had. (Samples already waiting came from
  // the old one and stay good.)
  if (state_ != MF_STREAM_STATE_STOPPED && mediaType_) {
    hr = given->InitializeSampleAllocator(10, mediaType_.Get());
    if (FAILED(hr)) return hr;
  }
  allocator_ = std::move(given);
  return S_OK;
}
