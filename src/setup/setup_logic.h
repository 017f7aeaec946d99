#pragma once
// The installer's decisions that need no Windows: its command line, where
// everything goes, and the texts and values it writes. Paths use
// backslashes; nothing here touches a file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SetupOptions {
  bool simulate = false;
  bool silent = false;
  bool startWithWindows = false;
  bool uninstall = false;
  std::wstring testBase;  // the folder after "/simular"
};

// args[0] is the program and is skipped. Each argument is compared whole and
// case-sensitively; unknown ones are ignored. "/simular" takes the next
// argument as its folder and is ignored when nothing follows it.
SetupOptions ParseSetupArguments(const std::vector<std::wstring>& args);

struct SetupLocations {
  bool currentUserRegistry = false;  // test mode keeps out of the machine's registry
  std::wstring installFolder;
  std::wstring desktopFolder;
  std::wstring startMenuFolder;
  std::wstring uninstallKey;
  std::wstring runKey;
  std::wstring logPath;
};

inline constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane";
inline constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kTestUninstallKey[] = L"Software\\OrvanePrueba\\Uninstall";
inline constexpr wchar_t kTestRunKey[] = L"Software\\OrvanePrueba\\Run";
inline constexpr wchar_t kRunValueName[] = L"Orvane";
inline constexpr wchar_t kDisplayVersion[] = L"1.2.0";
inline constexpr wchar_t kProductAddress[] = L"https://orvane.app";
inline constexpr wchar_t kShortcutDescription[] = L"Usá tu iPhone como cámara de la PC";

// Everything under one scratch folder and the current user's registry; an
// empty base gives no folders and no log.
SetupLocations TestLocations(const std::wstring& base);
// From the known folders: Program Files, the public desktop, the common
// start-menu programs and the local application data. A folder Windows
// could not give (empty) leaves what depends on it empty.
SetupLocations NormalLocations(const std::wstring& programFiles, const std::wstring& publicDesktop,
                               const std::wstring& commonPrograms, const std::wstring& localAppData);

struct InstallPaths {
  std::wstring program;
  std::wstring cameraDll;
  std::wstring uninstaller;
};
InstallPaths PathsIn(const std::wstring& installFolder);

// The path cut before its last backslash; the whole path when it has none.
std::wstring FolderOf(const std::wstring& path);

// The folder an uninstall removes. The installed copy ("desinstalar.exe")
// removes the folder it runs from, wherever that is; the downloaded setup
// run with "/desinstalar" removes the normal install folder rather than the
// folder it was downloaded to.
std::wstring UninstallFolder(const std::wstring& runningPath, const std::wstring& normalFolder);

// The program a command runs: the quoted path at its start, or the text up
// to the first space; empty when a quote is never closed.
std::wstring ProgramOfCommand(const std::wstring& command);

// Why this Windows cannot run the camera; empty when it can. Without Media
// Foundation (N editions without the Media Feature Pack) the program cannot
// even start; without MFCreateVirtualCamera (before Windows 11) there is no
// camera to make. Either way nothing is installed.
std::wstring MissingPlatform(bool mediaFoundation, bool virtualCamera);

// Running copies closed before giving up: each round closes one copy.
inline constexpr int kMaxCloseRounds = 8;

// Closing one running copy: closed, could not be opened at all, or still
// running after being asked and terminated.
enum class CloseResult { kClosed, kNotOpened, kNotEnded };
enum class CloseStop { kNoneLeft, kNotOpened, kStillOpen };
struct CloseOutcome {
  CloseStop stop = CloseStop::kNoneLeft;
  uint32_t pid = 0;  // the copy still running, unless none is left
};
// Closes the running copies one after the other: `nextCopy` gives the
// process of a running copy (0 when none is left), `close` closes it. Stops
// at a copy that cannot be opened, at a copy seen again right after it was
// closed, and after kMaxCloseRounds copies, so copies that keep coming back
// in turn cannot hold the setup forever.
CloseOutcome CloseRunningCopies(const std::function<uint32_t()>& nextCopy,
                                const std::function<CloseResult(uint32_t)>& close);

// "\"<program>\" --oculta": the start-with-Windows command.
std::wstring RunCommand(const std::wstring& program);

struct RegistryValue {
  std::wstring name;
  bool isNumber = false;
  std::wstring text;
  uint32_t number = 0;
};
// The values of the uninstall entry, in the order they are written.
// `uninstaller` is the program the entry runs with "/desinstalar".
std::vector<RegistryValue> UninstallEntry(const InstallPaths& paths, const std::wstring& installFolder,
                                          const std::wstring& uninstaller);
