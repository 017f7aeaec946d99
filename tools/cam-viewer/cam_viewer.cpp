// Stands in for the Windows Frame Server, which does not exist under
// Wine: loads the camera DLL into this process, from its file or, as the
// service does, by its class id through the registration; activates its
// media source the way the service does, pulls samples at the type's frame
// rate and prints every event and sample as one JSON object per line.
//
// cam-viewer (--dll PATH | --clsid {GUID}) [--width W --height H [--fps F]]
//            [--seconds S | --samples N] [--stop-event NAME] [--host PID] [--out FILE]
//            [--allocator] [--eager] [--png INDEX:PATH]... [--raw INDEX:PATH]... [--list-types]
//
// An INDEX of "last" names the last sample that was not black, written
// once the pulling ends.
//
// --eager asks for the next sample as soon as one arrives, as applications
// that read a camera in a loop do, instead of at the type's frame rate.
// Each sample line carries "frame", the number the test clips draw in their
// band (null when it cannot be read), and "qpc", QueryPerformanceCounter in
// µs when it arrived, comparable with the phone stand-in's send times.
//
// With --stop-event it runs until that event is set (or its time is up),
// with --host until that process ends; then it stops and shuts down as usual.
//
// Exit codes: 0 ran to the end; 1 a requested file was not written; 2 no
// DLL, entry point or class; 3 no type of that size; 4 Start, Stop or their
// events failed; 5 a sample could not be had; 64 bad arguments.
#include <windows.h>
// After windows.h.
#include <knownfolders.h>
#include <mmsystem.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/video/camera_paths.h"
#include "app/video/cpu_convert.h"
#include "app/video/video_pipeline.h"
#include "common/camera_ids.h"
#include "common/text_win.h"
#include "common/win_missing.h"
#include "viewer_core.h"
#include "viewer_media_win.h"

namespace {

enum ExitCode {
  kRanToEnd = 0,
  kFileNotWritten = 1,
  kNoCamera = 2,
  kNoType = 3,
  kStartFailed = 4,
  kNoSample = 5,
  kBadArguments = 64,
};

// COM frees unused DLLs a while after they become free, not at once: a
// source whose last reference goes on a work queue thread just after
// Shutdown is not a leak.
constexpr int64_t kUnloadWaitUs = 1'000'000;

using DllGetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

class CameraRun {
 public:
  explicit CameraRun(const ViewerOptions& options) : o_(options) {}
  ~CameraRun();
  CameraRun(const CameraRun&) = delete;
  CameraRun& operator=(const CameraRun&) = delete;
  int Run();

 private:
  int Activate();
  int ActivateByClassId();
  bool StopSignalled(int64_t dueUs);
  int ChooseType();
  void OfferAllocator();
  int StartSource();
  int PullSamples();
  int ShowSample(int index, IMFSample* sample, int64_t arrivedQpcUs);
  void WriteFiles(int index, const Nv12Image& picture);
  bool WantsLastPicture() const {
    for (const std::vector<SampleFile>* files : {&o_.png, &o_.raw}) {
      for (const SampleFile& f : *files) {
        if (f.index == kLastPicture) return true;
      }
    }
    return false;
  }
  int StopSource();
  void ShutDown(int code);

