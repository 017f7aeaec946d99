// The camera DLL as the Frame Server meets it: loaded from its file, its
// class object, the activation object, the source, its stream and samples.
#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "common/camera_block.h"
#include "common/win_missing.h"
#include "app/video/camera_feed.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr GUID kCamera = {0x7c1e5a2b, 0x4d3f, 0x4b8e, {0x9a, 0x61, 0x2f, 0x0c, 0x8d, 0x4e, 0x5b, 0x17}};
const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}\\InprocServer32";

std::wstring DllPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p = path;
  return p.substr(0, p.rfind(L'\\') + 1) + L"OrvaneCam.dll";
}

struct Dll {
  HMODULE module = LoadLibraryW(DllPath().c_str());
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  using NoArgsFn = HRESULT(WINAPI*)();
  GetClassObjectFn getClassObject = LookUpFunction<GetClassObjectFn>(module, "DllGetClassObject");
  NoArgsFn canUnloadNow = LookUpFunction<NoArgsFn>(module, "DllCanUnloadNow");
  NoArgsFn registerServer = LookUpFunction<NoArgsFn>(module, "DllRegisterServer");
  NoArgsFn unregisterServer = LookUpFunction<NoArgsFn>(module, "DllUnregisterServer");
  ~Dll() {
    if (module) FreeLibrary(module);
  }
};

ComPtr<IMFMediaSource> NewSource(Dll& dll, ComPtr<IMFActivate>* activate = nullptr) {
  ComPtr<IClassFactory> factory;
  ComPtr<IMFActivate> activation;
  ComPtr<IMFMediaSource> source;
  if (FAILED(dll.getClassObject(kCamera, IID_PPV_ARGS(&factory))) ||
      FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&activation))) ||
      FAILED(activation->ActivateObject(IID_PPV_ARGS(&source)))) {
    return nullptr;
  }
  if (activate) *activate = activation;
  return source;
}

// The next event of a queue, waiting at most 2 s.
ComPtr<IMFMediaEvent> NextEvent(IMFMediaEventGenerator* generator) {
  for (int i = 0; i < 200; ++i) {
    ComPtr<IMFMediaEvent> event;
    if (SUCCEEDED(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) return event;
    Sleep(10);
  }
  return nullptr;
}

MediaEventType TypeOf(IMFMediaEvent* event) {
  MediaEventType type = MEUnknown;
  if (event) event->GetType(&type);
  return type;
}

// Starts the source with the type of that size; the stream comes from MENewStream.
ComPtr<IMFMediaStream> StartAt(IMFMediaSource* source, UINT32 width, UINT32 height) {
  ComPtr<IMFPresentationDescriptor> pd;
  ComPtr<IMFStreamDescriptor> sd;
  ComPtr<IMFMediaTypeHandler> handler;
  BOOL selected = FALSE;
  if (FAILED(source->CreatePresentationDescriptor(&pd)) || FAILED(pd->GetStreamDescriptorByIndex(0, &selected, &sd)) ||
      FAILED(sd->GetMediaTypeHandler(&handler))) {
    return nullptr;
  }
  DWORD count = 0;
  handler->GetMediaTypeCount(&count);
  for (DWORD i = 0; i < count; ++i) {
    ComPtr<IMFMediaType> type;
    UINT32 w = 0, h = 0;
    handler->GetMediaTypeByIndex(i, &type);
    MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &w, &h);
    if (w == width && h == height) {
      handler->SetCurrentMediaType(type.Get());
      break;
    }
  }
  PROPVARIANT start;
  PropVariantInit(&start);
  if (FAILED(source->Start(pd.Get(), &GUID_NULL, &start))) return nullptr;
  ComPtr<IMFMediaEvent> event = NextEvent(source);
  if (TypeOf(event.Get()) != MENewStream && TypeOf(event.Get()) != MEUpdatedStream) return nullptr;
  PROPVARIANT value;
  PropVariantInit(&value);
  event->GetValue(&value);
  ComPtr<IMFMediaStream> stream;
  if (value.vt == VT_UNKNOWN && value.punkVal) value.punkVal->QueryInterface(IID_PPV_ARGS(&stream));
  PropVariantClear(&value);
  return stream;
}

struct Sample {
  UINT32 width = 0, height = 0;
  std::vector<uint8_t> nv12;  // packed
};

