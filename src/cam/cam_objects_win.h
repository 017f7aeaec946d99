#pragma once
// The camera DLL's four classes: the class factory, the activation object,
// the media source and its one video stream.
// windows.h (through cam_com_win.h) must come before the kernel-streaming headers.
#include "cam_com_win.h"
// clang-format off
#include <ks.h>
#include <ksproxy.h>
// clang-format on

#include "../common/camera_block.h"
#include "../common/sample_pacing.h"

class Flujo;

// The event-generator methods of the source and the stream: their own event
// queue, under their own lock (which the rest of each class uses too).
template <typename Interface>
class QueueEvents : public Interface {
 public:
  // GetEvent may block until an event comes: it must not hold the lock.
  STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override {
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> queue;
    {
      Locked lock(lock_);
      queue = queue_;
    }
    return queue ? queue->GetEvent(flags, event) : MF_E_SHUTDOWN;
  }
  STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override {
    Locked lock(lock_);
    return queue_ ? queue_->BeginGetEvent(callback, state) : MF_E_SHUTDOWN;
  }
  STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override {
    Locked lock(lock_);
    return queue_ ? queue_->EndGetEvent(result, event) : MF_E_SHUTDOWN;
  }
  STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override {
    Locked lock(lock_);
    return queue_ ? queue_->QueueEventParamVar(type, extended, status, value) : MF_E_SHUTDOWN;
  }

 protected:
  QueueEvents() = default;
  ~QueueEvents() = default;
  SlimLock lock_;
  Microsoft::WRL::ComPtr<IMFMediaEventQueue> queue_;
};

// Kernel-streaming properties, methods and events: the camera has none.
class NoKsControl : public IKsControl {
 public:
  STDMETHODIMP KsProperty(PKSPROPERTY, ULONG, LPVOID, ULONG, ULONG*) override { return kSetNotFound; }
  STDMETHODIMP KsMethod(PKSMETHOD, ULONG, LPVOID, ULONG, ULONG*) override { return kSetNotFound; }
  STDMETHODIMP KsEvent(PKSEVENT, ULONG, LPVOID, ULONG, ULONG*) override { return kSetNotFound; }

 protected:
  NoKsControl() = default;
  ~NoKsControl() = default;

 private:
  static constexpr HRESULT kSetNotFound = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
};

class Fabrica final : private ModuleObject, public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  std::atomic<ULONG> refs_{1};
};

class Fuente;

class Activador final : private ModuleObject, public ForwardAttributes<IMFActivate> {
 public:
  HRESULT Initialize();
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP ActivateObject(REFIID iid, void** out) override;
  STDMETHODIMP ShutdownObject() override { return S_OK; }
  STDMETHODIMP DetachObject() override;

 private:
  ~Activador();
  HRESULT NewSource();
  std::atomic<ULONG> refs_{1};
  SlimLock lock_;
  Fuente* source_ = nullptr;  // owned reference
};

class Fuente final : private ModuleObject,
                     public QueueEvents<IMFMediaSourceEx>,
                     public ForwardAttributes<IMFAttributes>,
                     public IMFGetService,
                     public NoKsControl,
                     public IMFSampleAllocatorControl {
 public:
  HRESULT Initialize(IMFAttributes* activation);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;
  // A new reference unless the last one is already gone (the source is then
  // being destroyed): the stream's way back to its source.
  bool AddRefIfAlive();

  // IMFMediaSource
  STDMETHODIMP GetCharacteristics(DWORD* characteristics) override;
  STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
  STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                     const PROPVARIANT* startPosition) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override { return MF_E_INVALID_STATE_TRANSITION; }
  STDMETHODIMP Shutdown() override;
  // IMFMediaSourceEx
  STDMETHODIMP GetSourceAttributes(IMFAttributes** attributes) override;
  STDMETHODIMP GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) override;
  STDMETHODIMP SetD3DManager(IUnknown*) override { return S_OK; }
  // IMFGetService
  STDMETHODIMP GetService(REFGUID, REFIID, LPVOID*) override { return MF_E_UNSUPPORTED_SERVICE; }
  // IMFSampleAllocatorControl
  STDMETHODIMP SetDefaultAllocator(DWORD outputStreamId, IUnknown* allocator) override;
  STDMETHODIMP GetAllocatorUsage(DWORD outputStreamId, DWORD* inputStreamId,
                                 MFSampleAllocatorUsage* usage) override;

 private:
  ~Fuente();
  std::atomic<ULONG> refs_{1};
  Microsoft::WRL::ComPtr<IMFPresentationDescriptor> descriptor_;
  Flujo* stream_ = nullptr;  // owned reference
};