  const ViewerOptions& o_;
  HMODULE module_ = nullptr;
  HANDLE stopSignals_[2] = {};
  const char* stopNames_[2] = {};
  DWORD stopSignalCount_ = 0;
  ComPtr<IClassFactory> factory_;
  ComPtr<IMFActivate> activate_;
  ComPtr<IMFMediaSource> source_;
  ComPtr<IMFPresentationDescriptor> pd_;
  ComPtr<IMFVideoSampleAllocatorEx> allocator_;
  ComPtr<IMFVideoSampleAllocatorCallback> pool_;
  ComPtr<IMFMediaStream> stream_;
  VideoTypeInfo type_;
  int pitch_ = 0;  // of plain buffers
  bool started_ = false;
  bool fileFailed_ = false;
  std::vector<uint8_t> lastPicture_;  // packed NV12 at the type's size
  int samples_ = 0;
  CpuScratch scratch_;
  std::vector<uint8_t> bgra_;
};

int CameraRun::Run() {
  // The signals first: a host that ends while the source is being made must
  // still end this run.
  if (!o_.stopEvent.empty()) {
    if (HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, o_.stopEvent.c_str())) {
      stopNames_[stopSignalCount_] = "event";
      stopSignals_[stopSignalCount_++] = event;
    } else {
      Fail("OpenEventW " + WideToUtf8(o_.stopEvent), HRESULT_FROM_WIN32(GetLastError()));
    }
  }
  if (o_.hostPid) {
    if (HANDLE host = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(o_.hostPid))) {
      stopNames_[stopSignalCount_] = "host";
      stopSignals_[stopSignalCount_++] = host;
    } else {
      Fail("OpenProcess " + std::to_string(o_.hostPid), HRESULT_FROM_WIN32(GetLastError()));
    }
  }
  // Told to run until stopped, with nothing left that could stop it.
  if (o_.untilStopped && stopSignalCount_ == 0) return kBadArguments;
  int code = o_.clsid.empty() ? Activate() : ActivateByClassId();
  if (module_ || !o_.clsid.empty()) {
    if (code == kRanToEnd) code = ChooseType();
    if (code == kRanToEnd && o_.allocator) OfferAllocator();
    if (code == kRanToEnd) code = StartSource();
    if (code == kRanToEnd) code = PullSamples();
    if (started_) {
      int stopped = StopSource();
      if (code == kRanToEnd) code = stopped;
    }
    if (!lastPicture_.empty()) {
      WriteFiles(kLastPicture, Nv12InBuffer(lastPicture_.data(), static_cast<int>(type_.width),
                                            static_cast<int>(type_.width), static_cast<int>(type_.height)));
    }
    for (const std::vector<SampleFile>* files : {&o_.png, &o_.raw}) {
      for (const SampleFile& f : *files) {
        if (f.index == kLastPicture) {
          if (lastPicture_.empty()) {
            std::fprintf(stderr, "cam-viewer: no sample with a picture for %s\n", WideToUtf8(f.path).c_str());
            fileFailed_ = true;
          }
          continue;
        }
        if (f.index < samples_) continue;
        std::fprintf(stderr, "cam-viewer: no sample %d for %s (%d came)\n", f.index, WideToUtf8(f.path).c_str(),
                     samples_);
        fileFailed_ = true;
      }
    }
    if (code == kRanToEnd && fileFailed_) code = kFileNotWritten;
    ShutDown(code);
  }
  return code;
}

CameraRun::~CameraRun() {
  for (DWORD i = 0; i < stopSignalCount_; ++i) CloseHandle(stopSignals_[i]);
}

// As the Frame Server does: COM finds the DLL through the class's
// registration and loads it. The module is looked up afterwards, only to
// ask it whether it may be unloaded at the end. The service runs as Local
// Service, which may not read users' folders: a DLL registered there is
// refused before anything of it is loaded, as Windows would fail to load it.
int CameraRun::ActivateByClassId() {
  wchar_t path[MAX_PATH] = L"";
  DWORD bytes = sizeof path;
  std::wstring key = L"Software\\Classes\\CLSID\\" + o_.clsid + L"\\InprocServer32";
  const bool registered =
      RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) == ERROR_SUCCESS;
  PWSTR profiles = nullptr;
  const bool profilesKnown = SUCCEEDED(SHGetKnownFolderPath(FOLDERID_UserProfiles, 0, nullptr, &profiles));
  const bool unreadable = registered && profilesKnown && PathLiesUnder(path, profiles);
  CoTaskMemFree(profiles);
  if (unreadable) {
    Fail("Local Service may not read " + WideToUtf8(path), E_ACCESSDENIED);
    return kNoCamera;
  }
  CLSID clsid{};
  HRESULT hr = CLSIDFromString(o_.clsid.c_str(), &clsid);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&activate_));
  if (FAILED(hr)) {
    Fail("CoCreateInstance " + WideToUtf8(o_.clsid) + " IMFActivate", hr);
    return kNoCamera;
  }
  if (registered) module_ = GetModuleHandleW(path);
  Emit(Stamped().Str("clsid", WideToUtf8(o_.clsid)).Str("server", WideToUtf8(path)).Bool("loaded", module_ != nullptr));
  hr = activate_->ActivateObject(IID_PPV_ARGS(&source_));
  if (FAILED(hr)) {
    Fail("IMFActivate::ActivateObject IMFMediaSource", hr);
    return kNoCamera;
  }
  return kRanToEnd;
}

