// The install sequence and what it writes: the files from our resources,
// the uninstaller, shortcuts, the start-with-Windows value and the
// uninstall entry.
#include <windows.h>
#include <shlobj.h>

#include "../common/win_handles.h"
#include "firewall_win.h"
#include "setup_logic.h"
#include "setup_win.h"

namespace {

struct Resource {
  const void* data = nullptr;
  DWORD size = 0;
};

Resource FindOwnResource(int id) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) return {};
  return {LockResource(loaded), SizeofResource(nullptr, found)};
}

// A file that cannot be deleted is usually a program still running from it:
// Windows lets it be renamed, so it goes aside and away at the next restart.
void MoveAsideIfInUse(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES || DeleteFileW(path.c_str())) return;
  DWORD inUse = GetLastError();
  std::wstring old = path + L".viejo";
  DeleteFileW(old.c_str());
  if (!MoveFileExW(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    LogLine(L"No pude borrar %ls (%lu) ni apartarlo (%lu)", path.c_str(), inUse, GetLastError());
    return;
  }
  if (MoveFileExW(old.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogLine(L"%ls estaba en uso (%lu): quedó como %ls y se borra al reiniciar", path.c_str(), inUse, old.c_str());
  } else {
    LogLine(L"%ls estaba en uso (%lu): quedó como %ls, no lo pude dejar para el reinicio (%lu)", path.c_str(), inUse,
            old.c_str(), GetLastError());
  }
}

void CreateFolder(const std::wstring& folder) {
  if (folder.empty()) return;
  int result = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (result != ERROR_SUCCESS && result != ERROR_ALREADY_EXISTS && result != ERROR_FILE_EXISTS) {
    LogLine(L"No pude crear la carpeta %ls (%d)", folder.c_str(), result);
  }
}

LSTATUS SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

HKEY CreateKey(const std::wstring& path) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(g_setup.registryRoot, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                   nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) return key;
  LogLine(L"No pude abrir la clave %ls (%ld)", path.c_str(), static_cast<long>(status));
  return nullptr;
}

void WriteRunValue(const std::wstring& program) {
  HKEY key = CreateKey(g_setup.runKey);
  if (!key) return;
  LSTATUS status = g_setup.startWithWindows ? SetText(key, kRunValueName, RunCommand(program))
                                            : RegDeleteValueW(key, kRunValueName);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    LogLine(L"No pude cambiar el valor Orvane de %ls (%ld)", g_setup.runKey.c_str(), static_cast<long>(status));
  }
  LogLine(L"Abrir al iniciar Windows: %ls", g_setup.startWithWindows ? L"sí" : L"no");
}

// False when Windows' settings could not offer to uninstall.
bool WriteUninstallEntry(const InstallPaths& paths, const std::wstring& uninstaller) {
  HKEY key = CreateKey(g_setup.uninstallKey);
  if (!key) return false;
  bool written = true;
  for (const RegistryValue& value : UninstallEntry(paths, g_setup.installFolder, uninstaller)) {
    DWORD number = value.number;
    LSTATUS status = value.isNumber ? RegSetValueExW(key, value.name.c_str(), 0, REG_DWORD,
                                                     reinterpret_cast<const BYTE*>(&number), sizeof number)
                                    : SetText(key, value.name.c_str(), value.text);
    if (status != ERROR_SUCCESS) {
      LogLine(L"No pude escribir %ls en %ls (%ld)", value.name.c_str(), g_setup.uninstallKey.c_str(),
              static_cast<long>(status));
      written = false;
    }
  }
  RegCloseKey(key);
  if (written) LogLine(L"Agregado a \"Agregar o quitar programas\"");
  return written;
}

// The uninstaller the entry runs: the copy in the install folder, or, when
// it could not be copied, this installer itself ("/desinstalar" finds the
// install folder from anywhere). Empty when neither is known.
std::wstring CopyUninstaller(const InstallPaths& paths) {
  wchar_t own[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    LogLine(L"No pude copiar el desinstalador: no sé dónde está este instalador (%lu)",
            length ? static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER) : GetLastError());
    return {};
  }
  if (CopyFileW(own, paths.uninstaller.c_str(), FALSE)) return paths.uninstaller;
  LogLine(L"No pude copiar el desinstalador (%lu): \"Agregar o quitar programas\" usará este instalador, %ls",
          GetLastError(), own);
  return own;
}

}  // namespace

