// The camera DLL where the Frame Server would meet its faults: when the
// module may be unloaded, the buffers of a foreign allocator, a start with a
// type the stream does not offer, a section that is not a whole block, and
// the sensor profiles made by another library.
#include <tuple>

#include "app/video/camera_feed.h"
#include "camera_dll.h"
#include "common/camera_block_win.h"

// The stand-ins below are COM objects, only ever destroyed by their own Release.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

// When released for the last time, asks the DLL whether it may be
// unloaded: put into an object's attribute store, it tells whether the
// object still counted while its members were being let go.
class UnloadProbe final : public IUnknown {
 public:
  UnloadProbe(Dll& dll, HRESULT* seen) : dll_(dll), seen_(seen) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    AddRef();
    *out = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      *seen_ = dll_.canUnloadNow();
      delete this;
    }
    return left;
  }

 private:
  virtual ~UnloadProbe() = default;
  Dll& dll_;
  HRESULT* seen_;
  ULONG refs_ = 1;
};

constexpr GUID kProbeKey = {0x5e1f0a21, 0x7d1c, 0x4c55, {0x9b, 0x0e, 0x31, 0x72, 0x44, 0x10, 0xa5, 0x6e}};

void PutProbe(IMFAttributes* attributes, Dll& dll, HRESULT* seen) {
  auto* probe = new UnloadProbe(dll, seen);
  EXPECT_EQ(attributes->SetUnknown(kProbeKey, probe), S_OK);
  probe->Release();
}

// Each object, the last of the DLL's alive, is asked while its attribute
// store goes: the DLL must still count it then.
TEST(CameraDllUnload, EachObjectCountsUntilItsMembersAreReleased) {
  Dll dll;
  HRESULT activationSaw = E_FAIL, sourceSaw = E_FAIL, streamSaw = E_FAIL;
  {
    ComPtr<IClassFactory> factory;
    ComPtr<IMFActivate> activation;
    ASSERT_EQ(dll.getClassObject(kCamera, IID_PPV_ARGS(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&activation)), S_OK);
    factory.Reset();
    activation->DetachObject();  // the source it made goes
    PutProbe(activation.Get(), dll, &activationSaw);
  }
  EXPECT_EQ(activationSaw, S_FALSE) << "the activation object";
  {
    ComPtr<IMFMediaSource> source = NewSource(dll);
    ASSERT_TRUE(source);
    ComPtr<IMFAttributes> attributes;
    ASSERT_EQ(source.As(&attributes), S_OK);
    PutProbe(attributes.Get(), dll, &sourceSaw);
  }
  EXPECT_EQ(sourceSaw, S_FALSE) << "the source";
  ComPtr<IMFMediaStream> stream;
  {
    ComPtr<IMFMediaSource> source = NewSource(dll);
    ASSERT_TRUE(source);
    stream = StartAt(source.Get(), 640, 360);
    ASSERT_TRUE(stream);
    source->Shutdown();
  }
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE) << "only the stream is left, and it is in use";
  ComPtr<IMFAttributes> attributes;
  ASSERT_EQ(stream.As(&attributes), S_OK);
  PutProbe(attributes.Get(), dll, &streamSaw);
  attributes.Reset();
  stream.Reset();
  EXPECT_EQ(streamSaw, S_FALSE) << "the stream";
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

// ---- Samples from a foreign allocator ----

// A buffer of a given pitch and length, with a guard band behind it that
// must never be written; its length starts as a value nobody sets.
class FakeBuffer final : public IMFMediaBuffer, public IMF2DBuffer2 {
 public:
  static constexpr DWORD kUnset = 12345;
  static constexpr uint8_t kUntouched = 0xEE;
  static constexpr size_t kGuard = 4096;

