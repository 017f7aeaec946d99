#include <windows.h>

#include <string>

#include "../../common/camera_ids.h"
#include "../core/log.h"
#include "virtual_camera.h"

std::atomic<bool> g_cameraReady{false};

bool IsCameraRegistered() {
  std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + kCameraClsidText + L"\\InprocServer32";
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// The camera DLL cannot register itself yet; nothing to do.
void RegisterCameraFromApp() {}

void CreateVirtualCamera() {
  RegisterCameraFromApp();
  if (!IsCameraRegistered()) {
    LogLine("Orvane Cam no está registrada (la registra Orvane-Setup.exe)");
    return;
  }
  // MFCreateVirtualCamera comes with the camera's own code.
  LogLine("Orvane Cam: %s (0x%08x)", "no se pudo crear", static_cast<unsigned>(E_NOTIMPL));
}

void RemoveVirtualCamera() {}
