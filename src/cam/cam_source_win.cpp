// The media source: one live video stream, started and stopped by the
// Frame Server, with the sensor profiles a virtual camera offers.
#include <new>

#include "cam_objects_win.h"

using Microsoft::WRL::ComPtr;

namespace {

// A legacy profile up to 30 fps and a high-frame-rate one from 60 fps. The
// functions live in mfsensorgroup.dll; without them the source has no
// profiles, which cameras before Windows 11 never had anyway.
void SetSensorProfiles(IMFAttributes* attributes) {
  HMODULE library = LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) return;
  auto createProfile = LookUpFunction<MFCreateSensorProfileFn>(library, "MFCreateSensorProfile");
  auto createCollection =
      LookUpFunction<MFCreateSensorProfileCollectionFn>(library, "MFCreateSensorProfileCollection");
  ComPtr<IMFSensorProfileCollection> collection;
  if (createProfile && createCollection && SUCCEEDED(createCollection(&collection))) {
    const struct {
      const GUID* type;
      const wchar_t* filter;
    } profiles[] = {{&kKsCameraProfileLegacy, L"((RES==;FRT<=30,1;SUT==))"},
                    {&kKsCameraProfileHighFrameRate, L"((RES==;FRT>=60,1;SUT==))"}};
    for (const auto& p : profiles) {
      ComPtr<IMFSensorProfile> profile;
      if (SUCCEEDED(createProfile(*p.type, 0, nullptr, &profile)) &&
          SUCCEEDED(profile->AddProfileFilter(0, p.filter))) {
        collection->AddProfile(profile.Get());
      }
    }
    attributes->SetUnknown(kMfDeviceMftSensorProfileCollection, collection.Get());
  }
  // The collection's code lives in the library, and the collection lives in
  // the source's attributes, where the Frame Server may still hold it after
  // the source is gone: the library stays loaded for the life of the
  // process. Where it cannot be pinned, this load's reference is kept.
  HMODULE pinned = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(library), &pinned)) {
    FreeLibrary(library);
  }
}

// The moment a start or stop takes effect, as its event carries it.
PROPVARIANT SystemTimeNow() {
  PROPVARIANT time;
  PropVariantInit(&time);
  time.vt = VT_I8;
  time.hVal.QuadPart = MFGetSystemTime();
  return time;
}

}  // namespace

HRESULT Fuente::Initialize(IMFAttributes* activation) {
  HRESULT hr = MFCreateAttributes(&attributes_, 8);
  if (SUCCEEDED(hr) && activation) hr = activation->CopyAllItems(attributes_.Get());
  if (FAILED(hr)) return hr;
  SetSensorProfiles(attributes_.Get());

  stream_ = new (std::nothrow) Flujo(this);
  if (!stream_) return E_OUTOFMEMORY;
  hr = stream_->Initialize();
  if (FAILED(hr)) return hr;
  IMFStreamDescriptor* streams[] = {stream_->Descriptor()};
  hr = MFCreatePresentationDescriptor(1, streams, &descriptor_);
  if (SUCCEEDED(hr)) hr = descriptor_->SelectStream(0);
  if (SUCCEEDED(hr)) hr = MFCreateEventQueue(&queue_);
  return hr;
}

Fuente::~Fuente() {
  if (stream_) {
    stream_->ShutdownStream();
    stream_->Release();
  }
}

STDMETHODIMP Fuente::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IMFMediaEventGenerator || iid == IID_IMFMediaSource ||
      iid == IID_IMFMediaSourceEx) {
    return Answer(static_cast<IMFMediaSourceEx*>(this), out);
  }
  if (iid == IID_IMFAttributes) return Answer(static_cast<IMFAttributes*>(this), out);
  if (iid == IID_IMFGetService) return Answer(static_cast<IMFGetService*>(this), out);
  if (iid == kIidIKsControl) return Answer(static_cast<IKsControl*>(this), out);
  if (iid == __uuidof(IMFSampleAllocatorControl)) return Answer(static_cast<IMFSampleAllocatorControl*>(this), out);
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) Fuente::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

bool Fuente::AddRefIfAlive() {
  ULONG refs = refs_.load();
  while (refs != 0) {
    if (refs_.compare_exchange_weak(refs, refs + 1)) return true;
  }
  return false;
}

STDMETHODIMP Fuente::GetCharacteristics(DWORD* characteristics) {
  if (!characteristics) return E_POINTER;
  *characteristics = MFMEDIASOURCE_IS_LIVE;
  return S_OK;
}

