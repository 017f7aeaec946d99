// The camera DLL's entry points: the class object, the unload check and
// the registration of its one class.
#include <new>
#include <string>

#include "../common/camera_ids.h"
#include "cam_objects_win.h"

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

namespace {

struct ClassKey {
  wchar_t text[100];
  ClassKey() { swprintf(text, 100, L"Software\\Classes\\CLSID\\%ls", kCameraClsidText); }
};

// Sets a REG_SZ value, the length counted in bytes with its terminator.
LSTATUS SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
  DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kCameraClsid) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) Fabrica;
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return HRESULT_FROM_WIN32(length ? ERROR_INSUFFICIENT_BUFFER : GetLastError());
  ClassKey classKey;
  wchar_t serverKey[120];
  swprintf(serverKey, 120, L"%ls\\InprocServer32", classKey.text);
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                   nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = SetText(key, nullptr, path);
  if (status == ERROR_SUCCESS) status = SetText(key, L"ThreadingModel", L"Both");
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, classKey.text, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
    (void)SetText(key, nullptr, kCameraFriendlyName);
    RegCloseKey(key);
  }
  return S_OK;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  LSTATUS status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKey().text);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // extern "C"