  FakeBuffer(bool twoD, LONG pitch, DWORD length, UINT32 rows)
      : twoD_(twoD), pitch_(pitch), length_(length), memory_(length + kGuard, kUntouched) {
    // A bottom-up buffer's first scan line is its last row in memory.
    scan0_ = memory_.data() + (pitch < 0 ? static_cast<size_t>(-pitch) * (rows - 1) : 0);
  }
  bool Untouched(size_t from, size_t to) const {
    for (size_t i = from; i < to; ++i)
      if (memory_[i] != kUntouched) return false;
    return true;
  }
  bool GuardUntouched() const { return Untouched(length_, memory_.size()); }
  const std::vector<uint8_t>& Memory() const { return memory_; }
  DWORD CurrentLength() const { return current_; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IMFMediaBuffer) *out = static_cast<IMFMediaBuffer*>(this);
    else if (twoD_ && iid == IID_IMF2DBuffer) *out = static_cast<IMF2DBuffer*>(this);
    else if (twoD_ && iid == IID_IMF2DBuffer2) *out = static_cast<IMF2DBuffer2*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  // IMFMediaBuffer
  STDMETHODIMP Lock(BYTE** data, DWORD* max, DWORD* current) override {
    *data = memory_.data();
    if (max) *max = length_;
    if (current) *current = current_;
    return S_OK;
  }
  STDMETHODIMP Unlock() override { return S_OK; }
  STDMETHODIMP GetCurrentLength(DWORD* length) override {
    *length = current_;
    return S_OK;
  }
  STDMETHODIMP SetCurrentLength(DWORD length) override {
    if (length > length_) return E_INVALIDARG;
    current_ = length;
    return S_OK;
  }
  STDMETHODIMP GetMaxLength(DWORD* length) override {
    *length = length_;
    return S_OK;
  }
  // IMF2DBuffer
  STDMETHODIMP Lock2D(BYTE** scan0, LONG* pitch) override {
    *scan0 = scan0_;
    *pitch = pitch_;
    return S_OK;
  }
  STDMETHODIMP Unlock2D() override { return S_OK; }
  STDMETHODIMP GetScanline0AndPitch(BYTE** scan0, LONG* pitch) override { return Lock2D(scan0, pitch); }
  STDMETHODIMP IsContiguousFormat(BOOL* contiguous) override {
    *contiguous = FALSE;
    return S_OK;
  }
  STDMETHODIMP GetContiguousLength(DWORD* length) override {
    *length = length_;
    return S_OK;
  }
  STDMETHODIMP ContiguousCopyTo(BYTE*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP ContiguousCopyFrom(const BYTE*, DWORD) override { return E_NOTIMPL; }
  // IMF2DBuffer2
  STDMETHODIMP Lock2DSize(MF2DBuffer_LockFlags, BYTE** scan0, LONG* pitch, BYTE** start, DWORD* length) override {
    *scan0 = scan0_;
    *pitch = pitch_;
    *start = memory_.data();
    *length = length_;
    return S_OK;
  }
  STDMETHODIMP Copy2DTo(IMF2DBuffer2*) override { return E_NOTIMPL; }

 private:
  virtual ~FakeBuffer() = default;
  ULONG refs_ = 1;
  bool twoD_;
  LONG pitch_;
  DWORD length_;
  DWORD current_ = kUnset;
  std::vector<uint8_t> memory_;
  BYTE* scan0_;
};

// Hands out samples that hold the one buffer it was given.
class FakeAllocator final : public IMFVideoSampleAllocatorEx {
 public:
  explicit FakeAllocator(FakeBuffer* buffer) : buffer_(buffer) {}
  HRESULT failInitialize = S_OK;
  int initialized = 0;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IMFVideoSampleAllocator && iid != IID_IMFVideoSampleAllocatorEx) {
      return E_NOINTERFACE;
    }
    *out = static_cast<IMFVideoSampleAllocatorEx*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP SetDirectXManager(IUnknown*) override { return S_OK; }
  STDMETHODIMP UninitializeSampleAllocator() override {
    ready_ = false;
    return S_OK;
  }
  STDMETHODIMP InitializeSampleAllocator(DWORD, IMFMediaType*) override {
    if (SUCCEEDED(failInitialize)) ++initialized, ready_ = true;
    return failInitialize;
  }
  // As the system's allocator: no samples before it is set up.
  STDMETHODIMP AllocateSample(IMFSample** sample) override {
    if (!ready_) return MF_E_NOT_INITIALIZED;
    HRESULT hr = MFCreateSample(sample);
    if (SUCCEEDED(hr)) hr = (*sample)->AddBuffer(buffer_.Get());
    return hr;
  }
  STDMETHODIMP InitializeSampleAllocatorEx(DWORD, DWORD, IMFAttributes*, IMFMediaType* type) override {
    return InitializeSampleAllocator(10, type);
  }