// Waits until the pull is due; true when a stop signal came first.
bool CameraRun::StopSignalled(int64_t dueUs) {
  if (stopSignalCount_ == 0) {
    SleepUntil(dueUs);
    return false;
  }
  for (;;) {
    int64_t left = dueUs - NowUs();
    DWORD waited = WaitForMultipleObjects(stopSignalCount_, stopSignals_, FALSE,
                                          left > 0 ? static_cast<DWORD>((left + 999) / 1000) : 0);
    if (waited < WAIT_OBJECT_0 + stopSignalCount_) {
      Emit(Stamped().Str("stop", stopNames_[waited - WAIT_OBJECT_0]));
      return true;
    }
    if (left <= 0) return false;
  }
}

int CameraRun::Activate() {
  module_ = LoadLibraryW(o_.dll.c_str());
  if (!module_) {
    Fail("LoadLibraryW " + WideToUtf8(o_.dll), HRESULT_FROM_WIN32(GetLastError()));
    return kNoCamera;
  }
  auto getClassObject = Export<DllGetClassObjectFn>(module_, "DllGetClassObject");
  if (!getClassObject) {
    Fail("GetProcAddress DllGetClassObject", HRESULT_FROM_WIN32(GetLastError()));
    return kNoCamera;
  }
  CLSID clsid;
  HRESULT hr = CLSIDFromString(kCameraClsidText, &clsid);
  if (SUCCEEDED(hr)) hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory_.GetAddressOf()));
  if (FAILED(hr)) {
    Fail("DllGetClassObject", hr);
    return kNoCamera;
  }
  hr = factory_->CreateInstance(nullptr, IID_PPV_ARGS(&activate_));
  if (FAILED(hr)) {
    Fail("IClassFactory::CreateInstance IMFActivate", hr);
    return kNoCamera;
  }
  hr = activate_->ActivateObject(IID_PPV_ARGS(&source_));
  if (FAILED(hr)) {
    Fail("IMFActivate::ActivateObject IMFMediaSource", hr);
    return kNoCamera;
  }
  return kRanToEnd;
}

