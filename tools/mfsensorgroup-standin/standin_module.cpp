// The stand-in's exports, their argument checks as Windows documents them,
// and its call log.
#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "standin.h"

HMODULE g_standin = nullptr;

namespace {

SlimLock g_logLock;

}  // namespace

std::string GuidText(REFGUID guid) {
  wchar_t text[64] = L"";
  StringFromGUID2(guid, text, 64);
  std::string out;
  for (const wchar_t* c = text; *c; ++c) out += static_cast<char>(*c);
  return out;
}

void StandinLog(const char* format, ...) {
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"MFSG_STANDIN_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  char line[1024];
  int head = std::snprintf(line, sizeof line, "%lu ", GetCurrentProcessId());
  va_list args;
  va_start(args, format);
  int body = std::vsnprintf(line + head, sizeof line - head - 1, format, args);
  va_end(args);
  if (body < 0) return;
  size_t size = std::min(sizeof line - 2, static_cast<size_t>(head + body));
  line[size++] = '\n';
  Locked lock(g_logLock);
  // Appends from several processes: each line is one write at the end.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
}

HRESULT RequestedFailure(const char* call) {
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"MFSG_STANDIN_FAIL", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return S_OK;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return S_OK;
  char text[64] = "";
  DWORD read = 0;
  (void)ReadFile(file, text, sizeof text - 1, &read, nullptr);
  CloseHandle(file);
  text[read] = 0;
  char asked[16] = "";
  unsigned hr = 0;
  if (std::sscanf(text, "%15s %x", asked, &hr) != 2 || std::strcmp(asked, call) != 0) return S_OK;
  return static_cast<HRESULT>(hr);
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_standin = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI MFCreateVirtualCamera(MFVirtualCameraType type, MFVirtualCameraLifetime lifetime,
                                     MFVirtualCameraAccess access, LPCWSTR friendlyName, LPCWSTR sourceId,
                                     const GUID* categories, ULONG categoryCount, IMFVirtualCamera** camera) {
  HRESULT hr = S_OK;
  CLSID clsid{};
  if (!camera || !friendlyName || !sourceId) {
    hr = E_POINTER;
  } else if (type != MFVirtualCameraType_SoftwareCameraSource || lifetime > MFVirtualCameraLifetime_System ||
             access > MFVirtualCameraAccess_AllUsers || !*friendlyName || (categories == nullptr) != (categoryCount == 0)) {
    hr = E_INVALIDARG;
  } else if (wcslen(sourceId) != 38 || sourceId[0] != L'{' || FAILED(CLSIDFromString(sourceId, &clsid))) {
    // "{CLSID}" and nothing else, not a ProgID.
    hr = E_INVALIDARG;
  } else if (access == MFVirtualCameraAccess_AllUsers && !IsUserAnAdmin()) {
    hr = E_ACCESSDENIED;
  }
  if (camera) *camera = nullptr;
  if (SUCCEEDED(hr)) hr = RequestedFailure("create");
  if (SUCCEEDED(hr)) hr = NewVirtualCamera(lifetime, access, friendlyName, sourceId, camera);
  StandinLog("MFCreateVirtualCamera type=%d lifetime=%d access=%d name=%s source=%s categories=%s/%lu -> 0x%08x",
             static_cast<int>(type), static_cast<int>(lifetime), static_cast<int>(access), Utf8(friendlyName).c_str(),
             Utf8(sourceId).c_str(), categories ? "list" : "null", categoryCount, Hex(hr));
  return hr;
}

HRESULT WINAPI MFCreateSensorProfile(REFGUID profileType, UINT32 profileIndex, LPCWSTR constraints,
                                     IMFSensorProfile** profile) {
  HRESULT hr = profile ? NewSensorProfile(profileType, profileIndex, constraints, profile) : E_POINTER;
  StandinLog("MFCreateSensorProfile %s/%u constraints=%s -> 0x%08x", GuidText(profileType).c_str(), profileIndex,
             Utf8(constraints).c_str(), Hex(hr));
  return hr;
}

HRESULT WINAPI MFCreateSensorProfileCollection(IMFSensorProfileCollection** collection) {
  HRESULT hr = collection ? NewSensorProfileCollection(collection) : E_POINTER;
  StandinLog("MFCreateSensorProfileCollection -> 0x%08x", Hex(hr));
  return hr;
}

}  // extern "C"
