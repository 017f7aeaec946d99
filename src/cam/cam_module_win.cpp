// The camera DLL's COM entry points. The media source is not built yet, so
// no class is offered and registration says it is not implemented rather
// than writing a registry entry nothing could serve.
#include <windows.h>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** object) {
  if (object) *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_OK; }

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return E_NOTIMPL; }

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return E_NOTIMPL; }

}  // extern "C"
