#pragma once
// The installer's process-wide state and its steps, shared by install and
// uninstall.
#include <windows.h>

#include <cstdio>
#include <string>

struct SetupState {
  bool simulate = false;
  bool silent = false;
  bool startWithWindows = false;
  bool uninstall = false;
  std::wstring installFolder;
  std::wstring desktopFolder;
  std::wstring startMenuFolder;
  HKEY registryRoot = HKEY_LOCAL_MACHINE;
  std::wstring uninstallKey;
  std::wstring runKey;
  FILE* log = nullptr;
};

extern SetupState g_setup;

inline constexpr int kProgramResource = 101;
inline constexpr int kCameraDllResource = 102;
inline constexpr int kIconResource = 1;

// setup_log_win.cpp. Lines go out as UTF-8, one per call, flushed at once;
// without an open log nothing happens. Strings are passed as %ls.
void OpenLog(const std::wstring& path);
void CloseLog();
void LogLine(const wchar_t* format, ...);

// install_win.cpp. The error text is set only when the install stops.
[[nodiscard]] bool Install(std::wstring* error);
[[nodiscard]] bool WriteResource(int id, const std::wstring& path);
// After a failed install: an uninstall entry left by an earlier install
// goes only when the uninstaller it names is gone.
void DropEntryWithMissingFiles();

// uninstall_win.cpp
void UninstallSequence();
// The program or the camera DLL is in the folder: it holds an install.
bool HoldsInstall(const std::wstring& folder);

// system_win.cpp: what reaches beyond our own files and keys.
void CloseRunningProgram();
// Loads the camera DLL and calls one of its registration exports.
HRESULT CallCameraDll(const std::wstring& path, const char* exportName);
[[nodiscard]] bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target,
                                  const std::wstring& arguments, const std::wstring& description);
void StartInstalledProgram(const std::wstring& programPath);
// Deletes a file or an empty folder now, or else at the next restart.
void DeleteNowOrAtRestart(const std::wstring& path, bool folder);
// Whether a regular file (not a folder) is at the path.
bool FileExists(const std::wstring& path);