// One sample: a request, then its MEMediaSample.
bool TakeSample(IMFMediaStream* stream, UINT32 width, UINT32 height, Sample* out) {
  if (FAILED(stream->RequestSample(nullptr))) return false;
  for (int i = 0; i < 5; ++i) {
    ComPtr<IMFMediaEvent> event = NextEvent(stream);
    if (!event) return false;
    if (TypeOf(event.Get()) != MEMediaSample) continue;
    PROPVARIANT value;
    PropVariantInit(&value);
    event->GetValue(&value);
    ComPtr<IMFSample> sample;
    value.punkVal->QueryInterface(IID_PPV_ARGS(&sample));
    PropVariantClear(&value);
    ComPtr<IMFMediaBuffer> buffer;
    ComPtr<IMF2DBuffer> buffer2d;
    sample->GetBufferByIndex(0, &buffer);
    BYTE* data = nullptr;
    LONG pitch = 0;
    if (FAILED(buffer.As(&buffer2d)) || FAILED(buffer2d->Lock2D(&data, &pitch))) return false;
    out->width = width;
    out->height = height;
    out->nv12.resize(static_cast<size_t>(width) * height * 3 / 2);
    for (UINT32 row = 0; row < height * 3 / 2; ++row) memcpy(&out->nv12[row * width], data + row * pitch, width);
    buffer2d->Unlock2D();
    return true;
  }
  return false;
}

bool IsBlack(const Sample& s) {
  size_t luma = static_cast<size_t>(s.width) * s.height;
  for (size_t i = 0; i < s.nv12.size(); ++i) {
    if (s.nv12[i] != (i < luma ? 16 : 128)) return false;
  }
  return !s.nv12.empty();
}

// The program's end of the block, as another process opens it.
struct Writer {
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kBlockNameGlobal);
  uint8_t* view = mapping ? static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kBlockSize)) : nullptr;
  ~Writer() {
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
  }
  void Publish(uint32_t w, uint32_t h, uint8_t lumaBase) {
    uint32_t slot = FreeSlot(*HeaderOf(view));
    uint8_t* p = SlotOf(view, slot);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) p[y * w + x] = static_cast<uint8_t>(lumaBase + (x + y) % 64);
    memset(p + w * h, 90, w * h / 2);
    PublishSlot(HeaderOf(view), slot, w, h, GetTickCount64());
  }
};

TEST(CameraDll, ClassObjectOnlyForTheCameraAndNoAggregation) {
  Dll dll;
  ASSERT_NE(dll.module, nullptr);
  ASSERT_NE(dll.getClassObject, nullptr);
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(dll.getClassObject(IID_IUnknown, IID_PPV_ARGS(&factory)), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(factory, nullptr);
  EXPECT_EQ(dll.getClassObject(kCamera, IID_IClassFactory, nullptr), E_POINTER);
  ASSERT_EQ(dll.getClassObject(kCamera, IID_PPV_ARGS(&factory)), S_OK);
  ComPtr<IUnknown> outer;
  factory.As(&outer);
  ComPtr<IMFActivate> activation;
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_PPV_ARGS(&activation)), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(dll.canUnloadNow(), S_OK);

  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&activation)), S_OK);
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE) << "an activation object (and its source) lives";
  UINT32 associated = 0;
  GUID clsid{};
  EXPECT_EQ(activation->GetUINT32(kMfVirtualCameraProvideAssociatedCameraSources, &associated), S_OK);
  EXPECT_EQ(associated, 1u);
  EXPECT_EQ(activation->GetGUID(kMftTransformClsidAttribute, &clsid), S_OK);
  EXPECT_EQ(clsid, kCamera);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activation->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  ComPtr<IMFMediaSource> again;
  activation->ActivateObject(IID_PPV_ARGS(&again));
  EXPECT_EQ(source.Get(), again.Get()) << "one source per activation object";
  again.Reset();
  activation->DetachObject();
  activation.Reset();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE) << "the source lives on";
  source->Shutdown();
  source.Reset();
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
  factory->LockServer(TRUE);
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