 private:
  virtual ~FakeAllocator() = default;
  ULONG refs_ = 1;
  bool ready_ = false;
  ComPtr<FakeBuffer> buffer_;
};

void Drain(IMFMediaEventGenerator* events) {
  ComPtr<IMFMediaEvent> event;
  while (SUCCEEDED(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) event.Reset();
}

bool SampleQueued(IMFMediaEventGenerator* events) {
  ComPtr<IMFMediaEvent> event;
  return SUCCEEDED(events->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event)) && TypeOf(event.Get()) == MEMediaSample;
}

TEST(CameraDllSamples, OnlyABufferThatHoldsThePictureAtItsPitchIsWrittenAndHandedOut) {
  constexpr UINT32 w = 640, h = 360;
  constexpr DWORD picture = w * h * 3 / 2;
  struct Case {
    const char* name;
    bool twoD;
    LONG pitch;
    DWORD length;
    HRESULT expected;
  } cases[] = {
      {"plain, exact", false, 0, picture, S_OK},
      {"plain, one byte short", false, 0, picture - 1, MF_E_BUFFERTOOSMALL},
      {"2-D, padded rows", true, 704, 704 * h * 3 / 2, S_OK},
      {"2-D, rows narrower than the picture", true, 600, 600 * h * 3 / 2, MF_E_BUFFERTOOSMALL},
      {"2-D, short", true, 640, picture - 640, MF_E_BUFFERTOOSMALL},
      {"2-D, bottom-up", true, -640, picture, MF_E_UNSUPPORTED_FORMAT},
  };
  Dll dll;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* buffer = new FakeBuffer(c.twoD, c.pitch, c.length, h * 3 / 2);
    auto* allocator = new FakeAllocator(buffer);
    ComPtr<IMFMediaSource> source = NewSource(dll);
    ASSERT_TRUE(source);
    ComPtr<IMFSampleAllocatorControl> control;
    ASSERT_EQ(source.As(&control), S_OK);
    ASSERT_EQ(control->SetDefaultAllocator(0, static_cast<IMFVideoSampleAllocatorEx*>(allocator)), S_OK);
    ComPtr<IMFMediaStream> stream = StartAt(source.Get(), w, h);
    ASSERT_TRUE(stream);
    Drain(stream.Get());
    EXPECT_EQ(stream->RequestSample(nullptr), c.expected);
    EXPECT_EQ(SampleQueued(stream.Get()), SUCCEEDED(c.expected));
    EXPECT_TRUE(buffer->GuardUntouched()) << "nothing is written past the buffer's end";
    if (SUCCEEDED(c.expected)) {
      const size_t pitch = c.twoD ? static_cast<size_t>(c.pitch) : w;
      EXPECT_EQ(buffer->CurrentLength(), picture);
      EXPECT_EQ(buffer->Memory()[0], 16) << "black luma";
      EXPECT_EQ(buffer->Memory()[pitch * (h - 1) + w - 1], 16);
      EXPECT_EQ(buffer->Memory()[pitch * h], 128) << "chroma behind the luma rows";
      if (pitch > w) {
        EXPECT_TRUE(buffer->Untouched(w, pitch)) << "the padding stays as it was";
      }
    } else {
      EXPECT_EQ(buffer->CurrentLength(), FakeBuffer::kUnset) << "no length for a picture not written";
      EXPECT_TRUE(buffer->Untouched(0, c.length));
    }
    source->Shutdown();
    allocator->Release();
    buffer->Release();
  }
}

