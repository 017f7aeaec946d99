#pragma once
// The camera DLL as the Frame Server meets it, for the in-process tests:
// loaded from its file beside the tests, its source started at a size, one
// sample taken, and the program's end of the block.
#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/camera_block.h"
#include "common/win_missing.h"

using Microsoft::WRL::ComPtr;

inline constexpr GUID kCamera = {0x7c1e5a2b, 0x4d3f, 0x4b8e, {0x9a, 0x61, 0x2f, 0x0c, 0x8d, 0x4e, 0x5b, 0x17}};
inline const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\{7C1E5A2B-4D3F-4B8E-9A61-2F0C8D4E5B17}\\InprocServer32";

inline std::wstring DllPath() {
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

inline ComPtr<IMFMediaSource> NewSource(Dll& dll, ComPtr<IMFActivate>* activate = nullptr) {
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
inline ComPtr<IMFMediaEvent> NextEvent(IMFMediaEventGenerator* generator) {
  for (int i = 0; i < 200; ++i) {
    ComPtr<IMFMediaEvent> event;
    if (SUCCEEDED(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) return event;
    Sleep(10);
  }
  return nullptr;
}

inline MediaEventType TypeOf(IMFMediaEvent* event) {
  MediaEventType type = MEUnknown;
  if (event) event->GetType(&type);
  return type;
}

// Starts the source with the type of that size; the stream comes from MENewStream.
inline ComPtr<IMFMediaStream> StartAt(IMFMediaSource* source, UINT32 width, UINT32 height) {
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

// The sample an MEMediaSample carries.
inline ComPtr<IMFSample> SampleOf(IMFMediaEvent* event) {
  PROPVARIANT value;
  PropVariantInit(&value);
  ComPtr<IMFSample> sample;
  if (SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal) {
    value.punkVal->QueryInterface(IID_PPV_ARGS(&sample));
  }
  PropVariantClear(&value);
  return sample;
}

// One sample: a request, then its MEMediaSample.
inline bool TakeSample(IMFMediaStream* stream, UINT32 width, UINT32 height, Sample* out) {
  if (FAILED(stream->RequestSample(nullptr))) return false;
  for (int i = 0; i < 5; ++i) {
    ComPtr<IMFMediaEvent> event = NextEvent(stream);
    if (!event) return false;
    if (TypeOf(event.Get()) != MEMediaSample) continue;
    ComPtr<IMFSample> sample = SampleOf(event.Get());
    if (!sample) return false;
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

inline bool IsBlack(const Sample& s) {
  size_t luma = static_cast<size_t>(s.width) * s.height;
  for (size_t i = 0; i < s.nv12.size(); ++i) {
    if (s.nv12[i] != (i < luma ? 16 : 128)) return false;
  }
  return !s.nv12.empty();
}

// The program's end of the block, as another process opens it, written from
// the block's published layout alone rather than with the program's own
// helpers, so a fault shared by both sides of the protocol still shows.
struct Writer {
  static constexpr size_t kSize = 24887296, kFirstSlot = 4096, kSlotBytes = 3840 * 2160 * 3 / 2;
  static constexpr size_t kLastWriteTick = 32, kLatestSlot = 40, kFrameCounter = 44, kSlotWidths = 48,
                          kSlotHeights = 56;
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, L"Global\\OrvaneCamMemoria");
  uint8_t* view = mapping ? static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kSize)) : nullptr;
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\OrvaneCamCuadro");
  ~Writer() {
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    if (event) CloseHandle(event);
  }
  template <typename T>
  std::atomic_ref<T> Field(size_t offset) {
    return std::atomic_ref<T>(*reinterpret_cast<T*>(view + offset));
  }
  // A picture whose luma starts at `lumaBase` and says where it is.
  void Publish(uint32_t w, uint32_t h, uint8_t lumaBase) {
    uint32_t slot = (Field<uint32_t>(kLatestSlot).load() ^ 1) & 1;
    uint8_t* p = view + kFirstSlot + slot * kSlotBytes;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) p[y * w + x] = static_cast<uint8_t>(lumaBase + (x + y) % 64);
    memset(p + w * h, 90, w * h / 2);
    Field<uint32_t>(kSlotWidths + 4 * slot).store(w);
    Field<uint32_t>(kSlotHeights + 4 * slot).store(h);
    Field<uint32_t>(kLatestSlot).store(slot);
    Field<uint32_t>(kFrameCounter).fetch_add(1);
    Field<uint64_t>(kLastWriteTick).store(GetTickCount64());
    if (event) SetEvent(event);
  }
  void Disconnect() { Field<uint64_t>(kLastWriteTick).store(0); }
};

// A new source of a freshly loaded DLL, started at 640x360, delivers black.
inline void ExpectABlackSampleFromANewSource() {
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