TEST(CameraDll, OneLiveStreamWithSixNv12Types) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  DWORD characteristics = 0;
  source->GetCharacteristics(&characteristics);
  EXPECT_EQ(characteristics, static_cast<DWORD>(MFMEDIASOURCE_IS_LIVE));
  ComPtr<IMFPresentationDescriptor> pd;
  ASSERT_EQ(source->CreatePresentationDescriptor(&pd), S_OK);
  DWORD streams = 0;
  pd->GetStreamDescriptorCount(&streams);
  ASSERT_EQ(streams, 1u);
  ComPtr<IMFStreamDescriptor> sd;
  BOOL selected = FALSE;
  pd->GetStreamDescriptorByIndex(0, &selected, &sd);
  EXPECT_TRUE(selected);
  ComPtr<IMFMediaTypeHandler> handler;
  sd->GetMediaTypeHandler(&handler);
  const UINT32 expected[][3] = {{1920, 1080, 30}, {1920, 1080, 60}, {1280, 720, 30},
                                {1280, 720, 60},  {3840, 2160, 30}, {640, 360, 30}};
  DWORD count = 0;
  handler->GetMediaTypeCount(&count);
  ASSERT_EQ(count, 6u);
  for (DWORD i = 0; i < count; ++i) {
    ComPtr<IMFMediaType> type;
    handler->GetMediaTypeByIndex(i, &type);
    GUID subtype{};
    UINT32 w = 0, h = 0, num = 0, den = 0, stride = 0, size = 0;
    type->GetGUID(MF_MT_SUBTYPE, &subtype);
    MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &w, &h);
    MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &num, &den);
    type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride);
    type->GetUINT32(MF_MT_SAMPLE_SIZE, &size);
    EXPECT_EQ(subtype, MFVideoFormat_NV12);
    EXPECT_EQ(w, expected[i][0]) << i;
    EXPECT_EQ(h, expected[i][1]) << i;
    EXPECT_EQ(num, expected[i][2]) << i;
    EXPECT_EQ(den, 1u);
    EXPECT_EQ(stride, w);
    EXPECT_EQ(size, w * h * 3 / 2);
  }
  ComPtr<IMFMediaType> current;
  handler->GetCurrentMediaType(&current);
  UINT32 w = 0, h = 0;
  MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &w, &h);
  EXPECT_EQ(w, 1920u);

  ComPtr<IMFMediaSourceEx> ex;
  ASSERT_EQ(source.As(&ex), S_OK);
  ComPtr<IMFAttributes> streamAttributes;
  EXPECT_EQ(ex->GetStreamAttributes(1, &streamAttributes), E_INVALIDARG);
  ASSERT_EQ(ex->GetStreamAttributes(0, &streamAttributes), S_OK);
  GUID category{};
  UINT32 shared = 0;
  streamAttributes->GetGUID(kMfDeviceStreamStreamCategory, &category);
  streamAttributes->GetUINT32(kMfDeviceStreamFrameServerShared, &shared);
  EXPECT_EQ(category, kPinNameVideoCapture);
  EXPECT_EQ(shared, 1u);
  ComPtr<IMFSampleAllocatorControl> allocatorControl;
  ASSERT_EQ(source.As(&allocatorControl), S_OK);
  DWORD input = 9;
  MFSampleAllocatorUsage usage = MFSampleAllocatorUsage_DoesNotAllocate;
  EXPECT_EQ(allocatorControl->GetAllocatorUsage(0, &input, &usage), S_OK);
  EXPECT_EQ(usage, MFSampleAllocatorUsage_UsesProvidedAllocator);
  ComPtr<IMFGetService> service;
  EXPECT_EQ(source.As(&service), S_OK);
  source->Shutdown();
}