TEST(CameraDllSamples, EachSampleCarriesItsTimeTheTypesDurationAndTheToken) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 1280, 720);  // the first of that size: 30 fps
  ASSERT_TRUE(stream);
  Drain(stream.Get());
  HRESULT tokenSaw = E_FAIL;
  auto* token = new UnloadProbe(dll, &tokenSaw);
  LONGLONG before = MFGetSystemTime();
  ASSERT_EQ(stream->RequestSample(token), S_OK);
  LONGLONG after = MFGetSystemTime();
  ComPtr<IMFMediaEvent> event = NextEvent(stream.Get());
  ASSERT_EQ(TypeOf(event.Get()), MEMediaSample);
  PROPVARIANT value;
  PropVariantInit(&value);
  event->GetValue(&value);
  ComPtr<IMFSample> sample;
  ASSERT_EQ(value.punkVal->QueryInterface(IID_PPV_ARGS(&sample)), S_OK);
  PropVariantClear(&value);
  LONGLONG time = 0, duration = 0;
  EXPECT_EQ(sample->GetSampleTime(&time), S_OK);
  EXPECT_EQ(sample->GetSampleDuration(&duration), S_OK);
  EXPECT_GE(time, before);
  EXPECT_LE(time, after);
  EXPECT_EQ(duration, 333333);
  ComPtr<IUnknown> carried;
  EXPECT_EQ(sample->GetUnknown(kMfSampleExtensionToken, IID_PPV_ARGS(&carried)), S_OK);
  EXPECT_EQ(carried.Get(), static_cast<IUnknown*>(token));
  carried.Reset();
  sample.Reset();
  event.Reset();
  token->Release();
  source->Shutdown();
}

// ---- A start that fails changes nothing ----

ComPtr<IMFPresentationDescriptor> DescriptorWith(UINT32 width, UINT32 height, UINT32 fps) {
  ComPtr<IMFMediaType> type;
  MFCreateMediaType(&type);
  type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
  type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
  MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, fps, 1);
  IMFMediaType* types[] = {type.Get()};
  ComPtr<IMFStreamDescriptor> sd;
  ComPtr<IMFMediaTypeHandler> handler;
  ComPtr<IMFPresentationDescriptor> pd;
  if (FAILED(MFCreateStreamDescriptor(0, 1, types, &sd)) || FAILED(sd->GetMediaTypeHandler(&handler)) ||
      FAILED(handler->SetCurrentMediaType(type.Get()))) {
    return nullptr;
  }
  IMFStreamDescriptor* streams[] = {sd.Get()};
  if (FAILED(MFCreatePresentationDescriptor(1, streams, &pd)) || FAILED(pd->SelectStream(0))) return nullptr;
  return pd;
}