STDMETHODIMP Fuente::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) {
  if (!descriptor) return E_POINTER;
  *descriptor = nullptr;
  Locked lock(lock_);
  return descriptor_ ? descriptor_->Clone(descriptor) : MF_E_SHUTDOWN;
}

STDMETHODIMP Fuente::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                           const PROPVARIANT* startPosition) {
  if (!descriptor || !startPosition) return E_POINTER;
  if (timeFormat && *timeFormat != GUID_NULL) return MF_E_UNSUPPORTED_TIME_FORMAT;
  Locked lock(lock_);
  if (!queue_ || !descriptor_ || !stream_) return MF_E_SHUTDOWN;
  PROPVARIANT time = SystemTimeNow();

  DWORD count = 0;
  HRESULT hr = descriptor->GetStreamDescriptorCount(&count);
  if (FAILED(hr)) return hr;
  if (count != 1) return E_INVALIDARG;
  BOOL selected = FALSE;
  ComPtr<IMFStreamDescriptor> given;
  hr = descriptor->GetStreamDescriptorByIndex(0, &selected, &given);
  if (FAILED(hr)) return hr;
  MF_STREAM_STATE was = stream_->State();
  if (!selected) {
    if (was != MF_STREAM_STATE_STOPPED) {
      descriptor_->DeselectStream(0);
      hr = stream_->StopStream();
    }
  } else {
    ComPtr<IMFMediaTypeHandler> handler;
    ComPtr<IMFMediaType> type;
    hr = given->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->GetCurrentMediaType(&type);
    // The stream starts first: a type it refuses leaves the source as it
    // was. Its MEStreamStarted waits on its own queue, which the client
    // reads only once MENewStream has handed it the stream.
    if (SUCCEEDED(hr)) hr = stream_->StartStream(type.Get());
    if (SUCCEEDED(hr)) {
      descriptor_->SelectStream(0);
      hr = queue_->QueueEventParamUnk(was == MF_STREAM_STATE_STOPPED ? MENewStream : MEUpdatedStream, GUID_NULL,
                                      S_OK, static_cast<IMFMediaStream*>(stream_));
    }
  }
  if (SUCCEEDED(hr)) hr = queue_->QueueEventParamVar(MESourceStarted, GUID_NULL, S_OK, &time);
  return hr;
}

STDMETHODIMP Fuente::Stop() {
  Locked lock(lock_);
  if (!queue_ || !descriptor_ || !stream_) return MF_E_SHUTDOWN;
  PROPVARIANT time = SystemTimeNow();
  HRESULT hr = stream_->StopStream();
  descriptor_->DeselectStream(0);
  HRESULT queued = queue_->QueueEventParamVar(MESourceStopped, GUID_NULL, S_OK, &time);
  return FAILED(hr) ? hr : queued;
}

STDMETHODIMP Fuente::Shutdown() {
  Locked lock(lock_);
  HRESULT hr = queue_ ? queue_->Shutdown() : MF_E_SHUTDOWN;
  queue_.Reset();
  if (stream_) stream_->ShutdownStream();
  descriptor_.Reset();
  return hr;
}

STDMETHODIMP Fuente::GetSourceAttributes(IMFAttributes** attributes) {
  if (!attributes) return E_POINTER;
  return Answer(static_cast<IMFAttributes*>(this), reinterpret_cast<void**>(attributes));
}

STDMETHODIMP Fuente::GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) {
  if (!attributes) return E_POINTER;
  *attributes = nullptr;
  Locked lock(lock_);
  if (streamId != 0 || !stream_) return E_INVALIDARG;
  return stream_->QueryInterface(IID_IMFAttributes, reinterpret_cast<void**>(attributes));
}

STDMETHODIMP Fuente::SetDefaultAllocator(DWORD outputStreamId, IUnknown* allocator) {
  if (!allocator) return E_POINTER;
  Flujo* stream = nullptr;
  {
    Locked lock(lock_);
    if (outputStreamId != 0 || !stream_) return E_INVALIDARG;
    stream = stream_;
    stream->AddRef();
  }
  HRESULT hr = stream->SetAllocator(allocator);
  stream->Release();
  return hr;
}

STDMETHODIMP Fuente::GetAllocatorUsage(DWORD outputStreamId, DWORD* inputStreamId, MFSampleAllocatorUsage* usage) {
  if (!inputStreamId || !usage) return E_POINTER;
  if (outputStreamId != 0) return E_INVALIDARG;
  *inputStreamId = 0;
  *usage = MFSampleAllocatorUsage_UsesProvidedAllocator;
  return S_OK;
}