TEST(CameraDll, StartStopAndTheTransitionsItRefuses) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Pause(), MF_E_INVALID_STATE_TRANSITION);
  ComPtr<IMFPresentationDescriptor> pd;
  source->CreatePresentationDescriptor(&pd);
  PROPVARIANT start;
  PropVariantInit(&start);
  const GUID otherFormat = MFVideoFormat_NV12;
  EXPECT_EQ(source->Start(pd.Get(), &otherFormat, &start), MF_E_UNSUPPORTED_TIME_FORMAT);
  ComPtr<IMFStreamDescriptor> sd;
  BOOL selected = FALSE;
  pd->GetStreamDescriptorByIndex(0, &selected, &sd);
  IMFStreamDescriptor* two[] = {sd.Get(), sd.Get()};
  ComPtr<IMFPresentationDescriptor> twoStreams;
  MFCreatePresentationDescriptor(2, two, &twoStreams);
  EXPECT_EQ(source->Start(twoStreams.Get(), &GUID_NULL, &start), E_INVALIDARG);

  ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 1280, 720);
  ASSERT_TRUE(stream);
  EXPECT_EQ(TypeOf(NextEvent(source.Get()).Get()), MESourceStarted);
  EXPECT_EQ(TypeOf(NextEvent(stream.Get()).Get()), MEStreamStarted);
  ComPtr<IMFMediaStream2> stream2;
  ASSERT_EQ(stream.As(&stream2), S_OK);
  MF_STREAM_STATE state = MF_STREAM_STATE_STOPPED;
  stream2->GetStreamState(&state);
  EXPECT_EQ(state, MF_STREAM_STATE_RUNNING);
  EXPECT_EQ(source->Start(pd.Get(), &GUID_NULL, &start), S_OK);
  EXPECT_EQ(TypeOf(NextEvent(source.Get()).Get()), MEUpdatedStream) << "already running";

  EXPECT_EQ(stream2->SetStreamState(MF_STREAM_STATE_PAUSED), S_OK);
  EXPECT_EQ(source->Stop(), S_OK);
  stream2->GetStreamState(&state);
  EXPECT_EQ(state, MF_STREAM_STATE_STOPPED);
  EXPECT_EQ(stream2->SetStreamState(MF_STREAM_STATE_PAUSED), MF_E_INVALID_STATE_TRANSITION);
  ComPtr<IMFMediaSource> back;
  EXPECT_EQ(stream->GetMediaSource(&back), S_OK);
  EXPECT_EQ(back.Get(), source.Get());
  back.Reset();

  EXPECT_EQ(source->Shutdown(), S_OK);
  ComPtr<IMFMediaEvent> event;
  EXPECT_EQ(source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->RequestSample(nullptr), MF_E_SHUTDOWN);
  EXPECT_EQ(stream->GetMediaSource(&back), MF_E_SHUTDOWN);
}

// Black until the program publishes; then its picture as it is at the
// same size and scaled at another; the heartbeat shows who watches.
TEST(CameraDll, SamplesShowTheBlockAndTheHeartbeatFollowsTheStream) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 640, 360);
  ASSERT_TRUE(stream);
  Writer writer;
  ASSERT_NE(writer.view, nullptr) << "the stream made the block";
  CameraBlockHeader* header = HeaderOf(writer.view);
  EXPECT_EQ(header->magic, kBlockMagic);
  EXPECT_EQ(header->requestedWidth, 640u);
  EXPECT_EQ(header->requestedHeight, 360u);
  EXPECT_EQ(header->requestedFps, 30u);
  EXPECT_TRUE(ReaderAlive(*header, GetTickCount64()));

  Sample sample;
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  EXPECT_TRUE(IsBlack(sample)) << "nothing published yet";

  writer.Publish(640, 360, 40);
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  EXPECT_EQ(sample.nv12[0], 40);
  EXPECT_EQ(sample.nv12[359 * 640 + 639], 40 + (359 + 639) % 64);
  EXPECT_EQ(sample.nv12[640 * 360 + 5], 90);

  writer.Publish(1280, 720, 60);
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  EXPECT_EQ(sample.nv12[10 * 640 + 7], 60 + (20 + 14) % 64) << "every second pixel of every second row";

  header->readerHeartbeat = 1;
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  EXPECT_TRUE(ReaderAlive(*header, GetTickCount64())) << "every sample beats";
  header->lastWriteTick = 0;  // the program says nobody is connected
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  EXPECT_TRUE(IsBlack(sample));

  source->Stop();
  EXPECT_EQ(header->readerHeartbeat, 0u);
  source->Shutdown();
}

TEST(CameraDll, SamplesComeFromTheFrameServersAllocatorWhenItGivesOne) {
  Dll dll;
  ComPtr<IMFMediaSource> source = NewSource(dll);
  ASSERT_TRUE(source);
  ComPtr<IMFVideoSampleAllocatorEx> allocator;
  ASSERT_EQ(MFCreateVideoSampleAllocatorEx(IID_PPV_ARGS(&allocator)), S_OK);
  ComPtr<IMFSampleAllocatorControl> control;
  ASSERT_EQ(source.As(&control), S_OK);
  EXPECT_EQ(control->SetDefaultAllocator(1, allocator.Get()), E_INVALIDARG);
  ASSERT_EQ(control->SetDefaultAllocator(0, allocator.Get()), S_OK);
  ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 1280, 720);
  ASSERT_TRUE(stream);
  Sample sample;
  ASSERT_TRUE(TakeSample(stream.Get(), 1280, 720, &sample));
  EXPECT_TRUE(IsBlack(sample));
  source->Stop();
  source->Shutdown();
}