TEST(CameraDllStart, ATypeOutsideTheSixIsRefusedAndLeavesTheStreamAsItWas) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  PROPVARIANT start;
  PropVariantInit(&start);
  for (auto [w, h, fps] : {std::tuple{800u, 600u, 30u}, {1280u, 720u, 25u}, {1282u, 720u, 30u}}) {
    ComPtr<IMFPresentationDescriptor> odd = DescriptorWith(w, h, fps);
    ASSERT_TRUE(odd);
    EXPECT_EQ(source->Start(odd.Get(), &GUID_NULL, &start), MF_E_INVALIDMEDIATYPE) << w << "x" << h << "@" << fps;
  }
  ComPtr<IMFMediaEvent> event;
  EXPECT_EQ(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE) << "no MENewStream";

  ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 640, 360);
  ASSERT_TRUE(stream);
  Drain(source.Get());
  Drain(stream.Get());
  Writer writer;
  ASSERT_NE(writer.view, nullptr);
  ComPtr<IMFPresentationDescriptor> odd = DescriptorWith(800, 600, 30);
  EXPECT_EQ(source->Start(odd.Get(), &GUID_NULL, &start), MF_E_INVALIDMEDIATYPE);
  EXPECT_EQ(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_NO_EVENTS_AVAILABLE) << "no MEUpdatedStream";
  EXPECT_EQ(HeaderOf(writer.view)->requestedWidth, 640u);
  ComPtr<IMFMediaStream2> stream2;
  ASSERT_EQ(stream.As(&stream2), S_OK);
  MF_STREAM_STATE state = MF_STREAM_STATE_STOPPED;
  stream2->GetStreamState(&state);
  EXPECT_EQ(state, MF_STREAM_STATE_RUNNING);
  Sample sample;
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  EXPECT_TRUE(IsBlack(sample)) << "still 640x360";

  // The same after a stop, through the stream's own state.
  ASSERT_EQ(source->Stop(), S_OK);
  ASSERT_EQ(stream2->SetStreamState(MF_STREAM_STATE_RUNNING), S_OK) << "again with the last good type";
  EXPECT_EQ(HeaderOf(writer.view)->requestedWidth, 640u);
  source->Shutdown();
  EXPECT_EQ(HeaderOf(writer.view)->readerHeartbeat, 0u) << "nobody watches once the source is shut down";
}

TEST(CameraDllStart, AnAllocatorThatCannotBeSetUpLeavesTheSizeAsItWas) {
  Dll dll;
  auto* buffer = new FakeBuffer(true, 640, 640 * 540, 540);
  auto* allocator = new FakeAllocator(buffer);
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  ComPtr<IMFSampleAllocatorControl> control;
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetDefaultAllocator(0, static_cast<IMFVideoSampleAllocatorEx*>(allocator)), S_OK);
  ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 640, 360);
  ASSERT_TRUE(stream);
  Writer writer;
  ASSERT_NE(writer.view, nullptr);
  allocator->failInitialize = E_OUTOFMEMORY;
  ComPtr<IMFPresentationDescriptor> big = DescriptorWith(1920, 1080, 30);
  PROPVARIANT start;
  PropVariantInit(&start);
  EXPECT_EQ(source->Start(big.Get(), &GUID_NULL, &start), E_OUTOFMEMORY);
  EXPECT_EQ(HeaderOf(writer.view)->requestedWidth, 640u);
  allocator->failInitialize = S_OK;
  Drain(stream.Get());
  EXPECT_EQ(stream->RequestSample(nullptr), S_OK);
  EXPECT_EQ(buffer->CurrentLength(), 640u * 360 * 3 / 2) << "still written at 640x360";
  source->Shutdown();
  allocator->Release();
  buffer->Release();
}

// ---- A section under the block's name whose pages are only reserved ----

// Windows faults at the first write into such pages; Wine lets it through,
// so what is checked here is that nothing was written.
TEST(CameraBlockSection, NeitherSideWritesIntoPagesThatAreOnlyReserved) {
  HANDLE reserved = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0,
                                       static_cast<DWORD>(kBlockSize), kBlockNameGlobal);
  ASSERT_NE(reserved, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a block left by another test";
  auto* view = static_cast<uint8_t*>(MapViewOfFile(reserved, FILE_MAP_READ, 0, 0, kBlockSize));
  ASSERT_NE(view, nullptr);
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_EQ(VirtualQuery(view, &info, sizeof info), sizeof info);
  ASSERT_EQ(info.State, static_cast<DWORD>(MEM_RESERVE)) << "the pages are only reserved";
  EXPECT_FALSE(WholeBlockUsable(view));
  ExpectABlackSampleFromANewSource();
  {
    CameraFeed feed;
    EXPECT_FALSE(feed.OpenBlock());
    feed.SetLinkState(true, false);
  }
  const CameraBlockHeader* header = HeaderOf(view);
  EXPECT_EQ(header->magic, 0u) << "the camera did not claim it";
  EXPECT_EQ(header->requestedWidth, 0u);
  EXPECT_EQ(header->readerHeartbeat, 0u);
  EXPECT_EQ(header->lastWriteTick, 0u) << "the program did not write into it";
  UnmapViewOfFile(view);
  CloseHandle(reserved);
}

