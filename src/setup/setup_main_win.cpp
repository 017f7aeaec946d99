// Orvane-Setup.exe: installs the program and the camera DLL it carries, or
// with "/desinstalar" removes them again. "/simular <folder>" keeps every
// file and key it writes inside that folder and the current user's registry.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <string>
#include <utility>
#include <vector>

#include "setup_logic.h"
#include "setup_win.h"

SetupState g_setup;

namespace {

constexpr int kExitDone = 0;
constexpr int kExitCancelled = 1;
constexpr int kExitFailed = 2;
constexpr int kInstallButton = 1;

// Known folders that could not be read, logged once the log is open.
std::vector<std::pair<const wchar_t*, HRESULT>> g_missingFolders;

std::wstring KnownFolder(REFKNOWNFOLDERID id, const wchar_t* name) {
  PWSTR path = nullptr;
  std::wstring result;
  HRESULT hr = SHGetKnownFolderPath(id, 0, nullptr, &path);
  if (SUCCEEDED(hr)) result = path;
  else g_missingFolders.emplace_back(name, hr);
  CoTaskMemFree(path);
  return result;
}

std::wstring OwnPath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

// Fills the state; returns where the log goes.
std::wstring ReadCommandLine() {
  std::vector<std::wstring> args;
  int count = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    args.assign(argv, argv + count);
    LocalFree(argv);
  }
  SetupOptions options = ParseSetupArguments(args);
  g_setup.simulate = options.simulate;
  g_setup.silent = options.silent;
  g_setup.startWithWindows = options.startWithWindows;
  g_setup.uninstall = options.uninstall;
  SetupLocations l;
  if (options.simulate) {
    l = TestLocations(options.testBase);
  } else {
    std::wstring programFiles = KnownFolder(FOLDERID_ProgramFiles, L"Program Files");
    std::wstring desktop = KnownFolder(FOLDERID_PublicDesktop, L"PublicDesktop");
    std::wstring programs = KnownFolder(FOLDERID_CommonPrograms, L"CommonPrograms");
    std::wstring appData = KnownFolder(FOLDERID_LocalAppData, L"LocalAppData");
    l = NormalLocations(programFiles, desktop, programs, appData);
  }
  g_setup.registryRoot = l.currentUserRegistry ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  g_setup.installFolder = l.installFolder;
  g_setup.desktopFolder = l.desktopFolder;
  g_setup.startMenuFolder = l.startMenuFolder;
  g_setup.uninstallKey = l.uninstallKey;
  g_setup.runKey = l.runKey;
  return l.logPath;
}

// True when the user chose "Instalar"; the check box sets start-with-Windows.
bool AskToInstall() {
  TASKDIALOG_BUTTON install{kInstallButton, L"Instalar"};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hInstance = GetModuleHandleW(nullptr);
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = L"Orvane";
  config.pszMainIcon = MAKEINTRESOURCEW(kIconResource);
  config.pszMainInstruction = L"Instalar Orvane";
  config.pszContent = L"Tu iPhone como cámara de la PC. Se instala la app y la cámara \"Orvane Cam\".";
  config.cButtons = 1;
  config.pButtons = &install;
  config.nDefaultButton = kInstallButton;
  config.pszVerificationText = L"Abrir Orvane al prender la PC";
  int button = 0;
  BOOL checked = FALSE;
  HRESULT hr = TaskDialogIndirect(&config, &button, nullptr, &checked);
  if (FAILED(hr)) {
    LogLine(L"No pude mostrar el diálogo de instalación: 0x%08x", static_cast<unsigned>(hr));
    return false;
  }
  if (button != kInstallButton) return false;
  g_setup.startWithWindows = checked != FALSE;
  return true;
}

// Looked up where Windows keeps them, as the program will.
bool HasMediaFoundation() {
  HMODULE library = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library) FreeLibrary(library);
  return library != nullptr;
}

bool HasVirtualCameras() {
  HMODULE library = LoadLibraryExW(L"mfsensorgroup.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  bool found = library && GetProcAddress(library, "MFCreateVirtualCamera");
  if (library) FreeLibrary(library);
  return found;
}

int RunInstall() {
  const std::wstring missing = MissingPlatform(HasMediaFoundation(), HasVirtualCameras());
  if (!missing.empty()) {
    LogLine(L"ERROR: %ls", missing.c_str());
    if (!g_setup.silent) MessageBoxW(nullptr, missing.c_str(), L"Orvane", MB_ICONERROR);
    return kExitFailed;
  }
  if (!g_setup.silent && !AskToInstall()) return kExitCancelled;
  std::wstring error;
  if (!Install(&error)) {
    LogLine(L"ERROR: %ls", error.c_str());
    DropEntryWithMissingFiles();
    if (!g_setup.silent) MessageBoxW(nullptr, error.c_str(), L"Orvane", MB_ICONERROR);
    return kExitFailed;
  }
  LogLine(L"Instalación terminada");
  if (!g_setup.simulate && !g_setup.silent) StartInstalledProgram(PathsIn(g_setup.installFolder).program);
  return kExitDone;
}

int RunUninstall() {
  if (!g_setup.simulate) {
    // A stray copy of the uninstaller (downloads, a drive's root) must not
    // take its folder for the install: the normal folder is used then.
    std::wstring own = UninstallFolder(OwnPath(), g_setup.installFolder);
    if (own != g_setup.installFolder && HoldsInstall(own)) g_setup.installFolder = own;
  }
  if (g_setup.installFolder.empty()) {
    LogLine(L"ERROR: no sé en qué carpeta está Orvane: no quito nada");
    if (!g_setup.silent) MessageBoxW(nullptr, L"No se encontró la carpeta de Orvane.", L"Orvane", MB_ICONERROR);
    return kExitFailed;
  }
  if (!g_setup.silent && MessageBoxW(nullptr, L"¿Quitar Orvane y la cámara Orvane Cam de esta PC?", L"Orvane",
                                     MB_ICONQUESTION | MB_YESNO) != IDYES) {
    return kExitCancelled;
  }
  UninstallSequence();
  if (!g_setup.silent) MessageBoxW(nullptr, L"Orvane se quitó de esta PC.", L"Orvane", MB_ICONINFORMATION);
  return kExitDone;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Run elevated from a downloads folder: a DLL planted beside the
  // installer must never be loaded in its place of a system one.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  std::wstring logPath = ReadCommandLine();
  if (!logPath.empty()) OpenLog(logPath);
  if (FAILED(com)) LogLine(L"COM: 0x%08x", static_cast<unsigned>(com));
  for (const auto& [name, hr] : g_missingFolders) {
    LogLine(L"No pude leer la carpeta %ls: 0x%08x", name, static_cast<unsigned>(hr));
  }

  int code = g_setup.uninstall ? RunUninstall() : RunInstall();

  CloseLog();
  if (SUCCEEDED(com)) CoUninitialize();
  return code;
}
