// The virtual camera. Windows' Start registers the camera with the Frame
// Server, which loads the media source by its class id whenever a camera
// application opens it; here Start does that part itself at once: it starts
// the Frame Server stand-in (cam-viewer) in a process of its own, with the
// class id, and keeps it pulling samples until Stop, Remove, Shutdown or the
// last Release.
//
// MFSG_STANDIN_VIEWER names cam-viewer.exe (default: beside this library),
// MFSG_STANDIN_ARGS adds arguments to its command line, MFSG_STANDIN_OUT
// takes its output (appended).
#include <new>

#include "standin.h"

namespace {

constexpr DWORD kStopWaitMs = 10000;

std::wstring Environment(const wchar_t* name) {
  wchar_t value[4096];
  DWORD length = GetEnvironmentVariableW(name, value, 4096);
  return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

std::wstring ViewerPath() {
  std::wstring path = Environment(L"MFSG_STANDIN_VIEWER");
  if (!path.empty()) return path;
  wchar_t own[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_standin, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  path.assign(own, length);
  return path.substr(0, path.rfind(L'\\') + 1) + L"cam-viewer.exe";
}

class Camera final : public ForwardAttributes<IMFVirtualCamera> {
 public:
  explicit Camera(const wchar_t* sourceId) : sourceId_(sourceId) {}
  HRESULT Initialize() { return MFCreateAttributes(&attributes_, 4); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IMFAttributes && iid != __uuidof(IMFVirtualCamera)) return E_NOINTERFACE;
    return Answer(static_cast<IMFVirtualCamera*>(this), out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      // A session camera goes with its last reference.
      EndFrameServer("Release");
      StandinLog("Release refs=0");
      delete this;
    }
    return left;
  }

  STDMETHODIMP AddDeviceSourceInfo(LPCWSTR) override { return NotHere("AddDeviceSourceInfo"); }
  STDMETHODIMP AddProperty(const void*, ULONG, const BYTE*, ULONG) override { return NotHere("AddProperty"); }
  STDMETHODIMP AddRegistryEntry(LPCWSTR, LPCWSTR, DWORD, const BYTE*, ULONG) override {
    return NotHere("AddRegistryEntry");
  }
  STDMETHODIMP Start(IMFAsyncCallback* callback) override {
    HRESULT hr;
    {
      Locked lock(lock_);
      if (removed_) hr = MF_E_SHUTDOWN;
      else if (callback) hr = E_NOTIMPL;  // no completion is ever reported here
      else hr = RequestedFailure("start");
      if (SUCCEEDED(hr) && !frameServer_) hr = StartFrameServer();
    }
    StandinLog("Start callback=%s -> 0x%08x", callback ? "set" : "null", Hex(hr));
    return hr;
  }
  STDMETHODIMP Stop() override { return End("Stop", false); }
  STDMETHODIMP Remove() override { return End("Remove", true); }
  STDMETHODIMP GetMediaSource(IMFMediaSource** source) override {
    if (source) *source = nullptr;
    return NotHere("GetMediaSource");
  }
  STDMETHODIMP SendCameraProperty(REFGUID, ULONG, ULONG, void*, ULONG, void*, ULONG, ULONG*) override {
    return NotHere("SendCameraProperty");
  }
  STDMETHODIMP CreateSyncEvent(REFGUID, ULONG, ULONG, HANDLE, IUnknown**) override {
    return NotHere("CreateSyncEvent");
  }
  STDMETHODIMP CreateSyncSemaphore(REFGUID, ULONG, ULONG, HANDLE, LONG, IUnknown**) override {
    return NotHere("CreateSyncSemaphore");
  }
  STDMETHODIMP Shutdown() override { return End("Shutdown", true); }

 private:
  ~Camera() = default;

  HRESULT NotHere(const char* method) {
    StandinLog("%s -> 0x%08x", method, Hex(E_NOTIMPL));
    return E_NOTIMPL;
  }

  HRESULT End(const char* method, bool remove) {
    HRESULT hr = S_OK;
    {
      Locked lock(lock_);
      if (removed_) {
        hr = MF_E_SHUTDOWN;
      } else {
        EndFrameServerLocked(method);
        removed_ = remove;
      }
    }
    StandinLog("%s -> 0x%08x", method, Hex(hr));
    return hr;
  }

  // Under lock_.
  HRESULT StartFrameServer() {
    // The Frame Server finds the source through the class registration only.
    std::wstring key = L"Software\\Classes\\CLSID\\" + sourceId_ + L"\\InprocServer32";
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
      return REGDB_E_CLASSNOTREG;
    }
    RegCloseKey(opened);
    std::wstring viewer = ViewerPath();
    if (viewer.empty() || GetFileAttributesW(viewer.c_str()) == INVALID_FILE_ATTRIBUTES) {
      StandinLog("frameserver missing: %s", Utf8(viewer.c_str()).c_str());
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    wchar_t eventName[96];
    swprintf(eventName, 96, L"Local\\MfsgStandinStop-%lu-%p", GetCurrentProcessId(), static_cast<void*>(this));
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, eventName);
    if (!stopEvent_) return HRESULT_FROM_WIN32(GetLastError());

    std::wstring command = L"\"" + viewer + L"\" --clsid " + sourceId_ + L" --stop-event " + eventName +
                           L" --host " + std::to_wstring(GetCurrentProcessId());
    std::wstring outPath = Environment(L"MFSG_STANDIN_OUT");
    if (!outPath.empty()) command += L" --out \"" + outPath + L"\"";
    std::wstring extra = Environment(L"MFSG_STANDIN_ARGS");
    if (!extra.empty()) command += L" " + extra;
    // Nothing of this process is inherited: its sockets, above all, must
    // close when it closes them, as they do beside the real Frame Server.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
      DWORD error = GetLastError();
      CloseHandle(stopEvent_);
      stopEvent_ = nullptr;
      return HRESULT_FROM_WIN32(error);
    }
    CloseHandle(process.hThread);
    frameServer_ = process.hProcess;
    StandinLog("frameserver started pid=%lu", process.dwProcessId);
    return S_OK;
  }

  void EndFrameServer(const char* why) {
    Locked lock(lock_);
    EndFrameServerLocked(why);
  }

  // Asks the Frame Server stand-in to stop and shut the source down, and
  // waits for it; one that does not end in time is ended.
  void EndFrameServerLocked(const char* why) {
    if (!frameServer_) return;
    SetEvent(stopEvent_);
    DWORD code = 0;
    bool ended = WaitForSingleObject(frameServer_, kStopWaitMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(frameServer_, 0xDEAD);
    GetExitCodeProcess(frameServer_, &code);
    StandinLog("frameserver ended (%s) exit=%lu%s", why, code, ended ? "" : " killed");
    CloseHandle(frameServer_);
    CloseHandle(stopEvent_);
    frameServer_ = stopEvent_ = nullptr;
  }

  std::atomic<ULONG> refs_{1};
  std::wstring sourceId_;
  SlimLock lock_;
  bool removed_ = false;
  HANDLE frameServer_ = nullptr;
  HANDLE stopEvent_ = nullptr;
};

}  // namespace

HRESULT NewVirtualCamera(MFVirtualCameraLifetime, MFVirtualCameraAccess, const wchar_t*, const wchar_t* sourceId,
                         IMFVirtualCamera** camera) {
  auto* made = new (std::nothrow) Camera(sourceId);
  if (!made) return E_OUTOFMEMORY;
  HRESULT hr = made->Initialize();
  if (FAILED(hr)) {
    made->Release();
    return hr;
  }
  *camera = made;
  return S_OK;
}