bool WriteResource(int id, const std::wstring& path) {
  Resource resource = FindOwnResource(id);
  if (!resource.data || resource.size == 0) {
    LogLine(L"Falta el recurso %d", id);
    return false;
  }
  MoveAsideIfInUse(path);
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogLine(L"No pude crear %ls (%lu)", path.c_str(), GetLastError());
    return false;
  }
  DWORD written = 0;
  BOOL ok = WriteFile(file.Get(), resource.data, resource.size, &written, nullptr);
  DWORD error = GetLastError();
  file.Reset();
  if (!ok || written != resource.size) {
    LogLine(L"No pude escribir %ls (%lu, %lu de %lu bytes)", path.c_str(), ok ? 0ul : error, written, resource.size);
    return false;
  }
  return true;
}

bool Install(std::wstring* error) {
  if (g_setup.installFolder.empty()) {
    *error = L"No pude copiar Orvane.exe en la carpeta de programas";
    return false;
  }
  InstallPaths paths = PathsIn(g_setup.installFolder);
  LogLine(L"Instalando en %ls", g_setup.installFolder.c_str());
  CloseRunningProgram();
  CreateFolder(g_setup.installFolder);

  if (!WriteResource(kProgramResource, paths.program)) {
    *error = L"No pude copiar Orvane.exe en " + g_setup.installFolder;
    return false;
  }
  if (!WriteResource(kCameraDllResource, paths.cameraDll)) {
    *error = L"No pude copiar OrvaneCam.dll en " + g_setup.installFolder;
    return false;
  }
  const std::wstring uninstaller = CopyUninstaller(paths);
  if (uninstaller.empty()) {
    *error = L"No pude copiar el desinstalador en " + g_setup.installFolder;
    return false;
  }
  LogLine(L"Archivos copiados");

  if (g_setup.simulate) {
    LogLine(L"[simulado] registraría la cámara: %ls", paths.cameraDll.c_str());
    LogLine(L"[simulado] abriría el Firewall (red privada, TCP 47800-47809) para %ls", paths.program.c_str());
  } else {
    HRESULT hr = CallCameraDll(paths.cameraDll, "DllRegisterServer");
    LogLine(L"Cámara Orvane Cam registrada: 0x%08x", static_cast<unsigned>(hr));
    if (FAILED(hr)) {
      *error = L"No pude registrar la cámara Orvane Cam.";
      return false;
    }
    hr = FirewallRule(true, paths.program);
    LogLine(L"Regla del Firewall: 0x%08x", static_cast<unsigned>(hr));
  }

  CreateFolder(g_setup.desktopFolder);
  CreateFolder(g_setup.startMenuFolder);
  bool desktop = !g_setup.desktopFolder.empty() &&
                 CreateShortcut(g_setup.desktopFolder + L"\\Orvane.lnk", paths.program, L"", kShortcutDescription);
  bool startMenu = !g_setup.startMenuFolder.empty() && CreateShortcut(g_setup.startMenuFolder + L"\\Orvane.lnk",
                                                                      paths.program, L"", kShortcutDescription);
  LogLine(L"Accesos directos: escritorio=%d menú=%d", desktop ? 1 : 0, startMenu ? 1 : 0);

  WriteRunValue(paths.program);
  if (!WriteUninstallEntry(paths, uninstaller)) {
    *error = L"No pude agregar Orvane a \"Agregar o quitar programas\": no se podría quitar desde Configuración";
    return false;
  }
  return true;
}

void DropEntryWithMissingFiles() {
  // Judged by the uninstaller the entry itself names, never by a folder.
  wchar_t command[2 * MAX_PATH];
  DWORD size = sizeof command;
  if (RegGetValueW(g_setup.registryRoot, g_setup.uninstallKey.c_str(), L"UninstallString", RRF_RT_REG_SZ, nullptr,
                   command, &size) != ERROR_SUCCESS) {
    return;
  }
  const std::wstring uninstaller = ProgramOfCommand(command);
  if (uninstaller.empty() || FileExists(uninstaller)) return;
  LSTATUS status = RegDeleteTreeW(g_setup.registryRoot, g_setup.uninstallKey.c_str());
  LogLine(L"Faltan archivos de la instalación anterior: quité su entrada de \"Agregar o quitar programas\" (%ld)",
          static_cast<long>(status));
}