int CameraRun::ChooseType() {
  HRESULT hr = source_->CreatePresentationDescriptor(&pd_);
  if (FAILED(hr)) {
    Fail("IMFMediaSource::CreatePresentationDescriptor", hr);
    return kNoType;
  }
  BOOL selected = FALSE;
  ComPtr<IMFStreamDescriptor> sd;
  ComPtr<IMFMediaTypeHandler> handler;
  DWORD count = 0;
  if (FAILED(hr = pd_->GetStreamDescriptorByIndex(0, &selected, &sd)) ||
      FAILED(hr = sd->GetMediaTypeHandler(&handler)) || FAILED(hr = handler->GetMediaTypeCount(&count))) {
    Fail("stream 0's media type handler", hr);
    return kNoType;
  }
  std::vector<ComPtr<IMFMediaType>> types(count);
  std::vector<VideoTypeInfo> infos;
  for (DWORD i = 0; i < count; ++i) {
    hr = handler->GetMediaTypeByIndex(i, &types[i]);
    if (FAILED(hr)) {
      Fail("IMFMediaTypeHandler::GetMediaTypeByIndex " + std::to_string(i), hr);
      return kNoType;
    }
    infos.push_back(Describe(types[i].Get()));
    if (o_.listTypes) {
      Emit(JsonLine()
               .Int("type", i)
               .Int("width", infos[i].width)
               .Int("height", infos[i].height)
               .Fps("fps", infos[i].fpsNumerator, infos[i].fpsDenominator)
               .Str("subtype", SubtypeName(types[i].Get())));
    }
  }

  ComPtr<IMFMediaType> chosen;
  if (o_.width > 0) {
    int pick = PickType(infos, o_.width, o_.height, o_.fps);
    if (pick < 0) {
      std::string what = std::to_string(o_.width) + "x" + std::to_string(o_.height);
      if (o_.fps > 0) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "@%g", o_.fps);
        what += rate;
      }
      Fail("no type of " + what + " among " + std::to_string(count), MF_E_INVALIDMEDIATYPE);
      return kNoType;
    }
    chosen = types[static_cast<size_t>(pick)];
  } else if (FAILED(hr = handler->GetCurrentMediaType(&chosen))) {
    if (count == 0) {
      Fail("IMFMediaTypeHandler::GetCurrentMediaType, and no type to pick", hr);
      return kNoType;
    }
    chosen = types[0];
  }
  GUID subtype = GUID_NULL;
  (void)chosen->GetGUID(MF_MT_SUBTYPE, &subtype);
  type_ = Describe(chosen.Get());
  if (!IsEqualGUID(subtype, MFVideoFormat_NV12) || type_.width == 0 || type_.height == 0) {
    Fail("the type is not NV12 with a frame size: " + SubtypeName(chosen.Get()), MF_E_INVALIDMEDIATYPE);
    return kNoType;
  }
  // A plain buffer's rows follow the type's stride when it gives one.
  UINT32 stride = 0;
  pitch_ = static_cast<int>(type_.width);
  if (SUCCEEDED(chosen->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) &&
      static_cast<int32_t>(stride) > pitch_)
    pitch_ = static_cast<int32_t>(stride);
  hr = handler->SetCurrentMediaType(chosen.Get());
  if (FAILED(hr)) {
    Fail("IMFMediaTypeHandler::SetCurrentMediaType", hr);
    return kNoType;
  }
  hr = pd_->SelectStream(0);
  if (FAILED(hr)) {
    Fail("IMFPresentationDescriptor::SelectStream 0", hr);
    return kStartFailed;
  }
  return kRanToEnd;
}

// The Frame Server hands its own allocator over before starting; a source
// without the interface allocates its samples itself.
void CameraRun::OfferAllocator() {
  ComPtr<IMFSampleAllocatorControl> control;
  HRESULT hr = source_.As(&control);
  if (FAILED(hr)) {
    Emit(Stamped().Bool("allocator", false).Str("status", HexStatus(static_cast<uint32_t>(hr))).Str(
        "note", "the source has no IMFSampleAllocatorControl"));
    return;
  }
  hr = MFCreateVideoSampleAllocatorEx(IID_PPV_ARGS(&allocator_));
  if (FAILED(hr)) {
    Fail("MFCreateVideoSampleAllocatorEx", hr);
  } else if (FAILED(hr = control->SetDefaultAllocator(0, allocator_.Get()))) {
    Fail("IMFSampleAllocatorControl::SetDefaultAllocator", hr);
  }
  if (FAILED(hr)) {
    allocator_.Reset();
    Emit(Stamped().Bool("allocator", false).Str("status", HexStatus(static_cast<uint32_t>(hr))));
    return;
  }
  (void)allocator_.As(&pool_);
  JsonLine line = Stamped();
  line.Bool("allocator", true).Str("status", HexStatus(S_OK));
  DWORD input = 0;
  MFSampleAllocatorUsage usage = MFSampleAllocatorUsage_DoesNotAllocate;
  hr = control->GetAllocatorUsage(0, &input, &usage);
  if (SUCCEEDED(hr)) line.Int("usage", usage);
  else line.Str("usageStatus", HexStatus(static_cast<uint32_t>(hr)));
  Emit(line);
}