// Somebody else's mapping under our name, too small for the block: the
// stream must not touch it, only deliver black.
TEST(CameraDll, AShortMappingUnderTheBlocksNameIsLeftAlone) {
  HANDLE small = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kBlockNameGlobal);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a block left by another test";
  {
    Dll dll;
    ComPtr<IMFMediaSource> source = NewSource(dll);
    ASSERT_TRUE(source);
    ComPtr<IMFMediaStream> stream = StartAt(source.Get(), 640, 360);
    ASSERT_TRUE(stream);
    Sample sample;
    ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
    EXPECT_TRUE(IsBlack(sample));
    source->Shutdown();
  }
  CloseHandle(small);
}

TEST(CameraDll, RegistersItsPathAndUnregistersTwiceAlike) {
  Dll dll;
  ASSERT_EQ(dll.registerServer(), S_OK);
  ASSERT_EQ(dll.registerServer(), S_OK) << "twice overwrites";
  wchar_t value[MAX_PATH] = L"";
  DWORD bytes = sizeof value;
  ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kServerKey, nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes), ERROR_SUCCESS);
  wchar_t loaded[MAX_PATH];
  GetModuleFileNameW(dll.module, loaded, MAX_PATH);
  EXPECT_STREQ(value, loaded);
  bytes = sizeof value;
  RegGetValueW(HKEY_LOCAL_MACHINE, kServerKey, L"ThreadingModel", RRF_RT_REG_SZ, nullptr, value, &bytes);
  EXPECT_STREQ(value, L"Both");
  bytes = sizeof value;
  RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\CLSID\\{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}", nullptr,
               RRF_RT_REG_SZ, nullptr, value, &bytes);
  EXPECT_STREQ(value, L"Orvane Cam");
  EXPECT_EQ(dll.unregisterServer(), S_OK);
  EXPECT_EQ(dll.unregisterServer(), S_OK) << "already gone";
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServerKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

}  // namespace

namespace {

// The program's side of the same rule: a short mapping under the block's
// name is no block, and nothing is written into it.
TEST(CameraFeedWriter, OpensOnlyAWholeBlockAndAtMostOnceASecond) {
  HANDLE small = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kBlockNameGlobal);
  ASSERT_NE(small, nullptr);
  {
    CameraFeed feed;
    EXPECT_FALSE(feed.OpenBlock());
    EXPECT_FALSE(feed.IsWatched());
    feed.SetLinkState(true, false);
    EXPECT_EQ(feed.Block(), nullptr);
  }
  CloseHandle(small);

  HANDLE whole = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(kBlockSize),
                                    kBlockNameGlobal);
  ASSERT_NE(whole, nullptr);
  CameraFeed feed;
  EXPECT_TRUE(feed.OpenBlock());
  ASSERT_NE(feed.Block(), nullptr);
  CameraBlockHeader* header = HeaderOf(feed.Block());
  EXPECT_FALSE(feed.IsWatched()) << "no magic, no heartbeat";
  header->magic = kBlockMagic;
  header->readerHeartbeat = GetTickCount64();
  EXPECT_TRUE(feed.IsWatched());
  feed.Publish(FreeSlot(*header), 640, 360);
  feed.SetLinkState(true, true);
  EXPECT_EQ(header->paused, 1u);
  EXPECT_NE(header->lastWriteTick, 0u);
  feed.Close();
  EXPECT_EQ(feed.Block(), nullptr);
  uint8_t* view = static_cast<uint8_t*>(MapViewOfFile(whole, FILE_MAP_READ, 0, 0, kBlockSize));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(HeaderOf(view)->lastWriteTick, 0u) << "black at once when the program ends";
  UnmapViewOfFile(view);
  CloseHandle(whole);

  CameraFeed late;
  EXPECT_FALSE(late.OpenBlock()) << "nothing to open";
  HANDLE again = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(kBlockSize),
                                    kBlockNameGlobal);
  EXPECT_FALSE(late.OpenBlock()) << "the next try waits a second";
  Sleep(1100);
  EXPECT_TRUE(late.OpenBlock());
  late.Close();
  CloseHandle(again);
}

}  // namespace
