#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <utility>

#include "../../common/camera_ids.h"
#include "../../common/text_win.h"
#include "../../common/win_missing.h"
#include "../core/log.h"
#include "camera_paths.h"
#include "virtual_camera.h"

std::atomic<bool> g_cameraReady{false};

namespace {

// Owned by start-up, removed at exit; the main thread only.
Microsoft::WRL::ComPtr<IMFVirtualCamera> g_camera;
// The last try's outcome and when to try again; the main thread only.
CameraProblem g_problem = CameraProblem::None;
HRESULT g_result = S_OK;
RetryBackoff g_retry;

void Outcome(CameraProblem problem, HRESULT result) {
  g_problem = problem;
  g_result = result;
  if (problem == CameraProblem::NotRegistered || problem == CameraProblem::Failed) {
    g_retry.Failed(GetTickCount64());
  } else {
    g_retry.Succeeded();
  }
}

std::wstring ServerKey() {
  return std::wstring(L"Software\\Classes\\CLSID\\") + kCameraClsidText + L"\\InprocServer32";
}

// The camera DLL beside this program; empty when the path is too long.
std::wstring OwnDllPath() {
  wchar_t own[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::wstring path(own, length);
  return path.substr(0, path.rfind(L'\\') + 1) + L"OrvaneCam.dll";
}

std::wstring RegisteredDllPath() {
  wchar_t path[MAX_PATH] = L"";
  DWORD bytes = sizeof path;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, ServerKey().c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) !=
      ERROR_SUCCESS) {
    return {};
  }
  return path;
}

std::wstring ProgramFilesFolder() {
  PWSTR folder = nullptr;
  std::wstring out;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramFiles, 0, nullptr, &folder))) out = folder;
  CoTaskMemFree(folder);
  return out;
}

}  // namespace

bool IsCameraRegistered() {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServerKey().c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// An administrator's copy registers the camera DLL that lies beside it, but
// only where the installer puts it: from anywhere else the Frame Server
// could not read it, or would load a DLL the user can replace.
void RegisterCameraFromApp() {
  if (IsCameraRegistered() || !IsUserAnAdmin()) return;
  std::wstring path = OwnDllPath();
  if (path.empty()) return;
  const std::wstring programFiles = ProgramFilesFolder();
  if (!PathLiesUnder(path, programFiles)) {
    // Said once: the camera is tried again, and the place does not change.
    static bool said = false;
    if (std::exchange(said, true)) return;
    LogLine("Orvane Cam no se registra desde %s: solo desde %s, donde la instala Orvane-Setup.exe",
            WideToUtf8(path.substr(0, path.rfind(L'\\'))).c_str(), WideToUtf8(programFiles).c_str());
    return;
  }
  HMODULE dll = LoadLibraryW(path.c_str());
  if (!dll) return;
  auto registerServer = LookUpFunction<HRESULT(WINAPI*)()>(dll, "DllRegisterServer");
  HRESULT hr = registerServer ? registerServer() : E_FAIL;
  LogLine("Registro de Orvane Cam desde la app: 0x%08x", static_cast<unsigned>(hr));
  FreeLibrary(dll);
}

void CreateVirtualCamera() {
  RegisterCameraFromApp();
  if (!IsCameraRegistered()) {
    LogLine("Orvane Cam no está registrada (la registra Orvane-Setup.exe)");
    Outcome(CameraProblem::NotRegistered, REGDB_E_CLASSNOTREG);
    return;
  }
  // Another copy's camera (an older install, a build) is what applications get.
  const std::wstring registered = RegisteredDllPath(), own = OwnDllPath();
  if (!SamePath(registered, own)) {
    LogLine("Orvane Cam está registrada en %s, no la de este programa (%s)", WideToUtf8(registered).c_str(),
            WideToUtf8(own).c_str());
  }
  g_camera.Reset();
  g_cameraReady = false;
  // Windows 11 has it; older Windows and Wine do not, and then there is no camera.
  HMODULE group = LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto create = LookUpFunction<MFCreateVirtualCameraFn>(group, "MFCreateVirtualCamera");
  HRESULT hr = HRESULT_FROM_WIN32(group ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
  if (create) {
    hr = create(MFVirtualCameraType_SoftwareCameraSource, MFVirtualCameraLifetime_Session,
                MFVirtualCameraAccess_CurrentUser, kCameraFriendlyName, kCameraClsidText, nullptr, 0, &g_camera);
  }
  if (SUCCEEDED(hr)) hr = g_camera->Start(nullptr);
  g_cameraReady = SUCCEEDED(hr);
  LogLine("Orvane Cam: %s (0x%08x)", SUCCEEDED(hr) ? "creada" : "no se pudo crear", static_cast<unsigned>(hr));
  if (FAILED(hr)) g_camera.Reset();
  // Without the system's function no later try can succeed.
  Outcome(SUCCEEDED(hr) ? CameraProblem::None : create ? CameraProblem::Failed : CameraProblem::NotWindows11, hr);
}

void RetryVirtualCameraWhenDue(uint64_t nowMs) {
  if (g_retry.Due(nowMs)) CreateVirtualCamera();
}

CameraProblem VirtualCameraProblem(uint32_t* result) {
  *result = static_cast<uint32_t>(g_result);
  return g_problem;
}

void RemoveVirtualCamera() {
  if (g_camera) {
    g_camera->Remove();
    g_camera.Reset();
  }
  g_cameraReady = false;
}