int CameraRun::StartSource() {
  PROPVARIANT from;
  PropVariantInit(&from);  // VT_EMPTY: from the current position
  HRESULT hr = source_->Start(pd_.Get(), &GUID_NULL, &from);
  if (FAILED(hr)) {
    Fail("IMFMediaSource::Start", hr);
    return kStartFailed;
  }
  started_ = true;
  bool sourceStarted = false;
  Pump p = PumpEvents({{source_.Get(), "source"}}, "MENewStream and MESourceStarted",
                      [&](const Queue&, MediaEventType type, IMFMediaEvent* event) {
                        if (type == MENewStream || type == MEUpdatedStream) {
                          HRESULT got = EventObject(event, stream_);
                          if (FAILED(got)) {
                            Fail(EventName(type) + " without an IMFMediaStream", got);
                            return Pump::kFailed;
                          }
                        } else if (type == MESourceStarted) {
                          sourceStarted = true;
                        }
                        return stream_ && sourceStarted ? Pump::kDone : Pump::kMore;
                      });
  if (p != Pump::kDone) return kStartFailed;
  p = PumpEvents({{stream_.Get(), "stream"}, {source_.Get(), "source"}}, "MEStreamStarted",
                 [&](const Queue& q, MediaEventType type, IMFMediaEvent*) {
                   return q.events == stream_.Get() && type == MEStreamStarted ? Pump::kDone : Pump::kMore;
                 });
  return p == Pump::kDone ? kRanToEnd : kStartFailed;
}

int CameraRun::PullSamples() {
  PullSchedule schedule(type_.fpsNumerator, type_.fpsDenominator);
  const int64_t originUs = NowUs();
  const auto endUs = static_cast<int64_t>(o_.seconds * 1e6);
  for (int n = 0;; ++n) {
    const int64_t dueUs = o_.eager ? NowUs() - originUs : schedule.NextDueUs();
    if (o_.samples >= 0 ? n >= o_.samples : !o_.untilStopped && dueUs >= endUs) break;
    if (StopSignalled(originUs + dueUs)) break;
    HRESULT hr = stream_->RequestSample(nullptr);
    if (FAILED(hr)) {
      Fail("IMFMediaStream::RequestSample", hr);
      return kNoSample;
    }
    ComPtr<IMFSample> sample;
    int64_t arrivedQpcUs = 0;
    Pump p = PumpEvents({{stream_.Get(), "stream"}, {source_.Get(), "source"}}, "MEMediaSample",
                        [&](const Queue& q, MediaEventType type, IMFMediaEvent* event) {
                          if (type == MEMediaSample && q.events == stream_.Get()) {
                            arrivedQpcUs = QpcUs();
                            HRESULT got = EventObject(event, sample);
                            if (SUCCEEDED(got)) return Pump::kDone;
                            Fail("MEMediaSample without an IMFSample", got);
                            return Pump::kFailed;
                          }
                          if (type == MEEndOfStream || type == MEStreamStopped || type == MESourceStopped) {
                            Fail(EventName(type) + " while waiting for a sample", MF_E_END_OF_STREAM);
                            return Pump::kFailed;
                          }
                          return Pump::kMore;
                        });
    if (p != Pump::kDone) return kNoSample;
    schedule.Pulled(NowUs() - originUs);
    int code = ShowSample(n, sample.Get(), arrivedQpcUs);
    if (code != kRanToEnd) return code;
    ++samples_;
  }
  return kRanToEnd;
}

