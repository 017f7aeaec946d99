// The installer's steps that reach the system: the running program, the
// camera DLL's registration, shell links and the shell.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <utility>

#include "../common/win_handles.h"
#include "setup_logic.h"
#include "setup_win.h"

using Microsoft::WRL::ComPtr;

void CloseRunningProgram() {
  if (g_setup.simulate) {
    LogLine(L"[simulado] cerraría Orvane si está abierto");
    return;
  }
  HWND window = nullptr;
  auto nextCopy = [&window]() -> uint32_t {
    window = FindWindowW(L"OrvaneVentana", nullptr);
    DWORD pid = 0;
    if (window) GetWindowThreadProcessId(window, &pid);
    return pid;
  };
  auto close = [&window](uint32_t pid) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    if (!process) {
      LogLine(L"No pude abrir el proceso de Orvane (pid %lu, %lu)", static_cast<unsigned long>(pid), GetLastError());
      return CloseResult::kNotOpened;
    }
    if (WaitForSingleObject(process.Get(), 3000) == WAIT_TIMEOUT) {
      if (!TerminateProcess(process.Get(), 0)) {
        LogLine(L"No pude terminar Orvane (pid %lu, %lu)", static_cast<unsigned long>(pid), GetLastError());
        return CloseResult::kNotEnded;
      }
      // Its window goes away with it; wait for that before looking again.
      WaitForSingleObject(process.Get(), 1000);
    }
    LogLine(L"Cerré Orvane (pid %lu)", static_cast<unsigned long>(pid));
    return CloseResult::kClosed;
  };
  const CloseOutcome outcome = CloseRunningCopies(nextCopy, close);
  if (outcome.stop == CloseStop::kStillOpen) {
    LogLine(L"Orvane (pid %lu) sigue abierto: no lo pude cerrar", static_cast<unsigned long>(outcome.pid));
  }
}

HRESULT CallCameraDll(const std::wstring& path, const char* exportName) {
  // The DLL's own folder and System32 only: the installer searches no
  // other folder (see SetDefaultDllDirectories at its start).
  HMODULE dll = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!dll) return HRESULT_FROM_WIN32(GetLastError());
  auto call = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(dll, exportName)));
  HRESULT hr = call ? call() : E_NOINTERFACE;
  FreeLibrary(dll);
  return hr;
}

bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& arguments,
                    const std::wstring& description) {
  ComPtr<IShellLinkW> link;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link));
  ComPtr<IPersistFile> file;
  if (SUCCEEDED(hr)) {
    link->SetPath(target.c_str());
    link->SetArguments(arguments.c_str());
    link->SetDescription(description.c_str());
    link->SetIconLocation(target.c_str(), 0);
    link->SetWorkingDirectory(g_setup.installFolder.c_str());
    hr = link.As(&file);
  }
  if (SUCCEEDED(hr)) hr = file->Save(linkPath.c_str(), TRUE);
  if (FAILED(hr)) LogLine(L"No pude crear %ls: 0x%08x", linkPath.c_str(), static_cast<unsigned>(hr));
  return SUCCEEDED(hr);
}

void StartInstalledProgram(const std::wstring& programPath) {
  // Through the shell, so the program starts as the user rather than as
  // this elevated installer.
  std::wstring quoted = L"\"" + programPath + L"\"";
  auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", L"explorer.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL));
  if (result <= 32) LogLine(L"No pude abrir Orvane (%ld)", static_cast<long>(result));
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void DeleteNowOrAtRestart(const std::wstring& path, bool folder) {
  if (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) return;
  DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
  if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogLine(L"%ls se borra al reiniciar (%lu)", path.c_str(), error);
  } else {
    LogLine(L"No pude borrar %ls (%lu) ni dejarlo para el reinicio (%lu)", path.c_str(), error, GetLastError());
  }
}
