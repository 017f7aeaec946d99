// The camera DLL as the Frame Server meets it: loaded from its file, its
// class object, the activation object, the source, its stream and samples.
#include "app/video/camera_feed.h"
#include "camera_dll.h"

namespace {

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
  outer.Reset();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE) << "a client holds the class factory";

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
  factory->LockServer(TRUE);
  factory.Reset();
  EXPECT_EQ(dll.canUnloadNow(), S_FALSE) << "a server lock";
  ASSERT_EQ(dll.getClassObject(kCamera, IID_PPV_ARGS(&factory)), S_OK);
  factory->LockServer(FALSE);
  factory->LockServer(FALSE);  // one too many
  factory.Reset();
  EXPECT_EQ(dll.canUnloadNow(), S_OK) << "an unlock without its lock holds nothing";
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

  // Handed over while the stream runs, the allocator is set up for the
  // running type at once: the next samples come from it.
  source = NewSource(dll);
  ASSERT_TRUE(source);
  stream = StartAt(source.Get(), 640, 360);
  ASSERT_TRUE(stream);
  ASSERT_TRUE(TakeSample(stream.Get(), 640, 360, &sample));
  ComPtr<IMFVideoSampleAllocatorEx> late;
  ComPtr<IMFVideoSampleAllocatorCallback> pool;
  ASSERT_EQ(MFCreateVideoSampleAllocatorEx(IID_PPV_ARGS(&late)), S_OK);
  ASSERT_EQ(late.As(&pool), S_OK);
  ASSERT_EQ(source.As(&control), S_OK);
  ASSERT_EQ(control->SetDefaultAllocator(0, late.Get()), S_OK);
  ASSERT_EQ(stream->RequestSample(nullptr), S_OK) << "the allocator was not set up";
  ComPtr<IMFMediaEvent> event;
  while ((event = NextEvent(stream.Get())) && TypeOf(event.Get()) != MEMediaSample) {
  }
  LONG free = 0;
  EXPECT_EQ(pool->GetFreeSampleCount(&free), S_OK);
  EXPECT_EQ(free, 9) << "one of its ten samples is out";
  event.Reset();
  source->Shutdown();
}

// Somebody else's mapping under our name, too small for the block: the
// stream must not touch it, only deliver black.
TEST(CameraDll, AShortMappingUnderTheBlocksNameIsLeftAlone) {
  HANDLE small = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kBlockNameGlobal);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "a block left by another test";
  ExpectABlackSampleFromANewSource();
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