// ---- At exit ----

TEST(CameraFeedWriter, AfterTheStopNothingIsPublishedAndTheCameraIsBlack) {
  HANDLE whole = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(kBlockSize),
                                    kBlockNameGlobal);
  ASSERT_NE(whole, nullptr);
  CameraFeed feed;
  ASSERT_TRUE(feed.OpenBlock());
  CameraBlockHeader* header = HeaderOf(feed.Block());
  feed.Publish(FreeSlot(*header), 640, 360);
  ASSERT_NE(header->lastWriteTick, 0u);
  uint32_t published = header->frameCounter;
  feed.StopWriting();
  EXPECT_EQ(header->lastWriteTick, 0u);
  // A session thread still busy at exit, and the window's last tick.
  feed.Publish(FreeSlot(*header), 640, 360);
  feed.SetLinkState(true, false);
  EXPECT_EQ(header->lastWriteTick, 0u);
  EXPECT_EQ(header->frameCounter, published);
  feed.Close();
  CloseHandle(whole);
}

// ---- Sensor profiles, made by another library ----

std::wstring StandinPath() {
  std::wstring dll = DllPath();
  std::wstring bin = dll.substr(0, dll.rfind(L'\\'));
  return bin.substr(0, bin.rfind(L'\\') + 1) + L"standin\\mfsensorgroup.dll";
}

bool Supports(IMFSensorProfile* profile, UINT32 fps) {
  ComPtr<IMFMediaType> type;
  MFCreateMediaType(&type);
  MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, fps, 1);
  BOOL supported = FALSE;
  return SUCCEEDED(profile->IsMediaTypeSupported(0, type.Get(), &supported)) && supported;
}

// The collection lives in the source's attributes and its code in the
// library that made it: that library must stay loaded while it may live,
// even once nobody else in the process holds the library.
TEST(CameraDllProfiles, TheLibraryThatMadeTheProfilesStaysLoadedWhileTheyLive) {
  HMODULE standin = LoadLibraryW(StandinPath().c_str());
  ASSERT_NE(standin, nullptr) << "the system library's stand-in is built beside the tests";
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  FreeLibrary(standin);  // ours; what is left is the source's
  ASSERT_NE(GetModuleHandleW(L"mfsensorgroup.dll"), nullptr) << "the profiles' library was unloaded under them";

  ComPtr<IMFAttributes> attributes;
  ASSERT_EQ(source.As(&attributes), S_OK);
  ComPtr<IMFSensorProfileCollection> collection;
  ASSERT_EQ(attributes->GetUnknown(kMfDeviceMftSensorProfileCollection, IID_PPV_ARGS(&collection)), S_OK);
  ASSERT_EQ(collection->GetProfileCount(), 2u);
  ComPtr<IMFSensorProfile> legacy, fast;
  ASSERT_EQ(collection->GetProfile(0, &legacy), S_OK);
  ASSERT_EQ(collection->GetProfile(1, &fast), S_OK);
  SENSORPROFILEID id{};
  legacy->GetProfileId(&id);
  EXPECT_EQ(id.Type, kKsCameraProfileLegacy);
  EXPECT_EQ(id.Index, 0u);
  fast->GetProfileId(&id);
  EXPECT_EQ(id.Type, kKsCameraProfileHighFrameRate);
  EXPECT_TRUE(Supports(legacy.Get(), 30));
  EXPECT_FALSE(Supports(legacy.Get(), 60));
  EXPECT_TRUE(Supports(fast.Get(), 60));
  EXPECT_FALSE(Supports(fast.Get(), 30));
  legacy.Reset();
  fast.Reset();
  collection.Reset();
  attributes.Reset();
  source->Shutdown();
  source.Reset();  // releases the collection: code of the library runs again
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

}  // namespace
