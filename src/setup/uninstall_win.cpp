// The uninstall sequence. No step stops it: what cannot go at once goes at
// the next restart, and the rest is only logged.
#include "firewall_win.h"
#include "setup_logic.h"
#include "setup_win.h"

namespace {

void DeleteShortcut(const std::wstring& folder) {
  if (folder.empty()) return;
  std::wstring path = folder + L"\\Orvane.lnk";
  if (DeleteFileW(path.c_str())) return;
  DWORD error = GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    LogLine(L"No pude borrar %ls (%lu)", path.c_str(), error);
  }
}

void DeleteRunValue() {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExW(g_setup.registryRoot, g_setup.runKey.c_str(), 0, KEY_WRITE, &key);
  if (status == ERROR_SUCCESS) {
    status = RegDeleteValueW(key, kRunValueName);
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    LogLine(L"No pude quitar el valor Orvane de %ls (%ld)", g_setup.runKey.c_str(), static_cast<long>(status));
  }
}

}  // namespace

bool HoldsInstall(const std::wstring& folder) {
  const InstallPaths paths = PathsIn(folder);
  return !folder.empty() && (FileExists(paths.program) || FileExists(paths.cameraDll));
}

void UninstallSequence() {
  InstallPaths paths = PathsIn(g_setup.installFolder);
  // Only a folder that holds an install is removed, however it was found.
  const bool removeFolder = HoldsInstall(g_setup.installFolder);
  LogLine(L"Desinstalando de %ls", g_setup.installFolder.c_str());
  CloseRunningProgram();
  if (!g_setup.simulate) {
    HRESULT hr = CallCameraDll(paths.cameraDll, "DllUnregisterServer");
    LogLine(L"Cámara quitada: 0x%08x", static_cast<unsigned>(hr));
    hr = FirewallRule(false, paths.program);
    LogLine(L"Firewall: 0x%08x", static_cast<unsigned>(hr));
  }
  DeleteShortcut(g_setup.desktopFolder);
  DeleteShortcut(g_setup.startMenuFolder);
  DeleteRunValue();
  LSTATUS status = RegDeleteTreeW(g_setup.registryRoot, g_setup.uninstallKey.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    LogLine(L"No pude quitar la clave %ls (%ld)", g_setup.uninstallKey.c_str(), static_cast<long>(status));
  }
  DeleteNowOrAtRestart(paths.program, false);
  DeleteNowOrAtRestart(paths.cameraDll, false);
  // The running uninstaller itself, in the normal case: it goes at restart.
  DeleteNowOrAtRestart(paths.uninstaller, false);
  if (removeFolder) {
    DeleteNowOrAtRestart(g_setup.installFolder, true);
  } else {
    LogLine(L"%ls no tiene una instalación de Orvane: la carpeta queda", g_setup.installFolder.c_str());
  }
  LogLine(L"Listo");
}