int CameraRun::ShowSample(int index, IMFSample* sample, int64_t arrivedQpcUs) {
  DWORD buffers = 0;
  ComPtr<IMFMediaBuffer> buffer;
  HRESULT hr = sample->GetBufferCount(&buffers);
  if (SUCCEEDED(hr)) hr = sample->GetBufferByIndex(0, &buffer);
  if (FAILED(hr)) {
    Fail("IMFSample::GetBufferByIndex 0", hr);
    return kNoSample;
  }
  DWORD bytes = 0;
  (void)buffer->GetCurrentLength(&bytes);
  const int width = static_cast<int>(type_.width), height = static_cast<int>(type_.height);

  BufferLock lock;
  BYTE* scan0 = nullptr;
  LONG pitch = 0;
  ComPtr<IMF2DBuffer> twoD;
  if (SUCCEEDED(buffer.As(&twoD))) {
    if (FAILED(hr = twoD->Lock2D(&scan0, &pitch))) {
      Fail("IMF2DBuffer::Lock2D", hr);
      return kNoSample;
    }
    lock.Locked2D(twoD.Get());
    if (std::abs(pitch) < width) {
      Fail("IMF2DBuffer::Lock2D pitch " + std::to_string(pitch) + " below the width", E_UNEXPECTED);
      return kNoSample;
    }
  } else {
    DWORD maxLength = 0, length = 0;
    if (FAILED(hr = buffer->Lock(&scan0, &maxLength, &length))) {
      Fail("IMFMediaBuffer::Lock", hr);
      return kNoSample;
    }
    lock.Locked(buffer.Get());
    pitch = pitch_;
    if (length < Nv12BufferBytes(pitch, width, height)) {
      Fail("IMFMediaBuffer::Lock: " + std::to_string(length) + " bytes for " + std::to_string(width) + "x" +
               std::to_string(height),
           MF_E_BUFFERTOOSMALL);
      return kNoSample;
    }
  }
  Nv12Image picture = Nv12InBuffer(scan0, static_cast<int>(pitch), width, height);

  JsonLine line = Stamped();
  line.Int("sample", index).Int("width", width).Int("height", height);
  LONGLONG time = 0, duration = 0;
  if (SUCCEEDED(sample->GetSampleTime(&time))) line.Int("time", time);
  else line.Null("time");
  if (SUCCEEDED(sample->GetSampleDuration(&duration))) line.Int("duration", duration);
  else line.Null("duration");
  const double ymean = LumaMean(picture);
  line.Int("bytes", bytes).Int("pitch", pitch).Num("ymean", ymean, 1);
  const int frame = ReadFrameNumber(picture);
  if (frame >= 0) line.Int("frame", frame);
  else line.Null("frame");
  line.Int("qpc", arrivedQpcUs);
  line.Int("buffers", buffers).Bool("2d", twoD != nullptr);
  LONG free = 0;
  if (pool_ && SUCCEEDED(pool_->GetFreeSampleCount(&free))) line.Int("poolFree", free);
  Emit(line);
  WriteFiles(index, picture);
  if (ymean != 16.0 && WantsLastPicture()) lastPicture_ = PackNv12(picture);
  return kRanToEnd;
}