// The reader's handles on the shared block.
struct ReaderBlock {
  HANDLE mapping = nullptr;
  HANDLE event = nullptr;
  uint8_t* view = nullptr;
  bool local = false;
};
// Creates or opens the block and maps it; false leaves the samples black.
bool EnsureBlock(ReaderBlock* block);
void CloseBlock(ReaderBlock* block);

// Requests waiting for a picture, answered in order: each holds its sample,
// allocated when it was asked for, and the caller's token.
struct PendingSample {
  Microsoft::WRL::ComPtr<IMFSample> sample;
  Microsoft::WRL::ComPtr<IUnknown> token;
};
class PendingSamples {
 public:
  // More than this many unanswered requests is a caller that does not wait
  // for its samples.
  static constexpr size_t kMax = 16;
  bool Empty() const { return count_ == 0; }
  bool Full() const { return count_ == kMax; }
  void Push(PendingSample request);
  PendingSample Pop();

 private:
  PendingSample items_[kMax];
  size_t first_ = 0, count_ = 0;
};

class Flujo final : private ModuleObject,
                    public QueueEvents<IMFMediaStream2>,
                    public ForwardAttributes<IMFAttributes>,
                    public NoKsControl {
 public:
  explicit Flujo(Fuente* source) : source_(source) {}
  HRESULT Initialize();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override;

  // IMFMediaStream
  STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
  STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
  STDMETHODIMP RequestSample(IUnknown* token) override;
  // IMFMediaStream2
  STDMETHODIMP SetStreamState(MF_STREAM_STATE state) override;
  STDMETHODIMP GetStreamState(MF_STREAM_STATE* state) override;

  // For the source, which holds its own lock and then takes this one.
  MF_STREAM_STATE State();
  HRESULT StartStream(IMFMediaType* type);
  HRESULT StopStream();
  void ShutdownStream();
  HRESULT SetAllocator(IUnknown* allocator);
  IMFStreamDescriptor* Descriptor() const { return descriptor_.Get(); }

 private:
  ~Flujo();
  // Both hand what was pending to `dropped`, to be let go after the lock:
  // releasing a sample or a token may call the client back.
  HRESULT StartLocked(IMFMediaType* type, PendingSamples* dropped);
  HRESULT StopLocked(PendingSamples* dropped);
  void FillFrame(uint8_t* data, uint32_t pitch);
  HRESULT WritePicture(IMFMediaBuffer* buffer, bool fill);
  HRESULT NewSample(Microsoft::WRL::ComPtr<IMFSample>* sample);
  HRESULT Deliver(const PendingSample& request);
  bool NewPicture();
  int64_t DueUs() { return pacer_.DueUs(NewPicture(), reader_.hasFrame); }
  // Waits for the next published picture or the next due moment, whichever
  // comes first, while requests are pending; else waits for nothing.
  void ArmWait();
  void AnswerDue();
  static void CALLBACK OnWake(PTP_CALLBACK_INSTANCE, void* self, PTP_WAIT, TP_WAIT_RESULT);
  // Closes the wait once no callback of it runs any more; never under lock_.
  void EndWaits();
  std::atomic<ULONG> refs_{1};
  Microsoft::WRL::ComPtr<IMFStreamDescriptor> descriptor_;
  Fuente* source_;  // not counted; cleared at shutdown and when the source is destroyed
  Microsoft::WRL::ComPtr<IMFVideoSampleAllocatorEx> allocator_;
  Microsoft::WRL::ComPtr<IMFMediaType> mediaType_;
  MF_STREAM_STATE state_ = MF_STREAM_STATE_STOPPED;
  ReaderBlock block_;
  ReaderState reader_;
  uint32_t width_ = 1920, height_ = 1080;
  uint32_t fpsNumerator_ = 30, fpsDenominator_ = 1;
  SamplePacer pacer_;
  PendingSamples pending_;
  PTP_WAIT wait_ = nullptr;     // null once the stream is shut down
  HANDLE neverSet_ = nullptr;   // waited on while there is no block event
};