void CameraRun::WriteFiles(int index, const Nv12Image& picture) {
  for (const SampleFile& f : o_.png) {
    if (f.index != index) continue;
    bgra_.resize(static_cast<size_t>(picture.width) * picture.height * 4);
    if (!ConvertNv12ToBgra(picture, bgra_.data(), picture.width * 4, picture.width, picture.height, false, false,
                           &scratch_) ||
        !SavePng(f.path, bgra_.data(), picture.width, picture.height, picture.width * 4)) {
      Fail("SavePng " + WideToUtf8(f.path), E_FAIL);
      fileFailed_ = true;
    }
  }
  for (const SampleFile& f : o_.raw) {
    if (f.index != index) continue;
    std::vector<uint8_t> packed = PackNv12(picture);
    FILE* out = _wfopen(f.path.c_str(), L"wb");
    bool written = out && std::fwrite(packed.data(), 1, packed.size(), out) == packed.size();
    if (out && std::fclose(out) != 0) written = false;
    if (!written) {
      Fail("writing " + WideToUtf8(f.path), HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
      fileFailed_ = true;
    }
  }
}

int CameraRun::StopSource() {
  HRESULT hr = source_->Stop();
  if (FAILED(hr)) {
    Fail("IMFMediaSource::Stop", hr);
    return kStartFailed;
  }
  bool sourceStopped = false, streamStopped = !stream_;
  Pump p = PumpEvents({{source_.Get(), "source"}, {stream_.Get(), "stream"}}, "MESourceStopped and MEStreamStopped",
                      [&](const Queue& q, MediaEventType type, IMFMediaEvent*) {
                        if (type == MESourceStopped && q.events == source_.Get()) sourceStopped = true;
                        if (type == MEStreamStopped && q.events == stream_.Get()) streamStopped = true;
                        return sourceStopped && streamStopped ? Pump::kDone : Pump::kMore;
                      });
  return p == Pump::kDone ? kRanToEnd : kStartFailed;
}

void CameraRun::ShutDown(int code) {
  HRESULT hr;
  if (source_ && FAILED(hr = source_->Shutdown())) Fail("IMFMediaSource::Shutdown", hr);
  if (activate_) {
    if (FAILED(hr = activate_->ShutdownObject())) Fail("IMFActivate::ShutdownObject", hr);
    if (FAILED(hr = activate_->DetachObject())) Fail("IMFActivate::DetachObject", hr);
  }
  stream_.Reset();
  pool_.Reset();
  allocator_.Reset();
  pd_.Reset();
  source_.Reset();
  activate_.Reset();
  factory_.Reset();

  JsonLine line = Stamped();
  line.Bool("done", true).Int("samples", samples_);
  auto canUnloadNow = Export<DllCanUnloadNowFn>(module_, "DllCanUnloadNow");
  HRESULT canUnload = E_NOTIMPL;
  if (canUnloadNow) {
    const int64_t askedUs = NowUs();
    while ((canUnload = canUnloadNow()) != S_OK && NowUs() - askedUs < kUnloadWaitUs) Sleep(10);
    line.Str("canUnload", HexStatus(static_cast<uint32_t>(canUnload)))
        .Num("canUnloadWaitMs", static_cast<double>(NowUs() - askedUs) / 1000.0, 1);
  } else {
    line.Null("canUnload");
  }
  line.Int("exit", code);
  Emit(line);
  // As COM does: a DLL that still has objects alive stays loaded. One that
  // COM loaded is COM's to unload.
  if (canUnload == S_OK && o_.clsid.empty()) FreeLibrary(module_);
  module_ = nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  StartClock();
  ViewerOptions options;
  std::string bad = ParseViewerOptions(std::vector<std::wstring>(argv + 1, argv + argc), &options);
  if (!bad.empty()) {
    std::fprintf(stderr,
                 "cam-viewer: %s\n"
                 "usage: cam-viewer (--dll PATH | --clsid {GUID}) [--width W --height H [--fps F]]\n"
                 "                  [--seconds S | --samples N] [--stop-event NAME] [--host PID] [--out FILE]\n"
                 "                  [--allocator] [--eager] [--png INDEX:PATH]... [--raw INDEX:PATH]... [--list-types]\n",
                 bad.c_str());
    return kBadArguments;
  }
  // Started by another program that shares no handle with it.
  if (!options.out.empty() &&
      (!_wfreopen(options.out.c_str(), L"a", stdout) || !_wfreopen(options.out.c_str(), L"a", stderr))) {
    return kBadArguments;
  }
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    Fail("CoInitializeEx", hr);
    return kNoCamera;
  }
  hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
  if (FAILED(hr)) {
    Fail("MFStartup", hr);
    CoUninitialize();
    return kNoCamera;
  }
  // Sleep in 1 ms steps, so pulls land within a millisecond of their time.
  timeBeginPeriod(1);
  int code;
  {
    CameraRun run(options);
    code = run.Run();
  }
  timeEndPeriod(1);
  MFShutdown();
  CoUninitialize();
  return code;
}
